#include "platform/DDraw.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>
#include <thread>

#include "platform/Window.h"
#if ZX_SHARED_IMAGES
#include "platform/SharedImages.h"
#endif

namespace zx::platform {
namespace {

PixelFormat FormatFor(uint32_t bits) {
    PixelFormat f;
    f.flags = DDPF_RGB;
    f.bitCount = bits;
    if (bits == 16) {
        f.rMask = 0xF800, f.gMask = 0x07E0, f.bMask = 0x001F;
    } else {
        f.rMask = 0xFF0000, f.gMask = 0x00FF00, f.bMask = 0x0000FF;
    }
    return f;
}

uint32_t SdlFormatOf(const PixelFormat& f) {
    switch (f.bitCount) {
        case 16: return SDL_PIXELFORMAT_RGB565;
        case 24: return SDL_PIXELFORMAT_BGR24;   // bytes B, G, R in memory
        default: return SDL_PIXELFORMAT_RGB888;  // 0x00RRGGBB
    }
}

bool Inside(const Rect& r, int w, int h) {
    return r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h && r.left <= r.right &&
           r.top <= r.bottom;
}

}  // namespace

uint32_t ReadPixel(const uint8_t* p, int bpp) {
    switch (bpp) {
        case 2: return static_cast<uint32_t>(p[0] | (p[1] << 8));
        case 3: return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
        default: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

void WritePixel(uint8_t* p, int bpp, uint32_t v) {
    switch (bpp) {
        case 2:
            p[0] = static_cast<uint8_t>(v);
            p[1] = static_cast<uint8_t>(v >> 8);
            break;
        case 3:
            p[0] = static_cast<uint8_t>(v);
            p[1] = static_cast<uint8_t>(v >> 8);
            p[2] = static_cast<uint8_t>(v >> 16);
            break;
        default: std::memcpy(p, &v, 4);
    }
}

uint32_t PackColour(const PixelFormat& f, uint32_t rgb) {
    auto chan = [](uint32_t m, uint32_t v) { return m & ((m * (v + 1)) >> 8); };
    return chan(f.rMask, (rgb >> 16) & 0xFF) | chan(f.gMask, (rgb >> 8) & 0xFF) |
           chan(f.bMask, rgb & 0xFF);
}

std::string DDErrorText(HRESULT code) {
    switch (code) {
        case DD_OK: return "The request completed successfully.";
        case DDERR_GENERIC: return "Generic failure.";
        case DDERR_UNSUPPORTED: return "Action not supported.";
        case DDERR_OUTOFMEMORY:
            return "DirectDraw does not have enough memory to perform the operation.";
        case DDERR_INVALIDPARAMS:
            return "One or more of the parameters passed to the method are incorrect.";
        case DDERR_INVALIDOBJECT:
            return "DirectDraw received a pointer that was an invalid DirectDraw object.";
        case DDERR_INVALIDRECT: return "The rectangle provided was invalid.";
        case DDERR_NOTFLIPPABLE:
            return "An attempt has been made to flip a surface that cannot be flipped.";
        case DDERR_NOTLOCKED: return "An attempt was made to unlock a surface that was not locked.";
        case DDERR_SURFACEBUSY:
            return "Access to the surface is refused because the surface is locked by another "
                   "thread.";
        case DDERR_SURFACELOST: return "Surface Lost";
        case DDERR_WRONGMODE:
            return "This surface cannot be restored because it was created in a different mode.";
        case DDERR_NOEXCLUSIVEMODE:
            return "The operation requires the application to have exclusive mode, but the "
                   "application does not have exclusive mode.";
        case DDERR_UNSUPPORTEDMODE: return "The display is currently in an unsupported mode.";
        case DDERR_NODIRECTDRAWHW:
            return "A hardware-only DirectDraw object creation was attempted but the driver did "
                   "not support any hardware.";
        case DDERR_NOCOLORKEY: return "The surface does not currently have a color key.";
        default: return "Unrecognized Error";
    }
}

// ---- surfaces ----

DirectDrawSurface::DirectDrawSurface(DirectDraw* owner, uint32_t caps, int width, int height,
                                     PixelFormat format)
    : owner_(owner), caps_(caps), width_(width), height_(height), format_(format) {
    pitch_ = ((width_ * static_cast<int>(format_.bitCount / 8)) + 3) & ~3;
    pixels_.assign(static_cast<size_t>(pitch_) * static_cast<size_t>(height_), 0);
}

DirectDrawSurface::~DirectDrawSurface() {
    if (dc_) SDL_FreeSurface(dc_);
    if (owner_) owner_->Forget(this);
}

HRESULT DirectDrawSurface::Restore() {
    if (owner_ && owner_->Exclusive() && !owner_->HasFocus()) return DDERR_WRONGMODE;
    lost_ = false;
    if (backBuffer_) backBuffer_->lost_ = false;
    return DD_OK;
}

HRESULT DirectDrawSurface::SetColorKey(uint32_t flags, uint32_t low, uint32_t) {
    if (flags != DDCKEY_SRCBLT) return DDERR_INVALIDPARAMS;
    Changed();
    hasColorKey_ = true;
    colorKey_ = low;
    return DD_OK;
}

HRESULT DirectDrawSurface::GetDC(SDL_Surface** dc) {
    if (HRESULT r = IsLost(); r != DD_OK) return r;
    if (dc_) return DDERR_SURFACEBUSY;
    dc_ = SDL_CreateRGBSurfaceWithFormatFrom(pixels_.data(), width_, height_,
                                             static_cast<int>(format_.bitCount), pitch_,
                                             SdlFormatOf(format_));
    if (!dc_) return DDERR_GENERIC;
    Changed();
    *dc = dc_;
    return DD_OK;
}

HRESULT DirectDrawSurface::ReleaseDC(SDL_Surface* dc) {
    if (!dc_ || dc != dc_) return DDERR_INVALIDPARAMS;
    SDL_FreeSurface(dc_);
    dc_ = nullptr;
    if ((caps_ & DDSCAPS_PRIMARYSURFACE) && owner_)
        owner_->Present(pixels_.data(), pitch_, width_, height_);
    return DD_OK;
}

HRESULT DirectDrawSurface::Blt(const Rect* dstIn, DirectDrawSurface* src, const Rect* srcIn,
                               uint32_t flags, const BltFx* fx) {
    if (HRESULT r = IsLost(); r != DD_OK) return r;
    if (src && src != this)
        if (HRESULT r = src->IsLost(); r != DD_OK) return r;
    if (locked_ || (src && src->locked_)) return DDERR_SURFACEBUSY;
    Changed();
    Rect dst = dstIn ? *dstIn : Rect{0, 0, width_, height_};
    const bool clipped = owner_ && owner_->clippedPrimary_ == this;
    const int bpp = BytesPerPixel();

    if (flags & DDBLT_COLORFILL) {
        if (!fx) return DDERR_INVALIDPARAMS;
        if (!Inside(dst, width_, height_)) return DDERR_INVALIDRECT;
        for (int y = dst.top; y < dst.bottom; ++y) {
            uint8_t* row = pixels_.data() + static_cast<size_t>(y) * pitch_;
            for (int x = dst.left; x < dst.right; ++x)
                WritePixel(row + x * bpp, bpp, fx->fillColor);
        }
        return DD_OK;
    }
    if (!src) return DDERR_INVALIDPARAMS;
    if (!(src->format_ == format_)) return DDERR_INVALIDPARAMS;
    Rect sr = srcIn ? *srcIn : Rect{0, 0, src->width_, src->height_};
    if (!Inside(sr, src->width_, src->height_)) return DDERR_INVALIDRECT;
    if (clipped) {
        // The clipper: screen coordinates, cut to the window's client area.
        int ox = 0, oy = 0;
        owner_->Window()->ClientOrigin(ox, oy);
        dst.left -= ox, dst.right -= ox, dst.top -= oy, dst.bottom -= oy;
        if (dst.Width() == sr.Width() && dst.Height() == sr.Height()) {
            int cl = std::max(0, -dst.left), ct = std::max(0, -dst.top);
            int cr = std::max(0, dst.right - width_), cb = std::max(0, dst.bottom - height_);
            dst.left += cl, dst.top += ct, dst.right -= cr, dst.bottom -= cb;
            sr.left += cl, sr.top += ct, sr.right -= cr, sr.bottom -= cb;
            if (dst.Width() <= 0 || dst.Height() <= 0) return DD_OK;
        }
    }
    if (!Inside(dst, width_, height_)) return DDERR_INVALIDRECT;
    const int dw = dst.Width(), dh = dst.Height(), sw = sr.Width(), shh = sr.Height();
    if (clipped && dst.left == 0 && dst.top == 0 && dw == width_ && dh == height_ &&
        sr.Width() == dw && sr.Height() == dh && !(flags & DDBLT_KEYSRC)) {
        // The whole frame onto the window: show it straight from the source, one copy fewer.
        owner_->Present(
            src->pixels_.data() + static_cast<size_t>(sr.top) * src->pitch_ + sr.left * bpp,
            src->pitch_, dw, dh);
        return DD_OK;
    }
    if (dw == 0 || dh == 0 || sw == 0 || shh == 0) return DD_OK;

    // A copy within one surface may overlap: read from a snapshot then.
    std::vector<uint8_t> snapshot;
    const uint8_t* sbits = src->pixels_.data();
    if (src == this) {
        snapshot = pixels_;
        sbits = snapshot.data();
    }
    const bool keyed = (flags & DDBLT_KEYSRC) && src->hasColorKey_;
    const uint32_t masks = format_.rMask | format_.gMask | format_.bMask;
    const uint32_t key = src->colorKey_ & masks;
    const bool stretch = dw != sw || dh != shh;

    for (int y = 0; y < dh; ++y) {
        int sy = sr.top + (stretch ? static_cast<int>((static_cast<int64_t>(y) * shh) / dh) : y);
        const uint8_t* srow = sbits + static_cast<size_t>(sy) * src->pitch_;
        uint8_t* drow = pixels_.data() + static_cast<size_t>(dst.top + y) * pitch_;
        if (!stretch && !keyed) {
            std::memcpy(drow + dst.left * bpp, srow + sr.left * bpp, static_cast<size_t>(dw) * bpp);
            continue;
        }
        for (int x = 0; x < dw; ++x) {
            int sx =
                sr.left + (stretch ? static_cast<int>((static_cast<int64_t>(x) * sw) / dw) : x);
            const uint8_t* sp = srow + sx * bpp;
            if (keyed && (ReadPixel(sp, bpp) & masks) == key) continue;
            std::memcpy(drow + (dst.left + x) * bpp, sp, static_cast<size_t>(bpp));
        }
    }
    if (clipped) owner_->Present(pixels_.data(), pitch_, width_, height_);
    return DD_OK;
}

HRESULT DirectDrawSurface::Flip(DirectDrawSurface*, uint32_t) {
    if (!(caps_ & DDSCAPS_PRIMARYSURFACE) || !backBuffer_) return DDERR_NOTFLIPPABLE;
    if (HRESULT r = IsLost(); r != DD_OK) return r;
    if (HRESULT r = backBuffer_->IsLost(); r != DD_OK) return r;
    if (locked_ || backBuffer_->locked_) return DDERR_SURFACEBUSY;
    Changed();
    backBuffer_->Changed();
    pixels_.swap(backBuffer_->pixels_);
    if (owner_) owner_->Present(pixels_.data(), pitch_, width_, height_);
    return DD_OK;
}

// ---- the display object ----

DirectDraw::DirectDraw(GameWindow* window) : window_(window), format_(FormatFor(32)) {}

DirectDraw::~DirectDraw() {
    for (auto& w : surfaces_)
        if (auto s = w.lock()) s->owner_ = nullptr;
    if (conv_) SDL_FreeSurface(conv_);
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (modeSet_ && window_) window_->LeaveFullscreen();
}

HRESULT DirectDrawCreate(GameWindow* window, std::unique_ptr<DirectDraw>& out) {
    if (!window) return DDERR_INVALIDPARAMS;
    out = std::make_unique<DirectDraw>(window);
    return DD_OK;
}

HRESULT DirectDraw::SetCooperativeLevel(uint32_t flags) {
    // Before the window is placed or goes full screen: a renderer may make the window anew.
    ChoosePresenter();
    coop_ = flags;
    if (flags & DDSCL_FULLSCREEN) {
        if (!window_->SetFullscreenDesktop(true)) return DDERR_NOEXCLUSIVEMODE;
        modeSet_ = true;
        SDL_DisplayMode dm{};
        int display = std::max(0, SDL_GetWindowDisplayIndex(window_->Handle()));
        if (SDL_GetDesktopDisplayMode(display, &dm) == 0)
            mode_ = {static_cast<uint32_t>(dm.w), static_cast<uint32_t>(dm.h), 32};
    }
    return DD_OK;
}

HRESULT DirectDraw::GetDisplayMode(DisplayMode& out) const {
    if (mode_.width) {
        out = mode_;
        return DD_OK;
    }
    SDL_DisplayMode dm{};
    int display = std::max(0, SDL_GetWindowDisplayIndex(window_->Handle()));
    if (SDL_GetDesktopDisplayMode(display, &dm) != 0) return DDERR_GENERIC;
    out = {static_cast<uint32_t>(dm.w), static_cast<uint32_t>(dm.h), 32};
    return DD_OK;
}

HRESULT DirectDraw::SetDisplayMode(uint32_t width, uint32_t height, uint32_t bitCount, uint32_t,
                                   uint32_t) {
    if (!(coop_ & DDSCL_EXCLUSIVE)) return DDERR_NOEXCLUSIVEMODE;
    if (bitCount != 16 && bitCount != 24 && bitCount != 32) return DDERR_UNSUPPORTEDMODE;
    scaled_ = !window_->SetFullscreenMode(static_cast<int>(width), static_cast<int>(height));
    if (scaled_ && !window_->SetFullscreenDesktop(true)) return DDERR_UNSUPPORTEDMODE;
    modeSet_ = true;
    mode_ = {width, height, bitCount};
    format_ = FormatFor(bitCount);
    return DD_OK;
}

HRESULT DirectDraw::RestoreDisplayMode() {
    if (modeSet_) window_->LeaveFullscreen();
    modeSet_ = false;
    scaled_ = false;
    return DD_OK;
}

HRESULT DirectDraw::CreateSurface(const SurfaceDesc& desc, SurfacePtr& out) {
    SurfacePtr s;
    if (desc.caps & DDSCAPS_PRIMARYSURFACE) {
        int w = 800, h = 600;
        if (coop_ & DDSCL_FULLSCREEN) {
            w = static_cast<int>(mode_.width), h = static_cast<int>(mode_.height);
        } else {
            // A window shows the game area at any size: its primary stays the game area's.
            const Size g = window_->GameArea();
            w = g.w, h = g.h;
        }
        if (w <= 0 || h <= 0) return DDERR_INVALIDPARAMS;
        s = std::make_shared<DirectDrawSurface>(this, desc.caps | DDSCAPS_FRONTBUFFER, w, h,
                                                format_);
        surfaces_.push_back(s);
        if ((desc.caps & DDSCAPS_FLIP) && desc.backBufferCount > 0) {
            if (!(coop_ & DDSCL_EXCLUSIVE)) return DDERR_NOEXCLUSIVEMODE;
            auto back = std::make_shared<DirectDrawSurface>(
                this, DDSCAPS_BACKBUFFER | DDSCAPS_FLIP | DDSCAPS_COMPLEX, w, h, format_);
            surfaces_.push_back(back);
            s->backBuffer_ = back;
        }
    } else {
        if (desc.width == 0 || desc.height == 0 || desc.width > 16384 || desc.height > 16384)
            return DDERR_INVALIDPARAMS;
        s = std::make_shared<DirectDrawSurface>(this, desc.caps, static_cast<int>(desc.width),
                                                static_cast<int>(desc.height), format_);
        surfaces_.push_back(s);
    }
    out = s;
    return DD_OK;
}

HRESULT DirectDraw::EnumSurfaces(const std::function<void(const SurfacePtr&)>& each) {
    auto copy = surfaces_;
    for (auto& w : copy)
        if (auto s = w.lock()) each(s);
    return DD_OK;
}

HRESULT DirectDraw::AttachWindowClipper(DirectDrawSurface* primary) {
    if (!primary || !(primary->caps_ & DDSCAPS_PRIMARYSURFACE)) return DDERR_INVALIDPARAMS;
    clippedPrimary_ = primary;
    return DD_OK;
}

void DirectDraw::Forget(DirectDrawSurface* s) {
    if (clippedPrimary_ == s) clippedPrimary_ = nullptr;
    std::erase_if(surfaces_, [](const std::weak_ptr<DirectDrawSurface>& w) { return w.expired(); });
}

void DirectDraw::SetFocus(bool focused) {
    if (focused_ == focused) return;
    focused_ = focused;
    if (!focused && Exclusive())
        for (auto& w : surfaces_)
            if (auto s = w.lock()) s->Lose();
}

namespace {

// A renderer that draws on the processor (SDL's own, or OpenGL through Mesa's software
// rasterisers, as on a desktop without a graphics driver or under Xvfb) costs a texture upload,
// a clear and a converting copy every frame on top of the blit into the window; the window's
// own framebuffer needs only the blit.
bool RendersOnTheProcessor(SDL_Renderer* renderer) {
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer, &info) != 0) return false;
    const std::string_view name = info.name ? info.name : "";
    if (name == "software") return true;
    if (name.substr(0, 6) != "opengl") return false;
    using GetString = const unsigned char* (*)(unsigned);
    auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    if (!getString) return false;
    const unsigned kGlRenderer = 0x1F01;
    const char* gl = reinterpret_cast<const char*>(getString(kGlRenderer));
    if (!gl) return false;
    const std::string_view glName = gl;
    for (const char* soft : {"llvmpipe", "softpipe", "swrast", "Software Rasterizer"})
        if (glName.find(soft) != std::string_view::npos) return true;
    return false;
}

// The four rectangles of an output of w x h beside the picture of a presentation.
std::array<SDL_Rect, 4> BarsBeside(const Presentation& p, int w, int h) {
    return {{{0, 0, w, p.y},
             {0, p.y + p.h, w, h - p.y - p.h},
             {0, p.y, p.x, p.h},
             {p.x + p.w, p.y, w - p.x - p.w, p.h}}};
}

PixelLayout LayoutOf(const PixelFormat& f) {
    return f.bitCount == 16   ? PixelLayout::Rgb565
           : f.bitCount == 24 ? PixelLayout::Bgr24
                              : PixelLayout::Xrgb8888;
}

}  // namespace

bool GraphicsDeviceNodesPresent(const std::string& devDir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(fs::path(devDir) / "nvidiactl", ec)) return true;
    for (fs::directory_iterator it(fs::path(devDir) / "dri", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("renderD", 0) == 0 || name.rfind("card", 0) == 0) return true;
    }
    return false;
}

