#pragma once
// A DirectDraw-like display over SDL2: surfaces are CPU pixel buffers in the display's pixel
// format, the primary has a flip chain (or, in the window kind, receives blits of the frame), and
// presentation uploads the front buffer into one streaming texture shown with vsync.
//
// Operations return result codes (DD_OK or a DDERR_ code) instead of raising, so that a lost
// surface can be told apart from a failure; display/ checks them and raises.
#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Presentation.h"

namespace zx::platform {

using HRESULT = int32_t;

constexpr HRESULT DD_OK = 0;
constexpr HRESULT DDERR_GENERIC = static_cast<HRESULT>(0x80004005);
constexpr HRESULT DDERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001);
constexpr HRESULT DDERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT DDERR_INVALIDPARAMS = static_cast<HRESULT>(0x80070057);
constexpr HRESULT DDERR_INVALIDOBJECT = static_cast<HRESULT>(0x88760082);
constexpr HRESULT DDERR_INVALIDRECT = static_cast<HRESULT>(0x88760096);
constexpr HRESULT DDERR_NOTFLIPPABLE = static_cast<HRESULT>(0x887600E6);
constexpr HRESULT DDERR_NOTLOCKED = static_cast<HRESULT>(0x887601CA);
constexpr HRESULT DDERR_SURFACEBUSY = static_cast<HRESULT>(0x887601AE);
constexpr HRESULT DDERR_SURFACELOST = static_cast<HRESULT>(0x887601C2);
constexpr HRESULT DDERR_WRONGMODE = static_cast<HRESULT>(0x8876024B);
constexpr HRESULT DDERR_NOEXCLUSIVEMODE = static_cast<HRESULT>(0x887601E1);
constexpr HRESULT DDERR_UNSUPPORTEDMODE = static_cast<HRESULT>(0x8876024E);
constexpr HRESULT DDERR_NODIRECTDRAWHW = static_cast<HRESULT>(0x88760255);
constexpr HRESULT DDERR_NOCOLORKEY = static_cast<HRESULT>(0x887600D7);

// Cooperative levels.
constexpr uint32_t DDSCL_FULLSCREEN = 1;
constexpr uint32_t DDSCL_ALLOWREBOOT = 2;
constexpr uint32_t DDSCL_NORMAL = 8;
constexpr uint32_t DDSCL_EXCLUSIVE = 16;

// Surface caps.
constexpr uint32_t DDSCAPS_BACKBUFFER = 0x4;
constexpr uint32_t DDSCAPS_COMPLEX = 0x8;
constexpr uint32_t DDSCAPS_FLIP = 0x10;
constexpr uint32_t DDSCAPS_FRONTBUFFER = 0x20;
constexpr uint32_t DDSCAPS_OFFSCREENPLAIN = 0x40;
constexpr uint32_t DDSCAPS_PRIMARYSURFACE = 0x200;
constexpr uint32_t DDSCAPS_SYSTEMMEMORY = 0x800;
constexpr uint32_t DDSCAPS_VIDEOMEMORY = 0x4000;

// Blit, flip, colour key and pixel format flags.
constexpr uint32_t DDBLT_COLORFILL = 0x400;
constexpr uint32_t DDBLT_KEYSRC = 0x8000;
constexpr uint32_t DDBLT_WAIT = 0x01000000;
constexpr uint32_t DDFLIP_WAIT = 1;
constexpr uint32_t DDCKEY_SRCBLT = 8;
constexpr uint32_t DDPF_RGB = 0x40;
constexpr uint32_t DDLOCK_WAIT = 1;
constexpr uint32_t DDLOCK_READONLY = 0x10;

// Right and bottom are exclusive.
struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
};

struct PixelFormat {
    uint32_t flags = DDPF_RGB;
    uint32_t bitCount = 16;
    uint32_t rMask = 0xF800, gMask = 0x07E0, bMask = 0x001F;
    bool operator==(const PixelFormat&) const = default;
};

struct BltFx {
    uint32_t fillColor = 0;
};

struct DisplayMode {
    uint32_t width = 0, height = 0, bitCount = 0;
};

struct SurfaceDesc {
    uint32_t caps = 0;
    uint32_t width = 0, height = 0;  // off-screen surfaces
    uint32_t backBufferCount = 0;    // complex flipping primary
};

class DirectDraw;
class SharedImages;
class GameWindow;

class DirectDrawSurface : public std::enable_shared_from_this<DirectDrawSurface> {
public:
    DirectDrawSurface(DirectDraw* owner, uint32_t caps, int width, int height, PixelFormat format);
    ~DirectDrawSurface();
    DirectDrawSurface(const DirectDrawSurface&) = delete;
    DirectDrawSurface& operator=(const DirectDrawSurface&) = delete;

