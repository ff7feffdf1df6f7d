// The sprite art. Every object is drawn as vectors (Cairo) or shaded per pixel, frame by frame,
// from its frame number alone, so each animation loops cleanly through its frames.
#include "Art.h"

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>

namespace assetgen {

namespace {

const Rgb kOutline = Hex(0x3A0614);

// A tapered ribbon along a centre line: the tails, veins and snake shapes.
void RibbonPath(cairo_t* cr, const std::vector<std::pair<double, double>>& pts,
                const std::vector<double>& halfW) {
    size_t n = pts.size();
    std::vector<std::pair<double, double>> left(n), right(n);
    for (size_t i = 0; i < n; ++i) {
        size_t a = i == 0 ? 0 : i - 1, b = i + 1 < n ? i + 1 : n - 1;
        double dx = pts[b].first - pts[a].first, dy = pts[b].second - pts[a].second;
        double len = std::max(1e-6, std::hypot(dx, dy));
        double nx = -dy / len, ny = dx / len;
        left[i] = {pts[i].first + nx * halfW[i], pts[i].second + ny * halfW[i]};
        right[i] = {pts[i].first - nx * halfW[i], pts[i].second - ny * halfW[i]};
    }
    // One closed outline: down the left side, round the far end, back up the right side.
    cairo_new_path(cr);
    cairo_move_to(cr, left[0].first, left[0].second);
    for (size_t i = 1; i < n; ++i) cairo_line_to(cr, left[i].first, left[i].second);
    for (size_t i = n; i-- > 0;) cairo_line_to(cr, right[i].first, right[i].second);
    cairo_close_path(cr);
}

cairo_surface_t* NewSurface(int w, int h) {
    return cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
}

// Paints a soft halo of the given colour behind whatever `draw` paints in white.
void Halo(cairo_t* cr, int w, int h, Rgb colour, double alpha, int radius,
          const std::function<void(cairo_t*)>& draw) {
    cairo_surface_t* s = NewSurface(w, h);
    cairo_t* g = cairo_create(s);
    cairo_set_source_rgb(g, colour.r, colour.g, colour.b);
    draw(g);
    cairo_destroy(g);
    BlurSurface(s, radius);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_paint_with_alpha(cr, alpha);
    cairo_surface_destroy(s);
}

// ---------------------------------------------------------------- swimmers

void SpermTail(cairo_t* cr, double x0, double cy, double length, double scale, double phase) {
    const int n = 60;
    std::vector<std::pair<double, double>> pts;
    std::vector<double> hw;
    for (int i = 0; i <= n; ++i) {
        double t = double(i) / n;
        double amp = (1.5 + 15.0 * std::pow(t, 1.15)) * scale;
        double y = cy + amp * std::sin(2 * kPi * 1.25 * t - phase);
        pts.emplace_back(x0 - t * length, y);
        hw.push_back((4.2 * std::pow(1 - t, 1.6) + 0.7) * scale);
    }
    RibbonPath(cr, pts, hw);
}

}  // namespace

void DrawSperm(cairo_t* cr, double headX, double cy, double length, double scale, double phase,
               bool golden, double alpha) {
    Rgb light = golden ? Hex(0xFFF6C0) : Hex(0xFFF4F8);
    Rgb mid = golden ? Hex(0xF2B52E) : Hex(0xE6B8CE);
    Rgb dark = golden ? Hex(0x8A4A08) : Hex(0x8E4A70);
    double rx = 24 * scale, ry = 15 * scale;
    double headBob = std::sin(phase) * 1.2 * scale;
    double hy = cy + headBob;
    double neckX = headX - rx * 0.95;
    // Tail first, behind the head.
    SpermTail(cr, neckX - 10 * scale, hy, length, scale, phase);
    cairo_pattern_t* tp = cairo_pattern_create_linear(neckX, 0, neckX - length, 0);
    Stop(tp, 0, light, alpha);
    Stop(tp, 0.5, mid, alpha * 0.95);
    Stop(tp, 1, mid, alpha * 0.6);
    cairo_set_source(cr, tp);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(tp);
    SetRgb(cr, dark, 0.55 * alpha);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
    // Midpiece: a short thick neck joining tail and head.
    cairo_save(cr);
    cairo_translate(cr, neckX - 4 * scale, hy);
    cairo_scale(cr, 12 * scale, 5 * scale);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
    SetRgb(cr, mid, alpha);
    cairo_fill_preserve(cr);
    SetRgb(cr, dark, 0.6 * alpha);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    // Head: a glossy, slightly flattened drop, the broad end forward.
    cairo_save(cr);
    cairo_translate(cr, headX - rx * 0.15, hy);
    cairo_scale(cr, rx, ry);
    cairo_move_to(cr, -1.05, 0);
    cairo_curve_to(cr, -0.9, -0.75, 0.3, -1.05, 0.85, -0.55);
    cairo_curve_to(cr, 1.15, -0.25, 1.15, 0.25, 0.85, 0.55);
    cairo_curve_to(cr, 0.3, 1.05, -0.9, 0.75, -1.05, 0);
    cairo_close_path(cr);
    cairo_restore(cr);
    cairo_pattern_t* hp =
        cairo_pattern_create_radial(headX + rx * 0.2, hy - ry * 0.45, 1, headX, hy, rx * 1.2);
    Stop(hp, 0, Hex(0xFFFFFF), alpha);
    Stop(hp, 0.35, light, alpha);
    Stop(hp, 0.75, mid, alpha);
    Stop(hp, 1, dark, alpha);
    cairo_set_source(cr, hp);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(hp);
    SetRgb(cr, dark, 0.8 * alpha);
    cairo_set_line_width(cr, 1.3);
    cairo_stroke(cr);
    // Nucleus shadow and a bright cap at the front.
    cairo_save(cr);
    cairo_translate(cr, headX - rx * 0.3, hy + ry * 0.1);
    cairo_scale(cr, rx * 0.45, ry * 0.45);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
    SetRgb(cr, dark, 0.22 * alpha);
    cairo_fill(cr);
    cairo_save(cr);
    cairo_translate(cr, headX + rx * 0.25, hy - ry * 0.45);
    cairo_scale(cr, rx * 0.35, ry * 0.22);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.75 * alpha);
    cairo_fill(cr);
}

void DrawBubble(cairo_t* cr, double cx, double cy, double rx, double ry) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
    double r = std::max(rx, ry);
    cairo_pattern_t* p =
        cairo_pattern_create_radial(cx - rx * 0.2, cy - ry * 0.25, r * 0.05, cx, cy, r);
    cairo_pattern_add_color_stop_rgba(p, 0, 1.0, 0.85, 0.92, 0.10);
    cairo_pattern_add_color_stop_rgba(p, 0.7, 1.0, 0.70, 0.84, 0.22);
    cairo_pattern_add_color_stop_rgba(p, 0.92, 1.0, 0.86, 0.95, 0.65);
    cairo_pattern_add_color_stop_rgba(p, 1, 0.95, 0.65, 0.85, 0.9);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    cairo_set_source_rgba(cr, 1, 0.93, 0.97, 0.85);
    cairo_set_line_width(cr, std::max(0.6, r * 0.05));
    cairo_stroke(cr);
    // Window reflection top left, a faint one bottom right.
    cairo_save(cr);
    cairo_translate(cr, cx - rx * 0.38, cy - ry * 0.42);
    cairo_rotate(cr, -0.7);
    cairo_scale(cr, rx * 0.3, ry * 0.16);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.95);
    cairo_fill(cr);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, r * 0.72, 0.2 * kPi, 0.45 * kPi);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.5);
    cairo_set_line_width(cr, std::max(0.5, r * 0.07));
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_stroke(cr);
}

