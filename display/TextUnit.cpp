#include "display/TextUnit.h"

#include <SDL_ttf.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"

namespace zx {

std::string TextFontName = "Arial";

namespace {

void EnsureTtf() {
    if (!TTF_WasInit() && TTF_Init() != 0)
        throw Exception(std::string("Cannot start text output: ") + TTF_GetError());
}

// Opened faces stay open for the run: text is drawn at set-up and when the HUD changes, and a
// handful of sizes are ever used.
struct FontCache {
    std::map<std::tuple<std::string, int32_t, bool, bool>, TTF_Font*> fonts;
    ~FontCache() {
        for (auto& [key, font] : fonts) TTF_CloseFont(font);
    }
};

TTF_Font* FontFor(const std::string& family, int32_t size, uint8_t style) {
    static FontCache cache;
    auto& fonts = cache.fonts;
    EnsureTtf();
    const bool bold = style & fsBold, italic = style & fsItalic;
    auto key = std::make_tuple(family, size, bold, italic);
    auto it = fonts.find(key);
    TTF_Font* font = it == fonts.end() ? nullptr : it->second;
    if (!font) {
        const std::string file = FontFileFor(family, style);
        if (file.empty()) throw Exception("Font not found: " + family);
        font = TTF_OpenFontDPI(file.c_str(), std::max(size, 1), 96, 96);
        if (!font) throw Exception("Cannot open font " + file + ": " + TTF_GetError());
        fonts[key] = font;
    }
    int ttfStyle = TTF_STYLE_NORMAL;
    if (style & fsUnderline) ttfStyle |= TTF_STYLE_UNDERLINE;
    if (style & fsStrikeOut) ttfStyle |= TTF_STYLE_STRIKETHROUGH;
    if (TTF_GetFontStyle(font) != ttfStyle) TTF_SetFontStyle(font, ttfStyle);
    return font;
}

uint8_t Expand(uint32_t p, uint32_t mask) {
    if (!mask) return 0;
    const int shift = __builtin_ctz(mask);
    return static_cast<uint8_t>(((p & mask) >> shift) * 255 / (mask >> shift));
}

// Text rendered once in a colour, then laid onto the surface at any offset by its coverage.
// A covered pixel never becomes the key value 0, so sheets that are colour-keyed afterwards
// get no holes in their letters.
class RenderedText {
public:
    RenderedText(TTF_Font* font, const std::string& text, uint32_t colourRef) {
        if (text.empty()) return;
        SDL_Color c{static_cast<Uint8>(colourRef & 0xFF),
                    static_cast<Uint8>((colourRef >> 8) & 0xFF),
                    static_cast<Uint8>((colourRef >> 16) & 0xFF), 255};
        SDL_Surface* s = TTF_RenderUTF8_Blended(font, text.c_str(), c);
        if (!s) return;
        glyphs_ = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0);
        SDL_FreeSurface(s);
        rgb_ = (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
    }
    ~RenderedText() {
        if (glyphs_) SDL_FreeSurface(glyphs_);
    }
    RenderedText(const RenderedText&) = delete;
    RenderedText& operator=(const RenderedText&) = delete;

