#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "display/frmDDFullScreen.h"
#include "platform/DDraw.h"
#include "platform/Presentation.h"
#include "platform/Window.h"
#include "support/LogFiles.h"
#include "testsupport/DisplayFixtures.h"
#include "testsupport/TestSupport.h"

using namespace zx;
using namespace zx::platform;

namespace {

std::tuple<int, int, int, int, bool> Laid(const Presentation& p) {
    return {p.x, p.y, p.w, p.h, p.smooth};
}

// Only a machine with a graphics device node is worth an OpenGL renderer: without one the window's
// own framebuffer is used straight away, without starting a software rasteriser first.
TEST(WindowScaleTest, GraphicsDeviceNodesAreDriNodesOrTheNvidiaControlNode) {
    namespace fs = std::filesystem;
    const fs::path dev = fs::path(zx::test::TempProgramDir()) / "dev";
    fs::create_directories(dev);
    EXPECT_FALSE(GraphicsDeviceNodesPresent(dev.string())) << "no dri folder";
    fs::create_directories(dev / "dri" / "by-path");
    std::ofstream(dev / "null");
    EXPECT_FALSE(GraphicsDeviceNodesPresent(dev.string())) << "an empty dri folder";
    std::ofstream(dev / "dri" / "renderD128");
    EXPECT_TRUE(GraphicsDeviceNodesPresent(dev.string()));
    fs::remove(dev / "dri" / "renderD128");
    std::ofstream(dev / "dri" / "card0");
    EXPECT_TRUE(GraphicsDeviceNodesPresent(dev.string()));
    fs::remove_all(dev / "dri");
    std::ofstream(dev / "nvidiactl");
    EXPECT_TRUE(GraphicsDeviceNodesPresent(dev.string()));
    EXPECT_FALSE(GraphicsDeviceNodesPresent((dev / "missing").string()));
}

TEST(WindowScaleTest, GameAreaTakesAWholeStepWhenOneFillsTheOutputElseFillsItSmoothly) {
    // Exact steps: sharp, no bars.
    EXPECT_EQ(Laid(FitGameArea(800, 600, 800, 600)), std::make_tuple(0, 0, 800, 600, false));
    EXPECT_EQ(Laid(FitGameArea(1600, 1200, 800, 600)), std::make_tuple(0, 0, 1600, 1200, false));
    // Slightly larger than 2x: still 2x, centred between thin bars.
    EXPECT_EQ(Laid(FitGameArea(1700, 1250, 800, 600)), std::make_tuple(50, 25, 1600, 1200, false));
    // A maximised window on 1024 x 768 and a 4K screen: a whole step would waste too much.
    EXPECT_EQ(Laid(FitGameArea(1024, 740, 800, 600)), std::make_tuple(18, 0, 987, 740, true));
    EXPECT_EQ(Laid(FitGameArea(3840, 2160, 800, 600)), std::make_tuple(480, 0, 2880, 2160, true));
    EXPECT_EQ(Laid(FitGameArea(1024, 768, 800, 600)), std::make_tuple(0, 0, 1024, 768, true));
    // Smaller than the game area: shrunk smoothly, the width limiting.
    EXPECT_EQ(Laid(FitGameArea(400, 600, 800, 600)), std::make_tuple(0, 150, 400, 300, true));
    // Nothing to lay onto.
    EXPECT_EQ(Laid(FitGameArea(0, 600, 800, 600)), std::make_tuple(0, 0, 0, 0, false));
}

TEST(WindowScaleTest, EveryGamePixelIsHitFromEveryOutputPixelDrawnWithIt) {
    const int gw = 800, gh = 600;
    for (auto [ow, oh] : {std::pair{800, 600},
                          {1600, 1200},
                          {1700, 1250},
                          {1024, 740},
                          {3840, 2160},
                          {2400, 1800},
                          {640, 480}}) {
        const Presentation p = FitGameArea(ow, oh, gw, gh);
        SCOPED_TRACE(std::to_string(ow) + "x" + std::to_string(oh));
        // Along the picture's middle row and column: monotonic, from the first to the last
        // game pixel, each reached (when magnified) from the pixels that show it.
        int gx = 0, gy = 0, prev = -1;
        for (int x = p.x; x < p.x + p.w; ++x) {
            OutputToGame(p, gw, gh, x, p.y + p.h / 2, gx, gy);
            ASSERT_GE(gx, prev);
            ASSERT_LE(gx - prev, ow >= gw ? 1 : 2);
            prev = gx;
        }
        EXPECT_EQ(prev, gw - 1);
        prev = -1;
        for (int y = p.y; y < p.y + p.h; ++y) {
            OutputToGame(p, gw, gh, p.x + p.w / 2, y, gx, gy);
            ASSERT_GE(gy, prev);
            prev = gy;
        }
        EXPECT_EQ(prev, gh - 1);
        // The picture's corners are the game area's.
        OutputToGame(p, gw, gh, p.x, p.y, gx, gy);
        EXPECT_EQ(std::make_pair(gx, gy), std::make_pair(0, 0));
        OutputToGame(p, gw, gh, p.x + p.w - 1, p.y + p.h - 1, gx, gy);
        EXPECT_EQ(std::make_pair(gx, gy), std::make_pair(gw - 1, gh - 1));
    }
}

TEST(WindowScaleTest, ClickAtAScaledPositionHitsTheSameGamePointAsAt1x) {
    int gx = 0, gy = 0;
    // 2x with bars of 50 and 25: both output pixels of game pixel (123, 457) give it back.
    const Presentation two = FitGameArea(1700, 1250, 800, 600);
    OutputToGame(two, 800, 600, 50 + 246, 25 + 914, gx, gy);
    EXPECT_EQ(std::make_pair(gx, gy), std::make_pair(123, 457));
    OutputToGame(two, 800, 600, 50 + 247, 25 + 915, gx, gy);
    EXPECT_EQ(std::make_pair(gx, gy), std::make_pair(123, 457));
    // 3.6x on 4K: the centre of the screen is the centre of the game area.
    const Presentation k4 = FitGameArea(3840, 2160, 800, 600);
    OutputToGame(k4, 800, 600, 1920, 1080, gx, gy);
    EXPECT_EQ(std::make_pair(gx, gy), std::make_pair(400, 300));
    // The cannon's edge: the right-most output column is the game's column 799.
    OutputToGame(k4, 800, 600, 480 + 2879, 2159, gx, gy);
    EXPECT_EQ(std::make_pair(gx, gy), std::make_pair(799, 599));
    // In the bars the pointer lies outside the game area, as it does beside a 1x window.
    OutputToGame(two, 800, 600, 0, 0, gx, gy);
    EXPECT_EQ(std::make_pair(gx, gy), std::make_pair(-25, -13));
    OutputToGame(k4, 800, 600, 3839, 0, gx, gy);
    EXPECT_EQ(std::make_pair(gx, gy), std::make_pair(933, 0));
}

TEST(WindowScaleTest, FirstWindowIsTheLargestWholeStepWithinFourFifthsOfTheDesktop) {
    auto first = [](int w, int h) {
        const Size s = FirstWindowSize(w, h, 800, 600);
        return std::make_pair(s.w, s.h);
    };
    EXPECT_EQ(first(1024, 768), std::make_pair(800, 600));
    EXPECT_EQ(first(1920, 1080), std::make_pair(800, 600));
    EXPECT_EQ(first(2560, 1600), std::make_pair(1600, 1200));
    EXPECT_EQ(first(3840, 2160), std::make_pair(1600, 1200));
    EXPECT_EQ(first(5120, 2880), std::make_pair(2400, 1800));
    // A desktop of the game area's size: 1x although it is more than four fifths.
    EXPECT_EQ(first(800, 600), std::make_pair(800, 600));
    // Smaller than the game area: the largest 4:3 that fits.
    EXPECT_EQ(first(640, 480), std::make_pair(640, 480));
    EXPECT_EQ(first(1024, 500), std::make_pair(667, 500));
    // Nothing known about the desktop: the game area itself.
    EXPECT_EQ(first(0, 0), std::make_pair(800, 600));
}

// An output image with a frame of marker pixels around the rectangle the picture goes to.
struct Output {
    static constexpr uint32_t kMarker = 0xA5A5A5A5;
    Output(int w, int h) : w(w), h(h), pixels(static_cast<size_t>(w) * h, kMarker) {}
    uint8_t* Bits() { return reinterpret_cast<uint8_t*>(pixels.data()); }
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * w + x]; }
    int w, h;
    std::vector<uint32_t> pixels;
};

