// The generated sprite sheets and pictures, as the loaders will meet them.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/Ansi.h"
#include "surface/Resources.h"
#include "testsupport/TestSupport.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Bmp {
    int w = 0, h = 0, bits = 0;
    std::vector<uint8_t> rgb;    // top row first
    std::vector<uint8_t> index;  // 8-bit only
};

uint32_t U32(const std::vector<uint8_t>& b, size_t o) {
    return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 |
           uint32_t(b[o + 3]) << 24;
}

// Reads the uncompressed 8- and 24-bit forms the generator writes; anything else fails the test.
bool ParseBmp(const std::vector<uint8_t>& b, Bmp& out) {
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return false;
    uint32_t off = U32(b, 10);
    int32_t w = int32_t(U32(b, 18)), h = int32_t(U32(b, 22));
    out.bits = b[28] | b[29] << 8;
    if (U32(b, 30) != 0 || w <= 0 || h <= 0 || (out.bits != 8 && out.bits != 24)) return false;
    size_t row = (size_t(w) * size_t(out.bits / 8) + 3) & ~size_t(3);
    if (b.size() < off + row * size_t(h)) return false;
    out.w = w;
    out.h = h;
    out.rgb.resize(size_t(w) * size_t(h) * 3);
    if (out.bits == 8) out.index.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const uint8_t* r = &b[off + size_t(h - 1 - y) * row];
        for (int x = 0; x < w; ++x) {
            size_t i = size_t(y) * size_t(w) + size_t(x);
            if (out.bits == 24) {
                out.rgb[i * 3] = r[x * 3 + 2];
                out.rgb[i * 3 + 1] = r[x * 3 + 1];
                out.rgb[i * 3 + 2] = r[x * 3];
            } else {
                out.index[i] = r[x];
                size_t pe = 54 + size_t(r[x]) * 4;
                out.rgb[i * 3] = b[pe + 2];
                out.rgb[i * 3 + 1] = b[pe + 1];
                out.rgb[i * 3 + 2] = b[pe];
            }
        }
    }
    return true;
}

// Frame sizes, image counts and grids of every sheet the sprite script loads from a picture.
struct Expected {
    const char* name;
    int fw, fh, images, cols, rows;
};
const Expected kSheets[] = {
    {"Orbelu", 186, 62, 1, 1, 1},
    {"Element_Saeule", 361, 600, 1, 1, 1},
    {"Element_Schlange", 153, 600, 1, 1, 1},
    {"Element_boden_1", 288, 296, 1, 1, 1},
    {"Element_boden_2", 323, 196, 1, 1, 1},
    {"Element_boden_3", 273, 109, 1, 1, 1},
    {"Element_boden_4", 549, 84, 1, 1, 1},
    {"Element_decke_1", 388, 76, 1, 1, 1},
    {"Element_decke_2", 195, 96, 1, 1, 1},
    {"Element_decke_3", 258, 162, 1, 1, 1},
    {"Element_decke_4", 165, 318, 1, 1, 1},
    {"Torpedo", 162, 40, 12, 1, 12},
    {"TorpedoScore", 10, 40, 1, 1, 1},
    {"buttontostart", 709, 48, 1, 1, 1},
    {"zolvex", 761, 65, 1, 1, 1},
    {"playandwin", 251, 31, 1, 1, 1},
    {"qvchlogo", 276, 66, 1, 1, 1},
    {"titlevantor", 234, 37, 1, 1, 1},
    {"Rohr", 111, 93, 2, 1, 2},
    {"Schuss", 24, 79, 1, 1, 1},
    {"Kondom", 303, 75, 12, 1, 12},
    {"Abroll", 311, 81, 6, 1, 6},
    {"sperm1", 306, 55, 12, 1, 12},
    {"sperm3", 308, 58, 12, 1, 12},
    {"bubble", 60, 60, 24, 1, 24},
    {"virus1", 78, 58, 12, 1, 12},
    {"virus2", 58, 60, 12, 1, 12},
    {"virus3", 87, 68, 12, 1, 12},
    {"Zahlen", 56, 60, 11, 11, 1},
    {"bignumbers", 230, 222, 10, 1, 10},
    {"congratulations", 50, 45, 16, 16, 1},
    {"Gameover", 507, 68, 1, 1, 1},
    {"Score", 131, 35, 1, 1, 1},
    {"Time", 88, 34, 1, 1, 1},
    {"P1", 110, 110, 1, 1, 1},
    {"P2", 77, 77, 1, 1, 1},
    {"P3", 54, 54, 1, 1, 1},
    {"P4", 38, 38, 1, 1, 1},
    {"P5", 27, 27, 1, 1, 1},
    {"P6", 20, 20, 1, 1, 1},
    {"P7", 15, 15, 1, 1, 1},
    {"P8", 10, 10, 1, 1, 1},
    {"Vantorlogo", 111, 84, 12, 1, 12},
    {"points", 56, 20, 51, 1, 51},
};

