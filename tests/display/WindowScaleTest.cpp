#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "display/frmDDFullScreen.h"
#include "platform/DDraw.h"
#include "platform/Presentation.h"
#include "platform/Window.h"
#include "support/LogFiles.h"
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

TEST_F(WindowKindTest, KeptSizeLargerThanTheDesktopOrDamagedGivesWayToTheDesktopShare) {
    for (const char* kept : {"4000x3000", "960x", "x", "100x80", "960x720x3"}) {
        WriteProgCfg("GameWindowSize", kept);
        TWindowForm f;
        f.Show();
        const Size s = f.Window().ClientSize();
        EXPECT_EQ(std::make_pair(s.w, s.h), std::make_pair(800, 600)) << kept;
    }
}

TEST_F(WindowKindTest, AltEnterSwitchesBetweenWindowAndFullScreenAndLogsIt) {
    TWindowForm f;
    f.Show();
    auto toggles = [] {
        std::vector<std::string> lines = test::LogLines(), out;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
                     [](const std::string& l) { return l.rfind("Alt+Enter", 0) == 0; });
        return out;
    };
    auto altEnter = [&] {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.windowID = f.Window().Id();
        e.key.keysym.sym = SDLK_RETURN;
        e.key.keysym.mod = KMOD_LALT;
        ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
        // Other events may stand before it in the queue.
        const size_t before = toggles().size();
        for (int i = 0; i < 100 && toggles().size() == before; ++i) f.ProcessEvent(10);
    };
    altEnter();
    EXPECT_TRUE(f.Window().Fullscreen());
    altEnter();
    EXPECT_FALSE(f.Window().Fullscreen());
    EXPECT_EQ(toggles(),
              (std::vector<std::string>{"Alt+Enter: full screen", "Alt+Enter: window 800x600"}));
}

}  // namespace
