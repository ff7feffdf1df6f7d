#include "game/SchussUnit.h"

#include <gtest/gtest.h>

#include "game/BubbleUnit.h"
#include "game/BubblepointUnit.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/LevelFile.h"
#include "game/SpermUnit.h"
#include "game/scoreunit.h"
#include "sprites/SpriteDefs.h"
#include "sprites/qvDSound.h"
#include "support/Paths.h"
#include "testsupport/GameFixtures.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

using test::IsPlaying;

// Shots among the swarm, the bubbles, the indicators and the HUD, on the shipped sprites and
// sounds. The swarm is not stepped: the tests put swimmers where they want them.
class ShotTest : public test::ShippedGameTest {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        GameData.Level = 1;
        SaveLevel({"end"});  // the swarm is placed by hand here
        EnvData.BubblePercent = 100;
        level_.AddSwarm();
        level_.AddBubbles();
        level_.AddIndicators();
        level_.AddShots();
        level_.AddHud();
    }
    void TearDown() override {
        DD.TransparencyOn = true;
        EnvData.BubblePercent = 0;
    }

    // A swimmer of kind k standing still at (x, y, -D).
    TSperm& Place(int slot, int kind, float x, float y) {
        TSperm& s = *Spermien->Sperm[slot];
        const TSpermKind& k = SpermKinds[static_cast<size_t>(kind)];
        s.Parts[1].Bob->SetSpriteAnimation(k.Sprite, 0);
        s.Kind = kind, s.PointsCode = k.PointsCode, s.Fatal = k.Fatal, s.Hit = false;
        s.SetVisible(true);
        s.Parts[2].Bob->Visible = false;
        s.VelX = s.VelY = s.VelZ = s.ThrustX = s.ThrustY = s.ThrustZ = 0;
        s.SetX(x);
        s.SetY(y);
        s.SetZ(-800);
        return s;
    }
    // Steps the shots until one catches or the frames run out; the frames taken.
    int StepUntilCaught(const TSchuss& shot, int frames = 60) {
        for (int i = 1; i <= frames; ++i) {
            Schuesse->Step();
            if (!shot.Parts[1].Bob->Visible && shot.Visible) return i;
        }
        return -1;
    }
    int32_t Score() { return Anzeige->ScoreDisplay->Points; }
};

TEST_F(ShotTest, ACondomFliesAtTenUnitsAndLeavesTheBand) {
    Schuesse->Fire(-800, 40, 0);
    const TSchuss& s = *Schuesse->Shot[1];
    EXPECT_TRUE(s.Visible);
    EXPECT_FALSE(s.IsTorpedo);
    EXPECT_FLOAT_EQ(s.HalfHeight, 79.0f / 2);
    EXPECT_TRUE(s.Parts[1].Bob->Visible);
    EXPECT_FALSE(s.Parts[2].Bob->Visible);
    EXPECT_FALSE(s.Parts[3].Bob->Visible);
    EXPECT_EQ(s.Parts[2].Bob->Alpha, 165);
    EXPECT_EQ(s.Parts[1].Bob->Sprite, FindSprite("schuss"));
    EXPECT_EQ(Spermien->CondomShots, 1);
    EXPECT_TRUE(IsPlaying(DSound->FindWave("schussab")));
    for (int i = 0; i < 60; ++i) Schuesse->Step();
    const float x60 = s.X;
    Schuesse->Step();
    EXPECT_NEAR(s.X - x60, -10.0f, 0.01f);
    EXPECT_FLOAT_EQ(s.Y, 40.0f);
    // From about -600 it is gone past -800 within some twenty frames; its slot is free again.
    for (int i = 0; i < 25; ++i) Schuesse->Step();
    EXPECT_FALSE(s.Visible);
    EXPECT_EQ(Schuesse->ActiveCount(), 0);
    Schuesse->Fire(-800, 0, 100);
    EXPECT_TRUE(Schuesse->Shot[1]->Visible);
    EXPECT_FALSE(Schuesse->Shot[2]->Visible);
    Schuesse->HideAll();
    EXPECT_EQ(Schuesse->ActiveCount(), 0);
}

