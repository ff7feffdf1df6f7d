#include "platform/Shell.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace zx::platform {
namespace {

// In a started child: the program with no terminal to write to, or the exec's errno on errFd.
[[noreturn]] void ExecQuietly(const std::string& program, const std::string& arg, int errFd) {
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
        dup2(devnull, STDIN_FILENO);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        if (devnull > STDERR_FILENO) close(devnull);
    }
    execlp(program.c_str(), program.c_str(), arg.c_str(), static_cast<char*>(nullptr));
    const int err = errno;
    (void)!write(errFd, &err, sizeof err);
    _exit(127);
}

// Double fork: the grandchild runs the browser in a session of its own, the child ends at
// once and is reaped here, so nothing is left for the program to wait for. A close-on-exec
// pipe carries an exec failure back; success closes it empty.
bool SpawnDetached(const std::string& program, const std::string& arg) {
    int pipeFd[2];
    if (pipe2(pipeFd, O_CLOEXEC) != 0) return false;
    const pid_t child = fork();
    if (child < 0) {
        close(pipeFd[0]);
        close(pipeFd[1]);
        return false;
    }
    if (child == 0) {
        close(pipeFd[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild < 0) {
            const int err = errno;
            (void)!write(pipeFd[1], &err, sizeof err);
            _exit(1);
        }
        if (grandchild > 0) _exit(0);
        ExecQuietly(program, arg, pipeFd[1]);
    }
    close(pipeFd[1]);
    int err = 0;
    ssize_t n;
    do {
        n = read(pipeFd[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    close(pipeFd[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return n == 0;
}

// As SpawnDetached, but the child stays to wait for the program and hands its exit status to
// the returned descriptor (one int); -1 when the program could not be started.
int SpawnWatched(const std::string& program, const std::string& arg, pid_t& watcher) {
    int execFd[2];
    int statusFd[2];
    if (pipe2(execFd, O_CLOEXEC) != 0) return -1;
    if (pipe2(statusFd, O_CLOEXEC) != 0) {
        close(execFd[0]);
        close(execFd[1]);
        return -1;
    }
    const pid_t child = fork();
    if (child < 0) {
        for (int fd : {execFd[0], execFd[1], statusFd[0], statusFd[1]}) close(fd);
        return -1;
    }
    if (child == 0) {
        close(execFd[0]);
        close(statusFd[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild < 0) {
            const int err = errno;
            (void)!write(execFd[1], &err, sizeof err);
            _exit(1);
        }
        if (grandchild > 0) {
            close(execFd[1]);
            int status = 0;
            while (waitpid(grandchild, &status, 0) < 0 && errno == EINTR) {
            }
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            (void)!write(statusFd[1], &code, sizeof code);
            _exit(0);
        }
        close(statusFd[1]);
        ExecQuietly(program, arg, execFd[1]);
    }
    close(execFd[1]);
    close(statusFd[1]);
    int err = 0;
    ssize_t n;
    do {
        n = read(execFd[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    close(execFd[0]);
    if (n != 0) {
        close(statusFd[0]);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    watcher = child;
    return statusFd[0];
}

std::mutex watchersMutex;
std::map<int, pid_t>& Watchers() {
    static std::map<int, pid_t> watchers;
    return watchers;
}

}  // namespace

int StartWatched(const std::string& program, const std::string& arg) {
    pid_t watcher = -1;
    const int fd = SpawnWatched(program, arg, watcher);
    if (fd >= 0) {
        std::lock_guard lock(watchersMutex);
        Watchers()[fd] = watcher;
    }
    return fd;
}

__attribute__((weak)) int ShellOpenWatched(const std::string& url) {
    return StartWatched("xdg-open", url);
}

int ShellOpenStatus(int fd) {
    int code = -1;
    ssize_t n;
    do {
        n = read(fd, &code, sizeof code);
    } while (n < 0 && errno == EINTR);
    close(fd);
    pid_t watcher = -1;
    {
        std::lock_guard lock(watchersMutex);
        if (auto it = Watchers().find(fd); it != Watchers().end()) {
            watcher = it->second;
            Watchers().erase(it);
        }
    }
    if (watcher > 0) {
        int status = 0;
        while (waitpid(watcher, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return n == sizeof code ? code : -1;
}

bool HasDefaultRoute(const std::string& routeTable) {
    std::istringstream in(routeTable);
    std::string line;
    std::getline(in, line);  // column titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
        if (!(fields >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask))
            continue;
        const unsigned long f = std::strtoul(flags.c_str(), nullptr, 16);
        if (dest == "00000000" && mask == "00000000" && (f & 0x1)) return true;
    }
    return false;
}

bool RouteTableOnline() {
    std::ifstream f("/proc/net/route");
    if (!f) return false;
    std::stringstream ss;
    ss << f.rdbuf();
    return HasDefaultRoute(ss.str());
}

__attribute__((weak)) bool IsOnline() { return RouteTableOnline(); }

__attribute__((weak)) bool ShellOpen(const std::string& url) {
    return SpawnDetached("xdg-open", url);
}

std::string RuntimeDir() {
    // Not taken from the environment: two copies started with different environments (one
    // without XDG_RUNTIME_DIR, say) must still find the same lock.
    const std::string run = "/run/user/" + std::to_string(getuid());
    struct stat st {};
    if (lstat(run.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
        access(run.c_str(), W_OK) == 0)
        return run;
    // A folder of our own, so that another user cannot pre-create (and hold) our lock file.
    std::string dir = "/tmp/zolvex-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "/tmp";
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return "/tmp";
    return dir;
}

std::string InstanceLockName(const std::string& name, const std::string& folder) {
    // FNV-1a: the same folder gives the same name in every build of the program.
    uint64_t h = 1469598103934665603ULL;
    for (const char c : folder) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return name + " " + hex;
}

SingleInstanceLock::SingleInstanceLock(const std::string& name)
    : path_(RuntimeDir() + "/" + name + ".lock") {
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        another_ = errno == EWOULDBLOCK;
        close(fd);
        return;
    }
    fd_ = fd;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace zx::platform
