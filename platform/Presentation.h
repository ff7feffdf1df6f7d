#pragma once
// Where the game's fixed-size display lies on a window or screen of any size, and the way back
// from a pointer position to the game's coordinates. Plain arithmetic, so that it can be checked
// without a display.
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

}  // namespace zx::platform
