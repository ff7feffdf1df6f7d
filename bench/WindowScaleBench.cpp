// The window kind's frame time at a small and a large client area, in one run: the frame of the
// game area (back image into the back buffer, then the blit that shows it in the window) at
// 800 x 600 and at 3840 x 2160, through the presenter the program picks; the same in 16 bits at
// full screen (the game's 16-bit mode scaled to the desktop); the two halves of a large frame
// (scaling, sending to the display); and SDL's renderer forced on for comparison (on a machine
// without a graphics card a software rasteriser), with its texture upload alone, which is what a
// frame costs the processor where a graphics card scales; and SDL's software renderer, the fair
// peer where there is no graphics card.
// Each figure is the median of the frames: wall time, and the processor time of the program's
// own thread (a display server or a rasteriser's threads work outside it).
//   bench_WindowScaleBench [frames]        (needs a display: run it under Xvfb at 3840x2160)
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#include "bench/Smoke.h"
#include "platform/DDraw.h"
#include "platform/Presentation.h"
#include "platform/Window.h"

using namespace zx::platform;

namespace {

constexpr int kGameW = 800, kGameH = 600;

double WallMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void Pump() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
}

// Medians, and the spread of the thread's processor time over the frames.
struct Figures {
    double wall = 0, cpu = 0, cpuMin = 0, cpuMax = 0;
    int w = 0, h = 0;  // the client size measured
};

Figures Measure(int frames, const std::function<void()>& frame) {
    for (int i = 0; i < zx::bench::Sized(10, 1); ++i) frame();
    std::vector<double> wall, cpu;
    for (int i = 0; i < frames; ++i) {
        const double w0 = WallMs(), c0 = ThreadCpuMs();
        frame();
        cpu.push_back(ThreadCpuMs() - c0);
        wall.push_back(WallMs() - w0);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2], cpu.front(), cpu.back(), 0, 0};
}

void Print(const char* what, int w, int h, const Figures& f) {
    std::printf("  %-34s %4dx%-4d  wall %7.3f ms  thread %7.3f ms (%.3f - %.3f)\n", what, w, h,
                f.wall, f.cpu, f.cpuMin, f.cpuMax);
}

// The machine's write bandwidth in GB/s (a 64 MB fill, the median of 10 by processor time): a
// frame cannot take less than its bytes written at this rate.
double WriteGBs() {
    std::vector<uint8_t> b(zx::bench::Sized(size_t{64} << 20, size_t{1} << 20), 1);
    std::vector<double> t;
    for (int i = 0; i < zx::bench::Sized(10, 1); ++i) {
        const double c0 = ThreadCpuMs();
        std::memset(b.data(), i, b.size());
        std::atomic_signal_fence(std::memory_order_seq_cst);
        t.push_back(ThreadCpuMs() - c0);
    }
    std::sort(t.begin(), t.end());
    volatile uint8_t sink = b[static_cast<size_t>(t.size())];
    (void)sink;
    return static_cast<double>(b.size()) / (t[t.size() / 2] * 1e6);
}

// The program's frame writes the game area into the back buffer and the scaled picture into the
// window: its floor at the machine's write bandwidth.
void PrintFloor(int clientW, int clientH, double gbs) {
    const Presentation p = FitGameArea(clientW, clientH, kGameW, kGameH);
    const double bytes = 4.0 * (kGameW * kGameH + static_cast<double>(p.w) * p.h);
    std::printf("  floor %4dx%-4d  %.3f ms (%.1f MB written at %.1f GB/s)\n", clientW, clientH,
                bytes / (gbs * 1e6), bytes / 1e6, gbs);
}

void Ramp(DirectDraw& dd, DirectDrawSurface& image) {
    void* raw = nullptr;
    int32_t pitch = 0;
    if (image.Lock(&raw, &pitch) != DD_OK) return;
    auto* bits = static_cast<uint8_t*>(raw);
    for (int y = 0; y < kGameH; ++y)
        for (int x = 0; x < kGameW; ++x)
            WritePixel(bits + y * pitch + x * image.BytesPerPixel(), image.BytesPerPixel(),
                       PackColour(dd.Format(), ((x & 255) << 16) | ((y & 255) << 8) | 0x40));
    image.Unlock();
}

