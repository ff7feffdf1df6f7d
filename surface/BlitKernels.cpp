#include "surface/BlitKernels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Wider vectors only where the processor has them, checked at run time: the build's own target
// stays the x86-64 baseline.
#if defined(__x86_64__) && defined(__GNUC__)
#define ZX_BLIT_AVX2 1
#include <immintrin.h>
#endif

namespace zx::blit {

namespace {

inline uint32_t Load(const uint8_t* p, int bytes) {
    if (bytes == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    if (bytes == 3) return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void Store(uint8_t* p, int bytes, uint32_t v) {
    if (bytes == 2) {
        const uint16_t w = static_cast<uint16_t>(v);
        std::memcpy(p, &w, 2);
    } else if (bytes == 3) {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
    } else {
        std::memcpy(p, &v, 4);
    }
}

// The mask arithmetic that defines every blend: each channel stays within its own bits because
// the weights sum to at most 256 and no mask reaches the top byte.
inline uint32_t Mix(const Format& f, uint32_t d, uint32_t s, uint32_t wd, uint32_t ws) {
    return ((((d & f.rm) * wd + (s & f.rm) * ws) & (f.rm << 8)) |
            (((d & f.gm) * wd + (s & f.gm) * ws) & (f.gm << 8)) |
            (((d & f.bm) * wd + (s & f.bm) * ws) & (f.bm << 8))) >>
           8;
}

#if defined(__SSE2__)
// The vector forms split each pixel into 16-bit lanes, one channel a lane: a channel times a
// weight of at most 256 stays below 65536, so mullo/add/srli give the scalar form's bits.

inline __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store128(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Eight 565 pixels: channel lanes out of and back into the packed form.
struct Split565 {
    __m128i r, g, b;
};
inline Split565 Split(__m128i p) {
    const __m128i m6 = _mm_set1_epi16(0x3F), m5 = _mm_set1_epi16(0x1F);
    return {_mm_srli_epi16(p, 11), _mm_and_si128(_mm_srli_epi16(p, 5), m6), _mm_and_si128(p, m5)};
}
inline __m128i Join(__m128i r, __m128i g, __m128i b) {
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r, 11), _mm_slli_epi16(g, 5)), b);
}
inline __m128i MixLanes(__m128i d, __m128i s, __m128i wd, __m128i ws) {
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(d, wd), _mm_mullo_epi16(s, ws)), 8);
}
inline __m128i Mix565(__m128i d, __m128i s, __m128i wd, __m128i ws) {
    const Split565 a = Split(d), b = Split(s);
    return Join(MixLanes(a.r, b.r, wd, ws), MixLanes(a.g, b.g, wd, ws), MixLanes(a.b, b.b, wd, ws));
}
// Four 8888 pixels; wdLo/wsLo weigh pixels 0-1, wdHi/wsHi pixels 2-3 (per lane).
inline __m128i Mix8888(__m128i d, __m128i s, __m128i wdLo, __m128i wsLo, __m128i wdHi,
                       __m128i wsHi) {
    const __m128i z = _mm_setzero_si128();
    const __m128i lo = MixLanes(_mm_unpacklo_epi8(d, z), _mm_unpacklo_epi8(s, z), wdLo, wsLo);
    const __m128i hi = MixLanes(_mm_unpackhi_epi8(d, z), _mm_unpackhi_epi8(s, z), wdHi, wsHi);
    return _mm_packus_epi16(lo, hi);
}
inline __m128i Select(__m128i m, __m128i a, __m128i b) {  // m ? a : b
    return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b));
}

// Source pixels i.. of a row, read in place or gathered through cols straight into a register.
// Gathered values are packed into 64-bit integers first: built lane by lane, the register goes
// through the stack and every read waits on a store.
inline uint64_t Pack16(const uint8_t* src, const int32_t* c) {
    auto at = [&](int k) { return uint64_t{Load(src + 2 * static_cast<ptrdiff_t>(c[k]), 2)}; };
    return at(0) | (at(1) << 16) | (at(2) << 32) | (at(3) << 48);
}
inline __m128i Pixels8(const uint8_t* src, const int32_t* cols, int i) {
    if (!cols) return Load128(src + 2 * i);
    const int32_t* c = cols + i;
    return _mm_set_epi64x(static_cast<int64_t>(Pack16(src, c + 4)),
                          static_cast<int64_t>(Pack16(src, c)));
}
inline __m128i Pixels4(const uint8_t* src, const int32_t* cols, int i) {
    if (!cols) return Load128(src + 4 * i);
    const int32_t* c = cols + i;
    auto at = [&](int k) { return uint64_t{Load(src + 4 * static_cast<ptrdiff_t>(c[k]), 4)}; };
    return _mm_set_epi64x(static_cast<int64_t>(at(2) | (at(3) << 32)),
                          static_cast<int64_t>(at(0) | (at(1) << 32)));
}
// Map weights i.. in 16-bit lanes (four of them, the rest 0, for Weights4).
inline __m128i Weights8(const uint8_t* map, const int32_t* cols, int i) {
    uint64_t eight;
    if (!cols) {
        std::memcpy(&eight, map + i, 8);
    } else {
        const int32_t* c = cols + i;
        eight = 0;
        for (int k = 7; k >= 0; --k) eight = (eight << 8) | map[c[k]];
    }
    return _mm_unpacklo_epi8(_mm_set_epi64x(0, static_cast<int64_t>(eight)), _mm_setzero_si128());
}
inline __m128i Weights4(const uint8_t* map, const int32_t* cols, int i) {
    uint32_t four;
    if (!cols) {
        std::memcpy(&four, map + i, 4);
    } else {
        const int32_t* c = cols + i;
        four = uint32_t{map[c[0]]} | (uint32_t{map[c[1]]} << 8) | (uint32_t{map[c[2]]} << 16) |
               (uint32_t{map[c[3]]} << 24);
    }
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(four)), _mm_setzero_si128());
}
#endif

