#include "platform/Presentation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
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

// The unused top byte of a 32-bit pixel is cleared here, so that a filtered pixel does not depend
// on the form that mixed it.
void ConvertRowScalar(const uint8_t* src, PixelLayout layout, int n, uint32_t* out) {
    switch (layout) {
        case PixelLayout::Rgb565:
            for (int i = 0; i < n; ++i, src += 2) out[i] = Expand565(src[0] | (src[1] << 8));
            break;
        case PixelLayout::Bgr24:
            for (int i = 0; i < n; ++i, src += 3)
                out[i] = static_cast<uint32_t>(src[0] | (src[1] << 8) | (src[2] << 16));
            break;
        case PixelLayout::Xrgb8888:
            for (int i = 0; i < n; ++i, src += 4) {
                uint32_t v;
                std::memcpy(&v, src, 4);
                out[i] = v & 0xFFFFFF;
            }
            break;
    }
}

// a and b mixed, b weighing share/256, rounded. Red and blue go through one multiplication, green
// through another: each channel times at most 256, plus the half, stays within its own 16 bits.
// This defines a filtered pixel; the vector forms below must give the same bits.
inline uint32_t Mix(uint32_t a, uint32_t b, uint32_t share) {
    const uint32_t keep = 256 - share;
    const uint32_t rb =
        (((a & 0xFF00FF) * keep + (b & 0xFF00FF) * share + 0x800080) >> 8) & 0xFF00FF;
    const uint32_t g = (((a & 0x00FF00) * keep + (b & 0x00FF00) * share + 0x8000) >> 8) & 0x00FF00;
    return rb | g;
}

using Isa = ScalingWays::Isa;

#if defined(__x86_64__) && defined(__GNUC__)
#define ZX_SCALE_AVX2 1
bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

Isa Usable(Isa wanted) {
#if defined(ZX_SCALE_AVX2)
    if (wanted == Isa::Avx2 && !HasAvx2()) wanted = Isa::Sse2;
#endif
#if !defined(__SSE2__)
    wanted = Isa::Scalar;
#elif !defined(ZX_SCALE_AVX2)
    if (wanted == Isa::Avx2) wanted = Isa::Sse2;
#endif
    return wanted;
}

// Rows written past the caches must be fenced before another thread or process reads them.
void FenceStreams() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

#if defined(__SSE2__)
// Four pixels of a and b mixed as Mix does, each channel in a 16-bit lane: the shares (and what
// is kept) of the lower two pixels, then of the upper two, spread over their channels. The top
// byte is 0 in both (ConvertRow) and stays 0.
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

#if defined(ZX_SCALE_AVX2)
__attribute__((target("avx2"))) inline __m256i Lanes16(__m256i x, __m256i y, __m256i keep,
                                                       __m256i share) {
    const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(x, keep), _mm256_mullo_epi16(y, share));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), 8);
}

// Mix4 on eight pixels: the lower weights cover pixels 0, 1, 4 and 5 (each half of the register
// unpacks on its own), the upper ones 2, 3, 6 and 7.
__attribute__((target("avx2"))) inline __m256i Mix8(__m256i a, __m256i b, __m256i keepLo,
                                                    __m256i shareLo, __m256i keepHi,
                                                    __m256i shareHi) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo =
        Lanes16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), keepLo, shareLo);
    const __m256i hi =
        Lanes16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), keepHi, shareHi);
    return _mm256_packus_epi16(lo, hi);
}

// Pixels up to where out is aligned to `bytes`, at most n.
inline int ToAlignment(const uint32_t* out, int n, unsigned bytes) {
    const auto mis = reinterpret_cast<uintptr_t>(out) & (bytes - 1);
    return mis == 0 ? 0 : std::min(n, static_cast<int>((bytes - mis) / 4));
}

__attribute__((target("avx2"))) int MixRowsAvx2(const uint32_t* a, const uint32_t* b,
                                                uint32_t share, int n, uint32_t* out, bool stream) {
    int i = 0;
    if (stream) {
        i = ToAlignment(out, n, 32);
        for (int k = 0; k < i; ++k) out[k] = Mix(a[k], b[k], share);
    }
    const __m256i w = _mm256_set1_epi16(static_cast<short>(share));
    const __m256i k = _mm256_set1_epi16(static_cast<short>(256 - share));
    for (; i + 8 <= n; i += 8) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        const __m256i m = Mix8(va, vb, k, w, k, w);
        if (stream)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(out + i), m);
        else
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), m);
    }
    return i;
}

