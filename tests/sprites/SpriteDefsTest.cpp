#include "sprites/SpriteDefs.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Window.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "surface/Resources.h"
#include "testsupport/DisplayFixtures.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

std::string Block(const std::string& header, int w, int h, int images, int cols, int rows,
                  const std::vector<std::string>& anims,
                  const std::string& arrangement = "horizontale Anordnung") {
    auto num = [](int v, const char* c) {
        std::string s = std::to_string(v);
        s.resize(4, ' ');
        return s + c + "\n";
    };
    std::string b = "----------\n" + header + "\n" + num(w, "Punkte breit") +
                    num(h, "Punkte hoch") + num(images, "Image") + num(cols, "horizontal") +
                    num(rows, "vertikal") + arrangement + "\nANI\n";
    for (auto& a : anims) b += a + "\n";
    return b + "ANIEND\n";
}

std::string Msg(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "no error";
}

void WriteBmp(const std::string& path, int w, int h, int bits) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    SDL_Surface* s = bits == 8 ? SDL_CreateRGBSurfaceWithFormat(0, w, h, 8, SDL_PIXELFORMAT_INDEX8)
                               : SDL_CreateRGBSurfaceWithFormat(0, w, h, 24, SDL_PIXELFORMAT_BGR24);
    if (bits == 8) {
        SDL_Color grey[256];
        for (int i = 0; i < 256; ++i)
            grey[i] = {static_cast<Uint8>(i), static_cast<Uint8>(i), static_cast<Uint8>(i), 255};
        SDL_SetPaletteColors(s->format->palette, grey, 0, 256);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                static_cast<uint8_t*>(s->pixels)[y * s->pitch + x] = static_cast<uint8_t>(x + y);
    } else {
        SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 200, 10, 10));
    }
    SDL_SaveBMP(s, path.c_str());
    SDL_FreeSurface(s);
}

class SpriteDefsTest : public testing::Test {
protected:
    void SetUp() override { ClearLog(); }
    void TearDown() override { SetFolders(TFolders::Single(test::TempProgramDir())); }
    void Load(const std::string& text) { LoadSprites(SplitScriptLines(text)); }

    test::Restore<TDisplayState> savedDisplay_{DD};
    test::HeadlessDisplay display_;
    test::SpriteSheets sprites_;
};

struct Row {
    const char* name;
    int w, h, images;
};
const Row kShipped[] = {{"Orbelu", 186, 62, 1},
                        {"Element_Saeule", 361, 600, 1},
                        {"Element_Schlange", 153, 600, 1},
                        {"Element_boden_1", 288, 296, 1},
                        {"Element_boden_2", 323, 196, 1},
                        {"Element_boden_3", 273, 109, 1},
                        {"Element_boden_4", 549, 84, 1},
                        {"Element_decke_1", 388, 76, 1},
                        {"Element_decke_2", 195, 96, 1},
                        {"Element_decke_3", 258, 162, 1},
                        {"Element_decke_4", 165, 318, 1},
                        {"Torpedo", 162, 40, 12},
                        {"TorpedoScore", 10, 40, 1},
                        {"buttontostart", 709, 48, 1},
                        {"zolvex", 761, 65, 1},
                        {"playandwin", 251, 31, 1},
                        {"qvchlogo", 276, 66, 1},
                        {"titlevantor", 234, 37, 1},
                        {"Rohr", 111, 93, 2},
                        {"Schuss", 24, 79, 1},
                        {"HSLeerfeld1", 350, 50, 1},
                        {"HSLeerfeld2", 350, 50, 1},
                        {"HSLeerfeld3", 350, 50, 1},
                        {"HSLeerfeld4", 350, 50, 1},
                        {"HSLeerfeld5", 350, 50, 1},
                        {"HSLeerfeld6", 350, 50, 1},
                        {"HSLeerfeld7", 350, 50, 1},
                        {"HSLeerfeld8", 350, 50, 1},
                        {"HSLeerfeld9", 350, 50, 1},
                        {"HSLeerfeld10", 350, 50, 1},
                        {"helpfeld", 700, 50, 1},
                        {"Kondom", 303, 75, 12},
                        {"Abroll", 311, 81, 6},
                        {"sperm1", 306, 55, 12},
                        {"sperm3", 308, 58, 12},
                        {"bubble", 60, 60, 24},
                        {"virus1", 78, 58, 12},
                        {"virus2", 58, 60, 12},
                        {"virus3", 87, 68, 12},
                        {"Zahlen", 56, 60, 11},
                        {"bignumbers", 230, 222, 10},
                        {"bigtimefeld", 460, 222, 1},
                        {"congratulations", 50, 45, 16},
                        {"Gameover", 507, 68, 1},
                        {"Score", 131, 35, 1},
                        {"Time", 88, 34, 1},
                        {"Leerzeit", 336, 60, 1},
                        {"LeerPoints", 336, 60, 1},
                        {"P1", 110, 110, 1},
                        {"P2", 77, 77, 1},
                        {"P3", 54, 54, 1},
                        {"P4", 38, 38, 1},
                        {"P5", 27, 27, 1},
                        {"P6", 20, 20, 1},
                        {"P7", 15, 15, 1},
                        {"P8", 10, 10, 1},
                        {"Vantorlogo", 111, 84, 12},
                        {"points", 56, 20, 51}};

