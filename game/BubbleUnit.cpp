#include "game/BubbleUnit.h"

#include <string>

#include "game/GameRecords.h"
#include "sprites/SpriteDefs.h"
#include "support/Random.h"

namespace zx {

namespace {

constexpr float kDepth = 800.0f;

// Sprite numbers of "P1".."P8", looked up once per level so that a spawn never searches.
std::array<int, 9> gSizes{};

void LookUpSizes() {
    for (int i = 1; i <= 8; ++i)
        gSizes[static_cast<size_t>(i)] = FindSprite("P" + std::to_string(i));
}

}  // namespace

TBubble::TBubble() {
    AddPartByName("P1", 0, 0, 0, 0);
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

void TBubble::Start(int kind, float z, float y, float x) {
    if (kind < 1) kind = 1;
    if (kind > 8) kind = 8;
    if (gSizes[1] == 0) LookUpSizes();
    SetX(x);
    SetY(y);
    SetZ(z);
    Parts[1].Bob->SetSpriteAnimation(gSizes[static_cast<size_t>(kind + RandInt(9 - kind))], 0);
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

void TBubble::Update() {
    Animate();
    if (Visible) {
        if (Y < -350.0f || RandReal() < 0.003) SetVisible(false);
    } else if (RandReal() < 0.0001 && RandInt(100) + 1 <= EnvData.BubblePercent) {
        Start(1, static_cast<float>(2.0 * RandReal()) - kDepth - 1.0f, 350.0f,
              static_cast<float>(RandInt(800) - 400));
    }
}

TBubbles::TBubbles() { LookUpSizes(); }

void TBubbles::AddBubble() {
    if (EnvData.BubblePercent == 0 || Bubble.Full()) return;
    Bubble.Add(std::make_unique<TBubble>());
}

void TBubbles::Spawn(int kind, float z, float y, float x) {
    if (RandInt(100) + 1 > EnvData.BubblePercent) return;
    for (auto& b : Bubble)
        if (!b->Visible) {
            b->Start(kind, z, y, x);
            return;
        }
}

void TBubbles::Step() {
    for (auto& b : Bubble) {
        if (b->Visible) b->ApplySpring();
        b->MoveStep();
        b->Update();
    }
}

void TBubbles::ClearAll() {
    for (auto& b : Bubble) b->SetVisible(false);
}

int TBubbles::ActiveCount() const {
    int n = 0;
    for (const auto& b : Bubble) n += b->Visible ? 1 : 0;
    return n;
}

}  // namespace zx
