#pragma once
// The score code stored beside a new highscore and sent with a published score: the game's
// statistics as 55 decimal digits, each digit disguised as a character of its own set and the
// characters shuffled by a fixed permutation. The highscore server decodes it with the same two
// tables, so neither table may ever change.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zx {

// A uniform integer in 0 .. n-1. The game passes its own generator, so that a replayed game
// writes the same code; the server and the tools may pass any generator.
using RandomIntFn = std::function<int(int)>;

inline constexpr size_t kScoreCodeLength = 55;

// The characters each digit 0..9 may be written as; the sets do not overlap.
extern const std::array<std::string_view, 10> ScoreCodeDigitSets;
// Output position j takes the character at input position ScoreCodePermutation[j].
extern const std::array<uint8_t, kScoreCodeLength> ScoreCodePermutation;

// What the code carries. Kinds are 1..6 (index 0 unused).
struct TScoreStats {
    int32_t Seconds = 0;
    int32_t CondomShots = 0;
    int32_t Torpedoes = 0;
    std::array<int32_t, 7> Spawned{}, CaughtEarly{}, Caught{}, EscapedCount{};
};

// The 55 plain digits: seconds, condom shots (three digits), torpedoes, then per kind spawned,
// caught early, caught and escaped; each field |value| modulo 100 (1000) with leading zeros.
std::string ScoreCodeDigits(const TScoreStats& stats);
// Disguises and shuffles the digits; draws one random number per digit.
std::string MakeScoreCode(const TScoreStats& stats, const RandomIntFn& randInt);
// The inverse: the 55 plain digits, or nothing for a text that no code can be.
std::optional<std::string> DecodeScoreCode(std::string_view code);
// The fields back from the plain digits (the values modulo 100 or 1000 as encoded).
std::optional<TScoreStats> ScoreStatsFromDigits(std::string_view digits);

}  // namespace zx
