#include "game/scoreunit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "display/frmDDFullScreen.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "game/LevelFile.h"
#include "game/RohrUnit.h"
#include "game/SchussUnit.h"
#include "game/SpermUnit.h"
#include "game/scorecode.h"
#include "platform/Ticks.h"
#include "platform/Window.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"
#include "testsupport/GameFixtures.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

std::vector<std::string> g_sounds;
// The HUD's sounds as it asks for them, in order.
class RecordedSounds : public THudSounds {
public:
    void Play(const char* name) override { g_sounds.emplace_back(name); }
    void StopBack() override { g_sounds.emplace_back("stop Back"); }
};

int CountOf(const std::string& name) {
    return static_cast<int>(std::count(g_sounds.begin(), g_sounds.end(), name));
}

class HudTest : public test::ShippedHudTest {
protected:
    void SetUp() override {
        EnsureDataDir();
        SetEnvDefaults();
        for (int p = 1; p <= 10; ++p) {
            HighscoreAt(p) = THighscore{"", kEmptyScore};
            SetScoreCode(p, "");
        }
        EnvData.LastName.clear();
        RandSeed(7);
        ClearLog();
        g_sounds.clear();
        GamePlaying = ResultWon = ResultLost = false;
        hud_ = &level_.AddHud();
        hud_->Sounds = std::make_unique<RecordedSounds>();
    }
    void TearDown() override { GamePlaying = ResultWon = ResultLost = false; }

    void Run(int n) {
        for (int i = 0; i < n; ++i) hud_->Step();
    }
    void StartGame() {
        hud_->StartPlay();
        GamePlaying = true;
    }
    // Every place above any score a test reaches.
    void FullList() {
        for (int p = 1; p <= 10; ++p)
            HighscoreAt(p) = THighscore{"P" + std::to_string(p), 90000 - p};
    }
    // Frames from a loss until the end sequence runs its first frame.
    void LoseAndWait() {
        hud_->Lost = true;
        Run(350);
        ASSERT_TRUE(GamePlaying);
        Run(1);
    }
    int VisibleEntries() {
        int v = 0;
        for (int n = 1; n <= 10; ++n) v += hud_->Entry[static_cast<size_t>(n)]->Visible;
        return v;
    }
    static bool PartShown(TRBob& b, int i) { return b.Parts[static_cast<size_t>(i)].Bob->Visible; }
    // Pixels of a sheet equal to the colour (0xRRGGBB).
    static int PixelsOf(const char* sprite, uint32_t rgb) {
        const int f = FirstFrame(FindSprite(sprite));
        DirectDrawSurface* s =
            Surfaces[static_cast<size_t>(Frames[static_cast<size_t>(f)].SurfaceNo)].Surface.get();
        const uint32_t c = RGBToSurfaceColour(s, rgb);
        const int bpp = s->BytesPerPixel();
        int n = 0;
        for (int y = 0; y < s->Height(); ++y)
            for (int x = 0; x < s->Width(); ++x)
                n += platform::ReadPixel(s->Bits() + y * s->Pitch() + x * bpp, bpp) == c;
        return n;
    }

    TAnzeige* hud_ = nullptr;
};

TEST_F(HudTest, ClockRunsNinetySecondsWithBigDigitsFromTenAndTheBonusOnlyWhenWon) {
    FullList();
    HighscoreAt(10).Score = 20000;  // the bonus alone would not enter
    StartGame();
    TScoretime& t = *hud_->TimeDisplay;
    EXPECT_EQ(t.TimeLeft, 90);
    EXPECT_TRUE(t.Visible);
    EXPECT_TRUE(PartShown(t, 1));
    EXPECT_FALSE(PartShown(t, 3));
    Run(80 * 50);
    EXPECT_EQ(t.TimeLeft, 10);
    EXPECT_FALSE(PartShown(t, 1));
    EXPECT_FALSE(PartShown(t, 2));
    EXPECT_TRUE(PartShown(t, 3));
    EXPECT_EQ(CountOf("bigtime"), 1);
    EXPECT_FALSE(hud_->Won);
    Run(10 * 50 - 1);
    EXPECT_EQ(t.TimeLeft, 1);
    EXPECT_EQ(hud_->ScoreDisplay->Points, 0);
    Run(1);
    EXPECT_EQ(t.TimeLeft, 0);
    EXPECT_TRUE(hud_->Won);
    EXPECT_EQ(hud_->ScoreDisplay->Points, 10000);
    EXPECT_EQ(CountOf("bigtime"), 11);
    // The end sequence began in the same frame.
    EXPECT_FALSE(t.Visible);
    EXPECT_EQ(hud_->EndCounter, 1);
}

