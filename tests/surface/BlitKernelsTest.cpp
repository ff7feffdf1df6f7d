// The vector forms of the blit kernels against their scalar definitions, the sprite blit that
// blends in place against the two-step blend through the blend surface, and the filtered
// magnifier against its per-pixel definition and its properties.
#include "surface/BlitKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "surface/DDUtils.h"
#include "testsupport/DisplayFixtures.h"

namespace zx {
namespace {

using platform::PixelFormat;
using platform::Rect;

blit::Format KernelFmt(int bits) {
    const PixelFormat f = test::TestPixelFormat(bits);
    return blit::MakeFormat(bits / 8, f.rMask, f.gMask, f.bMask);
}

SurfacePtr Make(int w, int h, int bits, uint32_t caps = platform::DDSCAPS_OFFSCREENPLAIN) {
    return std::make_shared<DirectDrawSurface>(nullptr, caps, w, h, test::TestPixelFormat(bits));
}

uint32_t Px(const DirectDrawSurface* s, int x, int y) {
    return platform::ReadPixel(s->Bits() + y * s->Pitch() + x * s->BytesPerPixel(),
                               s->BytesPerPixel());
}
void SetPx(DirectDrawSurface* s, int x, int y, uint32_t v) {
    platform::WritePixel(s->Bits() + y * s->Pitch() + x * s->BytesPerPixel(), s->BytesPerPixel(),
                         v);
}

// Random pixels, about a quarter of them the key colour 0, top bytes of 32-bit pixels random too
// (the blends must clear or keep them exactly as the definition does).
void Randomise(DirectDrawSurface* s, std::mt19937& rng, int keyShare = 4) {
    for (int y = 0; y < s->Height(); ++y)
        for (int x = 0; x < s->Width(); ++x) {
            uint32_t v = rng();
            if (s->BytesPerPixel() == 2) v &= 0xFFFF;
            if (rng() % keyShare == 0) v &= s->BytesPerPixel() == 2 ? 0 : 0xFF000000u;
            SetPx(s, x, y, v);
        }
    s->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
}

std::vector<uint8_t> RandomBytes(size_t n, std::mt19937& rng, int keyShare, int bytes) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    // Whole pixels of the key colour 0 (within the masks) now and then.
    for (size_t i = 0; i + bytes <= n; i += bytes)
        if (rng() % keyShare == 0) std::memset(&v[i], 0, bytes == 4 ? 3 : bytes);
    return v;
}

// Weights with the two ends (0 keeps, 255 copies) as common as the rest.
std::vector<uint8_t> RandomMap(size_t n, std::mt19937& rng) {
    std::vector<uint8_t> m(n);
    for (auto& w : m) {
        const uint32_t r = rng() % 4;
        w = r == 0 ? 0 : r == 1 ? 255 : static_cast<uint8_t>(rng());
    }
    return m;
}

// Every kernel over widths 1..37 from every start within a 16-byte line, in place and not,
// contiguous and gathered, against its scalar form.
TEST(BlitKernels, VectorFormsGiveTheScalarFormsPixelsAtEveryWidthAndStart) {
    std::mt19937 rng(7);
    for (int bits : {16, 32}) {
        const blit::Format f = KernelFmt(bits);
        const int B = bits / 8;
        for (int n = 1; n <= 37; ++n)
            for (int start = 0; start < 16 / B; ++start) {
                SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(n) + " from " +
                             std::to_string(start));
                const size_t bytes = static_cast<size_t>(n + start + 8) * B;
                const auto back = RandomBytes(bytes, rng, 5, B);
                const auto src = RandomBytes(bytes * 3, rng, 4, B);
                const auto map = RandomMap(bytes * 3, rng);
                std::vector<int32_t> cols(static_cast<size_t>(n));
                for (auto& c : cols) c = static_cast<int32_t>(rng() % (3 * n));
                const uint8_t* b = back.data() + start * B;
                const uint8_t* s = src.data() + start * B;
                const uint8_t* m = map.data() + start;
                const int32_t* gathers[] = {nullptr, cols.data()};
                for (const int32_t* c : gathers) {
                    for (uint32_t alpha : {0u, 1u, 128u, 165u, 254u})
                        for (bool keyed : {false, true}) {
                            std::vector<uint8_t> a(back), z(back);
                            blit::BlendConstRow(f, b, s, c, a.data() + start * B, n, alpha, keyed,
                                                0);
                            blit::scalar::BlendConstRow(f, b, s, c, z.data() + start * B, n, alpha,
                                                        keyed, 0);
                            ASSERT_EQ(a, z) << "constant alpha " << alpha;
                            // In place: the row written is the row read.
                            std::vector<uint8_t> ip(back);
                            blit::BlendConstRow(f, ip.data() + start * B, s, c,
                                                ip.data() + start * B, n, alpha, keyed, 0);
                            ASSERT_EQ(ip, z);
                        }
                    for (bool keyed : {false, true}) {
                        std::vector<uint8_t> a(back), z(back);
                        blit::BlendMapRow(f, b, s, m, c, a.data() + start * B, n, keyed, 0);
                        blit::scalar::BlendMapRow(f, b, s, m, c, z.data() + start * B, n, keyed, 0);
                        ASSERT_EQ(a, z) << "alpha map";
                    }
                }
                std::vector<uint8_t> a(back), z(back);
                blit::KeyedCopyRow(f, s, a.data() + start * B, n, 0);
                blit::scalar::KeyedCopyRow(f, s, z.data() + start * B, n, 0);
                ASSERT_EQ(a, z) << "keyed copy";
                a = z = back;
                blit::KeyedGatherRow(f, s, cols.data(), n, a.data() + start * B, 0);
                blit::scalar::KeyedGatherRow(f, s, cols.data(), n, z.data() + start * B, 0);
                ASSERT_EQ(a, z) << "keyed gather";
                std::vector<int32_t> next(cols);
                for (auto& c : next) c = std::min(c + 1, 3 * n - 1);
                const auto fx = RandomBytes(static_cast<size_t>(n), rng, 1000, 1);
                for (bool keyed : {false, true}) {
                    std::vector<uint8_t> sa(static_cast<size_t>(n) + 1, 9), sz(sa);
                    a = z = back;
                    const bool oa =
                        blit::LerpColumnsRow(f, s, cols.data(), next.data(), fx.data(), n,
                                             a.data() + start * B, keyed ? sa.data() : nullptr, 0);
                    const bool oz = blit::scalar::LerpColumnsRow(f, s, cols.data(), next.data(),
                                                                 fx.data(), n, z.data() + start * B,
                                                                 keyed ? sz.data() : nullptr, 0);
                    ASSERT_EQ(a, z) << "lerp along the row";
                    ASSERT_EQ(sa, sz) << "key states";
                    ASSERT_EQ(oa, oz);
                }
                for (uint32_t t : {0u, 1u, 77u, 128u, 255u}) {
                    std::vector<uint8_t> wa(static_cast<size_t>(n) + 1, 7), wz(wa);
                    blit::LerpBytesRow(m, m + n, t, wa.data(), n);
                    blit::scalar::LerpBytesRow(m, m + n, t, wz.data(), n);
                    ASSERT_EQ(wa, wz) << "weights " << t;
                    a = z = back;
                    blit::LerpRow(f, s, s + bytes, t, a.data() + start * B, n);
                    blit::scalar::LerpRow(f, s, s + bytes, t, z.data() + start * B, n);
                    ASSERT_EQ(a, z) << "lerp " << t;
                }
            }
    }
}

