// Scores of real games, played headless by the scripted players on the shipped level, published
// to the server with the score code the game wrote beside them.
#include <gtest/gtest.h>

#include "ServerFixtures.h"
#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "testsupport/TestSupport.h"
#include "tools/autoplay/GameDriver.h"

namespace zx {
namespace {

class RealGameTest : public testing::Test {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        PrepareGameDir(test::BuiltProgramDir(), test::TempProgramDir(), TMusic::StandIns);
    }

    // Plays one game and returns what "Publish" would send for place 1.
    static TPayloadFields PlayAndEnter(TSkill skill, uint32_t seed, TGameResult& result) {
        TAutoPlayer player(skill, seed, "Robo");
        TPlayOptions opts;
        opts.Draw = false;
        result = PlayGame(seed, player, opts);
        TPayloadFields f;
        f.Score = HighscoreAt(1).Score;
        f.Name = HighscoreAt(1).Name;
        f.GamesStarted = EnvData.GamesStarted;
        f.GamesWon = EnvData.GamesWon;
        f.ScoreCode = ScoreCodeAt(1);
        return f;
    }

    static server::TServerOptions WithLevel() {
        server::TServerOptions o = test::QuietOptions();
        o.Level = std::make_shared<const server::TLevelLimits>(
            server::LoadLevelLimits(ZOLVEX_SERVER_LEVEL));
        return o;
    }

    test::TempFolder data_;
    test::InProcessServer server_{data_.Path(), WithLevel()};
};

TEST_F(RealGameTest, AWonAndALostGameAreTakenOnceAndNeverWithTenThousandMore) {
    for (const auto& [skill, seed] :
         {std::pair{TSkill::Good, 3u}, std::pair{TSkill::Careless, 5u}}) {
        TGameResult r;
        const TPayloadFields f = PlayAndEnter(skill, seed, r);
        ASSERT_TRUE(r.Finished);
        ASSERT_EQ(r.Rank, 1) << "an empty list takes any score";
        EXPECT_EQ(r.Won, skill == TSkill::Good) << "these seeds give one game of each end";
        for (size_t k = 1; k <= 6; ++k)
            EXPECT_LT(r.Spawned[k], 100) << "kind " << k << " would wrap";
        SCOPED_TRACE(std::string(SkillName(skill)) + (r.Won ? " won " : " lost ") +
                     std::to_string(f.Score));

        TPayloadFields raised = f;
        raised.Score += 10000;
        const test::Answer refused = test::Publish(server_.Port(), raised);
        EXPECT_FALSE(refused.Lines.count("Rang")) << refused.Body;
        EXPECT_TRUE(refused.Lines.count("Error"));

        const test::Answer taken = test::Publish(server_.Port(), f);
        EXPECT_TRUE(taken.Lines.count("Rang")) << taken.Body;

        const test::Answer replay = test::Publish(server_.Port(), f);
        EXPECT_FALSE(replay.Lines.count("Rang")) << replay.Body;
    }
    EXPECT_EQ(server_.Store().SubmissionCount(), 2);
}

// Every skill, fifty seeds each (ten in the sanitizer build): an honest game is never refused,
// whatever the checks against the level decide about forged ones.
class EveryScriptedGame : public RealGameTest, public testing::WithParamInterface<TSkill> {};

// The sanitizer build plays ten times slower; a fifth of the seeds keeps its run within ctest's
// time-out on a loaded machine, and the plain build plays them all.
#if defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kSeeds = 10;
#else
constexpr uint32_t kSeeds = 50;
#endif

TEST_P(EveryScriptedGame, IsAcceptedOnTheShippedLevel) {
    int won = 0;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        TGameResult r;
        const TPayloadFields f = PlayAndEnter(GetParam(), seed, r);
        ASSERT_TRUE(r.Finished) << "seed " << seed;
        won += r.Won;
        const test::Answer a = test::Publish(server_.Port(), f);
        EXPECT_TRUE(a.Lines.count("Rang"))
            << SkillName(GetParam()) << " seed " << seed << (r.Won ? " won " : " lost ") << f.Score
            << ": " << a.Body;
    }
    EXPECT_EQ(server_.Store().SubmissionCount(), int64_t{kSeeds});
    if (GetParam() == TSkill::Good) {
        EXPECT_GT(won, 0) << "the checks saw won games too";
    }
}

INSTANTIATE_TEST_SUITE_P(Skills, EveryScriptedGame,
                         testing::Values(TSkill::Idle, TSkill::Careless, TSkill::Good,
                                         TSkill::Human),
                         [](const testing::TestParamInfo<TSkill>& i) {
                             return std::string(SkillName(i.param));
                         });

}  // namespace
}  // namespace zx
