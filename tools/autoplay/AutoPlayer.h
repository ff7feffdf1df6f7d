#pragma once
// Scripted players. Each tick a player looks at the game as it stands and says where the mouse
// is and what it presses; the game screen takes that through the same handlers as a person's
// input. The players draw their own random numbers, never the game's, so that a recorded game
// replays without them.
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "tools/autoplay/Replay.h"

namespace zx {

class TDDFullScreenForm1;

enum class TSkill {
    Idle,      // starts a game and then never clicks
    Careless,  // clicks now and then at a random height
    Good,      // aims at the most dangerous swimmer, viruses first, leads it, torpedoes crowds
};

std::optional<TSkill> SkillByName(std::string_view name);
const char* SkillName(TSkill skill);

// Where a tick's input comes from.
class IInputSource {
public:
    virtual ~IInputSource() = default;
    virtual TTickInput Next(const TDDFullScreenForm1& screen) = 0;
};

// Plays the recorded ticks in order; past their end the mouse stays and nothing is pressed.
class TReplayInput : public IInputSource {
public:
    explicit TReplayInput(const TReplay& replay) : replay_(replay) {}
    TTickInput Next(const TDDFullScreenForm1& screen) override;

private:
    const TReplay& replay_;
    size_t next_ = 0;
};

class TAutoPlayer : public IInputSource {
public:
    // games: how many games to start; once they are over the player leaves the screen (Escape
    // on the title, a click on the info picture). 0 plays on for ever.
    TAutoPlayer(TSkill skill, uint32_t seed, std::string name, int games = 1);
    TTickInput Next(const TDDFullScreenForm1& screen) override;

    int GamesStarted() const { return started_; }

private:
    void Title(TTickInput& in);
    void Play(TTickInput& in, const TDDFullScreenForm1& screen);
    void PlayCareless(TTickInput& in);
    void PlayGood(TTickInput& in);
    void TypeName(TTickInput& in);
    void Click(TTickInput& in, int32_t y);

    TSkill skill_;
    std::mt19937 rng_;
    std::string name_;
    int games_;
    int started_ = 0;
    int32_t mouseX_ = 700, mouseY_ = 300;
    int waited_ = 0;       // ticks on the title or the info picture
    size_t typed_ = 0;     // characters of the name typed so far
    bool leaving_ = false;
    int cooldown_ = 0;     // ticks until the hand can click again in play
    // Half the height a condom and a torpedo catch in, from their sprites.
    float condomHalf_ = 0.0f, torpedoHalf_ = 0.0f;
};

}  // namespace zx
