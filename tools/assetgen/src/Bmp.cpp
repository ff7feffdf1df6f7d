#include "Bmp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <unordered_map>

namespace assetgen {

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("write failed: " + path);
}

void KeepOffKey(uint8_t& r, uint8_t& g, uint8_t& b) {
    // 16 and 8 leave one step in the red channel under both plain truncation and the
    // (v + 1) * mask >> 8 rounding that the surface colour conversion uses.
    if (r < 16 && g < 8 && b < 16) r = 16;
}

Pixels FromSurface(cairo_surface_t* s, bool withMask) {
    cairo_surface_flush(s);
    Pixels p;
    p.w = cairo_image_surface_get_width(s);
    p.h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    const uint8_t* data = cairo_image_surface_get_data(s);
    p.rgb.assign(size_t(p.w) * p.h * 3, 0);
    p.alpha.assign(size_t(p.w) * p.h, 0);
    for (int y = 0; y < p.h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
        for (int x = 0; x < p.w; ++x) {
            uint32_t v = row[x];
            int a = int(v >> 24);
            size_t i = size_t(y) * p.w + x;
            bool visible = withMask ? a >= 6 : a >= 128;
            if (!visible) continue;
            auto un = [&](int c) {
                return uint8_t(std::min(255, (c * 255 + a / 2) / std::max(1, a)));
            };
            uint8_t r = un(int((v >> 16) & 255)), g = un(int((v >> 8) & 255)), b = un(int(v & 255));
            KeepOffKey(r, g, b);
            p.rgb[i * 3] = r;
            p.rgb[i * 3 + 1] = g;
            p.rgb[i * 3 + 2] = b;
            p.alpha[i] = withMask ? uint8_t(a) : 255;
        }
    }
    return p;
}

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> Header(int w, int h, int bits, int paletteEntries) {
    int rowBytes = ((w * bits / 8) + 3) & ~3;
    uint32_t off = 14 + 40 + uint32_t(paletteEntries) * 4;
    uint32_t size = off + uint32_t(rowBytes) * uint32_t(h);
    std::vector<uint8_t> b;
    b.push_back('B');
    b.push_back('M');
    Put32(b, size);
    Put32(b, 0);
    Put32(b, off);
    Put32(b, 40);
    Put32(b, uint32_t(w));
    Put32(b, uint32_t(h));  // positive: bottom row first, the common form every reader takes
    Put16(b, 1);
    Put16(b, uint16_t(bits));
    Put32(b, 0);
    Put32(b, uint32_t(rowBytes) * uint32_t(h));
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, uint32_t(paletteEntries));
    Put32(b, 0);
    return b;
}

void Write8(const std::string& path, int w, int h, const std::vector<std::array<uint8_t, 3>>& pal,
            const std::vector<uint8_t>& idx) {
    std::vector<uint8_t> b = Header(w, h, 8, 256);
    for (int i = 0; i < 256; ++i) {
        std::array<uint8_t, 3> c =
            i < int(pal.size()) ? pal[size_t(i)] : std::array<uint8_t, 3>{0, 0, 0};
        b.push_back(c[2]);
        b.push_back(c[1]);
        b.push_back(c[0]);
        b.push_back(0);
    }
    int rowBytes = (w + 3) & ~3;
    for (int y = h - 1; y >= 0; --y) {
        b.insert(b.end(), idx.begin() + ptrdiff_t(y) * w, idx.begin() + ptrdiff_t(y + 1) * w);
        for (int k = w; k < rowBytes; ++k) b.push_back(0);
    }
    WriteFileBytes(path, b);
}

struct Box {
    std::vector<uint32_t> colours;  // keys with 6 bits per channel
    uint64_t weight = 0;
};

}  // namespace

void WriteBmp24(const std::string& path, const Pixels& p) {
    std::vector<uint8_t> b = Header(p.w, p.h, 24, 0);
    int rowBytes = (p.w * 3 + 3) & ~3;
    for (int y = p.h - 1; y >= 0; --y) {
        for (int x = 0; x < p.w; ++x) {
            size_t i = (size_t(y) * p.w + x) * 3;
            b.push_back(p.rgb[i + 2]);
            b.push_back(p.rgb[i + 1]);
            b.push_back(p.rgb[i]);
        }
        for (int k = p.w * 3; k < rowBytes; ++k) b.push_back(0);
    }
    WriteFileBytes(path, b);
}

