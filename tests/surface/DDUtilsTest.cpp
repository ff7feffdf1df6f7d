#include "surface/DDUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/Window.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "surface/BmpCheck.h"
#include "surface/Resources.h"
#include "testsupport/DisplayFixtures.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

using platform::PixelFormat;
using platform::Rect;

SurfacePtr Make(int w, int h, int bits = 32) {
    return std::make_shared<DirectDrawSurface>(nullptr, platform::DDSCAPS_OFFSCREENPLAIN, w, h,
                                               test::TestPixelFormat(bits));
}

uint32_t Px(DirectDrawSurface* s, int x, int y) {
    return platform::ReadPixel(s->Bits() + y * s->Pitch() + x * s->BytesPerPixel(),
                               s->BytesPerPixel());
}
void SetPx(DirectDrawSurface* s, int x, int y, uint32_t v) {
    platform::WritePixel(s->Bits() + y * s->Pitch() + x * s->BytesPerPixel(), s->BytesPerPixel(),
                         v);
}
void FillAll(DirectDrawSurface* s, uint32_t v) {
    for (int y = 0; y < s->Height(); ++y)
        for (int x = 0; x < s->Width(); ++x) SetPx(s, x, y, v);
}
// Each pixel holds its column + 1 (so none is the key colour 0).
void ColumnRamp(DirectDrawSurface* s) {
    for (int y = 0; y < s->Height(); ++y)
        for (int x = 0; x < s->Width(); ++x) SetPx(s, x, y, static_cast<uint32_t>(x + 1));
}

class DDUtilsTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = DD;
        DD.DisplayOffsetX = DD.DisplayOffsetY = 0;
        DD.TransparencyOn = true;
        DD.SetGameArea(800, 600);
        DD.FlipList.clear();
        DD.BlendSurface.reset();
    }
    void TearDown() override { DD = saved_; }
    TDisplayState saved_;
};

TEST_F(DDUtilsTest, BlitClippedCutsAtTheClipBounds) {
    auto src = Make(100, 10), dst = Make(200, 20);
    ColumnRamp(src.get());
    BlitClipped(src.get(), 0, 0, 100, 10, dst.get(), -30, 0, 0, 0, 0, 199, 19);
    EXPECT_EQ(Px(dst.get(), 0, 0), 31u);    // source column 30
    EXPECT_EQ(Px(dst.get(), 69, 9), 100u);  // source column 99
    EXPECT_EQ(Px(dst.get(), 70, 0), 0u);

    // Right edge exactly on the clip bound: whole; one further: the last column is lost.
    auto d2 = Make(200, 20);
    BlitClipped(src.get(), 0, 0, 100, 10, d2.get(), 100, 0, 0, 0, 0, 199, 19);
    EXPECT_EQ(Px(d2.get(), 199, 0), 100u);
    auto d3 = Make(200, 20);
    BlitClipped(src.get(), 0, 0, 100, 10, d3.get(), 101, 0, 0, 0, 0, 199, 19);
    EXPECT_EQ(Px(d3.get(), 199, 0), 99u);

    // Entirely outside, or clip bounds that leave nothing: nothing drawn, no failure.
    auto d4 = Make(200, 20);
    BlitClipped(src.get(), 0, 0, 100, 10, d4.get(), 200, 0, 0, 0, 0, 199, 19);
    BlitClipped(src.get(), 0, 0, 100, 10, d4.get(), 0, -10, 0, 0, 0, 199, 19);
    BlitClipped(src.get(), 0, 0, 100, 10, d4.get(), 0, 0, 0, 50, 0, 40, 19);
    for (int x = 0; x < 200; ++x) ASSERT_EQ(Px(d4.get(), x, 0), 0u);
}

TEST_F(DDUtilsTest, BlitClippedHonoursTheKeyAndTheOffsetOfBackSurfaces) {
    auto src = Make(4, 1), back = Make(20, 4), front = Make(20, 4);
    SetPx(src.get(), 0, 0, 5), SetPx(src.get(), 1, 0, 0), SetPx(src.get(), 2, 0, 7),
        SetPx(src.get(), 3, 0, 8);
    src->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
    FillAll(back.get(), 9);
    DD.FlipList = {front, back};
    DD.DisplayOffsetX = 10, DD.DisplayOffsetY = 1;
    BlitClipped(src.get(), 0, 0, 4, 1, back.get(), 0, 0, 1, 0, 0, 799, 599);
    EXPECT_EQ(Px(back.get(), 10, 1), 5u);
    EXPECT_EQ(Px(back.get(), 11, 1), 9u);  // key colour left the background
    EXPECT_EQ(Px(back.get(), 12, 1), 7u);
    BlitClipped(src.get(), 0, 0, 4, 1, front.get(), 0, 0, 0, 0, 0, 799, 599);
    EXPECT_EQ(Px(front.get(), 0, 0), 5u);  // item 0 is never moved
}