    uint32_t Caps() const { return caps_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Pitch() const { return pitch_; }
    int BytesPerPixel() const { return static_cast<int>(format_.bitCount / 8); }

    HRESULT IsLost() const;
    HRESULT Restore();
    HRESULT GetPixelFormat(PixelFormat& out) const;
    HRESULT Lock(void** bits, int32_t* pitch, uint32_t flags = DDLOCK_WAIT);
    HRESULT Unlock();
    // Copies (or, with DDBLT_COLORFILL, fills) dst; sizes that differ stretch by nearest pixel.
    HRESULT Blt(const Rect* dst, DirectDrawSurface* src, const Rect* srcRect, uint32_t flags,
                const BltFx* fx);
    // Flip chain of a complex primary: the back buffer becomes visible.
    HRESULT Flip(DirectDrawSurface* override, uint32_t flags);
    HRESULT SetColorKey(uint32_t flags, uint32_t low, uint32_t high);
    uint32_t ColorKey() const { return colorKey_; }
    bool HasColorKey() const { return hasColorKey_; }
    // A drawing context: an SDL surface over this surface's own pixels, valid until ReleaseDC.
    HRESULT GetDC(SDL_Surface** dc);
    HRESULT ReleaseDC(SDL_Surface* dc);
    // The back buffer attached to a complex primary (none otherwise).
    std::shared_ptr<DirectDrawSurface> AttachedBackBuffer() const { return backBuffer_; }

    // Direct pixel access for code that has already locked or that owns the surface. The
    // writable form counts as a change of the pixels.
    uint8_t* Bits() {
        Changed();
        return pixels_.data();
    }
    const uint8_t* Bits() const { return pixels_.data(); }

    // Something a blit works out from the pixels and keeps with them (a keyed sheet's runs of
    // opaque pixels). It is dropped whenever the pixels or the colour key may change: a lock
    // without DDLOCK_READONLY, a drawing context, a blit or a flip into the surface, the
    // writable Bits(), a new key.
    const std::shared_ptr<void>& Derived() const { return derived_; }
    void KeepDerived(std::shared_ptr<void> derived) { derived_ = std::move(derived); }

    // The display takes the surface's memory (focus lost in full screen): it reports lost until
    // restored.
    void Lose() { lost_ = true; }

private:
    friend class DirectDraw;
    void Changed() { derived_.reset(); }
    DirectDraw* owner_;
    uint32_t caps_;
    int width_, height_, pitch_;
    PixelFormat format_;
    std::vector<uint8_t> pixels_;
    bool lost_ = false;
    bool locked_ = false;
    bool hasColorKey_ = false;
    uint32_t colorKey_ = 0;
    SDL_Surface* dc_ = nullptr;
    std::shared_ptr<DirectDrawSurface> backBuffer_;
    std::shared_ptr<void> derived_;
};

using SurfacePtr = std::shared_ptr<DirectDrawSurface>;

// The display object: the mode, the cooperative level, the surfaces it made, and presentation.
class DirectDraw {
public:
    explicit DirectDraw(GameWindow* window);
    ~DirectDraw();
    DirectDraw(const DirectDraw&) = delete;
    DirectDraw& operator=(const DirectDraw&) = delete;

    HRESULT SetCooperativeLevel(uint32_t flags);
    HRESULT GetDisplayMode(DisplayMode& out) const;
    HRESULT SetDisplayMode(uint32_t width, uint32_t height, uint32_t bitCount, uint32_t refresh,
                           uint32_t flags);
    HRESULT RestoreDisplayMode();
    HRESULT CreateSurface(const SurfaceDesc& desc, SurfacePtr& out);
    // Every surface made by this object that still exists, in creation order.
    HRESULT EnumSurfaces(const std::function<void(const SurfacePtr&)>& each);
    // Binds a clipper for the window to the primary: blits onto it are in screen coordinates and
    // clipped to the window's client area.
    HRESULT AttachWindowClipper(DirectDrawSurface* primary);

    // Focus of the game window. In the exclusive full-screen levels losing it makes every surface
    // lost and keeps restores failing until the window has the focus again.
    void SetFocus(bool focused);
    bool HasFocus() const { return focused_; }
    bool Exclusive() const { return (coop_ & DDSCL_EXCLUSIVE) != 0; }

