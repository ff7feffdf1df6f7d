#pragma once
// The level language: the formation script's lines as the game reads them. A main sequence of
// commands ("keyword" or "keyword=value", "bobX=kind" with a letter X), one read per tick, and
// formation blocks after a line "DefineFormationN", each row a run of cells ending in ";": a
// letter and one or two digits release a swimmer, anything shorter is a gap. Lines are compared
// trimmed and in lower case.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zx::rules {

enum class TOrder {
    Speed,
    Bob,
    MiddlePosition,
    Gap,
    BobSpeed,
    BobSpeedStep,
    Formation,
    End,
    BobProbability,
    BobFreePos,
    BobFuzzyTime
};

struct TKeyword {
    std::string_view Text;
    TOrder Kind;
};

inline constexpr std::array<TKeyword, 11> kKeywords{{
    {"speed", TOrder::Speed},
    {"bob", TOrder::Bob},
    {"middleposition", TOrder::MiddlePosition},
    {"gap", TOrder::Gap},
    {"bobspeed", TOrder::BobSpeed},
    {"bobspeedstep", TOrder::BobSpeedStep},
    {"formation", TOrder::Formation},
    {"end", TOrder::End},
    {"bobprobability", TOrder::BobProbability},
    {"bobfreepos", TOrder::BobFreePos},
    {"bobfuzzytime", TOrder::BobFuzzyTime},
}};

// Cells of a row beyond this many are not read.
inline constexpr int kMaxCells = 100;
// A command's text after its keyword is read up to this many characters.
inline constexpr size_t kMaxCommandText = 200;

// The line without blanks and control characters at either end, in lower case (into out, so
// that a caller reading every tick allocates nothing).
void TrimLower(std::string_view text, std::string& out);
std::string TrimLower(std::string_view text);
// Nothing but blanks and control characters.
bool IsBlankLine(std::string_view text);
// Equal without regard to the case of ASCII letters.
bool EqualNoCase(std::string_view a, std::string_view b);

// A trimmed, lower-case main line: the longest keyword it begins with, and the text after it
// split at the first "=" into the value after it and the part before it (xvalue: the letter of
// "bobX="). Key is null for a line that is no command.
struct TCommand {
    const TKeyword* Key = nullptr;
    std::string_view Value, XValue;
};
TCommand ReadCommand(std::string_view line);

// The one or two digits of a cell, with optional leading blanks and sign; false (value
// untouched) for anything else, so that a bad cell releases nothing.
bool CellNumber(const char* text, int len, int& value);

// The line that opens formation n: "DefineFormation" and the number, in any case, nothing
// around it.
bool IsFormationMarker(std::string_view line, int n);

}  // namespace zx::rules
