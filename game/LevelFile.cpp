#include "game/LevelFile.h"

#include <array>
#include <cctype>
#include <cerrno>

#include "game/GameRecords.h"
#include "platform/Errors.h"
#include "support/Ansi.h"
#include "support/Paths.h"
#include "support/Random.h"

namespace zx {
namespace {

// The substitution alphabets. Shipped level files and every player's env.dat are written with
// them: they must never change.
constexpr std::string_view kLetters = "QJXMRWZEBOKTHAFYDPLVCGSUNI";
constexpr std::string_view kDigits = "7320954816";

static_assert(kLetters.size() == 26 && kDigits.size() == 10);

constexpr bool IsPermutation(std::string_view alphabet, char first) {
    std::array<bool, 26> seen{};
    for (char c : alphabet) {
        int i = c - first;
        if (i < 0 || i >= static_cast<int>(alphabet.size()) || seen[static_cast<size_t>(i)])
            return false;
        seen[static_cast<size_t>(i)] = true;
    }
    return true;
}
static_assert(IsPermutation(kLetters, 'A') && IsPermutation(kDigits, '0'));

bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return IsLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return IsUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }

char Code(char c) {
    char u = Upper(c);
    char r;
    if (IsUpper(u))
        r = kLetters[static_cast<size_t>(u - 'A')];
    else if (IsDigit(u))
        r = kDigits[static_cast<size_t>(u - '0')];
    else
        return c;
    return IsLower(c) ? Lower(r) : r;
}

char Decode(char c) {
    char u = Upper(c);
    char r = u;
    if (IsUpper(u)) {
        auto p = kLetters.find(u);
        if (p != std::string_view::npos) r = static_cast<char>('A' + p);
    } else if (IsDigit(u)) {
        auto p = kDigits.find(u);
        if (p != std::string_view::npos) r = static_cast<char>('0' + p);
    } else {
        return c;
    }
    return IsLower(c) ? Lower(r) : r;
}

char Filler() {
    switch (RandInt(3)) {
        case 0: return static_cast<char>('A' + RandInt(25));
        case 1: return static_cast<char>('a' + RandInt(25));
        default: return static_cast<char>('0' + RandInt(9));
    }
}

}  // namespace

std::string ScrambleLine(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 6);
    for (char c : text) {
        for (int i = 0; i < 5; ++i) out += Filler();
        out += Code(c);
    }
    return out;
}

std::string UnscrambleLine(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 6);
    for (size_t pos = 5; pos < text.size(); pos += 6) out += Decode(text[pos]);
    return out;
}

std::string LevelFileName() { return "KVD\\Level" + std::to_string(GameData.Level) + ".txt"; }

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find_first_of("\r\n", i);
        if (j == std::string_view::npos) {
            lines.emplace_back(text.substr(i));
            break;
        }
        lines.emplace_back(text.substr(i, j - i));
        i = j + ((text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

std::string ScrambleLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += ScrambleLine(Utf8ToAnsi(line));
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> UnscrambleLines(std::string_view fileBytes) {
    std::vector<std::string> lines = SplitLines(fileBytes);
    for (std::string& line : lines) line = AnsiToUtf8(UnscrambleLine(line));
    return lines;
}

void LoadLevel(std::vector<std::string>& lines) {
    std::string name = LevelFileName();
    TReadError why;
    auto bytes = ReadFileBytes(name, kLevelFileLimit, &why);
    // Only a level that is not there is one the system cannot find; a folder, a FIFO, a file
    // that may not be read or a loop of links says what it is.
    if (!bytes) {
        std::string reason =
            why.Errno == ENOENT ? "The system cannot find the file specified" : why.Reason;
        reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
        throw EInOutError("Cannot open file \"" + why.Path + "\". " + reason);
    }
    lines = UnscrambleLines(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

void SaveLevel(const std::vector<std::string>& lines) {
    ReplaceFileContents(LevelFileName(), ScrambleLines(lines));
}

}  // namespace zx
