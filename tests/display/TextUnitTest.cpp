#include "display/TextUnit.h"

#include <gtest/gtest.h>

#include "platform/Window.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "testsupport/DisplayFixtures.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

uint32_t Px(DirectDrawSurface* s, int x, int y) {
    return platform::ReadPixel(s->Bits() + y * s->Pitch() + x * s->BytesPerPixel(),
                               s->BytesPerPixel());
}

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};
// Bounding box of the pixels that differ from the background value.
Box Changed(DirectDrawSurface* s, uint32_t background, uint32_t only = 0xFFFFFFFF) {
    Box b;
    for (int y = 0; y < s->Height(); ++y)
        for (int x = 0; x < s->Width(); ++x) {
            uint32_t v = Px(s, x, y);
            if (v == background || (only != 0xFFFFFFFF && v != only)) continue;
            b.left = std::min(b.left, x), b.right = std::max(b.right, x);
            b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
            ++b.count;
        }
    return b;
}

class TextUnitTest : public testing::Test {
protected:
    void SetUp() override { ClearLog(); }
    SurfacePtr Surface(int w, int h, uint32_t rgb = 0) {
        auto s = CreateOffscreenSurface(w, h, platform::DDSCAPS_SYSTEMMEMORY);
        ColorFill(s.get(), 0, 0, w, h, rgb);
        return s;
    }
    test::Restore<TDisplayState> savedDisplay_{DD};
    test::HeadlessDisplay display_;
    test::SpriteSheets sprites_;
};

TEST_F(TextUnitTest, ArialIsAMetricCompatibleFaceAtNinetySixDpi) {
    EXPECT_NE(FontFileFor("Arial", fsBold).find("LiberationSans-Bold"), std::string::npos);
    EXPECT_NE(FontFileFor("Arial", 0).find("LiberationSans-Regular"), std::string::npos);
    int w = 0, h = 0;
    MeasureText("M", "Arial", 24, fsBold, w, h);
    // 24 points at 96 dpi are 32 pixels to the em; the line is a little taller.
    EXPECT_GE(h, 34);
    EXPECT_LE(h, 40);
    int w12 = 0, h12 = 0;
    MeasureText("Loading...", "Arial", 12, 0, w12, h12);
    MeasureText("Loading...", "Arial", 24, 0, w, h);
    EXPECT_NEAR(w, 2 * w12, 3);
}

TEST_F(TextUnitTest, LoadingIsCentredWithAWhiteOutline) {
    auto s = Surface(800, 600);
    PrintText(400, 300, "Loading...", 2, 1, 0x000000, 1, "Arial", 24, fsBold, s.get());
    Box all = Changed(s.get(), 0);
    ASSERT_GT(all.count, 100);
    EXPECT_NEAR((all.left + all.right) / 2.0, 400, 3);
    EXPECT_NEAR((all.top + all.bottom) / 2.0, 300, 8);  // the line box, not the ink, is centred
    Box white = Changed(s.get(), 0, 0xFFFFFF);
    EXPECT_GT(white.count, 50);
}

TEST_F(TextUnitTest, OutlineIsNearBlackOnlyAboveSum128) {
    auto bright = Surface(200, 60, 0x808080);
    PrintText(5, 5, "Ab", 0, 0, 0x0000FF, 1, "Arial", 20, fsBold, bright.get());  // red, sum 255
    EXPECT_GT(Changed(bright.get(), 0x808080, 0x0F0F0F).count, 20);
    EXPECT_EQ(Changed(bright.get(), 0x808080, 0xFFFFFF).count, 0);
    auto dim = Surface(200, 60, 0x808080);
    PrintText(5, 5, "Ab", 0, 0, 0x800000, 1, "Arial", 20, fsBold, dim.get());  // blue 128: sum 128
    EXPECT_GT(Changed(dim.get(), 0x808080, 0xFFFFFF).count, 20);
    EXPECT_EQ(Changed(dim.get(), 0x808080, 0x0F0F0F).count, 0);
}

TEST_F(TextUnitTest, RightAlignedTextEndsOutlineWidthBeforeX) {
    auto s = Surface(100, 40, 0x808080);
    PrintText(45, 0, "88", 1, 0, 0xFFFFFF, 1, "Arial", 12, 0, s.get());
    Box face = Changed(s.get(), 0x808080, 0xFFFFFF);
    ASSERT_GT(face.count, 0);
    EXPECT_LE(face.right, 43);
    EXPECT_GE(face.right, 40);
    EXPECT_LE(Changed(s.get(), 0x808080).right, 44);
}

TEST_F(TextUnitTest, TooWideTextShrinksDownToSizeFive) {
    const std::string name = "Maximiliane Musterfrau-Beispiel";
    auto row = Surface(350, 50);
    Printtosurface(0, 0, 0, 100, 0, 0, name, 0, 0, 0xFFFFFF, 0, "Arial", 20, fsBold, row.get());
    Box b = Changed(row.get(), 0);
    ASSERT_GT(b.count, 0);
    EXPECT_LE(b.right, 249);
    EXPECT_GT(b.right, 200);  // shrunk one point at a time: the largest size that fits
    int w = 0, h = 0;
    MeasureText(name, "Arial", 20, fsBold, w, h);
    EXPECT_GT(w, 250);

    const std::string longer(200, 'W');
    auto small = Surface(350, 50);
    Printtosurface(0, 0, 0, 100, 0, 0, longer, 0, 0, 0xFFFFFF, 0, "Arial", 20, fsBold, small.get());
    MeasureText(longer, "Arial", 5, fsBold, w, h);
    EXPECT_GT(w, 350);
    EXPECT_EQ(Changed(small.get(), 0).right, 349);  // drawn at size 5 even though it overflows
}