std::vector<uint32_t> RandomPicture(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(static_cast<size_t>(w) * h);
    for (auto& p : v) p = rng() & 0xFFFFFF;
    return v;
}

const uint8_t* Bytes(const std::vector<uint32_t>& v) {
    return reinterpret_cast<const uint8_t*>(v.data());
}

int ChannelDistance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift : {0, 8, 16})
        d = std::max(d, std::abs(static_cast<int>((a >> shift) & 255) -
                                 static_cast<int>((b >> shift) & 255)));
    return d;
}

TEST(PictureScalerTest, At1xEveryLayoutIsCopiedExactlyAndNothingOutsideTheRectangleIsWritten) {
    const int gw = 5, gh = 3;
    PictureScaler scaler;
    const Presentation p = FitGameArea(gw, gh, gw, gh);
    Presentation inside = p;
    inside.x = 2, inside.y = 1;
    // 32 bits.
    const std::vector<uint32_t> pic = RandomPicture(gw, gh, 1);
    Output out(gw + 4, gh + 2);
    scaler.Draw(Bytes(pic), gw * 4, gw, gh, PixelLayout::Xrgb8888, out.Bits(), out.w * 4, inside);
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x) {
            const bool in = x >= 2 && x < 2 + gw && y >= 1 && y < 1 + gh;
            ASSERT_EQ(out.At(x, y),
                      in ? pic[static_cast<size_t>(y - 1) * gw + x - 2] : Output::kMarker)
                << x << "," << y;
        }
    // 16 bits: each channel's top bits repeated into the low ones, so white stays white.
    const uint16_t p16[4] = {0xFFFF, 0xF800, 0x07E0, 0x8410};
    Output o16(4, 1);
    scaler.Draw(reinterpret_cast<const uint8_t*>(p16), 8, 4, 1, PixelLayout::Rgb565, o16.Bits(), 16,
                FitGameArea(4, 1, 4, 1));
    EXPECT_EQ(o16.pixels, (std::vector<uint32_t>{0xFFFFFF, 0xFF0000, 0x00FF00, 0x848284}));
    // 24 bits: bytes blue, green, red; rows padded to four bytes.
    const uint8_t p24[8] = {0x01, 0x02, 0x03, 0x10, 0x20, 0x30, 0xEE, 0xEE};
    Output o24(2, 1);
    scaler.Draw(p24, 8, 2, 1, PixelLayout::Bgr24, o24.Bits(), 8, FitGameArea(2, 1, 2, 1));
    EXPECT_EQ(o24.pixels, (std::vector<uint32_t>{0x030201, 0x302010}));
}