TEST_F(DDUtilsTest, BlitSpriteCutsTheSourceWithBankersRounding) {
    auto src = Make(50, 4), dst = Make(200, 8);
    ColumnRamp(src.get());
    // 50 drawn 100 wide at x = -10: left cut 10, source cut 5, the rest stretched 2:1.
    BlitSprite(src.get(), nullptr, 0, 0, 50, 4, dst.get(), -10, 0, 100, 4, 0, 255, 0, 0, 199, 7);
    EXPECT_EQ(Px(dst.get(), 0, 0), 6u);
    EXPECT_EQ(Px(dst.get(), 1, 0), 6u);
    EXPECT_EQ(Px(dst.get(), 2, 0), 7u);
    EXPECT_EQ(Px(dst.get(), 89, 3), 50u);
    EXPECT_EQ(Px(dst.get(), 90, 0), 0u);

    // Cut 1 at scale 2 is 0.5 source columns, which rounds to 0; cut 3 is 1.5, rounding to 2.
    auto d1 = Make(200, 8);
    BlitSprite(src.get(), nullptr, 0, 0, 50, 4, d1.get(), -1, 0, 100, 4, 0, 255, 0, 0, 199, 7);
    // 50 source columns onto 99 pixels: the first pixel is source column 0.
    EXPECT_EQ(Px(d1.get(), 0, 0), 1u);
    auto d3 = Make(200, 8);
    BlitSprite(src.get(), nullptr, 0, 0, 50, 4, d3.get(), -3, 0, 100, 4, 0, 255, 0, 0, 199, 7);
    EXPECT_EQ(Px(d3.get(), 0, 0), 3u);  // source column 2

    // Source cuts that eat the whole source draw nothing; so does a zero-sized source.
    auto d4 = Make(200, 8);
    BlitSprite(src.get(), nullptr, 0, 0, 50, 4, d4.get(), -99, 0, 100, 4, 0, 255, 0, 0, 199, 7);
    BlitSprite(src.get(), nullptr, 0, 0, 0, 4, d4.get(), 0, 0, 100, 4, 0, 255, 0, 0, 199, 7);
    for (int x = 0; x < 200; ++x) ASSERT_EQ(Px(d4.get(), x, 0), 0u);
}

TEST_F(DDUtilsTest, BlitSpriteRightEdgeAndKey) {
    auto src = Make(10, 2), dst = Make(100, 4);
    ColumnRamp(src.get());
    SetPx(src.get(), 3, 0, 0);
    src->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
    FillAll(dst.get(), 0xAA);
    BlitSprite(src.get(), nullptr, 0, 0, 10, 2, dst.get(), 90, 0, 10, 2, 1, 255, 0, 0, 99, 3);
    EXPECT_EQ(Px(dst.get(), 99, 0), 10u);
    EXPECT_EQ(Px(dst.get(), 93, 0), 0xAAu);  // keyed pixel
    BlitSprite(src.get(), nullptr, 0, 0, 10, 2, dst.get(), 91, 1, 10, 1, 0, 255, 0, 0, 99, 3);
    EXPECT_EQ(Px(dst.get(), 99, 1), 9u);  // one column lost
}

