// Sprite drawing costs: our colour-keyed stretch and blends against SDL's own blits on the same
// pixels, and a heavy game frame (background, swimmers, bubbles, shots half of them blended,
// masked sprites, cave pieces, HUD, sort) in RGB565 and in 32 bits, median and p99.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "sprites/BobUnit.h"
#include "sprites/SpriteDefs.h"
#include "surface/DDUtils.h"

using namespace zx;
using platform::PixelFormat;

namespace {

PixelFormat Fmt(int bits) {
    PixelFormat f;
    f.bitCount = static_cast<uint32_t>(bits);
    if (bits != 16) f.rMask = 0xFF0000, f.gMask = 0x00FF00, f.bMask = 0x0000FF;
    return f;
}

SurfacePtr Make(int w, int h, int bits) {
    return std::make_shared<DirectDrawSurface>(nullptr, platform::DDSCAPS_OFFSCREENPLAIN, w, h,
                                               Fmt(bits));
}

// A sprite-like sheet: an opaque ellipse on the key colour, a little texture inside.
void PaintSheet(DirectDrawSurface* s, uint32_t seed) {
    std::mt19937 rng(seed);
    const int bpp = s->BytesPerPixel();
    for (int y = 0; y < s->Height(); ++y)
        for (int x = 0; x < s->Width(); ++x) {
            double dx = (x - s->Width() / 2.0) / (s->Width() / 2.0),
                   dy = (y - s->Height() / 2.0) / (s->Height() / 2.0);
            uint32_t v = dx * dx + dy * dy < 1 ? (rng() | 0x10101) & 0xFFFFFF : 0;
            if (bpp == 2) v = (v & 0xFFFF) | 0x0841;
            if (dx * dx + dy * dy >= 1) v = 0;
            platform::WritePixel(s->Bits() + y * s->Pitch() + x * bpp, bpp, v);
        }
    s->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
}

SDL_Surface* SdlOver(DirectDrawSurface* s) {
    return SDL_CreateRGBSurfaceWithFormatFrom(
        s->Bits(), s->Width(), s->Height(), s->BytesPerPixel() * 8, s->Pitch(),
        s->BytesPerPixel() == 2 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB888);
}

struct Pair {
    SurfacePtr src, dst;
    SDL_Surface *ssrc, *sdst;
    explicit Pair(int bits) : src(Make(306, 55, bits)), dst(Make(800, 600, bits)) {
        PaintSheet(src.get(), 1);
        ssrc = SdlOver(src.get());
        sdst = SdlOver(dst.get());
        SDL_SetColorKey(ssrc, SDL_TRUE, 0);
    }
    ~Pair() {
        SDL_FreeSurface(ssrc);
        SDL_FreeSurface(sdst);
    }
};

// The keyed stretch, 306 x 55 drawn 459 x 83 (scale 1.5).
void OurKeyedStretch(Pair& p) {
    BlitSprite(p.src.get(), nullptr, 0, 0, 306, 55, p.dst.get(), 100, 100, 459, 83, 1, 255, 0, 0,
               799, 599);
}
void SdlKeyedStretch(Pair& p) {
    SDL_Rect d{100, 100, 459, 83};
    SDL_BlitScaled(p.ssrc, nullptr, p.sdst, &d);
}

void BM_BlitSpriteKeyedStretch(benchmark::State& st) {
    Pair p(static_cast<int>(st.range(0)));
    for (auto _ : st) OurKeyedStretch(p);
    st.SetItemsProcessed(st.iterations() * 459 * 83);
}
void BM_SDLBlitScaledKeyed(benchmark::State& st) {
    Pair p(static_cast<int>(st.range(0)));
    for (auto _ : st) SdlKeyedStretch(p);
    st.SetItemsProcessed(st.iterations() * 459 * 83);
}
BENCHMARK(BM_BlitSpriteKeyedStretch)->Arg(16)->Arg(32);
BENCHMARK(BM_SDLBlitScaledKeyed)->Arg(16)->Arg(32);

// A letter flying in: 40 x 40 of the sheet drawn 160 x 160 (scale 4, filtered), against SDL's
// keyed nearest-pixel stretch of the same.
void BM_BlitSpriteKeyedMagnify4(benchmark::State& st) {
    Pair p(static_cast<int>(st.range(0)));
    for (auto _ : st)
        BlitSprite(p.src.get(), nullptr, 130, 8, 40, 40, p.dst.get(), 100, 100, 160, 160, 1, 255, 0,
                   0, 799, 599);
    st.SetItemsProcessed(st.iterations() * 160 * 160);
}
void BM_SDLBlitScaledKeyedMagnify4(benchmark::State& st) {
    Pair p(static_cast<int>(st.range(0)));
    SDL_Rect s{130, 8, 40, 40}, d{100, 100, 160, 160};
    for (auto _ : st) SDL_BlitScaled(p.ssrc, &s, p.sdst, &d);
    st.SetItemsProcessed(st.iterations() * 160 * 160);
}
BENCHMARK(BM_BlitSpriteKeyedMagnify4)->Arg(16)->Arg(32);
BENCHMARK(BM_SDLBlitScaledKeyedMagnify4)->Arg(16)->Arg(32);

// Alpha-map blend (306 x 55, unscaled) against SDL's per-pixel alpha blend of an ARGB sprite.
void BM_BlendWithAlphaMap(benchmark::State& st) {
    const int bits = static_cast<int>(st.range(0));
    auto src = Make(306, 55, bits), back = Make(800, 600, bits), blend = Make(800, 600, bits);
    PaintSheet(src.get(), 2);
    std::vector<uint8_t> map(308 * 55);
    for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint8_t>(i * 7);
    DD.BlendSurface = blend;
    for (auto _ : st)
        BlitSprite(src.get(), map.data(), 0, 0, 306, 55, back.get(), 10, 10, 306, 55, 1, 255, 0, 0,
                   799, 599);
    DD.BlendSurface.reset();
    st.SetItemsProcessed(st.iterations() * 306 * 55);
}
void BM_SDLBlitSurfaceAlpha(benchmark::State& st) {
    SDL_Surface* src = SDL_CreateRGBSurfaceWithFormat(0, 306, 55, 32, SDL_PIXELFORMAT_ARGB8888);
    SDL_Surface* dst = SDL_CreateRGBSurfaceWithFormat(
        0, 800, 600, static_cast<int>(st.range(0)),
        st.range(0) == 16 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB888);
    for (int i = 0; i < 306 * 55; ++i)
        static_cast<uint32_t*>(src->pixels)[i] = (static_cast<uint32_t>(i * 7) << 24) | 0x336699;
    SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_BLEND);
    for (auto _ : st) {
        SDL_Rect d{10, 10, 306, 55};
        SDL_BlitSurface(src, nullptr, dst, &d);
    }
    SDL_FreeSurface(src);
    SDL_FreeSurface(dst);
    st.SetItemsProcessed(st.iterations() * 306 * 55);
}
// The same alpha-map sprite as a flying letter: 40 x 40 drawn 160 x 160, filtered in colour and
// weight.
void BM_BlendWithAlphaMapMagnify4(benchmark::State& st) {
    const int bits = static_cast<int>(st.range(0));
    auto src = Make(306, 55, bits), back = Make(800, 600, bits), blend = Make(800, 600, bits);
    PaintSheet(src.get(), 2);
    std::vector<uint8_t> map(308 * 55);
    for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint8_t>(i * 7);
    DD.BlendSurface = blend;
    for (auto _ : st)
        BlitSprite(src.get(), map.data(), 130, 8, 40, 40, back.get(), 100, 100, 160, 160, 1, 255, 0,
                   0, 799, 599);
    DD.BlendSurface.reset();
    st.SetItemsProcessed(st.iterations() * 160 * 160);
}
BENCHMARK(BM_BlendWithAlphaMap)->Arg(16)->Arg(32);
BENCHMARK(BM_BlendWithAlphaMapMagnify4)->Arg(16)->Arg(32);
BENCHMARK(BM_SDLBlitSurfaceAlpha)->Arg(16)->Arg(32);

