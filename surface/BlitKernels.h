#pragma once
// Row kernels of the sprite blits. Each has a vector form (used by DDUtils) and the plain scalar
// form that defines its result pixel for pixel; the vector form must never differ from it. Only
// DDUtils.cpp and the tests that hold the two forms against each other include this header.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zx::blit {

// The two layouts the display makes have vector code; any other runs the scalar form.
enum class Layout : uint8_t { Rgb565, Xrgb8888, Other };

struct Format {
    int bytes = 4;
    uint32_t rm = 0, gm = 0, bm = 0, masks = 0;
    Layout layout = Layout::Other;
};
Format MakeFormat(int bytes, uint32_t rMask, uint32_t gMask, uint32_t bMask);

// Every kernel takes rows of n pixels; `out` may be the same row as `back`. Where a kernel takes
// `cols`, source pixel i is src[cols[i]] (and its weight map[cols[i]]); null cols reads src[i].

// Constant alpha over back: per channel (back * (256 - alpha) + src * alpha) >> 8, the bits
// outside the colour masks cleared; a source pixel of the key colour (when keyed) keeps back.
void BlendConstRow(const Format& f, const uint8_t* back, const uint8_t* src, const int32_t* cols,
                   uint8_t* out, int n, uint32_t alpha, bool keyed, uint32_t key);
// Per-pixel weight m from map: 0 keeps back, 255 copies the source pixel whole, otherwise per
// channel (back * (255 - m) + src * m) >> 8 with the bits outside the masks cleared.
void BlendMapRow(const Format& f, const uint8_t* back, const uint8_t* src, const uint8_t* map,
                 const int32_t* cols, uint8_t* out, int n, bool keyed, uint32_t key);
// dst = src where the source pixel is not of the key colour.
void KeyedCopyRow(const Format& f, const uint8_t* src, uint8_t* dst, int n, uint32_t key);

// KeyedCopyRow over the h rows of a rectangle, pitches apart.
void KeyedCopyRect(const Format& f, const uint8_t* src, ptrdiff_t srcPitch, uint8_t* dst,
                   ptrdiff_t dstPitch, int w, int h, uint32_t key);

// The instruction sets vector forms are written for, in order; a kernel runs the best one the
// processor has. Tests hold each form the processor has against the scalar form.
enum class Isa : uint8_t { Scalar, Sse2, Avx2, Avx512 };

// The runs of pixels not of the key colour in each row of a keyed surface, and a copy of their
// pixels, made once while the surface's pixels stay the same: an unscaled keyed copy then copies
// whole runs and never looks at a keyed pixel. Rows cut into many short runs are left to
// KeyedCopyRow.
class KeyedRuns {
public:
    KeyedRuns(const Format& f, const uint8_t* bits, ptrdiff_t pitch, int w, int h, uint32_t key);
    uint32_t Key() const { return key_; }
    int Width() const { return w_; }
    int Height() const { return h_; }
    // The rectangle of w x h pixels at (sx, sy) of the surface the runs were worked out from
    // (bits, pitch: its pixels, which must be the same) onto dst: what KeyedCopyRect gives. The
    // runs are copied by the vector form up to `best`, or by the library.
    void Copy(const Format& f, const uint8_t* bits, ptrdiff_t pitch, int sx, int sy, int w, int h,
              uint8_t* dst, ptrdiff_t dstPitch, Isa best = Isa::Avx512) const;

private:
    template <class CopyBytes>
    void CopyWith(CopyBytes copy, const Format& f, const uint8_t* bits, ptrdiff_t pitch, int sx,
                  int sy, int w, int h, uint8_t* dst, ptrdiff_t dstPitch) const;
    // Built only where the build has the vector forms.
    void CopyAvx512(const Format& f, const uint8_t* bits, ptrdiff_t pitch, int sx, int sy, int w,
                    int h, uint8_t* dst, ptrdiff_t dstPitch) const;
    // Each run as the byte offset and count of its pixels in the row, a row ended by a count of
    // 0, so that a copy of whole rows (a sprite's frame, a text line: the common case) only reads
    // the next span. A row of short runs holds one span of kMaskedRow instead.
    struct Span {
        uint32_t offset, bytes;
    };
    static constexpr uint32_t kMaskedRow = ~0u;
    struct Row {
        uint32_t span, opaque;  // its first span, and where its runs' pixels start in opaque_
    };
    int w_, h_;
    uint32_t key_;
    std::vector<Span> spans_;
    std::vector<Row> rows_;
    // The runs' pixels one after another, read as one stream: in the surface's rows the keyed
    // pixels around each run fill part of its first and last cache lines, read with it.
    std::vector<uint8_t> opaque_;
};

bool Supports(Isa isa);
// KeyedCopyRow with no form above isa.
void KeyedCopyRowUpTo(Isa isa, const Format& f, const uint8_t* src, uint8_t* dst, int n,
                      uint32_t key);
// dst[i] = row[cols[i]] where that source pixel is not of the key colour.
void KeyedGatherRow(const Format& f, const uint8_t* row, const int32_t* cols, int n, uint8_t* dst,
                    uint32_t key);
// out[i] = row[cols[i]], pixels of `bytes` bytes (1 for alpha maps).
void GatherRow(int bytes, const uint8_t* row, const int32_t* cols, int n, uint8_t* out);
// Per channel (top * (256 - t) + bottom * t) >> 8 into the mask bits of out, its other bits kept.
void LerpRow(const Format& f, const uint8_t* top, const uint8_t* bottom, uint32_t t, uint8_t* out,
             int n);

// out[i] = row[x0[i]] and row[x1[i]] mixed by fx[i]/256 per channel (other bits cleared). With
// state, state[i] = 0 where neither source pixel is of the key colour, 1 where both are, 2 where
// one is; the result is whether every state is 0 (true when state is null).
bool LerpColumnsRow(const Format& f, const uint8_t* row, const int32_t* x0, const int32_t* x1,
                    const uint8_t* fx, int n, uint8_t* out, uint8_t* state, uint32_t key);

// out[i] = (top[i] * (256 - t) + bottom[i] * t) >> 8 over bytes (alpha map weights).
void LerpBytesRow(const uint8_t* top, const uint8_t* bottom, uint32_t t, uint8_t* out, int n);

namespace scalar {
void LerpBytesRow(const uint8_t* top, const uint8_t* bottom, uint32_t t, uint8_t* out, int n);
bool LerpColumnsRow(const Format& f, const uint8_t* row, const int32_t* x0, const int32_t* x1,
                    const uint8_t* fx, int n, uint8_t* out, uint8_t* state, uint32_t key);
void BlendConstRow(const Format& f, const uint8_t* back, const uint8_t* src, const int32_t* cols,
                   uint8_t* out, int n, uint32_t alpha, bool keyed, uint32_t key);
void BlendMapRow(const Format& f, const uint8_t* back, const uint8_t* src, const uint8_t* map,
                 const int32_t* cols, uint8_t* out, int n, bool keyed, uint32_t key);
void KeyedCopyRow(const Format& f, const uint8_t* src, uint8_t* dst, int n, uint32_t key);
void KeyedGatherRow(const Format& f, const uint8_t* row, const int32_t* cols, int n, uint8_t* dst,
                    uint32_t key);
void LerpRow(const Format& f, const uint8_t* top, const uint8_t* bottom, uint32_t t, uint8_t* out,
             int n);
}  // namespace scalar

// One pixel mixed with another by t/256 per channel, within the masks (other bits cleared).
uint32_t LerpPixel(const Format& f, uint32_t a, uint32_t b, uint32_t t);

}  // namespace zx::blit
