#include "tools/autoplay/SwarmWatch.h"

#include <cstdio>
#include <cstdlib>

#include "game/SpermUnit.h"
#include "tools/autoplay/GameDriver.h"

namespace zx {

namespace {

// A swimmer only ever swims right; a slot whose swimmer is suddenly this far left holds a new one.
constexpr float kRespawnJump = 50.0f;

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= s.size()) return false;
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::string TSwimmerOrigin::Label() const {
    if (Formation == 0) return "outside any formation";
    char text[80];
    std::snprintf(text, sizeof text, "formation %d at %.0f s", Formation,
                  static_cast<double>(StartTick - kRunInTicks) / kTicksPerSecond);
    return text;
}

void TSwarmWatch::Reset() {
    slots_ = {};
    fatalEscapes_.clear();
    formationPointer_ = -1;
    occurrence_ = 0;
    startTick_ = -1;
}

void TSwarmWatch::Observe(const TSpermien& swarm, int64_t tick) {
    fatalEscapes_.clear();
    const int pointer = swarm.FormationPointer;
    if (pointer != -1 && formationPointer_ == -1) {
        ++occurrence_;
        startTick_ = tick;
    }
    formationPointer_ = pointer;

    // The row just read and its formation, if a formation runs.
    TSwimmerOrigin here;
    if (pointer > 0 && pointer <= static_cast<int>(swarm.Lines.size())) {
        for (int i = pointer - 1; i >= 0; --i) {
            const std::string& line = swarm.Lines[static_cast<size_t>(i)];
            if (!StartsWithNoCase(line, "defineformation")) continue;
            here.Formation = std::atoi(line.c_str() + 15);
            here.Row = pointer - 1 - i;
            here.Occurrence = occurrence_;
            here.StartTick = startTick_;
            break;
        }
    }

    for (int i = 1; i <= swarm.Sperm.Count() && i < static_cast<int>(slots_.size()); ++i) {
        const TSperm& s = *swarm.Sperm[i];
        Slot& slot = slots_[static_cast<size_t>(i)];
        const bool present = s.Visible || s.AppearDelay > 0;
        const bool fresh = present && (!slot.Present || (s.Visible && s.X < slot.X - kRespawnJump));
        if (fresh) {
            slot.Origin = here;
            slot.Origin.Kind = s.Kind;
            slot.Escaped = s.Escaped;
        }
        if (present && s.Escaped && !slot.Escaped && s.Fatal && !s.Hit)
            fatalEscapes_.push_back(slot.Origin);
        slot.Present = present;
        slot.Escaped = s.Escaped;
        slot.X = s.X;
    }
}

}  // namespace zx
