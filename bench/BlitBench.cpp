// Sprite drawing costs: our colour-keyed stretch, keyed copy and blends against SDL's own blits
// on the same pixels, and a heavy game frame (background, swimmers, bubbles, shots half of them
// blended, masked sprites, cave pieces, HUD, sort) in RGB565 and in 32 bits.
// Each peer is SDL's best path for the same pixels: a keyed stretch is SDL stretching without the
// key into a scratch surface, then blitting that keyed (its generic keyed BlitScaled is kept for
// reference); an unscaled keyed copy is SDL's RLE blit. After the table, the summary compares
// both sides' pixels, times each of ours in turns with its peers and with the floor (the drawn
// rows copied whole) by the processor time of this thread, which a loaded machine does not
// inflate, with the spread of the rounds; and the heavy frame with its spread over 400 frames and
// its floor: the bytes it draws at the machine's copy bandwidth, measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

#include "bench/Smoke.h"
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
    // SDL's best path for a keyed stretch: the sprite stretched without its key into a scratch
    // surface of the drawn size, then a keyed blit of that (its RLE form rebuilt each time the
    // scratch is drawn into, so it is used only where that pays: see StretchPeerRle).
    SDL_Surface *splain, *scratch, *scratchRle;
    // The sheet with SDL's run-length form of its key, for the unscaled keyed copy.
    SDL_Surface* srle;
    explicit Pair(int bits) : src(Make(306, 55, bits)), dst(Make(800, 600, bits)) {
        PaintSheet(src.get(), 1);
        ssrc = SdlOver(src.get());
        sdst = SdlOver(dst.get());
        SDL_SetColorKey(ssrc, SDL_TRUE, 0);
        splain = SdlOver(src.get());
        const Uint32 fmt = sdst->format->format;
        scratch = SDL_CreateRGBSurfaceWithFormat(0, 459, 83, bits, fmt);
        scratchRle = SDL_CreateRGBSurfaceWithFormat(0, 459, 83, bits, fmt);
        SDL_SetColorKey(scratch, SDL_TRUE, 0);
        SDL_SetColorKey(scratchRle, SDL_TRUE, 0);
        SDL_SetSurfaceRLE(scratchRle, 1);
        srle = SDL_DuplicateSurface(splain);  // RLE takes the surface's pixels over
        SDL_SetColorKey(srle, SDL_TRUE, 0);
        SDL_SetSurfaceRLE(srle, 1);
    }
    ~Pair() {
        for (SDL_Surface* s : {ssrc, sdst, splain, scratch, scratchRle, srle}) SDL_FreeSurface(s);
    }
    Pair(const Pair&) = delete;
    Pair& operator=(const Pair&) = delete;
};

// The keyed stretch, 306 x 55 drawn 459 x 83 (scale 1.5).
constexpr int kStretchW = 459, kStretchH = 83, kSheetW = 306, kSheetH = 55;
void OurKeyedStretch(Pair& p) {
    BlitSprite(p.src.get(), nullptr, 0, 0, kSheetW, kSheetH, p.dst.get(), 100, 100, kStretchW,
               kStretchH, 1, 255, 0, 0, 799, 599);
}
// SDL_BlitScaled of a keyed surface: SDL's generic path, a pixel at a time.
void SdlKeyedStretch(Pair& p) {
    SDL_Rect d{100, 100, kStretchW, kStretchH};
    SDL_BlitScaled(p.ssrc, nullptr, p.sdst, &d);
}
void SdlStretchThenKeyed(Pair& p, SDL_Surface* scratch) {
    SDL_BlitScaled(p.splain, nullptr, scratch, nullptr);
    SDL_Rect d{100, 100, kStretchW, kStretchH};
    SDL_BlitSurface(scratch, nullptr, p.sdst, &d);
}
void StretchPeer(Pair& p) { SdlStretchThenKeyed(p, p.scratch); }
void StretchPeerRle(Pair& p) { SdlStretchThenKeyed(p, p.scratchRle); }