#if defined(ZX_BLIT_AVX2)
bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// Eight 32-bit pixels a step, gathered by one instruction; returns how many pixels it did.
__attribute__((target("avx2"))) int KeyedGather8888Avx2(const uint8_t* row, const int32_t* cols,
                                                        int n, uint8_t* dst, uint32_t key) {
    const __m256i k = _mm256_set1_epi32(static_cast<int32_t>(key)), m = _mm256_set1_epi32(0xFFFFFF);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cols + i));
        const __m256i s = _mm256_i32gather_epi32(reinterpret_cast<const int*>(row), idx, 4);
        const __m256i kk = _mm256_cmpeq_epi32(_mm256_and_si256(s, m), k);
        auto* at = reinterpret_cast<__m256i*>(dst + 4 * i);
        _mm256_storeu_si256(at, _mm256_blendv_epi8(s, _mm256_loadu_si256(at), kk));
    }
    return i;
}

__attribute__((target("avx2"))) inline __m256i MixLanes16(__m256i a, __m256i b, __m256i wa,
                                                          __m256i wb) {
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a, wa), _mm256_mullo_epi16(b, wb)),
                             8);
}

// Eight 32-bit pixels in 16-bit channel lanes, weights per lane as in Mix8888 (within each half).
__attribute__((target("avx2"))) inline __m256i Mix8888x8(__m256i d, __m256i s, __m256i wdLo,
                                                         __m256i wsLo, __m256i wdHi, __m256i wsHi) {
    const __m256i z = _mm256_setzero_si256();
    return _mm256_packus_epi16(
        MixLanes16(_mm256_unpacklo_epi8(d, z), _mm256_unpacklo_epi8(s, z), wdLo, wsLo),
        MixLanes16(_mm256_unpackhi_epi8(d, z), _mm256_unpackhi_epi8(s, z), wdHi, wsHi));
}

__attribute__((target("avx2"))) inline __m256i Pixels8x32(const uint8_t* src, const int32_t* cols,
                                                          int i) {
    if (!cols) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
    const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cols + i));
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(src), idx, 4);
}

__attribute__((target("avx2"))) int BlendConst8888Avx2(const uint8_t* back, const uint8_t* src,
                                                       const int32_t* cols, uint8_t* out, int n,
                                                       uint32_t alpha, bool keyed, uint32_t key) {
    const __m256i ws = _mm256_set1_epi16(static_cast<int16_t>(alpha)),
                  wd = _mm256_set1_epi16(static_cast<int16_t>(256 - alpha)),
                  k = _mm256_set1_epi32(static_cast<int32_t>(key)), m = _mm256_set1_epi32(0xFFFFFF);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(back + 4 * i));
        const __m256i s = Pixels8x32(src, cols, i);
        __m256i o = _mm256_and_si256(Mix8888x8(d, s, wd, ws, wd, ws), m);
        if (keyed) o = _mm256_blendv_epi8(o, d, _mm256_cmpeq_epi32(_mm256_and_si256(s, m), k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), o);
    }
    return i;
}

__attribute__((target("avx2"))) int BlendMap8888Avx2(const uint8_t* back, const uint8_t* src,
                                                     const uint8_t* map, const int32_t* cols,
                                                     uint8_t* out, int n, bool keyed,
                                                     uint32_t key) {
    const __m256i k = _mm256_set1_epi32(static_cast<int32_t>(key)), m = _mm256_set1_epi32(0xFFFFFF),
                  w255 = _mm256_set1_epi16(255), w255d = _mm256_set1_epi32(255),
                  z = _mm256_setzero_si256();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i w32;  // one weight per pixel
        if (cols) {
            const int32_t* c = cols + i;
            w32 = _mm256_setr_epi32(map[c[0]], map[c[1]], map[c[2]], map[c[3]], map[c[4]],
                                    map[c[5]], map[c[6]], map[c[7]]);
        } else {
            w32 = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(map + i)));
        }
        const __m256i pairs = _mm256_or_si256(w32, _mm256_slli_epi32(w32, 16));
        const __m256i wLo = _mm256_unpacklo_epi32(pairs, pairs),
                      wHi = _mm256_unpackhi_epi32(pairs, pairs);
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(back + 4 * i));
        const __m256i s = Pixels8x32(src, cols, i);
        __m256i o = _mm256_and_si256(
            Mix8888x8(d, s, _mm256_sub_epi16(w255, wLo), wLo, _mm256_sub_epi16(w255, wHi), wHi), m);
        __m256i keepBack = _mm256_cmpeq_epi32(w32, z);
        __m256i takeSrc = _mm256_cmpeq_epi32(w32, w255d);
        if (keyed) {
            const __m256i kk = _mm256_cmpeq_epi32(_mm256_and_si256(s, m), k);
            keepBack = _mm256_or_si256(keepBack, kk);
            takeSrc = _mm256_andnot_si256(kk, takeSrc);
        }
        o = _mm256_blendv_epi8(_mm256_blendv_epi8(o, d, keepBack), s, takeSrc);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), o);
    }
    return i;
}

__attribute__((target("avx2"))) int KeyedCopyAvx2(const Format& f, const uint8_t* src, uint8_t* dst,
                                                  int n, uint32_t key) {
    const __m256i k = f.layout == Layout::Rgb565 ? _mm256_set1_epi16(static_cast<int16_t>(key))
                                                 : _mm256_set1_epi32(static_cast<int32_t>(key));
    const __m256i m =
        f.layout == Layout::Rgb565 ? _mm256_set1_epi16(-1) : _mm256_set1_epi32(0xFFFFFF);
    const int step = 32 / f.bytes;
    int i = 0;
    for (; i + step <= n; i += step) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * f.bytes));
        const __m256i sm = _mm256_and_si256(s, m);
        const __m256i kk =
            f.layout == Layout::Rgb565 ? _mm256_cmpeq_epi16(sm, k) : _mm256_cmpeq_epi32(sm, k);
        auto* at = reinterpret_cast<__m256i*>(dst + i * f.bytes);
        _mm256_storeu_si256(at, _mm256_blendv_epi8(s, _mm256_loadu_si256(at), kk));
    }
    return i;
}

