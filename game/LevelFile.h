#pragma once
// Level files and the line scrambling that protects them and the settings file.
//
// A scrambled line carries each character of the plain line as a group of six: five random
// fillers, then the character coded through two fixed substitution alphabets (letters and
// digits; everything else passes uncoded). Both transforms work on the on-disk bytes
// (Windows-1252); the level functions convert to and from UTF-8 lines.
#include <string>
#include <string_view>
#include <vector>

namespace zx {

std::string ScrambleLine(std::string_view text);
// Every sixth character, decoded; an incomplete last group is ignored.
std::string UnscrambleLine(std::string_view text);

// "KVD\Level" + GameData.Level + ".txt".
std::string LevelFileName();

// Reads the current level file into lines (replacing them) and unscrambles every line. Raises
// EInOutError when the file is missing or unreadable.
void LoadLevel(std::vector<std::string>& lines);
// Writes the lines, each scrambled, as the current level file, replacing it only once the new
// file is complete. Raises EInOutError.
void SaveLevel(const std::vector<std::string>& lines);

// The pieces the level functions are made of, for tools that work on other paths.
// Splits text into lines at CR LF, LF or CR; a final line end opens no further line.
std::vector<std::string> SplitLines(std::string_view text);
// Scrambles each UTF-8 line (as Windows-1252) and joins them with CR LF after every line.
std::string ScrambleLines(const std::vector<std::string>& lines);
// Splits and unscrambles a level file's bytes into UTF-8 lines.
std::vector<std::string> UnscrambleLines(std::string_view fileBytes);

}  // namespace zx
