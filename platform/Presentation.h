#pragma once
// Where the game's fixed-size display lies on a window or screen of any size, and the way back
// from a pointer position to the game's coordinates, and the drawing of the game's picture into
// that rectangle. Plain arithmetic on memory, so that it can be checked without a display.
#include <cstdint>
#include <memory>
#include <vector>

namespace zx::platform {

struct Size {
    int w = 0, h = 0;
};

// The game area laid onto an output of outW x outH pixels: its rectangle there (centred, aspect
// kept, bars beside it) and whether it is scaled smoothly. A whole step (1x, 2x, ...) is taken
// when it fills the output nearly as well as the exact fit, so that pixels stay sharp; otherwise
// the area fills the output and is filtered.
struct Presentation {
    int x = 0, y = 0, w = 0, h = 0;
    bool smooth = false;
};
Presentation FitGameArea(int outW, int outH, int gameW, int gameH);

// The game point under output pixel (ox, oy): the pixel column and row of the game area that was
// drawn there. Outside the picture the result runs past the area's edges the same way.
void OutputToGame(const Presentation& p, int gameW, int gameH, int ox, int oy, int& gx, int& gy);

// The first client size of the game window on a desktop whose usable area is usableW x usableH:
// the largest whole step of the game area within about 80 % of it; the game area itself where
// that is not even 1x but the area fits; else the largest size of the area's shape that fits.
Size FirstWindowSize(int usableW, int usableH, int gameW, int gameH);

// How the pixels of a game picture lie in memory (the display's 16, 24 and 32-bit formats).
enum class PixelLayout {
    Rgb565,   // 16 bits, little-endian
    Bgr24,    // bytes blue, green, red
    Xrgb8888  // 0x00RRGGBB
};

// The ways a picture may be scaled: the widest instruction set used (capped by what the processor
// has), how many threads share the rows (0: one per core), and whether the rows are written past
// the caches (a large window's pixels are read next by the display server, not by this process).
// Every choice gives the same pixels as the scalar form on one thread, which defines them.
struct ScalingWays {
    enum class Isa : uint8_t { Scalar, Sse2, Avx2 };
    Isa isa = Isa::Avx2;
    int threads = 0;
    bool stream = true;
};
// The ways the scaler had before it shared rows between threads and took wider vectors: kept for
// the benchmarks' comparison.
inline constexpr ScalingWays kOneThreadSse2{ScalingWays::Isa::Sse2, 1, false};

// Draws a game picture into the rectangle of a presentation on a 32-bit 0x00RRGGBB image, in one
// pass that converts and scales: each pixel repeated where the presentation is sharp, filtered
// (bilinear, through pixel centres) where it is smooth. Only the rectangle is written; it must
// lie inside the image. At 1x the picture is copied exactly (the unused top byte of a 32-bit
// pixel is written as 0). Keeps its row buffers, tables and helper threads from one frame to the
// next, so a frame of the same sizes allocates nothing.
class PictureScaler {
public:
    explicit PictureScaler(ScalingWays ways = {});
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    void Draw(const uint8_t* src, int srcPitch, int srcW, int srcH, PixelLayout layout,
              uint8_t* dst, int dstPitch, const Presentation& p);
    // Takes effect from the next Draw.
    void SetWays(ScalingWays ways);
    ScalingWays Ways() const { return ways_; }

private:
    struct Axis {
        std::vector<int32_t> first;   // source index of each output pixel (the left/upper one)
        std::vector<uint16_t> share;  // the next source pixel's share, of 256 (filtered only)
    };
    // What one thread keeps while it draws a band of rows.
    struct Lane {
        std::vector<uint32_t> converted;
        std::vector<uint32_t> rows[2];  // two laid-out source rows, the pair a filtered row blends
        int rowOf[2] = {-1, -1};
    };
    struct Job;
    class Crew;
    void Prepare(int srcW, int srcH, const Presentation& p);
    void DrawRows(Lane& lane, const Job& job, int y0, int y1) const;
    // Source row sy converted to 0x00RRGGBB and laid out to the output's width.
    const uint32_t* OutputRow(Lane& lane, const Job& job, int sy, int slot) const;

    ScalingWays ways_;
    int srcW_ = -1, srcH_ = -1, outW_ = -1, outH_ = -1;
    bool smooth_ = false;
    Axis xs_, ys_;
    std::vector<Lane> lanes_;
    std::unique_ptr<Crew> crew_;
};
}  // namespace zx::platform
