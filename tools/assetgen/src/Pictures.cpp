// The full pictures: the scrolling cave background, the info picture shown when the player leaves,
// and the two launcher pictures.
#include "Pictures.h"

#include <turbojpeg.h>

#include <algorithm>
#include <stdexcept>

#include "Art.h"
#include "Bmp.h"

namespace assetgen {

namespace {

void WriteJpeg(cairo_surface_t* s, const std::string& path) {
    cairo_surface_flush(s);
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    const uint8_t* d = cairo_image_surface_get_data(s);
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<const uint32_t*>(d + size_t(y) * stride);
        for (int x = 0; x < w; ++x) {
            uint32_t v = row[x];
            uint8_t* o = &rgb[(size_t(y) * w + x) * 3];
            o[0] = uint8_t(v >> 16);
            o[1] = uint8_t(v >> 8);
            o[2] = uint8_t(v);
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    int rc = tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &buf, &size, TJSAMP_444, 92,
                         TJFLAG_ACCURATEDCT);
    if (rc != 0) {
        tjDestroy(tj);
        throw std::runtime_error("JPEG encoding failed for " + path);
    }
    WriteFileBytes(path, std::vector<uint8_t>(buf, buf + size));
    tjFree(buf);
    tjDestroy(tj);
}

cairo_surface_t* Opaque(int w, int h) {
    return cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
}

// The cave wall seen from inside: folds of tissue lit by a warm glow along the middle of the
// tunnel. Every noise used wraps at `w` so that the picture joins itself when it scrolls.
void PaintCaveWall(cairo_surface_t* s, uint64_t seed, double glow) {
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    cairo_surface_flush(s);
    int stride = cairo_image_surface_get_stride(s) / 4;
    auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
    const double cells = 8;  // lattice cells across the width at the base frequency
    Noise n1(seed, 512, 512), n2(seed + 1, 512, 512), n3(seed + 2, 512, 512);
    const int wc = int(cells);
    auto nx = [&](double x) { return x / w * cells; };
    Rgb deep = Hex(0x1A0210), wall = Hex(0x6A1026), warm = Hex(0xC83A4A), hot = Hex(0xFF9A7A),
        purple = Hex(0x3A0A3A);
    for (int y = 0; y < h; ++y) {
        double v = (y - h / 2.0) / (h / 2.0);  // -1 top .. 1 bottom
        for (int x = 0; x < w; ++x) {
            double X = nx(x);
            // Folds: ridges running mostly up and down, bent by noise.
            double warp = n1.FbmWrap(X, y / 90.0, 3, wc) * 2.2;
            double fold = 0.5 + 0.5 * std::sin((X * 2 + warp) * 2 * kPi / 2.0 * 1.0);
            double fine = n2.FbmWrap(X * 4, y / 30.0, 4, wc * 4);
            double vein =
                std::pow(1 - std::fabs(2 * n3.FbmWrap(X * 2, y / 55.0, 3, wc * 2) - 1), 5);
            double tunnel = std::exp(-v * v * 2.2);  // bright along the middle
            double light = glow * (0.25 + 0.75 * tunnel);
            Rgb c = Mix(deep, wall, Clamp01(0.25 + 0.55 * fold + 0.3 * (fine - 0.5)));
            c = Mix(c, warm, Clamp01(light * (0.35 + 0.45 * fold)));
            c = Mix(c, hot, Clamp01(std::pow(tunnel, 6) * glow * 0.35 * (0.6 + 0.8 * fine)));
            c = Mix(c, purple, Clamp01(std::fabs(v) * std::fabs(v) * 0.9));
            c = Mix(c, Hex(0x3A0838), vein * 0.35);
            double dark = 0.55 + 0.45 * (1 - v * v);
            c = {c.r * dark, c.g * dark, c.b * dark};
            auto u8 = [](double t) { return uint32_t(std::clamp(t, 0.0, 1.0) * 255 + 0.5); };
            px[y * stride + x] = 0xFF000000u | (u8(c.r) << 16) | (u8(c.g) << 8) | u8(c.b);
        }
    }
    cairo_surface_mark_dirty(s);
}

// Soft floating cells, drawn three times across the seam so that they wrap.
void FloatingCells(cairo_t* cr, int w, int h, uint64_t seed, int count, bool wrap) {
    Rng rng(seed);
    for (int i = 0; i < count; ++i) {
        double x = rng.Range(0, w), y = rng.Range(h * 0.1, h * 0.9), r = rng.Range(3, 16);
        double a = rng.Range(0.08, 0.25);
        for (int dx = wrap ? -1 : 0; dx <= (wrap ? 1 : 0); ++dx) {
            double cx = x + dx * w;
            cairo_pattern_t* p =
                cairo_pattern_create_radial(cx - r * 0.3, y - r * 0.3, 0, cx, y, r);
            cairo_pattern_add_color_stop_rgba(p, 0, 1, 0.8, 0.75, a * 1.6);
            cairo_pattern_add_color_stop_rgba(p, 0.7, 1, 0.5, 0.55, a);
            cairo_pattern_add_color_stop_rgba(p, 1, 1, 0.4, 0.5, 0);
            cairo_set_source(cr, p);
            cairo_arc(cr, cx, y, r, 0, 2 * kPi);
            cairo_fill(cr);
            cairo_pattern_destroy(p);
        }
    }
}

void Vignette(cairo_t* cr, int w, int h, double strength) {
    cairo_pattern_t* p = cairo_pattern_create_radial(w / 2.0, h / 2.0, std::min(w, h) * 0.3,
                                                     w / 2.0, h / 2.0, std::hypot(w, h) * 0.55);
    cairo_pattern_add_color_stop_rgba(p, 0, 0, 0, 0, 0);
    cairo_pattern_add_color_stop_rgba(p, 1, 0.05, 0, 0.03, strength);
    cairo_set_source(cr, p);
    cairo_paint(cr);
    cairo_pattern_destroy(p);
}

void RoundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

void Panel(cairo_t* cr, double x, double y, double w, double h, double r, double alpha) {
    RoundRect(cr, x, y, w, h, r);
    cairo_set_source_rgba(cr, 0.10, 0.0, 0.06, alpha);
    cairo_fill_preserve(cr);
    cairo_set_source_rgba(cr, 1, 0.6, 0.7, 0.7);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
}

void StartButton(cairo_t* cr, double x, double y, double w, double h) {
    RoundRect(cr, x, y, w, h, h / 2);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, y, 0, y + h);
    Stop(p, 0, Hex(0xFFB0C8));
    Stop(p, 0.45, Hex(0xF0406E));
    Stop(p, 1, Hex(0x7A0A30));
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    SetRgb(cr, Hex(0xFFE8A0));
    cairo_set_line_width(cr, 2.5);
    cairo_stroke(cr);
    RoundRect(cr, x + 6, y + 4, w - 12, h * 0.42, h * 0.2);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.28);
    cairo_fill(cr);
    TitleStyle st;
    st.outlineW = 2;
    st.glowRadius = 0;
    int sw = cairo_image_surface_get_width(cairo_get_target(cr)),
        sh = cairo_image_surface_get_height(cairo_get_target(cr));
    DrawTitleText(cr, sw, sh, "START", "DejaVu Sans", true, x + w / 2, y + h / 2, w - 40, h - 22,
                  st);
}

