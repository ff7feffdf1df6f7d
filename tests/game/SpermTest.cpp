#include "game/SpermUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "display/frmDDFullScreen.h"
#include "game/BubbleUnit.h"
#include "game/BubblepointUnit.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/LevelFile.h"
#include "game/RohrUnit.h"
#include "game/scoreunit.h"
#include "platform/Errors.h"
#include "platform/Window.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"
#include "surface/DDUtils.h"
#include "surface/Resources.h"
#include "testsupport/GameFixtures.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

using Lines = std::vector<std::string>;

std::string Sheet(const std::string& name, int w, int h, int images) {
    return "OBJECT " + name + ": CreateAnimation\n" + std::to_string(w) + "\n" + std::to_string(h) +
           "\n" + std::to_string(images) + "\n" + std::to_string(images) +
           "\n1\nh\nANI\nstandard 1-" + std::to_string(images) + "; (002/000)\nANIEND\n";
}

class SpermTest : public testing::Test {
protected:
    void SetUp() override {
        // The shipped sizes of the swimmers, in a different order from the shipped script.
        std::string script = Sheet("sperm1", 306, 55, 12) + Sheet("sperm3", 308, 58, 12) +
                             Sheet("bubble", 60, 60, 24) + Sheet("virus1", 78, 58, 12) +
                             Sheet("virus2", 58, 60, 12) + Sheet("virus3", 87, 68, 12) +
                             Sheet("Vantorlogo", 111, 84, 12);
        const int sizes[] = {0, 110, 77, 54, 38, 27, 20, 15, 10};
        for (int i = 1; i <= 8; ++i)
            script += Sheet("P" + std::to_string(i), sizes[i], sizes[i], 1);
        sprites_.Load(script);
        test::ResetProgramDir();
        EnsureDataDir();
        ClearLog();
        GameData = TGameData{};
        GameData.Level = 1;
        EnvData.BubblePercent = 0;
        RandSeed(3);
    }
    // A swarm on this level, as the game screen sets one up, with a bubble pool beside it.
    TSpermien& Swarm(const Lines& level) {
        SaveLevel(level);
        level_.AddBubbles();
        swarm_ = &level_.AddSwarm();
        return *swarm_;
    }
    TSpermien& Playing(const Lines& level) {
        TSpermien& s = Swarm(level);
        s.StartPlay();
        return s;
    }
    std::vector<TSperm*> Active() const {
        std::vector<TSperm*> v;
        for (int i = 1; i <= swarm_->Sperm.Count(); ++i)
            if (swarm_->Sperm[i]->Visible) v.push_back(swarm_->Sperm[i].get());
        return v;
    }
    std::vector<float> ActiveY() const {
        std::vector<float> v;
        for (TSperm* s : Active()) v.push_back(s->Y);
        std::sort(v.begin(), v.end());
        return v;
    }
    static int Kind(const char* name) { return FindSprite(name); }

    test::Restore<TDisplayState> savedDisplay_{DD};
    test::Restore<TEnvData> savedEnv_{EnvData};
    test::HeadlessDisplay display_;
    test::SpriteSheets sprites_;
    test::SpriteList bobs_;
    test::LevelObjects level_;
    TSpermien* swarm_ = nullptr;
};

TEST(CatchPoints, ByPointsCode) {
    EXPECT_EQ(CatchPoints(1), 100);
    EXPECT_EQ(CatchPoints(5), 80);
    EXPECT_EQ(CatchPoints(50), 500);
    EXPECT_EQ(CatchPoints(36), 120);
    EXPECT_EQ(CatchPoints(25), 160);
    EXPECT_EQ(CatchPoints(3), 250);
    EXPECT_EQ(CatchPoints(0), 0);
    EXPECT_EQ(CatchPoints(2), 0);
}

