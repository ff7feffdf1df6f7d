#pragma once
// Helpers shared by the test suites.
#include <cstdint>
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

// For its lifetime the program's tick count is the manual clock, started where the system's
// clock stands and moved only by Advance: timings in a test hold however loaded the machine is.
class ManualClock {
public:
    ManualClock();
    ~ManualClock();
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;
    void Advance(uint32_t ms);
};

// A real full disk, not a simulated one: for a process of its own (a forked child or a death
// test), which then sees a small empty tmpfs at dir in a mount namespace of its own, so nothing
// outside that process is touched and the mount goes with it. Needs root (CI runs as root);
// returns false with the reason in why where the system does not allow it.
bool MountPrivateTmpfs(const std::string& dir, size_t bytes, std::string& why);
// Whether MountPrivateTmpfs can work here, asked in a throwaway child; the reason if not.
bool CanMountPrivateTmpfs(std::string& why);
// Takes every byte the file system holding dir has left, with one file (returned) whose removal
// gives them back.
std::string FillFileSystem(const std::string& dir);

}  // namespace zx::test
