#pragma once
// The desktop around the program: whether the computer is online, the user's web browser, and
// the lock that keeps one copy of the program per user.
#include <functional>
#include <optional>
#include <string>

namespace zx::platform {

// The desktop's answers, IsOnline, ShellOpen and ShellOpenWatched, are weak symbols: a test
// program that defines its own (a desktop that is offline, a browser that records the address)
// gets those at link time.
// Whether the computer is online: RouteTableOnline.
bool IsOnline();
// True when the system has a default route: the closest a desktop comes to "connected to the
// Internet" without sending anything anywhere.
bool RouteTableOnline();
// Reads a routing table in the form of /proc/net/route; a default route is a line whose
// destination and mask are both 00000000 and whose interface is up (flag RTF_UP).
bool HasDefaultRoute(const std::string& routeTable);

// Starts the desktop's handler for the address (xdg-open), detached: the program neither waits
// for it nor leaves a zombie behind. False when it could not be started.
bool ShellOpen(const std::string& url);

// Starts the handler as ShellOpen does and lets the caller learn how it ended: -1 when it could
// not be started, else a descriptor that turns readable once the handler has ended (a handler
// that fails, exit status not 0, fails to show the page as much as a missing one):
// StartWatched with xdg-open.
int ShellOpenWatched(const std::string& url);
// Starts the program with the one argument in a session of its own and hands back a descriptor
// that turns readable once it has ended; -1 when it could not be started.
int StartWatched(const std::string& program, const std::string& arg);
// The handler's exit status from that descriptor (blocks until it is there: call it once the
// descriptor is readable); closes the descriptor. -1 when unknown.
int ShellOpenStatus(int fd);

// One running copy per user: an exclusive flock on a file in the user's runtime directory. The
// kernel drops the lock when the process ends however it ends, so a crash never leaves the
// program locked out; the file is opened close-on-exec so that a browser started from the
// program does not inherit (and keep) the lock.
class SingleInstanceLock {
public:
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // True when another process holds the lock. A lock file that cannot be made at all (a
    // read-only runtime folder) does not keep the player from playing.
    bool AnotherRunning() const { return another_; }
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    bool another_ = false;
    std::string path_;
};

// The directory for the lock: the user's /run/user/<uid>, else a private folder under /tmp;
// never taken from the environment, which differs between two starts.
std::string RuntimeDir();
// The lock's name for one folder (the one the settings go to): one copy per user and per folder.
std::string InstanceLockName(const std::string& name, const std::string& folder);

}  // namespace zx::platform
