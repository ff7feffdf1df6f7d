#include "testsupport/SaveSteps.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "support/Paths.h"

namespace zx {
namespace {

std::mutex stepMutex;
std::function<void(const std::string&)> beforeRename;
std::atomic<int> folderSyncs{0};

}  // namespace

void SaveStepBeforeRename(const std::string& tempPath) {
    std::function<void(const std::string&)> step;
    {
        std::lock_guard lock(stepMutex);
        step = beforeRename;
    }
    if (step) step(tempPath);
}

void SaveStepFolderSynced(const std::string&) { ++folderSyncs; }

namespace test {

BeforeRename::BeforeRename(std::function<void(const std::string&)> step) {
    std::lock_guard lock(stepMutex);
    beforeRename = std::move(step);
}

BeforeRename::~BeforeRename() {
    std::lock_guard lock(stepMutex);
    beforeRename = nullptr;
}

int FolderSyncs() { return folderSyncs.load(); }

}  // namespace test
}  // namespace zx
