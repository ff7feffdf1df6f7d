// The game screen records the games a person plays: input that arrives between frames of one to
// five ticks, a machine that stalls. The replay it keeps plays the same game again, and the
// score code counts the game's own seconds.
#include <gtest/gtest.h>

#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "game/ReplayStore.h"
#include "payload/ScoreCode.h"
#include "platform/Ticks.h"
#include "rules/LevelLimits.h"
#include "screen/DDrawUnit.h"
#include "server/Submission.h"
#include "testsupport/TestSupport.h"
#include "tools/autoplay/GameDriver.h"

using namespace zx;

namespace {

TEST(GameRecording, AStalledGamePlayedInFramesIsKeptAsAReplayOfTheSameGameWithItsOwnSeconds) {
    test::ResetProgramDir();
    PrepareGameDir(test::BuiltProgramDir(), test::TempProgramDir(), TMusic::StandIns);
    SetEnvDefaults();
    SetGameDataDefaults();
    test::ManualClock clock;

    // A person: the good player, whose input arrives between frames.
    TAutoPlayer person(TSkill::Good, 11, "Anna");
    auto screen = std::make_unique<TDDFullScreenForm1>();
    GameScreen = screen.get();
    screen->SetDisplayKind(2);
    screen->Show();
    ASSERT_FALSE(screen->ErrorFlag);
    int kept = -1;
    screen->GameRecorded = [&](const TReplay& r, int place) {
        KeepGameReplay(r, place);
        kept = place;
    };
    for (int frame = 0; kept < 0 && frame < 20000; ++frame) {
        const TTickInput in = person.Next(*screen);
        screen->SetScriptedPointer(in.MouseX, in.MouseY);
        for (const TInputMessage& m : in.Messages) screen->HandleMessage(m);
        int ticks = 1 + frame % 5;
        if (frame == 700) {
            // Stopped for 16 s mid-game: the loop thread hands over its five ticks, no more.
            clock.Advance(16000);
            ticks = 5;
        }
        clock.Advance(20u * static_cast<uint32_t>(ticks));
        screen->Threadnotify(ticks);
    }
    screen.reset();
    GameScreen = nullptr;
    ASSERT_EQ(kept, 1) << "the game took the first place of an empty list";

    const int32_t score = HighscoreAt(1).Score;
    const std::string code = ScoreCodeAt(1);
    const auto digits = DecodeScoreCode(code);
    ASSERT_TRUE(digits);
    const auto stats = ScoreStatsFromDigits(*digits);
    ASSERT_TRUE(stats);
    ASSERT_EQ(stats->EscapedCount[4] + stats->EscapedCount[5] + stats->EscapedCount[6], 0)
        << "a won game";
    // The run-in and the 90 s of the clock, however long the machine stood still.
    EXPECT_EQ(stats->Seconds, 92);
    const rules::TLevelLimits level =
        rules::LoadLevelLimits(std::string(ZOLVEX_SOURCE_DIR) + "/content/Level1.txt");
    EXPECT_EQ(server::WhyScoreUnexplained(score, *stats, &level), std::nullopt);

    const auto text = LoadReplayForCode(code);
    ASSERT_TRUE(text);
    EXPECT_EQ(LoadLastReplay(), text);
    const TReplay replay = TReplay::FromText(*text);
    TReplayInput input(replay);
    TPlayOptions options;
    options.Kind = replay.Kind;
    options.Draw = false;
    options.Settings = &replay;
    const TGameResult again = PlayGame(replay.Seed, input, options);
    EXPECT_TRUE(again.Finished);
    EXPECT_EQ(again.Score, score);
    EXPECT_EQ(DecodeScoreCode(ScoreCodeAt(1)), digits);
}

}  // namespace