// A keyed copy with masked stores: the pixels not of the key colour are written and no others,
// with no branch and no read of the destination, and the row's end taken by a masked load (lanes
// past it are neither read nor written). Returns how many pixels it did (all of them).
bool HasAvx512() {
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return has;
}

// Pixels [i, i + count) of a row, count at most a vector's.
template <bool k565>
__attribute__((target("avx512f,avx512bw"))) inline void KeyedCopyAvx512Part(const uint8_t* src,
                                                                            uint8_t* dst, int i,
                                                                            int count,
                                                                            uint32_t key) {
    if constexpr (k565) {
        const __mmask32 part = static_cast<__mmask32>((uint64_t{1} << count) - 1);
        const __m512i s = _mm512_maskz_loadu_epi16(part, src + 2 * i);
        _mm512_mask_storeu_epi16(
            dst + 2 * i,
            _mm512_mask_cmpneq_epi16_mask(part, s, _mm512_set1_epi16(static_cast<int16_t>(key))),
            s);
    } else {
        const __mmask16 part = static_cast<__mmask16>((1u << count) - 1);
        const __m512i s = _mm512_maskz_loadu_epi32(part, src + 4 * i);
        _mm512_mask_storeu_epi32(
            dst + 4 * i,
            _mm512_mask_cmpneq_epi32_mask(part, _mm512_and_si512(s, _mm512_set1_epi32(0xFFFFFF)),
                                          _mm512_set1_epi32(static_cast<int32_t>(key))),
            s);
    }
}

// The destination is written in whole cache lines (a masked store across two lines costs several
// times one within a line): a part up to the first line boundary, then line by line.
template <bool k565>
__attribute__((target("avx512f,avx512bw"))) int KeyedCopyAvx512(const uint8_t* src, uint8_t* dst,
                                                                int n, uint32_t key) {
    constexpr int B = k565 ? 2 : 4, step = 64 / B;
    int i = 0;
    const auto offset = reinterpret_cast<uintptr_t>(dst) & 63;
    if (offset % B == 0 && offset != 0) {
        i = std::min(n, static_cast<int>((64 - offset) / B));
        KeyedCopyAvx512Part<k565>(src, dst, 0, i, key);
    }
    if constexpr (k565) {
        const __m512i k = _mm512_set1_epi16(static_cast<int16_t>(key));
        for (; i + step <= n; i += step) {
            const __m512i s = _mm512_loadu_si512(src + 2 * i);
            _mm512_mask_storeu_epi16(dst + 2 * i, _mm512_cmpneq_epi16_mask(s, k), s);
        }
    } else {
        const __m512i k = _mm512_set1_epi32(static_cast<int32_t>(key)),
                      m = _mm512_set1_epi32(0xFFFFFF);
        for (; i + step <= n; i += step) {
            const __m512i s = _mm512_loadu_si512(src + 4 * i);
            _mm512_mask_storeu_epi32(dst + 4 * i,
                                     _mm512_cmpneq_epi32_mask(_mm512_and_si512(s, m), k), s);
        }
    }
    if (i < n) KeyedCopyAvx512Part<k565>(src, dst, i, n - i, key);
    return n;
}

template <bool k565>
__attribute__((target("avx512f,avx512bw"))) void KeyedCopyRectAvx512(const uint8_t* src,
                                                                     ptrdiff_t srcPitch,
                                                                     uint8_t* dst,
                                                                     ptrdiff_t dstPitch, int w,
                                                                     int h, uint32_t key) {
    for (int y = 0; y < h; ++y, src += srcPitch, dst += dstPitch)
        KeyedCopyAvx512<k565>(src, dst, w, key);
}

__attribute__((target("avx2"))) int Gather32Avx2(const uint8_t* row, const int32_t* cols, int n,
                                                 uint8_t* out) {
    int i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), Pixels8x32(row, cols, i));
    return i;
}

__attribute__((target("avx2"))) int Lerp8888Avx2(const uint8_t* top, const uint8_t* bottom,
                                                 uint32_t t, uint8_t* out, int n) {
    const __m256i wb = _mm256_set1_epi16(static_cast<int16_t>(t)),
                  wt = _mm256_set1_epi16(static_cast<int16_t>(256 - t)),
                  m = _mm256_set1_epi32(0xFFFFFF);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + 4 * i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + 4 * i));
        auto* at = reinterpret_cast<__m256i*>(out + 4 * i);
        const __m256i v = Mix8888x8(a, b, wt, wb, wt, wb);
        _mm256_storeu_si256(at, _mm256_blendv_epi8(_mm256_loadu_si256(at), v, m));
    }
    return i;
}
#endif

}  // namespace

Format MakeFormat(int bytes, uint32_t rMask, uint32_t gMask, uint32_t bMask) {
    Format f;
    f.bytes = bytes;
    f.rm = rMask, f.gm = gMask, f.bm = bMask;
    f.masks = rMask | gMask | bMask;
    if (bytes == 2 && rMask == 0xF800 && gMask == 0x07E0 && bMask == 0x001F)
        f.layout = Layout::Rgb565;
    else if (bytes == 4 && rMask == 0xFF0000 && gMask == 0xFF00 && bMask == 0xFF)
        f.layout = Layout::Xrgb8888;
    return f;
}