struct Listed {
    int bits = 0;
    bool mask = false;
};

std::map<std::string, Listed> SheetList() {
    std::map<std::string, Listed> m;
    std::ifstream in(ZOLVEX_SHEET_LIST);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ss(line);
        std::string name, mask;
        int fw, fh, n, c, r, bits;
        ss >> name >> fw >> fh >> n >> c >> r >> bits >> mask;
        m[name] = {bits, mask == "mask"};
    }
    return m;
}

std::string SheetPath(const std::string& name) {
    return zx::test::BuiltProgramDir() + "/gfx/sb/" + name + ".bmp";
}

// A visible pixel must not turn into the colour key when the display reduces it to 5-6-5 bits.
bool VanishesAt16(const uint8_t* p) {
    return (p[0] | p[1] | p[2]) != 0 && (p[0] >> 3) == 0 && (p[1] >> 2) == 0 && (p[2] >> 3) == 0;
}

TEST(GeneratedSheets, EverySheetHasItsGridSizeAndListedDepth) {
    auto listed = SheetList();
    ASSERT_EQ(listed.size(), std::size(kSheets));
    int eight = 0, twentyFour = 0;
    for (const Expected& e : kSheets) {
        SCOPED_TRACE(e.name);
        ASSERT_EQ(listed.count(e.name), 1u);
        ASSERT_EQ(e.cols * e.rows, e.images);
        Bmp b;
        ASSERT_TRUE(ParseBmp(ReadAll(SheetPath(e.name)), b));
        EXPECT_EQ(b.w, e.fw * e.cols);
        EXPECT_EQ(b.h, e.fh * e.rows);
        EXPECT_EQ(b.bits, listed[e.name].bits);
        (b.bits == 8 ? eight : twentyFour)++;
    }
    // Both loader paths get exercised by the shipped sheets.
    EXPECT_GE(eight, 5);
    EXPECT_GE(twentyFour, 5);
}

TEST(GeneratedSheets, ColourKeyIsOnlyWhereNothingIsDrawn) {
    auto listed = SheetList();
    for (const Expected& e : kSheets) {
        SCOPED_TRACE(e.name);
        Bmp b;
        ASSERT_TRUE(ParseBmp(ReadAll(SheetPath(e.name)), b));
        size_t n = size_t(b.w) * size_t(b.h), visible = 0, vanishing = 0;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = &b.rgb[i * 3];
            if (p[0] | p[1] | p[2]) ++visible;
            if (VanishesAt16(p)) ++vanishing;
            if (b.bits == 8 && b.index[i] != 0) {
                EXPECT_NE(p[0] | p[1] | p[2], 0) << "palette colour on the key";
            }
        }
        EXPECT_EQ(vanishing, 0u);
        // Every frame shows something, and no frame is a filled rectangle.
        for (int k = 0; k < e.images; ++k) {
            int x0 = (k % e.cols) * e.fw, y0 = (k / e.cols) * e.fh;
            size_t vis = 0;
            for (int y = 0; y < e.fh; ++y)
                for (int x = 0; x < e.fw; ++x) {
                    const uint8_t* p = &b.rgb[(size_t(y0 + y) * size_t(b.w) + size_t(x0 + x)) * 3];
                    vis += (p[0] | p[1] | p[2]) != 0;
                }
            EXPECT_GT(vis, size_t(e.fw * e.fh) / 50) << "frame " << k + 1 << " nearly empty";
            EXPECT_LT(vis, size_t(e.fw * e.fh)) << "frame " << k + 1 << " has no transparent pixel";
        }
        (void)visible;
    }
}

