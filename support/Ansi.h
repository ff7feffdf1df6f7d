#pragma once
// Texts are Windows-1252 on disk and UTF-8 in memory; these two functions are the only bridge.
#include <string>
#include <string_view>

namespace zx {

// Windows-1252 bytes to UTF-8. The five codes that 1252 leaves undefined map to U+0081 and friends.
std::string AnsiToUtf8(std::string_view ansi);
// UTF-8 to Windows-1252; characters the code page lacks become '?'.
std::string Utf8ToAnsi(std::string_view utf8);

// Case-insensitive comparison of two UTF-8 texts, with the case pairs of Windows-1252
// (so "ä" matches "Ä").
bool SameTextIgnoreCase(std::string_view a, std::string_view b);
std::string UpperCase(std::string_view utf8);
std::string LowerCase(std::string_view utf8);
// Without the blanks and control characters at both ends.
std::string Trim(std::string_view text);

}  // namespace zx
