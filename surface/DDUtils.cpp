#include "surface/DDUtils.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "surface/BlitKernels.h"
#include "surface/BmpCheck.h"
#include "surface/Resources.h"

namespace zx {

using platform::BltFx;
using platform::PixelFormat;
using platform::Rect;

namespace {

// Locks a surface for the life of the guard; a failure to lock raises (a lost surface silently,
// so that a surface lost in the middle of a frame costs that frame only).
class LockGuard {
public:
    // A source is locked read-only, so that what is kept with its pixels stays.
    explicit LockGuard(DirectDrawSurface* s, bool readOnly = false) : s_(s) {
        void* bits = nullptr;
        int32_t pitch = 0;
        DDCheck(s->Lock(&bits, &pitch,
                        platform::DDLOCK_WAIT | (readOnly ? platform::DDLOCK_READONLY : 0)));
        bits_ = static_cast<uint8_t*>(bits);
        pitch_ = pitch;
    }
    ~LockGuard() { s_->Unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;
    uint8_t* Row(int y) const { return bits_ + static_cast<ptrdiff_t>(y) * pitch_; }
    ptrdiff_t Pitch() const { return pitch_; }

private:
    DirectDrawSurface* s_;
    uint8_t* bits_ = nullptr;
    int32_t pitch_ = 0;
};

PixelFormat FormatOf(const DirectDrawSurface* s) {
    PixelFormat f;
    DDCheckNoLost(s->GetPixelFormat(f));
    return f;
}

uint32_t Masks(const PixelFormat& f) { return f.rMask | f.gMask | f.bMask; }

template <int B>
inline uint32_t Load(const uint8_t* p) {
    if constexpr (B == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    } else if constexpr (B == 3) {
        return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
    } else {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
}

template <int B>
inline void Store(uint8_t* p, uint32_t v) {
    if constexpr (B == 2) {
        uint16_t w = static_cast<uint16_t>(v);
        std::memcpy(p, &w, 2);
    } else if constexpr (B == 3) {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
    } else {
        std::memcpy(p, &v, 4);
    }
}

bool Within(const Rect& r, int w, int h) {
    return r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h && r.left <= r.right &&
           r.top <= r.bottom;
}

// Scratch rows of the blits, kept from call to call so that a frame allocates nothing.
struct Scratch {
    std::vector<int32_t> cols, x0, x1;
    std::vector<uint8_t> fx, row, tmp, colour, weights, sourceWeights, mixedWeights[2];
    std::vector<uint8_t> lerped[2], state[2];
};
Scratch& ScratchRows() {
    thread_local Scratch s;
    return s;
}

template <class T>
T* Sized(std::vector<T>& v, size_t n) {
    if (v.size() < n) v.resize(n);
    return v.data();
}

blit::Format KernelFormat(const PixelFormat& f) {
    return blit::MakeFormat(static_cast<int>(f.bitCount / 8), f.rMask, f.gMask, f.bMask);
}

// Nearest-pixel stretch with the source key, the same pixel choice as the display's own blit
// (source index = i * sourceSize / destSize). The columns are worked out once per blit; a
// source row is gathered once however many destination rows repeat it.
void StretchRows(const LockGuard& d, const LockGuard& s, const Rect& dr, const Rect& sr, bool keyed,
                 const blit::Format& f, uint32_t key) {
    const int B = f.bytes;
    const int dw = dr.Width(), dh = dr.Height(), sw = sr.Width(), sh = sr.Height();
    if (keyed && dw == sw && dh == sh) {
        blit::KeyedCopyRect(f, s.Row(sr.top) + static_cast<ptrdiff_t>(sr.left) * B, s.Pitch(),
                            d.Row(dr.top) + static_cast<ptrdiff_t>(dr.left) * B, d.Pitch(), dw, dh,
                            key);
        return;
    }
    const int qy = sh / dh, ry = sh % dh;
    const size_t rowBytes = static_cast<size_t>(dw) * B;
    Scratch& k = ScratchRows();
    int32_t* cols = nullptr;
    uint8_t* row = nullptr;
    if (dw != sw) {
        cols = Sized(k.cols, static_cast<size_t>(dw));
        row = Sized(k.row, rowBytes);
        if (dw < 65536) {
            // 32.32 stepping with the fraction rounded up picks the same columns as
            // x * sw / dw (the error over a row stays below 1 / dw), without a branch.
            const uint64_t step =
                ((static_cast<uint64_t>(sw) << 32) + static_cast<uint64_t>(dw) - 1) /
                static_cast<uint64_t>(dw);
            uint64_t acc = 0;
            for (int x = 0; x < dw; ++x, acc += step) cols[x] = static_cast<int32_t>(acc >> 32);
        } else {
            const int qx = sw / dw, rx = sw % dw;
            int sx = 0, ex = 0;
            for (int x = 0; x < dw; ++x) {
                cols[x] = sx;
                sx += qx, ex += rx;
                if (ex >= dw) ex -= dw, ++sx;
            }
        }
    }
    // Rows that repeat a source row copy one gathered row; otherwise a keyed row is gathered
    // straight into its place.
    const bool repeats = dh > sh;
    int sy = sr.top, ey = 0, gathered = -1;
    for (int y = 0; y < dh; ++y) {
        const uint8_t* srow = s.Row(sy) + static_cast<ptrdiff_t>(sr.left) * B;
        uint8_t* drow = d.Row(dr.top + y) + static_cast<ptrdiff_t>(dr.left) * B;
        if (cols && keyed && !repeats) {
            blit::KeyedGatherRow(f, srow, cols, dw, drow, key);
        } else {
            if (cols) {
                if (gathered != sy) blit::GatherRow(B, srow, cols, dw, row), gathered = sy;
                srow = row;
            }
            if (keyed)
                blit::KeyedCopyRow(f, srow, drow, dw, key);
            else
                std::memcpy(drow, srow, rowBytes);
        }
        sy += qy, ey += ry;
        if (ey >= dh) ey -= dh, ++sy;
    }
}

// The exact weighting of a filtered pixel next to the key colour: keyed pixels take no part, and
// where they hold more than half of the weight the pixel stays transparent.
template <int B>
void FilteredEdgePixel(uint8_t* at, const uint32_t (&px)[4], uint32_t fx, uint32_t fy,
                       const blit::Format& f, uint32_t key) {
    uint32_t w[4] = {(256 - fx) * (256 - fy), fx * (256 - fy), (256 - fx) * fy, fx * fy};
    uint32_t cover = 0;
    for (int i = 0; i < 4; ++i) {
        if ((px[i] & f.masks) == key) w[i] = 0;
        cover += w[i];
    }
    if (cover * 2 <= 65536) return;
    uint32_t out = Load<B>(at) & ~f.masks;
    for (const uint32_t m : {f.rm, f.gm, f.bm}) {
        uint64_t sum = 0;
        for (int i = 0; i < 4; ++i) sum += static_cast<uint64_t>(px[i] & m) * w[i];
        out |= static_cast<uint32_t>(sum / cover) & m;
    }
    Store<B>(at, out);
}

// A magnification above two, filtered: each destination pixel takes the four source pixels
// around the point it shows, weighted by distance (8-bit weights, 16.16 stepping through pixel
// centres), first along the row, then between the rows. Keyed pixels take no part; where they
// hold more than half of the weight the pixel stays transparent, so a letter's outline is
// smoothed with its inside.
//
// A source row mixed along x serves every destination row between it and the next, so each is
// mixed once into a cached row; the destination rows are then one vector mix of two cached rows.
// Pixels next to the key colour (marked while mixing along x) take the exact weighting instead.
template <int B>
class FilteredMagnifier {
public:
    FilteredMagnifier(const LockGuard& s, const Rect& sr, int dw, int dh, bool keyed,
                      const blit::Format& f, uint32_t key)
        : s_(s), sr_(sr), dw_(dw), sw_(sr.Width()), sh_(sr.Height()), keyed_(keyed), f_(f),
          key_(key), rowBytes_(static_cast<size_t>(dw) * B) {
        const int64_t stepX = (static_cast<int64_t>(sw_) << 16) / dw;
        stepY_ = (static_cast<int64_t>(sh_) << 16) / dh;
        Scratch& k = ScratchRows();
        x0 = Sized(k.x0, static_cast<size_t>(dw));
        x1 = Sized(k.x1, static_cast<size_t>(dw));
        fx = Sized(k.fx, static_cast<size_t>(dw));
        int64_t u = stepX / 2 - 32768;
        for (int x = 0; x < dw; ++x, u += stepX) {
            const int64_t uc = std::max<int64_t>(u, 0);
            x0[x] = std::min(static_cast<int>(uc >> 16), sw_ - 1);
            x1[x] = std::min(x0[x] + 1, sw_ - 1);
            fx[x] = static_cast<uint8_t>(uc >> 8);
        }
        for (int i = 0; i < 2; ++i) {
            lerped_[i] = Sized(k.lerped[i], rowBytes_);
            state_[i] = Sized(k.state[i], static_cast<size_t>(dw));
        }
        tmp_ = Sized(k.tmp, rowBytes_);
    }

    // Destination row y (from 0, in order) over out: pixels the key leaves transparent keep
    // what out held.
    void Row(int y, uint8_t* out) {
        const int64_t v = stepY_ / 2 - 32768 + stepY_ * y;
        const int64_t vc = std::max<int64_t>(v, 0);
        y0 = std::min(static_cast<int>(vc >> 16), sh_ - 1);
        y1 = std::min(y0 + 1, sh_ - 1);
        fy = static_cast<uint32_t>(vc >> 8) & 255;
        const int holdsY1 = cachedRow_[0] == y1 ? 0 : (cachedRow_[1] == y1 ? 1 : -1);
        const int top = Fetch(y0, holdsY1);
        const int bottom = Fetch(y1, top);
        if (opaque_[top] && opaque_[bottom]) {
            blit::LerpRow(f_, lerped_[top], lerped_[bottom], fy, out, dw_);
            return;
        }
        std::memcpy(tmp_, out, rowBytes_);
        blit::LerpRow(f_, lerped_[top], lerped_[bottom], fy, tmp_, dw_);
        const uint8_t *st = state_[top], *sb = state_[bottom];
        const uint8_t* r0 = SourceRow(y0);
        const uint8_t* r1 = SourceRow(y1);
        for (int x = 0; x < dw_; ++x) {
            if ((st[x] | sb[x]) == 0) {
                std::memcpy(out + x * B, tmp_ + x * B, B);
            } else if (st[x] != 1 || sb[x] != 1) {
                const uint32_t px[4] = {Load<B>(r0 + x0[x] * B), Load<B>(r0 + x1[x] * B),
                                        Load<B>(r1 + x0[x] * B), Load<B>(r1 + x1[x] * B)};
                FilteredEdgePixel<B>(out + x * B, px, fx[x], fy, f_, key_);
            }
        }
    }

    // Per destination column: the two source columns and the weight of the second; per row
    // (after Row): the two source rows and the weight of the second.
    int32_t *x0, *x1;
    uint8_t* fx;
    int y0 = 0, y1 = 0;
    uint32_t fy = 0;

private:
    const uint8_t* SourceRow(int y) const {
        return s_.Row(sr_.top + y) + static_cast<ptrdiff_t>(sr_.left) * B;
    }
    // Two cached rows: source row index, pixels mixed along x, and per pixel 0 (both opaque),
    // 1 (both keyed) or 2 (one of each); opaque_ when the whole row is 0.
    int Fetch(int y, int avoid) {
        for (int slot = 0; slot < 2; ++slot)
            if (cachedRow_[slot] == y) return slot;
        const int slot = avoid == 0 ? 1 : 0;
        opaque_[slot] = blit::LerpColumnsRow(f_, SourceRow(y), x0, x1, fx, dw_, lerped_[slot],
                                             keyed_ ? state_[slot] : nullptr, key_);
        cachedRow_[slot] = y;
        return slot;
    }

    const LockGuard& s_;
    Rect sr_;
    int dw_, sw_, sh_;
    bool keyed_;
    blit::Format f_;
    uint32_t key_;
    size_t rowBytes_;
    int64_t stepY_;
    int cachedRow_[2] = {-1, -1};
    bool opaque_[2] = {true, true};
    uint8_t* lerped_[2];
    uint8_t* state_[2];
    uint8_t* tmp_;
};

template <int B>
void MagnifyRowsFiltered(const LockGuard& d, const LockGuard& s, const Rect& dr, const Rect& sr,
                         bool keyed, const blit::Format& f, uint32_t key) {
    FilteredMagnifier<B> m(s, sr, dr.Width(), dr.Height(), keyed, f, key);
    for (int y = 0; y < dr.Height(); ++y)
        m.Row(y, d.Row(dr.top + y) + static_cast<ptrdiff_t>(dr.left) * B);
}

// What an unscaled keyed copy keeps with its source: at the first copy since the pixels last
// changed only that it was made, at the second the runs of opaque pixels (a surface drawn into
// every frame and copied once is never worked through twice).
struct SheetRuns {
    uint32_t key;
    int bytes;
    std::optional<blit::KeyedRuns> runs;
};

void KeyedCopy(DirectDrawSurface* src, const LockGuard& s, const LockGuard& d, const Rect& dr,
               const Rect& sr, const blit::Format& f, uint32_t key) {
    const int B = f.bytes;
    uint8_t* to = d.Row(dr.top) + static_cast<ptrdiff_t>(dr.left) * B;
    auto* held = static_cast<SheetRuns*>(src->Derived().get());
    if (!held || held->key != key || held->bytes != B) {
        src->KeepDerived(std::make_shared<SheetRuns>(SheetRuns{key, B, std::nullopt}));
        blit::KeyedCopyRect(f, s.Row(sr.top) + static_cast<ptrdiff_t>(sr.left) * B, s.Pitch(), to,
                            d.Pitch(), dr.Width(), dr.Height(), key);
        return;
    }
    if (!held->runs) held->runs.emplace(f, s.Row(0), s.Pitch(), src->Width(), src->Height(), key);
    held->runs->Copy(f, s.Row(0), s.Pitch(), sr.left, sr.top, sr.Width(), sr.Height(), to,
                     d.Pitch());
}

// The final copy of a sprite. Into a plain surface (the back buffer, a sheet) it runs here over
// the locked pixels; a primary or a copy within one surface goes through the display's blit.
bool CopiesViaDisplay(DirectDrawSurface* dest, const PixelFormat& destFormat, const Rect& dr,
                      DirectDrawSurface* src, const Rect& sr) {
    return src == dest || (dest->Caps() & platform::DDSCAPS_PRIMARYSURFACE) ||
           !Within(dr, dest->Width(), dest->Height()) || !Within(sr, src->Width(), src->Height()) ||
           !(FormatOf(src) == destFormat);
}

void SpriteCopy(DirectDrawSurface* dest, const Rect& dr, DirectDrawSurface* src, const Rect& sr,
                bool keyed) {
    const PixelFormat destFormat = FormatOf(dest);
    if (CopiesViaDisplay(dest, destFormat, dr, src, sr)) {
        uint32_t flags = platform::DDBLT_WAIT | (keyed ? platform::DDBLT_KEYSRC : 0);
        DDCheck(dest->Blt(&dr, src, &sr, flags, nullptr));
        return;
    }
    if (dr.Width() == 0 || dr.Height() == 0 || sr.Width() == 0 || sr.Height() == 0) return;
    LockGuard d(dest);
    LockGuard s(src, true);
    const blit::Format f = KernelFormat(destFormat);
    const bool useKey = keyed && src->HasColorKey();
    const uint32_t key = src->ColorKey() & f.masks;
    if (useKey && dr.Width() == sr.Width() && dr.Height() == sr.Height())
        return KeyedCopy(src, s, d, dr, sr, f, key);
    // Magnified more than twice (the letters flying in), pixels would show as blocks: filter.
    if (dr.Width() > 2 * sr.Width() && dr.Height() > 2 * sr.Height()) {
        switch (dest->BytesPerPixel()) {
            case 2: MagnifyRowsFiltered<2>(d, s, dr, sr, useKey, f, key); break;
            case 3: MagnifyRowsFiltered<3>(d, s, dr, sr, useKey, f, key); break;
            default: MagnifyRowsFiltered<4>(d, s, dr, sr, useKey, f, key); break;
        }
        return;
    }
    StretchRows(d, s, dr, sr, useKey, f, key);
}

// A blend magnified more than twice draws the filtered magnification, as an unblended sprite
// would, and weighs it by the alpha, or by the map mixed between the same source pixels (a keyed
// pixel weighing nothing), so that an outline fades smoothly instead of in blocks.
template <int B>
void MagnifiedBlendRows(const LockGuard& back, const LockGuard& src, const LockGuard* blend,
                        const Rect& br, const Rect& sr, bool keyed, const blit::Format& f,
                        uint32_t key, uint32_t alpha, const uint8_t* map, int mapStride) {
    const int w = br.Width(), h = br.Height();
    FilteredMagnifier<B> m(src, sr, w, h, keyed, f, key);
    Scratch& k = ScratchRows();
    uint8_t* colour = Sized(k.colour, static_cast<size_t>(w) * B);
    uint8_t* weights = Sized(k.weights, static_cast<size_t>(w));
    // The map's weights mixed along x, for the two source rows in use, as the colours are.
    uint8_t* own = Sized(k.sourceWeights, static_cast<size_t>(sr.Width()));
    uint8_t* mixed[2] = {Sized(k.mixedWeights[0], static_cast<size_t>(w)),
                         Sized(k.mixedWeights[1], static_cast<size_t>(w))};
    int mixedRow[2] = {-1, -1};
    auto fetch = [&](int y, int avoid) {
        for (int slot = 0; slot < 2; ++slot)
            if (mixedRow[slot] == y) return slot;
        const int slot = avoid == 0 ? 1 : 0;
        const uint8_t* p = src.Row(sr.top + y) + static_cast<ptrdiff_t>(sr.left) * B;
        const uint8_t* mrow = map + static_cast<ptrdiff_t>(sr.top + y) * mapStride + sr.left;
        for (int x = 0; x < sr.Width(); ++x)
            own[x] = keyed && (Load<B>(p + x * B) & f.masks) == key ? 0 : mrow[x];
        for (int x = 0; x < w; ++x) {
            const uint32_t t = m.fx[x];
            mixed[slot][x] =
                static_cast<uint8_t>((own[m.x0[x]] * (256 - t) + own[m.x1[x]] * t) >> 8);
        }
        mixedRow[slot] = y;
        return slot;
    };
    for (int r = 0; r < h; ++r) {
        uint8_t* drow = back.Row(br.top + r) + static_cast<ptrdiff_t>(br.left) * B;
        uint8_t* orow = blend ? blend->Row(r) : drow;
        // What the key leaves transparent stays the key colour, which the blend leaves out.
        if (keyed)
            for (int x = 0; x < w; ++x) Store<B>(colour + x * B, key);
        m.Row(r, colour);
        if (!map) {
            blit::BlendConstRow(f, drow, colour, nullptr, orow, w, alpha, keyed, key);
            continue;
        }
        const int holdsY1 = mixedRow[0] == m.y1 ? 0 : (mixedRow[1] == m.y1 ? 1 : -1);
        const uint8_t* top = mixed[fetch(m.y0, holdsY1)];
        const uint8_t* bottom = mixed[fetch(m.y1, top == mixed[0] ? 0 : 1)];
        blit::LerpBytesRow(top, bottom, m.fy, weights, w);
        blit::BlendMapRow(f, drow, colour, weights, nullptr, orow, w, keyed, key);
    }
}

// One blend over the locked surfaces, written to the blend surface's rows from (0, 0) or, with
// no blend surface, back into back's own rectangle. Without a map: constant alpha with weights
// summing to 256; with one: per-pixel weights summing to 255. The source is stepped 16.16.
void BlendRows(const LockGuard& back, const LockGuard& src, const LockGuard* blend, const Rect& br,
               const Rect& sr, bool keyed, const blit::Format& f, uint32_t key, uint32_t alpha,
               const uint8_t* map, int mapStride) {
    const int B = f.bytes;
    const int w = br.Width(), h = br.Height();
    if (w > 2 * sr.Width() && h > 2 * sr.Height()) {
        switch (B) {
            case 2:
                MagnifiedBlendRows<2>(back, src, blend, br, sr, keyed, f, key, alpha, map,
                                      mapStride);
                break;
            case 3:
                MagnifiedBlendRows<3>(back, src, blend, br, sr, keyed, f, key, alpha, map,
                                      mapStride);
                break;
            default:
                MagnifiedBlendRows<4>(back, src, blend, br, sr, keyed, f, key, alpha, map,
                                      mapStride);
                break;
        }
        return;
    }
    const uint32_t stepX = (static_cast<uint32_t>(sr.Width()) << 16) / static_cast<uint32_t>(w);
    const uint32_t stepY = (static_cast<uint32_t>(sr.Height()) << 16) / static_cast<uint32_t>(h);
    int32_t* cols = nullptr;
    if (stepX != 65536) {
        cols = Sized(ScratchRows().cols, static_cast<size_t>(w));
        uint32_t accX = 0;
        for (int col = 0; col < w; ++col, accX += stepX)
            cols[col] = static_cast<int32_t>(accX >> 16);
    }
    int sy = sr.top;
    uint32_t accY = 0;
    for (int r = 0; r < h; ++r) {
        uint8_t* drow = back.Row(br.top + r) + static_cast<ptrdiff_t>(br.left) * B;
        const uint8_t* srow = src.Row(sy) + static_cast<ptrdiff_t>(sr.left) * B;
        uint8_t* orow = blend ? blend->Row(r) : drow;
        if (map)
            blit::BlendMapRow(f, drow, srow, map + static_cast<ptrdiff_t>(sy) * mapStride + sr.left,
                              cols, orow, w, keyed, key);
        else
            blit::BlendConstRow(f, drow, srow, cols, orow, w, alpha, keyed, key);
        accY += stepY;
        sy += static_cast<int>(accY >> 16);
        accY &= 0xFFFF;
    }
}

// inPlace writes the blend straight into back (the blend surface is still checked and locked, so
// that it fails as the two-step blend would).
void Blend(DirectDrawSurface* back, DirectDrawSurface* source, DirectDrawSurface* blend,
           const Rect& br, const Rect& sr, bool keyed, uint32_t alpha, const uint8_t* map,
           bool inPlace = false) {
    const PixelFormat f = FormatOf(back);
    if (!(f.flags & platform::DDPF_RGB)) throw Exception("Not on RGB format");
    if (f.bitCount != 16 && f.bitCount != 24 && f.bitCount != 32)
        throw Exception("Invalid bit count");
    if (Masks(f) & 0xFF000000u) throw Exception("Pixel format not supported");
    if (!source || !(FormatOf(source) == f))
        throw Exception("Back and front surface pixel formats don't match");
    if (!blend || !(FormatOf(blend) == f))
        throw Exception("Back and destination surface pixel formats don't match");
    if (!Within(br, back->Width(), back->Height()))
        throw Exception("Back rectangle outside surface boundaries");
    if (!Within(sr, source->Width(), source->Height()))
        throw Exception("Front rectangle outside surface boundaries");
    if (blend->Width() < br.Width() || blend->Height() < br.Height())
        throw Exception("Dest rectangle outside surface boundaries");
    if (br.Width() == 0 || br.Height() == 0) return;
    LockGuard lb(back);
    LockGuard ls(source, true);
    LockGuard lo(blend);
    const blit::Format kf = KernelFormat(f);
    const uint32_t key = source->ColorKey() & kf.masks;
    const int stride = (source->Width() + 3) & ~3;
    BlendRows(lb, ls, inPlace ? nullptr : &lo, br, sr, keyed, kf, key, alpha, map,
              map ? stride : 0);
}

// The file-name part of a path with either separator, without its extension.
std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name;
}

std::string StripExtension(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot);
}

std::optional<RgbPicture> DecodeBmp(const uint8_t* data, size_t size) {
    TBmpHeader header;
    if (!CheckBmpHeader(data, size, header).empty()) return std::nullopt;
    SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size));
    if (!rw) return std::nullopt;
    SDL_Surface* s = SDL_LoadBMP_RW(rw, 1);
    if (!s) return std::nullopt;
    SDL_Surface* c = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB24, 0);
    SDL_FreeSurface(s);
    if (!c) return std::nullopt;
    RgbPicture pic;
    pic.width = c->w, pic.height = c->h;
    pic.rgb.resize(static_cast<size_t>(c->w) * c->h * 3);
    for (int y = 0; y < c->h; ++y)
        std::memcpy(pic.rgb.data() + static_cast<size_t>(y) * c->w * 3,
                    static_cast<uint8_t*>(c->pixels) + static_cast<ptrdiff_t>(y) * c->pitch,
                    static_cast<size_t>(c->w) * 3);
    SDL_FreeSurface(c);
    return pic;
}

