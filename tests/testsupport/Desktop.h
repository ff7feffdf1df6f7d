#pragma once
// This test program's own desktop (platform/Shell.h): its IsOnline, ShellOpen and
// ShellOpenWatched replace the program's at link time. A test keeps a Desktop for as long as it
// needs the desktop to answer its way; without one the answers are the system's online state and
// no browser at all.
#include <functional>
#include <optional>
#include <string>

namespace zx::test {

class Desktop {
public:
    Desktop() = default;
    ~Desktop();  // the system's online state and no browser again
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Fixes the online state (nullopt: the system's).
    void Online(std::optional<bool> online);
    // What starting the browser does with an address; the answer is whether it started.
    void Open(std::function<bool(const std::string& url)> open);
    // A program really started, and awaited, as the handler of a watched start (a handler that
    // fails, say); empty: the Open answer again.
    void Handler(const std::string& program);
};

}  // namespace zx::test