void DrawCondomRing(cairo_t* cr, double cx, double cy, double halfH, double thick) {
    // The rolled rim seen edge-on: a thick, glossy band with rounded ends.
    double hw = thick / 2;
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy - halfH + hw, hw, kPi, 2 * kPi);
    cairo_arc(cr, cx, cy + halfH - hw, hw, 0, kPi);
    cairo_close_path(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(cx - hw, 0, cx + hw, 0);
    Stop(p, 0, Hex(0x9C5A2A));
    Stop(p, 0.3, Hex(0xF6DC9A));
    Stop(p, 0.45, Hex(0xFFF8E0));
    Stop(p, 0.75, Hex(0xE0A860));
    Stop(p, 1, Hex(0x7A4018));
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    SetRgb(cr, Hex(0x5A2A0C), 0.9);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
    // Windings of the roll.
    cairo_set_line_width(cr, 0.8);
    for (int k = 1; k < 3; ++k) {
        double off = -hw + thick * k / 3.0;
        cairo_move_to(cr, cx + off, cy - halfH + hw);
        cairo_line_to(cr, cx + off, cy + halfH - hw);
    }
    SetRgb(cr, Hex(0x8A4E20), 0.45);
    cairo_stroke(cr);
}

namespace {

// ---------------------------------------------------------------- condoms

// A translucent sheath from the ring at ringX to a rounded tip with its reservoir at tipX.
void SheathPath(cairo_t* cr, double ringX, double tipX, double cy, double halfH) {
    double len = tipX - ringX;
    double bodyEnd = tipX - std::min(len * 0.25, halfH * 0.9);
    cairo_new_path(cr);
    cairo_move_to(cr, ringX, cy - halfH);
    cairo_curve_to(cr, ringX + len * 0.4, cy - halfH * 0.92, bodyEnd - 10, cy - halfH * 0.88,
                   bodyEnd, cy - halfH * 0.8);
    cairo_curve_to(cr, tipX - 6, cy - halfH * 0.7, tipX - 8, cy - halfH * 0.25, tipX - 8,
                   cy - halfH * 0.18);
    // Reservoir nipple.
    cairo_curve_to(cr, tipX - 4, cy - halfH * 0.2, tipX, cy - halfH * 0.15, tipX, cy);
    cairo_curve_to(cr, tipX, cy + halfH * 0.15, tipX - 4, cy + halfH * 0.2, tipX - 8,
                   cy + halfH * 0.18);
    cairo_curve_to(cr, tipX - 8, cy + halfH * 0.25, tipX - 6, cy + halfH * 0.7, bodyEnd,
                   cy + halfH * 0.8);
    cairo_curve_to(cr, bodyEnd - 10, cy + halfH * 0.88, ringX + len * 0.4, cy + halfH * 0.92, ringX,
                   cy + halfH);
    cairo_close_path(cr);
}

void FillSheath(cairo_t* cr, double ringX, double tipX, double cy, double halfH, double fillAlpha) {
    SheathPath(cr, ringX, tipX, cy, halfH);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, cy - halfH, 0, cy + halfH);
    // Thin latex: a pale veil in the middle, denser where the sheath curves away at its edges.
    cairo_pattern_add_color_stop_rgba(p, 0, 1.0, 0.92, 0.82, fillAlpha * 2.6);
    cairo_pattern_add_color_stop_rgba(p, 0.18, 1.0, 0.97, 0.93, fillAlpha * 1.4);
    cairo_pattern_add_color_stop_rgba(p, 0.5, 1.0, 0.95, 0.90, fillAlpha);
    cairo_pattern_add_color_stop_rgba(p, 0.85, 0.98, 0.88, 0.80, fillAlpha * 1.5);
    cairo_pattern_add_color_stop_rgba(p, 1, 0.92, 0.78, 0.66, fillAlpha * 2.6);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    cairo_set_source_rgba(cr, 0.62, 0.38, 0.22, 0.8);
    cairo_set_line_width(cr, 1.3);
    cairo_stroke(cr);
    // A long wet highlight along the upper side.
    cairo_new_path(cr);
    cairo_move_to(cr, ringX + 8, cy - halfH * 0.62);
    cairo_curve_to(cr, ringX + (tipX - ringX) * 0.4, cy - halfH * 0.66, tipX - 40,
                   cy - halfH * 0.62, tipX - 22, cy - halfH * 0.5);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.75);
    cairo_set_line_width(cr, std::max(1.5, halfH * 0.1));
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_stroke(cr);
}

void DrawKondom(cairo_t* cr, int k, int w, int h) {
    double cy = h / 2.0, halfH = h / 2.0 - 6;
    double phase = 2 * kPi * k / 12.0;
    // The caught swimmer first, muted by the latex in front of it.
    cairo_save(cr);
    SheathPath(cr, 10, w - 4, cy, halfH);
    cairo_clip(cr);
    DrawSperm(cr, w - 44, cy, w - 80, 0.95, phase * 1.0, false, 0.7);
    cairo_restore(cr);
    FillSheath(cr, 10, w - 4, cy, halfH, 0.20);
    DrawCondomRing(cr, 10, cy, h / 2.0 - 1.5, 13);
}

void DrawAbroll(cairo_t* cr, int k, int w, int h) {
    // Frame 1 is fully unrolled, frame 6 still a ring at the tip: the game plays 6 down to 1.
    double u = 1.0 - k / 5.0;
    double cy = h / 2.0, halfH = h / 2.0 - 6;
    double tipX = w - 4;
    double ringX = tipX - 26 - u * (w - 44);
    double thick = 9 + 9 * (1 - u);
    if (tipX - ringX > 20) FillSheath(cr, ringX, tipX, cy, halfH, 0.22);
    DrawCondomRing(cr, ringX, cy, h / 2.0 - 1, thick);
}

void DrawSchuss(cairo_t* cr, int, int w, int h) {
    DrawCondomRing(cr, w / 2.0, h / 2.0, h / 2.0 - 2, w - 6);
}

// ---------------------------------------------------------------- viruses

void DrawVirus1(cairo_t* cr, int k, int w, int h) {
    // Toxic green ball with knobbed spikes; it pulses and turns slowly.
    double phase = 2 * kPi * k / 12.0;
    double cx = w / 2.0, cy = h / 2.0;
    double pulse = 1 + 0.07 * std::sin(phase);
    double r = 16.5 * pulse;
    double turn = phase / 12.0;  // one spike spacing per cycle
    Halo(cr, w, h, Hex(0x9CFF40), 0.55, 8, [&](cairo_t* g) {
        cairo_arc(g, cx, cy, r + 6, 0, 2 * kPi);
        cairo_fill(g);
    });
    for (int i = 0; i < 12; ++i) {
        double a = turn + i * 2 * kPi / 12;
        double len = r + 8.5 + 1.5 * std::sin(phase + i * 1.7);
        double ex = cx + std::cos(a) * len, ey = cy + std::sin(a) * len * 0.96;
        cairo_move_to(cr, cx + std::cos(a) * (r - 2), cy + std::sin(a) * (r - 2));
        cairo_line_to(cr, ex, ey);
        SetRgb(cr, Hex(0x2E6A12));
        cairo_set_line_width(cr, 3.4);
        cairo_stroke(cr);
        cairo_move_to(cr, cx + std::cos(a) * (r - 2), cy + std::sin(a) * (r - 2));
        cairo_line_to(cr, ex, ey);
        SetRgb(cr, Hex(0x9EDC3C));
        cairo_set_line_width(cr, 1.8);
        cairo_stroke(cr);
        cairo_arc(cr, ex, ey, 3.1, 0, 2 * kPi);
        cairo_pattern_t* kp = cairo_pattern_create_radial(ex - 1, ey - 1, 0.3, ex, ey, 3.2);
        Stop(kp, 0, Hex(0xF8FFC0));
        Stop(kp, 1, Hex(0x5CA020));
        cairo_set_source(cr, kp);
        cairo_fill_preserve(cr);
        cairo_pattern_destroy(kp);
        SetRgb(cr, Hex(0x24500C));
        cairo_set_line_width(cr, 0.8);
        cairo_stroke(cr);
    }
    cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
    cairo_pattern_t* p = cairo_pattern_create_radial(cx - r * 0.35, cy - r * 0.4, 1, cx, cy, r);
    Stop(p, 0, Hex(0xF0FFB0));
    Stop(p, 0.45, Hex(0x8CD834));
    Stop(p, 0.85, Hex(0x3C8A18));
    Stop(p, 1, Hex(0x1E4A0A));
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    SetRgb(cr, Hex(0x163A08));
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
    // Pocks on the surface.
    Rng rng(11);
    for (int i = 0; i < 7; ++i) {
        double a = rng.Range(0, 2 * kPi) + turn, d = rng.Range(0.2, 0.7) * r;
        cairo_arc(cr, cx + std::cos(a) * d, cy + std::sin(a) * d, rng.Range(1.5, 2.8), 0, 2 * kPi);
        SetRgb(cr, Hex(0x2C6A10), 0.55);
        cairo_fill(cr);
    }
}