// ---- the heavy frame ----

// Adds a sprite with one animation of `images` frames cut from a sheet laid out in a row.
int AddSprite(const char* name, int fw, int fh, int images, int bits, bool mask, uint32_t seed) {
    auto sheet = Make(fw * images, fh, bits);
    PaintSheet(sheet.get(), seed);
    TSurfaceEntry e;
    e.Surface = sheet;
    if (mask) {
        const int stride = (sheet->Width() + 3) & ~3;
        e.Mask.assign(static_cast<size_t>(stride) * fh, 0);
        for (int y = 0; y < fh; ++y)
            for (int x = 0; x < sheet->Width(); ++x)
                e.Mask[static_cast<size_t>(y * stride + x)] =
                    static_cast<uint8_t>((x * 255) / sheet->Width());
    }
    Surfaces.push_back(std::move(e));
    ++SurfaceCount;
    SpriteDef d;
    d.Name = name;
    d.FrameBase = static_cast<uint16_t>(FrameCount);
    d.MovieList = {static_cast<uint16_t>(images), 2, 0};
    for (int k = 1; k <= images; ++k) d.MovieList.push_back(static_cast<uint16_t>(k));
    d.AnimCount = 1;
    for (int k = 0; k < images; ++k) {
        Frames.push_back(TFrame{SurfaceCount, true, k * fw, 0, fw, fh});
        ++FrameCount;
    }
    Sprites.push_back(std::move(d));
    return ++SpriteCount;
}