// The unscaled keyed copy of the whole sheet.
void OurKeyedCopy(Pair& p) {
    BlitSprite(p.src.get(), nullptr, 0, 0, kSheetW, kSheetH, p.dst.get(), 100, 100, kSheetW,
               kSheetH, 1, 255, 0, 0, 799, 599);
}
void SdlRleCopy(Pair& p) {
    SDL_Rect d{100, 100, kSheetW, kSheetH};
    SDL_BlitSurface(p.srle, nullptr, p.sdst, &d);
}

// The sheet's top row, all of the key colour: a copy's fixed cost, with nothing to copy.
void OurKeyedCopyEmptyRow(Pair& p) {
    BlitSprite(p.src.get(), nullptr, 0, 0, kSheetW, 1, p.dst.get(), 100, 100, kSheetW, 1, 1, 255, 0,
               0, 799, 599);
}
void SdlRleCopyEmptyRow(Pair& p) {
    SDL_Rect r{0, 0, kSheetW, 1}, d{100, 100, kSheetW, 1};
    SDL_BlitSurface(p.srle, &r, p.sdst, &d);
}

template <void (*Draw)(Pair&)>
void BM_Draw(benchmark::State& st, int pixels) {
    Pair p(static_cast<int>(st.range(0)));
    for (auto _ : st) Draw(p);
    st.SetItemsProcessed(st.iterations() * pixels);
}
void BM_BlitSpriteKeyedStretch(benchmark::State& st) {
    BM_Draw<OurKeyedStretch>(st, kStretchW * kStretchH);
}
void BM_SDLBlitScaledKeyed(benchmark::State& st) {
    BM_Draw<SdlKeyedStretch>(st, kStretchW * kStretchH);
}
void BM_SDLStretchThenKeyedBlit(benchmark::State& st) {
    BM_Draw<StretchPeer>(st, kStretchW * kStretchH);
}
void BM_SDLStretchThenKeyedBlitRLE(benchmark::State& st) {
    BM_Draw<StretchPeerRle>(st, kStretchW * kStretchH);
}
void BM_BlitSpriteKeyedCopy(benchmark::State& st) { BM_Draw<OurKeyedCopy>(st, kSheetW * kSheetH); }
void BM_SDLBlitKeyedRLE(benchmark::State& st) { BM_Draw<SdlRleCopy>(st, kSheetW * kSheetH); }
void BM_BlitSpriteKeyedCopyEmptyRow(benchmark::State& st) {
    BM_Draw<OurKeyedCopyEmptyRow>(st, kSheetW);
}
void BM_SDLBlitKeyedRLEEmptyRow(benchmark::State& st) { BM_Draw<SdlRleCopyEmptyRow>(st, kSheetW); }
BENCHMARK(BM_BlitSpriteKeyedStretch)->Arg(16)->Arg(32);
BENCHMARK(BM_SDLBlitScaledKeyed)->Arg(16)->Arg(32);
BENCHMARK(BM_SDLStretchThenKeyedBlit)->Arg(16)->Arg(32);
BENCHMARK(BM_SDLStretchThenKeyedBlitRLE)->Arg(16)->Arg(32);
BENCHMARK(BM_BlitSpriteKeyedCopy)->Arg(16)->Arg(32);
BENCHMARK(BM_SDLBlitKeyedRLE)->Arg(16)->Arg(32);
BENCHMARK(BM_BlitSpriteKeyedCopyEmptyRow)->Arg(16)->Arg(32);
BENCHMARK(BM_SDLBlitKeyedRLEEmptyRow)->Arg(16)->Arg(32);

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

// ---- the summary: processor time in turns, spreads, outputs compared, floors ----