// An unscaled keyed copy keeps the sheet's runs of opaque pixels from its second copy on; every
// way of writing the sheet again drops them, so each copy shows the sheet as it is then: the
// display's own keyed blit of the same sheet is the reference.
TEST_F(DDUtilsTest, KeyedCopiesShowTheSheetAsItIsAfterEveryWayOfWritingIt) {
    for (int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        auto sheet = Make(120, 6, bits), ours = Make(130, 8, bits), theirs = Make(130, 8, bits);
        auto other = Make(120, 6, bits);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 120; ++x) {
                // Runs long enough to be kept: 48 pixels opaque, 24 keyed.
                SetPx(sheet.get(), x, y,
                      (x / 24 + y) % 3 ? static_cast<uint32_t>(x + 9 * y + 1) : 0);
                SetPx(other.get(), x, y, static_cast<uint32_t>(x % 50 < 9 ? 0 : 300 + x));
            }
        sheet->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
        other->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
        auto copyAndCompare = [&](const char* after) {
            SCOPED_TRACE(after);
            // Three copies: the masked kernel, the runs worked out, the runs kept; of a cut
            // rectangle and of whole rows, which take ways of their own.
            for (int i = 0; i < 3; ++i)
                for (const Rect& r : {Rect{2, 1, 112, 6}, Rect{0, 1, 120, 5}}) {
                    FillAll(ours.get(), 0x55);
                    FillAll(theirs.get(), 0x55);
                    BlitSprite(sheet.get(), nullptr, r.left, r.top, r.Width(), r.Height(),
                               ours.get(), 7, 2, r.Width(), r.Height(), 1, 255, 0, 0, 129, 7);
                    Rect d{7, 2, 7 + r.Width(), 2 + r.Height()};
                    ASSERT_EQ(theirs->Blt(&d, sheet.get(), &r, platform::DDBLT_KEYSRC, nullptr),
                              platform::DD_OK);
                    ASSERT_EQ(std::memcmp(ours->Bits(), theirs->Bits(),
                                          static_cast<size_t>(ours->Pitch()) * 8),
                              0)
                        << "copy " << i << " of " << r.Width() << " x " << r.Height();
                }
            ASSERT_TRUE(sheet->Derived()) << "the runs are kept with the sheet";
        };
        copyAndCompare("first");
        void* raw = nullptr;
        int32_t pitch = 0;
        ASSERT_EQ(sheet->Lock(&raw, &pitch), platform::DD_OK);
        std::memset(static_cast<uint8_t*>(raw) + 2 * pitch, 0, static_cast<size_t>(pitch));
        std::memset(static_cast<uint8_t*>(raw) + 3 * pitch, 0x11, static_cast<size_t>(pitch));
        sheet->Unlock();
        copyAndCompare("a lock");
        // New colours in the same shape: the runs would still fit, their pixels would not.
        ASSERT_EQ(sheet->Lock(&raw, &pitch), platform::DD_OK);
        const int B = sheet->BytesPerPixel();
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 120; ++x) {
                uint8_t* p = static_cast<uint8_t*>(raw) + y * pitch + x * B;
                if (const uint32_t v = platform::ReadPixel(p, B))
                    platform::WritePixel(p, B, v ^ 0xF0);
            }
        sheet->Unlock();
        copyAndCompare("new colours in the same shape");
        SDL_Surface* dc = nullptr;
        ASSERT_EQ(sheet->GetDC(&dc), platform::DD_OK);
        SDL_Rect band{30, 1, 40, 4};
        SDL_FillRect(dc, &band, 0);
        sheet->ReleaseDC(dc);
        copyAndCompare("a drawing context");
        Rect all{0, 0, 120, 6};
        ASSERT_EQ(sheet->Blt(&all, other.get(), &all, 0, nullptr), platform::DD_OK);
        copyAndCompare("a blit into it");
        sheet->SetColorKey(platform::DDCKEY_SRCBLT, 330, 330);
        copyAndCompare("a new key");
        SetPx(sheet.get(), 40, 2, 330);
        SetPx(sheet.get(), 41, 3, 330);
        copyAndCompare("its pixels written directly");
    }
}

// The sprite copy must pick the same source pixels as the display's own stretch blit.
TEST_F(DDUtilsTest, StretchMatchesTheDisplaysBlitForGrowingAndShrinking) {
    for (int bits : {16, 24, 32}) {
        for (auto [sw, dw] :
             {std::pair{306, 459}, {50, 100}, {60, 7}, {111, 110}, {13, 997}, {997, 13}}) {
            SCOPED_TRACE(std::to_string(bits) + " " + std::to_string(sw) + "->" +
                         std::to_string(dw));
            auto src = Make(sw, 3, bits), ours = Make(1000, 5, bits), theirs = Make(1000, 5, bits);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < sw; ++x)
                    SetPx(src.get(), x, y, static_cast<uint32_t>((x * 7 + y) % 251 + 1));
            src->SetColorKey(platform::DDCKEY_SRCBLT, 1, 1);
            BlitSprite(src.get(), nullptr, 0, 0, sw, 3, ours.get(), 0, 0, dw, 5, 1, 255, 0, 0, 999,
                       4);
            Rect d{0, 0, dw, 5}, r{0, 0, sw, 3};
            ASSERT_EQ(theirs->Blt(&d, src.get(), &r, platform::DDBLT_KEYSRC, nullptr),
                      platform::DD_OK);
            ASSERT_EQ(
                std::memcmp(ours->Bits(), theirs->Bits(), static_cast<size_t>(ours->Pitch()) * 5),
                0);
        }
    }
}