struct Scene {
    std::unique_ptr<TBobs> bobs;
    std::vector<std::unique_ptr<TRBob>> objects;
    SurfacePtr backImage;
    explicit Scene(int bits) {
        ReleaseSprites();
        DD.SetGameArea(800, 600);
        DD.TransparencyOn = true;
        DD.FlipList = {Make(800, 600, bits), Make(800, 600, bits)};
        DD.BlendSurface = Make(800, 600, bits);
        backImage = Make(800, 600, bits);
        PaintSheet(backImage.get(), 9);
        const int sperm = AddSprite("SPERM1", 306, 55, 12, bits, false, 3);
        const int bubble = AddSprite("BUBBLE", 60, 60, 24, bits, false, 4);
        const int shot = AddSprite("KONDOM", 303, 75, 12, bits, false, 5);
        const int virus = AddSprite("VIRUS3", 87, 68, 12, bits, true, 6);
        const int cave = AddSprite("ELEMENT_BODEN_2", 323, 196, 1, bits, false, 7);
        const int score = AddSprite("SCORE", 131, 35, 1, bits, false, 8);
        const int digits = AddSprite("ZAHLEN", 56, 60, 11, bits, false, 10);
        bobs = std::make_unique<TBobs>();
        Bobs = bobs.get();
        std::mt19937 rng(42);
        auto uni = [&](double a, double b) {
            return static_cast<float>(std::uniform_real_distribution<double>(a, b)(rng));
        };
        auto add = [&](int sprite, float x, float y, float z, uint8_t alpha, int layer,
                       bool screen) {
            auto o = std::make_unique<TRBob>();
            o->AddPart(sprite, 0, 0, 0, 0);
            TBob* b = o->Parts[1].Bob;
            b->Alpha = alpha, b->Layer = layer, b->ScreenSpace = screen, b->ProjectPos = !screen;
            b->FramePos = static_cast<uint16_t>(rng() % 6);
            o->SetX(x), o->SetY(y), o->SetZ(z);
            objects.push_back(std::move(o));
        };
        for (int i = 0; i < 10; ++i)
            add(cave, uni(-500, 500), i % 2 ? 220 : -220, uni(-900, -800), 255, 0, false);
        for (int i = 0; i < 50; ++i)
            add(sperm, uni(-500, 400), uni(-280, 280), uni(-2400, -1000), 255, 0, false);
        for (int i = 0; i < 300; ++i)
            add(bubble, uni(-400, 400), uni(-300, 300), uni(-2400, -900), 255, 0, false);
        for (int i = 0; i < 100; ++i)
            add(shot, uni(-400, 400), uni(-300, 300), uni(-2400, -1600), i < 60 ? 165 : 255, 0,
                false);
        for (int i = 0; i < 20; ++i)
            add(virus, uni(-400, 400), uni(-300, 300), uni(-1200, -800), 255, 0, false);
        add(score, 80, 20, -1, 255, 1, true);
        for (int i = 0; i < 6; ++i) add(digits, 160 + i * 56.0f, 30, -1, 255, 1, true);
    }
    ~Scene() {
        objects.clear();
        bobs.reset();
        Bobs = nullptr;
        ReleaseSprites();
        DD.FlipList.clear();
        DD.BlendSurface.reset();
    }
    void Frame(int tick) {
        BlitClipped(backImage.get(), 0, 0, 800, 600, BackBuffer(), 0, 0, 0, 0, 0, 799, 599);
        // Things move a little in depth every frame, as they do in play.
        for (size_t i = 0; i < objects.size(); i += 7)
            objects[i]->SetZ(objects[i]->Z + ((tick & 1) ? 3.0f : -3.0f));
        Bobs->paint();
    }
};

