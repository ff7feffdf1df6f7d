#include "game/RohrUnit.h"

#include <gtest/gtest.h>

#include "game/BubblepointUnit.h"
#include "game/GameGlobals.h"
#include "game/SchussUnit.h"
#include "game/scoreunit.h"
#include "sprites/qvDSound.h"
#include "testsupport/GameFixtures.h"

namespace zx {
namespace {

using test::IsPlaying;

// The cannon among the managers it talks to, on the shipped sprites and sounds, with a game
// screen whose mouse and pending clicks it reads.
class CannonTest : public test::ShippedGameTest {
protected:
    void SetUp() override {
        level_.AddHud();
        level_.AddIndicators();
        level_.AddShots();
        level_.AddCannon().Show();
        screen_->MouseY = 300;
    }
    // One play frame for the parts that matter here, in the game screen's order.
    void Frame() {
        Rohre->Step();
        Schuesse->Step();
        Bubblpoints->Step();
    }
    TRohr& Cannon() { return *Rohre->Cannon; }
    int32_t Score() { return Anzeige->ScoreDisplay->Points; }
};

TEST_F(CannonTest, FollowsTheMouseWithinItsRangeOnlyWhileShown) {
    EXPECT_FLOAT_EQ(Cannon().X, 420.0f);
    EXPECT_FLOAT_EQ(Cannon().Z, -800.0f);
    screen_->MouseY = 0;
    Frame();
    EXPECT_FLOAT_EQ(Cannon().Y, -255.0f);
    EXPECT_FLOAT_EQ(Cannon().TargetY, -255.0f);
    EXPECT_FLOAT_EQ(Cannon().Parts[1].Bob->Y, -255.0f);
    screen_->MouseY = 600;
    Frame();
    EXPECT_FLOAT_EQ(Cannon().Y, 255.0f);
    screen_->MouseY = 350;
    Frame();
    EXPECT_FLOAT_EQ(Cannon().Y, 50.0f);
    EXPECT_FLOAT_EQ(Cannon().X, 420.0f);  // no pull towards x while at home

    Rohre->Hide();
    screen_->MouseY = 100;
    PendingShots = 1;
    Frame();
    EXPECT_FLOAT_EQ(Cannon().Y, 50.0f);
    EXPECT_EQ(PendingShots, 1);  // a hidden cannon leaves the click waiting
    EXPECT_EQ(Schuesse->ActiveCount(), 0);
}

TEST_F(CannonTest, ThreeClicksInOneFrameFireInThreeFramesAndEachIsPaid) {
    screen_->MouseY = 200;
    PendingShots = 3;
    Frame();
    EXPECT_EQ(PendingShots, 2);
    EXPECT_EQ(Schuesse->ActiveCount(), 1);
    EXPECT_EQ(Score(), -50);
    // Recoil: 20 to the right of where it stood, "leer" running with "geladen" queued.
    EXPECT_FLOAT_EQ(Cannon().X, 440.0f);
    EXPECT_EQ(Cannon().Parts[1].Bob->Anim, 1);
    EXPECT_EQ(Cannon().Parts[1].Bob->NextAnim, 0);
    // The shot leaves the muzzle at the cannon's left end and has flown one frame since.
    const TSchuss& s = *Schuesse->Shot[1];
    EXPECT_FALSE(s.IsTorpedo);
    EXPECT_FLOAT_EQ(s.Y, -100.0f);
    EXPECT_FLOAT_EQ(s.Z, -800.0f);
    // 20 run-up steps and this frame's: -10 (1 - 1.1^-21) = -8.65 units.
    EXPECT_NEAR(s.X, 420.0f - 111.0f / 2 + 10 - 8.65f, 0.01f);
    EXPECT_TRUE(IsPlaying(DSound->FindWave("schussab")));

    Frame();
    Frame();
    EXPECT_EQ(PendingShots, 0);
    EXPECT_EQ(Schuesse->ActiveCount(), 3);
    EXPECT_EQ(Score(), -150);
    EXPECT_EQ(Bubblpoints->ActiveCount(), 3);
    Frame();
    EXPECT_EQ(Schuesse->ActiveCount(), 3);
    EXPECT_EQ(Score(), -150);

    // The spring brings it home and the loaded barrel returns when "leer" has run.
    for (int i = 0; i < 300; ++i) Frame();
    EXPECT_NEAR(Cannon().X, 420.0f, 0.5f);
    EXPECT_EQ(Cannon().Parts[1].Bob->Anim, 0);
}

TEST_F(CannonTest, AnArmedTorpedoCostsAHundredAndTheLastOneDisarms) {
    Anzeige->TorpedoesLeft = 2;
    Anzeige->ArmTorpedo();
    PendingShots = 2;
    Frame();
    EXPECT_TRUE(Schuesse->Shot[1]->IsTorpedo);
    EXPECT_EQ(Anzeige->TorpedoesLeft, 1);
    EXPECT_TRUE(Anzeige->TorpedoArmed);
    Frame();
    EXPECT_TRUE(Schuesse->Shot[2]->IsTorpedo);
    EXPECT_EQ(Anzeige->TorpedoesLeft, 0);
    EXPECT_FALSE(Anzeige->TorpedoArmed);
    EXPECT_EQ(Score(), -200);  // the second was armed when it left, though firing disarmed
    PendingShots = 1;
    Frame();
    EXPECT_FALSE(Schuesse->Shot[3]->IsTorpedo);
    EXPECT_EQ(Score(), -250);
}

TEST_F(CannonTest, AfterALostGameAClickOnlyClicks) {
    Anzeige->Lost = true;
    Rohre->ShowEmpty();
    EXPECT_EQ(Cannon().Parts[1].Bob->Anim, 1);
    EXPECT_EQ(Cannon().Parts[1].Bob->FramePos, 0);
    PendingShots = 2;
    Frame();
    EXPECT_EQ(PendingShots, 1);
    EXPECT_TRUE(IsPlaying(DSound->FindWave("leer")));
    EXPECT_EQ(Schuesse->ActiveCount(), 0);
    EXPECT_EQ(Score(), 0);
    EXPECT_FLOAT_EQ(Cannon().X, 420.0f);
    Frame();
    EXPECT_EQ(PendingShots, 0);
}

TEST_F(CannonTest, WithEveryShotInFlightAClickIsChargedButLaunchesNothing) {
    for (int i = 0; i < 100; ++i) Schuesse->Fire(-800, 0, 0);
    ASSERT_EQ(Schuesse->ActiveCount(), 100);
    PendingShots = 1;
    Rohre->Step();
    EXPECT_EQ(PendingShots, 0);
    EXPECT_EQ(Score(), -50);
    EXPECT_EQ(Schuesse->ActiveCount(), 100);
}

}  // namespace
}  // namespace zx