double WallNs() {
    return std::chrono::duration<double, std::nano>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
// The processor time of this thread: what the code itself cost, whatever the neighbours did.
double CpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

struct Spread {
    double min = 0, median = 0, max = 0;
};
Spread SpreadOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

// The machine's copy and write bandwidth in GB/s over buffers of `bytes` (the median of reps,
// by processor time).
double CopyGBs(size_t bytes, int reps, bool writeOnly) {
    std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
    std::vector<double> t;
    for (int i = 0; i <= reps; ++i) {
        const double c0 = CpuNs();
        if (writeOnly)
            std::memset(b.data(), i, bytes);
        else
            std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
        if (i > 0) t.push_back(CpuNs() - c0);  // the first touches the pages
    }
    return static_cast<double>(bytes) / SpreadOf(t).median;
}

// ---- outputs compared ----

uint32_t Background(int bits) { return bits == 16 ? 0x4208u : 0x203040u; }

void Clear(DirectDrawSurface* d, int bits) {
    const int bpp = d->BytesPerPixel();
    for (int y = 0; y < d->Height(); ++y)
        for (int x = 0; x < d->Width(); ++x)
            platform::WritePixel(d->Bits() + y * d->Pitch() + x * bpp, bpp, Background(bits));
}

std::vector<uint32_t> Drawn(const DirectDrawSurface* d, int x0, int y0, int w, int h) {
    std::vector<uint32_t> v;
    const int bpp = d->BytesPerPixel();
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            v.push_back(platform::ReadPixel(d->Bits() + y * d->Pitch() + x * bpp, bpp));
    return v;
}

// The sheet drawn w x h at (100, 100) by `draw`, as the pixels of that rectangle.
std::vector<uint32_t> Output(Pair& p, int bits, void (*draw)(Pair&), int w, int h) {
    Clear(p.dst.get(), bits);
    draw(p);
    return Drawn(p.dst.get(), 100, 100, w, h);
}

// The sheet stretched to w x h by a nearest-pixel rule: column x shows source column pick(x, sw,
// w), keyed pixels leave the background.
template <class Pick>
std::vector<uint32_t> Reference(const DirectDrawSurface* s, int bits, int w, int h, Pick pick) {
    std::vector<uint32_t> v;
    const int bpp = s->BytesPerPixel();
    const uint32_t masks = bits == 16 ? 0xFFFFu : 0xFFFFFFu;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int sx = pick(x, s->Width(), w), sy = pick(y, s->Height(), h);
            const uint32_t px = platform::ReadPixel(s->Bits() + sy * s->Pitch() + sx * bpp, bpp);
            v.push_back((px & masks) == 0 ? Background(bits) : px);
        }
    return v;
}
// This program's rule (the display's own blit): i * source / destination.
int PickScaled(int i, int s, int d) { return static_cast<int>(int64_t{i} * s / d); }
// SDL's nearest stretch: pixel centres stepped in 16.16, from half a step.
int PickCentred(int i, int s, int d) {
    const uint32_t inc = (static_cast<uint32_t>(s) << 16) / static_cast<uint32_t>(d);
    return static_cast<int>((inc / 2 + static_cast<uint32_t>(i) * inc) >> 16);
}

int Differ(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n;
}

void CompareOutputs(int bits) {
    Pair p(bits);
    const int px = kStretchW * kStretchH;
    const auto ours = Output(p, bits, OurKeyedStretch, kStretchW, kStretchH);
    const auto best = Output(p, bits, StretchPeer, kStretchW, kStretchH);
    const auto bestRle = Output(p, bits, StretchPeerRle, kStretchW, kStretchH);
    const auto generic = Output(p, bits, SdlKeyedStretch, kStretchW, kStretchH);
    const auto floorRule = Reference(p.src.get(), bits, kStretchW, kStretchH, PickScaled);
    const auto centred = Reference(p.src.get(), bits, kStretchW, kStretchH, PickCentred);
    std::printf(
        "outputs keyed stretch %d bits: %d px, SDL stretch then keyed blit differs in %d (%.1f "
        "%%), with RLE in %d, SDL_BlitScaled keyed in %d (%.1f %%); against i*source/dest "
        "sampling ours differs in %d, against SDL's centred 16.16 sampling SDL's differs in %d "
        "(stretch then keyed) and %d (BlitScaled keyed)\n",
        bits, px, Differ(ours, best), 100.0 * Differ(ours, best) / px, Differ(ours, bestRle),
        Differ(ours, generic), 100.0 * Differ(ours, generic) / px, Differ(ours, floorRule),
        Differ(best, centred), Differ(generic, centred));
    const int cpx = kSheetW * kSheetH;
    const auto copy = Output(p, bits, OurKeyedCopy, kSheetW, kSheetH);
    const auto rle = Output(p, bits, SdlRleCopy, kSheetW, kSheetH);
    const auto same = Reference(p.src.get(), bits, kSheetW, kSheetH, PickScaled);
    std::printf(
        "outputs keyed copy %d bits: %d px, SDL's RLE blit differs in %d, ours from the sheet in "
        "%d\n",
        bits, cpx, Differ(copy, rle), Differ(copy, same));
}

