#include "Review.h"

#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include <turbojpeg.h>

#include <map>

#include "Bmp.h"

namespace assetgen {

namespace {

// The sheet as the game blends it: colour key 0 drops a pixel, the mask weights the rest.
cairo_surface_t* LoadSheet(const SheetSpec& s, const std::string& programDir,
                           const std::string& stageDir, int& bits, bool& hasMask, int& keyed) {
    Pixels p, m;
    int mbits = 0;
    if (!ReadBmp(stageDir + "/" + s.name + ".bmp", p, bits))
        throw std::runtime_error("cannot read sheet " + s.name);
    hasMask = s.mask && ReadBmp(programDir + "/gfx/sb/" + s.name + "_mask.bmp", m, mbits);
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
            px[yy * stride + xx] =
                (a << 24) | ((r * a / 255) << 16) | ((g * a / 255) << 8) | (b * a / 255);
        }
    cairo_surface_mark_dirty(img);
    return img;
}

}  // namespace

void WriteContactSheet(const std::vector<SheetSpec>& list, const std::string& programDir,
                       const std::string& stageDir, const std::string& out) {
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
            placed.push_back({&s, scale, shelfX + (k % perLine) * (fw + gap),
                              shelfY + label + (k / perLine) * (fh + gap)});
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
        int bits = 0;
        bool hasMask = false;
        cairo_surface_t* img = LoadSheet(s, programDir, stageDir, bits, hasMask, keyed);
        char title[160];
        std::snprintf(title, sizeof title, "%s  %dx%d x%d  (%dx%d)  %d-bit%s", s.name.c_str(),
                      s.frameW, s.frameH, s.images, s.cols, s.rows, bits, hasMask ? " + mask" : "");
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
                    cairo_set_source_rgb(cr, dark ? 0.35 : 0.55, dark ? 0.35 : 0.55,
                                         dark ? 0.38 : 0.58);
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
    std::printf("review: %s written; %d visible pixels would turn into the colour key\n",
                out.c_str(), keyed);
}

void WriteMockScene(const std::vector<SheetSpec>& list, const std::string& programDir,
                    const std::string& stageDir, const std::string& out, int scrollPos) {
    std::map<std::string, const SheetSpec*> byName;
    for (const auto& s : list) byName[s.name] = &s;
    int keyed = 0;
    auto sheet = [&](const std::string& name, bool& mask) {
        int bits = 0;
        return LoadSheet(*byName.at(name), programDir, stageDir, bits, mask, keyed);
    };
    cairo_surface_t* page = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 800, 600);
    cairo_t* cr = cairo_create(page);
    // Background: the BACK picture, scrolled and wrapped as in play.
    {
        std::ifstream in(stageDir + "/BACK.jpg", std::ios::binary);
        std::vector<unsigned char> jpg((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
        tjhandle tj = tjInitDecompress();
        cairo_surface_t* back = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 800, 600);
        cairo_surface_flush(back);
        tjDecompress2(tj, jpg.data(), jpg.size(), cairo_image_surface_get_data(back), 800,
                      cairo_image_surface_get_stride(back), 600, TJPF_BGRX, 0);
        tjDestroy(tj);
        cairo_surface_mark_dirty(back);
        int off = ((-scrollPos) / 5) % 800;
        for (int dx : {-800, 0}) {
            cairo_set_source_surface(cr, back, off + dx, 0);
            cairo_paint(cr);
        }
        cairo_surface_destroy(back);
    }
    auto frame = [&](const std::string& name, int k, double cx, double cy, double scale) {
        const SheetSpec& s = *byName.at(name);
        bool mask = false;
        cairo_surface_t* img = sheet(name, mask);
        int col = k % s.cols, row = k / s.cols;
        cairo_save(cr);
        cairo_translate(cr, cx - s.frameW * scale / 2, cy - s.frameH * scale / 2);
        cairo_scale(cr, scale, scale);
        cairo_rectangle(cr, 0, 0, s.frameW, s.frameH);
        cairo_clip(cr);
        cairo_set_source_surface(cr, img, -col * s.frameW, -row * s.frameH);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_surface_destroy(img);
    };
    // Action: a few swimmers, a caught one, a torpedo, bubbles and the cannon.
    frame("sperm1", 2, 150, 200, 1);
    frame("sperm1", 7, 60, 420, 0.8);
    frame("sperm3", 4, 330, 330, 1);
    frame("virus1", 3, 520, 180, 1);
    frame("virus2", 5, 600, 420, 1);
    frame("virus3", 8, 240, 500, 1);
    frame("bubble", 4, 455, 270, 1);
    frame("Kondom", 6, 420, 120, 1);
    frame("Torpedo", 3, 560, 300, 1);
    frame("Schuss", 0, 660, 240, 1);
    frame("P3", 0, 700, 520, 1);
    frame("P5", 0, 680, 470, 1);
    frame("P7", 0, 720, 440, 1);
    frame("points", 35, 620, 200, 1);
    frame("Rohr", 1, 745, 240, 1);
    // Scenery in front, from the shipped layout.
    {
        static const char* kTypes[] = {"",
                                       "Element_boden_1",
                                       "Element_boden_2",
                                       "Element_boden_3",
                                       "Element_boden_4",
                                       "Element_decke_1",
                                       "Element_decke_2",
                                       "Element_decke_3",
                                       "Element_decke_4",
                                       "Element_Saeule",
                                       "Element_Schlange"};
        std::ifstream in(programDir + "/KVD/front.dat", std::ios::binary);
        std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
        for (size_t o = 0; o + 16 <= b.size(); o += 16) {
            auto i32 = [&](size_t at) {
                return int32_t(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 |
                               uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24);
            };
            int32_t x = i32(o), y = i32(o + 4), type = i32(o + 12);
            if (x == -1 || type < 1 || type > 10) continue;
            double sx = x - scrollPos;
            if (sx < -400 || sx > 1200) continue;
            frame(kTypes[type], 0, sx, y, 1);
        }
    }
    // HUD.
    frame("Score", 0, 90, 25, 1);
    frame("Zahlen", 1, 175, 28, 0.6);
    frame("Zahlen", 2, 205, 28, 0.6);
    frame("Zahlen", 5, 235, 28, 0.6);
    frame("Zahlen", 0, 265, 28, 0.6);
    frame("Time", 0, 640, 25, 1);
    frame("Zahlen", 6, 720, 28, 0.6);
    frame("Zahlen", 4, 750, 28, 0.6);
    frame("TorpedoScore", 0, 780, 575, 1);
    frame("TorpedoScore", 0, 765, 575, 1);
    cairo_destroy(cr);
    cairo_surface_write_to_png(page, out.c_str());
    cairo_surface_destroy(page);
}

}  // namespace assetgen