TEST_F(TextUnitTest, TextOnAKeyedSheetLeavesNoKeyColouredHoles) {
    for (int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        platform::PixelFormat f;
        f.bitCount = static_cast<uint32_t>(bits);
        if (bits == 32) f.rMask = 0xFF0000, f.gMask = 0xFF00, f.bMask = 0xFF;
        auto s = std::make_shared<DirectDrawSurface>(nullptr, 0, 120, 40, f);
        PrintText(2, 2, "Kondom", 0, 0, 0x000000, 0, "Arial", 14, fsBold, s.get());
        Box b = Changed(s.get(), 0);
        EXPECT_GT(b.count, 40);  // black text on the black key is still there
        EXPECT_EQ(Changed(s.get(), 0, 1).count, b.count);  // as the darkest non-key value
    }
}

TEST_F(TextUnitTest, FailuresAreLoggedWithTheirFigures) {
    EXPECT_THROW(PrintText(0, 0, "Hi", 0, 0, 0, 0, "Arial", 10, 0, nullptr), Exception);
    EXPECT_EQ(test::LogLines().back(),
              "Error in Printtosurface: Cannot create canvas for NIL surface (Hi,0,0,0,0)");
}

std::string Script() {
    std::string s = "OBJECT digits: CreateAnimation\n5\n4\n11\n11\n1\nh\nANI\n";
    for (int i = 0; i < 10; ++i)
        s += std::to_string(i) + "        " + (i < 9 ? "00" : "0") + std::to_string(i + 1) +
             "; (002/000)\n";
    s += "kondom   011; (002/000)\nANIEND\n";
    s +=
        "OBJECT field: CreateAnimation\n100\n4\n1\n1\n1\nh\nANI\nstandard 001; (002/000)\nANIEND\n";
    return s;
}

TEST_F(TextUnitTest, NumbersAreDrawnWithDigitFrames) {
    LoadSprites(SplitScriptLines(Script()));
    const int digits = FindSprite("digits"), field = FindSprite("field");
    DirectDrawSurface* sheet = Surfaces[1].Surface.get();
    for (int i = 0; i < 11; ++i)
        ColorFill(sheet, i * 5, 0, 5, 4, static_cast<uint32_t>(i + 1) << 20);
    DirectDrawSurface* target = Surfaces[2].Surface.get();
    auto colourOf = [](int anim) { return static_cast<uint32_t>(anim + 1) << 20; };

    Paintnumbertosurface(-123, 0, field, digits, 0);
    EXPECT_EQ(Px(target, 0, 0), colourOf(10));
    EXPECT_EQ(Px(target, 5, 3), colourOf(1));
    EXPECT_EQ(Px(target, 10, 0), colourOf(2));
    EXPECT_EQ(Px(target, 19, 0), colourOf(3));
    EXPECT_EQ(Px(target, 20, 0), 0u);

    Paintnumbertosurface(7, 3, field, digits, 1);  // "007" at the right edge
    EXPECT_EQ(Px(target, 0, 0), 0u);
    EXPECT_EQ(Px(target, 85, 0), colourOf(0));
    EXPECT_EQ(Px(target, 99, 0), colourOf(7));
    Paintnumbertosurface(42, 0, field, digits, 2);  // centred: (100 - 10) / 2
    EXPECT_EQ(Px(target, 45, 0), colourOf(4));
    EXPECT_EQ(Px(target, 54, 0), colourOf(2));
    EXPECT_EQ(Px(target, 44, 0), 0u);

    for (int v : {1234567, -123456}) {
        ColorFill(target, 0, 0, 100, 4, 0x123456);
        Paintnumbertosurface(v, 0, field, digits, 0);
        EXPECT_EQ(Changed(target, 0).count, 0) << v;
    }
}

TEST_F(TextUnitTest, HintStripGoesIntoTheBackImageAndBothBuffers) {
    DD.BackImage = Surface(800, 600, 0x808080);
    auto front = Surface(800, 600, 0x808080), back = Surface(800, 600, 0x808080);
    DD.FlipList = {front, back};
    DrawHintStrip("Hint");
    EXPECT_EQ(Changed(DD.BackImage.get(), 0x808080).count, 0);  // no strip while its height is 0

    DD.HintStripHeight = 12;
    DrawHintStrip("Press Escape to leave");
    for (auto* s : {DD.BackImage.get(), front.get(), back.get()}) {
        EXPECT_EQ(Px(s, 0, 588), 0u);
        EXPECT_EQ(Px(s, 799, 599), 0u);
        EXPECT_EQ(Px(s, 0, 587), 0x808080u);
        Box white = Changed(s, 0, 0xFFFFFF);
        ASSERT_GT(white.count, 10);
        EXPECT_NEAR((white.left + white.right) / 2.0, 400, 3);
        EXPECT_GE(white.top, 588);
    }
}

}  // namespace
}  // namespace zx