TEST(PictureScalerTest, WholeStepsRepeatEachPixelAndShowWhatThePointerMapsTo) {
    const int gw = 40, gh = 30;
    const std::vector<uint32_t> pic = RandomPicture(gw, gh, 2);
    // The same picture in 16 bits: values that survive the trip through 5-6-5.
    std::vector<uint16_t> pic16(pic.size());
    for (size_t i = 0; i < pic.size(); ++i) pic16[i] = static_cast<uint16_t>(pic[i]);
    PictureScaler scaler;
    for (auto [ow, oh] : {std::pair{80, 60}, {125, 95}, {160, 120}}) {
        const Presentation p = FitGameArea(ow, oh, gw, gh);
        ASSERT_FALSE(p.smooth) << ow;
        Output out(ow, oh), out16(ow, oh);
        scaler.Draw(Bytes(pic), gw * 4, gw, gh, PixelLayout::Xrgb8888, out.Bits(), ow * 4, p);
        scaler.Draw(reinterpret_cast<const uint8_t*>(pic16.data()), gw * 2, gw, gh,
                    PixelLayout::Rgb565, out16.Bits(), ow * 4, p);
        Output ref16(gw, gh);
        scaler.Draw(reinterpret_cast<const uint8_t*>(pic16.data()), gw * 2, gw, gh,
                    PixelLayout::Rgb565, ref16.Bits(), gw * 4, FitGameArea(gw, gh, gw, gh));
        for (int y = p.y; y < p.y + p.h; ++y)
            for (int x = p.x; x < p.x + p.w; ++x) {
                int gx = 0, gy = 0;
                OutputToGame(p, gw, gh, x, y, gx, gy);
                ASSERT_EQ(out.At(x, y), pic[static_cast<size_t>(gy) * gw + gx]) << x << "," << y;
                ASSERT_EQ(out16.At(x, y), ref16.At(gx, gy)) << x << "," << y;
            }
        // The bars are left to the caller.
        if (p.x > 0) {
            EXPECT_EQ(out.At(p.x - 1, p.y), Output::kMarker);
        }
    }
}