// Where eight neighbouring output pixels draw on at most eight neighbouring source pixels (any
// magnification), those are loaded once and moved into place, instead of gathered one by one.
// A converted row has padding behind its last pixel, so the loads stay inside it.
__attribute__((target("avx2"))) int MixPairsAvx2(const uint32_t* c, const int32_t* first,
                                                 const uint16_t* share, int n, uint32_t* out) {
    const __m256i whole = _mm256_set1_epi16(256), zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi32(1), spread = _mm256_set1_epi32(0x00010001);
    const auto* base = reinterpret_cast<const int*>(c);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + i));
        const __m256i s32 =
            _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(share + i)));
        __m256i va, vb;
        const int32_t from = first[i];
        if (first[i + 7] - from <= 7) {
            // A share of 0 mixes in nothing of the next pixel, whatever it holds.
            const __m256i at = _mm256_sub_epi32(f, _mm256_set1_epi32(from));
            va = _mm256_permutevar8x32_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + from)), at);
            vb = _mm256_permutevar8x32_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + from + 1)), at);
        } else {
            // A share of 0 may stand at the last source pixel, which has no next: mixing it
            // with itself gives the same.
            const __m256i next =
                _mm256_add_epi32(f, _mm256_andnot_si256(_mm256_cmpeq_epi32(s32, zero), one));
            va = _mm256_i32gather_epi32(base, f, 4);
            vb = _mm256_i32gather_epi32(base, next, 4);
        }
        const __m256i s2 = _mm256_mullo_epi32(s32, spread);  // each share in both 16-bit halves
        const __m256i wlo = _mm256_unpacklo_epi32(s2, s2), whi = _mm256_unpackhi_epi32(s2, s2);
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(out + i),
            Mix8(va, vb, _mm256_sub_epi16(whole, wlo), wlo, _mm256_sub_epi16(whole, whi), whi));
    }
    return i;
}

__attribute__((target("avx2"))) int LayOutAvx2(const uint32_t* c, const int32_t* first, int n,
                                               uint32_t* out) {
    const auto* base = reinterpret_cast<const int*>(c);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + i));
        const int32_t from = first[i];
        const __m256i v = first[i + 7] - from <= 7
                              ? _mm256_permutevar8x32_epi32(
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + from)),
                                    _mm256_sub_epi32(f, _mm256_set1_epi32(from)))
                              : _mm256_i32gather_epi32(base, f, 4);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), v);
    }
    return i;
}

__attribute__((target("avx2"))) void StreamRowAvx2(uint32_t* out, const uint32_t* from, int n) {
    int i = ToAlignment(out, n, 32);
    std::memcpy(out, from, static_cast<size_t>(i) * 4);
    for (; i + 8 <= n; i += 8)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i)));
    std::memcpy(out + i, from + i, static_cast<size_t>(n - i) * 4);
}
#endif

// A source row converted to 0x00RRGGBB: eight 565 pixels or four 32-bit ones at a time where
// the processor has SSE2 (any form but the scalar one).
void ConvertRow(Isa isa, const uint8_t* src, PixelLayout layout, int n, uint32_t* out) {
    int i = 0;
#if defined(__SSE2__)
    if (isa != Isa::Scalar && layout == PixelLayout::Xrgb8888) {
        const __m128i m = _mm_set1_epi32(0xFFFFFF);
        for (; i + 4 <= n; i += 4)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                               src + static_cast<ptrdiff_t>(i) * 4)),
                                           m));
    } else if (isa != Isa::Scalar && layout == PixelLayout::Rgb565) {
        const __m128i m5 = _mm_set1_epi16(31), m6 = _mm_set1_epi16(63);
        for (; i + 8 <= n; i += 8) {
            const __m128i v = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(src + static_cast<ptrdiff_t>(i) * 2));
            const __m128i r = _mm_srli_epi16(v, 11), g = _mm_and_si128(_mm_srli_epi16(v, 5), m6),
                          b = _mm_and_si128(v, m5);
            const __m128i r8 = _mm_or_si128(_mm_slli_epi16(r, 3), _mm_srli_epi16(r, 2));
            const __m128i g8 = _mm_or_si128(_mm_slli_epi16(g, 2), _mm_srli_epi16(g, 4));
            const __m128i b8 = _mm_or_si128(_mm_slli_epi16(b, 3), _mm_srli_epi16(b, 2));
            const __m128i gb = _mm_or_si128(_mm_slli_epi16(g8, 8), b8);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi16(gb, r8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), _mm_unpackhi_epi16(gb, r8));
        }
    }
#endif
    (void)isa;
    const int B = layout == PixelLayout::Rgb565 ? 2 : layout == PixelLayout::Bgr24 ? 3 : 4;
    ConvertRowScalar(src + static_cast<ptrdiff_t>(i) * B, layout, n - i, out + i);
}

