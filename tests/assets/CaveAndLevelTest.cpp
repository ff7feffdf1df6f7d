// The shipped cave layout and the level source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/TestSupport.h"

namespace {

struct Rec {
    int32_t x, y, z, type;
};

std::vector<Rec> ReadFront(size_t& bytes) {
    std::ifstream in(zx::test::BuiltProgramDir() + "/KVD/front.dat", std::ios::binary);
    std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    bytes = b.size();
    std::vector<Rec> out;
    auto i32 = [&](size_t o) {
        return int32_t(uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 |
                       uint32_t(b[o + 3]) << 24);
    };
    for (size_t o = 0; o + 16 <= b.size(); o += 16)
        out.push_back({i32(o), i32(o + 4), i32(o + 8), i32(o + 12)});
    return out;
}

// Sizes of the element sheets by type.
const std::map<int, std::pair<int, int>> kSize = {
    {1, {288, 296}}, {2, {323, 196}}, {3, {273, 109}}, {4, {549, 84}},  {5, {388, 76}},
    {6, {195, 96}},  {7, {258, 162}}, {8, {165, 318}}, {9, {361, 600}}, {10, {153, 600}}};

TEST(ShippedCave, IsThreeHundredRecordsOfKnownElements) {
    size_t bytes = 0;
    auto recs = ReadFront(bytes);
    ASSERT_EQ(bytes, 4800u);
    int used = 0;
    for (const Rec& r : recs) {
        if (r.x == -1) {
            EXPECT_EQ(r.type, -1);  // empty records are all -1, as the editor saves them
            continue;
        }
        ++used;
        EXPECT_GE(r.type, 1);
        EXPECT_LE(r.type, 10);
        EXPECT_EQ(r.z, -1) << "default depth";
    }
    EXPECT_GT(used, 100);
}

TEST(ShippedCave, FloorAndCeilingRunTheWholeTrackWithoutHidingThePlayfield) {
    size_t bytes = 0;
    auto recs = ReadFront(bytes);
    // Track x seen at scroll positions 0 .. -22500 spans -22500 .. 800.
    std::vector<bool> floor(23301, false), ceiling(23301, false);
    int columns = 0;
    std::vector<int> columnX;
    for (const Rec& r : recs) {
        if (r.x == -1) continue;
        auto [w, h] = kSize.at(r.type);
        if (r.type >= 9) {
            ++columns;
            columnX.push_back(r.x);
            EXPECT_EQ(r.y, 300);
            continue;
        }
        bool isFloor = r.type <= 4;
        int top = r.y - h / 2, bottom = r.y + h / 2;
        if (isFloor) {
            EXPECT_GE(bottom, 598) << "floor piece floating at x " << r.x;
            EXPECT_GE(top, 600 - 210) << "floor piece reaching too far up at x " << r.x;
        } else {
            EXPECT_LE(top, 2) << "ceiling piece hanging loose at x " << r.x;
            EXPECT_LE(bottom, 210) << "ceiling piece reaching too far down at x " << r.x;
        }
        auto& line = isFloor ? floor : ceiling;
        for (int x = r.x - w / 2; x <= r.x + w / 2; ++x)
            if (x >= -22500 && x <= 800) line[size_t(x + 22500)] = true;
    }
    EXPECT_EQ(std::count(floor.begin(), floor.end(), false), 0) << "gaps in the floor";
    EXPECT_EQ(std::count(ceiling.begin(), ceiling.end(), false), 0) << "gaps in the ceiling";
    // Columns now and then: never two on one screen, none on the first screen of play.
    EXPECT_GE(columns, 3);
    EXPECT_LE(columns, 12);
    std::sort(columnX.begin(), columnX.end());
    for (size_t i = 1; i < columnX.size(); ++i) EXPECT_GT(columnX[i] - columnX[i - 1], 1200);
    for (int x : columnX) EXPECT_LT(x, -2500 - 400);
}

// ---------------------------------------------------------------- the level source

struct Level {
    std::vector<std::string> lines;
    std::vector<std::string> main;  // the main sequence, lower case and trimmed, up to its "end"
    std::map<int, std::vector<std::string>> formations;
};

std::string Trim(std::string s) {
    size_t a = 0, b = s.size();
    while (a < b && (unsigned char)s[a] <= ' ') ++a;
    while (b > a && (unsigned char)s[b - 1] <= ' ') --b;
    return s.substr(a, b - a);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

Level ReadLevel() {
    Level l;
    std::ifstream in(ZOLVEX_LEVEL_SOURCE);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        l.lines.push_back(line);
    }
    for (const std::string& raw : l.lines) {
        std::string t = Lower(Trim(raw));
        if (t.empty()) continue;
        l.main.push_back(t);
        if (t == "end") break;
    }
    for (size_t i = 0; i < l.lines.size(); ++i) {
        const std::string& s = l.lines[i];
        if (Lower(s).rfind("defineformation", 0) != 0) continue;
        int n = std::stoi(s.substr(15));
        EXPECT_EQ(Lower(s), "defineformation" + std::to_string(n)) << "marker must be exact: " << s;
        std::vector<std::string> rows;
        size_t j = i + 1;
        for (; j < l.lines.size(); ++j) {
            std::string t = Lower(Trim(l.lines[j]));
            if (t.rfind("end", 0) == 0) break;
            rows.push_back(t);
        }
        EXPECT_LT(j, l.lines.size()) << "formation " << n << " has no end";
        l.formations[n] = rows;
    }
    return l;
}

const std::vector<std::string> kKeywords = {
    "speed",     "bob", "middleposition", "gap",        "bobspeed",    "bobspeedstep",
    "formation", "end", "bobprobability", "bobfreepos", "bobfuzzytime"};

std::string KeywordOf(const std::string& line) {
    std::string best;
    for (const auto& k : kKeywords)
        if (line.rfind(k, 0) == 0 && k.size() > best.size()) best = k;
    return best;
}

struct Cell {
    char letter;
    int number;
};

std::vector<Cell> Cells(const std::string& row, int& width) {
    std::vector<Cell> out;
    width = 0;
    size_t start = 0;
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i] != ';') continue;
        std::string c = row.substr(start, i - start);
        start = i + 1;
        ++width;
        if (c.size() >= 2) out.push_back({c[0], std::stoi(c.substr(1, 2))});
    }
    return out;
}

