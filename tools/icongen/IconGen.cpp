// Draws the program's icon at build time: icongen OUTDIR
// OUTDIR/<n>x<n>/apps/zolvex.png for the hicolor sizes and OUTDIR/scalable/apps/zolvex.svg: a swimmer
// heading for the cannon, in front of a virus, on the cave's dark red.
#include <cairo-svg.h>
#include <cairo.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr double kPi = 3.14159265358979;

void RoundedSquare(cairo_t* cr, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, 1 - r, r, r, -kPi / 2, 0);
    cairo_arc(cr, 1 - r, 1 - r, r, 0, kPi / 2);
    cairo_arc(cr, r, 1 - r, r, kPi / 2, kPi);
    cairo_arc(cr, r, r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

// The picture in a unit square; small sizes leave out the fine strokes.
void Draw(cairo_t* cr, int size) {
    cairo_pattern_t* bg = cairo_pattern_create_linear(0, 0, 0, 1);
    cairo_pattern_add_color_stop_rgb(bg, 0, 0.55, 0.10, 0.16);
    cairo_pattern_add_color_stop_rgb(bg, 1, 0.25, 0.03, 0.08);
    RoundedSquare(cr, 0.16);
    cairo_set_source(cr, bg);
    cairo_fill(cr);
    cairo_pattern_destroy(bg);

    const double line = std::max(1.2 / size, 0.035);
    if (size >= 32) {
        // The virus, back left.
        cairo_set_source_rgb(cr, 0.40, 0.80, 0.28);
        cairo_set_line_width(cr, line * 0.8);
        const double vx = 0.26, vy = 0.26, vr = 0.10;
        for (int i = 0; i < 8; ++i) {
            const double a = i * 2 * kPi / 8;
            cairo_move_to(cr, vx + vr * std::cos(a), vy + vr * std::sin(a));
            cairo_line_to(cr, vx + 1.5 * vr * std::cos(a), vy + 1.5 * vr * std::sin(a));
            cairo_stroke(cr);
        }
        cairo_arc(cr, vx, vy, vr, 0, 2 * kPi);
        cairo_fill(cr);
    }
    // The cannon on the right edge.
    cairo_set_source_rgb(cr, 0.95, 0.82, 0.35);
    cairo_rectangle(cr, 0.74, 0.42, 0.16, 0.30);
    cairo_fill(cr);
    cairo_rectangle(cr, 0.62, 0.52, 0.14, 0.10);
    cairo_fill(cr);
    // The swimmer: a head and a wavy tail.
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, line * 1.4);
    cairo_move_to(cr, 0.46, 0.60);
    for (double t = 0.46; t >= 0.10; t -= 0.01)
        cairo_line_to(cr, t, 0.60 + 0.05 * std::sin((0.46 - t) * 28));
    cairo_stroke(cr);
    cairo_save(cr);
    cairo_translate(cr, 0.50, 0.60);
    cairo_scale(cr, 1.0, 0.72);
    cairo_arc(cr, 0, 0, 0.09, 0, 2 * kPi);
    cairo_restore(cr);
    cairo_fill(cr);
}

bool Png(const std::string& dir, int size) {
    const std::string sized = dir + "/" + std::to_string(size) + "x" + std::to_string(size);
    const std::string folder = sized + "/apps";
    mkdir(sized.c_str(), 0755);
    mkdir(folder.c_str(), 0755);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, size, size);
    Draw(cr, size);
    cairo_destroy(cr);
    const bool ok =
        cairo_surface_write_to_png(s, (folder + "/zolvex.png").c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

bool Svg(const std::string& dir) {
    const std::string folder = dir + "/scalable/apps";
    mkdir((dir + "/scalable").c_str(), 0755);
    mkdir(folder.c_str(), 0755);
    cairo_surface_t* s = cairo_svg_surface_create((folder + "/zolvex.svg").c_str(), 256, 256);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, 256, 256);
    Draw(cr, 256);
    cairo_destroy(cr);
    cairo_surface_finish(s);
    const bool ok = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    mkdir(dir.c_str(), 0755);
    bool ok = Svg(dir);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) ok = Png(dir, size) && ok;
    return ok ? 0 : 1;
}