void BM_HeavyFrame(benchmark::State& st) {
    Scene scene(static_cast<int>(st.range(0)));
    int tick = 0;
    for (auto _ : st) scene.Frame(tick++);
}
BENCHMARK(BM_HeavyFrame)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

template <class F>
std::vector<double> Times(int n, F&& f) {
    std::vector<double> t;
    for (int i = 0; i < n; ++i) {
        auto a = std::chrono::steady_clock::now();
        f(i);
        t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a)
                        .count());
    }
    std::sort(t.begin(), t.end());
    return t;
}

void Summary() {
    std::printf("\n");
    for (int bits : {16, 32}) {
        Pair p(bits);
        for (int i = 0; i < 200; ++i) OurKeyedStretch(p), SdlKeyedStretch(p);
        // Interleaved, so both see the same machine state.
        double ours = 0, sdl = 0;
        for (int round = 0; round < 20; ++round) {
            auto a = std::chrono::steady_clock::now();
            for (int i = 0; i < 100; ++i) OurKeyedStretch(p);
            auto b = std::chrono::steady_clock::now();
            for (int i = 0; i < 100; ++i) SdlKeyedStretch(p);
            auto c = std::chrono::steady_clock::now();
            ours += std::chrono::duration<double, std::nano>(b - a).count();
            sdl += std::chrono::duration<double, std::nano>(c - b).count();
        }
        const double px = 20.0 * 100 * 459 * 83;
        std::printf(
            "keyed stretch %2d bits: BlitSprite %.3f ns/px, SDL_BlitScaled %.3f ns/px, ratio "
            "%.3f\n",
            bits, ours / px, sdl / px, ours / sdl);
    }
    for (int bits : {16, 32}) {
        Pair p(bits);
        auto magnify = [&] {
            BlitSprite(p.src.get(), nullptr, 130, 8, 40, 40, p.dst.get(), 100, 100, 160, 160, 1,
                       255, 0, 0, 799, 599);
        };
        for (int i = 0; i < 200; ++i) magnify(), OurKeyedStretch(p);
        double filtered = 0, nearest = 0;
        for (int round = 0; round < 20; ++round) {
            auto a = std::chrono::steady_clock::now();
            for (int i = 0; i < 100; ++i) magnify();
            auto b = std::chrono::steady_clock::now();
            for (int i = 0; i < 100; ++i) OurKeyedStretch(p);
            auto c = std::chrono::steady_clock::now();
            filtered += std::chrono::duration<double, std::nano>(b - a).count();
            nearest += std::chrono::duration<double, std::nano>(c - b).count();
        }
        std::printf(
            "filtered magnifier %2d bits: %.3f ns/px (x4), nearest keyed stretch %.3f ns/px "
            "(x1.5)\n",
            bits, filtered / (20.0 * 100 * 160 * 160), nearest / (20.0 * 100 * 459 * 83));
    }
    for (int bits : {16, 32}) {
        Scene scene(bits);
        for (int i = 0; i < 20; ++i) scene.Frame(i);
        auto t = Times(400, [&](int i) { scene.Frame(i); });
        std::printf("heavy frame %2d bits: median %.3f ms, p99 %.3f ms (%d bobs)\n", bits,
                    t[t.size() / 2], t[t.size() * 99 / 100], Bobs->bobarray.Count());
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Summary();
    return 0;
}
