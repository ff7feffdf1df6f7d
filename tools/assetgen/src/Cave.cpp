// Places floor and ceiling flesh along the whole track, with a column now and then.
//
// An element's screen x is its track x minus the scroll position, which runs from 0 (the editor's
// first screen) to -22500 (the end of a game), so the track covers x -22500 .. 800 plus half a
// piece at either end.
#include "Cave.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "Bmp.h"
#include "Common.h"

namespace assetgen {

namespace {

struct Piece {
    int type, w, h, visMin, visMax, weight;
};

// Types 1-4 grow from the floor, 5-8 hang from the ceiling; sizes are the sheets'.
const Piece kFloor[] = {{1, 288, 296, 135, 165, 1},
                        {2, 323, 196, 95, 135, 3},
                        {3, 273, 109, 70, 100, 4},
                        {4, 549, 84, 52, 76, 4}};
const Piece kCeiling[] = {{5, 388, 76, 48, 68, 4},
                          {6, 195, 96, 58, 86, 4},
                          {7, 258, 162, 85, 125, 3},
                          {8, 165, 318, 140, 170, 1}};

struct Record {
    int32_t x, y, z, type;
};

const Piece& Pick(const Piece (&set)[4], Rng& rng, int lastType) {
    for (;;) {
        int total = 0;
        for (const Piece& p : set) total += p.weight;
        int r = rng.Int(total);
        for (const Piece& p : set) {
            if (r < p.weight) {
                // The tall pieces never come twice in a row: the action needs room.
                if (p.weight == 1 && p.type == lastType) break;
                return p;
            }
            r -= p.weight;
        }
    }
}

void Strip(std::vector<Record>& out, const Piece (&set)[4], bool ceiling, Rng& rng) {
    const double start = 900, end = -23300;
    double pos = start;
    int last = 0;
    while (pos > end) {
        const Piece& p = Pick(set, rng, last);
        last = p.type;
        int vis = p.visMin + rng.Int(p.visMax - p.visMin + 1);
        auto cx = int32_t(pos - p.w / 2.0);
        if (cx == -1) cx = -2;  // -1 marks an empty record
        int y = ceiling ? vis - p.h / 2 : 600 - vis + p.h / 2;
        out.push_back({cx, int32_t(y), -1, int32_t(p.type)});
        // Neighbours overlap so the flesh reads as one continuous wall.
        pos -= p.w * rng.Range(0.62, 0.8);
    }
}

}  // namespace

void WriteFrontDat(const std::string& path) {
    Rng rng(22500);
    std::vector<Record> recs;
    Strip(recs, kFloor, false, rng);
    Strip(recs, kCeiling, true, rng);
    // Columns: none on the first screens of play, then one every few seconds.
    const int columns[][2] = {{-5200, 10},  {-8200, 9},  {-10900, 10}, {-13600, 9},
                              {-16300, 10}, {-19100, 9}, {-21400, 10}};
    for (const auto& c : columns) recs.push_back({c[0] + rng.Int(300), 300, -1, c[1]});
    if (recs.size() > 300) throw std::runtime_error("too many cave elements");
    std::vector<uint8_t> bytes;
    auto put = [&](int32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(uint32_t(v) >> (8 * i)));
    };
    for (size_t i = 0; i < 300; ++i) {
        if (i < recs.size()) {
            put(recs[i].x);
            put(recs[i].y);
            put(recs[i].z);
            put(recs[i].type);
        } else {
            for (int k = 0; k < 4; ++k) put(-1);
        }
    }
    WriteFileBytes(path, bytes);
}

}  // namespace assetgen