    void DrawOn(SDL_Surface* dc, const platform::PixelFormat& f, int bpp, int px, int py) const {
        if (!glyphs_) return;
        const int r0 = (rgb_ >> 16) & 0xFF, g0 = (rgb_ >> 8) & 0xFF, b0 = rgb_ & 0xFF;
        for (int y = std::max(0, -py); y < glyphs_->h && py + y < dc->h; ++y) {
            const uint32_t* srow = reinterpret_cast<const uint32_t*>(
                static_cast<const uint8_t*>(glyphs_->pixels) + y * glyphs_->pitch);
            uint8_t* drow =
                static_cast<uint8_t*>(dc->pixels) + static_cast<ptrdiff_t>(py + y) * dc->pitch;
            for (int x = std::max(0, -px); x < glyphs_->w && px + x < dc->w; ++x) {
                const int a = static_cast<int>(srow[x] >> 24);
                if (a == 0) continue;
                uint8_t* p = drow + static_cast<ptrdiff_t>(px + x) * bpp;
                uint32_t out;
                if (a == 255) {
                    out = platform::PackColour(f, rgb_);
                } else {
                    const uint32_t d = platform::ReadPixel(p, bpp);
                    const int dr = Expand(d, f.rMask), dg = Expand(d, f.gMask),
                              db = Expand(d, f.bMask);
                    const uint32_t r = static_cast<uint32_t>((r0 * a + dr * (255 - a) + 127) / 255);
                    const uint32_t g = static_cast<uint32_t>((g0 * a + dg * (255 - a) + 127) / 255);
                    const uint32_t b = static_cast<uint32_t>((b0 * a + db * (255 - a) + 127) / 255);
                    out = platform::PackColour(f, (r << 16) | (g << 8) | b) |
                          (d & ~(f.rMask | f.gMask | f.bMask));
                }
                if ((out & (f.rMask | f.gMask | f.bMask)) == 0) out |= f.bMask & (~f.bMask + 1);
                platform::WritePixel(p, bpp, out);
            }
        }
    }

private:
    SDL_Surface* glyphs_ = nullptr;
    uint32_t rgb_ = 0;
};

void TextSize(TTF_Font* font, const std::string& text, int& w, int& h) {
    w = 0;
    h = TTF_FontHeight(font);
    if (!text.empty() && TTF_SizeUTF8(font, text.c_str(), &w, &h) != 0)
        throw Exception(TTF_GetError());
}

}  // namespace

void MeasureText(const std::string& text, const std::string& fontName, int32_t size, uint8_t style,
                 int& width, int& height) {
    TextSize(FontFor(fontName, size, style), text, width, height);
}

void Printtosurface(int32_t x, int32_t y, int32_t marginA, int32_t marginB, int32_t marginC,
                    int32_t marginD, const std::string& text, uint8_t hAlign, uint8_t vAlign,
                    uint32_t colour, uint8_t outline, const std::string& fontName, int32_t size,
                    uint8_t style, DirectDrawSurface* surface) {
    int32_t limitX = 0, limitY = 0, bmpW = 0, bmpH = 0;
    try {
        TDDCanvas canvas(surface);
        bmpW = surface->Width(), bmpH = surface->Height();
        limitX = bmpW - marginA - marginB;
        limitY = bmpH - marginC - marginD;
        int32_t s = size, px = x, py = y;
        TTF_Font* font = nullptr;
        for (;;) {
            font = FontFor(fontName, s, style);
            int tw = 0, th = 0;
            TextSize(font, text, tw, th);
            const int32_t w = tw + 2 * outline, h = th + 2 * outline;
            px = hAlign == 1 ? x - w : hAlign == 2 ? x - w / 2 : x;
            py = vAlign == 1 ? y - h / 2 : vAlign == 2 ? y - h : y;
            if (px + w <= limitX && py + h <= limitY) break;
            // Size 5 is the smallest tried; a request already at or below it is drawn as asked.
            if (s - 1 <= 4) break;
            --s;
        }
        SDL_Surface* dc = canvas.DC();
        platform::PixelFormat f;
        DDCheckNoLost(surface->GetPixelFormat(f));
        const int bpp = surface->BytesPerPixel();
        if (outline > 0) {
            const uint32_t sum = (colour & 0xFF) + ((colour >> 8) & 0xFF) + ((colour >> 16) & 0xFF);
            const RenderedText edge(font, text, sum > 128 ? 0x0F0F0F : 0xFFFFFF);
            for (int dx = -outline; dx <= outline; ++dx)
                for (int dy = -outline; dy <= outline; ++dy)
                    if (dx != 0 || dy != 0) edge.DrawOn(dc, f, bpp, px + dx, py + dy);
        }
        const RenderedText face(font, text, colour);
        face.DrawOn(dc, f, bpp, px, py);
    } catch (const Exception& e) {
        WriteLog("Error in Printtosurface: " + e.Message() + " (" + text + "," +
                 std::to_string(limitX) + "," + std::to_string(limitY) + "," +
                 std::to_string(bmpH) + "," + std::to_string(bmpW) + ")");
        throw;
    }
}

void PrintText(int32_t x, int32_t y, const std::string& text, uint8_t hAlign, uint8_t vAlign,
               uint32_t colour, uint8_t outline, const std::string& fontName, int32_t size,
               uint8_t style, DirectDrawSurface* surface) {
    Printtosurface(x, y, 0, 0, 0, 0, text, hAlign, vAlign, colour, outline, fontName, size, style,
                   surface);
}

void Paintnumbertosurface(int32_t value, uint8_t digits, int targetSprite, int digitSprite,
                          uint8_t align) {
    const std::string text = ZeroPadInt(value, digits);
    const int tf = FrameOf(targetSprite, 0, 0);
    const int df = FrameOf(digitSprite, 0, 0);
    if (tf < 1 || tf > FrameCount || df < 1 || df > FrameCount)
        throw Exception("Paintnumbertosurface: sprite without frames (" +
                        std::to_string(targetSprite) + "," + std::to_string(digitSprite) + ")");
    const TFrame& target = Frames[static_cast<size_t>(tf)];
    DirectDrawSurface* sheet = Surfaces[static_cast<size_t>(target.SurfaceNo)].Surface.get();
    const int32_t wt = target.SrcW, ht = target.SrcH;
    const int32_t dw = Frames[static_cast<size_t>(df)].SrcW;
    const int32_t total = static_cast<int32_t>(text.size()) * dw;
    const int32_t x0 = align == 1 ? wt - total : align == 2 ? (wt - total) / 2 : 0;
    ColorFill(sheet, 0, 0, wt, ht, 0);
    if (text.size() > 6) return;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const int anim = c == '-' ? 10 : (c >= '0' && c <= '9') ? c - '0' : 0;
        try {
            DrawFrame(sheet, x0 + static_cast<int32_t>(i) * dw, 0, FrameOf(digitSprite, anim, 0),
                      platform::Rect{0, 0, DD.ScreenW - 1, DD.ScreenH - 1});
        } catch (const Exception& e) {
            WriteLog("Error in Paintnumbertosurface: " + e.Message() + " (" +
                     std::to_string(value) + "," + std::to_string(digits) + "," +
                     std::to_string(targetSprite) + "," + std::to_string(digitSprite) + "," + text +
                     ")");
            throw;
        }
    }
}

void DrawHintStrip(const std::string& text) {
    const int32_t s = DD.HintStripHeight, w = DD.ScreenW, h = DD.ScreenH;
    if (s == 0) return;
    DirectDrawSurface* image = DD.BackImage.get();
    {
        TDDCanvas canvas(image);
        SDL_Surface* dc = canvas.DC();
        SDL_Rect strip{0, h - s, w, s};
        SDL_FillRect(dc, &strip, 0);
        TTF_Font* font = FontFor("Arial", 8, fsBold);
        int tw = 0, th = 0;
        TextSize(font, text, tw, th);
        platform::PixelFormat f;
        DDCheckNoLost(image->GetPixelFormat(f));
        RenderedText(font, text, 0xFFFFFF)
            .DrawOn(dc, f, image->BytesPerPixel(), (w - tw) / 2, h - th);
    }
    BlitClipped(image, 0, h - s, w, s, FrontSurface(), 0, h - s, 0, 0, 0, w - 1, h - 1);
    BlitClipped(image, 0, h - s, w, s, BackBuffer(), 0, h - s, 0, 0, 0, w - 1, h - 1);
}

}  // namespace zx
