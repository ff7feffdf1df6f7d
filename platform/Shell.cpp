#include "platform/Shell.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zx::platform {
namespace {

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
        const int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, STDIN_FILENO);
            dup2(devnull, STDOUT_FILENO);
            dup2(devnull, STDERR_FILENO);
            if (devnull > STDERR_FILENO) close(devnull);
        }
        execlp(program.c_str(), program.c_str(), arg.c_str(), static_cast<char*>(nullptr));
        const int err = errno;
        (void)!write(pipeFd[1], &err, sizeof err);
        _exit(127);
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

}  // namespace

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
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
        struct stat st {};
        if (stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) return xdg;
    }
    // A folder of our own, so that another user cannot pre-create (and hold) our lock file.
    std::string dir = "/tmp/zolvex-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "/tmp";
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return "/tmp";
    return dir;
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
