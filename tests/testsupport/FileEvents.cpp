// The test binaries' own definitions of the file layer's save events (the program links the
// file layer's do-nothing ones): a test can stop a save before its rename, and count syncs.
#include "support/FileEvents.h"

#include <atomic>

#include "testsupport/TestSupport.h"

namespace zx {
namespace {
std::atomic<void (*)(const std::string&)> beforeRename{nullptr};
std::atomic<int> folderSyncs{0};
}  // namespace

namespace fileevents {
void BeforeRename(const std::string& tempPath) {
    if (auto hook = beforeRename.load()) hook(tempPath);
}
void FolderSynced() { ++folderSyncs; }
}  // namespace fileevents

namespace test {
void SetBeforeRename(void (*hook)(const std::string& tempPath)) { beforeRename = hook; }
int FolderSyncs() { return folderSyncs.load(); }
}  // namespace test

}  // namespace zx
