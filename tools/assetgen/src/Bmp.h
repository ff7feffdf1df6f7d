#pragma once
// Sheet pixels as the game will see them, and the BMP files they are stored in.
#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace assetgen {

struct Pixels {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;    // w*h*3, top row first
    std::vector<uint8_t> alpha;  // w*h, 0 transparent .. 255 opaque
};

// Turns a drawn (premultiplied) surface into key-coloured pixels. With a mask, every pixel that the
// mask lets through at all keeps its colour; without one, the edge is cut at half coverage. Visible
// pixels are kept off black even after reduction to 5-6-5 bits, because black is the colour key.
Pixels FromSurface(cairo_surface_t* s, bool withMask);

// Bumps a visible colour that would vanish into the colour key at 16 bits.
void KeepOffKey(uint8_t& r, uint8_t& g, uint8_t& b);

void WriteBmp24(const std::string& path, const Pixels& p);
// Reduces to at most 255 colours plus black (index 0) by median cut.
void WriteBmp8(const std::string& path, const Pixels& p);
void WriteMaskBmp(const std::string& path, const Pixels& p);

// Reads back an 8- or 24-bit BMP (for the review sheet): rgb filled, alpha left empty.
bool ReadBmp(const std::string& path, Pixels& out, int& bits);

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace assetgen