TEST(LevelSource, UsesEveryCommandAndMapsAllSixKinds) {
    Level l = ReadLevel();
    ASSERT_FALSE(l.main.empty());
    EXPECT_EQ(l.main.back(), "end");
    std::set<std::string> used;
    std::map<char, std::string> letters;
    for (const std::string& c : l.main) {
        std::string k = KeywordOf(c);
        if (k.empty()) continue;
        used.insert(k);
        if (k == "bob") {
            size_t eq = c.find('=');
            ASSERT_NE(eq, std::string::npos) << c;
            letters[c[3]] = c.substr(eq + 1);
        }
        if (k == "formation") {
            int n = std::stoi(c.substr(c.find('=') + 1));
            EXPECT_EQ(l.formations.count(n), 1u) << "formation " << n << " is not defined";
        }
        // The number commands take plain numbers: a typo here stops the game with an error.
        if (k != "bob" && k != "end") {
            size_t eq = c.find('=');
            ASSERT_NE(eq, std::string::npos) << c;
            std::string v = c.substr(eq + 1);
            size_t pos = 0;
            (void)std::stod(v, &pos);
            EXPECT_EQ(pos, v.size()) << c;
        }
    }
    for (const auto& k : kKeywords) EXPECT_EQ(used.count(k), 1u) << k;
    std::set<std::string> kinds;
    for (auto& [letter, name] : letters) kinds.insert(name);
    EXPECT_EQ(kinds,
              (std::set<std::string>{"sperm1", "sperm2", "sperm3", "virus1", "virus2", "virus3"}));
    // Every letter a row uses is mapped (an unmapped one would spawn a raw sprite number).
    std::set<std::string> spawned;
    for (auto& [n, rows] : l.formations)
        for (const std::string& r : rows) {
            int width = 0;
            for (const Cell& c : Cells(r, width)) {
                ASSERT_EQ(letters.count(c.letter), 1u)
                    << "letter " << c.letter << " in formation " << n;
                spawned.insert(letters[c.letter]);
            }
            EXPECT_LE(width, 100);
        }
    EXPECT_EQ(spawned, kinds);
}

TEST(LevelSource, LastsAboutNinetySecondsAndEndsHarderThanItStarts) {
    Level l = ReadLevel();
    // Play the main sequence's timing: one command per frame, one row per `speed` frames.
    int speed = 50, frames = 0;
    std::vector<std::pair<int, double>> virusRate;  // (frame, viruses per second in that formation)
    std::map<char, std::string> letters;
    for (const std::string& c : l.main) {
        std::string k = KeywordOf(c);
        ++frames;
        if (k == "speed") speed = std::stoi(c.substr(6));
        if (k == "bob") letters[c[3]] = c.substr(c.find('=') + 1);
        if (k != "formation") continue;
        const auto& rows = l.formations[std::stoi(c.substr(10))];
        int viruses = 0;
        for (const std::string& r : rows) {
            int width = 0;
            for (const Cell& cell : Cells(r, width))
                viruses += letters[cell.letter].rfind("virus", 0) == 0;
        }
        int len = int(rows.size()) * speed + 1;
        virusRate.push_back({frames, viruses * 50.0 / len});
        frames += len;
    }
    double seconds = frames / 50.0;
    EXPECT_GT(seconds, 75);
    EXPECT_LT(seconds, 88) << "the last swimmers must still get across before the clock ends";
    ASSERT_GE(virusRate.size(), 4u);
    EXPECT_EQ(virusRate.front().second, 0) << "the first formation should have no virus";
    double early = virusRate[1].second, late = virusRate.back().second;
    EXPECT_GT(late, early * 3);
}

TEST(LevelSource, EveryRowEntersInsideThePlayfield) {
    Level l = ReadLevel();
    double middle = 0, gap = 60;
    bool freePos = false;
    for (const std::string& c : l.main) {
        std::string k = KeywordOf(c);
        std::string v = c.find('=') == std::string::npos ? "" : c.substr(c.find('=') + 1);
        if (k == "middleposition") middle = std::stod(v);
        if (k == "gap") gap = std::stod(v);
        if (k == "bobfreepos") freePos = v == "1";
        if (k != "formation" || freePos) continue;
        int n = std::stoi(v);
        for (const std::string& r : l.formations[n]) {
            // Cells are spread round the middle: n div 2 gaps up, half a gap more for even n.
            int width = 0;
            Cells(r, width);
            size_t start = 0;
            int cell = 0;
            for (size_t i = 0; i < r.size(); ++i) {
                if (r[i] != ';') continue;
                ++cell;
                bool filled = i - start >= 2;
                start = i + 1;
                if (!filled) continue;
                double y =
                    middle - (width / 2) * gap + (width % 2 == 0 ? gap / 2 : 0) + (cell - 1) * gap;
                EXPECT_GE(y, -260) << "formation " << n << " row \"" << r << "\"";
                EXPECT_LE(y, 260) << "formation " << n << " row \"" << r << "\"";
            }
        }
    }
}

}  // namespace
