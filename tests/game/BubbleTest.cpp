#include "game/BubbleUnit.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "game/GameRecords.h"
#include "sprites/SpriteDefs.h"
#include "support/Random.h"
#include "surface/DDUtils.h"
#include "testsupport/DisplayFixtures.h"

namespace zx {
namespace {

std::string Blank(const std::string& name, int w, int h) {
    return "OBJECT " + name + ": CreateAnimation\n" + std::to_string(w) + "\n" + std::to_string(h) +
           "\n1\n1\n1\nh\nANI\nstandard 1; (002/000)\nANIEND\n";
}

class BubbleTest : public testing::Test {
protected:
    void SetUp() override {
        std::string script;
        const int sizes[] = {0, 110, 77, 54, 38, 27, 20, 15, 10};
        for (int i = 1; i <= 8; ++i) script += Blank("P" + std::to_string(i), sizes[i], sizes[i]);
        sprites_.Load(script);
        RandSeed(11);
        EnvData.BubblePercent = 100;
    }
    TBubbles& Pool() {
        bubbles_ = std::make_unique<TBubbles>();
        for (int i = 0; i < 300; ++i) bubbles_->AddBubble();
        return *bubbles_;
    }
    // 1..8 for "P1".."P8".
    static int Size(const TBubble& b) { return b.Parts[1].Bob->Sprite; }

    test::Restore<TDisplayState> savedDisplay_{DD};
    test::Restore<TEnvData> savedEnv_{EnvData};
    test::HeadlessDisplay display_;
    test::SpriteSheets sprites_;
    test::SpriteList bobs_;
    // Not published as Bubbles: the pool is tested on its own.
    std::unique_ptr<TBubbles> bubbles_;
};

TEST_F(BubbleTest, AtZeroPercentThereAreNoBubblesAtAll) {
    EnvData.BubblePercent = 0;
    TBubbles& p = Pool();
    EXPECT_EQ(p.Bubble.Count(), 0);
    for (int i = 0; i < 100; ++i) p.Spawn(1, -800, 0, 0);
    for (int i = 0; i < 1000; ++i) p.Step();
    EXPECT_EQ(p.ActiveCount(), 0);
    EXPECT_EQ(Bobs->bobarray.Count(), 0);
}

TEST_F(BubbleTest, AtFullSettingEverySpawnFindsABubbleUntilThePoolIsFull) {
    TBubbles& p = Pool();
    ASSERT_EQ(p.Bubble.Count(), 300);
    EXPECT_EQ(p.ActiveCount(), 0) << "created inactive";
    for (int i = 1; i <= 300; ++i) {
        p.Spawn(5, -800, 10, 20);
        ASSERT_EQ(p.ActiveCount(), i);
    }
    p.Spawn(5, -800, 10, 20);
    EXPECT_EQ(p.ActiveCount(), 300);
    const TBubble& b = *p.Bubble[1];
    EXPECT_EQ(b.X, 20);
    EXPECT_EQ(b.Y, 10);
    EXPECT_EQ(b.Z, -800);
    p.ClearAll();
    EXPECT_EQ(p.ActiveCount(), 0);
}

TEST_F(BubbleTest, TheKindIsTheLargestSize) {
    TBubbles& p = Pool();
    int seen[3][9] = {};
    const int kinds[3] = {1, 5, 6};
    for (int round = 0; round < 20; ++round)
        for (int k = 0; k < 3; ++k) {
            p.ClearAll();
            for (int i = 0; i < 300; ++i) p.Spawn(kinds[k], -800, 0, 0);
            for (int i = 1; i <= 300; ++i) ++seen[k][Size(*p.Bubble[i])];
        }
    for (int k = 0; k < 3; ++k)
        for (int s = 1; s <= 8; ++s) {
            SCOPED_TRACE("kind " + std::to_string(kinds[k]) + " size " + std::to_string(s));
            if (s < kinds[k])
                EXPECT_EQ(seen[k][s], 0);
            else
                EXPECT_GT(seen[k][s], 0);
        }
}

TEST_F(BubbleTest, SpawnsFollowTheSettingInPercent) {
    EnvData.BubblePercent = 30;
    TBubbles& p = Pool();
    int started = 0;
    for (int i = 0; i < 2000; ++i) {
        p.ClearAll();
        p.Spawn(5, -800, 0, 0);
        started += p.ActiveCount();
    }
    EXPECT_NEAR(started, 600, 90);
}

TEST_F(BubbleTest, ABubbleRisesDriftsRightAndEndsAboveThePlayfield) {
    TBubbles& p = Pool();
    p.Spawn(1, -800, 300, 0);
    TBubble& b = *p.Bubble[1];
    b.WobbleX = 0, b.WobbleVelX = 0;  // the drift alone
    for (int i = 0; i < 200; ++i) b.ApplySpring(), b.MoveStep();
    // The spring towards (100000, -100000) settles at about one unit a frame each way.
    EXPECT_NEAR(b.VelX, 1.0, 0.05);
    EXPECT_NEAR(b.VelY, -1.0, 0.05);
    EXPECT_EQ(b.Z, -800) << "the target keeps its depth";
    b.SetY(-351);
    b.Update();
    EXPECT_FALSE(b.Visible);
}

TEST_F(BubbleTest, BubblesBurstAndRiseOnTheirOwn) {
    TBubbles& p = Pool();
    for (int i = 0; i < 100; ++i) p.Spawn(1, -800, 0, 0);
    // Bursting at 0.3 % a frame: about a quarter are gone after 100 frames, well before any
    // could rise 350 units.
    for (int i = 0; i < 100; ++i) p.Step();
    EXPECT_NEAR(p.ActiveCount(), 74, 12);

    p.ClearAll();
    int fresh = 0;
    for (int f = 0; f < 1000; ++f) {
        p.Step();
        for (int i = 1; i <= 300; ++i) {
            TBubble& b = *p.Bubble[i];
            if (b.Visible && b.Y > 340) {
                ++fresh;
                EXPECT_GE(b.X, -405);
                EXPECT_LE(b.X, 405);
                EXPECT_LT(b.Z, -799);
                EXPECT_GT(b.Z, -802);
                b.SetVisible(false);
            }
        }
    }
    // 300 inactive bubbles at 0.01 % a frame: about 30 self-starts in 1000 frames.
    EXPECT_NEAR(fresh, 30, 17);

    EnvData.BubblePercent = 0;  // the pool exists, but the setting now refuses
    p.ClearAll();
    for (int f = 0; f < 1000; ++f) p.Step();
    EXPECT_EQ(p.ActiveCount(), 0);
}

}  // namespace
}  // namespace zx