// The keyed copy in each form the processor has (masked stores with the row's end masked,
// vectors merged with the destination, the scalar rest) over rows of a sprite: opaque, keyed,
// opaque again, the runs ending anywhere, in 565 and in 32 bits with the top byte set (the key
// colour is compared within the masks only).
TEST(BlitKernels, KeyedCopyInEveryFormTakesTheScalarFormsPixelsAtEveryRunBoundary) {
    std::mt19937 rng(11);
    for (const blit::Isa isa : {blit::Isa::Sse2, blit::Isa::Avx2, blit::Isa::Avx512}) {
        if (!blit::Supports(isa)) continue;
        for (int bits : {16, 32}) {
            const blit::Format f = KernelFmt(bits);
            const int B = bits / 8;
            for (int n = 1; n <= 70; ++n)
                for (int a = 0; a <= n; a += 1 + n / 24)
                    for (int b = a; b <= n; ++b) {
                        SCOPED_TRACE("form " + std::to_string(static_cast<int>(isa)) + ", " +
                                     std::to_string(bits) + " bits, " + std::to_string(n) +
                                     " px, key " + std::to_string(a) + ".." + std::to_string(b));
                        std::vector<uint8_t> src(static_cast<size_t>(n) * B), back(src.size());
                        for (int i = 0; i < n; ++i) {
                            uint32_t v = rng() | (B == 2 ? 1u : 0x01000001u);
                            if (i >= a && i < b) v = B == 2 ? 0 : (rng() & 0xFF000000u);
                            std::memcpy(&src[static_cast<size_t>(i) * B], &v, B);
                        }
                        for (auto& x : back) x = static_cast<uint8_t>(rng());
                        std::vector<uint8_t> vec(back), ref(back);
                        blit::KeyedCopyRowUpTo(isa, f, src.data(), vec.data(), n, 0);
                        blit::scalar::KeyedCopyRow(f, src.data(), ref.data(), n, 0);
                        ASSERT_EQ(vec, ref);
                    }
        }
    }
}

