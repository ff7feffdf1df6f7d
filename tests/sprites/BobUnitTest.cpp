#include "sprites/BobUnit.h"

#include <gtest/gtest.h>

#include <array>
#include <span>

#include "platform/Window.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "support/Random.h"
#include "testsupport/DisplayFixtures.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

const char* kScript =
    "OBJECT box: CreateAnimation\n10\n10\n12\n12\n1\nh\nANI\n"
    "standard 1-12; (002/000)\n"
    "still    1-12; (000/000)\n"
    "other    5; (001/000)\n"
    "ANIEND\n"
    "OBJECT tall: CreateAnimation\n4\n20\n1\n1\n1\nh\nANI\nstandard 1; (002/000)\nANIEND\n";

class BobTest : public testing::Test {
protected:
    void SetUp() override {
        ColorFill(Surfaces[1].Surface.get(), 0, 0, 120, 10, 0xFF0000);
        ColorFill(Surfaces[2].Surface.get(), 0, 0, 4, 20, 0x00FF00);
        ClearLog();
    }
    uint32_t Px(int x, int y) {
        DirectDrawSurface* s = BackBuffer();
        return platform::ReadPixel(s->Bits() + y * s->Pitch() + x * 4, 4);
    }
    // Columns of row y that the paint touched.
    std::pair<int, int> Span(int y) {
        int l = -1, r = -1;
        for (int x = 0; x < 800; ++x)
            if (Px(x, y) != 0) {
                if (l < 0) l = x;
                r = x;
            }
        return {l, r};
    }
    TBob*& S(size_t i) { return slots_[i]; }

    test::Restore<TDisplayState> savedDisplay_{DD};
    test::HeadlessDisplay display_{"test", test::Buffers::ForPainting};
    test::SpriteSheets sprites_{kScript};
    // Slots outlive the list, as the part slots of game objects do.
    std::array<TBob*, 1600> slots_{};
    test::SpriteList bobs_;
};

TEST(Nint, HalvesGoToEven) {
    EXPECT_EQ(Nint(0.5), 0);
    EXPECT_EQ(Nint(1.5), 2);
    EXPECT_EQ(Nint(2.5), 2);
    EXPECT_EQ(Nint(-0.5), 0);
    EXPECT_EQ(Nint(-1.5), -2);
    EXPECT_EQ(Nint(2.4999), 2);
    EXPECT_EQ(Nint(1e20), INT32_MAX);
}

TEST_F(BobTest, ProjectionScalesByDepthAndRoundsHalvesToEven) {
    TBob*& b = S(0);
    Bobs->Add(1, 0, &b);
    EXPECT_EQ(b->Width, 10);
    EXPECT_EQ(b->Z, 800);  // not placed yet: behind the viewer
    Bobs->paint();
    EXPECT_EQ(Span(300).first, -1);

    b->X = 0, b->Y = 0, b->Z = -800;
    Bobs->paint();
    EXPECT_EQ(Span(300), std::make_pair(395, 404));
    EXPECT_EQ(Span(295).first, 395);
    EXPECT_EQ(Span(294).first, -1);

    ColorFill(BackBuffer(), 0, 0, 800, 600, 0);
    b->Z = -1600, b->X = 1;  // 800 * 1 / -1600 = -0.5: stays at the centre; size 5
    Bobs->paint();
    EXPECT_EQ(Span(300), std::make_pair(398, 402));
    ColorFill(BackBuffer(), 0, 0, 800, 600, 0);
    b->X = 3;  // -1.5 rounds to -2: the centre moves to 402
    Bobs->paint();
    EXPECT_EQ(Span(300), std::make_pair(400, 404));

    // Screen space: size unscaled, position projected or taken as it is.
    ColorFill(BackBuffer(), 0, 0, 800, 600, 0);
    b->ScreenSpace = true, b->X = 0;
    Bobs->paint();
    EXPECT_EQ(Span(300), std::make_pair(395, 404));
    ColorFill(BackBuffer(), 0, 0, 800, 600, 0);
    b->ProjectPos = false, b->X = 100.5f, b->Y = 50;
    Bobs->paint();
    EXPECT_EQ(Span(50), std::make_pair(95, 104));

    ColorFill(BackBuffer(), 0, 0, 800, 600, 0);
    b->Visible = false;
    Bobs->paint();
    EXPECT_EQ(Span(50).first, -1);
}

