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

    test::TempFolder data_;
    test::InProcessServer server_{data_.Path()};
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

}  // namespace
}  // namespace zx
