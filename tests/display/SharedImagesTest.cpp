// The window's picture through images shared with an X server: on a real X server of the test's
// own (Xvfb), what the window shows is read back from the server and held against the scaler's
// own picture.
#include <SDL.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/DDraw.h"
#include "platform/Presentation.h"
#include "platform/SharedImages.h"
#include "platform/Window.h"
#include "testsupport/DisplayFixtures.h"

// Last: Xlib's macros (None, Bool, Status) would rename what the headers above declare.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace zx;
using namespace zx::platform;

namespace {

// An X server on a display number it picks itself, ready once it has named it.
class XServer {
public:
    XServer() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1), dup2(quiet, 2);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "2048x1536x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // The number comes once the server takes clients; the limit only bounds a broken one.
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, 60000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (!number.empty()) name_ = ":" + number;
    }
    ~XServer() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string& Name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// A mapped window of the test's own connection, and its pixels as the server has them.
struct TestWindow {
    Display* d = nullptr;
    ::Window w = 0;
    TestWindow(const std::string& display, int width, int height) {
        d = XOpenDisplay(display.c_str());
        if (!d) return;
        w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, 0, 0);
        XSelectInput(d, w, StructureNotifyMask);
        XMapWindow(d, w);
        for (XEvent ev;;) {
            XNextEvent(d, &ev);
            if (ev.type == MapNotify) break;
        }
    }
    ~TestWindow() {
        if (d) XCloseDisplay(d);
    }
};

std::vector<uint32_t> Shown(Display* d, ::Window w, int width, int height) {
    std::vector<uint32_t> out;
    XImage* im = XGetImage(d, w, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                           AllPlanes, ZPixmap);
    if (!im) return out;
    out.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out.push_back(static_cast<uint32_t>(XGetPixel(im, x, y)) & 0xFFFFFF);
    XDestroyImage(im);
    return out;
}

std::vector<uint32_t> Noise(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(static_cast<size_t>(w) * h);
    for (auto& p : v) p = rng() & 0xFFFFFF;
    return v;
}

// The window's whole picture as it should be: the scaled game area between black bars.
std::vector<uint32_t> Expected(const std::vector<uint32_t>& game, int gw, int gh, int ow, int oh) {
    std::vector<uint32_t> out(static_cast<size_t>(ow) * oh, 0);
    PictureScaler reference(ScalingWays{ScalingWays::Isa::Scalar, 1, false});
    reference.Draw(reinterpret_cast<const uint8_t*>(game.data()), gw * 4, gw, gh,
                   PixelLayout::Xrgb8888, reinterpret_cast<uint8_t*>(out.data()), ow * 4,
                   FitGameArea(ow, oh, gw, gh));
    return out;
}

size_t FirstDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) return i;
    return a.size() == b.size() ? a.size() : std::min(a.size(), b.size());
}

class SharedImagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (server_.Name().empty()) GTEST_SKIP() << "no X server (Xvfb) to show windows on";
    }
    XServer server_;
};

TEST_F(SharedImagesTest, TheTwoImagesTakeTurnsAndAnotherSizeMakesThemAnew) {
    TestWindow tw(server_.Name(), 320, 200);
    ASSERT_NE(tw.w, 0u);
    auto images = SharedImages::Open(server_.Name(), tw.w);
    ASSERT_TRUE(images);
    auto first = images->Next(320, 200);
    ASSERT_TRUE(first.pixels);
    EXPECT_EQ(first.pitch, 320 * 4);
    ASSERT_TRUE(images->Send(0, 0));
    auto second = images->Next(320, 200);
    ASSERT_TRUE(second.pixels);
    EXPECT_NE(second.pixels, first.pixels);
    ASSERT_TRUE(images->Send(0, 0));
    EXPECT_EQ(images->Next(320, 200).pixels, first.pixels);
    ASSERT_TRUE(images->Send(0, 0));
    auto small = images->Next(100, 60);
    ASSERT_TRUE(small.pixels);
    EXPECT_EQ(small.pitch, 100 * 4);
    ASSERT_TRUE(images->Send(10, 10));
    EXPECT_TRUE(images->Drain());
}

TEST_F(SharedImagesTest, PicturesSentInQuickSuccessionLeaveTheLastOneShownWholeBetweenBars) {
    const int w = 400, h = 300, pw = 300, ph = 240, px = 60, py = 30;
    TestWindow tw(server_.Name(), w, h);
    ASSERT_NE(tw.w, 0u);
    auto images = SharedImages::Open(server_.Name(), tw.w);
    ASSERT_TRUE(images);
    // The window's own background is white here: the bars must be painted.
    XSetWindowBackground(tw.d, tw.w, 0xFFFFFF);
    XClearWindow(tw.d, tw.w);
    XSync(tw.d, False);
    // Each frame a different picture, drawn into the image the server is not reading, sent
    // without waiting: an image handed out while still being read would show a mixed picture.
    std::vector<uint32_t> last;
    for (unsigned frame = 0; frame < 40; ++frame) {
        last = Noise(pw, ph, frame);
        auto c = images->Next(pw, ph);
        ASSERT_TRUE(c.pixels);
        for (int y = 0; y < ph; ++y)
            std::memcpy(c.pixels + static_cast<size_t>(y) * c.pitch,
                        &last[static_cast<size_t>(y) * pw], static_cast<size_t>(pw) * 4);
        if (frame == 0) {
            images->Clear(0, 0, w, py);
            images->Clear(0, py + ph, w, h - py - ph);
            images->Clear(0, py, px, ph);
            images->Clear(px + pw, py, w - px - pw, ph);
        }
        ASSERT_TRUE(images->Send(px, py));
    }
    ASSERT_TRUE(images->Drain());
    std::vector<uint32_t> want(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < ph; ++y)
        std::memcpy(&want[static_cast<size_t>(py + y) * w + px], &last[static_cast<size_t>(y) * pw],
                    static_cast<size_t>(pw) * 4);
    const auto shown = Shown(tw.d, tw.w, w, h);
    EXPECT_TRUE(shown == want) << "first difference at pixel " << FirstDifference(shown, want);
}