TEST_F(SpriteDefsTest, TheShippedScriptLoadsEverySheetAtItsSize) {
    auto res = FindResource("TEXT", "SBMEMO");
    ASSERT_TRUE(res);
    if (ResourceNames("BITMAP").empty()) GTEST_SKIP() << "sheets not generated in this build";
    SetFolders(TFolders::Single(test::BuiltProgramDir()));
    LoadSprites(SplitScriptLines(res->Text()));
    EXPECT_EQ(SpriteCount, 58);
    EXPECT_EQ(FrameCount, 259);
    EXPECT_EQ(SurfaceCount, 58);
    for (int i = 0; i < 58; ++i) {
        SCOPED_TRACE(kShipped[i].name);
        ASSERT_EQ(FindSprite(kShipped[i].name), i + 1);
        const TFrame& f = Frames[static_cast<size_t>(FirstFrame(i + 1))];
        EXPECT_EQ(f.SrcW, kShipped[i].w);
        EXPECT_EQ(f.SrcH, kShipped[i].h);
        const int next = i + 1 < 58 ? Sprites[static_cast<size_t>(i + 2)].FrameBase : FrameCount;
        EXPECT_EQ(next - Sprites[static_cast<size_t>(i + 1)].FrameBase, kShipped[i].images);
    }
    // A few animations as the game relies on them.
    const int rohr = FindSprite("rohr");
    int n = 0, t = 0;
    ASSERT_TRUE(AnimTiming(rohr, 1, n, t));
    EXPECT_EQ(n, 6);
    EXPECT_EQ(t, 1);
    EXPECT_EQ(FrameOf(rohr, 0, 0), FirstFrame(rohr) + 1);
    const int zahlen = FindSprite("Zahlen");
    EXPECT_EQ(AnimCount(zahlen), 11);
    EXPECT_EQ(FrameOf(zahlen, 10, 0), FirstFrame(zahlen) + 10);
    EXPECT_EQ(Frames[static_cast<size_t>(FrameOf(zahlen, 3, 0))].SrcX, 3 * 56);
    const int abroll = FindSprite("Abroll");
    EXPECT_EQ(FrameOf(abroll, 0, 0), FirstFrame(abroll) + 5);
    ASSERT_TRUE(AnimTiming(FindSprite("points"), 0, n, t));
    EXPECT_EQ(t, 0);
    EXPECT_EQ(AnimCount(FindSprite("congratulations")), 16);
    EXPECT_TRUE(
        Surfaces[static_cast<size_t>(
                     Frames[static_cast<size_t>(FirstFrame(FindSprite("HSLeerfeld1")))].SurfaceNo)]
            .FileName.empty());
    for (auto& line : test::LogLines())
        EXPECT_EQ(line.find("not found"), std::string::npos) << line;

    ReleaseSprites();
    EXPECT_EQ(SpriteCount + FrameCount + SurfaceCount, 0);
    EXPECT_EQ(Msg([] { FindSprite("Orbelu"); }), "Animation not found: ORBELU");
}

