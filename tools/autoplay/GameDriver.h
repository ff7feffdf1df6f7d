#pragma once
// The game screen played by an input source instead of a person: before every frame the source
// says where the mouse is and what was pressed, and the screen takes it through its own input
// handlers. Headless, one logic tick is run at a time on a clock of the replay's own, so a
// game is exactly its seed and its input; in a window the loop thread paces it in real time.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/DSound.h"
#include "screen/DDrawUnit.h"
#include "screen/Replay.h"
#include "tools/autoplay/AutoPlayer.h"
#include "tools/autoplay/SwarmWatch.h"

namespace zx {

// Play begins with a run-in of this many ticks before the script and the clock start.
inline constexpr int64_t kRunInTicks = 100;
inline constexpr double kTicksPerSecond = 50.0;

struct TGameResult {
    bool Finished = false;  // the game ended (won or lost) and the screen moved on
    bool Won = false;
    int32_t Score = 0;
    int32_t Rank = 0;          // place taken in the top ten, 0 for none
    int64_t DecidedTick = -1;  // ticks of play until the clock ran out or a virus got through
    int64_t EndTick = -1;      // ticks of play until the screen left the game
    std::array<int32_t, 7> Spawned{}, CaughtEarly{}, Caught{}, Escaped{};  // by kind 1..6
    int32_t CondomShots = 0, Torpedoes = 0;
    // A lost game: where the virus that got through came from.
    TSwimmerOrigin LostTo;
};

class TPlayedScreen : public TDDFullScreenForm1 {
public:
    // record, when given, receives every tick's input.
    explicit TPlayedScreen(IInputSource& input, TReplay* record = nullptr);

    // One frame of ticks, with the input taken once before it (as a person's arrives between
    // frames), then the bookkeeping of the game's course.
    void Threadnotify(int32_t ticks) override;
    // The same tick without drawing: input, the state procedure, the bookkeeping. The state
    // procedure alone is what the logic of a tick costs.
    void LogicTick();

    // Finished games, in order; a game running now is not among them.
    const std::vector<TGameResult>& Results() const { return results_; }
    int64_t Ticks() const { return ticks_; }
    // On the title again after at least one finished game.
    bool BackOnTitle() const;

private:
    void TakeInput();
    void Observe(int32_t ticks);

    IInputSource& input_;
    TReplay* record_;
    std::vector<TGameResult> results_;
    TGameResult current_;
    TSwarmWatch watch_;
    bool inGame_ = false;
    int64_t ticks_ = 0;
    int64_t playStart_ = 0;
};

// A program directory for games that must not touch the player's: the built one's sounds,
// level and cave, copied into dir. Music the built directory has not converted yet is converted
// here, or, where nothing is heard and only the time matters, stood in for by a short wave.
enum class TMusic { Convert, StandIns };
void PrepareGameDir(const std::string& builtDir, const std::string& dir,
                    TMusic music = TMusic::Convert);

// Plays on a fresh headless game screen in the current program directory, from default settings
// and an empty top ten, until the first game is over and the title shows again (or maxTicks
// have run). The random generator is seeded with seed and the tick clock is the replay's own.
struct TPlayOptions {
    uint8_t Kind = 2;
    int64_t MaxTicks = 30000;
    bool KeepSettings = false;  // start from EnvData as it is (top ten and all)
    // Without drawing only the state procedures run: the same game, far cheaper where only its
    // course matters.
    bool Draw = true;
    // Settings a replay carries, applied over the defaults (not with KeepSettings).
    const TReplay* Settings = nullptr;
    // When given, receives the sound of every tick (its 20 ms of the mix), mixed on demand: the
    // same game gives the same sound on every machine and in every build.
    platform::MixedSound* Mix = nullptr;
};
TGameResult PlayGame(uint32_t seed, IInputSource& input, const TPlayOptions& options,
                     TReplay* record = nullptr);

// Frame by frame, for measurements: the same game as PlayGame, each tick left to the caller.
class THeadlessGame {
public:
    THeadlessGame(uint32_t seed, IInputSource& input, const TPlayOptions& options,
                  TReplay* record = nullptr);
    ~THeadlessGame();
    THeadlessGame(const THeadlessGame&) = delete;
    THeadlessGame& operator=(const THeadlessGame&) = delete;

    // Runs one tick with drawing (false once the game is over or the ticks are used up).
    bool Tick();
    // Runs one tick without drawing.
    bool LogicTick();
    bool Over() const;
    TGameResult Result() const;
    TPlayedScreen& Screen() { return *screen_; }

private:
    TPlayOptions options_;
    std::unique_ptr<TPlayedScreen> screen_;
};

// A game's sound as raw 16-bit little-endian samples (aplay -f cd plays the usual 44100 Hz
// stereo); throws when the file cannot be written whole.
void WriteMix(const std::string& path, const platform::MixedSound& mix);

// One line per game, and a summary of several.
std::string FormatResult(int game, const TGameResult& r);
// What a game gave, one fact a line (seed, outcome, score, ticks, swimmers by kind, shots), so
// that two runs of one replay compare line by line and a difference names the fact.
std::string ResultFacts(uint32_t seed, const TGameResult& r);
std::string FormatSummary(const std::vector<TGameResult>& results);

// The skills side by side: a header, then per skill its win rate, mean score and when its lost
// games were decided; below, per skill that lost, where the fatal escapes came from and how the
// losses spread over the clock.
std::string FormatTable(
    const std::vector<std::pair<std::string, std::vector<TGameResult>>>& bySkill);

}  // namespace zx