TEST_F(SharedImagesTest, AServerThatStopsAnsweringGivesNoImageInsteadOfHanging) {
    TestWindow tw(server_.Name(), 200, 100);
    ASSERT_NE(tw.w, 0u);
    auto images = SharedImages::Open(server_.Name(), tw.w);
    ASSERT_TRUE(images);
    ASSERT_TRUE(images->Next(200, 100).pixels);
    // Another client holds the server: it serves nobody else until it lets go.
    Display* holder = XOpenDisplay(server_.Name().c_str());
    ASSERT_TRUE(holder);
    XGrabServer(holder);
    XSync(holder, False);
    ASSERT_TRUE(images->Send(0, 0));
    ASSERT_TRUE(images->Next(200, 100).pixels) << "the other image was never sent";
    ASSERT_TRUE(images->Send(0, 0));
    EXPECT_FALSE(images->Next(200, 100).pixels) << "the first image is still unread";
    XUngrabServer(holder);
    XCloseDisplay(holder);
}

TEST_F(SharedImagesTest, OnlyADisplayOnThisMachineSharesImages) {
    EXPECT_FALSE(SharedImages::Open("example.org:0", 1));
    EXPECT_FALSE(SharedImages::Open(server_.Name(), 0));
}

// The game's window on the X server: each frame as the scaler draws it, between black bars, also
// after the window changed size and the picture moved.
TEST_F(SharedImagesTest, TheGameWindowShowsEachFrameScaledBetweenBlackBars) {
    test::StartVideo();
    // This test's X server for the window, and the process's own display afterwards.
    struct DisplayBack {
        std::string driver, name;
        bool had = false;
        ~DisplayBack() {
            if (had)
                setenv("DISPLAY", name.c_str(), 1);
            else
                unsetenv("DISPLAY");
            SDL_VideoInit(driver.c_str());
        }
    } back{SDL_GetCurrentVideoDriver(), std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "",
           std::getenv("DISPLAY") != nullptr};
    setenv("DISPLAY", server_.Name().c_str(), 1);
    ASSERT_EQ(SDL_VideoInit("x11"), 0) << SDL_GetError();
    Display* reader = XOpenDisplay(server_.Name().c_str());
    ASSERT_TRUE(reader);
    const int gw = 800, gh = 600;
    GameWindow window("test");
    window.SetClientSize(1000, 700);
    window.Show();
    const unsigned long xw = SharedImages::XWindowOf(window.Handle());
    ASSERT_NE(xw, 0u);
    // A white background, which shows wherever the bars were not painted.
    XSetWindowBackground(reader, xw, 0xFFFFFF);
    XClearWindow(reader, xw);
    XSync(reader, False);
    DirectDraw dd(&window);
    ASSERT_EQ(dd.SetCooperativeLevel(DDSCL_NORMAL), DD_OK);
    SurfaceDesc pd;
    pd.caps = DDSCAPS_PRIMARYSURFACE;
    SurfacePtr primary, frame;
    ASSERT_EQ(dd.CreateSurface(pd, primary), DD_OK);
    ASSERT_EQ(dd.AttachWindowClipper(primary.get()), DD_OK);
    SurfaceDesc od;
    od.caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    od.width = gw, od.height = gh;
    ASSERT_EQ(dd.CreateSurface(od, frame), DD_OK);
    for (const auto& [ow, oh] : {std::pair{1000, 700}, std::pair{1700, 1250}}) {
        window.SetClientSize(ow, oh);
        // Three frames: the bars are painted with the first, the images take turns.
        std::vector<uint32_t> game;
        for (unsigned k = 0; k < 3; ++k) {
            game = Noise(gw, gh, static_cast<unsigned>(ow + k));
            for (int y = 0; y < gh; ++y)
                std::memcpy(frame->Bits() + y * frame->Pitch(), &game[static_cast<size_t>(y) * gw],
                            static_cast<size_t>(gw) * 4);
            int ox = 0, oy = 0;
            window.ClientOrigin(ox, oy);
            Rect dst{ox, oy, ox + gw, oy + gh};
            ASSERT_EQ(primary->Blt(&dst, frame.get(), nullptr, DDBLT_WAIT, nullptr), DD_OK);
        }
        dd.WaitForDisplay();
        const auto want = Expected(game, gw, gh, ow, oh);
        const auto shown = Shown(reader, xw, ow, oh);
        EXPECT_TRUE(shown == want)
            << ow << "x" << oh << ": first difference at pixel " << FirstDifference(shown, want);
    }
    XCloseDisplay(reader);
}

}  // namespace