// ---- in turns ----

// The drawn rectangle's rows copied whole: what writing its pixels costs at the least.
struct RowCopy {
    std::vector<uint8_t> from;
    int w, h, bpp;
    RowCopy(int w_, int h_, int bpp_)
        : from(static_cast<size_t>(w_) * h_ * bpp_, 7), w(w_), h(h_), bpp(bpp_) {}
    void operator()(DirectDrawSurface* d) {
        for (int y = 0; y < h; ++y)
            std::memcpy(d->Bits() + (100 + y) * d->Pitch() + 100 * bpp,
                        from.data() + static_cast<size_t>(y) * w * bpp,
                        static_cast<size_t>(w) * bpp);
        benchmark::ClobberMemory();
    }
};

// ours, then each peer, then the floor, 100 draws each a round, 21 rounds: the processor time per
// pixel of each, and per round the ratio of ours to each peer, as min / median / max.
void InTurns(const char* what, int bits, void (*ours)(Pair&),
             std::initializer_list<std::pair<const char*, void (*)(Pair&)>> peers, int w, int h) {
    Pair p(bits);
    RowCopy floorCopy(w, h, p.dst->BytesPerPixel());
    const size_t n = peers.size() + 2;
    auto run = [&](size_t k) {
        if (k == 0)
            ours(p);
        else if (k <= peers.size())
            (peers.begin() + (k - 1))->second(p);
        else
            floorCopy(p.dst.get());
    };
    const int warm = bench::Sized(200, 2), rounds = bench::Sized(21, 3),
              draws = bench::Sized(100, 2);
    for (int i = 0; i < warm; ++i)
        for (size_t k = 0; k < n; ++k) run(k);
    std::vector<std::vector<double>> cpu(n), wall(n);
    for (int round = 0; round < rounds; ++round)
        for (size_t k = 0; k < n; ++k) {
            const double w0 = WallNs(), c0 = CpuNs();
            for (int i = 0; i < draws; ++i) run(k);
            cpu[k].push_back((CpuNs() - c0) / (static_cast<double>(draws) * w * h));
            wall[k].push_back((WallNs() - w0) / (static_cast<double>(draws) * w * h));
        }
    const Spread o = SpreadOf(cpu[0]), fl = SpreadOf(cpu[n - 1]);
    for (size_t k = 1; k + 1 < n; ++k) {
        std::vector<double> ratio, wallRatio;
        for (size_t r = 0; r < cpu[0].size(); ++r) {
            ratio.push_back(cpu[0][r] / cpu[k][r]);
            wallRatio.push_back(wall[0][r] / wall[k][r]);
        }
        const Spread pe = SpreadOf(cpu[k]), ra = SpreadOf(ratio);
        std::printf(
            "turns %s %d bits vs %s: cpu ns/px ours %.3f (%.3f - %.3f), peer %.3f (%.3f - %.3f), "
            "ratio %.3f (%.3f - %.3f), wall ratio %.3f; floor %.3f ns/px\n",
            what, bits, (peers.begin() + (k - 1))->first, o.median, o.min, o.max, pe.median, pe.min,
            pe.max, ra.median, ra.min, ra.max, SpreadOf(wallRatio).median, fl.median);
    }
}

// ---- the heavy frame ----