TEST_F(DDUtilsTest, ConstantAlphaBlendsByHandAt16_24And32Bits) {
    for (int bits : {16, 24, 32}) {
        SCOPED_TRACE(bits);
        auto back = Make(8, 4, bits), src = Make(4, 2, bits), blend = Make(8, 4, bits);
        DD.BlendSurface = blend;
        const uint32_t d = bits == 16 ? 0xF800 : 0xFF0000;  // red
        const uint32_t s = bits == 16 ? 0x001F : 0x0000FF;  // blue
        FillAll(back.get(), d);
        FillAll(src.get(), s);
        SetPx(src.get(), 1, 0, 0);
        src->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
        BlitSprite(src.get(), nullptr, 0, 0, 4, 2, back.get(), 0, 0, 8, 4, 1, 165, 0, 0, 7, 3);
        uint32_t expect;
        if (bits == 16)  // red 0x1F*91 -> channel (0xF800*91)&0xF80000 >> 8, blue 0x1F*165>>8
            expect = (((0xF800u * 91) & 0xF80000u) | ((0x1Fu * 165) & 0x1F00u)) >> 8;
        else
            expect = (((0xFF0000u * 91) & 0xFF000000u) | ((0xFFu * 165) & 0xFF00u)) >> 8;
        EXPECT_EQ(Px(back.get(), 0, 0), expect);
        EXPECT_EQ(Px(back.get(), 2, 0), d);  // keyed source column 1 spans 2..3
        EXPECT_EQ(Px(back.get(), 3, 1), d);
        EXPECT_EQ(Px(back.get(), 4, 2), expect);
        if (bits == 16)
            EXPECT_EQ(expect, 0x5813u);
        else
            EXPECT_EQ(expect, 0x5A00A4u);
    }
}

TEST_F(DDUtilsTest, AlphaMapZeroKeepsAndFullCopiesExactly) {
    for (int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        auto back = Make(4, 1, bits), src = Make(3, 1, bits), blend = Make(4, 1, bits);
        DD.BlendSurface = blend;
        const uint32_t d = bits == 16 ? 0x07E0 : 0x00FF00, s = bits == 16 ? 0xFFFF : 0xFFFFFF;
        FillAll(back.get(), d);
        FillAll(src.get(), s);
        const uint8_t map[4] = {0, 255, 128, 0};  // row padded to 4
        BlitSprite(src.get(), map, 0, 0, 3, 1, back.get(), 0, 0, 3, 1, 0, 255, 0, 0, 799, 599);
        EXPECT_EQ(Px(back.get(), 0, 0), d);
        EXPECT_EQ(Px(back.get(), 1, 0), s);
        uint32_t half;
        if (bits == 16)
            half =
                ((((0xF800u * 128)) & 0xF80000u) |
                 (((0x07E0u * 127) + (0x07E0u * 128)) & 0x07E000u) | ((0x1Fu * 128) & 0x1F00u)) >>
                8;
        else
            half = (((0xFF0000u * 128) & 0xFF000000u) | ((0xFF00u * 255) & 0xFF0000u) |
                    ((0xFFu * 128) & 0xFF00u)) >>
                   8;
        EXPECT_EQ(Px(back.get(), 2, 0), half);
        EXPECT_EQ(Px(back.get(), 3, 0), d);  // outside the sprite
    }
}

TEST_F(DDUtilsTest, TransparencyOffIgnoresAlphaButNotTheMap) {
    auto back = Make(2, 1), src = Make(2, 1), blend = Make(2, 1);
    DD.BlendSurface = blend;
    DD.TransparencyOn = false;
    FillAll(back.get(), 0x111111);
    FillAll(src.get(), 0x888888);
    BlitSprite(src.get(), nullptr, 0, 0, 2, 1, back.get(), 0, 0, 2, 1, 0, 100, 0, 0, 1, 0);
    EXPECT_EQ(Px(back.get(), 0, 0), 0x888888u);
    FillAll(back.get(), 0x111111);
    const uint8_t map[4] = {0, 255, 0, 0};
    BlitSprite(src.get(), map, 0, 0, 2, 1, back.get(), 0, 0, 2, 1, 0, 100, 0, 0, 1, 0);
    EXPECT_EQ(Px(back.get(), 0, 0), 0x111111u);
    EXPECT_EQ(Px(back.get(), 1, 0), 0x888888u);
}

