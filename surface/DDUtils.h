#pragma once
// Drawing into display surfaces: off-screen surfaces, fills, clipped copies, the sprite blit
// with its software blending, colour replacement, pictures, screenshots, and the stereo pan
// that depends on the screen width. Everything works on the display state zx::DD and checks
// every display result (a lost surface raises the silent error and costs one frame).
#include <SDL.h>

#include <cstdint>
#include <string>

#include "platform/DisplayState.h"

namespace zx {

using platform::DirectDrawSurface;
using platform::SurfacePtr;

// Off-screen plain surface (plus extraCaps, e.g. DDSCAPS_SYSTEMMEMORY) in the display's format.
SurfacePtr CreateOffscreenSurface(int width, int height, uint32_t extraCaps);
// Item 0 / item 1 of the flip list (null when the list is that short).
DirectDrawSurface* FrontSurface();
DirectDrawSurface* BackBuffer();
// A flip-list item from 1 on: blits into it are moved by the display offset.
bool IsBackSurface(const DirectDrawSurface* surface);

// 0xRRGGBB as a pixel value of the surface's format.
uint32_t RGBToSurfaceColour(DirectDrawSurface* surface, uint32_t colour);

// A plain blit; into a back surface the destination is moved by the display offset (no
// rectangle: the whole game area at the offset).
void BlitRect(DirectDrawSurface* dest, const platform::Rect* destRect, DirectDrawSurface* source,
              const platform::Rect* sourceRect, uint32_t flags, const platform::BltFx* fx);
void ColorFill(DirectDrawSurface* surface, int32_t x, int32_t y, int32_t width, int32_t height,
               uint32_t colour);

// Unscaled copy clipped to the inclusive bounds; keyFlag 1 uses the source colour key.
void BlitClipped(DirectDrawSurface* source, int32_t sourceX, int32_t sourceY, int32_t width,
                 int32_t height, DirectDrawSurface* dest, int32_t destX, int32_t destY, int keyFlag,
                 int32_t clipLeft, int32_t clipTop, int32_t clipRight, int32_t clipBottom);

// Scaled sprite copy with clipping; alpha below 255 (when transparency is on) or an alpha map
// blend through DD.BlendSurface. alphaMap rows are the source surface's width rounded up to 4.
void BlitSprite(DirectDrawSurface* source, const uint8_t* alphaMap, int32_t sourceX,
                int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight, DirectDrawSurface* dest,
                int32_t destX, int32_t destY, int32_t destWidth, int32_t destHeight, int keyFlag,
                uint8_t alpha, int32_t clipLeft, int32_t clipTop, int32_t clipRight,
                int32_t clipBottom);

// Software blends of sourceRect (stepped 16.16 onto backRect's size) over backRect of back,
// written to blend at (0, 0).
void BlendConstantAlpha(DirectDrawSurface* back, DirectDrawSurface* source,
                        DirectDrawSurface* blend, const platform::Rect& backRect,
                        const platform::Rect& sourceRect, uint8_t alpha, bool keyed);
void BlendWithAlphaMap(DirectDrawSurface* back, DirectDrawSurface* source, DirectDrawSurface* blend,
                       const platform::Rect& backRect, const platform::Rect& sourceRect, bool keyed,
                       const uint8_t* alphaMap);

// Pixels whose colour bits equal fromColour get toColour; other bits are kept.
void ReplaceColour(DirectDrawSurface* surface, uint32_t fromColour, uint32_t toColour);

// A drawing context on a surface, taken when first used and given back on Release or at the end.
class TDDCanvas {
public:
    explicit TDDCanvas(DirectDrawSurface* surface);
    ~TDDCanvas();
    TDDCanvas(const TDDCanvas&) = delete;
    TDDCanvas& operator=(const TDDCanvas&) = delete;
    SDL_Surface* DC();
    void Release();
    DirectDrawSurface* Surface() const { return surface_; }

private:
    DirectDrawSurface* surface_;
    SDL_Surface* dc_ = nullptr;
};

// Loads a picture (bitmap resource, JPEG resource, then name.bmp, name.jpg) into the surface,
// creating one of the picture's size when the variable holds none. False when not found.
bool LoadPictureToSurface(const std::string& fileName, SurfacePtr& surface, int* width = nullptr,
                          int* height = nullptr);
void ReloadPictureToNewSurface(const std::string& fileName, SurfacePtr& surface);

void SaveSurfaceAsJpeg(DirectDrawSurface* surface, const std::string& fileName);
// Writes the back buffer as Screenshots/Shot_<n>.jpg with the first free n; returns the path.
std::string SaveScreenshot();

// Pan of a sound at world position (x, z): -10000 (left) .. 10000 (right).
int32_t StereoPan(double x, double z);

// Round to nearest, halves to even (the projection and the source cuts rely on it).
int32_t RoundEven(double v);

}  // namespace zx
