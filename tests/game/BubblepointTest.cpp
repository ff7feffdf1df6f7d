#include "game/BubblepointUnit.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sprites/SpriteDefs.h"
#include "support/Random.h"
#include "testsupport/DisplayFixtures.h"

namespace zx {
namespace {

TEST(PointsFrame, ValuesToFrames) {
    EXPECT_EQ(PointsFrame(-250), 0);
    EXPECT_EQ(PointsFrame(-50), 20);
    EXPECT_EQ(PointsFrame(-10), 24);
    EXPECT_EQ(PointsFrame(10), 25);
    EXPECT_EQ(PointsFrame(100), 34);
    EXPECT_EQ(PointsFrame(250), 49);
    EXPECT_EQ(PointsFrame(500), 50);
    for (int v : {0, 1000, -260, 260, 15, -5, 490, -500, 10000}) EXPECT_EQ(PointsFrame(v), 25) << v;
}

class BubblepointTest : public testing::Test {
protected:
    void SetUp() override {
        RandSeed(5);
        points_ = std::make_unique<TBubblpoints>();
        for (int i = 0; i < 100; ++i) points_->AddIndicator();
    }

    test::Restore<TDisplayState> savedDisplay_{DD};
    test::HeadlessDisplay display_;
    test::SpriteSheets sprites_{
        "OBJECT points: CreateAnimation\n56\n20\n51\n1\n51\nh\nANI\n"
        "standard 1-51; (000/000)\nANIEND\n"};
    test::SpriteList bobs_;
    // Not published as Bubblpoints: the indicators are tested on their own.
    std::unique_ptr<TBubblpoints> points_;
};

TEST_F(BubblepointTest, AnIndicatorShowsItsValueAndFadesOverItsLastFrames) {
    TBubblpoints& p = *points_;
    EXPECT_EQ(p.ActiveCount(), 0);
    p.Show(-50, -800, 100, 200);
    const TBubblepoint& ind = *p.Indicator[1];
    const TBob& bob = *ind.Parts[1].Bob;
    ASSERT_TRUE(ind.Visible);
    EXPECT_TRUE(bob.ScreenSpace);
    EXPECT_EQ(bob.CurrentFrame(), FrameOf(bob.Sprite, 0, 20));
    EXPECT_EQ(ind.Z, -780) << "just in front of where the points were made";
    EXPECT_EQ(ind.X, 200);
    EXPECT_EQ(ind.Life, 50);
    int opaque = 0;
    for (int f = 1; f <= 50; ++f) {
        ASSERT_TRUE(ind.Visible) << f;
        p.Step();
        EXPECT_EQ(bob.FramePos, 20) << "the frame stays";
        if (bob.Alpha == 255 && ind.Visible) ++opaque;
        if (f == 35) {
            EXPECT_EQ(bob.Alpha, 240);
        }
        if (f == 49) {
            EXPECT_EQ(bob.Alpha, 16);
        }
    }
    EXPECT_EQ(opaque, 34);
    EXPECT_FALSE(ind.Visible);
    EXPECT_LT(ind.Y, 100) << "it rose";
}

TEST_F(BubblepointTest, AReusedIndicatorStartsOpaqueAndHighOnesEndEarly) {
    TBubblpoints& p = *points_;
    p.Show(500, -800, 0, 0);
    for (int f = 0; f < 50; ++f) p.Step();
    p.Show(1000, -800, -340, 0);
    const TBubblepoint& ind = *p.Indicator[1];
    EXPECT_EQ(ind.Parts[1].Bob->Alpha, 255);
    EXPECT_EQ(ind.Parts[1].Bob->FramePos, 25);
    int frames = 0;
    while (ind.Visible && frames < 50) p.Step(), ++frames;
    EXPECT_LT(frames, 34) << "above y -350 it ends before its life is over";
}

TEST_F(BubblepointTest, AFullPoolDropsTheIndicator) {
    TBubblpoints& p = *points_;
    for (int i = 0; i < 101; ++i) p.Show(10, -800, 0, 0);
    EXPECT_EQ(p.ActiveCount(), 100);
    p.AddIndicator();
    EXPECT_EQ(p.Indicator.Count(), 100);
}

}  // namespace
}  // namespace zx
