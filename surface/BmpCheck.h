#pragma once
// A look at a BMP file's header before anything is decoded: the decoder sizes its pixel buffer
// from the header alone, so a few hundred bytes claiming a picture of gigabytes would make it ask
// for that much memory. Sheets and masks are small; a header is taken only when the file can
// hold what it claims and the picture stays within a sheet's bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zx {

struct TBmpHeader {
    int32_t Width = 0;
    int32_t Height = 0;  // rows, whatever their order in the file
    int Bits = 0;
    uint32_t Compression = 0;
};

// The largest picture a sheet or mask may be: sides and pixel count.
inline constexpr int32_t kBmpMaxSide = 16384;
inline constexpr int64_t kBmpMaxPixels = int64_t{1} << 24;

// Reads and checks the header. Returns an empty text when the file may be decoded, otherwise
// why not; header receives what was read either way.
std::string CheckBmpHeader(const uint8_t* data, size_t size, TBmpHeader& header);

// An 8-bit alpha mask for a sheet of width by height pixels (0: no sheet to match), one byte per
// pixel in rows of a stride rounded up to four bytes; empty when the file is no readable BMP.
// Raises Exception naming the file when the mask is not 8 bits or not of the sheet's size; both
// are judged from the header, before anything is decoded.
std::vector<uint8_t> DecodeMask(const std::vector<uint8_t>& bytes, int32_t width, int32_t height,
                                const std::string& fileName);

}  // namespace zx