TEST_F(DDUtilsTest, BlendChecksRaiseTheirMessagesAndLeaveSurfacesUnlocked) {
    auto back = Make(8, 8), src = Make(4, 4), blend = Make(8, 8), s16 = Make(4, 4, 16),
         small = Make(2, 2);
    auto msg = [&](auto fn) {
        try {
            fn();
        } catch (const Exception& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(msg([&] {
                  BlendConstantAlpha(back.get(), s16.get(), blend.get(), {0, 0, 4, 4}, {0, 0, 4, 4},
                                     9, false);
              }),
              "Back and front surface pixel formats don't match");
    EXPECT_EQ(msg([&] {
                  BlendConstantAlpha(back.get(), src.get(), s16.get(), {0, 0, 4, 4}, {0, 0, 4, 4},
                                     9, false);
              }),
              "Back and destination surface pixel formats don't match");
    EXPECT_EQ(msg([&] {
                  BlendConstantAlpha(back.get(), src.get(), blend.get(), {5, 5, 9, 9}, {0, 0, 4, 4},
                                     9, false);
              }),
              "Back rectangle outside surface boundaries");
    EXPECT_EQ(msg([&] {
                  BlendConstantAlpha(back.get(), src.get(), blend.get(), {0, 0, 4, 4}, {1, 0, 5, 4},
                                     9, false);
              }),
              "Front rectangle outside surface boundaries");
    EXPECT_EQ(msg([&] {
                  BlendConstantAlpha(back.get(), src.get(), small.get(), {0, 0, 4, 4}, {0, 0, 4, 4},
                                     9, false);
              }),
              "Dest rectangle outside surface boundaries");
    auto odd = std::make_shared<DirectDrawSurface>(
        nullptr, 0, 4, 4, PixelFormat{platform::DDPF_RGB, 8, 0xE0, 0x1C, 0x3});
    EXPECT_EQ(msg([&] {
                  BlendConstantAlpha(odd.get(), src.get(), blend.get(), {0, 0, 4, 4}, {0, 0, 4, 4},
                                     9, false);
              }),
              "Invalid bit count");
    auto wide = std::make_shared<DirectDrawSurface>(
        nullptr, 0, 4, 4, PixelFormat{platform::DDPF_RGB, 32, 0xFF000000, 0xFF00, 0xFF});
    EXPECT_EQ(msg([&] {
                  BlendConstantAlpha(wide.get(), src.get(), blend.get(), {0, 0, 4, 4}, {0, 0, 4, 4},
                                     9, false);
              }),
              "Pixel format not supported");
    // A lost surface in the middle of a blend costs the frame silently; nothing stays locked.
    src->Lose();
    EXPECT_THROW(BlendConstantAlpha(back.get(), src.get(), blend.get(), {0, 0, 4, 4}, {0, 0, 4, 4},
                                    9, false),
                 EDirectXSurfaceLostError);
    void* bits;
    int32_t pitch;
    EXPECT_EQ(back->Lock(&bits, &pitch), platform::DD_OK);
    back->Unlock();
}

TEST_F(DDUtilsTest, ColourConversionFillsAndReplace) {
    auto s16 = Make(2, 1, 16);
    EXPECT_EQ(RGBToSurfaceColour(s16.get(), 0xFFFFFF), 0xFFFFu);
    EXPECT_EQ(RGBToSurfaceColour(s16.get(), 0x000000), 0u);
    EXPECT_EQ(RGBToSurfaceColour(s16.get(), 0x808080), 0x7BEFu);  // the mask formula rounds down

    auto front = Make(40, 30), back = Make(40, 30), image = Make(40, 30);
    DD.FlipList = {front, back};
    DD.DisplayOffsetX = 10, DD.DisplayOffsetY = 5;
    ColorFill(back.get(), 0, 0, 2, 2, 0x123456);
    EXPECT_EQ(Px(back.get(), 10, 5), 0x123456u);
    EXPECT_EQ(Px(back.get(), 0, 0), 0u);
    ColorFill(image.get(), 0, 0, 2, 2, 0x123456);
    EXPECT_EQ(Px(image.get(), 0, 0), 0x123456u);

    EXPECT_THROW(ColorFill(image.get(), 39, 0, 5, 1, 0xFF), EDirectXError);
    auto log = test::LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Error in Colorfill: The rectangle provided was invalid. (39,0,5,1,255)");

    // Bits outside the colour masks survive a replacement.
    SetPx(image.get(), 5, 5, 0xAB00FF00);
    SetPx(image.get(), 6, 5, 0x0000FF01);
    ReplaceColour(image.get(), 0x00FF00, 0x0000FF);
    EXPECT_EQ(Px(image.get(), 5, 5), 0xAB0000FFu);
    EXPECT_EQ(Px(image.get(), 6, 5), 0x0000FF01u);
}

TEST_F(DDUtilsTest, CanvasNeedsASurface) {
    try {
        TDDCanvas c(nullptr);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot create canvas for NIL surface");
    }
    auto s = Make(3, 3);
    {
        TDDCanvas c(s.get());
        EXPECT_NE(c.DC(), nullptr);
        EXPECT_EQ(c.DC()->pixels, s->Bits());
    }
    SDL_Surface* dc = nullptr;
    EXPECT_EQ(s->GetDC(&dc), platform::DD_OK);  // given back by the canvas
    s->ReleaseDC(dc);
}

TEST(StereoPan, ProjectsAndLimits) {
    TDisplayState saved = DD;
    DD.SetGameArea(800, 600);
    EXPECT_EQ(StereoPan(100, -800), 500);
    EXPECT_EQ(StereoPan(-5000, -800), -10000);
    EXPECT_EQ(StereoPan(5000, -800), 10000);
    EXPECT_EQ(StereoPan(-100, -800), -500);
    EXPECT_EQ(StereoPan(10, 0), -10000);  // at the viewer: full side, no failure
    EXPECT_EQ(StereoPan(0, 0), 0);
    DD = saved;
}

// Positions whose pan lies exactly between two whole ones take the even one, as the desktop's and
// the browser's builds must agree on what is heard: a chain of roundings in the processor's widest
// type once gave -2043 on one and -2042 on the other.
TEST(StereoPan, AnExactHalfGoesToTheEvenPanWhateverTheArithmetic) {
    TDisplayState saved = DD;
    DD.SetGameArea(800, 600);
    EXPECT_EQ(StereoPan(-817, -1600), -2042);  // -2042.5
    EXPECT_EQ(StereoPan(-813, -1600), -2032);  // -2032.5
    EXPECT_EQ(StereoPan(817, -1600), 2042);
    EXPECT_EQ(StereoPan(-815, -1600), -2038);  // -2037.5
    DD.SetGameArea(1024, 768);
    EXPECT_EQ(StereoPan(-817, -1600), -2042);  // the same projection on a wider area
    DD = saved;
}

// Pictures and screenshots need the display object.
class DDUtilsDisplayTest : public DDUtilsTest {
protected:
    // The display comes after the base has saved DD and goes before the base puts it back.
    void SetUp() override {
        DDUtilsTest::SetUp();
        display_.emplace();
        ClearLog();
    }
    void TearDown() override {
        display_.reset();
        DDUtilsTest::TearDown();
    }
    std::optional<test::HeadlessDisplay> display_;
};

void WriteBmp24(const std::string& path, int w, int h, uint32_t rgb) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, w, h, 24, SDL_PIXELFORMAT_BGR24);
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, (rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255));
    SDL_SaveBMP(s, path.c_str());
    SDL_FreeSurface(s);
}

