#include "testsupport/TestSupport.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Ticks.h"
#include "support/Ansi.h"
#include "support/Paths.h"

namespace zx::test {

const std::string& TempProgramDir() {
    static const std::string dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zolvex-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        return tmpl;
    }();
    return dir;
}

void ResetProgramDir() {
    namespace fs = std::filesystem;
    for (const auto& e : fs::directory_iterator(TempProgramDir())) fs::remove_all(e.path());
}

std::string ReadText(const std::string& relPath) {
    std::ifstream in(ResolvePath(relPath), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteText(const std::string& relPath, const std::string& bytes) {
    std::ofstream out(ResolvePath(relPath), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> LogLines() {
    std::string all = ReadText("KVD\\LOG.TXT");
    std::vector<std::string> lines;
    size_t i = 0;
    while (i < all.size()) {
        size_t j = all.find("\r\n", i);
        if (j == std::string::npos) j = all.size();
        lines.push_back(AnsiToUtf8(all.substr(i, j - i)));
        i = j + 2;
    }
    return lines;
}

std::vector<std::string> GameLogLines() {
    std::vector<std::string> kept;
    bool machine = false;
    for (std::string& l : LogLines()) {
        if (l == "Retreiving system information...") machine = true;
        if (!machine) kept.push_back(std::move(l));
        if (l.rfind("AllocationGranularity:", 0) == 0) machine = false;
    }
    return kept;
}

std::string BuiltProgramDir() { return ZOLVEX_PROGRAM_DIR_BUILD; }

ManualClock::ManualClock() { platform::SetManualTicks(platform::GetTickCount()); }

ManualClock::~ManualClock() { platform::SetManualTicks(std::nullopt); }

void ManualClock::Advance(uint32_t ms) { platform::AdvanceTicks(ms); }

bool MountPrivateTmpfs(const std::string& dir, size_t bytes, std::string& why) {
    if (unshare(CLONE_NEWNS) != 0) {
        why = std::string("no mount namespace of its own: ") + std::strerror(errno);
        return false;
    }
    // Without this the mount would travel back to the parent's namespace on shared mounts.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = std::string("mounts cannot be made private: ") + std::strerror(errno);
        return false;
    }
    const std::string options = "size=" + std::to_string(bytes);
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        why = std::string("no tmpfs at ") + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool CanMountPrivateTmpfs(std::string& why) {
    if (geteuid() != 0) {
        why = "mounting a small tmpfs needs root (CI runs as root)";
        return false;
    }
    int pipefd[2];
    if (pipe(pipefd) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        close(pipefd[0]);
        std::string reason;
        const bool ok = MountPrivateTmpfs(TempProgramDir(), 1 << 16, reason);
        if (!ok && write(pipefd[1], reason.data(), reason.size()) < 0) _exit(2);
        _exit(ok ? 0 : 1);
    }
    close(pipefd[1]);
    char buf[256];
    const ssize_t n = read(pipefd[0], buf, sizeof buf);
    close(pipefd[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (n > 0) why.assign(buf, static_cast<size_t>(n));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string FillFileSystem(const std::string& dir) {
    const std::string filler = dir + "/filler";
    const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return filler;
    // Big steps first, then down to single bytes, so that not even the tail of a page is left.
    static const char zeros[1 << 16] = {};
    for (size_t step = sizeof zeros; step > 0; step /= 2) {
        while (write(fd, zeros, step) == static_cast<ssize_t>(step)) {
        }
    }
    fsync(fd);
    close(fd);
    return filler;
}

}  // namespace zx::test
