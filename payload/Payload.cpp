#include "payload/Payload.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace zx {
namespace {

constexpr size_t kBlock = 64;

std::string WithoutBars(std::string text) {
    std::replace(text.begin(), text.end(), '|', '/');
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool StaysUnescaped(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Error texts are UTF-8 in memory; a byte of the wire above 127 is shown as its Latin-1 letter.
std::string ByteAsText(unsigned char c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    std::string s;
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
    return s;
}

unsigned char Lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

}  // namespace

std::vector<std::string> PayloadFieldList(const TPayloadFields& f) {
    return {
        std::string(kPayloadMagic),
        WithoutBars(f.PlayerId),
        std::to_string(f.Score),
        WithoutBars(f.Name),
        WithoutBars(f.City),
        WithoutBars(f.Country),
        WithoutBars(f.Email),
        f.Age == 0 ? std::string() : std::to_string(f.Age),
        // Only the three values the server takes; anything else reads as "not given".
        f.Sex == 'f' || f.Sex == 'm' ? std::string(1, f.Sex) : std::string(" "),
        WithoutBars(f.Comment),
        std::to_string(f.GamesStarted),
        std::to_string(f.GamesWon),
        WithoutBars(f.ScoreCode),
        std::string(kPayloadMagic),
    };
}

std::string FillEmptyFields(std::string text) {
    for (size_t at = text.find("||"); at != std::string::npos; at = text.find("||", at))
        text.insert(at + 1, 1, ' ');
    return text;
}

std::string JoinPayloadFields(const std::vector<std::string>& fields) {
    std::string text;
    for (const std::string& f : fields) {
        text += f;
        text += '|';
    }
    return FillEmptyFields(std::move(text));
}

std::string BuildPayload(const TPayloadFields& fields) {
    return JoinPayloadFields(PayloadFieldList(fields));
}

std::optional<std::vector<std::string>> SplitPayload(std::string_view plain) {
    while (!plain.empty() && plain.back() == ' ') plain.remove_suffix(1);
    if (plain.empty() || plain.back() != '|') return std::nullopt;
    plain.remove_suffix(1);
    std::vector<std::string> fields;
    for (;;) {
        const size_t bar = plain.find('|');
        fields.emplace_back(plain.substr(0, bar));
        if (bar == std::string_view::npos) break;
        plain.remove_prefix(bar + 1);
    }
    return fields;
}

std::string ScramblePayload(std::string_view text, const RandomIntFn& randInt) {
    std::string padded(text);
    if (padded.size() % kBlock != 0) padded.append(kBlock - padded.size() % kBlock, ' ');
    std::string raw;
    raw.reserve(padded.size() * 2);
    std::array<int, kBlock> p{};
    for (size_t block = 0; block < padded.size(); block += kBlock) {
        std::iota(p.begin(), p.end(), 0);
        for (int i = 0; i < 1000; ++i) {
            const int a = randInt(64);
            const int b = randInt(64);
            std::swap(p[static_cast<size_t>(a)], p[static_cast<size_t>(b)]);
        }
        for (size_t k = 0; k < kBlock; ++k) raw += kPayloadKeyAlphabet[static_cast<size_t>(p[k])];
        std::array<char, kBlock> moved{};
        for (size_t j = 0; j < kBlock; ++j) moved[static_cast<size_t>(p[j])] = padded[block + j];
        raw.append(moved.data(), moved.size());
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size() * 2);
    for (char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (StaysUnescaped(c)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string UnscramblePayload(std::string_view encoded) {
    std::string raw;
    raw.reserve(encoded.size());
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 &&
            HexValue(encoded[i + 2]) >= 0) {
            raw += static_cast<char>(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2]));
            i += 2;
        } else {
            raw += encoded[i];
        }
    }
    if (raw.empty() || raw.size() % (2 * kBlock) != 0)
        throw PayloadError("String hat die L\xC3\xA4nge " + std::to_string(raw.size()) +
                           "<>n*128 and <>0");
    std::string out;
    out.reserve(raw.size() / 2);
    for (size_t block = 0; block < raw.size(); block += 2 * kBlock) {
        for (size_t k = 0; k < kBlock; ++k) {
            const char key = raw[block + k];
            const size_t at = kPayloadKeyAlphabet.find(key);
            if (at == std::string_view::npos)
                throw PayloadError("Decodierung von " +
                                   ByteAsText(static_cast<unsigned char>(key)) +
                                   " nicht m\xC3\xB6glich");
            out += raw[block + kBlock + at];
        }
    }
    return out;
}

bool AnswerNameLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return Lower(static_cast<unsigned char>(x)) < Lower(static_cast<unsigned char>(y));
    });
}

TPayloadAnswer ParseAnswer(std::string_view text) {
    TPayloadAnswer answer;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        answer.emplace(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
    }
    return answer;
}

std::string FormatAnswer(const std::vector<std::pair<std::string, std::string>>& lines) {
    std::string out;
    for (const auto& [name, value] : lines) {
        out += name;
        out += '=';
        out += value;
        out += "\r\n";
    }
    return out;
}

}  // namespace zx