TEST_F(SpermTest, CreatedIdleInAttractModeWithTheDefaults) {
    TSpermien& s = Swarm({"speed=10"});
    EXPECT_TRUE(s.Attract);
    EXPECT_EQ(s.MainPointer, -1);
    EXPECT_EQ(s.FormationPointer, -1);
    EXPECT_EQ(s.Speed, 50);
    EXPECT_EQ(s.Gap, 60.0);
    EXPECT_EQ(s.BobSpeed, 0.3);
    EXPECT_EQ(s.BobSpeedStep, 0.1);
    EXPECT_EQ(s.LetterMap[1], 1);
    EXPECT_EQ(s.LetterMap[26], 26);
    EXPECT_EQ(s.Lines, Lines{"speed=10"});
    ASSERT_EQ(s.Sperm.Count(), 50);
    s.AddSperm();
    EXPECT_EQ(s.Sperm.Count(), 50);
    const TSperm& one = *s.Sperm[1];
    EXPECT_FALSE(one.Visible);
    EXPECT_FALSE(one.Parts[2].Bob->Visible);
    EXPECT_EQ(one.Parts[2].DX, -82 - 153);
    EXPECT_EQ(one.Kind, 0);
    EXPECT_EQ(SpermKinds[2].Sprite, Kind("bubble")) << "sperm2 is drawn as a bubble";
}

TEST_F(SpermTest, CommandsTakeTheLongestKeywordOneLinePerFrame) {
    TSpermien& s =
        Playing({"bobspeedstep=0.2", "", "   ", "  BobSpeed=0,5  ", "bobprobability=0.25",
                 "# a note, passed over", "bobfuzzytime=7", "speed= 12", "gap=70",
                 "middleposition=-20", "bobfreepos=1", "end", "speed=99"});
    s.ScriptStep();
    EXPECT_EQ(s.BobSpeedStep, 0.2);
    EXPECT_EQ(s.BobSpeed, 0.3);
    s.ScriptStep();  // blank lines cost no frame
    EXPECT_EQ(s.BobSpeed, 0.5);
    EXPECT_EQ(s.MainPointer, 4);
    for (int i = 0; i < 9; ++i) s.ScriptStep();
    EXPECT_EQ(s.BobProbability, 0.25);
    EXPECT_EQ(s.BobFuzzyTime, 7);
    EXPECT_EQ(s.Speed, 12) << "leading blanks are allowed in integers";
    EXPECT_EQ(s.Gap, 70.0);
    EXPECT_EQ(s.MiddlePosition, -20.0);
    EXPECT_TRUE(s.BobFreePos);
    EXPECT_EQ(s.MainPointer, -1) << "end stops the main sequence for good";
    s.ScriptStep();
    EXPECT_EQ(s.Speed, 12);

    TSpermien& t = Playing({"bobfreepos=yes", "bobfreepos=1 x"});
    t.BobFreePos = true;
    t.ScriptStep();
    EXPECT_FALSE(t.BobFreePos) << "only 1 turns free positions on";
    t.ScriptStep();
    EXPECT_FALSE(t.BobFreePos);
    t.ScriptStep();  // past the last line: idle
    EXPECT_EQ(t.MainPointer, 2);
}

TEST_F(SpermTest, ANonNumericValueFailsTheStepWithFiveLines) {
    TSpermien& s = Playing({"gap=10", "speed=fast"});
    s.ScriptStep();
    try {
        s.ScriptStep();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(),
                  "'fast' is not a valid integer value\r\n (mainpointer=2)\r\n (order=speed)\r\n"
                  " (value=fast)\r\n (xvalue=)\r\n");
    }
    TSpermien& t = Playing({"bobspeedx=abc"});
    try {
        t.ScriptStep();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(),
                  "abc ist kein gültiger Gleitkommastring\r\n (mainpointer=1)\r\n"
                  " (order=bobspeed)\r\n (value=abc)\r\n (xvalue=x)\r\n");
    }
    EXPECT_THROW(Playing({"formation="}).ScriptStep(), Exception);
    EXPECT_THROW(Playing({"bobfuzzytime=1.5"}).ScriptStep(), Exception);
}

// Bytes of a damaged level file in a message: a NUL must not cut the message short, and a line
// break must not make a line of the log of its own (an "OK" that ends a failed run).
TEST_F(SpermTest, OddBytesInAFailingValueAreShownEscapedAndCutNothing) {
    TSpermien& s = Playing({std::string("speed=1\0x", 9)});
    try {
        s.ScriptStep();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(),
                  "'1\\x00x' is not a valid integer value\r\n (mainpointer=1)\r\n (order=speed)\r\n"
                  " (value=1\\x00x)\r\n (xvalue=)\r\n");
    }
    TSpermien& t = Playing({std::string("gap\x01=2\x7f", 7)});
    try {
        t.ScriptStep();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(),
                  "2\\x7F ist kein gültiger Gleitkommastring\r\n (mainpointer=1)\r\n"
                  " (order=gap)\r\n (value=2\\x7F)\r\n (xvalue=\\x01)\r\n");
    }
    EXPECT_EQ(Exception(std::string("a\0b", 3)).Message(), "a\\x00b");
}