void DrawCondomFront(cairo_t* cr, double cx, double cy, double r) {
    cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
    cairo_arc_negative(cr, cx, cy, r * 0.72, 2 * kPi, 0);
    cairo_pattern_t* p =
        cairo_pattern_create_radial(cx - r * 0.3, cy - r * 0.4, r * 0.1, cx, cy, r * 1.05);
    Stop(p, 0, Hex(0xFFFAE0));
    Stop(p, 0.7, Hex(0xF0C070));
    Stop(p, 1, Hex(0x9A5A20));
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    cairo_arc(cr, cx, cy, r * 0.72, 0, 2 * kPi);
    cairo_set_source_rgba(cr, 1, 0.92, 0.8, 0.45);
    cairo_fill(cr);
    cairo_arc(cr, cx, cy, r * 0.2, 0, 2 * kPi);
    SetRgb(cr, Hex(0xFFF2D0));
    cairo_fill(cr);
}

cairo_surface_t* Back() {
    const int w = 800, h = 600;
    cairo_surface_t* s = Opaque(w, h);
    PaintCaveWall(s, 4242, 1.0);
    cairo_t* cr = cairo_create(s);
    FloatingCells(cr, w, h, 77, 40, true);
    cairo_destroy(cr);
    return s;
}

cairo_surface_t* Info() {
    const int w = 800, h = 600;
    cairo_surface_t* s = Opaque(w, h);
    PaintCaveWall(s, 5151, 0.8);
    cairo_t* cr = cairo_create(s);
    FloatingCells(cr, w, h, 91, 30, false);
    Vignette(cr, w, h, 0.6);
    // A caught swimmer, safely wrapped, above the message.
    DrawObjectFrame(cr, "Kondom", 303, 75, 3, 400, 78, 1.25);
    Panel(cr, 70, 150, 660, 330, 28, 0.72);
    TitleStyle st;
    st.outlineW = 3;
    st.glowRadius = 6;
    DrawTitleText(cr, w, h, "Protect yourself.", "DejaVu Sans", true, 400, 222, 450, 62, st);
    TitleStyle st2;
    st2.top = Hex(0xFFE8F0);
    st2.bottom = Hex(0xFF5A88);
    st2.glow = Hex(0xFF3070);
    st2.outlineW = 3;
    st2.glowRadius = 6;
    DrawTitleText(cr, w, h, "Use a condom.", "DejaVu Sans", true, 400, 300, 420, 58, st2);
    DrawCondomFront(cr, 135, 262, 36);
    DrawCondomFront(cr, 665, 262, 36);
    TitleStyle small;
    small.top = Hex(0xFFFFFF);
    small.bottom = Hex(0xFFD8C8);
    small.outlineW = 1.5;
    small.glowRadius = 0;
    DrawTitleText(cr, w, h, "Safer sex protects you against HIV and other infections.",
                  "DejaVu Sans", false, 400, 376, 560, 22, small);
    DrawTitleText(cr, w, h, "Thanks for playing ZOLVEX!", "DejaVu Sans", false, 400, 432, 340, 26,
                  small);
    // Swimmers and a virus drifting off at the bottom.
    DrawSperm(cr, 300, 540, 200, 0.8, 0.5, false, 0.8);
    DrawSperm(cr, 640, 565, 200, 0.7, 2.0, false, 0.7);
    DrawObjectFrame(cr, "virus2", 58, 60, 2, 55, 505, 0.9);
    DrawObjectFrame(cr, "virus3", 87, 68, 5, 730, 520, 0.8);
    cairo_destroy(cr);
    return s;
}