void DrawPicture(const RgbPicture& pic, DirectDrawSurface* surface) {
    TDDCanvas canvas(surface);
    SDL_Surface* dc = canvas.DC();
    const PixelFormat f = FormatOf(surface);
    const int bpp = surface->BytesPerPixel();
    const int w = std::min(pic.width, dc->w), h = std::min(pic.height, dc->h);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = pic.rgb.data() + static_cast<size_t>(y) * pic.width * 3;
        uint8_t* d = static_cast<uint8_t*>(dc->pixels) + static_cast<ptrdiff_t>(y) * dc->pitch;
        for (int x = 0; x < w; ++x, s += 3)
            platform::WritePixel(
                d + x * bpp, bpp,
                platform::PackColour(f, (uint32_t{s[0]} << 16) | (uint32_t{s[1]} << 8) | s[2]));
    }
}

uint8_t Expand(uint32_t p, uint32_t mask) {
    if (!mask) return 0;
    int shift = std::countr_zero(mask);
    uint32_t max = mask >> shift;
    return static_cast<uint8_t>(((p & mask) >> shift) * 255 / max);
}

}  // namespace

SurfacePtr CreateOffscreenSurface(int width, int height, uint32_t extraCaps) {
    if (!DD.DirectDraw) throw Exception("Direct Draw object not created");
    platform::SurfaceDesc desc;
    desc.caps = platform::DDSCAPS_OFFSCREENPLAIN | extraCaps;
    desc.width = static_cast<uint32_t>(std::max(width, 0));
    desc.height = static_cast<uint32_t>(std::max(height, 0));
    SurfacePtr s;
    DDCheckNoLost(DD.DirectDraw->CreateSurface(desc, s));
    return s;
}

