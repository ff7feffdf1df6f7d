#include "game/RohrUnit.h"

#include <algorithm>

#include "display/frmDDFullScreen.h"
#include "game/BubblepointUnit.h"
#include "game/GameGlobals.h"
#include "game/SchussUnit.h"
#include "game/scoreunit.h"
#include "sprites/qvDSound.h"
#include "surface/DDUtils.h"

namespace zx {

namespace {

constexpr float kDepth = 800.0f;

bool GameLost() { return Anzeige && Anzeige->Lost; }

bool TorpedoArmed() { return Anzeige && Anzeige->TorpedoArmed; }

// The indicator also books the value on the score.
void BookCost(int32_t value, float z, float y, float x) {
    if (Bubblpoints) Bubblpoints->Show(value, z, y, x);
}

}  // namespace

TRohr::TRohr() {
    AddPartByName("Rohr", 0, 0, 0, 0);
    SetX(kCannonHomeX);
    SetY(0);
    SetZ(-kDepth);
    TargetX = kCannonHomeX, TargetY = 0, TargetZ = -kDepth;
    ThrustX = ThrustY = ThrustZ = 0;
    VelX = VelY = VelZ = 0;
    SpringDiv = 30.0f;
    Damping = 1.1f;
    SetVisible(false);
    if (DSound) emptySound_ = DSound->FindWave("leer");
}

void TRohr::Update() {
    Animate();
    if (!Visible || !GameScreen) return;
    const float y =
        std::clamp(static_cast<float>(GameScreen->MouseY - 300), -kCannonRange, kCannonRange);
    SetY(y);
    TargetY = y;
    if (PendingShots <= 0) return;
    if (GameLost()) {
        if (emptySound_) {
            emptySound_->SetPan(StereoPan(X, Z));
            emptySound_->Play();
        }
    } else {
        const bool torpedo = TorpedoArmed();
        const float muzzle = X - Parts[1].Bob->Width / 2.0f + 10.0f;
        // A full pool launches nothing, but the shot is still paid for.
        if (Schuesse) Schuesse->Fire(Z, Y, muzzle);
        BookCost(torpedo ? kTorpedoShotCost : kCondomShotCost, Z, Y, muzzle - 50.0f);
        Parts[1].Bob->RestartAnimation(1);
        Parts[1].Bob->SetNextAnim(0);
        SetX(X + kCannonRecoil);
        TargetX = kCannonHomeX;
    }
    --PendingShots;
}

TRohre::~TRohre() = default;

void TRohre::AddCannon() {
    if (!Cannon) Cannon = std::make_unique<TRohr>();
}

void TRohre::Step() {
    if (!Cannon) return;
    if (Cannon->Visible) {
        Cannon->ApplySpring();
        Cannon->MoveStep();
    }
    Cannon->Update();
}

void TRohre::Show() {
    if (Cannon) Cannon->SetVisible(true);
}

void TRohre::Hide() {
    if (Cannon) Cannon->SetVisible(false);
}

void TRohre::ShowEmpty() {
    if (Cannon) Cannon->Parts[1].Bob->RestartAnimation(1);
}

}  // namespace zx