TEST_F(SpermTest, RowsAreCentredOnTheMiddlePosition) {
    TSpermien& s = Playing(
        {"formation=1", "end", "DefineFormation1", "a1;;a1;", "a0;a0;", ";;;", "a;a123;x", "end"});
    s.ScriptStep();
    EXPECT_EQ(s.FormationPointer, 3);
    EXPECT_TRUE(Active().empty());
    s.ScriptStep();  // the first row comes one frame after the command
    EXPECT_EQ(ActiveY(), (std::vector<float>{-60, 60}));
    const TSperm& first = *s.Sperm[1];
    EXPECT_EQ(first.X, -400 - 153) << "just outside the left edge";
    EXPECT_EQ(first.Z, -800);
    EXPECT_FLOAT_EQ(first.ThrustX, 0.4f);
    EXPECT_NEAR(first.VelX, 4.0, 0.05) << "starts near its cruising speed";
    EXPECT_EQ(first.Kind, 1);
    EXPECT_EQ(first.PointsCode, 1);
    EXPECT_FALSE(first.Parts[2].Bob->Visible);
    EXPECT_LT(first.Parts[1].Bob->FramePos, 12);
    EXPECT_EQ(s.RowCountdown, 50);

    s.StopAll();
    s.FormationPointer = 4, s.RowCountdown = 1;
    s.ScriptStep();
    EXPECT_EQ(ActiveY(), (std::vector<float>{-30, 30}));
    s.StopAll();
    s.FormationPointer = 5, s.RowCountdown = 1;
    s.ScriptStep();
    EXPECT_TRUE(Active().empty()) << "an empty row only waits";
    EXPECT_EQ(s.RowCountdown, 50);
    s.FormationPointer = 6, s.RowCountdown = 1;
    s.ScriptStep();
    ASSERT_EQ(Active().size(), 1u) << "a; is a gap, a123; spawns with 12, text after ; is ignored";
    EXPECT_EQ(Active()[0]->Y, 30);
    EXPECT_FLOAT_EQ(Active()[0]->ThrustX, 12 * 0.1f + 0.3f);
    s.RowCountdown = 1;
    s.ScriptStep();
    EXPECT_EQ(s.FormationPointer, -1) << "end closes the formation";
    EXPECT_EQ(s.Spawned[1], 5);
}

TEST_F(SpermTest, RowsFollowSpeedAndTheMainSequenceWaitsForTheFormation) {
    TSpermien& s = Playing(
        {"speed=3", "formation=1", "gap=10", "end", "DefineFormation1", "a0;", "a0;", "end"});
    std::vector<int> rowFrames;
    int frame = 0, before = 0;
    while (s.MainPointer != -1 && frame < 100) {
        s.ScriptStep();
        ++frame;
        if (s.Spawned[1] != before) rowFrames.push_back(frame), before = s.Spawned[1];
        if (frame == 7) {
            EXPECT_EQ(s.Gap, 60.0) << "nothing else runs while a formation does";
        }
    }
    EXPECT_EQ(rowFrames, (std::vector<int>{3, 6}));
    EXPECT_EQ(s.Gap, 10.0);
    EXPECT_EQ(frame, 11) << "end of the formation at 9, gap at 10, end at 11";

    // A speed of 0 reads a row every frame rather than stalling.
    TSpermien& t =
        Playing({"speed=0", "formation=1", "end", "DefineFormation1", "a0;", "a0;", "a0;", "end"});
    for (int i = 0; i < 5; ++i) t.ScriptStep();
    EXPECT_EQ(t.Spawned[1], 3);
}

