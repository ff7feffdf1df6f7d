#pragma once
// The display's process-wide state: one display exists at a time, and the game objects and the
// surface operations reach it directly. Only the main thread touches it.
#include <cstdint>
#include <vector>

#include "platform/DDraw.h"
#include "platform/Errors.h"

namespace zx {

struct TDisplayState {
    // Exists exactly while the display is set up.
    platform::DirectDraw* DirectDraw = nullptr;
    // Full-screen kinds: item 0 the primary, then its back buffers. Window kind: the off-screen
    // surfaces. Item 1 is the back buffer every frame draws into.
    std::vector<platform::SurfacePtr> FlipList;
    platform::SurfacePtr BackImage;
    platform::SurfacePtr BlendSurface;
    int32_t DisplayOffsetX = 0;
    int32_t DisplayOffsetY = 0;
    bool SurfacesLost = false;
    // Copies of the game-area size.
    int32_t ScreenW = 800, ScreenH = 600;
    int16_t ClipRight = 799, ClipBottom = 599;
    int32_t HalfW = 400, HalfH = 300;
    long double ScreenWf = 800.0L;
    int32_t HintStripHeight = 0;
    bool TransparencyOn = true;

    void SetGameArea(int32_t w, int32_t h) {
        ScreenW = w, ScreenH = h;
        ClipRight = static_cast<int16_t>(w - 1), ClipBottom = static_cast<int16_t>(h - 1);
        HalfW = w / 2, HalfH = h / 2;
        ScreenWf = w;
    }
};

extern TDisplayState DD;

// A display call failed; carries the result code.
class EDirectXError : public Exception {
public:
    EDirectXError(const std::string& message, int32_t code) : Exception(message), Code(code) {}
    int32_t Code;
};

// A surface was lost: silent, it costs one frame.
class EDirectXSurfaceLostError : public Exception {
public:
    EDirectXSurfaceLostError() : Exception("Surface Lost") {}
};

// Zero is success; a lost surface sets SurfacesLost and raises the silent error; anything else
// raises EDirectXError with the code's description.
[[noreturn]] void DDFail(platform::HRESULT result);  // the failing half, out of every caller's way
inline void DDCheck(platform::HRESULT result) {
    if (result != platform::DD_OK) DDFail(result);
}
// The same without the lost case (creation, locking, format queries).
[[noreturn]] void DDFailNoLost(platform::HRESULT result);
inline void DDCheckNoLost(platform::HRESULT result) {
    if (result != platform::DD_OK) DDFailNoLost(result);
}

}  // namespace zx
