#include "platform/Presentation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zx::platform {
namespace {

// A whole step is kept while it gives at least this share of the exact fit's size.
constexpr double kWholeStepShare = 0.9;
// The first window takes at most this share of the desktop in either direction.
constexpr double kDesktopShare = 0.8;

int FloorDiv(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return static_cast<int>(q);
}

uint32_t Expand565(uint32_t v) {
    const uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
    // The top bits repeated into the low ones, so that white stays white.
    return ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

void ConvertRow(const uint8_t* src, PixelLayout layout, int n, uint32_t* out) {
    switch (layout) {
        case PixelLayout::Rgb565:
            for (int i = 0; i < n; ++i, src += 2) out[i] = Expand565(src[0] | (src[1] << 8));
            break;
        case PixelLayout::Bgr24:
            for (int i = 0; i < n; ++i, src += 3)
                out[i] = static_cast<uint32_t>(src[0] | (src[1] << 8) | (src[2] << 16));
            break;
        case PixelLayout::Xrgb8888: std::memcpy(out, src, static_cast<size_t>(n) * 4); break;
    }
}

// a and b mixed, b weighing share/256, rounded. Red and blue go through one multiplication, green
// through another: each channel times at most 256, plus the half, stays within its own 16 bits.
inline uint32_t Mix(uint32_t a, uint32_t b, uint32_t share) {
    const uint32_t keep = 256 - share;
    const uint32_t rb =
        (((a & 0xFF00FF) * keep + (b & 0xFF00FF) * share + 0x800080) >> 8) & 0xFF00FF;
    const uint32_t g = (((a & 0x00FF00) * keep + (b & 0x00FF00) * share + 0x8000) >> 8) & 0x00FF00;
    return rb | g;
}

#if defined(__SSE2__)
// Four pixels of a and b mixed as Mix does, each channel in a 16-bit lane: the shares (and what
// is kept) of the lower two pixels, then of the upper two, spread over their channels.
inline __m128i Mix4(__m128i a, __m128i b, __m128i keepLo, __m128i shareLo, __m128i keepHi,
                    __m128i shareHi) {
    const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(128);
    auto lanes = [&](__m128i x, __m128i y, __m128i keep, __m128i share) {
        const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(x, keep), _mm_mullo_epi16(y, share));
        return _mm_srli_epi16(_mm_add_epi16(sum, half), 8);
    };
    const __m128i lo =
        lanes(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), keepLo, shareLo);
    const __m128i hi =
        lanes(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), keepHi, shareHi);
    return _mm_packus_epi16(lo, hi);
}
#endif

// The row between two laid-out rows: the bulk of the work of a filtered picture, so four pixels
// at a time where the processor has SSE2.
void MixRows(const uint32_t* a, const uint32_t* b, uint32_t share, int n, uint32_t* out) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i w = _mm_set1_epi16(static_cast<short>(share));
    const __m128i k = _mm_set1_epi16(static_cast<short>(256 - share));
    for (; i + 4 <= n; i += 4) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), Mix4(va, vb, k, w, k, w));
    }
#endif
    for (; i < n; ++i) out[i] = Mix(a[i], b[i], share);
}