TEST_F(HudTest, LostGameStopsTheClockForGoodAndNeverEarnsTheBonus) {
    FullList();
    StartGame();
    Run(20 * 50 + 10);
    EXPECT_EQ(hud_->TimeDisplay->TimeLeft, 70);
    hud_->Lost = true;
    Run(4500);
    EXPECT_EQ(hud_->TimeDisplay->TimeLeft, 70);
    EXPECT_FALSE(hud_->Won);
    EXPECT_EQ(hud_->ScoreDisplay->Points, 0);
}

TEST_F(HudTest, LostGameWithoutANewHighscoreEndsOnTheFirstFrameOfTheEndSequence) {
    FullList();
    StartGame();
    Clicked = false;
    hud_->Lost = true;
    Run(1);
    EXPECT_TRUE(hud_->Gameover->Visible);
    EXPECT_EQ(CountOf("stop Back"), 1);
    EXPECT_EQ(CountOf("TR_66_02"), 1);
    Run(49);
    EXPECT_EQ(hud_->Help->QueuedCount(), 1);  // "Protect well, better, best"
    Run(300);
    EXPECT_TRUE(GamePlaying);
    EXPECT_EQ(hud_->EndCounter, 0);
    Run(1);
    EXPECT_FALSE(GamePlaying);
    EXPECT_TRUE(ResultLost);
    EXPECT_FALSE(ResultWon);
    EXPECT_TRUE(Clicked);
    EXPECT_EQ(hud_->NewRank, 0);
    EXPECT_FALSE(hud_->Gameover->Visible);
    EXPECT_EQ(VisibleEntries(), 0);
    for (int s = 1; s <= 16; ++s) EXPECT_FALSE(hud_->Congrat[static_cast<size_t>(s)]->Visible);
}

TEST_F(HudTest, WonGameWithoutANewHighscoreShowsBannerAndTableAndEndsAtTheTenthRow) {
    FullList();
    StartGame();
    hud_->TimeDisplay->TimeLeft = 1;
    Run(50);
    ASSERT_TRUE(hud_->Won);
    ASSERT_EQ(hud_->EndCounter, 1);
    g_sounds.clear();
    // Banner letters at p = 6 .. 96 (EndCounter 31 .. 121).
    Run(30);
    EXPECT_TRUE(hud_->Congrat[1]->Visible);
    EXPECT_EQ(CountOf("TR_06_03"), 1);
    Run(90);
    for (int s = 1; s <= 16; ++s) EXPECT_TRUE(hud_->Congrat[static_cast<size_t>(s)]->Visible) << s;
    EXPECT_FLOAT_EQ(hud_->Congrat[16]->TargetX, 300);
    EXPECT_FLOAT_EQ(hud_->Congrat[16]->TargetZ, -800 + 101);
    // They float off; the score leaves with the last.
    Run(216 + 25 - 121);
    EXPECT_FLOAT_EQ(hud_->Congrat[16]->TargetY, -200);
    EXPECT_FALSE(hud_->ScoreDisplay->Visible);
    EXPECT_EQ(VisibleEntries(), 0);
    // Rows every 6 frames from p = 222; the tenth ends the game.
    Run(6);
    EXPECT_EQ(VisibleEntries(), 1);
    Run(53);
    EXPECT_EQ(VisibleEntries(), 9);
    EXPECT_TRUE(GamePlaying);
    Run(1);
    EXPECT_EQ(VisibleEntries(), 10);
    EXPECT_FALSE(GamePlaying);
    EXPECT_TRUE(ResultWon);
    EXPECT_FALSE(ResultLost);
    EXPECT_TRUE(Clicked);
    EXPECT_EQ(CountOf("bigtime"), 10);
    EXPECT_FLOAT_EQ(hud_->Entry[10]->TargetY, 187);
    EXPECT_FLOAT_EQ(hud_->Entry[1]->TargetY, -110);
}