TEST(GeneratedSheets, MasksMatchTheirSheetsAndCarryColourUnderSoftEdges) {
    auto listed = SheetList();
    for (const char* must :
         {"bubble", "P1", "P8", "sperm1", "sperm3", "virus1", "virus2", "virus3", "Torpedo",
          "Kondom", "zolvex", "titlevantor", "qvchlogo", "Orbelu", "Vantorlogo"})
        EXPECT_TRUE(listed[must].mask) << must;
    for (const Expected& e : kSheets) {
        if (!listed[e.name].mask) continue;
        SCOPED_TRACE(e.name);
        Bmp sheet, mask;
        ASSERT_TRUE(ParseBmp(ReadAll(SheetPath(e.name)), sheet));
        ASSERT_TRUE(ParseBmp(
            ReadAll(zx::test::BuiltProgramDir() + "/gfx/sb/" + e.name + "_mask.bmp"), mask));
        ASSERT_EQ(mask.bits, 8);  // the loader refuses anything else
        ASSERT_EQ(mask.w, sheet.w);
        ASSERT_EQ(mask.h, sheet.h);
        size_t soft = 0;
        for (size_t i = 0; i < size_t(mask.w) * size_t(mask.h); ++i) {
            uint8_t a = mask.index[i];
            ASSERT_EQ(mask.rgb[i * 3], a) << "mask palette is not grey";
            bool coloured = (sheet.rgb[i * 3] | sheet.rgb[i * 3 + 1] | sheet.rgb[i * 3 + 2]) != 0;
            // The blend skips key pixels, so an opaque-ish mask over black would punch a hole.
            if (a > 0) {
                ASSERT_TRUE(coloured) << "black under mask value " << int(a) << " at " << i;
            }
            if (a > 0 && a < 255) ++soft;
        }
        EXPECT_GT(soft, 0u) << "a mask without soft edges is pointless";
    }
}

TEST(GeneratedSheets, KindOneObjectsHaveNoFile) {
    for (const char* name :
         {"HSLeerfeld1", "HSLeerfeld10", "helpfeld", "bigtimefeld", "Leerzeit", "LeerPoints"}) {
        std::ifstream in(SheetPath(name));
        EXPECT_FALSE(in.good()) << name;
    }
}

TEST(GeneratedResources, SheetsAreBitmapResourcesIdenticalToTheFiles) {
    for (const Expected& e : kSheets) {
        SCOPED_TRACE(e.name);
        auto res = zx::FindResource("BITMAP", zx::UpperCase(e.name));
        ASSERT_TRUE(res.has_value());
        auto file = ReadAll(SheetPath(e.name));
        ASSERT_EQ(res->size, file.size());
        EXPECT_TRUE(std::equal(file.begin(), file.end(), res->data));
    }
    // Looked up without regard to case, as the picture loader does.
    EXPECT_TRUE(zx::FindResource("BITMAP", "element_saeule").has_value());
}

TEST(GeneratedResources, PicturesDecodeAtTheirSizes) {
    const std::pair<const char*, std::pair<int, int>> pics[] = {
        {"BACK", {800, 600}},      {"INFO", {800, 600}},    {"MENUE", {400, 340}},
        {"MENUE_NET", {400, 340}}, {"MENUE2X", {800, 680}}, {"MENUE_NET2X", {800, 680}}};
    for (const auto& [name, size] : pics) {
        SCOPED_TRACE(name);
        auto pic = zx::LoadJpegResource(name);
        ASSERT_TRUE(pic.has_value());
        EXPECT_EQ(pic->width, size.first);
        EXPECT_EQ(pic->height, size.second);
        // Not a flat fill: the pictures have content all over.
        double mean = 0, var = 0;
        for (uint8_t v : pic->rgb) mean += v;
        mean /= double(pic->rgb.size());
        for (uint8_t v : pic->rgb) var += (v - mean) * (v - mean);
        EXPECT_GT(var / double(pic->rgb.size()), 100.0);
    }
}

TEST(GeneratedResources, BackgroundJoinsItselfWhenItWraps) {
    auto pic = zx::LoadJpegResource("BACK");
    ASSERT_TRUE(pic.has_value());
    const int w = pic->width, h = pic->height;
    auto at = [&](int x, int y, int c) {
        return double(pic->rgb[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c)]);
    };
    // The step across the seam (last column to first) must look like any step inside the picture.
    auto step = [&](int xa, int xb) {
        double s = 0;
        for (int y = 0; y < h; ++y)
            for (int c = 0; c < 3; ++c) s += std::abs(at(xa, y, c) - at(xb, y, c));
        return s / (h * 3);
    };
    double inside = 0;
    for (int x = 100; x < 700; x += 50) inside += step(x, x + 1);
    inside /= 12;
    EXPECT_LT(step(w - 1, 0), inside * 2.0 + 2.0);
}

}  // namespace