    PixelFormat Format() const { return format_; }
    // True when kind 0 could not get a real 800 x 600 mode and shows the game area scaled.
    bool ScaledMode() const { return scaled_; }
    // Shows pixels of the display's format on the window: the front buffer after a flip, or the
    // frame blitted onto the window kind's primary.
    void Present(const uint8_t* pixels, int pitch, int width, int height);
    uint64_t PresentCount() const { return presents_; }
    // How the processor scales frames where no graphics card does (the best the machine has,
    // unless told otherwise; every way gives the same pixels).
    void SetScalingWays(const ScalingWays& ways);
    // The next frame goes to the whole window, bars included (it was uncovered or redrawn):
    // between layouts only the picture's rectangle is sent.
    void SendWholeWindow();
    // Waits until the display has taken every picture sent to it: a picture read back from the
    // display, or the time of a run of frames, needs them all there.
    void WaitForDisplay();
    GameWindow* Window() const { return window_; }

private:
    friend class DirectDrawSurface;
    void Forget(DirectDrawSurface* s);
    // Picks the way frames reach the window, once. SDL makes the window anew for a renderer
    // (where the desktop places it at a position SDL kept from before), so this comes before the
    // window is sized and placed.
    void ChoosePresenter();
    bool EnsurePresenter(int width, int height);

    GameWindow* window_;
    uint32_t coop_ = 0;
    bool focused_ = true;
    bool modeSet_ = false;
    bool scaled_ = false;
    PixelFormat format_;
    DisplayMode mode_;
    std::vector<std::weak_ptr<DirectDrawSurface>> surfaces_;
    DirectDrawSurface* clippedPrimary_ = nullptr;
    // With a hardware renderer frames go through one streaming texture that the graphics card
    // scales; without one (no GPU, SDL's dummy driver) the processor scales them into the
    // window's own surface.
    bool presenterTried_ = false;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    void ApplyScalingWays();
    ScalingWays ways_;  // as asked; the scaler's may leave a core to the display server
    PictureScaler scaler_;
    SDL_Surface* conv_ = nullptr;  // the scaled picture, for window formats other than 32-bit
#if ZX_SHARED_IMAGES
    // On an X display on this machine the processor's pictures go through images of our own
    // shared with the server, two in turn (SDL's window surface waits for the server's copy of
    // each frame before the next is drawn).
    bool PresentShared(const uint8_t* pixels, int pitch, int width, int height);
    std::unique_ptr<SharedImages> images_;
#endif
    bool sendWhole_ = true;
    const SDL_Surface* shownOn_ = nullptr;  // the window surface last sent whole, and its size
    int shownW_ = 0, shownH_ = 0;
    int texW_ = 0, texH_ = 0;
    int outW_ = 0, outH_ = 0;  // the output the game area was last laid onto
    Presentation pres_;
    uint64_t presents_ = 0;
};

// Asked of both surfaces by every sprite's copy: inline, so that a small sprite's copy is not
// mostly calls.
inline HRESULT DirectDrawSurface::IsLost() const {
    if (lost_) return DDERR_SURFACELOST;
    if (owner_ && owner_->Exclusive() && !owner_->HasFocus()) return DDERR_SURFACELOST;
    return DD_OK;
}
inline HRESULT DirectDrawSurface::GetPixelFormat(PixelFormat& out) const {
    out = format_;
    return DD_OK;
}
inline HRESULT DirectDrawSurface::Lock(void** bits, int32_t* pitch, uint32_t flags) {
    if (HRESULT r = IsLost(); r != DD_OK) return r;
    if (locked_) return DDERR_SURFACEBUSY;
    if (!(flags & DDLOCK_READONLY)) Changed();
    locked_ = true;
    *bits = pixels_.data();
    *pitch = pitch_;
    return DD_OK;
}
inline HRESULT DirectDrawSurface::Unlock() {
    if (!locked_) return DDERR_NOTLOCKED;
    locked_ = false;
    return DD_OK;
}

// True when the machine has a device node a hardware OpenGL driver works through (a DRI node, or
// the proprietary NVIDIA driver's); devDir is "/dev" but in tests.
bool GraphicsDeviceNodesPresent(const std::string& devDir = "/dev");

// Creates the display object for the default device.
HRESULT DirectDrawCreate(GameWindow* window, std::unique_ptr<DirectDraw>& out);

// The documented description of a result code ("Generic failure.", "Unrecognized Error").
std::string DDErrorText(HRESULT code);

// The pixel value of 0xRRGGBB in a format (each channel scaled into its mask).
uint32_t PackColour(const PixelFormat& f, uint32_t rgb);
uint32_t ReadPixel(const uint8_t* p, int bytesPerPixel);
void WritePixel(uint8_t* p, int bytesPerPixel, uint32_t value);

}  // namespace zx::platform