TEST_F(HudTest, NewHighscoreTakesATenCharacterNameAndSavesTheSettings) {
    EnvData.LastName = "Al";
    hud_->ScoreDisplay->Points = 700;
    StartGame();
    LoseAndWait();
    ASSERT_EQ(hud_->NewRank, 1);
    EXPECT_EQ(HighscoreAt(1).Score, 700);
    // The table starts at once; row 1 takes the name.
    THSEntry& e = *hud_->Entry[1];
    EXPECT_TRUE(e.Editing);
    EXPECT_TRUE(hud_->AnyEntryEditing());
    EXPECT_EQ(e.Cursor, 3);
    EXPECT_EQ(CountOf("TR_36_03"), 1);
    EXPECT_EQ(ScoreCodeAt(1).size(), kScoreCodeLength);
    EXPECT_TRUE(DecodeScoreCode(ScoreCodeAt(1)).has_value());

    for (char c : std::string("ex-Bertrand!!")) hud_->EntryKey(static_cast<uint8_t>(c));
    EXPECT_EQ(HighscoreAt(1).Name, "Alex-Bertr");
    EXPECT_EQ(e.Cursor, 11);
    EXPECT_EQ(CountOf("TR_50_07"), 13);
    Run(120);  // the cursor blinks without growing the name
    hud_->EntryKey('z');
    EXPECT_EQ(HighscoreAt(1).Name, "Alex-Bertr");
    hud_->EntryKey(8);
    EXPECT_EQ(e.Cursor, 10);
    EXPECT_EQ(HighscoreAt(1).Name, "Alex-Bert_");
    EXPECT_TRUE(GamePlaying);

    const std::string env = ResolvePath("KVD\\env.dat");
    std::filesystem::remove(env);
    hud_->EntryKey(13);
    EXPECT_EQ(HighscoreAt(1).Name, "Alex-Bert");
    EXPECT_EQ(EnvData.LastName, "Alex-Bert");
    EXPECT_FALSE(e.Editing);
    EXPECT_FALSE(hud_->AnyEntryEditing());
    EXPECT_TRUE(std::filesystem::exists(env));
    EXPECT_FALSE(GamePlaying);
    EXPECT_TRUE(ResultLost);
    EXPECT_TRUE(Clicked);

    // What was saved is what comes back.
    EnvData.LastName.clear();
    LoadEnv();
    EXPECT_EQ(HighscoreAt(1).Name, "Alex-Bert");
    EXPECT_EQ(HighscoreAt(1).Score, 700);
    EXPECT_EQ(ScoreCodeAt(1).size(), kScoreCodeLength);
}

TEST_F(HudTest, BackspaceAtTheFirstPositionOnlyPlaysItsSound) {
    StartGame();
    LoseAndWait();
    THSEntry& e = *hud_->Entry[1];
    ASSERT_TRUE(e.Editing);
    EXPECT_EQ(e.Cursor, 1);  // no name remembered yet
    hud_->EntryKey(8);
    EXPECT_EQ(e.Cursor, 1);
    EXPECT_EQ(CountOf("TR_50_08"), 1);
    EXPECT_EQ(HighscoreAt(1).Name, "");
    hud_->EntryKey('Q');
    hud_->EntryKey(8);
    EXPECT_EQ(e.Cursor, 1);
    EXPECT_EQ(HighscoreAt(1).Name, "_");
    hud_->EntryKey(8);
    EXPECT_EQ(e.Cursor, 1);
    EXPECT_EQ(CountOf("TR_50_08"), 3);
    // Escape confirms as Enter does; an empty name stays empty.
    hud_->EntryKey(27);
    EXPECT_EQ(HighscoreAt(1).Name, "");
    EXPECT_FALSE(GamePlaying);
}