TEST_F(SpermTest, ProbabilityFreePositionsAndFuzzyTime) {
    const std::string row = "a0;a0;a0;a0;a0;a0;a0;a0;a0;a0;";
    TSpermien& none =
        Playing({"bobprobability=0", "formation=1", "end", "DefineFormation1", row, "end"});
    for (int i = 0; i < 3; ++i) none.ScriptStep();
    EXPECT_TRUE(Active().empty());
    EXPECT_EQ(none.Spawned[1], 0);

    TSpermien& all = Playing(
        {"bobprobability=1", "bobfreepos=1", "formation=1", "end", "DefineFormation1", row, "end"});
    for (int i = 0; i < 4; ++i) all.ScriptStep();
    ASSERT_EQ(Active().size(), 10u);
    for (TSperm* sp : Active()) {
        EXPECT_GE(sp->Y, -250);
        EXPECT_LE(sp->Y, 249);
        EXPECT_EQ(sp->Y, static_cast<int>(sp->Y));
    }
    EXPECT_GT(ActiveY().back() - ActiveY().front(), 100) << "random heights";

    TSpermien& fuzzy =
        Playing({"bobfuzzytime=20", "formation=1", "end", "DefineFormation1", row, "end"});
    for (int i = 0; i < 3; ++i) fuzzy.ScriptStep();
    EXPECT_EQ(fuzzy.Spawned[1], 10) << "counted when released";
    int waiting = 0;
    for (int i = 1; i <= 10; ++i) {
        const TSperm& sp = *fuzzy.Sperm[i];
        if (!sp.Visible) {
            ++waiting;
            EXPECT_GT(sp.AppearDelay, 0);
            EXPECT_LT(sp.AppearDelay, 20);
        }
    }
    EXPECT_GT(waiting, 5);
    for (int f = 0; f < 20; ++f) fuzzy.Step();
    EXPECT_EQ(Active().size(), 10u) << "every delayed sperm shows within the fuzzy time";
    for (TSperm* sp : Active()) EXPECT_FALSE(sp->Parts[2].Bob->Visible);
}

TEST_F(SpermTest, LongRowsAreCutAndAFullPoolDropsCells) {
    std::string row;
    for (int i = 0; i < 150; ++i) row += "a0;";
    TSpermien& s = Playing({"formation=1", "end", "DefineFormation1", row, "end"});
    s.ScriptStep();
    s.ScriptStep();
    EXPECT_EQ(Active().size(), 50u);
    EXPECT_EQ(s.Spawned[1], 50);
    EXPECT_EQ(ActiveY().front(), 0 - 50 * 60 + 30) << "centred as a row of 100 cells";
}

TEST_F(SpermTest, TheLetterMapTakesKindsByScriptName) {
    TSpermien& s =
        Playing({"bobz=VIRUS1", "bobq=sperm2", "bob1=sperm1", "boba=sperm9", "bob=sperm3",
                 "formation=1", "end", "DefineFormation1", "z0;q0;a0;", "end"});
    for (int i = 0; i < 7; ++i) s.ScriptStep();
    EXPECT_EQ(s.LetterMap[26], Kind("virus1"));
    EXPECT_EQ(s.LetterMap[17], Kind("bubble"));
    EXPECT_EQ(s.LetterMap[1], 1) << "invalid commands leave the map alone";
    const Lines log = test::LogLines();
    EXPECT_EQ(log,
              (Lines{"bob1=sperm1 ignoriert", "boba=sperm9 ignoriert", "bob=sperm3 ignoriert"}));
    ASSERT_EQ(Active().size(), 3u);
    const TSperm& virus = *s.Sperm[1];
    EXPECT_EQ(virus.Kind, 4);
    EXPECT_TRUE(virus.Fatal);
    EXPECT_EQ(virus.PointsCode, 36);
    EXPECT_EQ(virus.X, -400 - 39);
    EXPECT_EQ(s.Sperm[2]->Kind, 2);
    EXPECT_EQ(s.Sperm[2]->PointsCode, 5);
    EXPECT_EQ(s.Spawned[1], 1);
    EXPECT_EQ(s.Spawned[2], 1);
    EXPECT_EQ(s.Spawned[4], 1);
}

TEST_F(SpermTest, AMissingFormationIsLoggedAndTheSequenceGoesOn) {
    TSpermien& s = Playing({"formation=3", "speed=7", "formation=4", "end", "DefineFormation3 ",
                            "a0;", "end", "definefORMATION4", "a0;", "end"});
    s.ScriptStep();
    EXPECT_EQ(s.FormationPointer, -1);
    EXPECT_EQ(test::LogLines(), Lines{"Formation 3 nicht gefunden"});
    s.ScriptStep();
    EXPECT_EQ(s.Speed, 7);
    s.ScriptStep();
    EXPECT_EQ(s.FormationPointer, 8) << "the marker is matched without regard to case";

    // A formation without end at the end of the lines stays idle.
    TSpermien& t = Playing({"formation=1", "speed=5", "DefineFormation1", "a0;"});
    for (int i = 0; i < 200; ++i) t.ScriptStep();
    EXPECT_EQ(t.Spawned[1], 1);
    EXPECT_EQ(t.Speed, 50);
}

