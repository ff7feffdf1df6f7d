#include "payload/ScoreCode.h"

#include <cstdlib>

namespace zx {

const std::array<std::string_view, 10> ScoreCodeDigitSets = {
    "7KCSst", "5aMpyu", "ErX0dl", "nx1Iwg", "VfZ3YL",
    "J8vQe4", "RD6zjG", "iHWO2k", "cNqh9B", "mUPbFA",
};

const std::array<uint8_t, kScoreCodeLength> ScoreCodePermutation = {
    30, 34, 29, 44, 32, 27, 10, 16, 14, 35, 36, 49, 18, 9,  13, 39, 47, 8,  2,
    53, 22, 42, 45, 41, 38, 40, 7,  11, 23, 46, 51, 19, 33, 20, 21, 43, 28, 6,
    24, 0,  17, 4,  54, 26, 3,  50, 12, 15, 25, 31, 1,  5,  37, 52, 48,
};

namespace {

void AppendField(std::string& out, int64_t value, int digits) {
    int64_t m = digits == 3 ? 1000 : 100;
    int64_t v = std::llabs(value) % m;
    char buf[3];
    for (int i = digits - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    out.append(buf, static_cast<size_t>(digits));
}

int DigitOf(char c) {
    for (int d = 0; d < 10; ++d)
        if (ScoreCodeDigitSets[static_cast<size_t>(d)].find(c) != std::string_view::npos) return d;
    return -1;
}

int ReadField(std::string_view digits, size_t& pos, int width) {
    int v = 0;
    for (int i = 0; i < width; ++i) v = v * 10 + (digits[pos++] - '0');
    return v;
}

}  // namespace

std::string ScoreCodeDigits(const TScoreStats& s) {
    std::string out;
    out.reserve(kScoreCodeLength);
    AppendField(out, s.Seconds, 2);
    AppendField(out, s.CondomShots, 3);
    AppendField(out, s.Torpedoes, 2);
    for (size_t k = 1; k <= 6; ++k) {
        AppendField(out, s.Spawned[k], 2);
        AppendField(out, s.CaughtEarly[k], 2);
        AppendField(out, s.Caught[k], 2);
        AppendField(out, s.EscapedCount[k], 2);
    }
    return out;
}

std::string MakeScoreCode(const TScoreStats& stats, const RandomIntFn& randInt) {
    const std::string digits = ScoreCodeDigits(stats);
    std::string disguised(kScoreCodeLength, ' ');
    for (size_t i = 0; i < kScoreCodeLength; ++i) {
        std::string_view set = ScoreCodeDigitSets[static_cast<size_t>(digits[i] - '0')];
        disguised[i] = set[static_cast<size_t>(randInt(static_cast<int>(set.size())))];
    }
    std::string out(kScoreCodeLength, ' ');
    for (size_t j = 0; j < kScoreCodeLength; ++j) out[j] = disguised[ScoreCodePermutation[j]];
    return out;
}

std::optional<std::string> DecodeScoreCode(std::string_view code) {
    if (code.size() != kScoreCodeLength) return std::nullopt;
    std::string digits(kScoreCodeLength, '0');
    for (size_t j = 0; j < kScoreCodeLength; ++j) {
        const int d = DigitOf(code[j]);
        if (d < 0) return std::nullopt;
        digits[ScoreCodePermutation[j]] = static_cast<char>('0' + d);
    }
    return digits;
}

std::optional<TScoreStats> ScoreStatsFromDigits(std::string_view digits) {
    if (digits.size() != kScoreCodeLength) return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    TScoreStats s;
    size_t pos = 0;
    s.Seconds = ReadField(digits, pos, 2);
    s.CondomShots = ReadField(digits, pos, 3);
    s.Torpedoes = ReadField(digits, pos, 2);
    for (size_t k = 1; k <= 6; ++k) {
        s.Spawned[k] = ReadField(digits, pos, 2);
        s.CaughtEarly[k] = ReadField(digits, pos, 2);
        s.Caught[k] = ReadField(digits, pos, 2);
        s.EscapedCount[k] = ReadField(digits, pos, 2);
    }
    return s;
}

}  // namespace zx