TEST_F(HudTest, ASettingsFileThatCannotBeWrittenStillEndsTheGame) {
    StartGame();
    LoseAndWait();
    ASSERT_TRUE(hud_->AnyEntryEditing());
    const std::string env = ResolvePath("KVD\\env.dat");
    std::filesystem::remove_all(env);
    std::filesystem::create_directories(env + "/blocked");  // a directory where the file goes
    hud_->EntryKey('A');
    EXPECT_ANY_THROW(hud_->EntryKey(13));
    EXPECT_FALSE(hud_->AnyEntryEditing());
    EXPECT_FALSE(GamePlaying);
    EXPECT_TRUE(Clicked);
    std::filesystem::remove_all(env);
}

TEST_F(HudTest, ARememberedLongNameStartsTheEntryCutWithTheCursorInRange) {
    EnvData.LastName = "Abcdefghijklmnopqrst";  // 20, as the record allows
    StartGame();
    LoseAndWait();
    THSEntry& e = *hud_->Entry[1];
    ASSERT_TRUE(e.Editing);
    EXPECT_EQ(e.Cursor, 11);
    Run(200);
    EXPECT_EQ(HighscoreAt(1).Name, "Abcdefghij");
    hud_->EntryKey('X');
    EXPECT_EQ(HighscoreAt(1).Name, "Abcdefghij");
    hud_->EntryKey(9);  // a control character is not typed into the name
    EXPECT_EQ(HighscoreAt(1).Name, "Abcdefghij");
}

TEST_F(HudTest, NameEntryOnALowerPlaceWaitsForItsRowAndTheCodeGoesToThatPlace) {
    FullList();
    HighscoreAt(4).Score = 100;
    for (int p = 5; p <= 10; ++p) HighscoreAt(p).Score = 50 - p;
    SetScoreCode(4, "old");
    hud_->ScoreDisplay->Points = 200;
    StartGame();
    LoseAndWait();
    ASSERT_EQ(hud_->NewRank, 4);
    EXPECT_EQ(HighscoreAt(5).Score, 100);
    EXPECT_EQ(ScoreCodeAt(4).size(), kScoreCodeLength);
    EXPECT_EQ(ScoreCodeAt(5), "");  // codes stay with their place
    EXPECT_FALSE(hud_->AnyEntryEditing());
    Run(18);
    EXPECT_TRUE(hud_->Entry[4]->Editing);
    EXPECT_EQ(CountOf("TR_36_03"), 1);
    Run(200);
    EXPECT_TRUE(GamePlaying);  // the table does not end the game while a name is taken
}

TEST_F(HudTest, HelpQueueHoldsTwentyAndEachMessageFadesInAndOut) {
    for (int i = 1; i <= 25; ++i) hud_->Help->Queue("message " + std::to_string(i));
    EXPECT_EQ(hud_->Help->QueuedCount(), 20);
    Thelpfeld& h = *hud_->Help;
    TBob& b = *h.Parts[1].Bob;
    Run(1);
    EXPECT_TRUE(h.Visible);
    EXPECT_EQ(b.Alpha, 0);
    EXPECT_EQ(h.QueuedCount(), 19);
    EXPECT_EQ(PixelsOf("helpfeld", kHudKeyColour), 0);
    EXPECT_GT(PixelsOf("helpfeld", 0xFFFFFF), 100);
    Run(1);
    EXPECT_EQ(b.Alpha, 3);
    Run(84);
    EXPECT_EQ(b.Alpha, 255);
    Run(215);
    EXPECT_EQ(b.Alpha, 255);
    Run(2);
    EXPECT_EQ(b.Alpha, 252);
    Run(84);
    EXPECT_EQ(b.Alpha, 0);
    Run(113);
    EXPECT_TRUE(h.Visible);
    Run(1);
    EXPECT_FALSE(h.Visible);
    EXPECT_EQ(h.FadeCounter, 0);
    Run(1);
    EXPECT_TRUE(h.Visible);
    EXPECT_EQ(h.QueuedCount(), 18);
}

