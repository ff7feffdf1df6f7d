#include "rules/LevelLanguage.h"

#include <charconv>

namespace zx::rules {

void TrimLower(std::string_view text, std::string& out) {
    size_t a = 0, b = text.size();
    while (a < b && static_cast<unsigned char>(text[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(text[b - 1]) <= ' ') --b;
    out.assign(text.data() + a, b - a);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

std::string TrimLower(std::string_view text) {
    std::string out;
    TrimLower(text, out);
    return out;
}

bool IsBlankLine(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ') return false;
    return true;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

TCommand ReadCommand(std::string_view line) {
    TCommand c;
    for (const TKeyword& k : kKeywords)
        if (line.starts_with(k.Text) && (!c.Key || k.Text.size() > c.Key->Text.size())) c.Key = &k;
    if (!c.Key) return c;
    std::string_view rest = line.substr(c.Key->Text.size());
    if (rest.size() > kMaxCommandText) rest = rest.substr(0, kMaxCommandText);
    c.Value = rest;
    if (const size_t eq = rest.find('='); eq != std::string_view::npos) {
        c.Value = rest.substr(eq + 1);
        c.XValue = rest.substr(0, eq);
    }
    return c;
}

bool CellNumber(const char* text, int len, int& value) {
    int i = 0;
    while (i < len && text[i] == ' ') ++i;
    bool neg = false;
    if (i < len && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
    if (i == len) return false;
    int v = 0;
    for (; i < len; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    value = neg ? -v : v;
    return true;
}

bool IsFormationMarker(std::string_view line, int n) {
    constexpr std::string_view kMarker = "DefineFormation";
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    const std::string_view number(digits, static_cast<size_t>(end - digits));
    return line.size() == kMarker.size() + number.size() &&
           EqualNoCase(line.substr(0, kMarker.size()), kMarker) &&
           line.substr(kMarker.size()) == number;
}

}  // namespace zx::rules