// Each output pixel from the source pixel first[i] and the one after it, mixed by share[i]. Four
// at a time where the processor has SSE2, the pixels gathered.
void MixPairs(const uint32_t* c, const int32_t* first, const uint16_t* share, int n,
              uint32_t* out) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i whole = _mm_set1_epi16(256);
    for (; i + 4 <= n; i += 4) {
        const int32_t f0 = first[i], f1 = first[i + 1], f2 = first[i + 2], f3 = first[i + 3];
        // A share of 0 may stand at the last source pixel, which has no next: mixing it with
        // itself gives the same.
        const int32_t n0 = share[i] ? f0 + 1 : f0, n1 = share[i + 1] ? f1 + 1 : f1,
                      n2 = share[i + 2] ? f2 + 1 : f2, n3 = share[i + 3] ? f3 + 1 : f3;
        const __m128i va = _mm_set_epi32(static_cast<int>(c[f3]), static_cast<int>(c[f2]),
                                         static_cast<int>(c[f1]), static_cast<int>(c[f0]));
        const __m128i vb = _mm_set_epi32(static_cast<int>(c[n3]), static_cast<int>(c[n2]),
                                         static_cast<int>(c[n1]), static_cast<int>(c[n0]));
        const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(share + i));
        const __m128i s2 = _mm_unpacklo_epi16(s, s);  // s0 s0 s1 s1 s2 s2 s3 s3
        const __m128i wlo = _mm_unpacklo_epi32(s2, s2), whi = _mm_unpackhi_epi32(s2, s2);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + i),
            Mix4(va, vb, _mm_sub_epi16(whole, wlo), wlo, _mm_sub_epi16(whole, whi), whi));
    }
#endif
    for (; i < n; ++i)
        out[i] = share[i] ? Mix(c[first[i]], c[first[i] + 1], share[i]) : c[first[i]];
}

}  // namespace

Presentation FitGameArea(int outW, int outH, int gameW, int gameH) {
    Presentation p;
    if (outW <= 0 || outH <= 0 || gameW <= 0 || gameH <= 0) return p;
    const double fit =
        std::min(outW / static_cast<double>(gameW), outH / static_cast<double>(gameH));
    const int step = static_cast<int>(std::floor(fit));
    if (step >= 1 && step >= kWholeStepShare * fit) {
        p.w = gameW * step, p.h = gameH * step;
    } else if (outW * static_cast<long long>(gameH) <= outH * static_cast<long long>(gameW)) {
        // The width limits: the height follows the shape, rounded.
        p.w = outW;
        p.h = static_cast<int>(std::lround(outW * static_cast<double>(gameH) / gameW));
        p.smooth = true;
    } else {
        p.h = outH;
        p.w = static_cast<int>(std::lround(outH * static_cast<double>(gameW) / gameH));
        p.smooth = true;
    }
    p.w = std::max(1, std::min(p.w, outW));
    p.h = std::max(1, std::min(p.h, outH));
    p.x = (outW - p.w) / 2;
    p.y = (outH - p.h) / 2;
    return p;
}

void OutputToGame(const Presentation& p, int gameW, int gameH, int ox, int oy, int& gx, int& gy) {
    if (p.w <= 0 || p.h <= 0) {
        gx = ox, gy = oy;
        return;
    }
    // Through the output pixel's centre, so that a shrunk picture reaches its last column too.
    gx = FloorDiv((2LL * (ox - p.x) + 1) * gameW, 2LL * p.w);
    gy = FloorDiv((2LL * (oy - p.y) + 1) * gameH, 2LL * p.h);
}

Size FirstWindowSize(int usableW, int usableH, int gameW, int gameH) {
    if (gameW <= 0 || gameH <= 0) return {};
    if (usableW <= 0 || usableH <= 0) return {gameW, gameH};
    const int step = std::min(static_cast<int>(usableW * kDesktopShare) / gameW,
                              static_cast<int>(usableH * kDesktopShare) / gameH);
    if (step >= 1) return {gameW * step, gameH * step};
    if (gameW <= usableW && gameH <= usableH) return {gameW, gameH};
    const Presentation p = FitGameArea(usableW, usableH, gameW, gameH);
    return {p.w, p.h};
}

