#pragma once
// Shared pieces of the asset generator: the sheet list, a seeded random source, periodic noise
// and small colour helpers. Everything here is deterministic so that two runs give the same bytes.
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace assetgen {

constexpr double kPi = 3.14159265358979323846;

struct SheetSpec {
    std::string name;
    int frameW = 0, frameH = 0, images = 0, cols = 0, rows = 0;
    int bits = 24;
    bool mask = false;
    int SheetW() const { return frameW * cols; }
    int SheetH() const { return frameH * rows; }
};

std::vector<SheetSpec> ReadSheetList(const std::string& path);

// SplitMix64: tiny, fast and the same on every machine.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t Next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Real() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Range(double a, double b) { return a + (b - a) * Real(); }
    int Int(int n) { return int(Next() % uint64_t(n)); }

private:
    uint64_t s_;
};

// Value noise on an integer lattice that wraps every `period` cells in x (and y), so pictures that
// scroll and wrap have no seam.
class Noise {
public:
    Noise(uint64_t seed, int periodX = 256, int periodY = 256);
    double At(double x, double y) const;  // 0..1
    double Fbm(double x, double y, int octaves, double falloff = 0.5) const;
    // As Fbm, but every octave wraps where x reaches wrapX (in base-octave cells), so the result
    // tiles horizontally without repeating inside one tile. wrapX << octaves must fit the grid.
    double FbmWrap(double x, double y, int octaves, int wrapX) const;

private:
    double Lattice(int x, int y) const;
    double AtWrap(double x, double y, int wrapX) const;
    std::vector<float> grid_;
    int px_, py_;
};

struct Rgb {
    double r = 0, g = 0, b = 0;
};
inline Rgb Mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
inline Rgb Hex(uint32_t v) {
    return {((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0};
}
inline double Clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
inline double Smooth(double e0, double e1, double x) {
    double t = Clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}
inline void SetRgb(cairo_t* cr, Rgb c, double a = 1.0) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, a);
}
inline void Stop(cairo_pattern_t* p, double off, Rgb c, double a = 1.0) {
    cairo_pattern_add_color_stop_rgba(p, off, c.r, c.g, c.b, a);
}

// Blurs an ARGB32 surface in place (three box passes, close to a Gaussian).
void BlurSurface(cairo_surface_t* s, int radius);

// Text helpers on the toy font interface (fontconfig picks the face).
void TextPathCentered(cairo_t* cr, const std::string& text, const char* family, bool bold,
                      double cx, double cy, double maxW, double maxH, bool italic = false);

// Paints text as a glossy title: dark outline, warm gradient fill and a soft glow.
struct TitleStyle {
    Rgb top = Hex(0xFFF1C8), bottom = Hex(0xF06A3A), outline = Hex(0x3A0614), glow = Hex(0xFF4060);
    double outlineW = 3.0, glowRadius = 4.0, glowAlpha = 0.8;
};
void DrawTitleText(cairo_t* cr, int w, int h, const std::string& text, const char* family,
                   bool bold, double cx, double cy, double maxW, double maxH, const TitleStyle& st,
                   bool italic = false);

}  // namespace assetgen
