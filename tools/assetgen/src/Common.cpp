#include "Common.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace assetgen {

std::vector<SheetSpec> ReadSheetList(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<SheetSpec> list;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ss(line);
        SheetSpec s;
        std::string mask;
        if (!(ss >> s.name >> s.frameW >> s.frameH >> s.images >> s.cols >> s.rows >> s.bits >>
              mask))
            throw std::runtime_error("bad sheet line: " + line);
        s.mask = mask == "mask";
        list.push_back(s);
    }
    return list;
}

Noise::Noise(uint64_t seed, int periodX, int periodY)
    : grid_(size_t(periodX) * periodY), px_(periodX), py_(periodY) {
    Rng r(seed);
    for (auto& v : grid_) v = float(r.Real());
}

double Noise::Lattice(int x, int y) const {
    x %= px_;
    if (x < 0) x += px_;
    y %= py_;
    if (y < 0) y += py_;
    return grid_[size_t(y) * px_ + x];
}

double Noise::At(double x, double y) const {
    int ix = int(std::floor(x)), iy = int(std::floor(y));
    double fx = x - ix, fy = y - iy;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    double a = Lattice(ix, iy), b = Lattice(ix + 1, iy), c = Lattice(ix, iy + 1),
           d = Lattice(ix + 1, iy + 1);
    return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

double Noise::Fbm(double x, double y, int octaves, double falloff) const {
    double sum = 0, amp = 1, norm = 0, f = 1;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * At(x * f + i * 17.0, y * f + i * 31.0);
        norm += amp;
        amp *= falloff;
        f *= 2;
    }
    return sum / norm;
}

double Noise::AtWrap(double x, double y, int wrapX) const {
    int ix = int(std::floor(x)), iy = int(std::floor(y));
    double fx = x - ix, fy = y - iy;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    auto L = [&](int a, int b) {
        a %= wrapX;
        if (a < 0) a += wrapX;
        return Lattice(a, b);
    };
    double a = L(ix, iy), b = L(ix + 1, iy), c = L(ix, iy + 1), d = L(ix + 1, iy + 1);
    return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

double Noise::FbmWrap(double x, double y, int octaves, int wrapX) const {
    double sum = 0, amp = 1, norm = 0, f = 1;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * AtWrap(x * f, y * f + i * 31.0, wrapX << i);
        norm += amp;
        amp *= 0.5;
        f *= 2;
    }
    return sum / norm;
}

// One horizontal and one vertical box pass over premultiplied ARGB.
static void BoxPass(uint32_t* px, int w, int h, int stride, int r, bool horizontal) {
    int n = horizontal ? w : h, lines = horizontal ? h : w;
    std::vector<uint32_t> line(static_cast<size_t>(n));
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> uint32_t& {
            return horizontal ? px[l * stride + i] : px[i * stride + l];
        };
        for (int i = 0; i < n; ++i) line[size_t(i)] = at(i);
        int acc[4] = {0, 0, 0, 0};
        auto add = [&](int i, int sign) {
            if (i < 0 || i >= n) return;
            uint32_t v = line[size_t(i)];
            for (int c = 0; c < 4; ++c) acc[c] += sign * int((v >> (8 * c)) & 255);
        };
        for (int i = -r; i <= r; ++i) add(i, 1);
        int span = 2 * r + 1;
        for (int i = 0; i < n; ++i) {
            uint32_t o = 0;
            for (int c = 0; c < 4; ++c) o |= uint32_t(acc[c] / span) << (8 * c);
            at(i) = o;
            add(i - r, -1);
            add(i + r + 1, 1);
        }
    }
}

void BlurSurface(cairo_surface_t* s, int radius) {
    if (radius <= 0) return;
    cairo_surface_flush(s);
    auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s) / 4;
    int r = std::max(1, radius / 2);
    for (int pass = 0; pass < 3; ++pass) {
        BoxPass(px, w, h, stride, r, true);
        BoxPass(px, w, h, stride, r, false);
    }
    cairo_surface_mark_dirty(s);
}

void TextPathCentered(cairo_t* cr, const std::string& text, const char* family, bool bold,
                      double cx, double cy, double maxW, double maxH, bool italic) {
    cairo_select_font_face(cr, family, italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 100);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    double scale = std::min(maxW / std::max(1.0, e.width), maxH / std::max(1.0, e.height));
    cairo_set_font_size(cr, 100 * scale);
    cairo_text_extents(cr, text.c_str(), &e);
    cairo_move_to(cr, cx - e.width / 2 - e.x_bearing, cy - e.height / 2 - e.y_bearing);
    cairo_text_path(cr, text.c_str());
}

void DrawTitleText(cairo_t* cr, int w, int h, const std::string& text, const char* family,
                   bool bold, double cx, double cy, double maxW, double maxH, const TitleStyle& st,
                   bool italic) {
    if (st.glowRadius > 0) {
        cairo_surface_t* glow = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        cairo_t* g = cairo_create(glow);
        TextPathCentered(g, text, family, bold, cx, cy, maxW, maxH, italic);
        SetRgb(g, st.glow);
        cairo_set_line_width(g, st.outlineW * 2 + 1);
        cairo_set_line_join(g, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke_preserve(g);
        cairo_fill(g);
        cairo_destroy(g);
        BlurSurface(glow, int(st.glowRadius * 2));
        cairo_set_source_surface(cr, glow, 0, 0);
        cairo_paint_with_alpha(cr, st.glowAlpha);
        cairo_surface_destroy(glow);
    }
    TextPathCentered(cr, text, family, bold, cx, cy, maxW, maxH, italic);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    SetRgb(cr, st.outline);
    cairo_set_line_width(cr, st.outlineW * 2);
    cairo_stroke_preserve(cr);
    double top = cy - maxH / 2, bot = cy + maxH / 2;
    cairo_pattern_t* p = cairo_pattern_create_linear(0, top, 0, bot);
    Stop(p, 0, st.top);
    Stop(p, 0.55, Mix(st.top, st.bottom, 0.6));
    Stop(p, 1, st.bottom);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    // A thin wet highlight along the upper half of the letters.
    cairo_save(cr);
    cairo_clip(cr);
    cairo_pattern_t* hl = cairo_pattern_create_linear(0, top, 0, cy);
    cairo_pattern_add_color_stop_rgba(hl, 0, 1, 1, 1, 0.55);
    cairo_pattern_add_color_stop_rgba(hl, 1, 1, 1, 1, 0.0);
    cairo_set_source(cr, hl);
    cairo_rectangle(cr, 0, top, w, cy - top);
    cairo_fill(cr);
    cairo_pattern_destroy(hl);
    cairo_restore(cr);
    cairo_new_path(cr);
}

}  // namespace assetgen