namespace {

// The largest single allocation SDL asks for while it lives: the decoder sizes its pixel buffer
// from the header, so this shows whether a header was believed. The memory itself still comes
// from SDL's own functions.
class LargestSdlAllocation {
public:
    LargestSdlAllocation() {
        SDL_GetMemoryFunctions(&Fns().m, &Fns().c, &Fns().r, &Fns().f);
        Fns().largest = 0;
        SDL_SetMemoryFunctions(Malloc, Calloc, Realloc, Fns().f);
    }
    ~LargestSdlAllocation() { SDL_SetMemoryFunctions(Fns().m, Fns().c, Fns().r, Fns().f); }
    size_t Bytes() const { return Fns().largest; }

private:
    struct Saved {
        SDL_malloc_func m;
        SDL_calloc_func c;
        SDL_realloc_func r;
        SDL_free_func f;
        size_t largest;
    };
    static Saved& Fns() {
        static Saved s{};
        return s;
    }
    static void Note(size_t n) { Fns().largest = std::max(Fns().largest, n); }
    static void* Malloc(size_t n) { return Note(n), Fns().m(n); }
    static void* Calloc(size_t k, size_t n) { return Note(k * n), Fns().c(k, n); }
    static void* Realloc(void* p, size_t n) { return Note(n), Fns().r(p, n); }
};

// 472 bytes whose header claims 275968 by 10240 pixels of 8 bits.
std::vector<uint8_t> HostileBmp() {
    std::vector<uint8_t> b(472, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, 472);
    put32(10, 54);
    put32(14, 40);
    put32(18, 275968);
    put32(22, 10240);
    b[26] = 1;
    b[28] = 8;
    return b;
}

}  // namespace

