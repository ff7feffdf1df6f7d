#include "testsupport/Desktop.h"

#include <mutex>
#include <utility>

#include "platform/Shell.h"

namespace zx {
namespace {

std::mutex desktopMutex;
std::optional<bool> fixedOnline;
std::function<bool(const std::string&)> opener;

}  // namespace

namespace platform {

bool IsOnline() {
    {
        std::lock_guard lock(desktopMutex);
        if (fixedOnline) return *fixedOnline;
    }
    return RouteTableOnline();
}

// A test never starts the user's browser.
bool ShellOpen(const std::string& url) {
    std::function<bool(const std::string&)> f;
    {
        std::lock_guard lock(desktopMutex);
        f = opener;
    }
    return f ? f(url) : false;
}

}  // namespace platform

namespace test {

Desktop::~Desktop() {
    std::lock_guard lock(desktopMutex);
    fixedOnline.reset();
    opener = nullptr;
}

void Desktop::Online(std::optional<bool> state) {
    std::lock_guard lock(desktopMutex);
    fixedOnline = state;
}

void Desktop::Open(std::function<bool(const std::string&)> f) {
    std::lock_guard lock(desktopMutex);
    opener = std::move(f);
}

}  // namespace test
}  // namespace zx
