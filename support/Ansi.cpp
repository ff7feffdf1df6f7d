#include "support/Ansi.h"

#include <array>
#include <cstdint>

namespace zx {
namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t FromAnsi(unsigned char c) {
    if (c >= 0x80 && c <= 0x9F) return kHigh[c - 0x80];
    return c;
}

int ToAnsi(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == cp) return static_cast<int>(0x80 + i);
    return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence; a malformed byte stands for itself (read as Windows-1252), so
// that text which was never valid UTF-8 survives a round trip.
char32_t NextCodePoint(std::string_view s, size_t& i) {
    auto b0 = static_cast<unsigned char>(s[i]);
    int len = b0 < 0x80 ? 1 : (b0 >> 5) == 6 ? 2 : (b0 >> 4) == 14 ? 3 : (b0 >> 3) == 30 ? 4 : 0;
    if (len == 1) {
        ++i;
        return b0;
    }
    if (len == 0 || i + len > s.size()) {
        ++i;
        return FromAnsi(b0);
    }
    char32_t cp = b0 & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return FromAnsi(b0);
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += len;
    return cp;
}

char32_t UpperCp(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
    if (c == 0x0161 || c == 0x0153 || c == 0x017E) return c - 1;
    if (c == 0xFF) return 0x0178;
    return c;
}
char32_t LowerCp(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    if (c == 0x0160 || c == 0x0152 || c == 0x017D) return c + 1;
    if (c == 0x0178) return 0xFF;
    return c;
}

template <typename F>
std::string MapCase(std::string_view s, F f) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) AppendUtf8(out, f(NextCodePoint(s, i)));
    return out;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char c : ansi) AppendUtf8(out, FromAnsi(static_cast<unsigned char>(c)));
    return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        int a = ToAnsi(NextCodePoint(utf8, i));
        out += a < 0 ? '?' : static_cast<char>(a);
    }
    return out;
}

std::string UpperCase(std::string_view utf8) { return MapCase(utf8, UpperCp); }
std::string LowerCase(std::string_view utf8) { return MapCase(utf8, LowerCp); }

bool SameTextIgnoreCase(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (UpperCp(NextCodePoint(a, i)) != UpperCp(NextCodePoint(b, j))) return false;
    return i == a.size() && j == b.size();
}

std::string Trim(std::string_view text) {
    size_t a = 0, e = text.size();
    while (a < e && static_cast<unsigned char>(text[a]) <= ' ') ++a;
    while (e > a && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return std::string(text.substr(a, e - a));
}

}  // namespace zx