TEST_F(HudTest, StartPlayWaitsAndQueuesTheTwoHintsAndClearHelpDropsThem) {
    StartGame();
    EXPECT_EQ(hud_->Help->Delay, 100);
    EXPECT_EQ(hud_->Help->QueuedCount(), 2);
    EXPECT_FALSE(hud_->Title->Visible);
    EXPECT_TRUE(hud_->ScoreDisplay->Visible);
    Run(100);
    EXPECT_FALSE(hud_->Help->Visible);
    Run(1);
    EXPECT_TRUE(hud_->Help->Visible);
    Run(150);
    hud_->ClearHelp();
    EXPECT_FALSE(hud_->Help->Visible);
    EXPECT_EQ(hud_->Help->QueuedCount(), 0);
    hud_->Help->Queue("next");
    Run(2);
    EXPECT_EQ(hud_->Help->Parts[1].Bob->Alpha, 3);  // a fresh fade, not the old one's
}

TEST_F(HudTest, TorpedoArmingIconsAndTheLastOneDisarms) {
    TAnzeige& h = *hud_;
    h.ArmTorpedo();
    EXPECT_TRUE(h.TorpedoArmed);
    for (int i = 1; i <= 10; ++i) EXPECT_TRUE(h.TorpedoIcon[static_cast<size_t>(i)]->Visible);
    h.UseTorpedo();
    h.UseTorpedo();
    EXPECT_EQ(h.TorpedoesLeft, 8);
    EXPECT_TRUE(h.TorpedoIcon[8]->Visible);
    EXPECT_FALSE(h.TorpedoIcon[9]->Visible);
    h.DisarmTorpedo();
    EXPECT_FALSE(h.TorpedoArmed);
    for (int i = 1; i <= 10; ++i) EXPECT_FALSE(h.TorpedoIcon[static_cast<size_t>(i)]->Visible);
    EXPECT_EQ(CountOf("TR_50_07"), 1);
    EXPECT_EQ(CountOf("TR_50_08"), 1);
    h.ArmTorpedo();
    for (int i = 0; i < 8; ++i) h.UseTorpedo();
    EXPECT_EQ(h.TorpedoesLeft, 0);
    EXPECT_FALSE(h.TorpedoArmed);
    EXPECT_FALSE(h.TorpedoIcon[1]->Visible);
    g_sounds.clear();
    h.ArmTorpedo();
    EXPECT_FALSE(h.TorpedoArmed);
    EXPECT_EQ(g_sounds, std::vector<std::string>{"TR_50_08"});
    h.UseTorpedo();
    EXPECT_EQ(h.TorpedoesLeft, 0);
    EXPECT_FLOAT_EQ(h.TorpedoIcon[1]->X, -60);
    EXPECT_FLOAT_EQ(h.TorpedoIcon[10]->X, 75);
}

TEST_F(HudTest, TitleCycleShowsTheRowsAndComesRoundIn622Frames) {
    Tpressbutton& pb = *hud_->PressButton;
    const float w = pb.Parts[1].Bob->Width;
    Run(1);
    EXPECT_EQ(hud_->Title->TitleStep, 1);
    EXPECT_TRUE(pb.Visible);
    EXPECT_LT(pb.X, 2 * (-400 - w / 2) + 10);  // just off the left edge, already moving in
    EXPECT_FLOAT_EQ(pb.TargetX, 0);
    Run(150);
    EXPECT_EQ(hud_->Title->TitleStep, 2);
    EXPECT_NEAR(pb.X, 0, 5);  // arrived in the middle
    Run(1);
    EXPECT_FLOAT_EQ(pb.TargetX, 2 * (w / 2 + 1400));
    Run(50);
    EXPECT_EQ(hud_->Title->TitleStep, 4);
    EXPECT_EQ(VisibleEntries(), 0);
    Run(59);
    EXPECT_EQ(VisibleEntries(), 9);
    Run(1);
    EXPECT_EQ(VisibleEntries(), 10);
    EXPECT_EQ(hud_->Title->TitleStep, 5);
    Run(250 + 60 + 50);
    EXPECT_EQ(hud_->Title->TitleStep, 0);
    EXPECT_EQ(VisibleEntries(), 0);
    Run(1);
    EXPECT_EQ(hud_->Title->TitleStep, 1);
    EXPECT_LT(pb.X, 2 * (-400 - w / 2) + 10);
}