DirectDrawSurface* FrontSurface() { return DD.FlipList.empty() ? nullptr : DD.FlipList[0].get(); }
DirectDrawSurface* BackBuffer() { return DD.FlipList.size() < 2 ? nullptr : DD.FlipList[1].get(); }

bool IsBackSurface(const DirectDrawSurface* surface) {
    if (!surface) return false;
    for (size_t i = 1; i < DD.FlipList.size(); ++i)
        if (DD.FlipList[i].get() == surface) return true;
    return false;
}

uint32_t RGBToSurfaceColour(DirectDrawSurface* surface, uint32_t colour) {
    if (!surface) throw Exception("Cannot convert a colour for NIL surface");
    const PixelFormat f = FormatOf(surface);
    if (!(f.flags & platform::DDPF_RGB)) throw Exception("Not on RGB format");
    return platform::PackColour(f, colour);
}

void BlitRect(DirectDrawSurface* dest, const Rect* destRect, DirectDrawSurface* source,
              const Rect* sourceRect, uint32_t flags, const BltFx* fx) {
    if (!dest) throw Exception("Blit into NIL surface");
    Rect moved;
    const Rect* dr = destRect;
    if (IsBackSurface(dest)) {
        moved = destRect ? *destRect : Rect{0, 0, DD.ScreenW, DD.ScreenH};
        moved.left += DD.DisplayOffsetX, moved.right += DD.DisplayOffsetX;
        moved.top += DD.DisplayOffsetY, moved.bottom += DD.DisplayOffsetY;
        dr = &moved;
    }
    DDCheck(dest->Blt(dr, source, sourceRect, flags, fx));
}

