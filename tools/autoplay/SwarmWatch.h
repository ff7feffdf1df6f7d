#pragma once
// Where each swimmer came from, learned by watching the swarm from outside between ticks. The
// script releases a row in the very tick it reads it, so a swimmer that turns up in a slot (or is
// put back to the left edge) comes from the row just before the formation pointer; the formation
// is the nearest "DefineFormation" line above that row. Watching instead of asking the swarm keeps
// the game's code free of bookkeeping that only a measuring tool wants.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zx {

class TSpermien;

struct TSwimmerOrigin {
    int Formation = 0;       // N of "DefineFormationN"; 0 when not known
    int Occurrence = 0;      // which start of a formation in this game (1 for the first)
    int Row = 0;             // row within the formation, from 1
    int64_t StartTick = -1;  // tick of play at which that formation began
    int Kind = 0;            // swimmer kind 1..6

    // "formation 9 (from 74.0 s)": the start is counted from the first tick of play.
    std::string Label() const;
};

class TSwarmWatch {
public:
    // After every tick, with the ticks of play so far. A slot is watched from the first call on.
    void Observe(const TSpermien& swarm, int64_t tick);
    void Reset();

    const TSwimmerOrigin& Origin(int slot) const {
        return slots_[static_cast<size_t>(slot)].Origin;
    }
    // Fatal swimmers that got through since the last Observe, with where they came from.
    const std::vector<TSwimmerOrigin>& FatalEscapes() const { return fatalEscapes_; }

private:
    struct Slot {
        bool Present = false;  // active, or waiting for its appear delay
        bool Escaped = false;
        float X = 0.0f;
        TSwimmerOrigin Origin;
    };
    std::array<Slot, 51> slots_{};
    std::vector<TSwimmerOrigin> fatalEscapes_;
    int formationPointer_ = -1;
    int occurrence_ = 0;
    int64_t startTick_ = -1;
};

}  // namespace zx