// A level whose script would release nobody: garbage, formations that are missing, empty, after
// the end or made of cells without a number. Play would be ninety empty seconds and a free win.
TEST_F(SpermTest, OnlyAFormationThatReleasesASwimmerMakesALevelPlayable) {
    const std::vector<Lines> nothing = {
        {},
        {"\x01\x7f garbage", "zq;;;", "a0;"},
        {"speed=5", "formation=2", "end", "DefineFormation1", "a0;", "end"},
        {"formation=1", "end", "DefineFormation1", ";;;", "a;", "ab;", "end", "a0;"},
        {"end", "formation=1", "DefineFormation1", "a0;"},
        {"formation=x", "DefineFormation1", "a0;"},
        {"Formation=1", "DefineFormation1", "end", "a0;"},
    };
    for (const Lines& level : nothing) EXPECT_FALSE(Swarm(level).HasSwimmers()) << level.size();
    const std::vector<Lines> some = {
        {"formation=1", "DefineFormation1", "a0;"},
        {"  FORMATION = 2", "end", "definefORMATION2", ";", ";;v-1;", "end"},
        {"formation=9", "formation=1", "DefineFormation9", "end", "DefineFormation1", ";b12;"},
    };
    for (const Lines& level : some) EXPECT_TRUE(Swarm(level).HasSwimmers()) << level.size();
    EXPECT_TRUE(test::LogLines().empty()) << "the check itself logs nothing";
}

TEST_F(SpermTest, EscapesAreCountedOnceAndNeverForHitSperm) {
    TSpermien& s = Playing({"bobv=virus1", "bobc=sperm3", "formation=1", "end", "DefineFormation1",
                            "v9;c9;a9;", "end"});
    for (int i = 0; i < 4; ++i) s.Step();
    ASSERT_EQ(Active().size(), 3u);
    s.MarkHit(3);
    s.MarkHit(0), s.MarkHit(51);  // out of range: ignored
    int frames = 0;
    while (!Active().empty() && frames < 1000) s.Step(), ++frames;
    EXPECT_TRUE(Active().empty()) << "they leave at the right edge";
    EXPECT_EQ(s.EscapedCount[4], 1);
    EXPECT_EQ(s.EscapedCount[3], 1);
    EXPECT_EQ(s.EscapedCount[1], 0) << "a caught sperm never escapes";
    EXPECT_TRUE(s.Sperm[1]->Escaped);
}

TEST_F(SpermTest, ASpermLeavesOnlyWhenFullyPastTheRightEdge) {
    TSpermien& s = Playing({"formation=1", "end", "DefineFormation1", "a0;", "end"});
    s.Step(), s.Step();
    TSperm& sp = *s.Sperm[1];
    sp.ThrustX = 0, sp.VelX = 0;
    sp.SetX(400 + 153 - 0.5f);
    s.Step();
    EXPECT_TRUE(sp.Visible);
    EXPECT_TRUE(sp.Escaped);
    EXPECT_EQ(s.EscapedCount[1], 1);
    sp.SetX(400 + 153 + 0.5f);
    s.Step();
    EXPECT_FALSE(sp.Visible);
    EXPECT_EQ(s.EscapedCount[1], 1);
}

TEST_F(SpermTest, FindTargetTakesTheFirstActiveUnhitSperm) {
    TSpermien& s = Playing({"end"});
    auto place = [&](int slot, float x, float y) {
        TSperm& sp = *s.Sperm[slot];
        sp.SetVisible(true);
        sp.SetX(x);
        sp.SetY(y);
    };
    place(2, 0, 0);   // front end at 153
    place(3, 10, 5);  // front end at 163
    EXPECT_EQ(s.FindTarget(-10, 10, 100, 200), 2);
    EXPECT_EQ(s.FindTarget(-10, 0, 100, 200), -1) << "bounds are strict";
    EXPECT_EQ(s.FindTarget(0, 10, 153, 200), 3);
    EXPECT_EQ(s.FindTarget(-10, 10, 100, 153), -1);
    s.MarkHit(2);
    EXPECT_EQ(s.FindTarget(-10, 10, 100, 200), 3);
    s.Sperm[3]->SetVisible(false);
    EXPECT_EQ(s.FindTarget(-10, 10, 100, 200), -1);
}