TEST_F(ShotTest, ACondomCatchesOneSwimmerRollsOverItAndRidesAlong) {
    TSperm& first = Place(1, 1, -50, 0);
    TSperm& behind = Place(2, 1, -300, 0);
    first.ThrustX = behind.ThrustX = 0.5f;
    first.VelX = behind.VelX = 5.0f;
    Schuesse->Fire(-800, 10, 300);
    const TSchuss& s = *Schuesse->Shot[1];
    ASSERT_GT(StepUntilCaught(s), 0);
    EXPECT_TRUE(first.Hit);
    EXPECT_EQ(s.CaughtIndex, 1);
    const TBob* roll = s.Parts[2].Bob;
    EXPECT_TRUE(roll->Visible);
    EXPECT_EQ(roll->Sprite, FindSprite("abroll"));
    EXPECT_EQ(roll->NextSprite, FindSprite("kondom"));
    EXPECT_FLOAT_EQ(s.X, first.X + 306.0f / 2 - 120);
    EXPECT_FLOAT_EQ(s.Y, first.Y);
    EXPECT_FLOAT_EQ(s.Z, first.Z + 1);
    EXPECT_FLOAT_EQ(s.VelX, first.VelX);
    EXPECT_FLOAT_EQ(s.ThrustX, first.ThrustX);
    EXPECT_TRUE(IsPlaying(s.RollSound.get()));
    EXPECT_EQ(Score(), 100);
    EXPECT_EQ(Spermien->Caught[1], 1);
    EXPECT_EQ(Spermien->CaughtEarly[1], 0);

    // Swimmer and condom travel together; the swimmer behind is never tested again.
    for (int i = 0; i < 30; ++i) {
        first.MoveStep();
        behind.MoveStep();
        Schuesse->Step();
        ASSERT_FLOAT_EQ(s.X - first.X, 33.0f);
    }
    EXPECT_FALSE(behind.Hit);
    EXPECT_EQ(Score(), 100);
    EXPECT_EQ(roll->Sprite, FindSprite("kondom"));
    EXPECT_TRUE(first.Parts[1].Bob->Visible);  // transparency on: the swimmer shows inside
}

TEST_F(ShotTest, EachKindEarnsItsPointsAndSoundsItsOwnSound) {
    const char* sounds[7] = {nullptr, nullptr, "bubble", "sperm3", "virus1", "virus2", "virus3"};
    const int32_t points[7] = {0, 100, 80, 500, 120, 160, 250};
    for (int k = 1; k <= 6; ++k) {
        SCOPED_TRACE(k);
        Schuesse->HideAll();
        TSperm& sp = Place(k, k, -100, 0);
        const int32_t before = Score();
        Schuesse->Fire(-800, 0, 200);
        const TSchuss& s = *Schuesse->Shot[1];
        ASSERT_GT(StepUntilCaught(s), 0);
        EXPECT_TRUE(sp.Hit);
        EXPECT_EQ(Score() - before, points[k]);
        EXPECT_EQ(Spermien->Caught[static_cast<size_t>(k)], 1);
        TqvDSoundFile* want = sounds[k] ? DSound->FindWave(sounds[k]) : s.RollSound.get();
        EXPECT_TRUE(IsPlaying(want));
        sp.SetVisible(false);
    }
}

TEST_F(ShotTest, TheEarlyBonusStartsJustLeftOfMinus200) {
    // The condom settles at the swimmer's front end less 120: sperm1 is 306 wide.
    Place(1, 1, -233, 0);
    Schuesse->Fire(-800, 0, 0);
    ASSERT_GT(StepUntilCaught(*Schuesse->Shot[1]), 0);
    EXPECT_FLOAT_EQ(Schuesse->Shot[1]->X, -200.0f);
    EXPECT_EQ(Score(), 100);
    EXPECT_EQ(Spermien->Caught[1], 1);
    EXPECT_EQ(Bubblpoints->ActiveCount(), 1);

    Place(2, 1, -233.5f, 100);
    Schuesse->Fire(-800, 100, 0);
    ASSERT_GT(StepUntilCaught(*Schuesse->Shot[2]), 0);
    EXPECT_FLOAT_EQ(Schuesse->Shot[2]->X, -200.5f);
    EXPECT_EQ(Score(), 250);
    EXPECT_EQ(Spermien->Caught[1], 1);
    EXPECT_EQ(Spermien->CaughtEarly[1], 1);
    EXPECT_EQ(Bubblpoints->ActiveCount(), 3);
}