// The program's own path: a window-kind display, the frame copied and blitted onto the primary.
Figures ProgramFrame(int clientW, int clientH, int frames) {
    GameWindow window("bench");
    window.SetGameArea(kGameW, kGameH);
    window.SetBordered(true);
    window.SetResizable(true);
    window.SetClientSize(clientW, clientH);
    window.Show();
    Pump();
    DirectDraw dd(&window);
    dd.SetCooperativeLevel(DDSCL_NORMAL);
    SurfaceDesc pd;
    pd.caps = DDSCAPS_PRIMARYSURFACE;
    SurfacePtr primary, back, image;
    dd.CreateSurface(pd, primary);
    dd.AttachWindowClipper(primary.get());
    SurfaceDesc od;
    od.caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    od.width = kGameW, od.height = kGameH;
    dd.CreateSurface(od, back);
    dd.CreateSurface(od, image);
    Ramp(dd, *image);
    int ox = 0, oy = 0;
    Figures f = Measure(frames, [&] {
        back->Blt(nullptr, image.get(), nullptr, DDBLT_WAIT, nullptr);
        window.ClientOrigin(ox, oy);
        Rect dst{ox, oy, ox + kGameW, oy + kGameH};
        primary->Blt(&dst, back.get(), nullptr, 16, nullptr);
    });
    const Size s = window.ClientSize();
    f.w = s.w, f.h = s.h;
    Print("program, window", s.w, s.h, f);
    return f;
}

// The 16-bit full-screen mode where the display has no 800 x 600 mode: the game area scaled to
// the desktop, through the flip chain.
Figures FullScreen16(int frames) {
    GameWindow window("bench");
    window.Show();
    Pump();
    DirectDraw dd(&window);
    if (dd.SetCooperativeLevel(DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE) != DD_OK ||
        dd.SetDisplayMode(kGameW, kGameH, 16, 0, 0) != DD_OK) {
        std::printf("  full screen, 16 bits: not available\n");
        return {};
    }
    SurfaceDesc pd;
    pd.caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    pd.backBufferCount = 1;
    SurfacePtr primary, image;
    dd.CreateSurface(pd, primary);
    SurfaceDesc od;
    od.caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    od.width = kGameW, od.height = kGameH;
    dd.CreateSurface(od, image);
    Ramp(dd, *image);
    for (int i = 0; i < 20; ++i) Pump(), SDL_Delay(10);  // let the window reach full screen
    auto back = primary->AttachedBackBuffer();
    const Figures f = Measure(frames, [&] {
        back->Blt(nullptr, image.get(), nullptr, DDBLT_WAIT, nullptr);
        primary->Flip(nullptr, DDFLIP_WAIT);
    });
    const Size s = window.ClientSize();
    Print(dd.ScaledMode() ? "program, full screen 16 bits, scaled" : "program, full screen 16 bits",
          s.w, s.h, f);
    return f;
}

// The halves of the program's frame on a plain window of the given size: the scaling into the
// window's pixels, and sending the picture's rectangle to the display.
void Halves(int clientW, int clientH, int frames) {
    SDL_Window* w = SDL_CreateWindow("bench", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                     clientW, clientH, 0);
    for (int i = 0; i < 20; ++i) Pump(), SDL_Delay(10);
    SDL_Surface* ws = w ? SDL_GetWindowSurface(w) : nullptr;
    if (!ws || ws->format->format != SDL_PIXELFORMAT_RGB888) {
        std::printf("  halves: no 32-bit window surface\n");
        if (w) SDL_DestroyWindow(w);
        return;
    }
    std::vector<uint32_t> game32(kGameW * kGameH), game16(kGameW * kGameH / 2);
    for (int i = 0; i < kGameW * kGameH; ++i) game32[i] = static_cast<uint32_t>(i * 2654435761u);
    for (auto& v : game16) v = 0x5A5AF00Fu;
    const Presentation p = FitGameArea(ws->w, ws->h, kGameW, kGameH);
    const SDL_Rect rect{p.x, p.y, p.w, p.h};
    PictureScaler scaler;
    auto* bits = static_cast<uint8_t*>(ws->pixels);
    Print(p.smooth ? "  scale 32 bits (filtered)" : "  scale 32 bits (sharp)", p.w, p.h,
          Measure(frames, [&] {
              scaler.Draw(reinterpret_cast<const uint8_t*>(game32.data()), kGameW * 4, kGameW,
                          kGameH, PixelLayout::Xrgb8888, bits, ws->pitch, p);
          }));
    Print(p.smooth ? "  scale 16 bits (filtered)" : "  scale 16 bits (sharp)", p.w, p.h,
          Measure(frames, [&] {
              scaler.Draw(reinterpret_cast<const uint8_t*>(game16.data()), kGameW * 2, kGameW,
                          kGameH, PixelLayout::Rgb565, bits, ws->pitch, p);
          }));
    Print("  send the picture to the display", p.w, p.h,
          Measure(frames, [&] { SDL_UpdateWindowSurfaceRects(w, &rect, 1); }));
    SDL_DestroyWindow(w);
}

