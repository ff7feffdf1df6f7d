#pragma once
// Points indicators: small floating numbers (+100, -50, ...) that rise from where points were
// won or spent. Showing one is how every score change of play is booked.
#include <cstdint>
#include <memory>

#include "sprites/BobUnit.h"
#include "sprites/Pool.h"

namespace zx {

class TBubblepoint : public TRBob {
public:
    // One part, "points" (drawn unscaled); inactive at (0, 0, -D).
    TBubblepoint();

    void Start(int value, float z, float y, float x);
    void Update();

    int32_t Life = 0;
};

// The frame of "points" that shows value: -250..-10 are 0..24, +10..+250 are 25..49, +500 is 50;
// any other value shows frame 25.
int PointsFrame(int value);

class TBubblpoints {
public:
    static constexpr int MaxIndicators = 100;

    TBubblpoints() = default;
    TBubblpoints(const TBubblpoints&) = delete;
    TBubblpoints& operator=(const TBubblpoints&) = delete;

    // Adds one indicator in the next slot; a full pool ignores the call.
    void AddIndicator();
    // Books value on the score and redraws it, then floats it up from (x, y, z) on the first
    // inactive indicator (none free: only the score changes).
    void Show(int value, float z, float y, float x);
    void Step();
    int ActiveCount() const;

    TPool<std::unique_ptr<TBubblepoint>, MaxIndicators> Indicator;
};

}  // namespace zx