TEST(PictureScalerTest, OtherSizesAreFilteredThroughPixelCentresWithoutDarkeningTheEdges) {
    const int gw = 800, gh = 600;
    PictureScaler scaler;
    // A flat colour stays exactly that colour everywhere, edges and corners included.
    const std::vector<uint32_t> flat(static_cast<size_t>(gw) * gh, 0xC08040);
    for (auto [ow, oh] : {std::pair{3840, 2160}, {1024, 768}, {640, 480}}) {
        const Presentation p = FitGameArea(ow, oh, gw, gh);
        ASSERT_TRUE(p.smooth) << ow;
        Output out(ow, oh);
        scaler.Draw(Bytes(flat), gw * 4, gw, gh, PixelLayout::Xrgb8888, out.Bits(), ow * 4, p);
        for (int y = p.y; y < p.y + p.h; ++y)
            for (int x = p.x; x < p.x + p.w; ++x)
                ASSERT_EQ(out.At(x, y), 0xC08040u) << x << "," << y;
    }
    // Against bilinear filtering worked out in floating point, at the 4K fit (3.6x) and at a
    // shrink, both in 32 and in 16 bits: within the rounding of 256ths.
    const std::vector<uint32_t> pic = RandomPicture(gw, gh, 3);
    std::vector<uint16_t> pic16(pic.size());
    for (size_t i = 0; i < pic.size(); ++i) pic16[i] = static_cast<uint16_t>(pic[i]);
    Output as32(gw, gh);
    scaler.Draw(reinterpret_cast<const uint8_t*>(pic16.data()), gw * 2, gw, gh, PixelLayout::Rgb565,
                as32.Bits(), gw * 4, FitGameArea(gw, gh, gw, gh));
    for (auto [ow, oh] : {std::pair{3840, 2160}, {640, 480}}) {
        const Presentation p = FitGameArea(ow, oh, gw, gh);
        for (bool sixteen : {false, true}) {
            const std::vector<uint32_t>& source = sixteen ? as32.pixels : pic;
            Output out(ow, oh);
            if (sixteen)
                scaler.Draw(reinterpret_cast<const uint8_t*>(pic16.data()), gw * 2, gw, gh,
                            PixelLayout::Rgb565, out.Bits(), ow * 4, p);
            else
                scaler.Draw(Bytes(pic), gw * 4, gw, gh, PixelLayout::Xrgb8888, out.Bits(), ow * 4,
                            p);
            auto at = [&](int i, int out, int in) {
                return std::clamp((i + 0.5) * in / out - 0.5, 0.0, in - 1.0);
            };
            int worst = 0;
            for (int y = p.y; y < p.y + p.h; y += 7)
                for (int x = p.x; x < p.x + p.w; x += 3) {
                    const double sx = at(x - p.x, p.w, gw), sy = at(y - p.y, p.h, gh);
                    const int x0 = static_cast<int>(sx), y0 = static_cast<int>(sy);
                    const int x1 = std::min(x0 + 1, gw - 1), y1 = std::min(y0 + 1, gh - 1);
                    const double tx = sx - x0, ty = sy - y0;
                    uint32_t want = 0;
                    for (int shift : {0, 8, 16}) {
                        auto c = [&](int xx, int yy) {
                            return (source[static_cast<size_t>(yy) * gw + xx] >> shift) & 255;
                        };
                        const double v = (c(x0, y0) * (1 - tx) + c(x1, y0) * tx) * (1 - ty) +
                                         (c(x0, y1) * (1 - tx) + c(x1, y1) * tx) * ty;
                        want |= static_cast<uint32_t>(std::lround(v)) << shift;
                    }
                    worst = std::max(worst, ChannelDistance(out.At(x, y), want));
                }
            EXPECT_LE(worst, 1) << ow << (sixteen ? " 16 bits" : " 32 bits");
        }
    }
}

