#pragma once
// What the level the game is played on allows: how many swimmers of each kind it can send and
// when each of them can arrive at the earliest. Read from the plain text of the level file the
// game is shipped with; the server checks published statistics against it.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zx::rules {

struct TLevelLimits {
    // Kinds 1..6 (index 0 unused): the ticks of play at which the level's swimmers of that kind
    // are released, in order, as if every cell came (a probability below 1 only drops cells).
    std::array<std::vector<int32_t>, 7> Arrivals;

    int32_t MaxSpawned(size_t kind) const { return static_cast<int32_t>(Arrivals[kind].size()); }
    // The tick at which the n-th swimmer of a kind (n from 1) arrives at the earliest.
    int32_t ArrivalOf(size_t kind, int32_t n) const {
        return n <= 0 ? 0 : Arrivals[kind][static_cast<size_t>(n - 1)];
    }
    // Every swimmer caught early, and the win bonus.
    int64_t MaxScore() const;
};

// From the level's plain text (one command per line, as the game reads it). Throws
// std::runtime_error when no swimmer at all can come, which no playable level is.
TLevelLimits ReadLevelLimits(std::string_view text);
// The same from a file.
TLevelLimits LoadLevelLimits(const std::string& path);

}  // namespace zx::rules