namespace {
inline uint32_t Lerp(const Format& f, uint32_t a, uint32_t b, uint32_t t) {
    if (f.layout == Layout::Xrgb8888) {
        // Red and blue share one multiply: each product stays below 1 << 16, so the lanes
        // never carry into each other.
        const uint32_t rb = (((a & 0xFF00FFu) * (256 - t) + (b & 0xFF00FFu) * t) >> 8) & 0xFF00FFu;
        const uint32_t g = (((a & 0xFF00u) * (256 - t) + (b & 0xFF00u) * t) >> 8) & 0xFF00u;
        return rb | g;
    }
    if (f.layout == Layout::Rgb565) {
        // The three channels spread 16 bits apart in one 64-bit word, one multiply each side.
        auto spread = [](uint32_t p) {
            return uint64_t{p & 0x1Fu} | (uint64_t{p & 0x7E0u} << 11) |
                   (uint64_t{p & 0xF800u} << 21);
        };
        const uint64_t m = (spread(a) * (256 - t) + spread(b) * t) >> 8;
        return static_cast<uint32_t>((m & 0x1F) | (((m >> 16) & 0x3F) << 5) |
                                     (((m >> 32) & 0x1F) << 11));
    }
    uint32_t r = 0;
    for (const uint32_t m : {f.rm, f.gm, f.bm}) r |= (((a & m) * (256 - t) + (b & m) * t) >> 8) & m;
    return r;
}
}  // namespace

uint32_t LerpPixel(const Format& f, uint32_t a, uint32_t b, uint32_t t) { return Lerp(f, a, b, t); }

// ---- scalar forms: the definition ----

namespace scalar {

void BlendConstRow(const Format& f, const uint8_t* back, const uint8_t* src, const int32_t* cols,
                   uint8_t* out, int n, uint32_t alpha, bool keyed, uint32_t key) {
    const int B = f.bytes;
    const uint32_t inv = 256 - alpha;
    for (int i = 0; i < n; ++i) {
        const uint32_t d = Load(back + i * B, B);
        const uint32_t s = Load(src + static_cast<ptrdiff_t>(cols ? cols[i] : i) * B, B);
        Store(out + i * B, B, keyed && (s & f.masks) == key ? d : Mix(f, d, s, inv, alpha));
    }
}

void BlendMapRow(const Format& f, const uint8_t* back, const uint8_t* src, const uint8_t* map,
                 const int32_t* cols, uint8_t* out, int n, bool keyed, uint32_t key) {
    const int B = f.bytes;
    for (int i = 0; i < n; ++i) {
        const int at = cols ? cols[i] : i;
        const uint32_t d = Load(back + i * B, B);
        const uint32_t s = Load(src + static_cast<ptrdiff_t>(at) * B, B), m = map[at];
        uint32_t o = d;
        if (!(keyed && (s & f.masks) == key)) {
            if (m == 255)
                o = s;
            else if (m != 0)
                o = Mix(f, d, s, 255 - m, m);
        }
        Store(out + i * B, B, o);
    }
}

void KeyedCopyRow(const Format& f, const uint8_t* src, uint8_t* dst, int n, uint32_t key) {
    const int B = f.bytes;
    for (int i = 0; i < n; ++i) {
        const uint32_t s = Load(src + i * B, B);
        if ((s & f.masks) != key) Store(dst + i * B, B, s);
    }
}

void KeyedGatherRow(const Format& f, const uint8_t* row, const int32_t* cols, int n, uint8_t* dst,
                    uint32_t key) {
    const int B = f.bytes;
    for (int i = 0; i < n; ++i) {
        const uint32_t s = Load(row + static_cast<ptrdiff_t>(cols[i]) * B, B);
        if ((s & f.masks) != key) Store(dst + i * B, B, s);
    }
}

void LerpRow(const Format& f, const uint8_t* top, const uint8_t* bottom, uint32_t t, uint8_t* out,
             int n) {
    const int B = f.bytes;
    for (int i = 0; i < n; ++i) {
        const uint32_t v = Lerp(f, Load(top + i * B, B), Load(bottom + i * B, B), t);
        Store(out + i * B, B, (Load(out + i * B, B) & ~f.masks) | v);
    }
}

bool LerpColumnsRow(const Format& f, const uint8_t* row, const int32_t* x0, const int32_t* x1,
                    const uint8_t* fx, int n, uint8_t* out, uint8_t* state, uint32_t key) {
    const int B = f.bytes;
    bool opaque = true;
    for (int i = 0; i < n; ++i) {
        const uint32_t a = Load(row + static_cast<ptrdiff_t>(x0[i]) * B, B),
                       b = Load(row + static_cast<ptrdiff_t>(x1[i]) * B, B);
        Store(out + i * B, B, Lerp(f, a, b, fx[i]));
        if (state) {
            const bool ka = (a & f.masks) == key, kb = (b & f.masks) == key;
            state[i] = static_cast<uint8_t>(ka && kb ? 1 : (ka || kb ? 2 : 0));
            opaque = opaque && state[i] == 0;
        }
    }
    return opaque;
}

void LerpBytesRow(const uint8_t* top, const uint8_t* bottom, uint32_t t, uint8_t* out, int n) {
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>((top[i] * (256 - t) + bottom[i] * t) >> 8);
}

}  // namespace scalar

// ---- vector forms ----