void ColorFill(DirectDrawSurface* surface, int32_t x, int32_t y, int32_t width, int32_t height,
               uint32_t colour) {
    try {
        BltFx fx;
        fx.fillColor = RGBToSurfaceColour(surface, colour);
        Rect r{x, y, x + width, y + height};
        BlitRect(surface, &r, nullptr, nullptr, platform::DDBLT_COLORFILL | platform::DDBLT_WAIT,
                 &fx);
    } catch (const Exception& e) {
        WriteLog("Error in Colorfill: " + e.Message() + " (" + std::to_string(x) + "," +
                 std::to_string(y) + "," + std::to_string(width) + "," + std::to_string(height) +
                 "," + std::to_string(colour) + ")");
        throw;
    }
}

void BlitClipped(DirectDrawSurface* source, int32_t sourceX, int32_t sourceY, int32_t width,
                 int32_t height, DirectDrawSurface* dest, int32_t destX, int32_t destY, int keyFlag,
                 int32_t clipLeft, int32_t clipTop, int32_t clipRight, int32_t clipBottom) {
    const int32_t top = std::max(clipTop - destY, 0);
    const int32_t bottom = std::max(destY + height - 1 - clipBottom, 0);
    const int32_t left = std::max(clipLeft - destX, 0);
    const int32_t right = std::max(destX + width - 1 - clipRight, 0);
    if (top >= height || destY > clipBottom || left >= width || destX > clipRight) return;
    const int32_t w = width - left - right, h = height - top - bottom;
    if (w <= 0 || h <= 0) return;  // clip bounds narrower than nothing
    Rect sr{sourceX + left, sourceY + top, sourceX + left + w, sourceY + top + h};
    Rect dr{destX + left, destY + top, destX + left + w, destY + top + h};
    uint32_t flags = platform::DDBLT_WAIT | (keyFlag == 1 ? platform::DDBLT_KEYSRC : 0);
    BlitRect(dest, &dr, source, &sr, flags, nullptr);
}