void DrawVirus2(cairo_t* cr, int k, int w, int h) {
    // Violet capsid with six clubbed stalks, spinning by one stalk spacing per cycle.
    double phase = 2 * kPi * k / 12.0;
    double cx = w / 2.0, cy = h / 2.0;
    double spin = phase / 6.0;
    double r = 16;
    Halo(cr, w, h, Hex(0x8A7CFF), 0.6, 8, [&](cairo_t* g) {
        cairo_arc(g, cx, cy, r + 7, 0, 2 * kPi);
        cairo_fill(g);
    });
    for (int i = 0; i < 6; ++i) {
        double a = spin + i * kPi / 3;
        double bx = cx + std::cos(a) * (r + 7.5), by = cy + std::sin(a) * (r + 7.5);
        cairo_move_to(cr, cx + std::cos(a) * r, cy + std::sin(a) * r);
        cairo_line_to(cr, bx, by);
        SetRgb(cr, Hex(0x3A2A8A));
        cairo_set_line_width(cr, 4);
        cairo_stroke(cr);
        cairo_arc(cr, bx, by, 5, 0, 2 * kPi);
        cairo_pattern_t* kp = cairo_pattern_create_radial(bx - 1.5, by - 1.5, 0.5, bx, by, 5);
        Stop(kp, 0, Hex(0xE8FFFF));
        Stop(kp, 0.5, Hex(0x60D0FF));
        Stop(kp, 1, Hex(0x2050A0));
        cairo_set_source(cr, kp);
        cairo_fill_preserve(cr);
        cairo_pattern_destroy(kp);
        SetRgb(cr, Hex(0x182060));
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    // Faceted capsid: a hexagon of triangles, lit from the upper left.
    for (int i = 0; i < 6; ++i) {
        double a0 = spin + kPi / 6 + i * kPi / 3, a1 = a0 + kPi / 3;
        cairo_move_to(cr, cx, cy);
        cairo_line_to(cr, cx + std::cos(a0) * r * 1.05, cy + std::sin(a0) * r * 1.05);
        cairo_line_to(cr, cx + std::cos(a1) * r * 1.05, cy + std::sin(a1) * r * 1.05);
        cairo_close_path(cr);
        double am = (a0 + a1) / 2;
        double lit = 0.5 + 0.5 * std::cos(am - (-2.3));
        SetRgb(cr, Mix(Hex(0x3A1C8C), Hex(0xC8B0FF), lit));
        cairo_fill_preserve(cr);
        SetRgb(cr, Hex(0x1C0C50), 0.8);
        cairo_set_line_width(cr, 0.9);
        cairo_stroke(cr);
    }
    cairo_arc(cr, cx - 4, cy - 5, 3.5, 0, 2 * kPi);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.7);
    cairo_fill(cr);
}

void DrawVirus3(cairo_t* cr, int k, int w, int h) {
    // Amber crowned body with a wave running round its fringe of red-tipped hairs.
    double phase = 2 * kPi * k / 12.0;
    double cx = w / 2.0, cy = h / 2.0;
    double rx = 24, ry = 17;
    Halo(cr, w, h, Hex(0xFFB040), 0.55, 8, [&](cairo_t* g) {
        cairo_save(g);
        cairo_translate(g, cx, cy);
        cairo_scale(g, rx + 9, ry + 9);
        cairo_arc(g, 0, 0, 1, 0, 2 * kPi);
        cairo_restore(g);
        cairo_fill(g);
    });
    const int n = 26;
    for (int i = 0; i < n; ++i) {
        double a = i * 2 * kPi / n;
        double len = 7 + 3.5 * std::sin(3 * a + phase);
        double sx = cx + std::cos(a) * rx * 0.95, sy = cy + std::sin(a) * ry * 0.95;
        double ex = cx + std::cos(a) * (rx + len), ey = cy + std::sin(a) * (ry + len);
        double bend = 2.5 * std::cos(3 * a + phase);
        cairo_move_to(cr, sx, sy);
        cairo_curve_to(cr, (sx + ex) / 2 - std::sin(a) * bend, (sy + ey) / 2 + std::cos(a) * bend,
                       ex, ey, ex, ey);
        SetRgb(cr, Hex(0xC85010));
        cairo_set_line_width(cr, 2);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_stroke(cr);
        cairo_arc(cr, ex, ey, 1.9, 0, 2 * kPi);
        SetRgb(cr, Hex(0xFF3A2A));
        cairo_fill(cr);
    }
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
    cairo_pattern_t* p = cairo_pattern_create_radial(cx - 8, cy - 7, 1, cx, cy, rx);
    Stop(p, 0, Hex(0xFFF6C0));
    Stop(p, 0.4, Hex(0xFFC44A));
    Stop(p, 0.85, Hex(0xD8661A));
    Stop(p, 1, Hex(0x7A2A08));
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    SetRgb(cr, Hex(0x5A1C04));
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
    // Inner genome coil, turning with the wave.
    cairo_new_path(cr);
    for (int i = 0; i <= 40; ++i) {
        double t = i / 40.0;
        double x = cx - 14 + 28 * t, y = cy + 5 * std::sin(t * 4 * kPi + phase);
        if (i == 0)
            cairo_move_to(cr, x, y);
        else
            cairo_line_to(cr, x, y);
    }
    SetRgb(cr, Hex(0xA03A10), 0.7);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
}

// ---------------------------------------------------------------- machines