// The scalar form on one thread defines the picture; wider vectors, streamed rows and any number
// of threads sharing the rows must give the same bits, at whole steps, filtered sizes and shrinks,
// in all three layouts, with the rectangle off any alignment and everything around it untouched.
// The 32-bit source has its unused top byte set: a filtered pixel must not mix it in.
TEST(PictureScalerTest, EveryFormAndThreadCountDrawsExactlyTheScalarPicture) {
    const int gw = 800, gh = 600;
    std::vector<uint32_t> pic = RandomPicture(gw, gh, 4);
    std::mt19937 rng(5);
    for (auto& v : pic) v |= (rng() & 0xFF) << 24;
    std::vector<uint16_t> pic16(pic.size());
    for (size_t i = 0; i < pic.size(); ++i) pic16[i] = static_cast<uint16_t>(pic[i] >> 3);
    const int pitch24 = (gw * 3 + 3) & ~3;
    std::vector<uint8_t> pic24(static_cast<size_t>(pitch24) * gh);
    for (auto& b : pic24) b = static_cast<uint8_t>(rng());
    struct Source {
        PixelLayout layout;
        const uint8_t* bits;
        int pitch;
    };
    const Source sources[] = {
        {PixelLayout::Xrgb8888, Bytes(pic), gw * 4},
        {PixelLayout::Rgb565, reinterpret_cast<const uint8_t*>(pic16.data()), gw * 2},
        {PixelLayout::Bgr24, pic24.data(), pitch24}};
    using I = ScalingWays::Isa;
    const ScalingWays ways[] = {{I::Sse2, 1, false},   {I::Avx2, 1, false}, {I::Avx2, 1, true},
                                {I::Sse2, 2, true},    {I::Avx2, 2, true},  {I::Avx2, 5, true},
                                {I::Scalar, 3, false}, ScalingWays{}};
    PictureScaler reference({I::Scalar, 1, false});
    std::vector<std::unique_ptr<PictureScaler>> scalers;
    for (const ScalingWays& w : ways) scalers.push_back(std::make_unique<PictureScaler>(w));
    // 3840 x 2160: filtered 3.6x, shared between threads; 2403 x 1801: 3x, shared; 1601 x 1203:
    // 2x; 801 x 601: 1x; 1021 x 767: filtered, one thread; 641 x 479: shrunk.
    for (auto [ow, oh] :
         {std::pair{3840, 2160}, {2403, 1801}, {1601, 1203}, {801, 601}, {1021, 767}, {641, 479}}) {
        Presentation p = FitGameArea(ow, oh, gw, gh);
        for (const Source& s : sources) {
            Output want(ow + 3, oh + 1);
            p.x += 1;  // the rows start off every vector alignment
            reference.Draw(s.bits, s.pitch, gw, gh, s.layout, want.Bits(), want.w * 4, p);
            p.x -= 1;
            for (size_t k = 0; k < scalers.size(); ++k) {
                // Twice: the second frame reuses the tables and threads of the first.
                for (int frame = 0; frame < 2; ++frame) {
                    Output got(ow + 3, oh + 1);
                    p.x += 1;
                    scalers[k]->Draw(s.bits, s.pitch, gw, gh, s.layout, got.Bits(), got.w * 4, p);
                    p.x -= 1;
                    ASSERT_TRUE(got.pixels == want.pixels)
                        << ow << "x" << oh << " layout " << static_cast<int>(s.layout) << " ways "
                        << k << " frame " << frame << ": first difference at pixel "
                        << (std::mismatch(got.pixels.begin(), got.pixels.end(), want.pixels.begin())
                                .first -
                            got.pixels.begin());
                }
            }
        }
    }
}