void DirectDraw::ChoosePresenter() {
    if (!presenterTried_) {
        presenterTried_ = true;
        // Without a graphics device OpenGL can only be a software rasteriser, which the test below
        // would throw away; starting it only to find that out maps some 50 MB of libraries into
        // the process for good and costs the first frame tens of milliseconds.
        const bool device = GraphicsDeviceNodesPresent();
        if (device)
            renderer_ = SDL_CreateRenderer(window_->Handle(), -1,
                                           SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
        const bool onProcessor = renderer_ && RendersOnTheProcessor(renderer_);
        if (onProcessor) {
            SDL_DestroyRenderer(renderer_);
            renderer_ = nullptr;
        }
        // Otherwise SDL would back the window surface with a renderer (again).
        if (!device || onProcessor) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
#if ZX_SHARED_IMAGES
        // After the renderer is settled: SDL makes the window anew only for a renderer, so the
        // X window the images are bound to stays the window's for good.
        if (!renderer_) {
            images_ = SharedImages::ForWindow(window_->Handle());
            ApplyScalingWays();
        }
#endif
    }
}

bool DirectDraw::EnsurePresenter(int width, int height) {
    ChoosePresenter();
    if (texW_ != width || texH_ != height || (renderer_ && !texture_)) {
        texW_ = width, texH_ = height;
        outW_ = outH_ = 0;
        if (renderer_) {
            if (texture_) SDL_DestroyTexture(texture_);
            texture_ = SDL_CreateTexture(renderer_, SdlFormatOf(format_),
                                         SDL_TEXTUREACCESS_STREAMING, width, height);
            if (!texture_) return false;
        }
    }
    // The window may have been resized since the last frame: lay the game area out again.
    int ow = 0, oh = 0;
    if (renderer_) {
        SDL_GetRendererOutputSize(renderer_, &ow, &oh);
#if ZX_SHARED_IMAGES
    } else if (images_) {
        // Not SDL's window surface: making it would hold a third window-sized image.
        SDL_GetWindowSize(window_->Handle(), &ow, &oh);
#endif
    } else {
        SDL_Surface* ws = SDL_GetWindowSurface(window_->Handle());
        if (!ws) return false;
        ow = ws->w, oh = ws->h;
    }
    if (ow != outW_ || oh != outH_) {
        outW_ = ow, outH_ = oh;
        sendWhole_ = true;
        pres_ = FitGameArea(ow, oh, width, height);
        if (texture_)
            SDL_SetTextureScaleMode(texture_,
                                    pres_.smooth ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
        window_->SetPresentation(pres_, width, height, ow, oh);
    }
    return true;
}

void DirectDraw::Present(const uint8_t* pixels, int pitch, int width, int height) {
    if (!EnsurePresenter(width, height)) return;
    ++presents_;
    const SDL_Rect dst{pres_.x, pres_.y, pres_.w, pres_.h};
    if (renderer_) {
        // The graphics card scales: one upload of the game area's pixels whatever the window's
        // size, so a large window costs the processor no more than a small one.
        SDL_UpdateTexture(texture_, nullptr, pixels, pitch);
        SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
        SDL_RenderClear(renderer_);
        SDL_RenderCopy(renderer_, texture_, nullptr, &dst);
        SDL_RenderPresent(renderer_);
        return;
    }
#if ZX_SHARED_IMAGES
    if (images_) {
        if (PresentShared(pixels, pitch, width, height)) return;
        // The server stopped answering or gave no image: SDL's way from now on.
        images_.reset();
        ApplyScalingWays();
        sendWhole_ = true;
        outW_ = outH_ = 0;
        if (!EnsurePresenter(width, height)) return;
    }
#endif
    // Without a graphics card the processor scales: straight into the window's own pixels, in
    // one pass that also converts, and only the picture goes to the display each frame.
    SDL_Surface* ws = SDL_GetWindowSurface(window_->Handle());
    if (!ws) return;
    const bool whole = sendWhole_ || ws != shownOn_ || ws->w != shownW_ || ws->h != shownH_;
    if (SDL_LockSurface(ws) != 0) return;
    if (whole) {
        // The bars beside the picture: painted once per layout, sent with the whole window.
        const auto bars = BarsBeside(pres_, ws->w, ws->h);
        SDL_FillRects(ws, bars.data(), static_cast<int>(bars.size()), 0);
    }
    const PixelLayout layout = LayoutOf(format_);
    const bool direct = ws->format->format == SDL_PIXELFORMAT_RGB888 && dst.x >= 0 && dst.y >= 0 &&
                        dst.x + dst.w <= ws->w && dst.y + dst.h <= ws->h;
    if (direct) {
        scaler_.Draw(pixels, pitch, width, height, layout, static_cast<uint8_t*>(ws->pixels),
                     ws->pitch, pres_);
        SDL_UnlockSurface(ws);
    } else {
        SDL_UnlockSurface(ws);
        // Another window format (a 16-bit desktop, one with alpha): the picture is scaled in
        // 32 bits and SDL converts it, so that it is filtered there too.
        if (!conv_ || conv_->w != dst.w || conv_->h != dst.h) {
            if (conv_) SDL_FreeSurface(conv_);
            conv_ = SDL_CreateRGBSurfaceWithFormat(0, dst.w, dst.h, 32, SDL_PIXELFORMAT_RGB888);
            if (!conv_) return;
        }
        Presentation alone = pres_;
        alone.x = alone.y = 0;
        scaler_.Draw(pixels, pitch, width, height, layout, static_cast<uint8_t*>(conv_->pixels),
                     conv_->pitch, alone);
        SDL_Rect to = dst;
        SDL_BlitSurface(conv_, nullptr, ws, &to);
    }
    if (whole) {
        if (SDL_UpdateWindowSurface(window_->Handle()) != 0) return;
        sendWhole_ = false;
        shownOn_ = ws, shownW_ = ws->w, shownH_ = ws->h;
    } else {
        SDL_UpdateWindowSurfaceRects(window_->Handle(), &dst, 1);
    }
}

#if ZX_SHARED_IMAGES
bool DirectDraw::PresentShared(const uint8_t* pixels, int pitch, int width, int height) {
    const Presentation& p = pres_;
    if (outW_ <= 0 || outH_ <= 0 || p.w <= 0 || p.h <= 0) return true;  // nothing to show
    const SharedImages::Canvas c = images_->Next(p.w, p.h);
    if (!c.pixels) return false;
    Presentation alone = p;
    alone.x = alone.y = 0;
    scaler_.Draw(pixels, pitch, width, height, LayoutOf(format_), c.pixels, c.pitch, alone);
    if (sendWhole_) {
        // The bars beside the picture: painted by the display once per layout or uncovering.
        for (const SDL_Rect& r : BarsBeside(p, outW_, outH_)) images_->Clear(r.x, r.y, r.w, r.h);
        sendWhole_ = false;
    }
    return images_->Send(p.x, p.y);
}
#endif

void DirectDraw::SendWholeWindow() { sendWhole_ = true; }

void DirectDraw::SetScalingWays(const ScalingWays& ways) {
    ways_ = ways;
    ApplyScalingWays();
}

void DirectDraw::ApplyScalingWays() {
    ScalingWays ways = ways_;
#if ZX_SHARED_IMAGES
    // The display server copies one picture while the next is scaled: measured on two cores,
    // a core of its own makes the frame quicker than both scaling and fighting over them.
    if (images_ && ways.threads <= 0)
        ways.threads = std::max(
            1, static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u)) - 1);
#endif
    scaler_.SetWays(ways);
}

void DirectDraw::WaitForDisplay() {
#if ZX_SHARED_IMAGES
    if (images_) images_->Drain();
#endif
}

}  // namespace zx::platform
