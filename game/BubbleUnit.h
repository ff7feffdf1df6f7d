#pragma once
// Bubbles: a pool of decorative particles that rise from the bottom on their own, trail behind
// swimmers and torpedoes and burst out of a torpedoed swimmer. How many show follows the
// "Bubbles" setting (EnvData.BubblePercent, 0..100).
#include <array>
#include <cstdint>
#include <memory>

#include "sprites/BobUnit.h"
#include "sprites/Pool.h"

namespace zx {

class TBubble : public TRBob {
public:
    // One part, "P1"; inactive at (0, 0, -D) and at rest.
    TBubble();

    // kind 1..8: the sprite is "P" + a size from kind to 8 (8 the smallest).
    void Start(int kind, float z, float y, float x);
    void Update();
};

class TBubbles {
public:
    static constexpr int MaxBubbles = 300;

    TBubbles();
    TBubbles(const TBubbles&) = delete;
    TBubbles& operator=(const TBubbles&) = delete;

    // Adds one bubble in the next slot; at a "Bubbles" setting of 0 the pool stays empty, and a
    // full pool ignores the call.
    void AddBubble();
    // Starts the first inactive bubble, with a chance of the "Bubbles" setting in percent.
    void Spawn(int kind, float z, float y, float x);
    void Step();
    void ClearAll();
    int ActiveCount() const;

    TPool<std::unique_ptr<TBubble>, MaxBubbles> Bubble;
};

}  // namespace zx