// The row between two laid-out rows: the bulk of the work of a filtered picture.
void MixRows([[maybe_unused]] Isa isa, const uint32_t* a, const uint32_t* b, uint32_t share, int n,
             uint32_t* out, [[maybe_unused]] bool stream) {
    int i = 0;
#if defined(ZX_SCALE_AVX2)
    if (isa == Isa::Avx2) i = MixRowsAvx2(a, b, share, n, out, stream);
#endif
#if defined(__SSE2__)
    if (isa == Isa::Sse2) {
        const __m128i w = _mm_set1_epi16(static_cast<short>(share));
        const __m128i k = _mm_set1_epi16(static_cast<short>(256 - share));
        for (; i + 4 <= n; i += 4) {
            const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), Mix4(va, vb, k, w, k, w));
        }
    }
#endif
    for (; i < n; ++i) out[i] = Mix(a[i], b[i], share);
}

// Each output pixel from the source pixel first[i] and the one after it, mixed by share[i].
void MixPairs([[maybe_unused]] Isa isa, const uint32_t* c, const int32_t* first,
              const uint16_t* share, int n, uint32_t* out) {
    int i = 0;
#if defined(ZX_SCALE_AVX2)
    if (isa == Isa::Avx2) i = MixPairsAvx2(c, first, share, n, out);
#endif
#if defined(__SSE2__)
    if (isa == Isa::Sse2) {
        const __m128i whole = _mm_set1_epi16(256);
        for (; i + 4 <= n; i += 4) {
            const int32_t f0 = first[i], f1 = first[i + 1], f2 = first[i + 2], f3 = first[i + 3];
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
    }
#endif
    for (; i < n; ++i)
        out[i] = share[i] ? Mix(c[first[i]], c[first[i] + 1], share[i]) : c[first[i]];
}

// Each output pixel repeats source pixel first[i].
void LayOut(Isa isa, const uint32_t* c, const int32_t* first, int n, uint32_t* out) {
    int i = 0;
#if defined(ZX_SCALE_AVX2)
    if (isa == Isa::Avx2) i = LayOutAvx2(c, first, n, out);
#endif
    (void)isa;
    for (; i < n; ++i) out[i] = c[first[i]];
}

void CopyRow(Isa isa, uint32_t* out, const uint32_t* from, int n, bool stream) {
#if defined(ZX_SCALE_AVX2)
    if (stream && isa == Isa::Avx2) return StreamRowAvx2(out, from, n);
#endif
    (void)isa, (void)stream;
    std::memcpy(out, from, static_cast<size_t>(n) * 4);
}

// Pixels behind a converted row that the vector forms may load (and never use).
constexpr int kRowPadding = 16;
// Below this many output pixels a frame is drawn by the calling thread alone: waking helpers
// would cost more than they give.
constexpr long long kSharedFrom = 512 * 1024;
// A frame shared between threads is cut into this many bands, taken in turn by whoever is free,
// so that a helper the system runs late leaves its bands to the others.
constexpr int kBands = 16;

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

struct PictureScaler::Job {
    const uint8_t* src;
    int srcPitch, srcW;
    PixelLayout layout;
    uint8_t* dst;
    int dstPitch;
    Presentation p;
    Isa isa;
    bool stream;
};

// The helper threads of a scaler. Run hands out bands; the caller works as lane 0 and returns
// once every band is drawn. A helper that is not running when the frame is handed out joins
// while bands are left, or not at all: the frame never waits for a thread that has none.
class PictureScaler::Crew {
public:
    explicit Crew(int helpers) {
        for (int i = 0; i < helpers; ++i) threads_.emplace_back([this, i] { Loop(i + 1); });
    }
    ~Crew() {
        {
            std::lock_guard<std::mutex> l(m_);
            quit_ = true;
        }
        wake_.notify_all();
        for (auto& t : threads_) t.join();
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;
    int Helpers() const { return static_cast<int>(threads_.size()); }

    void Run(int count, const std::function<void(int lane, int band)>& work) {
        {
            std::lock_guard<std::mutex> l(m_);
            work_ = &work;
            count_ = count;
            next_.store(0, std::memory_order_relaxed);
            open_ = true;
            ++round_;
        }
        wake_.notify_all();
        Take(0);
        std::unique_lock<std::mutex> l(m_);
        open_ = false;
        idle_.wait(l, [&] { return busy_ == 0; });
        work_ = nullptr;
    }

private:
    void Take(int lane) {
        for (int b; (b = next_.fetch_add(1, std::memory_order_relaxed)) < count_;)
            (*work_)(lane, b);
    }
    void Loop(int lane) {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> l(m_);
        for (;;) {
            wake_.wait(l, [&] { return quit_ || (open_ && round_ != seen); });
            if (quit_) return;
            seen = round_;
            ++busy_;
            l.unlock();
            Take(lane);
            l.lock();
            if (--busy_ == 0) idle_.notify_one();
        }
    }

    std::vector<std::thread> threads_;
    std::mutex m_;
    std::condition_variable wake_, idle_;
    const std::function<void(int, int)>* work_ = nullptr;
    int count_ = 0;
    std::atomic<int> next_{0};
    bool open_ = false, quit_ = false;
    uint64_t round_ = 0;
    int busy_ = 0;
};

PictureScaler::PictureScaler(ScalingWays ways) { SetWays(ways); }

PictureScaler::~PictureScaler() = default;

void PictureScaler::SetWays(ScalingWays ways) {
    ways.isa = Usable(ways.isa);
    if (ways.threads <= 0)
        ways.threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    // One thread leaves the helpers waiting; another number of them is a new crew.
    if (crew_ && ways.threads > 1 && ways.threads != crew_->Helpers() + 1) crew_.reset();
    if (lanes_.size() < static_cast<size_t>(ways.threads)) srcW_ = -1;  // lanes to lay out
    ways_ = ways;
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
    lanes_.resize(std::max(lanes_.size(), static_cast<size_t>(ways_.threads)));
    for (Lane& lane : lanes_) {
        lane.converted.assign(static_cast<size_t>(srcW) + kRowPadding, 0);
        for (auto& r : lane.rows) r.assign(static_cast<size_t>(p.w), 0);
    }
}

const uint32_t* PictureScaler::OutputRow(Lane& lane, const Job& job, int sy, int slot) const {
    uint32_t* out = lane.rows[slot].data();
    if (lane.rowOf[slot] == sy) return out;
    lane.rowOf[slot] = sy;
    ConvertRow(job.isa, job.src + static_cast<size_t>(sy) * job.srcPitch, job.layout, job.srcW,
               lane.converted.data());
    const uint32_t* c = lane.converted.data();
    if (!smooth_)
        LayOut(job.isa, c, xs_.first.data(), outW_, out);
    else
        MixPairs(job.isa, c, xs_.first.data(), xs_.share.data(), outW_, out);
    return out;
}

void PictureScaler::DrawRows(Lane& lane, const Job& job, int y0, int y1) const {
    const Presentation& p = job.p;
    for (int y = y0; y < y1; ++y) {
        uint32_t* out =
            reinterpret_cast<uint32_t*>(job.dst + static_cast<size_t>(p.y + y) * job.dstPitch) +
            p.x;
        const int32_t sy = ys_.first[static_cast<size_t>(y)];
        if (!smooth_) {
            if (p.w == job.srcW)
                ConvertRow(job.isa, job.src + static_cast<size_t>(sy) * job.srcPitch, job.layout,
                           job.srcW, out);
            else  // rows that show the same source row copy the one laid out already
                CopyRow(job.isa, out, OutputRow(lane, job, sy, 0), p.w, job.stream);
            continue;
        }
        const uint16_t share = ys_.share[static_cast<size_t>(y)];
        // The slot that already holds the upper row keeps it; the lower one takes the other.
        const int upper = lane.rowOf[1] == sy ? 1 : 0;
        const uint32_t* a = OutputRow(lane, job, sy, upper);
        if (share == 0) {
            CopyRow(job.isa, out, a, p.w, job.stream);
            continue;
        }
        const uint32_t* b = OutputRow(lane, job, sy + 1, 1 - upper);
        MixRows(job.isa, a, b, share, p.w, out, job.stream);
    }
    if (job.stream) FenceStreams();
}

void PictureScaler::Draw(const uint8_t* src, int srcPitch, int srcW, int srcH, PixelLayout layout,
                         uint8_t* dst, int dstPitch, const Presentation& p) {
    if (!src || !dst || srcW <= 0 || srcH <= 0 || p.w <= 0 || p.h <= 0) return;
    Prepare(srcW, srcH, p);
    for (Lane& lane : lanes_) lane.rowOf[0] = lane.rowOf[1] = -1;  // a new picture
    const bool large = static_cast<long long>(p.w) * p.h >= kSharedFrom;
    const Job job{src, srcPitch, srcW, layout, dst, dstPitch, p, ways_.isa, ways_.stream && large};
    if (!large || ways_.threads < 2 || p.h < 2 * kBands) {
        DrawRows(lanes_[0], job, 0, p.h);
        return;
    }
    if (!crew_) crew_ = std::make_unique<Crew>(ways_.threads - 1);
    const std::function<void(int, int)> band = [&](int lane, int b) {
        DrawRows(lanes_[static_cast<size_t>(lane)], job, p.h * b / kBands, p.h * (b + 1) / kBands);
    };
    crew_->Run(kBands, band);
}

}  // namespace zx::platform