// The runs of a keyed sheet copy what the scalar keyed copy copies, for any rectangle of the
// sheet: rows of long runs, rows cut into single pixels (left to the masked kernel), rows all
// keyed and all opaque, rectangles that start and end inside runs and at the sheet's edges, in
// 16, 24 and 32 bits with the 32-bit top byte set (the key is compared within the masks).
TEST(BlitKernels, KeyedRunsCopyTheScalarFormsPixelsForAnyRectangle) {
    std::mt19937 rng(17);
    const int w = 97, h = 24;
    for (int bits : {16, 24, 32}) {
        const blit::Format f = KernelFmt(bits);
        const int B = bits / 8;
        const ptrdiff_t pitch = (w * B + 3) & ~3;
        std::vector<uint8_t> sheet(static_cast<size_t>(pitch) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t v = rng() | (B == 2 ? 1u : 0x01000001u);
                const bool keyed = y % 4 == 0   ? (x / 20) % 2 == 1  // long runs
                                   : y % 4 == 1 ? x % 2 == 0         // single pixels
                                   : y % 4 == 2 ? y == 6             // all keyed, or none
                                                : rng() % 5 == 0;
                if (keyed) v = B == 4 ? (rng() & 0xFF000000u) : 0;
                std::memcpy(&sheet[static_cast<size_t>(y * pitch + x * B)], &v, B);
            }
        const blit::KeyedRuns runs(f, sheet.data(), pitch, w, h, 0);
        for (int k = 0; k < 300; ++k) {
            // Whole rows (a sprite's frame, a text line) take a way of their own: many of them.
            const bool whole = k < 60;
            const int sx = whole ? 0 : static_cast<int>(rng() % w);
            const int sy = static_cast<int>(rng() % h);
            const int rw = whole ? w : 1 + static_cast<int>(rng() % (w - sx));
            const int rh = 1 + static_cast<int>(rng() % (h - sy));
            const ptrdiff_t dp = rw * B + 5;
            std::vector<uint8_t> before(static_cast<size_t>(dp) * rh);
            for (auto& b : before) b = static_cast<uint8_t>(rng());
            std::vector<uint8_t> want(before);
            for (int y = 0; y < rh; ++y)
                blit::scalar::KeyedCopyRow(f,
                                           &sheet[static_cast<size_t>((sy + y) * pitch + sx * B)],
                                           &want[static_cast<size_t>(y * dp)], rw, 0);
            // The runs copied by the library and by each vector form the processor has.
            for (const blit::Isa isa : {blit::Isa::Scalar, blit::Isa::Avx512}) {
                if (!blit::Supports(isa)) continue;
                std::vector<uint8_t> out(before);
                runs.Copy(f, sheet.data(), pitch, sx, sy, rw, rh, out.data(), dp, isa);
                ASSERT_EQ(out, want) << "form " << static_cast<int>(isa) << ", " << bits
                                     << " bits, " << rw << "x" << rh << " at " << sx << "," << sy;
            }
        }
    }
}