// The window kind's display on the headless driver: the frame's pixels as the window shows them.
class PresentedTest : public ::testing::Test {
protected:
    void SetUp() override { test::StartVideo(); }
    static uint32_t Shown(GameWindow& w, int x, int y) {
        SDL_Surface* s = SDL_GetWindowSurface(w.Handle());
        if (!s || s->format->format != SDL_PIXELFORMAT_RGB888) return 0xDEADBEEF;
        return static_cast<const uint32_t*>(s->pixels)[y * s->pitch / 4 + x] & 0xFFFFFF;
    }
};

TEST_F(PresentedTest, SixteenBitDisplayIsFilteredBetweenBarsAndAWindowAtAWholeStepIsSharp) {
    // The 16-bit mode shown on an output of another shape (a desktop of 1000 x 700 here, the
    // headless driver's full screen keeping the window's size): filtered, between side bars.
    {
        GameWindow window("test");
        DirectDraw dd(&window);
        ASSERT_EQ(dd.SetCooperativeLevel(DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
        ASSERT_EQ(dd.SetDisplayMode(800, 600, 16, 0, 0), DD_OK);
        window.LeaveFullscreen();
        window.SetClientSize(1000, 700);
        SurfaceDesc pd;
        pd.caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
        pd.backBufferCount = 1;
        SurfacePtr primary;
        ASSERT_EQ(dd.CreateSurface(pd, primary), DD_OK);
        auto back = primary->AttachedBackBuffer();
        // Left half black, right half white.
        for (int y = 0; y < 600; ++y)
            for (int x = 400; x < 800; ++x)
                WritePixel(back->Bits() + y * back->Pitch() + x * 2, 2, 0xFFFF);
        ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
        const Presentation p = FitGameArea(1000, 700, 800, 600);
        ASSERT_EQ(Laid(p), std::make_tuple(33, 0, 933, 700, true));
        // Bars beside the picture; white up to the picture's edge and not past it.
        EXPECT_EQ(Shown(window, 0, 350), 0x000000u);
        EXPECT_EQ(Shown(window, 965, 699), 0xFFFFFFu);
        EXPECT_EQ(Shown(window, 966, 699), 0x000000u);
        // Across the middle grey steps, not one hard jump.
        int greys = 0;
        for (int x = 490; x < 510; ++x) {
            const uint32_t v = Shown(window, x, 300);
            if (v != 0 && v != 0xFFFFFF) ++greys;
            EXPECT_EQ(v & 0xFF, (v >> 16) & 0xFF) << x;
        }
        EXPECT_GE(greys, 1);
        // What a screenshot takes is the game's own picture, untouched by the scaling.
        EXPECT_EQ(ReadPixel(primary->Bits() + 300 * primary->Pitch() + 399 * 2, 2), 0u);
        EXPECT_EQ(ReadPixel(primary->Bits() + 300 * primary->Pitch() + 400 * 2, 2), 0xFFFFu);
    }
    // A window of 1700 x 1250: 2x, sharp, between bars of 50 and 25.
    GameWindow window("test");
    window.SetGameArea(800, 600);
    window.SetClientSize(1700, 1250);
    DirectDraw dd(&window);
    ASSERT_EQ(dd.SetCooperativeLevel(DDSCL_NORMAL), DD_OK);
    SurfaceDesc pd;
    pd.caps = DDSCAPS_PRIMARYSURFACE;
    SurfacePtr primary, frame;
    ASSERT_EQ(dd.CreateSurface(pd, primary), DD_OK);
    ASSERT_EQ(dd.AttachWindowClipper(primary.get()), DD_OK);
    SurfaceDesc od;
    od.caps = DDSCAPS_OFFSCREENPLAIN;
    od.width = 800, od.height = 600;
    ASSERT_EQ(dd.CreateSurface(od, frame), DD_OK);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            WritePixel(frame->Bits() + y * frame->Pitch() + x * 4, 4,
                       (x & 1) ? 0xFFFFFF : 0x102030);
    int ox = 0, oy = 0;
    window.ClientOrigin(ox, oy);
    Rect dst{ox, oy, ox + 800, oy + 600};
    ASSERT_EQ(primary->Blt(&dst, frame.get(), nullptr, 16, nullptr), DD_OK);
    EXPECT_EQ(Shown(window, 49, 24), 0x000000u);
    EXPECT_EQ(Shown(window, 1650, 1225), 0x000000u);
    // Game column 0 on output columns 50 and 51, column 1 on 52 and 53: no mixing.
    EXPECT_EQ(Shown(window, 50, 25), 0x102030u);
    EXPECT_EQ(Shown(window, 51, 26), 0x102030u);
    EXPECT_EQ(Shown(window, 52, 25), 0xFFFFFFu);
    EXPECT_EQ(Shown(window, 53, 1224), 0xFFFFFFu);
}

// A bare window-kind screen on the headless display (a 1024 x 768 desktop).
class TWindowForm : public TDDFullScreenForm {
public:
    TWindowForm() { SetDisplayKind(2); }
    ~TWindowForm() override { Destroy(); }
};

class WindowKindTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetProgramDir(); }
};

