// The window kind's frame time at a small and a large client area, in one run: the frame of the
// game area (back image into the back buffer, then the flip that shows it in the window) at
// 800 x 600 and at 3840 x 2160, through the presenter the program picks, and through SDL's
// renderer forced on for comparison (on a machine without a graphics card that is a software
// rasteriser).
//   bench_WindowScaleBench [frames]        (needs a display: run it under Xvfb at 3840x2160)
#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/DDraw.h"
#include "platform/Presentation.h"
#include "platform/Window.h"

using namespace zx::platform;

namespace {

constexpr int kGameW = 800, kGameH = 600;

double Now() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Pump() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
}

// The program's own path: a window-kind display, the frame copied and blitted onto the primary.
double ProgramFrameMs(int clientW, int clientH, int frames) {
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
    // Something to show: a colour ramp.
    void* raw = nullptr;
    int32_t pitch = 0;
    if (image->Lock(&raw, &pitch) == DD_OK) {
        auto* bits = static_cast<uint8_t*>(raw);
        for (int y = 0; y < kGameH; ++y)
            for (int x = 0; x < kGameW; ++x)
                WritePixel(bits + y * pitch + x * image->BytesPerPixel(), image->BytesPerPixel(),
                           PackColour(dd.Format(), ((x & 255) << 16) | ((y & 255) << 8) | 0x40));
        image->Unlock();
    }
    int ox = 0, oy = 0;
    auto frame = [&] {
        back->Blt(nullptr, image.get(), nullptr, DDBLT_WAIT, nullptr);
        window.ClientOrigin(ox, oy);
        Rect dst{ox, oy, ox + kGameW, oy + kGameH};
        primary->Blt(&dst, back.get(), nullptr, 16, nullptr);
    };
    for (int i = 0; i < 10; ++i) frame();
    const double t0 = Now();
    for (int i = 0; i < frames; ++i) frame();
    const double ms = (Now() - t0) / frames;
    const Size s = window.ClientSize();
    std::printf("  program presenter  %4dx%-4d  %7.3f ms/frame\n", s.w, s.h, ms);
    return ms;
}

// SDL's renderer: one upload of the game area, scaled by the renderer into the window.
double RendererFrameMs(int clientW, int clientH, int frames) {
    SDL_Window* w = SDL_CreateWindow("bench", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                     clientW, clientH, SDL_WINDOW_RESIZABLE);
    SDL_Renderer* r = w ? SDL_CreateRenderer(w, -1, SDL_RENDERER_ACCELERATED) : nullptr;
    if (!r) {
        std::printf("  SDL renderer: none (%s)\n", SDL_GetError());
        if (w) SDL_DestroyWindow(w);
        return 0;
    }
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(r, &info);
    SDL_Texture* t =
        SDL_CreateTexture(r, SDL_PIXELFORMAT_XRGB8888, SDL_TEXTUREACCESS_STREAMING, kGameW, kGameH);
    std::vector<uint32_t> pixels(kGameW * kGameH, 0x204080);
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(r, &ow, &oh);
    const Presentation p = FitGameArea(ow, oh, kGameW, kGameH);
    SDL_SetTextureScaleMode(t, p.smooth ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    const SDL_Rect dst{p.x, p.y, p.w, p.h};
    auto frame = [&] {
        SDL_UpdateTexture(t, nullptr, pixels.data(), kGameW * 4);
        SDL_RenderClear(r);
        SDL_RenderCopy(r, t, nullptr, &dst);
        SDL_RenderPresent(r);
    };
    Pump();
    for (int i = 0; i < 10; ++i) frame();
    const double t0 = Now();
    for (int i = 0; i < frames; ++i) frame();
    const double ms = (Now() - t0) / frames;
    std::printf("  SDL renderer (%s) %4dx%-4d  %7.3f ms/frame\n", info.name, ow, oh, ms);
    SDL_DestroyTexture(t);
    SDL_DestroyRenderer(r);
    SDL_DestroyWindow(w);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 200;
    if (!InitVideo()) {
        std::fprintf(stderr, "no display: %s\n", SDL_GetError());
        return 1;
    }
    SDL_DisplayMode dm{};
    SDL_GetDesktopDisplayMode(0, &dm);
    std::printf("desktop %dx%d, video driver %s, %d frames each\n", dm.w, dm.h,
                SDL_GetCurrentVideoDriver(), frames);
    const double small = ProgramFrameMs(800, 600, frames);
    const double large = ProgramFrameMs(3840, 2160, frames);
    std::printf("  program presenter: 3840x2160 / 800x600 = %.2f\n", small > 0 ? large / small : 0);
    const double rsmall = RendererFrameMs(800, 600, frames);
    const double rlarge = RendererFrameMs(3840, 2160, frames);
    if (rsmall > 0) std::printf("  SDL renderer: 3840x2160 / 800x600 = %.2f\n", rlarge / rsmall);
    return 0;
}