// No allocation is sized by a header the file cannot back: the sheet and the mask are refused
// before the decoder asks for gigabytes.
TEST_F(DDUtilsDisplayTest, BmpHeadersClaimingMoreThanTheFileHoldsAreRefusedBeforeDecoding) {
    const std::string dir = test::TempProgramDir();
    const auto hostile = HostileBmp();
    ReplaceFileContents(dir + "/huge.bmp", hostile);
    {
        LargestSdlAllocation sdl;
        SurfacePtr s;
        EXPECT_THROW(LoadPictureToSurface(dir + "/huge", s), Exception);
        EXPECT_THROW(DecodeMask(hostile, 10, 10, "gfx\\sb\\huge_mask.bmp"), Exception);
        EXPECT_TRUE(DecodeMask(hostile, 0, 0, "gfx\\sb\\huge_mask.bmp").empty());
        EXPECT_LT(sdl.Bytes(), size_t{1} << 20);
    }
    TBmpHeader h;
    EXPECT_NE(CheckBmpHeader(hostile.data(), hostile.size(), h), "");
    EXPECT_EQ(h.Bits, 8);
    // A whole 8-bit picture passes, a cut one does not, nor one that is bigger than any sheet.
    WriteBmp24(dir + "/ok.bmp", 6, 4, 0xFF0000);
    auto ok = *ReadFileBytes(dir + "/ok.bmp", kPictureFileLimit);
    EXPECT_EQ(CheckBmpHeader(ok.data(), ok.size(), h), "");
    EXPECT_EQ(h.Width, 6);
    EXPECT_EQ(h.Height, 4);
    EXPECT_NE(CheckBmpHeader(ok.data(), ok.size() - 20, h), "");
    EXPECT_NE(CheckBmpHeader(ok.data(), 20, h), "");
}

TEST_F(DDUtilsDisplayTest, PicturesAreLookedUpBmpBeforeJpgAndLogged) {
    const std::string dir = test::TempProgramDir();
    EXPECT_THROW(CreateOffscreenSurface(0, 5, 0), EDirectXError);
    WriteBmp24(dir + "/pic.bmp", 6, 4, 0xFF0000);
    // A JPEG beside it loses to the bitmap.
    {
        RgbPicture p{3, 3, std::vector<uint8_t>(27, 0x40)};
        ReplaceFileContents(dir + "/pic.jpg", EncodeJpeg(p, 90));
    }
    SurfacePtr s;
    int w = 0, h = 0;
    ASSERT_TRUE(LoadPictureToSurface(dir + "/pic.xyz", s, &w, &h));
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 4);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Width(), 6);
    EXPECT_EQ(Px(s.get(), 5, 3), 0xFF0000u);
    EXPECT_EQ(test::LogLines().back(), dir + "/pic.bmp loaded as file");

    std::filesystem::remove(dir + "/pic.bmp");
    ASSERT_TRUE(LoadPictureToSurface(dir + "/pic", s));
    EXPECT_EQ(s->Width(), 6);  // an existing surface is drawn into, not replaced
    EXPECT_EQ(test::LogLines().back(), dir + "/pic.jpg loaded as file");
    ReloadPictureToNewSurface(dir + "/pic", s);
    EXPECT_EQ(s->Width(), 3);

    EXPECT_FALSE(LoadPictureToSurface("", s));
    EXPECT_FALSE(LoadPictureToSurface(dir + "/none.bmp", s));
    EXPECT_EQ(test::LogLines().back(), dir + "/none not found!");
}

TEST_F(DDUtilsDisplayTest, ResourcesComeBeforeFiles) {
    auto names = ResourceNames("BITMAP");
    if (names.empty()) GTEST_SKIP() << "no bitmap resources in this build";
    const std::string dir = test::TempProgramDir();
    WriteBmp24(dir + "/" + names[0] + ".bmp", 1, 1, 0xFFFFFF);
    SurfacePtr s;
    int w = 0;
    ASSERT_TRUE(LoadPictureToSurface(dir + "/sub\\" + names[0] + ".bmp", s, &w));
    EXPECT_GT(w, 0);
    for (auto& line : test::LogLines()) EXPECT_EQ(line.find("loaded as file"), std::string::npos);
}