TEST_F(WindowKindTest, WindowStartsAtTheDesktopShareAndKeepsAResizedSizeForTheNextGame) {
    {
        TWindowForm f;
        f.Show();
        ASSERT_TRUE(f.DirectDrawObject);
        const Size s = f.Window().ClientSize();
        EXPECT_EQ(std::make_pair(s.w, s.h), std::make_pair(800, 600));
        f.Window().SetClientSize(960, 720);
        // The game's display stays 800 x 600 whatever the window's size.
        EXPECT_EQ(f.PrimarySurface->Width(), 800);
        EXPECT_EQ(f.PrimarySurface->Height(), 600);
        f.Closing = true;
        f.Close();
    }
    EXPECT_EQ(ReadProgCfg("GameWindowSize"), "960x720");
    TWindowForm g;
    g.Show();
    const Size s = g.Window().ClientSize();
    EXPECT_EQ(std::make_pair(s.w, s.h), std::make_pair(960, 720));
}

TEST_F(WindowKindTest, WindowIsCentredOnItsDesktopAtTheFirstSizeAndAfterAResize) {
    TWindowForm f;
    f.Show();
    auto origin = [&] {
        int x = 0, y = 0;
        f.Window().ClientOrigin(x, y);
        return std::make_pair(x, y);
    };
    EXPECT_EQ(origin(), std::make_pair(112, 84));
    f.Window().SetClientSize(960, 720);
    EXPECT_EQ(origin(), std::make_pair(32, 24));
    // Larger than the desktop: the top stays on it.
    f.Window().SetClientSize(1200, 900);
    EXPECT_EQ(origin(), std::make_pair(-88, 0));
}

TEST_F(WindowKindTest, KeptSizeLargerThanTheDesktopOrDamagedGivesWayToTheDesktopShare) {
    for (const char* kept : {"4000x3000", "960x", "x", "100x80", "960x720x3"}) {
        WriteProgCfg("GameWindowSize", kept);
        TWindowForm f;
        f.Show();
        const Size s = f.Window().ClientSize();
        EXPECT_EQ(std::make_pair(s.w, s.h), std::make_pair(800, 600)) << kept;
    }
}

// Alt+Enter, and the window manager's answers, as the window's events bring them.
class AltEnterTest : public WindowKindTest {
protected:
    static std::vector<std::string> Toggles() {
        std::vector<std::string> lines = test::LogLines(), out;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
                     [](const std::string& l) { return l.rfind("Alt+Enter", 0) == 0; });
        return out;
    }
    // Handles what is in the queue (other events may stand before the pushed ones).
    static void Drain(TWindowForm& f) {
        for (int i = 0; i < 1000 && f.ProcessEvent(0); ++i) {
        }
    }
    static void AltEnter(TWindowForm& f) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.windowID = f.Window().Id();
        e.key.keysym.sym = SDLK_RETURN;
        e.key.keysym.mod = KMOD_LALT;
        ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
        // Other events may stand before it in the queue.
        const bool before = f.Window().Fullscreen();
        for (int i = 0; i < 100 && f.Window().Fullscreen() == before; ++i) f.ProcessEvent(10);
        Drain(f);
    }
    static void WindowManager(TWindowForm& f, uint8_t event, int w = 0, int h = 0) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = f.Window().Id();
        e.window.event = event;
        e.window.data1 = w;
        e.window.data2 = h;
        ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
        Drain(f);
    }
    test::ManualClock clock;
};