void BlitSprite(DirectDrawSurface* source, const uint8_t* alphaMap, int32_t sourceX,
                int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight, DirectDrawSurface* dest,
                int32_t destX, int32_t destY, int32_t destWidth, int32_t destHeight, int keyFlag,
                uint8_t alpha, int32_t clipLeft, int32_t clipTop, int32_t clipRight,
                int32_t clipBottom) {
    if (sourceWidth == 0 || sourceHeight == 0) return;
    const int32_t top = std::max(clipTop - destY, 0);
    const int32_t bottom = std::max(destY + destHeight - 1 - clipBottom, 0);
    const int32_t left = std::max(clipLeft - destX, 0);
    const int32_t right = std::max(destX + destWidth - 1 - clipRight, 0);
    if (top >= destHeight || destY > clipBottom || left >= destWidth || destX > clipRight) return;
    int32_t sl = 0, sr = 0, st = 0, sb = 0;
    if (left != 0 || right != 0) {
        const double scale = static_cast<double>(destWidth) / sourceWidth;
        sl = RoundEven(left / scale);
        sr = RoundEven(right / scale);
    }
    if (top != 0 || bottom != 0) {
        const double scale = static_cast<double>(destHeight) / sourceHeight;
        st = RoundEven(top / scale);
        sb = RoundEven(bottom / scale);
    }
    if (sl + sr >= sourceWidth || st + sb >= sourceHeight) return;
    const int32_t dw = destWidth - left - right, dh = destHeight - top - bottom;
    if (dw <= 0 || dh <= 0) return;
    if (!source || !dest) throw Exception("Blit with NIL surface");
    const Rect srect{sourceX + sl, sourceY + st, sourceX + sourceWidth - sr,
                     sourceY + sourceHeight - sb};
    const int32_t dx = DD.DisplayOffsetX + destX + left, dy = DD.DisplayOffsetY + destY + top;
    const Rect drect{dx, dy, dx + dw, dy + dh};
    const bool keyed = keyFlag == 1;
    if ((DD.TransparencyOn && alpha < 255) || alphaMap) {
        DirectDrawSurface* blend = DD.BlendSurface.get();
        const bool constant = DD.TransparencyOn && alpha < 255;
        // Into a plain surface the blend goes straight to its place; a primary takes the blended
        // pixels through the display's blit.
        if (!(dest->Caps() & platform::DDSCAPS_PRIMARYSURFACE)) {
            Blend(dest, source, blend, drect, srect, keyed, constant ? alpha : 0,
                  constant ? nullptr : alphaMap, true);
            return;
        }
        if (constant)
            BlendConstantAlpha(dest, source, blend, drect, srect, alpha, keyed);
        else
            BlendWithAlphaMap(dest, source, blend, drect, srect, keyed, alphaMap);
        SpriteCopy(dest, drect, blend, Rect{0, 0, dw, dh}, false);
        return;
    }
    SpriteCopy(dest, drect, source, srect, keyed);
}