// The packed one-pixel mixes of the two display layouts against the mask arithmetic that any
// other layout runs.
TEST(BlitKernels, PackedPixelMixesEqualTheMaskArithmetic) {
    std::mt19937 rng(11);
    for (int bits : {16, 32}) {
        const blit::Format packed = KernelFmt(bits);
        blit::Format masks = packed;
        masks.layout = blit::Layout::Other;
        for (int i = 0; i < 20000; ++i) {
            const uint32_t a = rng() & packed.masks, b = rng() & packed.masks, t = rng() % 256;
            ASSERT_EQ(blit::LerpPixel(packed, a, b, t), blit::LerpPixel(masks, a, b, t))
                << bits << " " << a << " " << b << " " << t;
        }
    }
}

// ---- whole sprite blits ----

class SpriteBlits : public testing::Test {
protected:
    void SetUp() override {
        saved_ = DD;
        DD.DisplayOffsetX = DD.DisplayOffsetY = 0;
        DD.TransparencyOn = true;
        DD.SetGameArea(800, 600);
        DD.FlipList.clear();
    }
    void TearDown() override { DD = saved_; }
    TDisplayState saved_;
};

// A blend into a plain surface goes straight to its place; into a primary it still goes through
// the blend surface and the display's blit. Both must leave the same pixels, wherever the sprite
// is cut by the clip and however it is scaled.
TEST_F(SpriteBlits, BlendsInPlaceLeaveWhatTheTwoStepBlendLeaves) {
    std::mt19937 rng(3);
    for (int bits : {16, 24, 32}) {
        auto src = Make(61, 23, bits);
        Randomise(src.get(), rng);
        const int stride = (61 + 3) & ~3;
        const auto map = RandomMap(static_cast<size_t>(stride) * 23, rng);
        auto plain = Make(120, 90, bits), primary = Make(120, 90, bits, 0x200);
        DD.BlendSurface = Make(120, 90, bits);
        for (int round = 0; round < 300; ++round) {
            Randomise(plain.get(), rng, 1000);
            std::memcpy(primary->Bits(), plain->Bits(), static_cast<size_t>(plain->Pitch()) * 90);
            const int sx = static_cast<int>(rng() % 20), sy = static_cast<int>(rng() % 8);
            const int sw = 1 + static_cast<int>(rng() % (61 - sx)),
                      sh = 1 + static_cast<int>(rng() % (23 - sy));
            const int dw = 1 + static_cast<int>(rng() % 70), dh = 1 + static_cast<int>(rng() % 50);
            // Anywhere from hanging over the top left to hanging over the bottom right.
            const int dx = static_cast<int>(rng() % 150) - 40,
                      dy = static_cast<int>(rng() % 110) - 30;
            const int cl = static_cast<int>(rng() % 10), ct = static_cast<int>(rng() % 10);
            const int cr = 109 + static_cast<int>(rng() % 10),
                      cb = 79 + static_cast<int>(rng() % 10);
            const bool useMap = rng() % 2;
            const uint8_t alpha = useMap ? 255 : static_cast<uint8_t>(rng() % 255);
            const int key = static_cast<int>(rng() % 2);
            SCOPED_TRACE(std::to_string(bits) + " bits, round " + std::to_string(round));
            for (DirectDrawSurface* d : {plain.get(), primary.get()})
                BlitSprite(src.get(), useMap ? map.data() : nullptr, sx, sy, sw, sh, d, dx, dy, dw,
                           dh, key, alpha, cl, ct, cr, cb);
            ASSERT_EQ(std::memcmp(plain->Bits(), primary->Bits(),
                                  static_cast<size_t>(plain->Pitch()) * 90),
                      0);
        }
    }
}