TEST_F(HudTest, HighscoreRowsAreDrawnWithTheKeyColourMadeTransparent) {
    HighscoreAt(1) = THighscore{"Anna", 1234};
    hud_->Entry[1]->Redraw();
    EXPECT_EQ(PixelsOf("hsleerfeld1", kHudKeyColour), 0);
    const int withScore = PixelsOf("hsleerfeld1", 0xFFFFFF);
    HighscoreAt(1).Score = kEmptyScore;
    hud_->Entry[1]->Redraw();
    EXPECT_LT(PixelsOf("hsleerfeld1", 0xFFFFFF), withScore);  // an empty place shows no score
    hud_->Entry[1]->Editing = true;
    hud_->Entry[1]->Redraw();
    EXPECT_EQ(PixelsOf("hsleerfeld1", 0xFFFFFF), 0);
    EXPECT_GT(PixelsOf("hsleerfeld1", 0xFFFF00), 50);  // yellow while the name is taken
}

TEST_F(HudTest, AFailureInsideStepNamesItsStage) {
    THSEntry& e = *hud_->Entry[3];
    e.SetVisible(true);
    e.Editing = true;
    e.Rank = 11;  // a place that does not exist
    EXPECT_ANY_THROW(hud_->Step());
    const auto lines = test::LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "anzeige.animate: step(9) ;");
}

// With the real managers: the end of a game stops the swarm, takes the cannon and the shots
// away and folds the swarm's statistics into the code at the new place.
TEST_F(HudTest, EndOfGameStopsTheOthersAndCodesTheSwarmStatistics) {
    SetGameDataDefaults();
    SaveLevel({"end"});
    TSpermien swarm;
    for (int i = 0; i < 50; ++i) swarm.AddSperm();
    TRohre cannon;
    cannon.AddCannon();
    TSchuesse shots;
    for (int i = 0; i < 100; ++i) shots.AddShot();
    Spermien = &swarm, Rohre = &cannon, Schuesse = &shots;
    struct Reset {
        ~Reset() { Spermien = nullptr, Rohre = nullptr, Schuesse = nullptr; }
    } reset;

    StartGame();
    swarm.StartPlay();
    cannon.Show();
    shots.Fire(-800, 0, 300);
    ASSERT_EQ(shots.ActiveCount(), 1);
    swarm.Spawned[1] = 12, swarm.Caught[1] = 5, swarm.CaughtEarly[4] = 2, swarm.EscapedCount[6] = 1;
    swarm.CondomShots = 17, swarm.Torpedoes = 3;
    GameStartTick = GameTicks - 2125;  // the game lasted 42.5 s of its own time
    hud_->ScoreDisplay->Points = 300;
    LoseAndWait();

    EXPECT_TRUE(swarm.Attract);
    EXPECT_EQ(swarm.MainPointer, -1);
    EXPECT_FALSE(cannon.Cannon->Visible);
    EXPECT_EQ(shots.ActiveCount(), 0);
    ASSERT_EQ(hud_->NewRank, 1);
    EXPECT_EQ(swarm.Seconds, 42);
    auto digits = DecodeScoreCode(ScoreCodeAt(1));
    ASSERT_TRUE(digits);
    auto st = ScoreStatsFromDigits(*digits);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->Seconds, 42);
    EXPECT_EQ(st->CondomShots, 17);
    EXPECT_EQ(st->Torpedoes, 3);
    EXPECT_EQ(st->Spawned[1], 12);
    EXPECT_EQ(st->Caught[1], 5);
    EXPECT_EQ(st->CaughtEarly[4], 2);
    EXPECT_EQ(st->EscapedCount[6], 1);
}

}  // namespace
}  // namespace zx