TEST(FrameList, FiltersRangesAndClamps) {
    using V = std::vector<int>;
    EXPECT_EQ(ParseFrameList("001-012", 12), (V{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(ParseFrameList("006-001", 6), (V{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(ParseFrameList("1,3,5,7,9,11", 12), (V{1, 3, 5, 7, 9, 11}));
    EXPECT_EQ(ParseFrameList("001,001,001", 2), (V{1, 1, 1}));
    EXPECT_EQ(ParseFrameList("3-3", 5), (V{3, 3}));
    EXPECT_EQ(ParseFrameList("0,99", 12), (V{1, 12}));
    EXPECT_EQ(ParseFrameList("x-,2 ,, 4--6;", 9),
              (V{2, 4, 5, 6}));  // junk and doubled separators dropped
    EXPECT_EQ(ParseFrameList("1-3-1", 5), (V{1, 2, 3, 2, 1}));
    EXPECT_EQ(ParseFrameList("5,", 9), (V{5}));
    EXPECT_TRUE(ParseFrameList("abc", 9).empty());
    EXPECT_LE(ParseFrameList("1-999,999-1,1-999", 999).size(), 1001u);  // never runs away
}

TEST(StrToInt, IsStrict) {
    EXPECT_EQ(StrToInt("002"), 2);
    EXPECT_EQ(StrToInt("  7"), 7);
    EXPECT_EQ(StrToInt("-12"), -12);
    EXPECT_EQ(Msg([] { StrToInt("0a2"); }), "'0a2' is not a valid integer value");
    EXPECT_EQ(Msg([] { StrToInt(""); }), "'' is not a valid integer value");
    EXPECT_EQ(Msg([] { StrToInt("12 "); }), "'12 ' is not a valid integer value");
}

TEST_F(SpriteDefsTest, HeadersKindsAndTheFirstMatchingBlock) {
    const std::string script =
        "Comment OBJECT lines only count at the start\n" +
        Block("OBJECT HSLeer1: CreateAnimation", 10, 5, 1, 1, 1, {"standard 001; (002/000)"}) +
        Block("OBJECT HSLeer10: CreateAnimation", 20, 7, 1, 1, 1, {"standard 001; (002/000)"}) +
        Block("OBJECT Nothing: Movielist", 1, 1, 1, 1, 1, {}) +
        Block("OBJECT NoKind: ", 1, 1, 1, 1, 1, {}) +
        Block("OBJECTS: CreateAnimation", 1, 1, 1, 1, 1, {}) +  // colon too early: no header
        Block("  object Grid: CreateAnimation", 4, 3, 6, 2, 3,
              {"all      1-6; (001/007)", "rev      6-1; (000/000)"}, "vertikale Anordnung");
    Load(script);
    EXPECT_EQ(SpriteCount, 3);
    EXPECT_EQ(SurfaceCount, 3);
    EXPECT_EQ(Sprites[1].Name, "HSLEER1");
    EXPECT_EQ(Frames[static_cast<size_t>(FirstFrame(1))].SrcW, 10);  // HSLeer1's own block
    EXPECT_EQ(Frames[static_cast<size_t>(FirstFrame(2))].SrcW, 20);
    const int grid = FindSprite("grid");
    EXPECT_EQ(grid, 3);
    // Column by column: image 1 is column 0 row 1.
    EXPECT_EQ(Frames[static_cast<size_t>(FirstFrame(grid) + 1)].SrcX, 0);
    EXPECT_EQ(Frames[static_cast<size_t>(FirstFrame(grid) + 1)].SrcY, 3);
    EXPECT_EQ(Frames[static_cast<size_t>(FirstFrame(grid) + 3)].SrcX, 4);
    EXPECT_EQ(Frames[static_cast<size_t>(FirstFrame(grid) + 3)].SrcY, 0);
    EXPECT_EQ(Sprites[3].MovieList,
              (std::vector<uint16_t>{6, 1, 7, 1, 2, 3, 4, 5, 6, 6, 0, 0, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(Sprites[3].AnimStart[1], 9);
    EXPECT_EQ(Sprites[3].MovieBytes, 36);
    EXPECT_EQ(FrameOf(grid, 1, 0), Sprites[3].FrameBase + 6);
    EXPECT_EQ(FrameOf(grid, 2, 0), 0);  // no such animation
    EXPECT_EQ(FrameOf(grid, 0, 6), 0);  // past the list
    EXPECT_EQ(FrameOf(99, 0, 0), 0);

    // Were the order reversed, HSLeer1 would find HSLeer10's block.
    ReleaseSprites();
    Load(Block("OBJECT HSLeer10: CreateAnimation", 20, 7, 1, 1, 1, {"standard 001; (002/000)"}) +
         Block("OBJECT HSLeer1: CreateAnimation", 10, 5, 1, 1, 1, {"standard 001; (002/000)"}));
    EXPECT_EQ(Frames[static_cast<size_t>(FirstFrame(2))].SrcW, 20);
}

TEST_F(SpriteDefsTest, PicturesSheetsAndMasksFromFiles) {
    const std::string gfx = test::TempProgramDir() + "/gfx/sb/";
    WriteBmp(gfx + "tsheet.bmp", 40, 20, 24);
    WriteBmp(gfx + "TSHEET_mask.bmp", 40, 20, 8);
    WriteBmp(gfx + "tpicturebox.bmp", 30, 30, 24);
    const std::string script =
        Block("OBJECT tsheet: Animation", 0, 0, 4, 4, 1, {"standard 001-004; (003/000)"}) +
        "OBJECT tPictureBox: Animation\n0\n0\n2  Image\n0\n0\n" +
        "    0001 0002 0010 0011\n    0012 0013 0005 0006\n";
    Load(script);
    ASSERT_EQ(SpriteCount, 1);
    EXPECT_EQ(SurfaceCount, 2);
    EXPECT_EQ(FrameCount, 6);
    EXPECT_EQ(Frames[2].SrcX, 10);
    EXPECT_EQ(Frames[2].SrcW, 10);
    EXPECT_TRUE(Frames[2].UseMask);
    const TSurfaceEntry& s = Surfaces[1];
    ASSERT_EQ(s.Mask.size(), 40u * 20u);
    EXPECT_EQ(s.Mask[1 * 40 + 3], 4);  // top row first
    EXPECT_TRUE(s.Surface->HasColorKey());
    EXPECT_EQ(s.FileName, test::TempProgramDir() + "/gfx/sb/TSHEET.bmp");
    // The picture object: rectangles from the fixed columns, no mask use, no sprite.
    EXPECT_EQ(Frames[5].SrcX, 1);
    EXPECT_EQ(Frames[5].SrcW, 10);
    EXPECT_EQ(Frames[6].SrcY, 13);
    EXPECT_FALSE(Frames[6].UseMask);
    EXPECT_TRUE(Surfaces[2].Mask.empty());
    auto log = test::LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        test::TempProgramDir() + "/gfx/sb/tsheet.bmp loaded as file"),
              log.end());
}

TEST_F(SpriteDefsTest, BrokenScriptsRaiseTheirMessages) {
    const std::string gfx = test::TempProgramDir() + "/gfx/sb/";
    auto load = [&](const std::string& text) {
        ReleaseSprites();
        return Msg([&] { Load(text); });
    };
    const std::string lost = Block("OBJECT Lost: CreateAnimation", 1, 1, 1, 1, 1, {});
    EXPECT_EQ(load(lost.substr(0, lost.find("ANI"))), "Keyword \"ANI\" not found");
    EXPECT_EQ(Msg([] { LoadObject("Nope"); }), "Keyword \"OBJECT Nope\" not found");
    EXPECT_EQ(
        load(Block("OBJECT Bad: CreateAnimation", 1, 1, 1, 1, 1, {"standard 001; (0x2/000)"})),
        "'0x2' is not a valid integer value");

    WriteBmp(gfx + "wide.bmp", 617, 60, 24);
    EXPECT_EQ(load(Block("OBJECT wide: Animation", 56, 60, 11, 11, 1, {"standard 001; (002/000)"})),
              "LoadGO: Maße von WIDE nicht stimmig: Gesamtbreite(617),Animationsbreite(56),hor. "
              "Animationsanzahl(11)");
    WriteBmp(gfx + "tall.bmp", 10, 61, 24);
    EXPECT_EQ(load(Block("OBJECT tall: Animation", 10, 20, 3, 1, 3, {"standard 001; (002/000)"})),
              "LoadGO: Maße von TALL nicht stimmig: Gesamthoehe(61),Animationshoehe(20),ver. "
              "Animationsanzahl(3)");
    EXPECT_EQ(
        load(Block("OBJECT zero: CreateAnimation", 10, 20, 1, 0, 1, {"standard 001; (002/000)"})),
        "LoadGO: Maße von ZERO nicht stimmig: Gesamtbreite(0),Animationsbreite(0),hor. "
        "Animationsanzahl(0)");

    // A sheet made from the script's own figures is bounded like one read from a file.
    EXPECT_EQ(load(Block("OBJECT huge: CreateAnimation", 9999, 9999, 1, 9999, 1,
                         {"standard 001; (002/000)"})),
              "LoadGO: Maße von HUGE nicht stimmig: 998001x999");

    WriteBmp(gfx + "masked.bmp", 10, 10, 24);
    WriteBmp(gfx + "masked_mask.bmp", 10, 10, 24);
    EXPECT_EQ(load(Block("OBJECT masked: Animation", 10, 10, 1, 1, 1, {"standard 001; (002/000)"})),
              "Bitmap isn't 8bpp: " + gfx + "MASKED_mask.bmp");
    WriteBmp(gfx + "masked_mask.bmp", 9, 10, 8);
    EXPECT_NE(load(Block("OBJECT masked: Animation", 10, 10, 1, 1, 1, {"standard 001; (002/000)"}))
                  .find("doesn't match"),
              std::string::npos);

    ClearLog();
    EXPECT_EQ(load(Block("OBJECT absent: Animation", 10, 10, 1, 1, 1, {"standard 001; (002/000)"})),
              test::TempProgramDir() + "/gfx/sb/ABSENT not found!");
    EXPECT_EQ(test::LogLines().back(), test::TempProgramDir() + "/gfx/sb/ABSENT not found!");

    // Frames: 2500 fit, the 2501st does not.
    EXPECT_EQ(
        load(Block("OBJECT many: CreateAnimation", 1, 1, 999, 999, 1, {"standard 001; (002/000)"}) +
             Block("OBJECT more: CreateAnimation", 1, 1, 999, 999, 1, {"standard 001; (002/000)"}) +
             Block("OBJECT most: CreateAnimation", 1, 1, 502, 502, 1, {"standard 001; (002/000)"}) +
             Block("OBJECT over: CreateAnimation", 1, 1, 1, 1, 1, {"standard 001; (002/000)"})),
        "Exception raised in LoadGO: Too many sprites");
    EXPECT_EQ(FrameCount, 2500);

    ReleaseSprites();
    for (int i = 0; i < 999; ++i) CreateSheet("", 1, 1);
    EXPECT_EQ(Msg([] { CreateSheet("", 1, 1); }),
              "Exception raised in creatememsurface: Too many surfaces");
    EXPECT_EQ(SurfaceCount, 999);
}

TEST_F(SpriteDefsTest, OpenLimitsAreRefusedNotOverrun) {
    std::vector<std::string> anims(102, "a        1; (002/000)");
    std::string msg =
        Msg([&] { Load(Block("OBJECT anims: CreateAnimation", 1, 1, 1, 1, 1, anims)); });
    EXPECT_EQ(msg, "Exception raised in LoadGO: Too many animations in ANIMS");
    anims.resize(101);
    ReleaseSprites();
    EXPECT_EQ(Msg([&] { Load(Block("OBJECT anims: CreateAnimation", 1, 1, 1, 1, 1, anims)); }),
              "no error");
    EXPECT_EQ(AnimCount(1), 101);

    ReleaseSprites();
    msg = Msg([&] {
        Load(Block("OBJECT long: CreateAnimation", 1, 1, 999, 999, 1,
                   {"a        1-999; (002/000)", "b        1-999; (002/000)"}));
    });
    EXPECT_EQ(msg, "Exception raised in LoadGO: Movie list of LONG too long");

    ReleaseSprites();
    std::string many = "a        1; (002/000) (SOUNDS 1:";
    for (int i = 0; i < 101; ++i) many += "1,2,3,";
    many += ")";
    msg = Msg([&] { Load(Block("OBJECT snd: CreateAnimation", 1, 1, 1, 1, 1, {many})); });
    EXPECT_EQ(msg.find("Exception raised in LoadGO: Too many sounds in slot 1"), 0u) << msg;

    ReleaseSprites();
    std::string tooMany;
    for (int i = 0; i < 401; ++i)
        tooMany += "OBJECT s" + std::to_string(i) +
                   "x: CreateAnimation\n1\n1\n1\n1\n1\nh\nANI\na        1; (002/000)\nANIEND\n";
    EXPECT_EQ(Msg([&] { Load(tooMany); }),
              "Exception raised in LoadGO: Too many sprite definitions");
    EXPECT_EQ(SpriteCount, 400);
}

TEST_F(SpriteDefsTest, SoundSectionsFillTheirSlots) {
    Load(Block(
        "OBJECT noisy: CreateAnimation", 1, 1, 4, 4, 1,
        {"quiet    1-4; (002/000)", "loud     1-4; (002/000) (Sounds 1:0,100,-5 3:2,1,7,3,9,9)",
         "open     1-4; (002/000) (SOUNDS 2:1,2,3,4,5,6"}));
    ASSERT_EQ(SpriteCount, 1);
    const SpriteDef& d = Sprites[1];
    EXPECT_FALSE(d.Sounds[0]);
    ASSERT_TRUE(d.Sounds[1]);
    const auto& s1 = d.Sounds[1]->Slots[1];
    EXPECT_EQ(s1.FileName, test::TempProgramDir() + "/gfx/sb/NOISY_loud_1.wav");
    ASSERT_EQ(s1.Count, 1);
    EXPECT_EQ(s1.Entries[0].Value8, 100);
    EXPECT_EQ(s1.Entries[0].Value32, 5);  // '-' is a separator, not a sign
    const auto& s3 = d.Sounds[1]->Slots[3];
    ASSERT_EQ(s3.Count, 2);
    EXPECT_EQ(s3.Entries[1].FramePos, 3);
    EXPECT_TRUE(d.Sounds[1]->Slots[2].FileName.empty());
    ASSERT_TRUE(d.Sounds[2]);
    EXPECT_EQ(d.Sounds[2]->Slots[2].Count, 2);  // no ")": read to the end of the line
    // No wave bound to a slot: nothing plays, nothing fails.
    StepSounds(1, 1, 0);
    StepSounds(1, 2, 1);
    StepSounds(1, 50, 0);
    StepSounds(7, 0, 0);
}

TEST_F(SpriteDefsTest, StretchblitAndDrawFrame) {
    auto back = CreateOffscreenSurface(100, 100, 0), front = CreateOffscreenSurface(100, 100, 0);
    DD.FlipList = {front, back};
    Load(Block("OBJECT blank: CreateAnimation", 10, 10, 2, 2, 1, {"standard 1-2; (002/000)"}));
    DirectDrawSurface* sheet = Surfaces[1].Surface.get();
    ColorFill(sheet, 0, 0, 10, 10, 0xFF0000);
    ColorFill(sheet, 10, 0, 10, 10, 0x00FF00);
    Stretchblit(back.get(), 50, 50, 20, 20, 2, 0, 0, 99, 99, 1, 255);
    auto px = [&](int x, int y) {
        return platform::ReadPixel(back->Bits() + y * back->Pitch() + x * 4, 4);
    };
    EXPECT_EQ(px(40, 40), 0x00FF00u);
    EXPECT_EQ(px(59, 59), 0x00FF00u);
    EXPECT_EQ(px(60, 60), 0u);
    Stretchblit(back.get(), 5, 5, 10, 10, 0, 0, 0, 99, 99, 1, 255);  // no frame 0
    Stretchblit(back.get(), 5, 5, 10, 10, 3, 0, 0, 99, 99, 1, 255);  // past the table
    EXPECT_EQ(px(5, 5), 0u);

    DD.HintStripHeight = 12;
    DD.SetGameArea(100, 100);
    DrawFrame(back.get(), 0, 85, 1, platform::Rect{0, 0, 99, 99});
    EXPECT_EQ(px(0, 87), 0xFF0000u);
    EXPECT_EQ(px(0, 88), 0u);  // the status line stays free

    DD.BlendSurface = CreateOffscreenSurface(100, 100, platform::DDSCAPS_SYSTEMMEMORY);
    ClearLog();
    DD.BlendSurface = CreateOffscreenSurface(2, 2, 0);  // too small: the blend refuses
    EXPECT_THROW(Stretchblit(back.get(), 50, 50, 20, 20, 1, 0, 0, 99, 99, 1, 100), Exception);
    EXPECT_EQ(
        test::LogLines().back(),
        "Error in Stretchblit: Dest rectangle outside surface boundaries (0,0,10,10,50,50,20,20)");
}

}  // namespace
}  // namespace zx
