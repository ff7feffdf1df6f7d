#pragma once
// Scripted players. Each tick a player looks at the game as it stands and says where the mouse
// is and what it presses; the game screen takes that through the same handlers as a person's
// input. The players draw their own random numbers, never the game's, so that a recorded game
// replays without them.
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "screen/Replay.h"

namespace zx {

class TDDFullScreenForm1;

enum class TSkill {
    Idle,      // starts a game and then never clicks
    Careless,  // clicks now and then at a random height
    Good,      // aims at the most dangerous swimmer, viruses first, leads it, torpedoes crowds
    Human,  // viruses first like Good, but held to what a person can see, judge and do (THumanLimits)
};

// What a person at a mouse can do: the limits the "human" skill is held to, all in one place.
// The figures are textbook values for an ordinary adult, not a champion's.
struct THumanLimits {
    // Noticing a newcomer: simple visual reaction times are about 200-250 ms with a spread of
    // about 50 ms (Welford, "Reaction Times", 1980; large online samples put the median near
    // 270 ms). Never below 150 ms.
    double ReactionMs = 250.0, ReactionSpreadMs = 50.0, ReactionMinMs = 150.0;
    // Now and then a newcomer goes unseen while the eyes are busy elsewhere (inattentional
    // blindness): one in ten is noticed another 0.3 to 1 s late.
    double LateChance = 0.10, LateMinMs = 300.0, LateMaxMs = 1000.0;
    // Attention: people keep track of about four moving objects at once, fewer while they also
    // aim (Pylyshyn and Storm 1988, multiple-object tracking), so three. Which three is
    // reconsidered with each fixation of the eyes, 200-300 ms apart in visual search (Rayner 1998).
    int Attention = 3;
    double ScanMs = 275.0, ScanSpreadMs = 50.0;
    // Clicking: index-finger tapping tops out at 6-7 a second; aimed clicks kept up for a while
    // come at about 5 a second. A gap never shorter than 150 ms.
    double ClickGapMs = 200.0, ClickGapSpreadMs = 30.0, ClickGapMinMs = 150.0;
    // Moving the mouse to a new height takes the time of Fitts' law, log2(distance / width + 1)
    // bits at a throughput of about 4.5 bits a second (mouse studies report 3.7-4.9, Soukoreff
    // and MacKenzie 2004); the width is the band a shot catches in. The mouse then stops about
    // 10 px (one standard deviation) from where it was meant to.
    double FittsBitsPerSecond = 4.5;
    double AimSpreadPx = 10.0;
    // Speeds are judged to within about a fifth (speed discrimination is at best a tenth, worse
    // among many moving things), so how soon a swimmer gets through, whether a shot still
    // reaches it and when it should have caught it are only roughly right.
    double SpeedJudgement = 0.2;
    // A person reaches for a torpedo when viruses come in a bunch: two in one band.
    int TorpedoCrowd = 2;
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
    TAutoPlayer(TSkill skill, uint32_t seed, std::string name, int games = 1,
                const THumanLimits& limits = THumanLimits{});
    ~TAutoPlayer() override;
    TTickInput Next(const TDDFullScreenForm1& screen) override;

    int GamesStarted() const { return started_; }

private:
    void Title(TTickInput& in);
    void Play(TTickInput& in, const TDDFullScreenForm1& screen);
    void PlayCareless(TTickInput& in);
    void PlayGood(TTickInput& in);
    void PlayHuman(TTickInput& in);
    void LearnShotSizes();
    void TypeName(TTickInput& in);
    void Click(TTickInput& in, int32_t y);

    TSkill skill_;
    std::mt19937 rng_;
    std::string name_;
    int games_;
    int started_ = 0;
    int32_t mouseX_ = 700, mouseY_ = 300;
    int waited_ = 0;    // ticks on the title or the info picture
    size_t typed_ = 0;  // characters of the name typed so far
    bool leaving_ = false;
    int cooldown_ = 0;  // ticks until the hand can click again in play
    // Half the height a condom and a torpedo catch in, from their sprites.
    float condomHalf_ = 0.0f, torpedoHalf_ = 0.0f;
    // The human skill's picture of the game and the state of its hand.
    struct HumanMind;
    THumanLimits limits_;
    std::unique_ptr<HumanMind> mind_;
};

}  // namespace zx
