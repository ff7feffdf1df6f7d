#include "game/FrontUnit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "platform/Errors.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/GameFixtures.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

// The real sprite sheets, a sprite list and a game screen whose mouse the scenery reads.
class FrontTest : public testing::Test {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        EnvData.FrontOn = true;
    }
    void TearDown() override {
        front_.reset();
        EnvData.FrontOn = false;
    }
    TFront& Make() {
        front_ = std::make_unique<TFront>();
        return *front_;
    }
    static void WriteTable(const TFrontTable& t) {
        const auto bytes = FrontTableToBytes(t);
        ReplaceFileContents(kFrontFile, bytes.data(), bytes.size());
    }
    static TFrontTable ReadTable() {
        TFrontTable t;
        auto bytes = ReadFileBytes(kFrontFile, kRecordFileLimit);
        EXPECT_TRUE(bytes);
        EXPECT_EQ(bytes->size(), kFrontFileSize);
        FrontTableFromBytes(t, *bytes);
        return t;
    }
    void Mouse(int x, int y) {
        screen_->MouseX = x;
        screen_->MouseY = y;
    }

    test::ScreenForm screen_;
    test::HeadlessDisplay display_{screen_.Window()};
    test::SpriteSheets sprites_{test::ShippedSprites::WithBuiltFiles};
    test::SpriteList bobs_;
    std::unique_ptr<TFront> front_;
};

TEST_F(FrontTest, TheShippedCaveLoadsEveryRecordAsItsSprite) {
    auto bytes = ReadFileBytes(test::BuiltProgramDir() + "/KVD/front.dat", kRecordFileLimit);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), kFrontFileSize);
    TFrontTable table;
    FrontTableFromBytes(table, *bytes);
    ReplaceFileContents(kFrontFile, *bytes);

    TFront& f = Make();
    int records = 0;
    for (int i = 1; i <= kFrontSlots; ++i) {
        const TFrontRecord& r = table[static_cast<size_t>(i)];
        if (r.TrackX == -1) continue;
        ++records;
        SCOPED_TRACE(i);
        const TFrontelement* e = f.Element[static_cast<size_t>(records)].get();
        ASSERT_TRUE(e);
        EXPECT_EQ(static_cast<int>(e->TrackX), r.TrackX);
        EXPECT_EQ(e->ElementType, r.Type);
        EXPECT_EQ(e->Parts[1].Bob->Sprite, FindSprite(FrontSpriteName(r.Type)));
        EXPECT_FLOAT_EQ(e->Z, r.Z == -1 ? -700.0f : static_cast<float>(r.Z));
        EXPECT_TRUE(e->Parts[1].Bob->ScreenSpace);
        EXPECT_FALSE(e->Parts[1].Bob->ProjectPos);
    }
    EXPECT_GT(records, 50);
    EXPECT_EQ(f.Count, records);
    for (int i = records + 1; i <= kFrontSlots; ++i)
        EXPECT_FALSE(f.Element[static_cast<size_t>(i)]);

    // Play: every piece stands at its track position against the scroll, five pixels a frame.
    f.HideAll();
    EXPECT_FALSE(f.Element[1]->Visible);
    f.ShowAll();
    f.ScrollPos = -2500;
    f.Step();
    const TFrontelement& first = *f.Element[1];
    EXPECT_TRUE(first.Parts[1].Bob->Visible);
    EXPECT_FLOAT_EQ(first.Parts[1].Bob->X, static_cast<float>(first.TrackX + 2500));
    f.ScrollPos -= 5;
    f.Step();
    EXPECT_FLOAT_EQ(first.Parts[1].Bob->X, static_cast<float>(first.TrackX + 2505));
}

TEST_F(FrontTest, HolesAreSkippedOnLoadAndWrittenBackAsTheSlotsStand) {
    TFrontTable t;
    t[1] = {-1, 100, 5, 3};  // a hole even with its other fields set
    t[2] = {500, 120, -1, 1};
    t[4] = {-3000, 480, -650, 10};
    t[7] = {42, 300, -1, 0};  // no such type
    t[9] = {-1000, 50, -700, 5};
    WriteTable(t);

    TFront& f = Make();
    ASSERT_EQ(f.Count, 3);
    EXPECT_EQ(f.Element[1]->TrackX, 500);
    EXPECT_FLOAT_EQ(f.Element[1]->Z, -700.0f);
    EXPECT_EQ(f.Element[2]->ElementType, 10);
    EXPECT_FLOAT_EQ(f.Element[2]->Z, -650.0f);
    EXPECT_FLOAT_EQ(f.Element[2]->Y, 480.0f);
    EXPECT_EQ(f.Element[3]->TrackX, -1000);
    EXPECT_FALSE(f.Element[4]);

    f.Save();
    const TFrontTable s = ReadTable();
    EXPECT_EQ(s[1].TrackX, 500);
    EXPECT_EQ(s[1].Z, -700);  // the default depth is written as the depth itself
    EXPECT_EQ(s[2].Type, 10);
    EXPECT_EQ(s[2].Z, -650);
    EXPECT_EQ(s[3].Y, 50);
    for (int i = 4; i <= kFrontSlots; ++i) {
        const TFrontRecord& r = s[static_cast<size_t>(i)];
        EXPECT_EQ(r.TrackX & r.Y & r.Z & r.Type, -1) << i;
        EXPECT_EQ(r.TrackX, -1);
    }
}