void GatherRow(int bytes, const uint8_t* row, const int32_t* cols, int n, uint8_t* out) {
#if defined(ZX_BLIT_AVX2)
    if (bytes == 4 && HasAvx2()) {
        const int done = Gather32Avx2(row, cols, n, out);
        cols += done, out += 4 * done, n -= done;
    }
#endif
    switch (bytes) {
        case 1:
            for (int i = 0; i < n; ++i) out[i] = row[cols[i]];
            break;
        case 2:
            for (int i = 0; i < n; ++i) {
                uint16_t v;
                std::memcpy(&v, row + 2 * static_cast<ptrdiff_t>(cols[i]), 2);
                std::memcpy(out + 2 * i, &v, 2);
            }
            break;
        case 3:
            for (int i = 0; i < n; ++i) std::memcpy(out + 3 * i, row + 3 * cols[i], 3);
            break;
        default:
            for (int i = 0; i < n; ++i) {
                uint32_t v;
                std::memcpy(&v, row + 4 * static_cast<ptrdiff_t>(cols[i]), 4);
                std::memcpy(out + 4 * i, &v, 4);
            }
            break;
    }
}

void BlendConstRow(const Format& f, const uint8_t* back, const uint8_t* src, const int32_t* cols,
                   uint8_t* out, int n, uint32_t alpha, bool keyed, uint32_t key) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i ws = _mm_set1_epi16(static_cast<int16_t>(alpha)),
                  wd = _mm_set1_epi16(static_cast<int16_t>(256 - alpha));
    if (f.layout == Layout::Rgb565) {
        const __m128i k = _mm_set1_epi16(static_cast<int16_t>(key));
        for (; i + 8 <= n; i += 8) {
            const __m128i d = Load128(back + 2 * i), s = Pixels8(src, cols, i);
            __m128i o = Mix565(d, s, wd, ws);
            if (keyed) o = Select(_mm_cmpeq_epi16(s, k), d, o);
            Store128(out + 2 * i, o);
        }
    } else if (f.layout == Layout::Xrgb8888) {
#if defined(ZX_BLIT_AVX2)
        if (HasAvx2()) i = BlendConst8888Avx2(back, src, cols, out, n, alpha, keyed, key);
#endif
        const __m128i k = _mm_set1_epi32(static_cast<int32_t>(key)), m = _mm_set1_epi32(0xFFFFFF);
        for (; i + 4 <= n; i += 4) {
            const __m128i d = Load128(back + 4 * i), s = Pixels4(src, cols, i);
            __m128i o = _mm_and_si128(Mix8888(d, s, wd, ws, wd, ws), m);
            if (keyed) o = Select(_mm_cmpeq_epi32(_mm_and_si128(s, m), k), d, o);
            Store128(out + 4 * i, o);
        }
    }
#endif
    const int B = f.bytes;
    scalar::BlendConstRow(f, back + i * B, cols ? src : src + i * B, cols ? cols + i : nullptr,
                          out + i * B, n - i, alpha, keyed, key);
}

void BlendMapRow(const Format& f, const uint8_t* back, const uint8_t* src, const uint8_t* map,
                 const int32_t* cols, uint8_t* out, int n, bool keyed, uint32_t key) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i z = _mm_setzero_si128(), w255 = _mm_set1_epi16(255);
    if (f.layout == Layout::Rgb565) {
        const __m128i k = _mm_set1_epi16(static_cast<int16_t>(key));
        for (; i + 8 <= n; i += 8) {
            const __m128i mm = Weights8(map, cols, i);
            const __m128i d = Load128(back + 2 * i), s = Pixels8(src, cols, i);
            __m128i o = Mix565(d, s, _mm_sub_epi16(w255, mm), mm);
            __m128i keepBack = _mm_cmpeq_epi16(mm, z);
            __m128i takeSrc = _mm_cmpeq_epi16(mm, w255);
            if (keyed) {
                const __m128i kk = _mm_cmpeq_epi16(s, k);
                keepBack = _mm_or_si128(keepBack, kk);
                takeSrc = _mm_andnot_si128(kk, takeSrc);
            }
            o = Select(takeSrc, s, Select(keepBack, d, o));
            Store128(out + 2 * i, o);
        }
    } else if (f.layout == Layout::Xrgb8888) {
#if defined(ZX_BLIT_AVX2)
        if (HasAvx2()) i = BlendMap8888Avx2(back, src, map, cols, out, n, keyed, key);
#endif
        const __m128i k = _mm_set1_epi32(static_cast<int32_t>(key)), m = _mm_set1_epi32(0xFFFFFF),
                      w255d = _mm_set1_epi32(255);
        for (; i + 4 <= n; i += 4) {
            const __m128i m16 = Weights4(map, cols, i);      // lanes 0-3, the rest 0
            const __m128i m32 = _mm_unpacklo_epi16(m16, z);  // one weight per pixel
            const __m128i pairs = _mm_unpacklo_epi16(m16, m16);
            const __m128i wLo = _mm_unpacklo_epi32(pairs, pairs),  // pixels 0-1, every lane
                wHi = _mm_unpackhi_epi32(pairs, pairs);
            const __m128i d = Load128(back + 4 * i), s = Pixels4(src, cols, i);
            __m128i o = _mm_and_si128(
                Mix8888(d, s, _mm_sub_epi16(w255, wLo), wLo, _mm_sub_epi16(w255, wHi), wHi), m);
            __m128i keepBack = _mm_cmpeq_epi32(m32, z);
            __m128i takeSrc = _mm_cmpeq_epi32(m32, w255d);
            if (keyed) {
                const __m128i kk = _mm_cmpeq_epi32(_mm_and_si128(s, m), k);
                keepBack = _mm_or_si128(keepBack, kk);
                takeSrc = _mm_andnot_si128(kk, takeSrc);
            }
            o = Select(takeSrc, s, Select(keepBack, d, o));
            Store128(out + 4 * i, o);
        }
    }
#endif
    const int B = f.bytes;
    scalar::BlendMapRow(f, back + i * B, cols ? src : src + i * B, cols ? map : map + i,
                        cols ? cols + i : nullptr, out + i * B, n - i, keyed, key);
}