// SDL's renderer: one upload of the game area, scaled by the renderer into the window. With
// `software`, SDL's own software renderer (drawing into the window's surface on the processor,
// as the program does), otherwise the first accelerated one SDL finds (on a machine without a
// graphics card an OpenGL rasteriser on the processor).
Figures RendererFrame(int clientW, int clientH, int frames, bool software) {
    SDL_Window* w = SDL_CreateWindow("bench", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                     clientW, clientH, SDL_WINDOW_RESIZABLE);
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, software ? "software" : "");
    SDL_Renderer* r =
        w ? SDL_CreateRenderer(w, -1, software ? SDL_RENDERER_SOFTWARE : SDL_RENDERER_ACCELERATED)
          : nullptr;
    if (!r) {
        std::printf("  SDL renderer: none (%s)\n", SDL_GetError());
        if (w) SDL_DestroyWindow(w);
        return {};
    }
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(r, &info);
    SDL_Texture* t =
        SDL_CreateTexture(r, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, kGameW, kGameH);
    std::vector<uint32_t> pixels(kGameW * kGameH, 0x204080);
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(r, &ow, &oh);
    const Presentation p = FitGameArea(ow, oh, kGameW, kGameH);
    SDL_SetTextureScaleMode(t, p.smooth ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    const SDL_Rect dst{p.x, p.y, p.w, p.h};
    Pump();
    const Figures f = Measure(frames, [&] {
        SDL_UpdateTexture(t, nullptr, pixels.data(), kGameW * 4);
        SDL_RenderClear(r);
        SDL_RenderCopy(r, t, nullptr, &dst);
        SDL_RenderPresent(r);
    });
    char what[64];
    std::snprintf(what, sizeof what, "SDL renderer (%s)", info.name);
    Print(what, ow, oh, f);
    Print("  its upload of the game area alone", kGameW, kGameH,
          Measure(frames, [&] { SDL_UpdateTexture(t, nullptr, pixels.data(), kGameW * 4); }));
    SDL_DestroyTexture(t);
    SDL_DestroyRenderer(r);
    SDL_DestroyWindow(w);
    return f;
}

// ---- the large frame in turns: the program, its scaling as it was, and a memcpy ----

// Wall time and thread time of each way, one frame of each per round, so that a neighbour's
// burst falls on all of them.
struct Series {
    std::vector<double> wall, cpu;
};
std::vector<Series> InTurns(int rounds, const std::vector<std::function<void()>>& ways) {
    for (int r = 0; r < zx::bench::Sized(5, 1); ++r)
        for (const auto& w : ways) w();
    std::vector<Series> out(ways.size());
    for (int r = 0; r < rounds; ++r)
        for (size_t k = 0; k < ways.size(); ++k) {
            const double w0 = WallMs(), c0 = ThreadCpuMs();
            ways[k]();
            out[k].cpu.push_back(ThreadCpuMs() - c0);
            out[k].wall.push_back(WallMs() - w0);
        }
    for (auto& s : out)
        std::sort(s.wall.begin(), s.wall.end()), std::sort(s.cpu.begin(), s.cpu.end());
    return out;
}
double Med(const std::vector<double>& v) { return v[v.size() / 2]; }

