#include "surface/BmpCheck.h"

#include <SDL.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/Errors.h"

namespace zx {

namespace {

uint32_t U16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t U32(const uint8_t* p) { return U16(p) | U16(p + 2) << 16; }

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3;

}  // namespace

std::string CheckBmpHeader(const uint8_t* data, size_t size, TBmpHeader& h) {
    h = TBmpHeader{};
    if (size < 26 || data[0] != 'B' || data[1] != 'M') return "not a BMP file";
    const uint32_t offBits = U32(data + 10);
    const uint32_t infoSize = U32(data + 14);
    int64_t w = 0, rows = 0;
    if (infoSize == 12) {
        w = U16(data + 18);
        rows = U16(data + 20);
        h.Bits = static_cast<int>(U16(data + 24));
    } else if (infoSize >= 40 && size >= 54) {
        w = static_cast<int32_t>(U32(data + 18));
        rows = std::llabs(static_cast<int32_t>(U32(data + 22)));
        h.Bits = static_cast<int>(U16(data + 28));
        h.Compression = U32(data + 30);
    } else {
        return "unknown BMP header of " + std::to_string(infoSize) + " bytes";
    }
    h.Width = static_cast<int32_t>(std::min<int64_t>(w, INT32_MAX));
    h.Height = static_cast<int32_t>(std::min<int64_t>(rows, INT32_MAX));
    if (w <= 0 || rows <= 0) return "BMP of no pixels";
    if (w > kBmpMaxSide || rows > kBmpMaxSide || w * rows > kBmpMaxPixels)
        return "BMP header claims " + std::to_string(w) + " by " + std::to_string(rows) + " pixels";
    switch (h.Bits) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32: break;
        default: return "BMP of " + std::to_string(h.Bits) + " bits per pixel";
    }
    if (offBits > size) return "BMP pixels start beyond the end of the file";
    if (h.Compression == kRgb || h.Compression == kBitfields) {
        // The last row may lack its padding.
        const int64_t rowBytes = (w * h.Bits + 31) / 32 * 4;
        const int64_t need = rowBytes * (rows - 1) + (w * h.Bits + 7) / 8;
        if (static_cast<int64_t>(size - offBits) < need)
            return "BMP header claims " + std::to_string(w) + " by " + std::to_string(rows) +
                   " pixels, the file holds " + std::to_string(size) + " bytes";
    } else if (h.Compression != kRle8 && h.Compression != kRle4) {
        return "BMP compression " + std::to_string(h.Compression) + " not supported";
    }
    return {};
}

std::vector<uint8_t> DecodeMask(const std::vector<uint8_t>& bytes, int32_t width, int32_t height,
                                const std::string& fileName) {
    TBmpHeader h;
    const std::string why = CheckBmpHeader(bytes.data(), bytes.size(), h);
    // A 1- or 4-bit bitmap is widened to 8 bits by the decoder, so the stored bit count decides.
    if (h.Width > 0 && h.Bits != 8) throw Exception("Bitmap isn't 8bpp: " + fileName);
    // The blends read the map under every source pixel: a map of another size would run past it.
    if (width > 0 && h.Width > 0 && (h.Width != width || h.Height != height))
        throw Exception("Mask " + fileName + " doesn't match the size of its sheet");
    if (!why.empty()) return {};  // as a file that is no bitmap: the sheet goes without a mask
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    std::unique_ptr<SDL_Surface, void (*)(SDL_Surface*)> bmp(rw ? SDL_LoadBMP_RW(rw, 1) : nullptr,
                                                             SDL_FreeSurface);
    if (!bmp) return {};
    if (bmp->format->BytesPerPixel != 1) throw Exception("Bitmap isn't 8bpp: " + fileName);
    const int stride = (bmp->w + 3) & ~3;
    std::vector<uint8_t> mask(static_cast<size_t>(stride) * static_cast<size_t>(bmp->h), 0);
    for (int y = 0; y < bmp->h; ++y)
        std::memcpy(mask.data() + static_cast<size_t>(y) * static_cast<size_t>(stride),
                    static_cast<uint8_t*>(bmp->pixels) + static_cast<ptrdiff_t>(y) * bmp->pitch,
                    static_cast<size_t>(bmp->w));
    return mask;
}

}  // namespace zx