TEST_F(ShotTest, ATorpedoBubbleizesSeveralOnePerFrameAndFliesOn) {
    // Three viruses in one column, 60 apart: a condom's zone (79 / 2) reaches one of them, a
    // torpedo's (40 / 2 x 4) all three.
    TSperm* v[3] = {&Place(1, 4, -100, -60), &Place(2, 5, -100, 0), &Place(3, 6, -100, 60)};
    Anzeige->ArmTorpedo();
    ASSERT_TRUE(Anzeige->TorpedoArmed);
    Schuesse->Fire(-800, 0, 300);
    const TSchuss& t = *Schuesse->Shot[1];
    EXPECT_TRUE(t.IsTorpedo);
    EXPECT_FLOAT_EQ(t.HalfHeight, 80.0f);
    EXPECT_EQ(t.Parts[1].Bob->Sprite, FindSprite("torpedo"));
    EXPECT_EQ(Anzeige->TorpedoesLeft, 9);
    EXPECT_EQ(Spermien->Torpedoes, 1);
    EXPECT_EQ(Spermien->CondomShots, 0);
    EXPECT_TRUE(IsPlaying(DSound->FindWave("Torpedo")));

    int hit = 0, frames = 0;
    while (hit < 3 && frames < 60) {
        Schuesse->Step();
        ++frames;
        int now = 0;
        for (TSperm* s : v) now += s->Hit ? 1 : 0;
        ASSERT_LE(now - hit, 1) << "more than one hit in frame " << frames;
        hit = now;
    }
    EXPECT_EQ(hit, 3);
    for (TSperm* s : v) EXPECT_FALSE(s->Visible);
    EXPECT_TRUE(t.Parts[1].Bob->Visible);  // still flying
    EXPECT_FALSE(t.Parts[2].Bob->Visible);
    EXPECT_EQ(Score(), 120 + 160 + 250);
    EXPECT_EQ(Spermien->Caught[4] + Spermien->Caught[5] + Spermien->Caught[6], 3);
    EXPECT_TRUE(IsPlaying(DSound->FindWave("bubbleize")));
    EXPECT_GT(Bubbles->ActiveCount(), 0);

    // The same column against a condom: only the middle one.
    Anzeige->DisarmTorpedo();
    Schuesse->HideAll();
    TSperm& a = Place(1, 4, -100, -60);
    TSperm& b = Place(2, 5, -100, 0);
    TSperm& c = Place(3, 6, -100, 60);
    Schuesse->Fire(-800, 0, 300);
    for (int i = 0; i < 60; ++i) Schuesse->Step();
    EXPECT_FALSE(a.Hit);
    EXPECT_TRUE(b.Hit);
    EXPECT_FALSE(c.Hit);
}

TEST_F(ShotTest, WithoutTransparencyTheCaughtBodyGoesWhenTheCondomAppears) {
    DD.TransparencyOn = false;
    TSperm& sp = Place(1, 1, -50, 0);
    Schuesse->Fire(-800, 0, 300);
    const TSchuss& s = *Schuesse->Shot[1];
    ASSERT_GT(StepUntilCaught(s), 0);
    const int kondom = FindSprite("kondom");
    int frames = 0;
    while (s.Parts[2].Bob->Sprite != kondom && frames < 50) {
        EXPECT_TRUE(sp.Parts[1].Bob->Visible);
        EXPECT_EQ(s.CaughtIndex, 1);
        Schuesse->Step();
        ++frames;
    }
    EXPECT_EQ(frames, 12);  // six roll-off frames of two ticks
    EXPECT_FALSE(sp.Parts[1].Bob->Visible);
    EXPECT_EQ(s.CaughtIndex, -1);
    EXPECT_TRUE(sp.Visible);  // still swimming, only unseen
}

}  // namespace
}  // namespace zx