// Keyed stretches of any size up to twice, cut anywhere, pick the display's own blit's pixels.
TEST_F(SpriteBlits, KeyedStretchesCutAnywhereMatchTheDisplaysBlit) {
    std::mt19937 rng(5);
    for (int bits : {16, 24, 32}) {
        auto src = Make(53, 31, bits);
        Randomise(src.get(), rng);
        auto plain = Make(130, 100, bits), primary = Make(130, 100, bits, 0x200);
        for (int round = 0; round < 300; ++round) {
            Randomise(plain.get(), rng, 1000);
            std::memcpy(primary->Bits(), plain->Bits(), static_cast<size_t>(plain->Pitch()) * 100);
            const int sw = 1 + static_cast<int>(rng() % 53), sh = 1 + static_cast<int>(rng() % 31);
            const int dw = 1 + static_cast<int>(rng() % (2 * sw)),
                      dh = 1 + static_cast<int>(rng() % (2 * sh));
            const int dx = static_cast<int>(rng() % 170) - 50,
                      dy = static_cast<int>(rng() % 130) - 40;
            SCOPED_TRACE(std::to_string(bits) + " bits, round " + std::to_string(round));
            for (DirectDrawSurface* d : {plain.get(), primary.get()})
                BlitSprite(src.get(), nullptr, 0, 0, sw, sh, d, dx, dy, dw, dh, 1, 255, 3, 2, 126,
                           97);
            ASSERT_EQ(std::memcmp(plain->Bits(), primary->Bits(),
                                  static_cast<size_t>(plain->Pitch()) * 100),
                      0);
        }
    }
}

// An unscaled keyed sprite is copied a rectangle at a time: sheets with their outlines anywhere
// in a row, at every start within a cache line of the destination and cut by the clip, leave the
// display's own keyed blit's pixels.
TEST_F(SpriteBlits, UnscaledKeyedCopiesMatchTheDisplaysBlit) {
    std::mt19937 rng(13);
    for (int bits : {16, 24, 32}) {
        auto src = Make(75, 19, bits);
        // Rows of runs: opaque, keyed and mixed stretches of random lengths.
        for (int y = 0; y < 19; ++y)
            for (int x = 0; x < 75;) {
                const int run = 1 + static_cast<int>(rng() % 30),
                          kind = static_cast<int>(rng() % 3);
                for (int e = std::min(75, x + run); x < e; ++x) {
                    uint32_t v = rng() | 0x010101u;
                    if (bits == 16) v &= 0xFFFF;
                    if (kind == 1 || (kind == 2 && rng() % 2))
                        v = bits == 32 ? (rng() & 0xFF000000u) : 0;
                    SetPx(src.get(), x, y, v);
                }
            }
        src->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
        auto plain = Make(130, 60, bits), primary = Make(130, 60, bits, 0x200);
        for (int round = 0; round < 200; ++round) {
            Randomise(plain.get(), rng, 1000);
            std::memcpy(primary->Bits(), plain->Bits(), static_cast<size_t>(plain->Pitch()) * 60);
            const int sx = static_cast<int>(rng() % 40), sy = static_cast<int>(rng() % 10);
            const int w = 1 + static_cast<int>(rng() % (75 - sx)),
                      h = 1 + static_cast<int>(rng() % (19 - sy));
            const int dx = static_cast<int>(rng() % 150) - 30,
                      dy = static_cast<int>(rng() % 70) - 10;
            SCOPED_TRACE(std::to_string(bits) + " bits, round " + std::to_string(round));
            for (DirectDrawSurface* d : {plain.get(), primary.get()})
                BlitSprite(src.get(), nullptr, sx, sy, w, h, d, dx, dy, w, h, 1, 255, 2, 1, 127,
                           58);
            ASSERT_EQ(std::memcmp(plain->Bits(), primary->Bits(),
                                  static_cast<size_t>(plain->Pitch()) * 60),
                      0);
        }
    }
}