TEST_F(AltEnterTest, SwitchesBetweenWindowAndFullScreenAndLogsTheSizeOnceSettled) {
    TWindowForm f;
    f.Show();
    AltEnter(f);
    EXPECT_TRUE(f.Window().Fullscreen());
    EXPECT_EQ(Toggles(), std::vector<std::string>{"Alt+Enter: full screen"});
    AltEnter(f);
    EXPECT_FALSE(f.Window().Fullscreen());
    EXPECT_EQ(Toggles().size(), 1u) << "the window manager may still answer";
    // The frames go on meanwhile; the window's own size events come with them.
    for (int i = 0; i < 2; ++i) {
        clock.Advance(250);
        Drain(f);
    }
    EXPECT_EQ(Toggles(),
              (std::vector<std::string>{"Alt+Enter: full screen", "Alt+Enter: window 800x600"}));
}

// A maximised window goes to full screen and comes back maximised, not at the size it had before
// it was maximised; the log gives the size the window manager gave it, not one from on the way.
TEST_F(AltEnterTest, AMaximisedWindowComesBackMaximisedAndTheLogWaitsForItsSize) {
    TWindowForm f;
    f.Show();
    WindowManager(f, SDL_WINDOWEVENT_MAXIMIZED);
    WindowManager(f, SDL_WINDOWEVENT_SIZE_CHANGED, 1024, 740);
    AltEnter(f);
    AltEnter(f);
    EXPECT_EQ(Toggles(), std::vector<std::string>{"Alt+Enter: full screen"});
    const Size s = f.Window().ClientSize();
    EXPECT_NE(std::make_pair(s.w, s.h), std::make_pair(800, 600)) << "not the old size";
    // The window manager answers in steps: the old size first, then maximised.
    clock.Advance(200);
    WindowManager(f, SDL_WINDOWEVENT_SIZE_CHANGED, 800, 600);
    clock.Advance(200);
    WindowManager(f, SDL_WINDOWEVENT_MAXIMIZED);
    WindowManager(f, SDL_WINDOWEVENT_SIZE_CHANGED, 1024, 740);
    clock.Advance(200);
    Drain(f);
    EXPECT_EQ(Toggles().size(), 1u);
    clock.Advance(50);
    Drain(f);
    EXPECT_EQ(Toggles(), (std::vector<std::string>{"Alt+Enter: full screen",
                                                   "Alt+Enter: window 1024x740 maximised"}));
}

// A busy window manager answers later than the quiet time: the log waits for its answer rather
// than giving the full screen's size.
TEST_F(AltEnterTest, ASlowWindowManagersAnswerIsWaitedFor) {
    TWindowForm f;
    f.Show();
    WindowManager(f, SDL_WINDOWEVENT_MAXIMIZED);
    WindowManager(f, SDL_WINDOWEVENT_SIZE_CHANGED, 1024, 740);
    AltEnter(f);
    const Size full = f.Window().ClientSize();
    AltEnter(f);
    WindowManager(f, SDL_WINDOWEVENT_SIZE_CHANGED, full.w, full.h);  // still the full screen
    clock.Advance(900);
    Drain(f);
    EXPECT_EQ(Toggles().size(), 1u) << "no answer yet";
    WindowManager(f, SDL_WINDOWEVENT_MAXIMIZED);
    WindowManager(f, SDL_WINDOWEVENT_SIZE_CHANGED, 1024, 740);
    clock.Advance(250);
    Drain(f);
    EXPECT_EQ(Toggles(), (std::vector<std::string>{"Alt+Enter: full screen",
                                                   "Alt+Enter: window 1024x740 maximised"}));
}

// A window manager that never answers (or none at all): the size is logged all the same.
TEST_F(AltEnterTest, WithoutAnAnswerTheSizeIsLoggedAfterTwoSeconds) {
    TWindowForm f;
    f.Show();
    AltEnter(f);
    AltEnter(f);
    for (int i = 0; i < 19; ++i) {
        clock.Advance(100);
        WindowManager(f, SDL_WINDOWEVENT_SIZE_CHANGED, 800 + i, 600);  // restless
    }
    EXPECT_EQ(Toggles().size(), 1u);
    clock.Advance(100);
    Drain(f);
    EXPECT_EQ(Toggles().back(), "Alt+Enter: window 818x600");
}

}  // namespace
