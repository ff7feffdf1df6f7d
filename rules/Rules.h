#pragma once
// The rules of a game, as numbers: what each kind of swimmer is worth, what a shot costs, the
// bonuses and how long a game lasts. The game plays by them and the server checks published
// scores against them, so they exist once.
#include <array>
#include <cstdint>
#include <string_view>

namespace zx::rules {

// One kind of swimmer: the word of the level's "bob" command, the code its points indicator is
// known by, the points of a catch, and whether its escape loses the game.
struct TKindRule {
    std::string_view ScriptName;
    int32_t PointsCode;
    int32_t CatchPoints;
    bool Fatal;
};

inline constexpr int kKinds = 6;
// Kinds 1..6 (index 0 unused): three sperm, three viruses.
inline constexpr std::array<TKindRule, 7> kKindRules{{
    {"", 0, 0, false},
    {"sperm1", 1, 100, false},
    {"sperm2", 5, 80, false},
    {"sperm3", 50, 500, false},
    {"virus1", 36, 120, true},
    {"virus2", 25, 160, true},
    {"virus3", 3, 250, true},
}};

inline constexpr std::array<int32_t, 7> kCatchPoints = [] {
    std::array<int32_t, 7> p{};
    for (size_t k = 1; k < kKindRules.size(); ++k) p[k] = kKindRules[k].CatchPoints;
    return p;
}();

// Amounts added to the score: a catch left of the early line earns the bonus on top of its
// points; each shot and each pause costs; a game won on the clock earns the win bonus.
inline constexpr int32_t kEarlyBonus = 50, kCondomCost = 50, kTorpedoCost = 100, kPauseCost = 100,
                         kWinBonus = 10000;
inline constexpr int32_t kTorpedoesPerGame = 10;

// Time: a logic tick is 20 ms; the game clock runs kGameSeconds of kTicksPerSecond ticks each,
// after a run-in of kRunInTicks from the click that starts play. A lost game goes on for
// kLostEndTicks before its end sequence.
inline constexpr int32_t kTickMs = 20, kTicksPerSecond = 1000 / kTickMs, kGameSeconds = 90,
                         kRunInTicks = 100, kLostEndTicks = 350;

// The catch points of a swimmer known by its points code; 0 for a code of no kind.
constexpr int32_t CatchPointsOfCode(int32_t pointsCode) {
    for (size_t k = 1; k < kKindRules.size(); ++k)
        if (kKindRules[k].PointsCode == pointsCode) return kKindRules[k].CatchPoints;
    return 0;
}

// The kind (1..6) whose "bob" word this is, 0 for none.
constexpr int KindOfScriptName(std::string_view word) {
    for (size_t k = 1; k < kKindRules.size(); ++k)
        if (kKindRules[k].ScriptName == word) return static_cast<int>(k);
    return 0;
}

}  // namespace zx::rules