TEST_F(DDUtilsDisplayTest, ScreenshotsTakeTheFirstFreeNumber) {
    test::ResetProgramDir();
    auto front = CreateOffscreenSurface(16, 8, 0), back = CreateOffscreenSurface(16, 8, 0);
    DD.FlipList = {front, back};
    ColorFill(back.get(), 0, 0, 16, 8, 0x00FF00);
    const std::string dir = test::TempProgramDir() + "/Screenshots/";
    EXPECT_EQ(SaveScreenshot(), dir + "Shot_1.jpg");
    EXPECT_EQ(SaveScreenshot(), dir + "Shot_2.jpg");
    EXPECT_EQ(SaveScreenshot(), dir + "Shot_3.jpg");
    std::filesystem::remove(dir + "Shot_2.jpg");
    EXPECT_EQ(SaveScreenshot(), dir + "Shot_2.jpg");
    auto bytes = ReadFileBytes(dir + "Shot_2.jpg", kPictureFileLimit);
    ASSERT_TRUE(bytes);
    auto pic = DecodeJpeg(bytes->data(), bytes->size());
    ASSERT_TRUE(pic);
    EXPECT_EQ(pic->width, 16);
    EXPECT_NEAR(pic->rgb[1], 255, 2);
    EXPECT_NEAR(pic->rgb[0], 0, 2);
}

// A two-pixel source row magnified four times, read back along the first output row.
std::vector<uint32_t> MagnifiedRow(int bits, uint32_t left, uint32_t right, uint32_t under) {
    auto src = Make(2, 1, bits), dst = Make(8, 4, bits);
    SetPx(src.get(), 0, 0, left);
    SetPx(src.get(), 1, 0, right);
    src->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
    FillAll(dst.get(), under);
    BlitSprite(src.get(), nullptr, 0, 0, 2, 1, dst.get(), 0, 0, 8, 4, 1, 255, 0, 0, 7, 3);
    std::vector<uint32_t> row;
    for (int x = 0; x < 8; ++x) row.push_back(Px(dst.get(), x, 0));
    EXPECT_EQ(Px(dst.get(), 5, 3), row[5]) << "every output row of a one-row source alike";
    return row;
}

TEST_F(DDUtilsTest, MagnifiedAboveTwiceSpritesAreFilteredBetweenPixelCentres) {
    // 32 bits: blue 0x10 to 0x50 in even steps between the two pixel centres, the ends held.
    EXPECT_EQ(MagnifiedRow(32, 0x10, 0x50, 0),
              (std::vector<uint32_t>{0x10, 0x10, 0x18, 0x28, 0x38, 0x48, 0x50, 0x50}));
    // RGB565, each channel within its own bits: red fading into blue.
    const auto row = MagnifiedRow(16, 0xF800, 0x001F, 0);
    EXPECT_EQ(row[0], 0xF800u);
    EXPECT_EQ(row[3], 0x980Bu);
    EXPECT_EQ(row[7], 0x001Fu);
}

TEST_F(DDUtilsTest, MagnifiedKeyedPixelsStayTransparentWhereTheyWeighMost) {
    // The key colour on the left: the back shows through until the opaque pixel outweighs it,
    // and the opaque pixel is never darkened towards the key colour.
    EXPECT_EQ(
        MagnifiedRow(32, 0, 0x80, 0x123456),
        (std::vector<uint32_t>{0x123456, 0x123456, 0x123456, 0x123456, 0x80, 0x80, 0x80, 0x80}));
}

TEST_F(DDUtilsTest, TwiceOrLessStaysTheNearestPixelCopy) {
    for (int bits : {16, 32}) {
        auto src = Make(2, 2, bits), a = Make(4, 4, bits);
        SetPx(src.get(), 0, 0, 0x10);
        SetPx(src.get(), 1, 0, 0x50);
        SetPx(src.get(), 0, 1, 0x50);
        SetPx(src.get(), 1, 1, 0x10);
        BlitSprite(src.get(), nullptr, 0, 0, 2, 2, a.get(), 0, 0, 4, 4, 0, 255, 0, 0, 3, 3);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(Px(a.get(), x, y), ((x / 2) ^ (y / 2)) ? 0x50u : 0x10u) << x << "," << y;
    }
}

}  // namespace
}  // namespace zx