bool Supports(Isa isa) {
    switch (isa) {
#if defined(ZX_BLIT_AVX2)
        case Isa::Avx512: return HasAvx512();
        case Isa::Avx2: return HasAvx2();
#else
        case Isa::Avx512:
        case Isa::Avx2: return false;
#endif
#if defined(__SSE2__)
        case Isa::Sse2: return true;
#else
        case Isa::Sse2: return false;
#endif
        case Isa::Scalar: return true;
    }
    return false;
}

void KeyedCopyRow(const Format& f, const uint8_t* src, uint8_t* dst, int n, uint32_t key) {
    KeyedCopyRowUpTo(Isa::Avx512, f, src, dst, n, key);
}

void KeyedCopyRowUpTo([[maybe_unused]] Isa isa, const Format& f, const uint8_t* src, uint8_t* dst,
                      int n, uint32_t key) {
    int i = 0;
#if defined(ZX_BLIT_AVX2)
    if (isa >= Isa::Avx512 && HasAvx512()) {
        if (f.layout == Layout::Rgb565) i = KeyedCopyAvx512<true>(src, dst, n, key);
        if (f.layout == Layout::Xrgb8888) i = KeyedCopyAvx512<false>(src, dst, n, key);
    }
    if (isa >= Isa::Avx2 && f.layout != Layout::Other && HasAvx2() && i < n) {
        const int B = f.bytes;
        i += KeyedCopyAvx2(f, src + i * B, dst + i * B, n - i, key);
    }
#endif
#if defined(__SSE2__)
    const bool sse2 = isa >= Isa::Sse2;
    if (sse2 && f.layout == Layout::Rgb565) {
        const __m128i k = _mm_set1_epi16(static_cast<int16_t>(key));
        for (; i + 8 <= n; i += 8) {
            const __m128i s = Load128(src + 2 * i);
            const __m128i kk = _mm_cmpeq_epi16(s, k);
            Store128(dst + 2 * i, Select(kk, Load128(dst + 2 * i), s));
        }
    } else if (sse2 && f.layout == Layout::Xrgb8888) {
        const __m128i k = _mm_set1_epi32(static_cast<int32_t>(key)), m = _mm_set1_epi32(0xFFFFFF);
        for (; i + 4 <= n; i += 4) {
            const __m128i s = Load128(src + 4 * i);
            const __m128i kk = _mm_cmpeq_epi32(_mm_and_si128(s, m), k);
            Store128(dst + 4 * i, Select(kk, Load128(dst + 4 * i), s));
        }
    }
#endif
    const int B = f.bytes;
    scalar::KeyedCopyRow(f, src + i * B, dst + i * B, n - i, key);
}

void KeyedCopyRect(const Format& f, const uint8_t* src, ptrdiff_t srcPitch, uint8_t* dst,
                   ptrdiff_t dstPitch, int w, int h, uint32_t key) {
#if defined(ZX_BLIT_AVX2)
    // The form is chosen once for all rows: a sprite's row is short, and choosing per row cost
    // a third as much as copying it.
    if (HasAvx512() && f.layout == Layout::Rgb565)
        return KeyedCopyRectAvx512<true>(src, srcPitch, dst, dstPitch, w, h, key);
    if (HasAvx512() && f.layout == Layout::Xrgb8888)
        return KeyedCopyRectAvx512<false>(src, srcPitch, dst, dstPitch, w, h, key);
#endif
    for (int y = 0; y < h; ++y, src += srcPitch, dst += dstPitch) KeyedCopyRow(f, src, dst, w, key);
}

// A row whose runs are on average shorter than this many pixels is copied by the masked kernel:
// a copy call per run would cost more than it saves.
constexpr int kShortRun = 16;

KeyedRuns::KeyedRuns(const Format& f, const uint8_t* bits, ptrdiff_t pitch, int w, int h,
                     uint32_t key)
    : w_(w), h_(h), key_(key) {
    rows_.reserve(static_cast<size_t>(h));
    const int B = f.bytes;
    size_t opaqueBytes = 0;
    for (int y = 0; y < h; ++y) {
        const size_t first = spans_.size();
        rows_.push_back({static_cast<uint32_t>(first), static_cast<uint32_t>(opaqueBytes)});
        const uint8_t* row = bits + y * pitch;
        int opaque = 0;
        for (int x = 0; x < w;) {
            while (x < w && (Load(row + x * B, B) & f.masks) == key) ++x;
            const int begin = x;
            while (x < w && (Load(row + x * B, B) & f.masks) != key) ++x;
            if (x == begin) continue;
            spans_.push_back(
                {static_cast<uint32_t>(begin * B), static_cast<uint32_t>((x - begin) * B)});
            opaque += x - begin;
        }
        if (static_cast<int>(spans_.size() - first) * kShortRun > opaque) {
            spans_.resize(first);
            spans_.push_back({0, kMaskedRow});
        } else {
            opaqueBytes += static_cast<size_t>(opaque) * B;
        }
        spans_.push_back({0, 0});
    }
    opaque_.resize(opaqueBytes);
    uint8_t* to = opaque_.data();
    const Span* s = spans_.data();
    for (int y = 0; y < h; ++y, ++s)
        for (; s->bytes; ++s)
            if (s->bytes != kMaskedRow) {
                std::memcpy(to, bits + y * pitch + s->offset, s->bytes);
                to += s->bytes;
            }
}