void PictureScaler::Prepare(int srcW, int srcH, const Presentation& p) {
    if (srcW == srcW_ && srcH == srcH_ && p.w == outW_ && p.h == outH_ && p.smooth == smooth_)
        return;
    srcW_ = srcW, srcH_ = srcH, outW_ = p.w, outH_ = p.h, smooth_ = p.smooth;
    auto lay = [&](Axis& axis, int src, int out) {
        axis.first.assign(static_cast<size_t>(out), 0);
        axis.share.assign(static_cast<size_t>(out), 0);
        for (int i = 0; i < out; ++i) {
            // Output pixel centre (i + 1/2) lies over source position (i + 1/2) * src / out.
            const long long num = (2LL * i + 1) * src;
            if (!smooth_) {
                // The pixel whose area holds that centre: the one the pointer maps back to.
                axis.first[i] =
                    static_cast<int32_t>(std::min<long long>(num / (2LL * out), src - 1));
                continue;
            }
            // Between the two source pixel centres around it, in 256ths.
            long long at = ((num - out) * 256 + out) / (2LL * out);
            if (at < 0) at = 0;
            int32_t first = static_cast<int32_t>(at >> 8);
            uint16_t share = static_cast<uint16_t>(at & 255);
            if (first >= src - 1) first = src - 1, share = 0;
            axis.first[i] = first;
            axis.share[i] = share;
        }
    };
    lay(xs_, srcW, p.w);
    lay(ys_, srcH, p.h);
    converted_.assign(static_cast<size_t>(srcW), 0);
    for (auto& r : rows_) r.assign(static_cast<size_t>(p.w), 0);
}

const uint32_t* PictureScaler::OutputRow(const uint8_t* src, int srcPitch, int srcW,
                                         PixelLayout layout, int sy, int slot) {
    uint32_t* out = rows_[slot].data();
    if (rowOf_[slot] == sy) return out;
    rowOf_[slot] = sy;
    ConvertRow(src + static_cast<size_t>(sy) * srcPitch, layout, srcW, converted_.data());
    const uint32_t* c = converted_.data();
    const int32_t* first = xs_.first.data();
    if (!smooth_) {
        for (int x = 0; x < outW_; ++x) out[x] = c[first[x]];
        return out;
    }
    MixPairs(c, first, xs_.share.data(), outW_, out);
    return out;
}

void PictureScaler::Draw(const uint8_t* src, int srcPitch, int srcW, int srcH, PixelLayout layout,
                         uint8_t* dst, int dstPitch, const Presentation& p) {
    if (!src || !dst || srcW <= 0 || srcH <= 0 || p.w <= 0 || p.h <= 0) return;
    Prepare(srcW, srcH, p);
    rowOf_[0] = rowOf_[1] = -1;  // a new picture
    auto outRow = [&](int y) {
        return reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(p.y + y) * dstPitch) + p.x;
    };
    const size_t rowBytes = static_cast<size_t>(p.w) * 4;
    for (int y = 0; y < p.h; ++y) {
        uint32_t* out = outRow(y);
        const int32_t sy = ys_.first[static_cast<size_t>(y)];
        if (!smooth_) {
            // Rows that show the same source row are copies of the first that does.
            if (y > 0 && sy == ys_.first[static_cast<size_t>(y) - 1]) {
                std::memcpy(out, outRow(y - 1), rowBytes);
            } else if (p.w == srcW) {
                ConvertRow(src + static_cast<size_t>(sy) * srcPitch, layout, srcW, out);
            } else {
                std::memcpy(out, OutputRow(src, srcPitch, srcW, layout, sy, 0), rowBytes);
            }
            continue;
        }
        const uint16_t share = ys_.share[static_cast<size_t>(y)];
        // The slot that already holds the upper row keeps it; the lower one takes the other.
        const int upper = rowOf_[1] == sy ? 1 : 0;
        const uint32_t* a = OutputRow(src, srcPitch, srcW, layout, sy, upper);
        if (share == 0) {
            std::memcpy(out, a, rowBytes);
            continue;
        }
        const uint32_t* b = OutputRow(src, srcPitch, srcW, layout, sy + 1, 1 - upper);
        MixRows(a, b, share, p.w, out);
    }
}

}  // namespace zx::platform