// ---- the filtered magnifier ----

// The per-pixel definition of the filtered magnification of sr onto dr.
void MagnifyByDefinition(DirectDrawSurface* d, const DirectDrawSurface* s, const Rect& dr,
                         const Rect& sr) {
    PixelFormat f;
    s->GetPixelFormat(f);
    const uint32_t masks = f.rMask | f.gMask | f.bMask, key = s->ColorKey() & masks;
    const int dw = dr.Width(), dh = dr.Height(), sw = sr.Width(), sh = sr.Height();
    const int64_t stepX = (static_cast<int64_t>(sw) << 16) / dw;
    const int64_t stepY = (static_cast<int64_t>(sh) << 16) / dh;
    auto lerp = [&](uint32_t a, uint32_t b, uint32_t t) {
        uint32_t r = 0;
        for (const uint32_t m : {f.rMask, f.gMask, f.bMask})
            r |= (((a & m) * (256 - t) + (b & m) * t) >> 8) & m;
        return r;
    };
    int64_t v = stepY / 2 - 32768;
    for (int y = 0; y < dh; ++y, v += stepY) {
        const int64_t vc = std::max<int64_t>(v, 0);
        const int y0 = std::min(static_cast<int>(vc >> 16), sh - 1), y1 = std::min(y0 + 1, sh - 1);
        const uint32_t fy = static_cast<uint32_t>(vc >> 8) & 255;
        int64_t u = stepX / 2 - 32768;
        for (int x = 0; x < dw; ++x, u += stepX) {
            const int64_t uc = std::max<int64_t>(u, 0);
            const int x0 = std::min(static_cast<int>(uc >> 16), sw - 1),
                      x1 = std::min(x0 + 1, sw - 1);
            const uint32_t fx = static_cast<uint32_t>(uc >> 8) & 255;
            const uint32_t px[4] = {
                Px(s, sr.left + x0, sr.top + y0), Px(s, sr.left + x1, sr.top + y0),
                Px(s, sr.left + x0, sr.top + y1), Px(s, sr.left + x1, sr.top + y1)};
            const uint32_t under = Px(d, dr.left + x, dr.top + y);
            if (std::none_of(px, px + 4, [&](uint32_t p) { return (p & masks) == key; })) {
                SetPx(d, dr.left + x, dr.top + y,
                      (under & ~masks) | lerp(lerp(px[0], px[1], fx), lerp(px[2], px[3], fx), fy));
                continue;
            }
            uint32_t w[4] = {(256 - fx) * (256 - fy), fx * (256 - fy), (256 - fx) * fy, fx * fy};
            uint32_t cover = 0;
            for (int i = 0; i < 4; ++i) {
                if ((px[i] & masks) == key) w[i] = 0;
                cover += w[i];
            }
            if (cover * 2 <= 65536) continue;
            uint32_t out = under & ~masks;
            for (const uint32_t m : {f.rMask, f.gMask, f.bMask}) {
                uint64_t sum = 0;
                for (int i = 0; i < 4; ++i) sum += static_cast<uint64_t>(px[i] & m) * w[i];
                out |= static_cast<uint32_t>(sum / cover) & m;
            }
            SetPx(d, dr.left + x, dr.top + y, out);
        }
    }
}