void BlendConstantAlpha(DirectDrawSurface* back, DirectDrawSurface* source,
                        DirectDrawSurface* blend, const Rect& backRect, const Rect& sourceRect,
                        uint8_t alpha, bool keyed) {
    if (!back) throw Exception("Not on RGB format");
    Blend(back, source, blend, backRect, sourceRect, keyed, alpha, nullptr);
}

void BlendWithAlphaMap(DirectDrawSurface* back, DirectDrawSurface* source, DirectDrawSurface* blend,
                       const Rect& backRect, const Rect& sourceRect, bool keyed,
                       const uint8_t* alphaMap) {
    if (!back) throw Exception("Not on RGB format");
    if (!alphaMap) throw Exception("No alpha map");
    Blend(back, source, blend, backRect, sourceRect, keyed, 0, alphaMap);
}

void ReplaceColour(DirectDrawSurface* surface, uint32_t fromColour, uint32_t toColour) {
    const uint32_t from = RGBToSurfaceColour(surface, fromColour);
    const uint32_t to = RGBToSurfaceColour(surface, toColour);
    const PixelFormat f = FormatOf(surface);
    LockGuard lock(surface);
    if (f.bitCount != 16 && f.bitCount != 24 && f.bitCount != 32)
        throw Exception("Invalid bit count");
    const uint32_t c = Masks(f);
    const int bpp = surface->BytesPerPixel();
    for (int y = 0; y < surface->Height(); ++y) {
        uint8_t* row = lock.Row(y);
        for (int x = 0; x < surface->Width(); ++x) {
            uint8_t* p = row + x * bpp;
            const uint32_t v = platform::ReadPixel(p, bpp);
            if ((v & c) == from) platform::WritePixel(p, bpp, (v & ~c) | to);
        }
    }
}