TEST_F(SpermTest, ATorpedoedSpermTurnsIntoBubbles) {
    EnvData.BubblePercent = 100;
    TSpermien& s = Playing({"end"});
    TSperm& sp = *s.Sperm[1];
    sp.SetVisible(true);
    sp.SetX(100), sp.SetY(-20), sp.SetZ(-800);
    s.Bubbleize(1);
    EXPECT_FALSE(sp.Visible);
    const int n = Bubbles->ActiveCount();
    EXPECT_NEAR(n, 31, 15) << "one column in ten of 306";
    for (int i = 1; i <= n; ++i) {
        const TBubble& b = *Bubbles->Bubble[i];
        EXPECT_GT(b.X, 100 - 153);
        EXPECT_LE(b.X, 100 + 153);
        EXPECT_GE(b.Y, -20 - 27);
        EXPECT_LT(b.Y, -20 + 28);
        EXPECT_GE(b.Parts[1].Bob->Sprite, FindSprite("P5"));
    }
}

TEST_F(SpermTest, SwimmersLeaveTrailsOfSmallBubbles) {
    EnvData.BubblePercent = 100;
    TSpermien& s =
        Playing({"bobv=virus1", "formation=1", "end", "DefineFormation1", "a0;v0;", "end"});
    s.Step(), s.Step();
    int sperm = 0, virus = 0;
    for (int f = 0; f < 40; ++f) {
        Bubbles->ClearAll();
        s.Step();
        for (int i = 1; i <= Bubbles->Bubble.Count(); ++i) {
            const TBubble& b = *Bubbles->Bubble[i];
            if (!b.Visible) continue;
            (b.Y < 0 ? sperm : virus) += 1;
        }
    }
    // 0.01 against 0.1 a frame.
    EXPECT_LE(sperm, 3);
    EXPECT_GE(virus, 1);
}

TEST_F(SpermTest, AttractModeSwimsAtRandomAndCountsNothing) {
    TSpermien& s = Swarm({"end"});
    int seen = 0;
    for (int f = 0; f < 6000; ++f) {
        s.Step();
        for (TSperm* sp : Active()) {
            if (sp->X > -300) continue;
            ++seen;
            EXPECT_LE(sp->Z, -400);
            EXPECT_GE(sp->Z, -1200);
            EXPECT_GE(sp->ThrustX, 0.3f);
            EXPECT_LT(sp->ThrustX, 0.7f);
            EXPECT_FALSE(sp->Parts[2].Bob->Visible);
        }
    }
    EXPECT_GT(seen, 0);
    for (int k = 1; k <= 6; ++k) {
        EXPECT_EQ(s.Spawned[static_cast<size_t>(k)], 0);
        EXPECT_EQ(s.EscapedCount[static_cast<size_t>(k)], 0);
    }
    EXPECT_EQ(s.MainPointer, -1) << "the script is idle";

    s.StartPlay();
    EXPECT_TRUE(Active().empty());
    EXPECT_FALSE(s.Attract);
    EXPECT_EQ(s.MainPointer, 0);
}