TEST_F(BobTest, StatusLineStaysFreeAndAlphaBlends) {
    DD.HintStripHeight = 12;
    TBob*& b = S(0);
    Bobs->Add(2, 0, &b);
    b->ScreenSpace = true, b->ProjectPos = false, b->X = 10, b->Y = 585, b->Z = -1;
    Bobs->paint();
    EXPECT_EQ(Px(10, 587), 0x00FF00u);
    EXPECT_EQ(Px(10, 588), 0u);
    b->Y = 100, b->Alpha = 165;
    Bobs->paint();
    EXPECT_EQ(Px(10, 100), (0xFFu * 165) >> 8 << 8);  // green over black at 165/256
}

TEST_F(BobTest, SortIsStableByLayerThenDepth) {
    TBob** s = &S(0);
    for (int i = 0; i < 5; ++i) Bobs->Add(1, 0, &s[i]);
    s[0]->Z = -100, s[1]->Z = -500, s[2]->Z = -100, s[3]->Z = -900, s[4]->Z = -2000;
    s[4]->Layer = 1;
    Bobs->sortz();
    auto order = [&] {
        std::vector<TBob*> o;
        for (int i = 1; i <= Bobs->bobarray.Count(); ++i) o.push_back(*Bobs->bobarray[i]);
        return o;
    };
    EXPECT_EQ(order(), (std::vector<TBob*>{s[3], s[1], s[0], s[2], s[4]}));
    EXPECT_EQ(Bobs->callcounter, 1);
    // The nearest bob moves to the back: one walk puts it first, the rest keep their order.
    s[2]->Z = -5000;
    Bobs->sortz();
    EXPECT_EQ(order(), (std::vector<TBob*>{s[2], s[3], s[1], s[0], s[4]}));
    EXPECT_EQ(Bobs->bobarray[6], nullptr);  // the exchange cell is empty again
}

TEST_F(BobTest, SortStaysLinearWhenOneBobTravels) {
    std::span<TBob*> slots(&S(0), 1400);
    for (size_t i = 0; i < slots.size(); ++i) {
        Bobs->Add(1, 0, &slots[i]);
        slots[i]->Z = -static_cast<float>(3000 - i);
    }
    Bobs->sortz();
    slots.back()->Z = -100000;  // the nearest bob goes to the very back: first place
    Bobs->sortz();
    ASSERT_EQ(*Bobs->bobarray[1], slots.back());
    const int64_t before = Bobs->sortsteps;
    for (int k = 0; k < 50; ++k) {  // from first place to last and back, 50 times
        slots.back()->Z = (k % 2) ? -100000.0f : 0.0f;
        Bobs->sortz();
    }
    // One bob crossing all others costs one look per place and one per place it passes:
    // 2 * 1400 - 3 looks a sort, where an exchange sort would take about 1400 * 1400.
    EXPECT_EQ(Bobs->sortsteps - before, 50 * (2 * 1400 - 3));
    EXPECT_EQ(*Bobs->bobarray[1], slots.back());
}

TEST_F(BobTest, DeleteKeepsOrderAndClearsTheSlot) {
    TBob *&a = S(0), *&b = S(1), *&c = S(2), *&none = S(3);
    Bobs->Add(1, 0, &a);
    Bobs->Add(1, 0, &b);
    Bobs->Add(1, 0, &c);
    TBob* keepA = a;
    TBob* keepC = c;
    Bobs->Delete(&b);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(Bobs->bobarray.Count(), 2);
    EXPECT_EQ(*Bobs->bobarray[1], keepA);
    EXPECT_EQ(*Bobs->bobarray[2], keepC);
    EXPECT_EQ(Bobs->bobarray[3], nullptr);
    Bobs->Delete(&none);  // not in the list
    EXPECT_EQ(Bobs->bobarray.Count(), 2);
}