TDDCanvas::TDDCanvas(DirectDrawSurface* surface) : surface_(surface) {
    if (!surface) throw Exception("Cannot create canvas for NIL surface");
}

TDDCanvas::~TDDCanvas() { Release(); }

SDL_Surface* TDDCanvas::DC() {
    if (!dc_) DDCheck(surface_->GetDC(&dc_));
    return dc_;
}

void TDDCanvas::Release() {
    if (dc_) surface_->ReleaseDC(dc_);
    dc_ = nullptr;
}

bool LoadPictureToSurface(const std::string& fileName, SurfacePtr& surface, int* width,
                          int* height) {
    if (fileName.empty()) return false;
    const std::string name = StripExtension(fileName);
    const std::string resName = UpperCase(BaseName(name));
    std::optional<RgbPicture> pic;
    if (auto res = FindResource("BITMAP", resName)) {
        pic = DecodeBmp(res->data, res->size);
    } else if (auto jres = FindResource("JPEG", resName)) {
        pic = DecodeJpeg(jres->data, jres->size);
    } else if (FileExists(name + ".bmp")) {
        TReadError why;
        auto bytes = ReadFileBytes(name + ".bmp", kPictureFileLimit, &why);
        if (!bytes) throw Exception("Cannot read picture " + why.Text());
        pic = DecodeBmp(bytes->data(), bytes->size());
        WriteLog(ResolvePath(name + ".bmp") + " loaded as file");
    } else if (FileExists(name + ".jpg")) {
        TReadError why;
        auto bytes = ReadFileBytes(name + ".jpg", kPictureFileLimit, &why);
        if (!bytes) throw Exception("Cannot read picture " + why.Text());
        pic = DecodeJpeg(bytes->data(), bytes->size());
        WriteLog(ResolvePath(name + ".jpg") + " loaded as file");
    } else {
        WriteLog(name + " not found!");
        return false;
    }
    // A picture that is there but cannot be decoded is a failure while drawing, not a miss.
    if (!pic) throw Exception("Cannot read picture " + name);
    if (width) *width = pic->width;
    if (height) *height = pic->height;
    if (!surface)
        surface = CreateOffscreenSurface(pic->width, pic->height, platform::DDSCAPS_SYSTEMMEMORY);
    DrawPicture(*pic, surface.get());
    return true;
}

