#pragma once
// A game as data: the seed of the random generator, the settings that steer the game's course
// and, for every logic tick, where the mouse was and which input messages arrived before the
// tick ran. Fed back into the game screen, the same replay gives the same game, tick for tick.
// The game screen records one for every game played; the scripted players write and read them;
// the verifier plays them again.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "game/GameRecords.h"
#include "screen/InputMap.h"

namespace zx {

struct TTickInput {
    int32_t MouseX = 400, MouseY = 300;
    std::vector<TInputMessage> Messages;

    bool operator==(const TTickInput& o) const;
};

// A replay may hold at most this many ticks: ten minutes of the game's time, far more than a
// game from the title to the name entry takes. The game stops recording beyond it.
inline constexpr size_t kMaxReplayTicks = 30000;
// The largest replay text kept or read.
inline constexpr size_t kMaxReplayBytes = size_t{1} << 20;

struct TReplay {
    uint32_t Seed = 0;
    uint8_t Kind = 2;  // display kind the game ran in
    // The settings that change the game's course: the bubbles draw random numbers, and the
    // highscores decide the place the game takes and so when the name entry starts.
    int32_t BubblePercent = 70;
    bool FrontOn = true;
    std::array<int32_t, kHighscorePlaces> TopScores = EmptyTopScores();
    std::vector<TTickInput> Ticks;

    static std::array<int32_t, kHighscorePlaces> EmptyTopScores();

    // Text form "zolvex replay 1": a header, the settings that differ from the defaults, then
    // one line per tick ("x y" and the messages).
    std::string ToText() const;
    // Throws TReplayError naming the line on anything it cannot read, and before reading a tick
    // when the header claims more than maxTicks.
    static TReplay FromText(std::string_view text, size_t maxTicks = kMaxReplayTicks);
    void Save(const std::string& path) const;
    static TReplay Load(const std::string& path);

    // The settings as EnvData holds them now (at the start of a recording), and back into EnvData
    // (before a replayed game starts).
    void TakeSettings();
    void ApplySettings() const;
};

struct TReplayError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The header claims more ticks than the reader takes.
struct TReplayTooLong : TReplayError {
    using TReplayError::TReplayError;
};

}  // namespace zx
