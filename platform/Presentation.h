#pragma once
// Where the game's fixed-size display lies on a window or screen of any size, and the way back
// from a pointer position to the game's coordinates, and the drawing of the game's picture into
// that rectangle. Plain arithmetic on memory, so that it can be checked without a display.
#include <cstdint>
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

// Draws a game picture into the rectangle of a presentation on a 32-bit 0x00RRGGBB image, in one
// pass that converts and scales: each pixel repeated where the presentation is sharp, filtered
// (bilinear, through pixel centres) where it is smooth. Only the rectangle is written; it must
// lie inside the image. At 1x the picture is copied exactly. Keeps its row buffers and tables
// from one frame to the next, so a frame of the same sizes allocates nothing.
class PictureScaler {
public:
    void Draw(const uint8_t* src, int srcPitch, int srcW, int srcH, PixelLayout layout,
              uint8_t* dst, int dstPitch, const Presentation& p);

private:
    struct Axis {
        std::vector<int32_t> first;   // source index of each output pixel (the left/upper one)
        std::vector<uint16_t> share;  // the next source pixel's share, of 256 (filtered only)
    };
    void Prepare(int srcW, int srcH, const Presentation& p);
    // Source row sy converted to 0x00RRGGBB and laid out to the output's width.
    const uint32_t* OutputRow(const uint8_t* src, int srcPitch, int srcW, PixelLayout layout,
                              int sy, int slot);

    int srcW_ = -1, srcH_ = -1, outW_ = -1, outH_ = -1;
    bool smooth_ = false;
    Axis xs_, ys_;
    std::vector<uint32_t> converted_;
    std::vector<uint32_t> rows_[2];  // two laid-out source rows, the pair a filtered row blends
    int rowOf_[2] = {-1, -1};
};

}  // namespace zx::platform