void ReloadPictureToNewSurface(const std::string& fileName, SurfacePtr& surface) {
    surface.reset();
    LoadPictureToSurface(fileName, surface);
}

void SaveSurfaceAsJpeg(DirectDrawSurface* surface, const std::string& fileName) {
    TDDCanvas canvas(surface);
    SDL_Surface* dc = canvas.DC();
    const PixelFormat f = FormatOf(surface);
    const int bpp = surface->BytesPerPixel();
    RgbPicture pic;
    pic.width = dc->w, pic.height = dc->h;
    pic.rgb.resize(static_cast<size_t>(dc->w) * dc->h * 3);
    uint8_t* o = pic.rgb.data();
    for (int y = 0; y < dc->h; ++y) {
        const uint8_t* row =
            static_cast<const uint8_t*>(dc->pixels) + static_cast<ptrdiff_t>(y) * dc->pitch;
        for (int x = 0; x < dc->w; ++x) {
            const uint32_t p = platform::ReadPixel(row + x * bpp, bpp);
            *o++ = Expand(p, f.rMask);
            *o++ = Expand(p, f.gMask);
            *o++ = Expand(p, f.bMask);
        }
    }
    canvas.Release();
    std::vector<uint8_t> jpeg = EncodeJpeg(pic, 100);
    if (jpeg.empty()) throw Exception("Cannot encode " + fileName + " as JPEG");
    ReplaceFileContents(fileName, jpeg);
}

std::string SaveScreenshot() {
    EnterProgramDir();
    CreateDir("Screenshots");
    int n = 1;
    while (FileExists("Screenshots\\Shot_" + std::to_string(n) + ".jpg")) ++n;
    std::string path = ResolvePath("Screenshots\\Shot_" + std::to_string(n) + ".jpg");
    DirectDrawSurface* back = BackBuffer();
    if (!back) throw Exception("Cannot create canvas for NIL surface");
    SaveSurfaceAsJpeg(back, path);
    return path;
}

int32_t StereoPan(double x, double z) {
    // -0.2 x (wf / z) (20000 / w) as one quotient of two exact products (the positions are floats,
    // the widths whole numbers): a single rounding, so a position that falls exactly between two
    // pans takes the even one on every processor, where a chain of roundings let the last bits
    // of each platform's arithmetic decide.
    const double wf = static_cast<double>(DD.ScreenWf);
    const double w = DD.ScreenW;
    const double v = -4000.0 * x * wf / (z * w);
    // An object exactly at the viewer (z = 0) would divide by zero: centre it rather than fail.
    if (std::isnan(v)) return 0;
    if (v >= 10000.0) return 10000;
    if (v <= -10000.0) return -10000;
    return static_cast<int32_t>(std::nearbyint(v));
}

int32_t RoundEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

}  // namespace zx
