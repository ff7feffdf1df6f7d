#include "rules/LevelLimits.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "rules/LevelLanguage.h"
#include "rules/Rules.h"

namespace zx::rules {
namespace {

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(at, end - at));
        at = end;
        if (at < text.size() && text[at] == '\r') ++at;
        if (at < text.size() && text[at] == '\n') ++at;
    }
    return lines;
}

// Tolerant: the digits there are, capped, so that a damaged value cannot overflow.
int IntOf(std::string_view s) {
    int v = 0;
    bool neg = false;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        v = std::min(v * 10 + (s[i] - '0'), 1 << 20);
    return neg ? -v : v;
}

}  // namespace

int64_t TLevelLimits::MaxScore() const {
    int64_t total = kWinBonus;
    for (size_t k = 1; k <= 6; ++k) total += int64_t{kCatchPoints[k] + kEarlyBonus} * MaxSpawned(k);
    return total;
}

// The script runs one main line a tick (blank lines are passed over at no cost); a formation
// takes over from the tick it starts, releasing its first row on the next tick and each further
// row `speed` ticks later, its "end" row taking a tick of its own.
TLevelLimits ReadLevelLimits(std::string_view text) {
    const std::vector<std::string> lines = Lines(text);
    // Letters stand for no kind until a "bob" command names one; a letter left so might be any
    // kind, and is counted for each.
    std::array<int, 27> kindOf{};
    kindOf.fill(-1);
    int speed = 0;
    double probability = 1;
    TLevelLimits limits;
    int32_t tick = 0;
    size_t main = 0;
    // Ticks beyond any game; a script that never ends is read this far.
    const int32_t kHorizon = kTicksPerSecond * 60 * 10;
    while (main < lines.size() && tick < kHorizon) {
        while (main < lines.size() && IsBlankLine(lines[main])) ++main;
        if (main >= lines.size()) break;
        const std::string line = TrimLower(lines[main++]);
        ++tick;
        const TCommand command = ReadCommand(line);
        if (!command.Key) continue;
        const TOrder key = command.Key->Kind;
        const std::string_view value = command.Value, xvalue = command.XValue;
        if (key == TOrder::End) break;
        if (key == TOrder::Speed) speed = IntOf(value);
        if (key == TOrder::BobProbability)
            probability = std::strtod(std::string(value).c_str(), nullptr);
        if (key == TOrder::Bob && !xvalue.empty() && xvalue[0] >= 'a' && xvalue[0] <= 'z') {
            if (const int k = KindOfScriptName(value))
                kindOf[static_cast<size_t>(xvalue[0] - 'a' + 1)] = k;
        }
        if (key != TOrder::Formation) continue;
        const int wanted = IntOf(value);
        size_t row = lines.size();
        for (size_t i = 0; i < lines.size(); ++i)
            if (IsFormationMarker(lines[i], wanted)) {
                row = i + 1;
                break;
            }
        int countdown = 1;
        while (row < lines.size() && tick < kHorizon) {
            ++tick;
            if (countdown > 0) --countdown;
            if (countdown > 0) continue;
            const std::string r = TrimLower(lines[row++]);
            if (r.starts_with("end")) break;
            countdown = speed;
            if (probability <= 0) continue;
            size_t start = 0;
            int cells = 0;
            for (size_t i = 0; i < r.size() && cells < kMaxCells; ++i) {
                if (r[i] != ';') continue;
                ++cells;
                const std::string_view cell = std::string_view(r).substr(start, i - start);
                start = i + 1;
                if (cell.size() < 2 || cell[0] < 'a' || cell[0] > 'z') continue;
                const int kind = kindOf[static_cast<size_t>(cell[0] - 'a' + 1)];
                for (size_t k = 1; k <= 6; ++k)
                    if (kind == -1 || kind == static_cast<int>(k))
                        limits.Arrivals[k].push_back(tick);
            }
        }
    }
    bool any = false;
    for (size_t k = 1; k <= 6; ++k) any = any || !limits.Arrivals[k].empty();
    if (!any) throw std::runtime_error("the level sends no swimmer");
    return limits;
}

TLevelLimits LoadLevelLimits(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the level " + path);
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return ReadLevelLimits(text.str());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

}  // namespace zx::rules