// scale 2 draws the same picture for desktops at twice the density.
cairo_surface_t* Menue(bool net, int scale = 1) {
    const int w = 400, h = 340;
    cairo_surface_t* s = Opaque(w * scale, h * scale);
    PaintCaveWall(s, net ? 6363 : 6262, 0.9);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, scale, scale);
    FloatingCells(cr, w, h, 13, 18, false);
    Vignette(cr, w, h, 0.55);
    TitleStyle st;
    st.top = Hex(0xFFF6D8);
    st.bottom = Hex(0xFF3A6A);
    st.glow = Hex(0xFF3070);
    st.outlineW = 3;
    st.glowRadius = 5;
    if (net) {
        DrawTitleText(cr, w, h, "Z O L V E X", "URW Gothic", true, 200, 27, 300, 34, st);
        // The frame that the online start page is shown in.
        const double fx = 52, fy = 53, fw = 292, fh = 171;
        RoundRect(cr, fx - 6, fy - 6, fw + 12, fh + 12, 10);
        cairo_pattern_t* p = cairo_pattern_create_linear(0, fy - 6, 0, fy + fh + 6);
        Stop(p, 0, Hex(0xFFD0A0));
        Stop(p, 0.5, Hex(0xC04060));
        Stop(p, 1, Hex(0x601040));
        cairo_set_source(cr, p);
        cairo_fill(cr);
        cairo_pattern_destroy(p);
        cairo_rectangle(cr, fx - 1, fy - 1, fw + 2, fh + 2);
        SetRgb(cr, Hex(0x2A0418));
        cairo_fill(cr);
        cairo_rectangle(cr, fx, fy, fw, fh);
        SetRgb(cr, Hex(0x1A0410));
        cairo_fill(cr);
        TitleStyle small;
        small.outlineW = 1;
        small.glowRadius = 0;
        small.top = Hex(0xFFC0D0);
        small.bottom = Hex(0xC06080);
        DrawTitleText(cr, w, h, "loading news ...", "DejaVu Sans", false, fx + fw / 2, fy + fh / 2,
                      150, 18, small);
        TitleStyle pw;
        pw.outlineW = 1.5;
        pw.glowRadius = 2;
        DrawTitleText(cr, w, h, "Play and win!", "DejaVu Sans", true, 200, 240, 150, 18, pw, true);
    } else {
        DrawTitleText(cr, w, h, "Z O L V E X", "URW Gothic", true, 200, 48, 340, 54, st);
        TitleStyle pw;
        pw.outlineW = 2;
        pw.glowRadius = 3;
        DrawTitleText(cr, w, h, "Play and win!", "DejaVu Sans", true, 200, 100, 200, 26, pw, true);
        // The chase: swimmers and viruses heading for the cannon on the right.
        DrawSperm(cr, 235, 150, 170, 0.72, 0.3, false);
        DrawSperm(cr, 195, 196, 150, 0.66, 2.2, true);
        DrawSperm(cr, 250, 232, 160, 0.68, 4.0, false);
        DrawObjectFrame(cr, "virus1", 78, 58, 4, 58, 262, 0.8);
        DrawObjectFrame(cr, "virus2", 58, 60, 7, 318, 138, 0.7);
        DrawObjectFrame(cr, "Rohr", 111, 93, 1, 352, 196, 0.78);
        DrawObjectFrame(cr, "Schuss", 24, 79, 0, 298, 196, 0.5);
        DrawBubble(cr, 45, 140, 10, 10);
        DrawBubble(cr, 150, 242, 6, 6);
        DrawBubble(cr, 370, 126, 7, 7);
    }
    StartButton(cr, 124, 256, 157, 53);
    cairo_destroy(cr);
    return s;
}

}  // namespace

void WritePictures(const std::string& stageDir) {
    struct Item {
        const char* name;
        cairo_surface_t* (*make)();
    };
    const Item items[] = {{"BACK", Back},
                          {"INFO", Info},
                          {"MENUE", [] { return Menue(false); }},
                          {"MENUE_NET", [] { return Menue(true); }},
                          {"MENUE2X", [] { return Menue(false, 2); }},
                          {"MENUE_NET2X", [] { return Menue(true, 2); }}};
    for (const Item& it : items) {
        cairo_surface_t* s = it.make();
        WriteJpeg(s, stageDir + "/" + it.name + ".jpg");
        cairo_surface_destroy(s);
    }
}

}  // namespace assetgen
