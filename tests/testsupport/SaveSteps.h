#pragma once
// This test program's own steps of a save (support/Paths.h): they replace the program's empty
// ones at link time. A test interrupts saves just before their rename, or counts folder syncs.
#include <functional>
#include <string>

namespace zx::test {

// For its lifetime every save calls step with the whole temporary file just before the rename;
// an exception from step leaves things as a crash at that moment would.
class BeforeRename {
public:
    explicit BeforeRename(std::function<void(const std::string& tempPath)> step);
    ~BeforeRename();
    BeforeRename(const BeforeRename&) = delete;
    BeforeRename& operator=(const BeforeRename&) = delete;
};

// Folder syncs that followed a save since the process began.
int FolderSyncs();

}  // namespace zx::test
