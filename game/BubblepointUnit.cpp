#include "game/BubblepointUnit.h"

#include "game/GameGlobals.h"
#include "support/Random.h"

#include "game/scoreunit.h"

namespace zx {

namespace {

constexpr float kDepth = 800.0f;

// The score lives in the HUD's score display; without a HUD (title tests) the indicator alone
// shows the value.
void BookOnScore(TAnzeige* hud, int value) {
    if (hud) hud->AddPoints(value);
}

}  // namespace

int PointsFrame(int value) {
    if (value != 0 && value % 10 == 0 && value >= -250 && value <= 250)
        return value < 0 ? value / 10 + 25 : value / 10 + 24;
    return value == 500 ? 50 : 25;
}

TBubblepoint::TBubblepoint() {
    AddPartByName("points", 0, 0, 0, 0);
    Parts[1].Bob->ScreenSpace = true;
    SetX(0);
    SetY(0);
    SetZ(-kDepth);
    TargetX = 0, TargetY = 0, TargetZ = -kDepth;
    SetVisible(false);
    ThrustX = ThrustY = ThrustZ = 0;
    VelX = VelY = VelZ = 0;
    SpringDiv = 200000.0f;
    Damping = 1.5f;
    WobbleDiv = 200.0f;
}

void TBubblepoint::Start(int value, float z, float y, float x) {
    Life = 50;
    SetX(x);
    SetY(y);
    SetZ(z + 20.0f);
    TBob* b = Parts[1].Bob;
    b->FramePos = static_cast<uint16_t>(PointsFrame(value));
    b->FrameTicks = 0;
    b->Alpha = 255;
    SetVisible(true);
    TargetX = 100000.0f;
    TargetY = -100000.0f;
    TargetZ = Z;
    WobbleX = static_cast<float>((RandReal() - 0.5) * 10.0);
    WobbleVelX = static_cast<float>((RandReal() - 0.5) * 10.0 / 200.0);
    WobbleY = WobbleZ = 0;
    WobbleVelY = WobbleVelZ = 0;
    WobbleAccX = WobbleAccY = WobbleAccZ = 0;
}

void TBubblepoint::Update() {
    Animate();
    if (!Visible) return;
    --Life;
    if (Life < 16) Parts[1].Bob->Alpha = static_cast<uint8_t>(Life > 0 ? Life * 16 : 0);
    if (Life <= 0 || Y < -350.0f) SetVisible(false);
}

void TBubblpoints::AddIndicator() {
    if (!Indicator.Full()) Indicator.Add(std::make_unique<TBubblepoint>());
}

void TBubblpoints::Show(int value, float z, float y, float x) {
    BookOnScore(Anzeige, value);
    for (auto& p : Indicator)
        if (!p->Visible) {
            p->Start(value, z, y, x);
            return;
        }
}

void TBubblpoints::Step() {
    for (auto& p : Indicator) {
        if (p->Visible) p->ApplySpring();
        p->MoveStep();
        p->Update();
    }
}

int TBubblpoints::ActiveCount() const {
    int n = 0;
    for (const auto& p : Indicator) n += p->Visible ? 1 : 0;
    return n;
}

}  // namespace zx