void DrawTorpedo(cairo_t* cr, int k, int w, int h) {
    double phase = 2 * kPi * k / 12.0;
    double cy = h / 2.0, r = 10.5;
    double nose = 6, tail = 128;
    Halo(cr, w, h, Hex(0xFF6080), 0.45, 6, [&](cairo_t* g) {
        cairo_rectangle(g, nose + 4, cy - r, tail - nose, 2 * r);
        cairo_fill(g);
    });
    // Fins behind the hull.
    for (int s = -1; s <= 1; s += 2) {
        cairo_move_to(cr, tail - 26, cy + s * r * 0.6);
        cairo_line_to(cr, tail - 2, cy + s * (h / 2.0 - 1.5));
        cairo_line_to(cr, tail + 6, cy + s * (h / 2.0 - 1.5));
        cairo_line_to(cr, tail + 2, cy + s * r * 0.5);
        cairo_close_path(cr);
        SetRgb(cr, Hex(0x7A2050));
        cairo_fill_preserve(cr);
        SetRgb(cr, kOutline);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    // Hull: rounded nose on the left, flat stern on the right.
    cairo_new_path(cr);
    cairo_move_to(cr, tail, cy - r);
    cairo_line_to(cr, nose + 18, cy - r);
    cairo_curve_to(cr, nose + 4, cy - r, nose, cy - r * 0.5, nose, cy);
    cairo_curve_to(cr, nose, cy + r * 0.5, nose + 4, cy + r, nose + 18, cy + r);
    cairo_line_to(cr, tail, cy + r);
    cairo_close_path(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, cy - r, 0, cy + r);
    Stop(p, 0, Hex(0x8A5070));
    Stop(p, 0.25, Hex(0xFFE6F0));
    Stop(p, 0.45, Hex(0xE8A8C4));
    Stop(p, 1, Hex(0x4A1434));
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    SetRgb(cr, kOutline);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
    // Warhead glow and bands.
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, nose + 16, h);
    cairo_clip(cr);
    cairo_move_to(cr, tail, cy - r);
    cairo_line_to(cr, nose + 18, cy - r);
    cairo_curve_to(cr, nose + 4, cy - r, nose, cy - r * 0.5, nose, cy);
    cairo_curve_to(cr, nose, cy + r * 0.5, nose + 4, cy + r, nose + 18, cy + r);
    cairo_line_to(cr, tail, cy + r);
    cairo_close_path(cr);
    cairo_pattern_t* np = cairo_pattern_create_radial(nose + 6, cy - 3, 1, nose + 8, cy, 14);
    Stop(np, 0, Hex(0xFFF0C0));
    Stop(np, 0.4, Hex(0xFF5040));
    Stop(np, 1, Hex(0x901020));
    cairo_set_source(cr, np);
    cairo_fill(cr);
    cairo_pattern_destroy(np);
    cairo_restore(cr);
    for (double bx : {nose + 17.0, 70.0, 104.0}) {
        cairo_rectangle(cr, bx, cy - r + 0.5, 3, 2 * r - 1);
        SetRgb(cr, Hex(0x5A1A40), 0.85);
        cairo_fill(cr);
    }
    // Blinking light on the back, on for half of the cycle.
    if (k < 6) {
        Halo(cr, w, h, Hex(0xFFE060), 0.9, 6, [&](cairo_t* g) {
            cairo_arc(g, 88, cy - r + 2, 4, 0, 2 * kPi);
            cairo_fill(g);
        });
        cairo_arc(cr, 88, cy - r + 2, 1.8, 0, 2 * kPi);
        SetRgb(cr, Hex(0xFFFFD0));
        cairo_fill(cr);
    }
    // Shaft and a three-bladed propeller turning about the long axis.
    cairo_rectangle(cr, tail, cy - 2, 12, 4);
    SetRgb(cr, Hex(0x70506A));
    cairo_fill(cr);
    double px = tail + 14;
    struct Blade {
        double depth, a;
    };
    std::vector<Blade> blades;
    for (int i = 0; i < 3; ++i) {
        double a = phase / 3.0 + i * 2 * kPi / 3;
        blades.push_back({std::sin(a), a});
    }
    std::sort(blades.begin(), blades.end(),
              [](const Blade& a, const Blade& b) { return a.depth < b.depth; });
    for (const Blade& b : blades) {
        double ext = std::cos(b.a) * (h / 2.0 - 2);
        double width = 4 + 3 * std::fabs(b.depth);
        cairo_save(cr);
        cairo_translate(cr, px, cy + ext / 2);
        cairo_scale(cr, width, std::max(1.0, std::fabs(ext) / 2));
        cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
        cairo_restore(cr);
        double lit = 0.45 + 0.45 * b.depth;
        SetRgb(cr, Mix(Hex(0x6A4A70), Hex(0xF0E0FF), lit));
        cairo_fill_preserve(cr);
        SetRgb(cr, kOutline, 0.8);
        cairo_set_line_width(cr, 0.8);
        cairo_stroke(cr);
    }
    cairo_arc(cr, px, cy, 3.2, 0, 2 * kPi);
    SetRgb(cr, Hex(0xC0A0C8));
    cairo_fill(cr);
}

