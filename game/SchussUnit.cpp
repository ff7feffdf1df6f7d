#include "game/SchussUnit.h"

#include "game/BubbleUnit.h"
#include "game/BubblepointUnit.h"
#include "game/GameGlobals.h"
#include "game/SpermUnit.h"
#include "game/scoreunit.h"
#include "platform/DisplayState.h"
#include "sprites/SpriteDefs.h"
#include "sprites/qvDSound.h"
#include "support/Random.h"
#include "surface/DDUtils.h"

namespace zx {

namespace {

constexpr float kDepth = 800.0f;
// Both kinds start 20 motion steps into their flight, near cruising speed.
constexpr int kRunUpSteps = 20;
constexpr float kBand = 800.0f;

TqvDSoundFile* Wave(const char* name) { return DSound ? DSound->FindWave(name) : nullptr; }

void PlayAt(TqvDSoundFile* s, float x, float z) {
    if (!s) return;
    s->SetPan(StereoPan(x, z));
    s->Play();
}

void ShowPoints(int32_t value, float z, float y, float x) {
    if (Bubblpoints) Bubblpoints->Show(value, z, y, x);
}

}  // namespace

// ---- TSchuss ----

TSchuss::TSchuss() {
    AddPartByName("Schuss", 0, 0, 0, 0);
    AddPartByName("Abroll", 0, 0, 0, 0);
    AddPartByName("Kondom", 0, 0, 0, 0);
    Parts[2].Bob->Alpha = 165;
    Parts[3].Bob->Alpha = 165;
    schuss_ = FindSprite("schuss");
    torpedo_ = FindSprite("torpedo");
    abroll_ = FindSprite("abroll");
    kondom_ = FindSprite("kondom");
    SetZ(-kDepth);
    TargetZ = -kDepth;
    SetVisible(false);
    if (DSound) {
        RollSound = TqvDSoundFile::Duplicate(*DSound->FindWave("abroll"));
        launchSound_ = Wave("schussab");
        torpedoSound_ = Wave("Torpedo");
        bubbleizeSound_ = Wave("bubbleize");
        kindSound_[2] = Wave("bubble");
        kindSound_[3] = Wave("sperm3");
        kindSound_[4] = Wave("virus1");
        kindSound_[5] = Wave("virus2");
        kindSound_[6] = Wave("virus3");
    }
}

TSchuss::~TSchuss() = default;

void TSchuss::Launch(float z, float y, float x) {
    IsTorpedo = Anzeige && Anzeige->TorpedoArmed;
    TBob* p = Parts[1].Bob;
    // A shot that rode with a swimmer still carries the swimmer's motion: every launch starts
    // from rest, so every shot flies the same.
    VelX = VelY = VelZ = 0;
    ThrustY = ThrustZ = 0;
    if (IsTorpedo) {
        p->SetSpriteAnimation(torpedo_, 0);
        ThrustX = -2;
        if (torpedoSound_) torpedoSound_->Play();
        HalfHeight = p->Height / 2.0f * 4.0f;
        Anzeige->UseTorpedo();
        if (Spermien) ++Spermien->Torpedoes;
    } else {
        p->SetSpriteAnimation(schuss_, 0);
        ThrustX = -1;
        PlayAt(launchSound_, x, z);
        HalfHeight = p->Height / 2.0f;
        if (Spermien) ++Spermien->CondomShots;
    }
    for (int i = 0; i < kRunUpSteps; ++i) MoveStep();
    SetX(x);
    SetY(y);
    SetZ(z);
    SetVisible(true);
    Parts[2].Bob->Visible = false;
    Parts[3].Bob->Visible = false;
}

void TSchuss::Update() {
    Animate();
    if (!Visible) return;
    TBob* roll = Parts[2].Bob;
    if (!DD.TransparencyOn && CaughtIndex != -1 && roll->Visible && roll->Sprite == kondom_) {
        // Without transparency the swimmer would show through the condom: it goes once the
        // roll-off has given way to the condom.
        if (Spermien && CaughtIndex >= 1 && CaughtIndex <= Spermien->Sperm.Count())
            Spermien->Sperm[CaughtIndex]->Parts[1].Bob->Visible = false;
        CaughtIndex = -1;
    }
    if (X < -kBand || X > kBand) {
        SetVisible(false);
        return;
    }
    // A condom that has caught is only carried along.
    if (!Parts[1].Bob->Visible) return;
    if (IsTorpedo && RandReal() < 0.8 && Bubbles) Bubbles->Spawn(6, Z, Y, X + 100.0f);
    if (!Spermien) return;
    CaughtIndex = Spermien->FindTarget(Y - HalfHeight, Y + HalfHeight, X - 100.0f, X);
    if (CaughtIndex == -1) return;
    Catch(CaughtIndex);
}

void TSchuss::Catch(int32_t index) {
    TSperm& sperm = *Spermien->Sperm[index];
    if (IsTorpedo) {
        Spermien->Bubbleize(&sperm);
        PlayAt(bubbleizeSound_, X, Z);
    } else {
        Parts[1].Bob->Visible = false;
        TBob* roll = Parts[2].Bob;
        roll->Visible = true;
        roll->SetSpriteAnimation(abroll_, 0);
        roll->SetNextSpriteAnimation(kondom_, 0);
        SetX(sperm.X + sperm.Parts[1].Bob->Width / 2.0f - 120.0f);
        SetY(sperm.Y);
        SetZ(sperm.Z + 1.0f);
        VelX = sperm.VelX, VelY = sperm.VelY, VelZ = sperm.VelZ;
        ThrustX = sperm.ThrustX, ThrustY = sperm.ThrustY, ThrustZ = sperm.ThrustZ;
        const int kind = sperm.Kind;
        PlayAt(kind >= 2 && kind <= 6 ? kindSound_[static_cast<size_t>(kind)] : RollSound.get(), X,
               Z);
    }
    Spermien->MarkHit(index);
    ShowPoints(CatchPoints(sperm.PointsCode), Z - 2.0f, Y, X);
    const int k = sperm.Kind;
    if (X < kEarlyCatchX) {
        ShowPoints(kEarlyCatchBonus, Z - 2.0f, Y + 10.0f, X);
        if (k >= 1 && k <= 6) ++Spermien->CaughtEarly[k];
    } else if (k >= 1 && k <= 6) {
        ++Spermien->Caught[k];
    }
}

// ---- TSchuesse ----

TSchuesse::~TSchuesse() = default;

void TSchuesse::AddShot() {
    if (!Shot.Full()) Shot.Add(std::make_unique<TSchuss>());
}

void TSchuesse::Fire(float z, float y, float x) {
    for (auto& s : Shot)
        if (!s->Visible) {
            s->Launch(z, y, x);
            return;
        }
}

void TSchuesse::Step() {
    for (auto& s : Shot) {
        s->MoveStep();
        s->Update();
    }
}

void TSchuesse::HideAll() {
    for (auto& s : Shot) s->SetVisible(false);
}

int TSchuesse::ActiveCount() const {
    int n = 0;
    for (const auto& s : Shot) n += s->Visible ? 1 : 0;
    return n;
}

}  // namespace zx
