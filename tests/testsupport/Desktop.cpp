#include "testsupport/Desktop.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <utility>

#include "platform/Shell.h"

namespace zx {
namespace {

std::mutex desktopMutex;
std::optional<bool> fixedOnline;
std::function<bool(const std::string&)> opener;
std::string handler;

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

// A handler program the test named is really started and watched; else the opener's answer is
// handed over as the handler's exit status, the same way.
int ShellOpenWatched(const std::string& url) {
    std::function<bool(const std::string&)> f;
    std::string program;
    {
        std::lock_guard lock(desktopMutex);
        f = opener;
        program = handler;
    }
    if (!program.empty()) return StartWatched(program, url);
    if (!f) return -1;
    const bool started = f(url);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    const int code = started ? 0 : 3;
    (void)!write(fds[1], &code, sizeof code);
    close(fds[1]);
    return fds[0];
}

}  // namespace platform

namespace test {

Desktop::~Desktop() {
    std::lock_guard lock(desktopMutex);
    fixedOnline.reset();
    opener = nullptr;
    handler.clear();
}

void Desktop::Online(std::optional<bool> state) {
    std::lock_guard lock(desktopMutex);
    fixedOnline = state;
}

void Desktop::Open(std::function<bool(const std::string&)> f) {
    std::lock_guard lock(desktopMutex);
    opener = std::move(f);
}

void Desktop::Handler(const std::string& program) {
    std::lock_guard lock(desktopMutex);
    handler = program;
}

}  // namespace test
}  // namespace zx