// A turn is a run of frames and then the wait for the display to have taken them: the display's
// copy of a frame overlaps the drawing of the next, so a single frame would leave its copy out.
constexpr int kRun = 4;

// The copy the frame is held against: the window's bytes from one buffer to another.
struct WindowCopy {
    std::vector<uint8_t> from, to;
    explicit WindowCopy(size_t bytes) : from(bytes, 1), to(bytes, 2) {}
    void operator()() {
        std::memcpy(to.data(), from.data(), to.size());
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
};

// The program's frames with its scaling as it is and as it was, and the copy, in turns of kRun;
// the figures per frame.
std::vector<Series> FramesInTurns(int rounds, DirectDraw& dd,
                                  const std::function<void(const ScalingWays&)>& frame,
                                  WindowCopy& copy) {
    auto run = [&](const ScalingWays& ways) {
        for (int i = 0; i < kRun; ++i) frame(ways);
        dd.WaitForDisplay();
    };
    auto turns = InTurns(rounds, {[&] { run(ScalingWays{}); }, [&] { run(kOneThreadSse2); },
                                  [&] {
                                      for (int i = 0; i < kRun; ++i) copy();
                                  }});
    for (auto& s : turns) {
        for (double& v : s.wall) v /= kRun;
        for (double& v : s.cpu) v /= kRun;
    }
    return turns;
}

// One line per case: the program's frame, the same frame scaled as before (one thread, SSE2,
// rows through the caches: the pictures are the same) and a memcpy of the window's bytes, in
// turns; medians and spreads of wall time, the program's thread time, and the ratios.
void PrintTurns(const char* what, int w, int h, int bits, const std::vector<Series>& s, double mb) {
    const Series &ours = s[0], &before = s[1], &copy = s[2];
    std::printf(
        "  turns %s %dx%d %d bits: wall ms program %.3f (%.3f - %.3f; thread %.3f), before %.3f "
        "(%.3f - %.3f; thread %.3f), memcpy of %.1f MB %.3f (%.3f - %.3f); program / memcpy %.2f "
        "(quickest %.2f), program / before %.2f (quickest %.2f)\n",
        what, w, h, bits, Med(ours.wall), ours.wall.front(), ours.wall.back(), Med(ours.cpu),
        Med(before.wall), before.wall.front(), before.wall.back(), Med(before.cpu), mb,
        Med(copy.wall), copy.wall.front(), copy.wall.back(), Med(ours.wall) / Med(copy.wall),
        ours.wall.front() / copy.wall.front(), Med(ours.wall) / Med(before.wall),
        ours.wall.front() / before.wall.front());
}

// The window kind at a client size: the frame blitted onto the primary, as the game does.
void WindowTurns(int clientW, int clientH, int frames) {
    GameWindow window("bench");
    window.SetGameArea(kGameW, kGameH);
    window.SetBordered(false);
    window.SetClientSize(clientW, clientH);
    window.Show();
    for (int i = 0; i < 20; ++i) Pump(), SDL_Delay(10);
    DirectDraw dd(&window);
    dd.SetCooperativeLevel(DDSCL_NORMAL);
    SurfaceDesc pd;
    pd.caps = DDSCAPS_PRIMARYSURFACE;
    SurfacePtr primary, back, image;
    dd.CreateSurface(pd, primary);
    dd.AttachWindowClipper(primary.get());
    SurfaceDesc od;
    od.caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    od.width = kGameW, od.height = kGameH;
    dd.CreateSurface(od, back);
    dd.CreateSurface(od, image);
    Ramp(dd, *image);
    auto frame = [&](const ScalingWays& ways) {
        dd.SetScalingWays(ways);
        back->Blt(nullptr, image.get(), nullptr, DDBLT_WAIT, nullptr);
        int ox = 0, oy = 0;
        window.ClientOrigin(ox, oy);
        Rect dst{ox, oy, ox + kGameW, oy + kGameH};
        primary->Blt(&dst, back.get(), nullptr, 16, nullptr);
    };
    const Size s = window.ClientSize();
    const size_t bytes = static_cast<size_t>(s.w) * s.h * 4;
    WindowCopy copy(bytes);
    const auto turns = FramesInTurns(frames, dd, frame, copy);
    const Presentation p = FitGameArea(s.w, s.h, kGameW, kGameH);
    PrintTurns(p.smooth ? "window, filtered" : "window, whole step", s.w, s.h, 32, turns,
               static_cast<double>(bytes) / 1e6);
}

// Full screen (kind 0) in the game's own depth on a desktop without an 800 x 600 mode: the game
// area scaled to the desktop at each flip.
void FullScreenTurns(int bits, int frames) {
    GameWindow window("bench");
    window.Show();
    Pump();
    DirectDraw dd(&window);
    if (dd.SetCooperativeLevel(DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE) != DD_OK ||
        dd.SetDisplayMode(kGameW, kGameH, static_cast<uint32_t>(bits), 0, 0) != DD_OK) {
        std::printf("  turns full screen %d bits: not available\n", bits);
        return;
    }
    SurfaceDesc pd;
    pd.caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    pd.backBufferCount = 1;
    SurfacePtr primary, image;
    dd.CreateSurface(pd, primary);
    SurfaceDesc od;
    od.caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    od.width = kGameW, od.height = kGameH;
    dd.CreateSurface(od, image);
    Ramp(dd, *image);
    for (int i = 0; i < 20; ++i) Pump(), SDL_Delay(10);
    auto back = primary->AttachedBackBuffer();
    auto frame = [&](const ScalingWays& ways) {
        dd.SetScalingWays(ways);
        back->Blt(nullptr, image.get(), nullptr, DDBLT_WAIT, nullptr);
        primary->Flip(nullptr, DDFLIP_WAIT);
    };
    const Size s = window.ClientSize();
    const size_t bytes = static_cast<size_t>(s.w) * s.h * 4;
    WindowCopy copy(bytes);
    const auto turns = FramesInTurns(frames, dd, frame, copy);
    const Presentation p = FitGameArea(s.w, s.h, kGameW, kGameH);
    PrintTurns(p.smooth ? "full screen, filtered" : "full screen, whole step", s.w, s.h, bits,
               turns, static_cast<double>(bytes) / 1e6);
}

void Ratio(const char* what, const Figures& small, const Figures& large) {
    if (small.wall <= 0 || small.cpu <= 0) return;
    std::printf("  %s 3840x2160 / 800x600: wall %.2f, thread %.2f\n", what, large.wall / small.wall,
                large.cpu / small.cpu);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : zx::bench::Sized(200, 3);
    if (!InitVideo()) {
        std::fprintf(stderr, "no display: %s\n", SDL_GetError());
        return 1;
    }
    SDL_DisplayMode dm{};
    SDL_GetDesktopDisplayMode(0, &dm);
    std::printf("desktop %dx%d, video driver %s, %d frames each, medians\n", dm.w, dm.h,
                SDL_GetCurrentVideoDriver(), frames);
    const Figures small = ProgramFrame(800, 600, frames);
    const Figures large = ProgramFrame(3840, 2160, frames);
    Ratio("program:", small, large);
    const double gbs = WriteGBs();
    // The 800 x 600 frame (some 4 MB) stays in the caches: the memory's bandwidth is no floor to
    // it.
    PrintFloor(large.w, large.h, gbs);
    FullScreen16(frames);
    // The large frame against the floor and against the scaling as it was, in turns: the window
    // kind filtered (3.6x) and at a whole step (3x), full screen in 16, 24 and 32 bits.
    WindowTurns(3840, 2160, frames);
    WindowTurns(2400, 1800, frames);
    for (int bits : {16, 24, 32}) FullScreenTurns(bits, frames);
    Halves(3840, 2160, frames);
    Halves(2400, 1800, frames);
    // The program turns SDL's renderer off where it draws on the processor; on for comparison.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "1");
    const Figures rsmall = RendererFrame(800, 600, frames, false);
    const Figures rlarge = RendererFrame(3840, 2160, frames, false);
    Ratio("SDL renderer:", rsmall, rlarge);
    // Without a graphics card the fair peer: SDL's software renderer.
    const Figures ssmall = RendererFrame(800, 600, frames, true);
    const Figures slarge = RendererFrame(3840, 2160, frames, true);
    Ratio("SDL software renderer:", ssmall, slarge);
    return 0;
}
