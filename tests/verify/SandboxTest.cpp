// The verifier's sandbox, tried from children of the test: a locked-down process and one at its
// CPU limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "testsupport/TestSupport.h"
#include "verify/Sandbox.h"

namespace {

// Runs body in a child and gives its exit status (128 + signal when a signal ended it).
template <class F>
int InChild(F body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Sandbox, ALockedDownProcessReadsButCannotWriteConnectRenameOrStartAProcess) {
    const std::string dir = zx::test::TempProgramDir();
    const std::string existing = dir + "/existing.txt";
    FILE* f = std::fopen(existing.c_str(), "w");
    ASSERT_TRUE(f);
    std::fputs("kept", f);
    std::fclose(f);
    const int status = InChild([&] {
        std::string why;
        if (!zx::verify::LockDown(&why)) return 10;
        // Each refusal gives its own status, so that a failure names the call that got through.
        if (socket(AF_INET, SOCK_STREAM, 0) >= 0 || errno != EPERM) return 11;
        if (socket(AF_UNIX, SOCK_DGRAM, 0) >= 0) return 12;
        if (open((dir + "/new.txt").c_str(), O_WRONLY | O_CREAT, 0600) >= 0 || errno != EPERM)
            return 13;
        if (open(existing.c_str(), O_RDWR) >= 0) return 14;
        if (open(existing.c_str(), O_WRONLY | O_TRUNC) >= 0) return 15;
        if (rename(existing.c_str(), (dir + "/moved.txt").c_str()) == 0) return 16;
        if (unlink(existing.c_str()) == 0) return 17;
        if (fork() >= 0) return 18;  // the child would return 18 too: either way it shows
        if (execl("/bin/true", "true", nullptr) == 0 || errno != EPERM) return 19;
        // What playing needs still works: reading, and threads.
        const int fd = open(existing.c_str(), O_RDONLY);
        char buf[8] = {};
        if (fd < 0 || read(fd, buf, sizeof buf) != 4) return 20;
        close(fd);
        bool ran = false;
        std::thread([&] { ran = true; }).join();
        return ran ? 0 : 21;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(zx::test::ReadText("existing.txt"), "kept");
    EXPECT_FALSE(std::ifstream(dir + "/new.txt").good());
}

TEST(Sandbox, TheCpuLimitEndsABusyLoopWithStatusThreeAndItsReason) {
    const std::string err = zx::test::TempProgramDir() + "/cpu.err";
    const int status = InChild([&]() -> int {
        const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        zx::verify::InstallLimitHandlers(0);
        zx::verify::TLimits limits;
        limits.CpuSeconds = 1;
        std::string why;
        if (!zx::verify::SetLimits(limits, &why)) return 10;
        volatile uint64_t n = 0;
        for (;;) n = n + 1;
        return 0;
    });
    EXPECT_EQ(status, 3);
    std::ifstream in(err);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "refused: limit: CPU time");
}

}  // namespace