TEST_F(BobTest, ListAndPartsRefuseToOverrun) {
    std::span<TBob*> slots(&S(0), 1500);
    for (int i = 0; i < 1499; ++i) Bobs->Add(1, 0, &slots[static_cast<size_t>(i)]);
    EXPECT_THROW(Bobs->Add(1, 0, &slots[1499]), Exception);
    EXPECT_EQ(Bobs->bobarray.Count(), 1499);
    EXPECT_EQ(slots[1499], nullptr);
    for (auto& s : slots) Bobs->Delete(&s);
    EXPECT_EQ(Bobs->bobarray.Count(), 0);

    TRBob obj;
    for (int i = 0; i < 50; ++i) obj.AddPart(1, 0, 0, 0, 0);
    EXPECT_THROW(obj.AddPart(1, 0, 0, 0, 0), Exception);
    EXPECT_EQ(obj.Parts.Count(), 50);
    EXPECT_EQ(Bobs->bobarray.Count(), 50);
    EXPECT_EQ(Bobs->bobarray[50], &obj.Parts[50].Bob);
}

TEST_F(BobTest, AnimationTiming) {
    TBob*& b = S(0);
    Bobs->Add(1, 0, &b);
    std::vector<int> shown;
    for (int tick = 0; tick < 26; ++tick) {
        shown.push_back(b->CurrentFrame());
        b->Animate();
    }
    for (int tick = 0; tick < 24; ++tick)
        EXPECT_EQ(shown[static_cast<size_t>(tick)], 1 + tick / 2) << tick;
    EXPECT_EQ(shown[24], 1);      // looped
    b->SetSpriteAnimation(1, 1);  // ticks per frame 0
    for (int i = 0; i < 10; ++i) b->Animate();
    EXPECT_EQ(b->FramePos, 0);
    b->FramePos = 7;  // the owner picks the frame itself
    EXPECT_EQ(b->CurrentFrame(), 8);

    b->SetSpriteAnimation(1, 0);
    b->SetNextSpriteAnimation(2, 0);
    for (int i = 0; i < 23; ++i) b->Animate();
    EXPECT_EQ(b->Sprite, 1);
    EXPECT_EQ(b->FramePos, 11);
    b->Animate();
    EXPECT_EQ(b->Sprite, 2);
    EXPECT_EQ(b->Width, 4);
    EXPECT_EQ(b->Height, 20);
    EXPECT_EQ(b->NextSprite, 2);  // and it loops there

    b->SetSpriteAnimation(1, -1);
    EXPECT_FALSE(b->Visible);
    EXPECT_EQ(b->Anim, 0);
    b->Visible = true;
    b->SetNextAnim(2);
    b->RestartAnimation(-1);
    EXPECT_EQ(b->Anim, 0);
    EXPECT_EQ(b->NextAnim, 2);
    EXPECT_EQ(b->NextSprite, 1);
}

TEST_F(BobTest, PartsFollowTheirOwnerAndLeaveWithIt) {
    RandSeed(7);
    {
        TRBob obj;
        EXPECT_GE(obj.X, -250);
        EXPECT_LT(obj.X, 250);
        EXPECT_LE(obj.Z, -100);
        EXPECT_GT(obj.Z, -1100);
        EXPECT_EQ(obj.TargetZ, obj.Z);
        const int p = obj.AddPartByName("tall", 0, 5, -5, 10);
        EXPECT_EQ(p, 1);
        EXPECT_EQ(obj.Parts[1].Bob->Z, 800);  // the part waits for the next SetZ
        obj.SetX(100), obj.SetY(10), obj.SetZ(-800);
        EXPECT_EQ(obj.Parts[1].Bob->X, 105);
        EXPECT_EQ(obj.Parts[1].Bob->Y, 5);
        EXPECT_EQ(obj.Parts[1].Bob->Z, -790);
        obj.SetVisible(false);
        EXPECT_FALSE(obj.Parts[1].Bob->Visible);
        try {
            obj.AddPartByName("nothing", 0, 0, 0, 0);
            FAIL();
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Animation not found: NOTHING");
        }
        EXPECT_EQ(Bobs->bobarray.Count(), 1);
    }
    EXPECT_EQ(Bobs->bobarray.Count(), 0);
}

