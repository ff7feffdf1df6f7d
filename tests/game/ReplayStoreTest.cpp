#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "game/ReplayStore.h"
#include "testsupport/TestSupport.h"

using namespace zx;

namespace {

class ReplayStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        SetEnvDefaults();
    }
    static std::vector<std::string> Files() {
        std::vector<std::string> names;
        const auto dir = std::filesystem::path(test::TempProgramDir()) / "KVD" / "Replays";
        for (const auto& e : std::filesystem::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ReplayStoreTest, ReplaysAreFoundByTheirCodeAndGoWhenTheCodeLeavesTheList) {
    // Codes hold any character of their sets, also those a file name may not.
    SetScoreCode(1, "a/b\\c:*?");
    SetScoreCode(2, "second");
    KeepReplay(ScoreCodeAt(1), "replay one");
    KeepReplay(ScoreCodeAt(2), "replay two");
    KeepLastReplay("replay two");
    test::WriteText("KVD/Replays/616263.replay.tmp", "left over");
    EXPECT_EQ(LoadReplayForCode("a/b\\c:*?"), "replay one");
    EXPECT_EQ(LoadReplayForCode("second"), "replay two");
    EXPECT_EQ(LoadReplayForCode("third"), std::nullopt);
    EXPECT_EQ(LoadReplayForCode(""), std::nullopt);

    // A better game pushes the second one's code off the list (here: replaced in its place).
    SetScoreCode(2, "third");
    KeepReplay(ScoreCodeAt(2), "replay three");
    EXPECT_EQ(LoadReplayForCode("second"), std::nullopt);
    EXPECT_EQ(LoadReplayForCode("third"), "replay three");
    EXPECT_EQ(LoadLastReplay(), "replay two");
    EXPECT_EQ(Files(), (std::vector<std::string>{"612f625c633a2a3f.replay", "7468697264.replay",
                                                 "last.replay"}));
}

TEST_F(ReplayStoreTest, AReplayAboveTheCapIsNotKeptAndTheOneBeforeStays) {
    SetScoreCode(1, "code");
    KeepReplay("code", "small");
    KeepReplay("code", std::string(kMaxReplayFileBytes + 1, 'x'));
    EXPECT_EQ(LoadReplayForCode("code"), "small");
}

}  // namespace