TEST_F(SpriteBlits, FilteredMagnificationFollowsItsPerPixelDefinition) {
    std::mt19937 rng(9);
    for (int bits : {16, 24, 32}) {
        auto src = Make(40, 30, bits);
        auto ours = Make(300, 240, bits), def = Make(300, 240, bits);
        for (int round = 0; round < 60; ++round) {
            // Blobs of the key colour, as around and inside letters, and lone keyed pixels.
            Randomise(src.get(), rng, round % 2 ? 3 : 50);
            Randomise(ours.get(), rng, 1000);
            std::memcpy(def->Bits(), ours->Bits(), static_cast<size_t>(ours->Pitch()) * 240);
            const int sw = 1 + static_cast<int>(rng() % 40), sh = 1 + static_cast<int>(rng() % 30);
            const int dw = 2 * sw + 1 + static_cast<int>(rng() % (300 - 2 * sw - 1));
            const int dh = 2 * sh + 1 + static_cast<int>(rng() % (240 - 2 * sh - 1));
            const int dx = static_cast<int>(rng() % (301 - dw)),
                      dy = static_cast<int>(rng() % (241 - dh));
            SCOPED_TRACE(std::to_string(bits) + " bits, round " + std::to_string(round));
            BlitSprite(src.get(), nullptr, 0, 0, sw, sh, ours.get(), dx, dy, dw, dh, 1, 255, 0, 0,
                       299, 239);
            MagnifyByDefinition(def.get(), src.get(), Rect{dx, dy, dx + dw, dy + dh},
                                Rect{0, 0, sw, sh});
            ASSERT_EQ(
                std::memcmp(ours->Bits(), def->Bits(), static_cast<size_t>(ours->Pitch()) * 240),
                0);
        }
    }
}

TEST_F(SpriteBlits, FilteredMagnificationKeepsFlatColourSymmetryAndTheClip) {
    for (int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        const uint32_t colour = bits == 16 ? 0x7BEF : 0x3C7A11,
                       under = bits == 16 ? 0x0841 : 0x010101;
        // A flat colour stays exactly that colour at any magnification.
        auto flat = Make(7, 5, bits), dst = Make(100, 80, bits);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) SetPx(flat.get(), x, y, colour);
        BlitSprite(flat.get(), nullptr, 0, 0, 7, 5, dst.get(), 3, 4, 67, 53, 1, 255, 0, 0, 99, 79);
        for (int y = 4; y < 57; ++y)
            for (int x = 3; x < 70; ++x) ASSERT_EQ(Px(dst.get(), x, y), colour) << x << "," << y;

        // A mirror-symmetric letter (a ring of the key colour around a cross) magnified by whole
        // steps comes out mirror-symmetric both ways, its keyed border letting the back through.
        auto letter = Make(9, 9, bits);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) {
                const int ax = std::abs(x - 4), ay = std::abs(y - 4);
                const bool border = ax == 4 || ay == 4, cross = ax <= 1 || ay <= 1;
                SetPx(letter.get(), x, y, border ? 0 : cross ? colour : (colour >> 1) & 0x7BEF7B);
            }
        letter->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
        for (int scale : {4, 8}) {  // steps of exactly a quarter and an eighth of a pixel
            auto out = Make(80, 80, bits);
            for (int y = 0; y < 80; ++y)
                for (int x = 0; x < 80; ++x) SetPx(out.get(), x, y, under);
            const int n = 9 * scale;
            BlitSprite(letter.get(), nullptr, 0, 0, 9, 9, out.get(), 0, 0, n, n, 1, 255, 0, 0, 79,
                       79);
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x) {
                    ASSERT_EQ(Px(out.get(), x, y), Px(out.get(), n - 1 - x, y)) << x << "," << y;
                    ASSERT_EQ(Px(out.get(), x, y), Px(out.get(), x, n - 1 - y)) << x << "," << y;
                }
            EXPECT_EQ(Px(out.get(), 0, 0), under);  // keyed corner: the back shows
            EXPECT_EQ(Px(out.get(), n / 2, n / 2), colour);
            EXPECT_EQ(Px(out.get(), n, n), under);  // past the sprite
        }

        // Cut by the clip on every side, nothing outside the clip changes.
        auto big = Make(60, 60, bits);
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x) SetPx(big.get(), x, y, under);
        BlitSprite(flat.get(), nullptr, 0, 0, 7, 5, big.get(), -20, -15, 100, 90, 1, 255, 5, 6, 50,
                   52);
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x) {
                const bool inside = x >= 5 && x <= 50 && y >= 6 && y <= 52;
                ASSERT_EQ(Px(big.get(), x, y), inside ? colour : under) << x << "," << y;
            }
    }
}