void DrawTorpedoScore(cairo_t* cr, int, int w, int h) {
    // A small torpedo standing on its tail, nose up.
    double cx = w / 2.0;
    cairo_move_to(cr, cx - 4, h - 6);
    cairo_line_to(cr, cx - 4, 8);
    cairo_curve_to(cr, cx - 4, 2, cx + 4, 2, cx + 4, 8);
    cairo_line_to(cr, cx + 4, h - 6);
    cairo_close_path(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(cx - 4, 0, cx + 4, 0);
    Stop(p, 0, Hex(0x7A3060));
    Stop(p, 0.35, Hex(0xFFE0EE));
    Stop(p, 1, Hex(0x7A2050));
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    cairo_rectangle(cr, cx - 4, 4, 8, 6);
    SetRgb(cr, Hex(0xFF4040));
    cairo_fill(cr);
    cairo_move_to(cr, cx - 5, h - 1);
    cairo_line_to(cr, cx - 3, h - 10);
    cairo_line_to(cr, cx + 3, h - 10);
    cairo_line_to(cr, cx + 5, h - 1);
    cairo_close_path(cr);
    SetRgb(cr, Hex(0xB04880));
    cairo_fill(cr);
}

void DrawRohr(cairo_t* cr, int k, int w, int h) {
    bool loaded = k == 1;  // frame 2 is the loaded cannon
    double cy = h / 2.0, r = 17;
    double muzzle = 8, breech = 70;
    // Mount and housing on the right.
    cairo_arc(cr, 82, cy, 26, 0, 2 * kPi);
    cairo_pattern_t* hp = cairo_pattern_create_radial(74, cy - 12, 2, 82, cy, 27);
    Stop(hp, 0, Hex(0xF8D0F0));
    Stop(hp, 0.45, Hex(0xA04A9A));
    Stop(hp, 1, Hex(0x3A0C3A));
    cairo_set_source(cr, hp);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(hp);
    SetRgb(cr, kOutline);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    for (int i = 0; i < 8; ++i) {
        double a = i * kPi / 4 + 0.3;
        cairo_arc(cr, 82 + std::cos(a) * 21, cy + std::sin(a) * 21, 1.8, 0, 2 * kPi);
        SetRgb(cr, Hex(0xFFE8A0));
        cairo_fill(cr);
    }
    // A glowing core in the housing, brighter when loaded.
    Halo(cr, w, h, loaded ? Hex(0xFFD060) : Hex(0xC04060), 0.9, 8, [&](cairo_t* g) {
        cairo_arc(g, 84, cy, 9, 0, 2 * kPi);
        cairo_fill(g);
    });
    cairo_arc(cr, 84, cy, 6, 0, 2 * kPi);
    SetRgb(cr, loaded ? Hex(0xFFF4C0) : Hex(0xE07090));
    cairo_fill(cr);
    // Barrel pointing left.
    cairo_rectangle(cr, muzzle, cy - r, breech - muzzle, 2 * r);
    cairo_pattern_t* bp = cairo_pattern_create_linear(0, cy - r, 0, cy + r);
    Stop(bp, 0, Hex(0x6A2460));
    Stop(bp, 0.22, Hex(0xF4C8E8));
    Stop(bp, 0.4, Hex(0xC06AA8));
    Stop(bp, 1, Hex(0x30082C));
    cairo_set_source(cr, bp);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(bp);
    SetRgb(cr, kOutline);
    cairo_set_line_width(cr, 1.4);
    cairo_stroke(cr);
    for (double bx : {30.0, 52.0}) {
        cairo_rectangle(cr, bx, cy - r - 2, 6, 2 * r + 4);
        cairo_pattern_t* rp = cairo_pattern_create_linear(0, cy - r, 0, cy + r);
        Stop(rp, 0, Hex(0xFFE6A0));
        Stop(rp, 0.5, Hex(0xC88A30));
        Stop(rp, 1, Hex(0x5A3008));
        cairo_set_source(cr, rp);
        cairo_fill_preserve(cr);
        cairo_pattern_destroy(rp);
        SetRgb(cr, kOutline);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    // Muzzle rim and bore.
    cairo_save(cr);
    cairo_translate(cr, muzzle, cy);
    cairo_scale(cr, 6, r + 3);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
    SetRgb(cr, Hex(0xD890C8));
    cairo_fill_preserve(cr);
    SetRgb(cr, kOutline);
    cairo_set_line_width(cr, 1.4);
    cairo_stroke(cr);
    cairo_save(cr);
    cairo_translate(cr, muzzle, cy);
    cairo_scale(cr, 3.5, r - 2);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
    SetRgb(cr, Hex(0x24061C));
    cairo_fill(cr);
    if (loaded) DrawCondomRing(cr, muzzle + 1, cy, r - 3, 9);
}

// ---------------------------------------------------------------- bubbles

void DrawBubbleFrame(cairo_t* cr, int k, int w, int h) {
    double phase = 2 * kPi * k / 24.0;
    double base = w / 2.0 - 5;
    double rx = base * (1 + 0.07 * std::sin(phase) + 0.025 * std::sin(3 * phase));
    double ry = base * (1 - 0.07 * std::sin(phase) + 0.02 * std::cos(2 * phase));
    DrawBubble(cr, w / 2.0, h / 2.0, rx, ry);
}

void DrawP(cairo_t* cr, int, int w, int h) {
    double r = w / 2.0 - std::max(0.8, w * 0.03);
    DrawBubble(cr, w / 2.0, h / 2.0, r, r);
}

// ---------------------------------------------------------------- texts

const char* kTitleFont = "DejaVu Sans";

TitleStyle Gold() { return TitleStyle{}; }
TitleStyle Rose() {
    TitleStyle s;
    s.top = Hex(0xFFE4F0);
    s.bottom = Hex(0xE8407A);
    s.glow = Hex(0xFF70A0);
    return s;
}

void DrawTextFrame(cairo_t* cr, int w, int h, const std::string& text, const TitleStyle& st,
                   double fill = 0.92, bool italic = false, const char* family = kTitleFont) {
    double pad = st.outlineW + st.glowRadius * 0.8 + 1;
    DrawTitleText(cr, w, h, text, family, true, w / 2.0, h / 2.0, (w - 2 * pad) * fill,
                  (h - 2 * pad) * fill, st, italic);
}

void DrawZahlen(cairo_t* cr, int k, int w, int h) {
    if (k < 10) {
        TitleStyle st = Gold();
        st.outlineW = 2.5;
        st.glowRadius = 3;
        DrawTextFrame(cr, w, h, std::string(1, char('0' + k)), st, 0.95);
        return;
    }
    // Condom icon: the rolled ring seen from the front, teat in the middle.
    double cx = w / 2.0, cy = h / 2.0, r = std::min(w, h) / 2.0 - 6;
    Halo(cr, w, h, Hex(0xFFE080), 0.7, 6, [&](cairo_t* g) {
        cairo_arc(g, cx, cy, r + 2, 0, 2 * kPi);
        cairo_fill(g);
    });
    cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
    cairo_arc_negative(cr, cx, cy, r - 8, 2 * kPi, 0);
    cairo_pattern_t* p = cairo_pattern_create_radial(cx - 6, cy - 8, 2, cx, cy, r + 2);
    Stop(p, 0, Hex(0xFFFAE0));
    Stop(p, 0.7, Hex(0xF0C070));
    Stop(p, 1, Hex(0x9A5A20));
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    cairo_arc(cr, cx, cy, r - 8, 0, 2 * kPi);
    cairo_set_source_rgba(cr, 1, 0.92, 0.75, 0.55);
    cairo_fill(cr);
    cairo_arc(cr, cx, cy, 5, 0, 2 * kPi);
    SetRgb(cr, Hex(0xFFF0C8));
    cairo_fill_preserve(cr);
    SetRgb(cr, Hex(0x9A5A20));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
    SetRgb(cr, Hex(0x6A3010));
    cairo_set_line_width(cr, 1.4);
    cairo_stroke(cr);
}

void DrawBigNumber(cairo_t* cr, int k, int w, int h) {
    TitleStyle st = Gold();
    st.outlineW = 7;
    st.glowRadius = 10;
    st.top = Hex(0xFFFCEC);
    st.bottom = Hex(0xFF8040);
    DrawTextFrame(cr, w, h, std::string(1, char('0' + k)), st, 0.95);
}

void DrawCongrats(cairo_t* cr, int k, int w, int h) {
    static const char* letters = "congratulations!";
    TitleStyle st = Rose();
    st.outlineW = 2.5;
    st.glowRadius = 3;
    // Letters sit on a common baseline: scale by a fixed size, not by each glyph's own box.
    std::string t(1, letters[k]);
    cairo_select_font_face(cr, kTitleFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 38);
    cairo_text_extents_t e;
    cairo_text_extents(cr, t.c_str(), &e);
    double x = w / 2.0 - e.width / 2 - e.x_bearing, base = h - 10;
    cairo_surface_t* glow = NewSurface(w, h);
    cairo_t* g = cairo_create(glow);
    cairo_select_font_face(g, kTitleFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(g, 38);
    cairo_move_to(g, x, base);
    cairo_text_path(g, t.c_str());
    SetRgb(g, st.glow);
    cairo_set_line_width(g, 6);
    cairo_stroke_preserve(g);
    cairo_fill(g);
    cairo_destroy(g);
    BlurSurface(glow, 6);
    cairo_set_source_surface(cr, glow, 0, 0);
    cairo_paint_with_alpha(cr, 0.8);
    cairo_surface_destroy(glow);
    cairo_move_to(cr, x, base);
    cairo_text_path(cr, t.c_str());
    SetRgb(cr, st.outline);
    cairo_set_line_width(cr, 5);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke_preserve(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, base - 30, 0, base + 8);
    Stop(p, 0, st.top);
    Stop(p, 1, st.bottom);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

void DrawPoints(cairo_t* cr, int k, int w, int h) {
    int value = k < 25 ? -250 + 10 * k : (k < 50 ? 10 * (k - 24) : 500);
    std::string text = value < 0 ? "\u2212" + std::to_string(-value) : "+" + std::to_string(value);
    TitleStyle st;
    st.outlineW = 1.6;
    st.glowRadius = 0;
    if (value < 0) {
        st.top = Hex(0xFFD0DC);
        st.bottom = Hex(0xFF4A6A);
    } else if (value < 500) {
        st.top = Hex(0xFFFFE0);
        st.bottom = Hex(0xFFC030);
    } else {
        st.top = Hex(0xFFFFFF);
        st.bottom = Hex(0x80FFB0);
    }
    st.outline = Hex(0x2A0410);
    // Same glyph height for every value; long ones just get narrower.
    cairo_select_font_face(cr, kTitleFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    double size = 16;
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    double sx = std::min(1.0, (w - 5) / e.width);
    cairo_save(cr);
    cairo_translate(cr, w / 2.0, h / 2.0);
    cairo_scale(cr, sx, 1);
    cairo_move_to(cr, -e.width / 2 - e.x_bearing, -e.height / 2 - e.y_bearing);
    cairo_text_path(cr, text.c_str());
    cairo_restore(cr);
    SetRgb(cr, st.outline);
    cairo_set_line_width(cr, 2.6);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke_preserve(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, 3, 0, h - 3);
    Stop(p, 0, st.top);
    Stop(p, 1, st.bottom);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

// ---------------------------------------------------------------- logos

void HeartPath(cairo_t* cr, double cx, double cy, double s) {
    cairo_new_path(cr);
    cairo_move_to(cr, cx, cy + s * 0.9);
    cairo_curve_to(cr, cx - s * 1.3, cy + s * 0.1, cx - s * 1.0, cy - s * 1.0, cx, cy - s * 0.45);
    cairo_curve_to(cr, cx + s * 1.0, cy - s * 1.0, cx + s * 1.3, cy + s * 0.1, cx, cy + s * 0.9);
    cairo_close_path(cr);
}

void VantorBadge(cairo_t* cr, double cx, double cy, double r, bool back) {
    cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
    cairo_pattern_t* p =
        cairo_pattern_create_radial(cx - r * 0.3, cy - r * 0.4, r * 0.1, cx, cy, r);
    Stop(p, 0, back ? Hex(0xC090E0) : Hex(0xFFF0FF));
    Stop(p, 0.6, back ? Hex(0x6A3090) : Hex(0x9C4CD0));
    Stop(p, 1, back ? Hex(0x2A0C40) : Hex(0x401060));
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    SetRgb(cr, Hex(0xFFD870));
    cairo_set_line_width(cr, r * 0.09);
    cairo_stroke(cr);
    HeartPath(cr, cx, cy + r * 0.05, r * 0.5);
    SetRgb(cr, back ? Hex(0xC04070) : Hex(0xFF4A7A));
    cairo_fill_preserve(cr);
    SetRgb(cr, Hex(0xFFFFFF), 0.8);
    cairo_set_line_width(cr, r * 0.05);
    cairo_stroke(cr);
    if (!back) {
        // A "V" on the heart.
        cairo_move_to(cr, cx - r * 0.25, cy - r * 0.12);
        cairo_line_to(cr, cx, cy + r * 0.32);
        cairo_line_to(cr, cx + r * 0.25, cy - r * 0.12);
        SetRgb(cr, Hex(0xFFFFFF));
        cairo_set_line_width(cr, r * 0.1);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_stroke(cr);
    }
}

void DrawVantorlogo(cairo_t* cr, int k, int w, int h) {
    double a = 2 * kPi * k / 12.0;
    double c = std::cos(a);
    Halo(cr, w, h, Hex(0xD080FF), 0.5, 8, [&](cairo_t* g) {
        cairo_save(g);
        cairo_translate(g, w / 2.0, h / 2.0);
        cairo_scale(g, std::max(0.08, std::fabs(c)) * 36, 36);
        cairo_arc(g, 0, 0, 1, 0, 2 * kPi);
        cairo_restore(g);
        cairo_fill(g);
    });
    cairo_save(cr);
    cairo_translate(cr, w / 2.0, h / 2.0);
    cairo_scale(cr, std::max(0.08, std::fabs(c)), 1);
    VantorBadge(cr, 0, 0, 33, c < 0);
    cairo_restore(cr);
}

void DrawTitleVantor(cairo_t* cr, int, int w, int h) {
    VantorBadge(cr, h / 2.0 + 1, h / 2.0, h / 2.0 - 2, false);
    TitleStyle st;
    st.top = Hex(0xFFFFFF);
    st.bottom = Hex(0xE8C0FF);
    st.outline = Hex(0x2A0840);
    st.outlineW = 2;
    st.glowRadius = 3;
    st.glow = Hex(0xB060FF);
    DrawTitleText(cr, w, h, "vantor", "URW Gothic", true, h + (w - h) / 2.0, h / 2.0, w - h - 12,
                  h - 10, st);
}

void DrawQvch(cairo_t* cr, int, int w, int h) {
    // Made-up campaign partner: a rounded badge with initials and a line of text.
    double bw = h - 6;
    cairo_new_path(cr);
    cairo_arc(cr, 3 + bw / 2, h / 2.0, bw / 2, 0, 2 * kPi);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, 3, 0, h - 3);
    Stop(p, 0, Hex(0xFF9AB8));
    Stop(p, 1, Hex(0xB01848));
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    SetRgb(cr, Hex(0xFFFFFF));
    cairo_set_line_width(cr, 2.5);
    cairo_stroke(cr);
    // A plus for health.
    double cx = 3 + bw / 2, cy = h / 2.0, s = bw * 0.22;
    cairo_rectangle(cr, cx - s, cy - s * 0.32, 2 * s, s * 0.64);
    cairo_rectangle(cr, cx - s * 0.32, cy - s, s * 0.64, 2 * s);
    SetRgb(cr, Hex(0xFFFFFF));
    cairo_fill(cr);
    TitleStyle st;
    st.top = Hex(0xFFFFFF);
    st.bottom = Hex(0xFFC8D8);
    st.outline = Hex(0x4A0418);
    st.outlineW = 2;
    st.glowRadius = 0;
    double tx = bw + 10, tw = w - tx - 4;
    DrawTitleText(cr, w, h, "QVCH", kTitleFont, true, tx + tw / 2, h * 0.36, tw, h * 0.5, st);
    st.outlineW = 1.2;
    DrawTitleText(cr, w, h, "health & love campaign", kTitleFont, false, tx + tw / 2, h * 0.8, tw,
                  h * 0.22, st);
}

void DrawOrbelu(cairo_t* cr, int, int w, int h) {
    // Made-up partner: lower-case word mark inside an orbit.
    cairo_save(cr);
    cairo_translate(cr, w / 2.0, h / 2.0);
    cairo_rotate(cr, -0.12);
    cairo_scale(cr, w / 2.0 - 6, h / 2.0 - 8);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
    SetRgb(cr, Hex(0xFFB060), 0.9);
    cairo_set_line_width(cr, 3);
    cairo_stroke(cr);
    cairo_arc(cr, w - 22, 12, 5, 0, 2 * kPi);
    SetRgb(cr, Hex(0xFFE8A0));
    cairo_fill(cr);
    TitleStyle st;
    st.top = Hex(0xFFF8E8);
    st.bottom = Hex(0xFF9050);
    st.outlineW = 2;
    st.glowRadius = 3;
    DrawTitleText(cr, w, h, "orbelu", "URW Gothic", true, w / 2.0, h / 2.0, w - 50, h - 24, st);
}

void DrawZolvexLogo(cairo_t* cr, int, int w, int h) {
    TitleStyle st;
    st.top = Hex(0xFFF6D8);
    st.bottom = Hex(0xFF3A6A);
    st.outline = Hex(0x2A0418);
    st.outlineW = 3.5;
    st.glowRadius = 6;
    st.glow = Hex(0xFF3070);
    // Letter-spaced capitals: the word mark fills the strip.
    const std::string word = "Z O L V E X";
    DrawTitleText(cr, w, h, word, "URW Gothic", true, w / 2.0, h / 2.0, w * 0.62, h - 16, st);
    // Two swimmers race in towards the name from the sides.
    DrawSperm(cr, 120, h / 2.0 + 4, 110, 0.6, 1.0, false);
    cairo_save(cr);
    cairo_translate(cr, w, 0);
    cairo_scale(cr, -1, 1);
    DrawSperm(cr, 120, h / 2.0 - 2, 110, 0.6, 2.5, true);
    cairo_restore(cr);
}

void DrawBanner(cairo_t* cr, int, int w, int h, const std::string& text, const TitleStyle& st,
                bool italic) {
    DrawTextFrame(cr, w, h, text, st, 0.96, italic);
}

// ---------------------------------------------------------------- cave pieces

// Blood vessels: branching, tapering curves that wander from the root of a piece towards its tip.
void DrawVessels(cairo_t* g, Rng& rng, int w, int h, bool fromBottom, bool vertical, int count) {
    struct Branch {
        double x, y, angle, width;
        int steps;
    };
    std::vector<Branch> todo;
    for (int i = 0; i < count; ++i) {
        if (vertical)
            todo.push_back({rng.Range(0.2, 0.8) * w, rng.Real() < 0.5 ? 0.0 : double(h), 0,
                            rng.Range(2.0, 3.6), 90});
        else
            todo.push_back({rng.Range(0.05, 0.95) * w, fromBottom ? h + 2.0 : -2.0, 0,
                            rng.Range(2.2, 4.0), 70});
        Branch& b = todo.back();
        b.angle = vertical ? (b.y == 0 ? kPi / 2 : -kPi / 2) : (fromBottom ? -kPi / 2 : kPi / 2);
        b.angle += rng.Range(-0.6, 0.6);
    }
    cairo_set_line_cap(g, CAIRO_LINE_CAP_ROUND);
    cairo_set_source_rgb(g, 1, 1, 1);
    while (!todo.empty()) {
        Branch b = todo.back();
        todo.pop_back();
        for (int k = 0; k < b.steps && b.width > 0.5; ++k) {
            double nx = b.x + std::cos(b.angle) * 4, ny = b.y + std::sin(b.angle) * 4;
            cairo_move_to(g, b.x, b.y);
            cairo_line_to(g, nx, ny);
            cairo_set_line_width(g, b.width);
            cairo_stroke(g);
            b.x = nx;
            b.y = ny;
            b.angle += rng.Range(-0.35, 0.35);
            b.width *= 0.985;
            if (rng.Real() < 0.035 && todo.size() < 32)
                todo.push_back({b.x, b.y,
                                b.angle + (rng.Real() < 0.5 ? -1 : 1) * rng.Range(0.5, 1.1),
                                b.width * 0.7, b.steps - k});
        }
    }
}

void CavePiece(cairo_t* cr, const SheetSpec& s, int w, int h) {
    uint64_t seed = 0;
    for (char c : s.name) seed = seed * 131 + uint64_t(c);
    Rng rng(seed);
    Noise edge(seed ^ 0xABCDEF, 64, 4);
    bool ceiling = s.name.find("decke") != std::string::npos;
    bool pillar = s.name == "Element_Saeule", snake = s.name == "Element_Schlange";
    cairo_surface_t* cov = NewSurface(w, h);
    cairo_t* g = cairo_create(cov);
    cairo_set_source_rgb(g, 1, 1, 1);
    if (pillar || snake) {
        // A column from the ceiling to the floor with roots flaring out at both ends.
        const int n = 150;
        std::vector<std::pair<double, double>> left, right;
        for (int i = 0; i <= n; ++i) {
            double y = double(i) / n * h;
            double t = y / h;
            double flare =
                std::exp(-std::pow(t / 0.14, 2)) + std::exp(-std::pow((1 - t) / 0.14, 2));
            double cx, half;
            if (pillar) {
                cx = w / 2.0 + 14 * std::sin(t * 2 * kPi * 1.3 + 0.6);
                // Bulges along the column, like knots of muscle.
                half = 34 + 9 * std::pow(std::fabs(std::sin(t * kPi * 5)), 0.7) +
                       (w / 2.0 - 38) * flare;
            } else {
                cx = w / 2.0 + (w / 2.0 - 36) * std::sin(t * 2 * kPi * 1.5) * (1 - flare * 0.8);
                half = 20 + 5 * std::pow(std::fabs(std::sin(t * kPi * 9)), 0.7) +
                       (w / 2.0 - 26) * flare;
            }
            double jl = (edge.Fbm(t * 24, 0.5, 3) - 0.5) * 8,
                   jr = (edge.Fbm(t * 24, 2.5, 3) - 0.5) * 8;
            left.emplace_back(cx - half + jl, y);
            right.emplace_back(cx + half + jr, y);
        }
        cairo_move_to(g, left[0].first, -2);
        for (auto& p : left) cairo_line_to(g, p.first, p.second);
        cairo_line_to(g, left.back().first, h + 2);
        cairo_line_to(g, right.back().first, h + 2);
        for (size_t i = right.size(); i-- > 0;) cairo_line_to(g, right[i].first, right[i].second);
        cairo_line_to(g, right[0].first, -2);
        cairo_close_path(g);
        cairo_fill(g);
    } else {
        // Rounded lobes of flesh over a base: the piece grows from the bottom edge (floor) or
        // hangs from the top (ceiling). Each lobe is a dome; their union is the outline.
        int lobes = std::max(2, w / 60);
        bool single = s.name == "Element_boden_1" || s.name == "Element_decke_4";
        std::vector<double> lx, lw, lh;
        if (single) {
            lx = {0.5, 0.3, 0.72};
            lw = {0.36, 0.22, 0.2};
            lh = {1.0, 0.45, 0.38};
        } else {
            for (int i = 0; i < lobes; ++i) {
                double c = (i + 0.5 + rng.Range(-0.25, 0.25)) / lobes;
                lx.push_back(c);
                lw.push_back(rng.Range(0.7, 1.3) / lobes);
                double mid = 1 - std::fabs(c - 0.5) * 1.3;
                lh.push_back(rng.Range(0.45, 1.0) * (0.4 + 0.6 * mid));
            }
            lh[size_t(rng.Int(lobes))] = 1.0;
        }
        double peak = 0;
        const int n = 300;
        std::vector<double> prof(n + 1);
        for (int i = 0; i <= n; ++i) {
            double x = double(i) / n, v = 0;
            for (size_t j = 0; j < lx.size(); ++j) {
                double d = (x - lx[j]) / lw[j];
                if (std::fabs(d) < 1) v = std::max(v, lh[j] * std::pow(1 - d * d, 0.55));
            }
            // The ends come down to a low shoulder so neighbouring pieces join.
            double shoulder = 0.12 * std::pow(std::sin(kPi * x), 0.3);
            v = std::max(v, shoulder);
            // Round off both ends instead of cutting the lobes there.
            v *= std::sqrt(Smooth(0.0, 0.1, x) * Smooth(1.0, 0.9, x));
            v += (edge.Fbm(x * 22, 1.5, 3) - 0.5) * 0.05;
            prof[size_t(i)] = std::max(0.0, v);
            peak = std::max(peak, prof[size_t(i)]);
        }
        cairo_move_to(g, 0, ceiling ? -2 : h + 2);
        for (int i = 0; i <= n; ++i) {
            double x = double(i) / n * w;
            double ext = prof[size_t(i)] / peak * (h - 3);
            cairo_line_to(g, x, ceiling ? ext : h - ext);
        }
        cairo_line_to(g, w, ceiling ? -2 : h + 2);
        cairo_close_path(g);
        cairo_fill(g);
    }
    cairo_destroy(g);
    // Vessels, only where there is flesh.
    cairo_surface_t* vessels = NewSurface(w, h);
    cairo_t* vg = cairo_create(vessels);
    DrawVessels(vg, rng, w, h, !ceiling, pillar || snake,
                pillar || snake ? 5 : std::max(3, (w * h) / 22000 + 2));
    cairo_set_operator(vg, CAIRO_OPERATOR_DEST_IN);
    cairo_set_source_surface(vg, cov, 0, 0);
    cairo_paint(vg);
    cairo_destroy(vg);
    double lightX = -0.35, lightY = ceiling ? 0.75 : -0.75;
    if (pillar || snake) lightY = -0.1;
    ShadeFlesh(cov, seed, lightX, lightY, ceiling ? 0 : h, ceiling ? h : 0, vessels);
    cairo_surface_destroy(vessels);
    cairo_set_source_surface(cr, cov, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(cov);
}

}  // namespace

void ShadeFlesh(cairo_surface_t* coverage, uint64_t seed, double lightX, double lightY,
                double baseY0, double baseY1, cairo_surface_t* vessels) {
    int w = cairo_image_surface_get_width(coverage), h = cairo_image_surface_get_height(coverage);
    cairo_surface_flush(coverage);
    int stride = cairo_image_surface_get_stride(coverage) / 4;
    auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(coverage));
    std::vector<float> cov(size_t(w) * h), height(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            cov[size_t(y) * w + x] = float((px[y * stride + x] >> 24) / 255.0);
    // Height: a blurred copy of the shape (rounded body) plus bumps and wrinkles.
    cairo_surface_t* blur = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    {
        cairo_t* g = cairo_create(blur);
        cairo_set_source_surface(g, coverage, 0, 0);
        cairo_paint(g);
        cairo_destroy(g);
    }
    BlurSurface(blur, 18);
    cairo_surface_flush(blur);
    auto* bp = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(blur));
    int bstride = cairo_image_surface_get_stride(blur) / 4;
    // Vessels: sharp for their colour, slightly blurred for the bulge they raise.
    std::vector<float> vessel(size_t(w) * h, 0.f), vesselBulge(size_t(w) * h, 0.f);
    if (vessels) {
        cairo_surface_flush(vessels);
        auto* vp = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(vessels));
        int vs = cairo_image_surface_get_stride(vessels) / 4;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                vessel[size_t(y) * w + x] = float((vp[y * vs + x] >> 24) / 255.0);
        BlurSurface(vessels, 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                vesselBulge[size_t(y) * w + x] = float((vp[y * vs + x] >> 24) / 255.0);
    }
    Noise bumps(seed * 7 + 1, 256, 256), veins(seed * 13 + 5, 256, 256),
        tone(seed * 3 + 9, 256, 256);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double b = (bp[y * bstride + x] >> 24) / 255.0;
            double n = bumps.Fbm(x / 12.0, y / 12.0, 4);
            double wr = veins.Fbm(x / 40.0, y / 40.0, 3);
            double ridge = 1 - std::fabs(2 * wr - 1);
            size_t i = size_t(y) * w + x;
            height[i] = float(std::sqrt(std::max(0.0, b)) * 1.0 + n * 0.2 +
                              std::pow(ridge, 8) * 0.05 + vesselBulge[i] * 0.12);
        }
    cairo_surface_destroy(blur);
    double ll = std::hypot(lightX, lightY, 0.7);
    double Lx = lightX / ll, Ly = lightY / ll, Lz = 0.7 / ll;
    Rgb deep = Hex(0x2A0414), flesh = Hex(0x9A2038), pink = Hex(0xE8708A), purple = Hex(0x5A1458),
        rim = Hex(0xFFB08A);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            size_t i = size_t(y) * w + x;
            double a = cov[i];
            if (a <= 0) {
                px[y * stride + x] = 0;
                continue;
            }
            auto H = [&](int xx, int yy) {
                xx = std::clamp(xx, 0, w - 1);
                yy = std::clamp(yy, 0, h - 1);
                return double(height[size_t(yy) * w + xx]);
            };
            double dx = (H(x + 1, y) - H(x - 1, y)) * 6, dy = (H(x, y + 1) - H(x, y - 1)) * 6;
            double nl = std::sqrt(dx * dx + dy * dy + 1);
            double Nx = -dx / nl, Ny = -dy / nl, Nz = 1 / nl;
            double diff = std::max(0.0, Nx * Lx + Ny * Ly + Nz * Lz);
            // Blinn specular with the viewer straight in front: wet tissue.
            double hx = Lx, hy = Ly, hz = Lz + 1;
            double hl = std::sqrt(hx * hx + hy * hy + hz * hz);
            double specular = std::pow(std::max(0.0, (Nx * hx + Ny * hy + Nz * hz) / hl), 40);
            double t = tone.Fbm(x / 60.0, y / 60.0, 4);
            Rgb base = Mix(flesh, pink, Smooth(0.45, 0.75, t));
            base = Mix(base, purple, Smooth(0.55, 0.25, t) * 0.7);
            double wr = veins.Fbm(x / 40.0, y / 40.0, 3);
            double vein = std::pow(1 - std::fabs(2 * wr - 1), 14);
            base = Mix(base, Hex(0x6A1848), vein * 0.3);
            base = Mix(base, Hex(0x5A0830), vessel[i] * 0.75);
            // Darker towards the base edge, which lies off screen in the game.
            double depth = baseY1 != baseY0 ? Clamp01((y - baseY0) / (baseY1 - baseY0)) : 1.0;
            double ambient = 0.28 + 0.35 * depth;
            Rgb c = Mix(deep, base, Clamp01(ambient + diff * 0.85));
            // Light from within the cave spills around the edges that face it.
            double edgeGlow = Clamp01(1.0 - H(x, y) * 1.4) * Clamp01(Nx * Lx + Ny * Ly + 0.2);
            c = Mix(c, rim, edgeGlow * 0.55);
            c.r += specular * 0.55;
            c.g += specular * 0.42;
            c.b += specular * 0.45;
            auto u8 = [&](double v) { return uint32_t(std::clamp(v, 0.0, 1.0) * a * 255 + 0.5); };
            px[y * stride + x] =
                (uint32_t(a * 255 + 0.5) << 24) | (u8(c.r) << 16) | (u8(c.g) << 8) | u8(c.b);
        }
    cairo_surface_mark_dirty(coverage);
}

namespace {

using FrameFn = std::function<void(cairo_t*, int, int, int)>;

FrameFn FrameDrawer(const SheetSpec& s) {
    FrameFn fn;
    const std::string& n = s.name;
    if (n.rfind("Element_", 0) == 0)
        fn = [s](cairo_t* cr, int, int w, int h) { CavePiece(cr, s, w, h); };
    else if (n == "sperm1" || n == "sperm3") {
        bool golden = n == "sperm3";
        fn = [golden](cairo_t* cr, int k, int w, int h) {
            double phase = 2 * kPi * k / 12.0;
            double scale = golden ? 1.1 : 1.0;
            Halo(cr, w, h, golden ? Hex(0xFFC040) : Hex(0xFFB0D0), golden ? 0.75 : 0.45,
                 golden ? 10 : 6, [&](cairo_t* g) {
                     cairo_save(g);
                     cairo_translate(g, w - 30, h / 2.0);
                     cairo_scale(g, 26 * scale, 17 * scale);
                     cairo_arc(g, 0, 0, 1, 0, 2 * kPi);
                     cairo_restore(g);
                     cairo_fill(g);
                 });
            DrawSperm(cr, w - 30, h / 2.0, w - 78, scale, phase, golden);
            if (golden) {
                // Sparkles that twinkle round the precious one.
                for (int i = 0; i < 3; ++i) {
                    double a = phase + i * 2.1;
                    double sx = w - 30 + std::cos(a) * 22, sy = h / 2.0 + std::sin(a) * 18;
                    double r = 2.5 + 1.5 * std::sin(phase * 2 + i);
                    cairo_move_to(cr, sx - r * 1.6, sy);
                    cairo_line_to(cr, sx + r * 1.6, sy);
                    cairo_move_to(cr, sx, sy - r * 1.6);
                    cairo_line_to(cr, sx, sy + r * 1.6);
                    cairo_set_source_rgba(cr, 1, 1, 0.85, 0.9);
                    cairo_set_line_width(cr, 1.2);
                    cairo_stroke(cr);
                }
            }
        };
    } else if (n == "virus1")
        fn = DrawVirus1;
    else if (n == "virus2")
        fn = DrawVirus2;
    else if (n == "virus3")
        fn = DrawVirus3;
    else if (n == "bubble")
        fn = DrawBubbleFrame;
    else if (n.size() == 2 && n[0] == 'P')
        fn = DrawP;
    else if (n == "Schuss")
        fn = DrawSchuss;
    else if (n == "Abroll")
        fn = DrawAbroll;
    else if (n == "Kondom")
        fn = DrawKondom;
    else if (n == "Torpedo")
        fn = DrawTorpedo;
    else if (n == "TorpedoScore")
        fn = DrawTorpedoScore;
    else if (n == "Rohr")
        fn = DrawRohr;
    else if (n == "Zahlen")
        fn = DrawZahlen;
    else if (n == "bignumbers")
        fn = DrawBigNumber;
    else if (n == "congratulations")
        fn = DrawCongrats;
    else if (n == "points")
        fn = DrawPoints;
    else if (n == "Vantorlogo")
        fn = DrawVantorlogo;
    else if (n == "titlevantor")
        fn = DrawTitleVantor;
    else if (n == "qvchlogo")
        fn = DrawQvch;
    else if (n == "Orbelu")
        fn = DrawOrbelu;
    else if (n == "zolvex")
        fn = DrawZolvexLogo;
    else if (n == "Gameover")
        fn = [](cairo_t* cr, int k, int w, int h) {
            TitleStyle st = Rose();
            st.outlineW = 3.5;
            st.glowRadius = 6;
            DrawBanner(cr, k, w, h, "GAME OVER", st, false);
        };
    else if (n == "Score")
        fn = [](cairo_t* cr, int k, int w, int h) {
            DrawBanner(cr, k, w, h, "SCORE", Gold(), false);
        };
    else if (n == "Time")
        fn = [](cairo_t* cr, int k, int w, int h) {
            DrawBanner(cr, k, w, h, "TIME", Gold(), false);
        };
    else if (n == "playandwin")
        fn = [](cairo_t* cr, int k, int w, int h) {
            TitleStyle st = Gold();
            st.outlineW = 2;
            st.glowRadius = 3;
            DrawBanner(cr, k, w, h, "Play and win!", st, true);
        };
    else if (n == "buttontostart")
        fn = [](cairo_t* cr, int k, int w, int h) {
            TitleStyle st = Rose();
            st.outlineW = 2.5;
            st.glowRadius = 4;
            DrawBanner(cr, k, w, h, "Click the left mouse button to start", st, false);
        };
    else
        throw std::runtime_error("no art for sheet " + n);
    return fn;
}

}  // namespace

void DrawObjectFrame(cairo_t* cr, const std::string& name, int w, int h, int frame, double cx,
                     double cy, double scale) {
    SheetSpec s;
    s.name = name;
    s.frameW = w;
    s.frameH = h;
    s.images = s.cols = s.rows = 1;
    cairo_surface_t* f = NewSurface(w, h);
    cairo_t* fc = cairo_create(f);
    FrameDrawer(s)(fc, frame, w, h);
    cairo_destroy(fc);
    cairo_save(cr);
    cairo_translate(cr, cx - w * scale / 2, cy - h * scale / 2);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, f, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(f);
}

cairo_surface_t* DrawSheet(const SheetSpec& s) {
    FrameFn fn = FrameDrawer(s);
    cairo_surface_t* sheet = NewSurface(s.SheetW(), s.SheetH());
    cairo_t* sc = cairo_create(sheet);
    for (int k = 0; k < s.images; ++k) {
        int col = k % s.cols, row = k / s.cols;
        cairo_surface_t* f = NewSurface(s.frameW, s.frameH);
        cairo_t* cr = cairo_create(f);
        fn(cr, k, s.frameW, s.frameH);
        cairo_destroy(cr);
        cairo_set_source_surface(sc, f, col * s.frameW, row * s.frameH);
        cairo_paint(sc);
        cairo_surface_destroy(f);
    }
    cairo_destroy(sc);
    return sheet;
}

}  // namespace assetgen