// The shipped level, as the build scrambles it into the program directory (or from its plain
// source when the assets are not built): every command parses and the level plays to its end.
TEST_F(SpermTest, TheShippedLevelPlaysThroughWithoutAnErrorLine) {
    namespace fs = std::filesystem;
    Lines level;
    const fs::path built = fs::path(test::BuiltProgramDir()) / "KVD" / "Level1.txt";
    const fs::path plain = fs::path(ZOLVEX_SOURCE_DIR) / "content" / "Level1.txt";
    if (fs::exists(built)) {
        std::ifstream in(built, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        level = UnscrambleLines(ss.str());
    } else {
        ASSERT_TRUE(fs::exists(plain));
        std::ifstream in(plain, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        level = SplitLines(ss.str());
    }
    ASSERT_GT(level.size(), 50u);
    EnvData.BubblePercent = 100;
    TSpermien& s = Playing(level);
    int frames = 0, rows = 0, most = 0;
    while ((s.MainPointer != -1 || s.FormationPointer != -1) && frames < 20000) {
        const int before = s.FormationPointer;
        ASSERT_NO_THROW(s.Step()) << "frame " << frames;
        if (s.FormationPointer != before && s.FormationPointer != -1 && before != -1) ++rows;
        most = std::max(most, static_cast<int>(Active().size()));
        ++frames;
    }
    EXPECT_EQ(s.MainPointer, -1) << "the level reaches its end";
    EXPECT_TRUE(test::LogLines().empty());
    for (int k = 1; k <= 6; ++k) EXPECT_GT(s.Spawned[static_cast<size_t>(k)], 0) << "kind " << k;
    EXPECT_TRUE(s.HasSwimmers());
    EXPECT_GT(rows, 80);
    EXPECT_LT(most, 50) << "the pool never runs dry";
    // Ninety seconds of play, give or take the run-in.
    EXPECT_GT(frames, 60 * 50);
    EXPECT_LT(frames, 95 * 50);
}

// With the real HUD and cannon on the shipped sprite script: the lost game and the score.
class PlayWithHudTest : public test::ShippedHudTest {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        ClearLog();
        GameData = TGameData{};
        GameData.Level = 1;
        RandSeed(9);
        hud_ = &level_.AddHud();
        cannon_ = &level_.AddCannon();
        points_ = &level_.AddIndicators();
    }
    TSpermien& Playing(const Lines& level) {
        SaveLevel(level);
        swarm_ = &level_.AddSwarm();
        swarm_->StartPlay();
        hud_->StartPlay();
        return *swarm_;
    }

    TSpermien* swarm_ = nullptr;
    TAnzeige* hud_ = nullptr;
    TRohre* cannon_ = nullptr;
    TBubblpoints* points_ = nullptr;
};

TEST_F(PlayWithHudTest, AnEscapedVirusLosesTheGameOnce) {
    TSpermien& s = Playing({"boba=sperm1", "bobv=virus1", "bobw=virus2", "speed=5", "formation=1",
                            "end", "DefineFormation1", "v0;w0;", "a0;", "end"});
    for (int i = 0; i < 6; ++i) s.Step();
    TSperm& v1 = *s.Sperm[1];
    TSperm& v2 = *s.Sperm[2];
    ASSERT_TRUE(v1.Visible && v2.Visible);
    hud_->Won = true;
    hud_->Gameover->Counter = 77;
    v1.SetX(400);
    s.Step();
    EXPECT_TRUE(hud_->Lost);
    EXPECT_FALSE(hud_->Won);
    EXPECT_EQ(hud_->Gameover->Counter, 0);
    EXPECT_EQ(cannon_->Cannon->Parts[1].Bob->Anim, 1) << "the empty barrel";
    EXPECT_EQ(s.EscapedCount[4], 1);

    hud_->Gameover->Counter = 5;
    cannon_->Cannon->Parts[1].Bob->RestartAnimation(0);
    v2.SetX(400);
    s.Step();
    EXPECT_EQ(s.EscapedCount[5], 1);
    EXPECT_EQ(hud_->Gameover->Counter, 5) << "a second fatal escape changes nothing";
    EXPECT_EQ(cannon_->Cannon->Parts[1].Bob->Anim, 0);

    // A sperm released after the loss carries the logo beside it.
    for (int f = 0; f < 20 && s.Spawned[1] == 0; ++f) s.Step();
    ASSERT_EQ(s.Spawned[1], 1);
    const TSperm& a = *s.Sperm[3];
    EXPECT_EQ(a.Kind, 1);
    EXPECT_TRUE(a.Parts[2].Bob->Visible);
    EXPECT_EQ(a.Parts[2].DX, -65 - a.BodyWidth() / 2);

    // Attract swimmers never lose a game.
    hud_->Lost = false;
    s.StopAll();
    s.Attract = true;
    v1.SetVisible(true);
    v1.Hit = false;
    v1.Escaped = false;
    v1.SetX(500);
    s.Step();
    EXPECT_FALSE(hud_->Lost);
    EXPECT_EQ(s.EscapedCount[4], 1);
}

TEST_F(PlayWithHudTest, IndicatorsBookTheirValueEvenWhenNoneIsFree) {
    hud_->StartPlay();
    points_->Show(-50, -800, 0, 0);
    EXPECT_EQ(hud_->ScoreDisplay->Points, -50);
    for (int i = 0; i < 99; ++i) points_->Show(100, -800, 0, 0);
    EXPECT_EQ(points_->ActiveCount(), 100);
    points_->Show(500, -800, 0, 0);
    points_->Show(0, -800, 0, 0);
    EXPECT_EQ(hud_->ScoreDisplay->Points, -50 + 9900 + 500);
    EXPECT_EQ(points_->ActiveCount(), 100);
}

}  // namespace
}  // namespace zx