// The bytes of the rectangles a frame draws into the back buffer: the background and every
// visible bob's rectangle as its paint places it, cut by the clip (keyed pixels included, so a
// little more than is written).
double FrameBytes(int bpp) {
    double px = 800.0 * 600.0;
    for (int i = 1; i <= Bobs->bobarray.Count(); ++i) {
        const TBob* b = *Bobs->bobarray[i];
        if (!b || !b->Visible || !(b->Z < 0)) continue;
        const int f = b->CurrentFrame();
        if (f < 1 || f > FrameCount) continue;
        const TFrame& fr = Frames[static_cast<size_t>(f)];
        const double d = DD.ScreenW;
        double cx = DD.ScreenW / 2.0, cy = DD.ScreenH / 2.0, w = fr.SrcW, h = fr.SrcH;
        if (b->ScreenSpace && !b->ProjectPos) {
            cx = b->X, cy = b->Y;
        } else {
            cx -= RoundEven(d * b->X / b->Z), cy -= RoundEven(d * b->Y / b->Z);
            if (!b->ScreenSpace) {
                w = RoundEven(std::abs(d * fr.SrcW / b->Z));
                h = RoundEven(std::abs(d * fr.SrcH / b->Z));
            }
        }
        const double x0 = std::max(0.0, cx - std::floor(w / 2)),
                     x1 = std::min(800.0, cx - std::floor(w / 2) + w);
        const double y0 = std::max(0.0, cy - std::floor(h / 2)),
                     y1 = std::min(600.0 - DD.HintStripHeight, cy - std::floor(h / 2) + h);
        if (x1 > x0 && y1 > y0) px += (x1 - x0) * (y1 - y0);
    }
    return px * bpp;
}

void HeavyFrames(int bits, double memoryGBs) {
    Scene scene(bits);
    const int frames = bench::Sized(400, 3);
    for (int i = 0; i < bench::Sized(20, 1); ++i) scene.Frame(i);
    std::vector<double> cpu, wall;
    double bytes = 0;
    for (int i = 0; i < frames; ++i) {
        const double w0 = WallNs(), c0 = CpuNs();
        scene.Frame(i);
        cpu.push_back((CpuNs() - c0) / 1e6);
        wall.push_back((WallNs() - w0) / 1e6);
        bytes += FrameBytes(bits / 8);
    }
    bytes /= frames;
    std::vector<double> sorted(cpu);
    std::sort(sorted.begin(), sorted.end());
    const Spread c = SpreadOf(cpu), w = SpreadOf(wall);
    std::printf(
        "heavy frame %2d bits: cpu median %.3f ms (min %.3f, p99 %.3f, max %.3f), wall median "
        "%.3f ms (max %.3f) (%d bobs); %.2f MB drawn, floor %.3f ms at %.1f GB/s\n",
        bits, c.median, c.min, sorted[sorted.size() * 99 / 100], c.max, w.median, w.max,
        Bobs->bobarray.Count(), bytes / 1e6, bytes / memoryGBs / 1e6, memoryGBs);
}

void Summary() {
    std::printf("\n");
    const size_t big = bench::Sized(size_t{64} << 20, size_t{1} << 20);
    const double copyGBs = CopyGBs(big, bench::Sized(10, 1), false),
                 writeGBs = CopyGBs(big, bench::Sized(10, 1), true);
    std::printf("bandwidth: memcpy of 64 MB %.1f GB/s, memset of 64 MB %.1f GB/s\n", copyGBs,
                writeGBs);
    for (int bits : {16, 32}) CompareOutputs(bits);
    for (int bits : {16, 32}) {
        InTurns("keyed stretch", bits, OurKeyedStretch,
                {{"SDL stretch then keyed blit", StretchPeer},
                 {"SDL stretch then keyed RLE blit", StretchPeerRle},
                 {"SDL_BlitScaled keyed", SdlKeyedStretch}},
                kStretchW, kStretchH);
        InTurns("keyed copy", bits, OurKeyedCopy, {{"SDL RLE blit", SdlRleCopy}}, kSheetW, kSheetH);
        InTurns("keyed copy of an empty row", bits, OurKeyedCopyEmptyRow,
                {{"SDL RLE blit", SdlRleCopyEmptyRow}}, kSheetW, 1);
    }
    // A frame writes more than the caches hold between frames: its floor is the memory's copy
    // bandwidth.
    for (int bits : {16, 32}) HeavyFrames(bits, copyGBs);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Summary();
    return 0;
}
