#include "Review.h"

#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "Bmp.h"

namespace assetgen {

void WriteContactSheet(const std::vector<SheetSpec>& list, const std::string& programDir, const std::string& stageDir,
                       const std::string& out) {
    const int pageW = 1800, gap = 6, label = 16, maxH = 150;
    struct Placed {
        const SheetSpec* s;
        double scale;
        int x, y;
    };
    // Shelf packing: each sheet is a block (its label over its frames in reading order); blocks
    // go left to right and start a new shelf when the line is full.
    std::vector<Placed> placed;
    int shelfX = gap, shelfY = gap, shelfH = 0, totalH = 0;
    for (const auto& s : list) {
        double scale = std::min(1.0, double(maxH) / s.frameH);
        int fw = int(s.frameW * scale + 0.5), fh = int(s.frameH * scale + 0.5);
        int perLine = std::max(1, std::min(s.images, (pageW - 2 * gap) / (fw + gap)));
        int lines = (s.images + perLine - 1) / perLine;
        int labelW = int((s.name.size() + 40) * 6.6);
        int blockW = std::max(perLine * (fw + gap), labelW), blockH = label + lines * (fh + gap);
        if (shelfX + blockW > pageW - gap) {
            shelfX = gap;
            shelfY += shelfH + gap;
            shelfH = 0;
        }
        for (int k = 0; k < s.images; ++k)
            placed.push_back({&s, scale, shelfX + (k % perLine) * (fw + gap), shelfY + label + (k / perLine) * (fh + gap)});
        shelfX += blockW + gap * 3;
        shelfH = std::max(shelfH, blockH);
        totalH = shelfY + shelfH + gap;
    }
    cairo_surface_t* page = cairo_image_surface_create(CAIRO_FORMAT_RGB24, pageW, totalH);
    cairo_t* cr = cairo_create(page);
    cairo_set_source_rgb(cr, 0.16, 0.16, 0.18);
    cairo_paint(cr);
    size_t pi = 0;
    int keyed = 0;
    for (const auto& s : list) {
        Pixels p, m;
        int bits = 0, mbits = 0;
        if (!ReadBmp(stageDir + "/" + s.name + ".bmp", p, bits)) throw std::runtime_error("cannot read sheet " + s.name);
        bool hasMask = s.mask && ReadBmp(programDir + "/gfx/sb/" + s.name + "_mask.bmp", m, mbits);
        // The sheet as the game blends it: colour key 0 drops a pixel, the mask weights the rest.
        cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, p.w, p.h);
        auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(img));
        int stride = cairo_image_surface_get_stride(img) / 4;
        for (int yy = 0; yy < p.h; ++yy)
            for (int xx = 0; xx < p.w; ++xx) {
                size_t i = size_t(yy) * p.w + xx;
                uint32_t r = p.rgb[i * 3], g = p.rgb[i * 3 + 1], b = p.rgb[i * 3 + 2];
                bool key16 = (r >> 3) == 0 && (g >> 2) == 0 && (b >> 3) == 0;
                uint32_t a = (r | g | b) == 0 ? 0 : (hasMask ? m.rgb[i * 3] : 255);
                if ((r | g | b) != 0 && key16) ++keyed;
                px[yy * stride + xx] = (a << 24) | ((r * a / 255) << 16) | ((g * a / 255) << 8) | (b * a / 255);
            }
        cairo_surface_mark_dirty(img);
        char title[160];
        std::snprintf(title, sizeof title, "%s  %dx%d x%d  (%dx%d)  %d-bit%s", s.name.c_str(), s.frameW, s.frameH,
                      s.images, s.cols, s.rows, bits, hasMask ? " + mask" : "");
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, 11);
        cairo_set_source_rgb(cr, 0.9, 0.9, 0.6);
        cairo_move_to(cr, placed[pi].x, placed[pi].y - 4);
        cairo_show_text(cr, title);
        for (int k = 0; k < s.images; ++k, ++pi) {
            const Placed& pl = placed[pi];
            int col = k % s.cols, row = k / s.cols;
            double fw = s.frameW * pl.scale, fh = s.frameH * pl.scale;
            cairo_save(cr);
            cairo_rectangle(cr, pl.x, pl.y, fw, fh);
            cairo_clip(cr);
            for (int cy = 0; cy < fh; cy += 8)
                for (int cx = 0; cx < fw; cx += 8) {
                    bool dark = ((cx / 8) + (cy / 8)) % 2;
                    cairo_set_source_rgb(cr, dark ? 0.35 : 0.55, dark ? 0.35 : 0.55, dark ? 0.38 : 0.58);
                    cairo_rectangle(cr, pl.x + cx, pl.y + cy, 8, 8);
                    cairo_fill(cr);
                }
            cairo_translate(cr, pl.x, pl.y);
            cairo_scale(cr, pl.scale, pl.scale);
            cairo_set_source_surface(cr, img, -col * s.frameW, -row * s.frameH);
            cairo_paint(cr);
            cairo_restore(cr);
        }
        cairo_surface_destroy(img);
    }
    cairo_destroy(cr);
    if (cairo_surface_write_to_png(page, out.c_str()) != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error("cannot write " + out);
    cairo_surface_destroy(page);
    std::printf("review: %s written; %d visible pixels would turn into the colour key\n", out.c_str(), keyed);
}

}  // namespace assetgen