TEST_F(FrontTest, SettingOffReadsNothingAndWritesNothing) {
    test::WriteText(kFrontFile, "short");
    EnvData.FrontOn = false;
    TFront& f = Make();
    EXPECT_EQ(f.Count, 0);
    f.SelectOrPlace(400, 300, 1);  // the editor can still place, but nothing is kept
    f.Step();
    f.Save();
    EXPECT_EQ(test::ReadText(kFrontFile), "short");
}

// A cut cave file must not stop every game: the whole records are played and the log names the file.
TEST_F(FrontTest, MissingFileIsNoSceneryAndACutFileKeepsItsWholeRecords) {
    EXPECT_EQ(Make().Count, 0);
    front_.reset();
    TFrontTable t;
    for (int i = 1; i <= 3; ++i) t[static_cast<size_t>(i)] = {1000 * i, 100, -1, i};
    const auto full = FrontTableToBytes(t);
    // Two whole records and half of the third.
    test::WriteText(kFrontFile, std::string(full.begin(), full.begin() + 40));
    ClearLog();
    TFront& f = Make();
    EXPECT_EQ(f.Count, 2);
    EXPECT_EQ(f.Element[2]->TrackX, 2000);
    EXPECT_EQ(test::LogLines().back(),
              ResolvePath(kFrontFile) + " is damaged: 40 of 4800 bytes, 2 whole records used");
    front_.reset();
    test::WriteText(kFrontFile, "");
    EXPECT_EQ(Make().Count, 0);
}

// Whatever stands where the cave file should be is as damaged as a cut file: the game plays
// without scenery and the log says which file and why, neither failing every game (a file that
// may not be read) nor passing in silence (a folder) nor waiting for a writer (a FIFO).
TEST_F(FrontTest, ACaveFileThatCannotBeReadIsLoggedAndPlaysWithoutScenery) {
    const std::string path = ResolveWritePath(kFrontFile);
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"folder", [&] { std::filesystem::create_directory(path); }, "Is a directory"},
        {"fifo", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); }, "a FIFO, not a regular file"},
        {"device", [&] { std::filesystem::create_symlink("/dev/zero", path); },
         "a character device, not a regular file"},
        {"unreadable",
         [&] {
             test::WriteText(kFrontFile, std::string(4800, '\0'));
             chmod(path.c_str(), 0);
         },
         geteuid() == 0 ? nullptr : "Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        front_.reset();
        std::filesystem::remove_all(path);
        c.make();
        if (!c.reason) continue;  // root reads any file
        ClearLog();
        EXPECT_EQ(Make().Count, 0);
        ASSERT_FALSE(test::LogLines().empty());
        EXPECT_EQ(test::LogLines().back(), "Cannot read " + path + ": " + c.reason +
                                               ": the game plays without the cave scenery");
    }
    front_.reset();
    std::filesystem::remove_all(path);
}

TEST_F(FrontTest, EditorPlacesSelectsDragsAndRetypesAPiece) {
    TFront& f = Make();
    f.ScrollPos = -1000;
    f.SelectOrPlace(400, 300, 1);
    ASSERT_EQ(f.Count, 1);
    TFrontelement& e = *f.Element[1];
    EXPECT_EQ(e.TrackX, -600);
    EXPECT_FLOAT_EQ(e.Z, -700.0f);
    EXPECT_FALSE(f.Dragging);

    // Wheel and keys act only on a held piece.
    f.ChangeType(1);
    f.Nudge(-1);
    f.MoveWithScroll(30);
    f.DeleteSelected();
    EXPECT_EQ(e.ElementType, 1);
    EXPECT_FLOAT_EQ(e.Z, -700.0f);
    EXPECT_EQ(e.TrackX, -600);
    EXPECT_EQ(f.Count, 1);

    // The hit test covers the sprite's extent (288 x 296) around its centre, edges included.
    const int w = static_cast<int>(e.Parts[1].Bob->Width),
              h = static_cast<int>(e.Parts[1].Bob->Height);
    f.SelectOrPlace(400 + w / 2, 300 - h / 2, 1);
    EXPECT_EQ(f.Count, 1);
    EXPECT_TRUE(f.Dragging);
    EXPECT_EQ(f.Selected, 1);

    Mouse(400 + w / 2 + 7, 300 - h / 2 - 20);
    f.Step();
    EXPECT_EQ(e.TrackX, -593);
    EXPECT_FLOAT_EQ(e.Y, 280.0f);
    EXPECT_FLOAT_EQ(e.Parts[1].Bob->X, 407.0f);
    f.Step();  // no movement since the last frame
    EXPECT_EQ(e.TrackX, -593);

    f.ChangeType(-1);
    EXPECT_EQ(e.ElementType, 10);
    EXPECT_EQ(e.Parts[1].Bob->Sprite, FindSprite("Element_schlange"));
    f.ChangeType(1);
    EXPECT_EQ(e.ElementType, 1);
    for (int i = 0; i < 4; ++i) f.ChangeType(1);
    EXPECT_EQ(e.ElementType, 5);
    EXPECT_EQ(e.Parts[1].Bob->Sprite, FindSprite("Element_Decke_1"));
    EXPECT_EQ(e.Parts[1].Bob->Width, 388.0f);

    // Scrolling the view keeps the held piece under the mouse.
    f.ScrollPos -= 40;
    f.MoveWithScroll(-40);
    f.Step();
    EXPECT_EQ(e.TrackX, -633);
    EXPECT_FLOAT_EQ(e.Parts[1].Bob->X, 407.0f);

    f.Release();
    Mouse(0, 0);
    f.Step();
    EXPECT_EQ(e.TrackX, -633);
    f.ChangeType(1);
    EXPECT_EQ(e.ElementType, 5);
}