// Sprites blended through an alpha map are filtered too when magnified more than twice: at full
// weight they show what the unblended magnifier shows, and the weights fade between pixels.
TEST_F(SpriteBlits, MagnifiedAlphaMapSpritesAreFilteredInColourAndWeight) {
    for (int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        const uint32_t under = bits == 16 ? 0x0841 : 0x010101;
        auto src = Make(2, 1, bits), plain = Make(8, 4, bits), blended = Make(8, 4, bits);
        SetPx(src.get(), 0, 0, bits == 16 ? 0xF800 : 0x10);
        SetPx(src.get(), 1, 0, bits == 16 ? 0x001F : 0x50);
        src->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0);
        DD.BlendSurface = Make(8, 4, bits);
        for (auto* d : {plain.get(), blended.get()})
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 8; ++x) SetPx(d, x, y, under);
        const uint8_t full[4] = {255, 255, 0, 0};
        BlitSprite(src.get(), nullptr, 0, 0, 2, 1, plain.get(), 0, 0, 8, 4, 1, 255, 0, 0, 7, 3);
        BlitSprite(src.get(), full, 0, 0, 2, 1, blended.get(), 0, 0, 8, 4, 1, 255, 0, 0, 7, 3);
        for (int x = 0; x < 8; ++x) EXPECT_EQ(Px(blended.get(), x, 1), Px(plain.get(), x, 1)) << x;

        // One colour, weights 0 then 255: the back fades into the colour in steps, not at once.
        const uint32_t white = bits == 16 ? 0xFFFF : 0xFFFFFF;
        SetPx(src.get(), 0, 0, white);
        SetPx(src.get(), 1, 0, white);
        const uint8_t fade[4] = {0, 255, 0, 0};
        auto d = Make(8, 4, bits);
        for (int x = 0; x < 8; ++x) SetPx(d.get(), x, 0, under);
        BlitSprite(src.get(), fade, 0, 0, 2, 1, d.get(), 0, 0, 8, 4, 1, 255, 0, 0, 7, 3);
        std::vector<uint32_t> row;
        for (int x = 0; x < 8; ++x) row.push_back(Px(d.get(), x, 0));
        EXPECT_EQ(row.front(), under);
        EXPECT_EQ(row.back(), white);
        EXPECT_TRUE(std::is_sorted(row.begin(), row.end()));
        EXPECT_GE(std::set<uint32_t>(row.begin(), row.end()).size(), 5u);

        // A keyed pixel weighs nothing: next to it the back shows through, never the key colour.
        SetPx(src.get(), 0, 0, 0);
        const uint8_t both[4] = {255, 255, 0, 0};
        for (int x = 0; x < 8; ++x) SetPx(d.get(), x, 0, under);
        BlitSprite(src.get(), both, 0, 0, 2, 1, d.get(), 0, 0, 8, 4, 1, 255, 0, 0, 7, 3);
        EXPECT_EQ(Px(d.get(), 0, 0), under);
        EXPECT_EQ(Px(d.get(), 7, 0), white);
        for (int x = 0; x < 8; ++x) EXPECT_NE(Px(d.get(), x, 0), 0u) << x;
    }
}

}  // namespace
}  // namespace zx
