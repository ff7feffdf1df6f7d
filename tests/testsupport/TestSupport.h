#pragma once
// Helpers shared by the test suites.
#include <string>
#include <vector>

namespace zx::test {

// This process's own program directory (a fresh temporary directory).
const std::string& TempProgramDir();
// Empties the program directory, for tests that need a first start.
void ResetProgramDir();
// The log's lines as text, without line ends.
std::vector<std::string> LogLines();
// The same without the block that describes the machine (from "Retreiving system
// information..." to "AllocationGranularity: ..."): what is left is the game's own course.
std::vector<std::string> GameLogLines();
std::string ReadText(const std::string& relPath);
void WriteText(const std::string& relPath, const std::string& bytes);
// The built program directory with the generated assets (sheets, sounds, level, cave).
std::string BuiltProgramDir();

}  // namespace zx::test