namespace {

struct LibraryCopy {
    void operator()(uint8_t* dst, const uint8_t* src, size_t n) const { std::memcpy(dst, src, n); }
};

#if defined(ZX_BLIT_AVX2)
// A run is some hundred bytes, and a sprite has a run or two a row: the library's copy spends
// on its call and its choice by size much of what the bytes cost. Inline: the first and last
// vector stored as they fall, the ones between at the destination's vector boundaries (a store
// across two cache lines costs two); a run no longer than a vector in masked lanes.
struct Avx512Copy {
    __attribute__((target("avx512f,avx512bw"))) void operator()(uint8_t* dst, const uint8_t* src,
                                                                size_t n) const {
        if (n <= 64) {
            const __mmask64 m = n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
            _mm512_mask_storeu_epi8(dst, m, _mm512_maskz_loadu_epi8(m, src));
            return;
        }
        const __m512i first = _mm512_loadu_si512(src), last = _mm512_loadu_si512(src + n - 64);
        size_t i = 64 - (reinterpret_cast<uintptr_t>(dst) & 63);
        for (; i + 128 <= n; i += 128) {
            const __m512i a = _mm512_loadu_si512(src + i), b = _mm512_loadu_si512(src + i + 64);
            _mm512_store_si512(dst + i, a);
            _mm512_store_si512(dst + i + 64, b);
        }
        if (i + 64 <= n) _mm512_store_si512(dst + i, _mm512_loadu_si512(src + i));
        _mm512_storeu_si512(dst, first);
        _mm512_storeu_si512(dst + n - 64, last);
    }
};
#endif

}  // namespace

template <class CopyBytes>
__attribute__((always_inline)) inline void KeyedRuns::CopyWith(CopyBytes copy, const Format& f,
                                                               const uint8_t* bits, ptrdiff_t pitch,
                                                               int sx, int sy, int w, int h,
                                                               uint8_t* dst,
                                                               ptrdiff_t dstPitch) const {
    const uint8_t* src = bits + static_cast<ptrdiff_t>(sy) * pitch;
    if (sx == 0 && w == w_) {
        // Whole rows: each span as it stands, its pixels the next in the stream.
        const Span* s = spans_.data() + rows_[static_cast<size_t>(sy)].span;
        const uint8_t* pixels = opaque_.data() + rows_[static_cast<size_t>(sy)].opaque;
        for (int y = 0; y < h; ++y, src += pitch, dst += dstPitch, ++s)
            for (; s->bytes; ++s) {
                if (s->bytes == kMaskedRow) {
                    KeyedCopyRow(f, src, dst, w, key_);
                    continue;
                }
                copy(dst + s->offset, pixels, s->bytes);
                pixels += s->bytes;
            }
        return;
    }
    const uint32_t B = static_cast<uint32_t>(f.bytes);
    const uint32_t from = static_cast<uint32_t>(sx) * B, to = from + static_cast<uint32_t>(w) * B;
    for (int y = 0; y < h; ++y, src += pitch, dst += dstPitch) {
        const Row& row = rows_[static_cast<size_t>(sy + y)];
        const Span* s = spans_.data() + row.span;
        if (s->bytes == kMaskedRow) {
            KeyedCopyRow(f, src + from, dst, w, key_);
            continue;
        }
        // Each span cut to the rectangle's bytes.
        for (const uint8_t* pixels = opaque_.data() + row.opaque; s->bytes && s->offset < to;
             pixels += s->bytes, ++s) {
            const uint32_t a = std::max(s->offset, from), b = std::min(s->offset + s->bytes, to);
            if (a < b) copy(dst + (a - from), pixels + (a - s->offset), b - a);
        }
    }
}

#if defined(ZX_BLIT_AVX2)
__attribute__((target("avx512f,avx512bw"))) void KeyedRuns::CopyAvx512(
    const Format& f, const uint8_t* bits, ptrdiff_t pitch, int sx, int sy, int w, int h,
    uint8_t* dst, ptrdiff_t dstPitch) const {
    CopyWith(Avx512Copy{}, f, bits, pitch, sx, sy, w, h, dst, dstPitch);
}
#endif

void KeyedRuns::Copy(const Format& f, const uint8_t* bits, ptrdiff_t pitch, int sx, int sy, int w,
                     int h, uint8_t* dst, ptrdiff_t dstPitch, Isa best) const {
#if defined(ZX_BLIT_AVX2)
    if (best >= Isa::Avx512 && HasAvx512())
        return CopyAvx512(f, bits, pitch, sx, sy, w, h, dst, dstPitch);
#else
    (void)best;
#endif
    CopyWith(LibraryCopy{}, f, bits, pitch, sx, sy, w, h, dst, dstPitch);
}

void KeyedGatherRow(const Format& f, const uint8_t* row, const int32_t* cols, int n, uint8_t* dst,
                    uint32_t key) {
    int i = 0;
#if defined(__SSE2__)
    // The pixels are gathered straight into a register: no row in between to store and reload.
    if (f.layout == Layout::Rgb565) {
        const __m128i k = _mm_set1_epi16(static_cast<int16_t>(key));
        for (; i + 8 <= n; i += 8) {
            const __m128i s = Pixels8(row, cols, i);
            const __m128i kk = _mm_cmpeq_epi16(s, k);
            Store128(dst + 2 * i, Select(kk, Load128(dst + 2 * i), s));
        }
    } else if (f.layout == Layout::Xrgb8888) {
#if defined(ZX_BLIT_AVX2)
        if (HasAvx2()) i = KeyedGather8888Avx2(row, cols, n, dst, key);
#endif
        const __m128i k = _mm_set1_epi32(static_cast<int32_t>(key)), m = _mm_set1_epi32(0xFFFFFF);
        for (; i + 4 <= n; i += 4) {
            const __m128i s = Pixels4(row, cols, i);
            const __m128i kk = _mm_cmpeq_epi32(_mm_and_si128(s, m), k);
            Store128(dst + 4 * i, Select(kk, Load128(dst + 4 * i), s));
        }
    }
#endif
    const int B = f.bytes;
    scalar::KeyedGatherRow(f, row, cols + i, n - i, dst + i * B, key);
}