TEST_F(FrontTest, NudgedDepthStaysNearTheDefaultAndIsSavedRounded) {
    TFront& f = Make();
    f.SelectOrPlace(100, 100, 9);
    f.SelectOrPlace(100, 100, 1);
    ASSERT_TRUE(f.Dragging);
    TFrontelement& e = *f.Element[1];
    for (int i = 0; i < 30; ++i) f.Nudge(-1);
    // Applied only while z stays within 0.1 of the default: about ten steps down, no further.
    EXPECT_LT(e.Z, -700.085f);
    EXPECT_GT(e.Z, -700.115f);
    EXPECT_FLOAT_EQ(e.Parts[1].Bob->Z, e.Z);
    for (int i = 0; i < 30; ++i) f.Nudge(1);
    EXPECT_GT(e.Z, -699.915f);
    EXPECT_LT(e.Z, -699.885f);
    for (int i = 0; i < 14; ++i) f.Nudge(-1);
    EXPECT_LT(e.Z, -700.0f);

    // Track positions land on halves through the mouse; they are saved as the nearest integers.
    e.TrackX = 10.5L;
    e.SetY(20.5f);
    f.Save();
    TFrontTable s = ReadTable();
    EXPECT_EQ(s[1].Z, -700);
    EXPECT_EQ(s[1].TrackX, 10);
    EXPECT_EQ(s[1].Y, 20);
    EXPECT_EQ(s[1].Type, 9);

    // -1 would come back as a hole; the piece is kept a pixel further left instead.
    e.TrackX = -1.2L;
    f.Save();
    s = ReadTable();
    EXPECT_EQ(s[1].TrackX, -2);
    front_.reset();
    EXPECT_EQ(Make().Count, 1);
}

TEST_F(FrontTest, DeleteEmptiesTheSlotAndTheNextPieceTakesIt) {
    TFront& f = Make();
    f.SelectOrPlace(100, 100, 2);
    f.SelectOrPlace(700, 500, 3);
    ASSERT_EQ(f.Count, 2);
    f.SelectOrPlace(100, 100, 1);
    f.DeleteSelected();
    EXPECT_FALSE(f.Dragging);
    EXPECT_EQ(f.Count, 1);
    EXPECT_FALSE(f.Element[1]);
    f.Step();  // no selected piece any more
    f.Save();
    TFrontTable s = ReadTable();
    EXPECT_EQ(s[1].TrackX, -1);
    EXPECT_EQ(s[2].Type, 3);
    f.SelectOrPlace(100, 100, 4);
    EXPECT_EQ(f.Element[1]->ElementType, 4);
    EXPECT_EQ(f.Count, 2);
}

TEST_F(FrontTest, AFullCaveRefusesTheNextPiece) {
    TFront& f = Make();
    for (int i = 0; i < kFrontSlots; ++i) {
        f.ScrollPos = -1000 * i;
        f.SelectOrPlace(400, 300, 1);
    }
    ASSERT_EQ(f.Count, kFrontSlots);
    ClearLog();
    f.ScrollPos = 5000;
    f.SelectOrPlace(400, 300, 1);
    EXPECT_EQ(f.Count, kFrontSlots);
    EXPECT_FALSE(f.Dragging);
    EXPECT_TRUE(screen_->ErrorFlag);
    EXPECT_EQ(test::LogLines(),
              std::vector<std::string>{"Sorry, maximale Anzahl von Frontelementen erreicht"});
}

}  // namespace
}  // namespace zx
