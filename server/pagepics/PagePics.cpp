// Draws the start page's pictures at build time: pagepics OUTDIR
// A banner with the cave, a swimmer, a virus and the cannon; a how-to-play sketch; a prize cup.
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr double kPi = 3.14159265358979;

void Sperm(cairo_t* cr, double x, double y, double s) {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, s, s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 1.6);
    cairo_move_to(cr, 6, 0);
    for (double t = 6; t <= 34; t += 1) cairo_line_to(cr, t, 3 * std::sin(t * 0.45));
    cairo_stroke(cr);
    cairo_save(cr);
    cairo_scale(cr, 1.0, 0.7);
    cairo_arc(cr, 0, 0, 7, 0, 2 * kPi);
    cairo_restore(cr);
    cairo_fill(cr);
    cairo_restore(cr);
}

void Virus(cairo_t* cr, double x, double y, double r) {
    cairo_set_source_rgb(cr, 0.35, 0.75, 0.25);
    cairo_set_line_width(cr, 2);
    for (int i = 0; i < 10; ++i) {
        const double a = i * 2 * kPi / 10;
        cairo_move_to(cr, x + r * std::cos(a), y + r * std::sin(a));
        cairo_line_to(cr, x + 1.45 * r * std::cos(a), y + 1.45 * r * std::sin(a));
        cairo_stroke(cr);
        cairo_arc(cr, x + 1.5 * r * std::cos(a), y + 1.5 * r * std::sin(a), 1.8, 0, 2 * kPi);
        cairo_fill(cr);
    }
    cairo_arc(cr, x, y, r, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.2, 0.5, 0.15);
    cairo_arc(cr, x - r / 3, y - r / 4, r / 4, 0, 2 * kPi);
    cairo_fill(cr);
}

// The condom cannon on the right edge, muzzle to the left.
void Cannon(cairo_t* cr, double x, double y, double s) {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, s, s);
    cairo_set_source_rgb(cr, 0.25, 0.3, 0.75);
    cairo_rectangle(cr, -4, -12, 22, 24);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.45, 0.5, 0.9);
    cairo_rectangle(cr, -22, -5, 20, 10);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1.0, 0.85, 0.3);
    cairo_arc(cr, -24, 0, 5, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_restore(cr);
}

void CaveBackground(cairo_t* cr, int w, int h) {
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 0, h);
    cairo_pattern_add_color_stop_rgb(g, 0, 0.55, 0.12, 0.45);
    cairo_pattern_add_color_stop_rgb(g, 1, 0.85, 0.45, 0.72);
    cairo_set_source(cr, g);
    cairo_paint(cr);
    cairo_pattern_destroy(g);
    // Cave walls, top and bottom.
    cairo_set_source_rgb(cr, 0.4, 0.05, 0.3);
    for (int edge = 0; edge < 2; ++edge) {
        const double base = edge == 0 ? 0 : h;
        const double dir = edge == 0 ? 1 : -1;
        cairo_move_to(cr, 0, base);
        for (int x = 0; x <= w; x += 4)
            cairo_line_to(
                cr, x, base + dir * (5 + 3 * std::sin(x * 0.07) + 2 * std::sin(x * 0.19 + edge)));
        cairo_line_to(cr, w, base);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
}

void Title(cairo_t* cr, const char* text, double x, double y, double size) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, size);
    cairo_move_to(cr, x, y);
    cairo_text_path(cr, text);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.3, 0.02, 0.25);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
}

bool Save(cairo_surface_t* s, const std::string& path) {
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    if (!ok) std::fprintf(stderr, "pagepics: cannot write %s\n", path.c_str());
    cairo_surface_destroy(s);
    return ok;
}

bool Banner(const std::string& dir) {
    const int w = 260, h = 52;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(s);
    CaveBackground(cr, w, h);
    Sperm(cr, 16, 18, 0.75);
    Sperm(cr, 36, 36, 0.65);
    Virus(cr, 204, 27, 5.5);
    Cannon(cr, 240, 26, 0.85);
    Title(cr, "ZOLVEX", 56, 36, 26);
    cairo_destroy(cr);
    return Save(s, dir + "/banner.png");
}

bool HowTo(const std::string& dir) {
    const int w = 120, h = 72;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(s);
    CaveBackground(cr, w, h);
    Sperm(cr, 14, 26, 0.7);
    Virus(cr, 22, 50, 5);
    // A shot on its way, and the cannon's up and down.
    cairo_set_source_rgb(cr, 1.0, 0.85, 0.3);
    cairo_arc(cr, 58, 36, 3.5, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.7);
    cairo_set_line_width(cr, 1.5);
    for (int i = 0; i < 3; ++i) {
        cairo_move_to(cr, 66 + 6 * i, 36);
        cairo_line_to(cr, 70 + 6 * i, 36);
    }
    cairo_stroke(cr);
    Cannon(cr, 104, 36, 0.8);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 2);
    cairo_move_to(cr, 112, 18);
    cairo_line_to(cr, 112, 8);
    cairo_move_to(cr, 108, 12);
    cairo_line_to(cr, 112, 7);
    cairo_line_to(cr, 116, 12);
    cairo_move_to(cr, 112, 54);
    cairo_line_to(cr, 112, 64);
    cairo_move_to(cr, 108, 60);
    cairo_line_to(cr, 112, 65);
    cairo_line_to(cr, 116, 60);
    cairo_stroke(cr);
    cairo_destroy(cr);
    return Save(s, dir + "/howto.png");
}

bool Prize(const std::string& dir) {
    const int w = 48, h = 48;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0.992, 0.933, 0.969);  // the pages' background
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.95, 0.7, 0.1);
    cairo_move_to(cr, 12, 8);
    cairo_line_to(cr, 36, 8);
    cairo_curve_to(cr, 36, 26, 30, 30, 24, 30);
    cairo_curve_to(cr, 18, 30, 12, 26, 12, 8);
    cairo_fill(cr);
    cairo_set_line_width(cr, 2.5);
    cairo_arc(cr, 12, 15, 5, kPi / 2, 3 * kPi / 2);
    cairo_stroke(cr);
    cairo_arc_negative(cr, 36, 15, 5, kPi / 2, -kPi / 2);
    cairo_stroke(cr);
    cairo_rectangle(cr, 22, 30, 4, 8);
    cairo_rectangle(cr, 15, 38, 18, 4);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 12);
    cairo_move_to(cr, 20, 23);
    cairo_show_text(cr, "1");
    cairo_destroy(cr);
    return Save(s, dir + "/prize.png");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pagepics OUTDIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    return Banner(dir) && HowTo(dir) && Prize(dir) ? 0 : 1;
}