TEST_F(BobTest, MotionModel) {
    TRBob o;
    o.SetX(0), o.SetY(0), o.SetZ(-1000);
    o.VelX = 11;
    o.MoveStep();
    EXPECT_FLOAT_EQ(o.VelX, 10);
    EXPECT_FLOAT_EQ(o.X, 10);
    o.MoveStep();
    EXPECT_FLOAT_EQ(o.VelX, 10 / 1.1f);

    o.TargetX = 100000, o.TargetY = 0, o.TargetZ = -1000 + 20000;
    o.X = 0, o.Y = 0, o.Z = -1000;
    o.WobbleX = 50;
    o.ApplySpring();
    EXPECT_FLOAT_EQ(o.ThrustX, 5.0f);  // limited
    EXPECT_FLOAT_EQ(o.ThrustZ, 2.0f);
    EXPECT_FLOAT_EQ(o.ThrustY, 0.0f);
    EXPECT_FLOAT_EQ(o.WobbleAccX, -0.005f);
    o.VelX = 0;
    o.MoveStep();
    EXPECT_FLOAT_EQ(o.WobbleVelX, -0.005f);
    EXPECT_FLOAT_EQ(o.WobbleX, 50 - 0.005f);
    EXPECT_FLOAT_EQ(o.X, 5 / 1.1f + o.WobbleX);
}

TEST_F(BobTest, PaintFailuresNameTheStep) {
    TBob *&a = S(0), *&b = S(1);
    Bobs->Add(1, 0, &a);
    Bobs->Add(1, 0, &b);
    a->Z = b->Z = -800;
    a->Alpha = 100;
    DD.BlendSurface = CreateOffscreenSurface(2, 2, 0);
    EXPECT_THROW(Bobs->paint(), Exception);
    auto log = test::LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].rfind("Error in Stretchblit: Dest rectangle", 0), 0u);
    EXPECT_EQ(log.back(), "TBobs.paint: bobarray[1]^.paint");

    ClearLog();
    TBob* keep = a;
    a = nullptr;  // an owner that lost its bob
    EXPECT_THROW(Bobs->paint(), Exception);
    log = test::LogLines();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "TBobs.paint.sortz: callcounter(2) bobn(2) ival(-1) step(-1) ;");
    EXPECT_EQ(log[1].rfind("TBobs.paint.sortz: z1(", 0), 0u);
    EXPECT_EQ(log[2], "TBobs.paint: sortz");
    a = keep;
}

// Positions and sizes from a hostile level or cave file, or a depth next to the viewer, overflow
// nothing (the sanitizer build checks) and paint nothing where the sprite is far off the screen.
TEST_F(BobTest, ExtremePositionsAndDepthsPaintSafely) {
    TBob*& b = S(0);
    Bobs->Add(1, 0, &b);
    const float big = 3e38f;
    struct Case {
        bool screenSpace, projectPos;
        float x, y, z;
        bool offScreen;
    } cases[] = {
        {false, true, big, 0, -800, true},          {false, true, -big, 0, -800, true},
        {false, true, 0, big, -800, true},          {false, true, 0, -big, -800, true},
        {false, true, 1e9f, 0, -3e-4f, true},       {false, true, -1e9f, 0, -1e-30f, true},
        {true, false, 2147483647.0f, 0, -1, true},  {true, false, -2147483648.0f, 0, -1, true},
        {true, false, 0, -2147483648.0f, -1, true}, {true, true, big, big, -1e-30f, true},
        {false, true, 0, 0, -3e-4f, false},  // centred and enormous: whatever shows, nothing overflows
    };
    for (const Case& c : cases) {
        ColorFill(BackBuffer(), 0, 0, 800, 600, 0);
        b->ScreenSpace = c.screenSpace, b->ProjectPos = c.projectPos;
        b->X = c.x, b->Y = c.y, b->Z = c.z;
        Bobs->paint();
        if (c.offScreen) {
            EXPECT_EQ(Span(300).first, -1) << c.x << " " << c.y << " " << c.z;
        }
    }
}

}  // namespace
}  // namespace zx