void WriteBmp8(const std::string& path, const Pixels& p) {
    size_t n = size_t(p.w) * p.h;
    auto key = [&](size_t i) {
        return (uint32_t(p.rgb[i * 3] >> 2) << 12) | (uint32_t(p.rgb[i * 3 + 1] >> 2) << 6) |
               uint32_t(p.rgb[i * 3 + 2] >> 2);
    };
    auto visible = [&](size_t i) { return p.rgb[i * 3] | p.rgb[i * 3 + 1] | p.rgb[i * 3 + 2]; };
    std::unordered_map<uint32_t, uint32_t> hist;
    for (size_t i = 0; i < n; ++i)
        if (visible(i)) hist[key(i)]++;
    std::vector<Box> boxes(1);
    for (auto& [k, c] : hist) {
        boxes[0].colours.push_back(k);
        boxes[0].weight += c;
    }
    std::sort(boxes[0].colours.begin(), boxes[0].colours.end());
    auto chan = [](uint32_t k, int c) { return int((k >> (12 - 6 * c)) & 63); };
    while (boxes.size() < 255) {
        // Split the box with the widest colour range, weighted by how many pixels it holds.
        int best = -1, bestChan = 0;
        double bestScore = 0;
        for (size_t bi = 0; bi < boxes.size(); ++bi) {
            if (boxes[bi].colours.size() < 2) continue;
            for (int c = 0; c < 3; ++c) {
                int lo = 63, hi = 0;
                for (uint32_t k : boxes[bi].colours) {
                    lo = std::min(lo, chan(k, c));
                    hi = std::max(hi, chan(k, c));
                }
                double score = double(hi - lo) * std::sqrt(double(boxes[bi].weight));
                if (score > bestScore) {
                    bestScore = score;
                    best = int(bi);
                    bestChan = c;
                }
            }
        }
        if (best < 0) break;
        Box& b = boxes[size_t(best)];
        std::sort(b.colours.begin(), b.colours.end(),
                  [&](uint32_t x, uint32_t y) { return chan(x, bestChan) < chan(y, bestChan); });
        uint64_t half = b.weight / 2, acc = 0;
        size_t cut = 0;
        while (cut < b.colours.size() - 1 && acc + hist[b.colours[cut]] <= half)
            acc += hist[b.colours[cut++]];
        if (cut == 0) cut = 1;
        Box other;
        other.colours.assign(b.colours.begin() + ptrdiff_t(cut), b.colours.end());
        b.colours.resize(cut);
        b.weight = 0;
        for (uint32_t k : b.colours) b.weight += hist[k];
        for (uint32_t k : other.colours) other.weight += hist[k];
        boxes.push_back(std::move(other));
    }
    std::vector<std::array<uint8_t, 3>> pal(1, {0, 0, 0});
    std::unordered_map<uint32_t, uint8_t> map;
    for (auto& b : boxes) {
        if (b.colours.empty()) continue;
        double s[3] = {0, 0, 0};
        for (uint32_t k : b.colours)
            for (int c = 0; c < 3; ++c) s[c] += double(hist[k]) * (chan(k, c) * 4 + 2);
        std::array<uint8_t, 3> col;
        for (int c = 0; c < 3; ++c)
            col[size_t(c)] = uint8_t(std::min(255.0, s[c] / double(b.weight) + 0.5));
        KeepOffKey(col[0], col[1], col[2]);
        for (uint32_t k : b.colours) map[k] = uint8_t(pal.size());
        pal.push_back(col);
    }
    std::vector<uint8_t> idx(n, 0);
    for (size_t i = 0; i < n; ++i)
        if (visible(i)) idx[i] = map[key(i)];
    Write8(path, p.w, p.h, pal, idx);
}

void WriteMaskBmp(const std::string& path, const Pixels& p) {
    std::vector<std::array<uint8_t, 3>> grey(256);
    for (int i = 0; i < 256; ++i) grey[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i)};
    Write8(path, p.w, p.h, grey, p.alpha);
}

bool ReadBmp(const std::string& path, Pixels& out, int& bits) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return false;
    auto u32 = [&](size_t o) {
        return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 |
               uint32_t(b[o + 3]) << 24;
    };
    uint32_t off = u32(10);
    int w = int(u32(18)), h = int(u32(22));
    bits = b[28] | b[29] << 8;
    if (w <= 0 || h <= 0 || (bits != 8 && bits != 24)) return false;
    int rowBytes = ((w * bits / 8) + 3) & ~3;
    if (b.size() < off + size_t(rowBytes) * h) return false;
    out.w = w;
    out.h = h;
    out.rgb.assign(size_t(w) * h * 3, 0);
    out.alpha.clear();
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = &b[off + size_t(h - 1 - y) * rowBytes];
        for (int x = 0; x < w; ++x) {
            uint8_t* o = &out.rgb[(size_t(y) * w + x) * 3];
            if (bits == 24) {
                o[0] = row[x * 3 + 2];
                o[1] = row[x * 3 + 1];
                o[2] = row[x * 3];
            } else {
                size_t pe = 54 + size_t(row[x]) * 4;
                o[0] = b[pe + 2];
                o[1] = b[pe + 1];
                o[2] = b[pe];
            }
        }
    }
    return true;
}

}  // namespace assetgen