void LerpRow(const Format& f, const uint8_t* top, const uint8_t* bottom, uint32_t t, uint8_t* out,
             int n) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i wb = _mm_set1_epi16(static_cast<int16_t>(t)),
                  wt = _mm_set1_epi16(static_cast<int16_t>(256 - t));
    if (f.layout == Layout::Rgb565) {
        for (; i + 8 <= n; i += 8)
            Store128(out + 2 * i, Mix565(Load128(top + 2 * i), Load128(bottom + 2 * i), wt, wb));
    } else if (f.layout == Layout::Xrgb8888) {
#if defined(ZX_BLIT_AVX2)
        if (HasAvx2()) i = Lerp8888Avx2(top, bottom, t, out, n);
#endif
        const __m128i m = _mm_set1_epi32(0xFFFFFF);
        for (; i + 4 <= n; i += 4) {
            const __m128i v =
                Mix8888(Load128(top + 4 * i), Load128(bottom + 4 * i), wt, wb, wt, wb);
            Store128(out + 4 * i, Select(m, v, Load128(out + 4 * i)));
        }
    }
#endif
    const int B = f.bytes;
    scalar::LerpRow(f, top + i * B, bottom + i * B, t, out + i * B, n - i);
}

bool LerpColumnsRow(const Format& f, const uint8_t* row, const int32_t* x0, const int32_t* x1,
                    const uint8_t* fx, int n, uint8_t* out, uint8_t* state, uint32_t key) {
    int i = 0;
    bool opaque = true;
#if defined(__SSE2__)
    // Per pixel: both keyed gives 1, one keyed 2, none 0, as (any & 2) ^ (both & 3).
    const __m128i two = _mm_set1_epi8(2), three = _mm_set1_epi8(3);
    __m128i anyKeyed = _mm_setzero_si128();
    if (f.layout == Layout::Rgb565) {
        const __m128i k = _mm_set1_epi16(static_cast<int16_t>(key)), w256 = _mm_set1_epi16(256);
        for (; i + 8 <= n; i += 8) {
            const __m128i a = Pixels8(row, x0, i), b = Pixels8(row, x1, i);
            const __m128i t = Weights8(fx, nullptr, i);
            Store128(out + 2 * i, Mix565(a, b, _mm_sub_epi16(w256, t), t));
            if (state) {
                const __m128i ka = _mm_cmpeq_epi16(a, k), kb = _mm_cmpeq_epi16(b, k);
                const __m128i any = _mm_packs_epi16(_mm_or_si128(ka, kb), ka),
                              both = _mm_packs_epi16(_mm_and_si128(ka, kb), ka);
                const __m128i st =
                    _mm_xor_si128(_mm_and_si128(any, two), _mm_and_si128(both, three));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(state + i), st);
                anyKeyed = _mm_or_si128(anyKeyed, _mm_unpacklo_epi64(st, _mm_setzero_si128()));
            }
        }
    } else if (f.layout == Layout::Xrgb8888) {
        const __m128i k = _mm_set1_epi32(static_cast<int32_t>(key)), m = _mm_set1_epi32(0xFFFFFF),
                      w256 = _mm_set1_epi16(256), z = _mm_setzero_si128();
        for (; i + 4 <= n; i += 4) {
            const __m128i a = Pixels4(row, x0, i), b = Pixels4(row, x1, i);
            const __m128i t16 = Weights4(fx, nullptr, i);
            const __m128i pairs = _mm_unpacklo_epi16(t16, t16);
            const __m128i tLo = _mm_unpacklo_epi32(pairs, pairs),
                          tHi = _mm_unpackhi_epi32(pairs, pairs);
            Store128(out + 4 * i, _mm_and_si128(Mix8888(a, b, _mm_sub_epi16(w256, tLo), tLo,
                                                        _mm_sub_epi16(w256, tHi), tHi),
                                                m));
            if (state) {
                const __m128i ka = _mm_cmpeq_epi32(_mm_and_si128(a, m), k),
                              kb = _mm_cmpeq_epi32(_mm_and_si128(b, m), k);
                const __m128i any16 = _mm_packs_epi32(_mm_or_si128(ka, kb), z),
                              both16 = _mm_packs_epi32(_mm_and_si128(ka, kb), z);
                const __m128i any = _mm_packs_epi16(any16, z), both = _mm_packs_epi16(both16, z);
                const __m128i st =
                    _mm_xor_si128(_mm_and_si128(any, two), _mm_and_si128(both, three));
                const int four = _mm_cvtsi128_si32(st);
                std::memcpy(state + i, &four, 4);
                anyKeyed = _mm_or_si128(anyKeyed, st);
            }
        }
    }
    opaque = _mm_movemask_epi8(_mm_cmpeq_epi8(anyKeyed, _mm_setzero_si128())) == 0xFFFF;
#endif
    const int B = f.bytes;
    const bool rest = scalar::LerpColumnsRow(f, row, x0 + i, x1 + i, fx + i, n - i, out + i * B,
                                             state ? state + i : nullptr, key);
    return opaque && rest;
}

void LerpBytesRow(const uint8_t* top, const uint8_t* bottom, uint32_t t, uint8_t* out, int n) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i z = _mm_setzero_si128(), wb = _mm_set1_epi16(static_cast<int16_t>(t)),
                  wt = _mm_set1_epi16(static_cast<int16_t>(256 - t));
    for (; i + 16 <= n; i += 16) {
        const __m128i a = Load128(top + i), b = Load128(bottom + i);
        const __m128i lo = MixLanes(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z), wt, wb);
        const __m128i hi = MixLanes(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z), wt, wb);
        Store128(out + i, _mm_packus_epi16(lo, hi));
    }
#endif
    scalar::LerpBytesRow(top + i, bottom + i, t, out + i, n - i);
}

}  // namespace zx::blit
