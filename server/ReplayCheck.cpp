#include "server/ReplayCheck.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "payload/ScoreCode.h"

extern char** environ;

namespace zx::server {
namespace {

// The value after "key " on the line that starts with it.
std::optional<std::string_view> LineValue(std::string_view out, std::string_view key) {
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string_view::npos) end = out.size();
        const std::string_view line = out.substr(at, end - at);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == ' ')
            return line.substr(key.size() + 1);
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<int64_t> Number(std::optional<std::string_view> v) {
    if (!v || v->empty() || v->size() > 12) return std::nullopt;
    int64_t n = 0;
    for (char c : *v) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

constexpr size_t kOutputCap = 64 * 1024;

// Monotonic milliseconds.
int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Processor time (user and system, in clock ticks) a process has used so far, -1 when unknown.
int64_t ProcessorTicks(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char buf[1024];
    const ssize_t got = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (got <= 0) return -1;
    buf[got] = 0;
    // After the name in parentheses (which may hold anything): state, then fields 4 to 13, then
    // its own and its waited-for children's user and system time.
    const char* p = std::strrchr(buf, ')');
    if (!p) return -1;
    long long t[4] = {};
    if (std::sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld %lld %lld",
                    &t[0], &t[1], &t[2], &t[3]) != 4)
        return -1;
    return t[0] + t[1] + t[2] + t[3];
}

}  // namespace

std::optional<TVerifierReport> ParseVerifierReport(std::string_view out) {
    TVerifierReport r;
    const auto finished = Number(LineValue(out, "finished"));
    const auto won = Number(LineValue(out, "won"));
    // A game lost early with more shots than catches ends below zero.
    std::optional<std::string_view> scoreText = LineValue(out, "score");
    const bool below = scoreText && scoreText->starts_with('-');
    if (below) scoreText->remove_prefix(1);
    auto score = Number(scoreText);
    if (score && below) *score = -*score;
    const auto ticks = Number(LineValue(out, "ticks"));
    const auto digits = LineValue(out, "digits");
    if (!finished || *finished > 1 || !won || *won > 1 || !score || !ticks || !digits ||
        digits->size() != kScoreCodeLength ||
        digits->find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    r.Finished = *finished == 1;
    r.Won = *won == 1;
    r.Score = *score;
    r.Ticks = *ticks;
    r.Digits = std::string(*digits);
    return r;
}

std::optional<std::string> WhyReplayDiffers(const TVerifierReport& report, int64_t score,
                                            const std::string& code) {
    if (!report.Finished) return "The replay ends before its game does";
    if (report.Score != score)
        return "The replay's game scores " + std::to_string(report.Score) + ", not " +
               std::to_string(score);
    // A game without a catch is stored under its code as sent; any other under its digits.
    const std::optional<std::string> digits =
        !code.empty() && code[0] == '=' ? std::optional(code.substr(1)) : DecodeScoreCode(code);
    if (!digits || *digits != report.Digits)
        return "The replay's game has other statistics than the score code";
    return std::nullopt;
}

TVerifierRun RunVerifier(const std::string& verifier, const std::string& file,
                         std::chrono::milliseconds deadline, const std::atomic<bool>* stop) {
    TVerifierRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        run.Err = std::string("pipe: ") + std::strerror(errno);
        return run;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        run.Err = std::string("pipe: ") + std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // Nothing of the server's (its database, its sockets) reaches the verifier.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    std::vector<std::string> args = {verifier, file};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, verifier.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        run.Err = "cannot start " + verifier + ": " + std::strerror(rc);
        close(out[0]);
        close(err[0]);
        return run;
    }
    run.Started = true;
    // On a loaded machine a verifier waits for a processor far longer than it plays; the CPU
    // limit it sets itself bounds a busy one. So past the deadline it goes on while its processor
    // time still grows from one check to the next (five seconds apart: a starved process may run
    // less than a clock tick in one), up to sixty deadlines; one that stands still (stopped, or
    // waiting for what never comes) is killed.
    const int64_t start = NowMs();
    int64_t end = start + deadline.count();
    const int64_t last = start + 60 * deadline.count();
    int64_t cpuAtEnd = -1;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&run.Out, &run.Err};
    int open = 2;
    while (open > 0) {
        const int64_t now = NowMs();
        if (now >= end) {
            const int64_t cpu = ProcessorTicks(pid);
            if (now < last && cpu >= 0 && cpu > cpuAtEnd) {
                cpuAtEnd = cpu;
                end = now + 5000;
            } else {
                run.TimedOut = true;
                break;
            }
        }
        const int64_t left = end - now;
        if (stop && stop->load()) {
            run.Stopped = true;
            break;
        }
        const int n = poll(fds, 2, static_cast<int>(std::min<int64_t>(left, 50)));
        if (n < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                if (into[i]->size() < kOutputCap)
                    into[i]->append(
                        buf, std::min(static_cast<size_t>(got), kOutputCap - into[i]->size()));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    // The whole group: a verifier that started helpers of its own leaves none behind.
    if (run.TimedOut || run.Stopped) kill(-pid, SIGKILL);
    for (pollfd& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    kill(-pid, SIGKILL);  // anything of the group still there
    run.CpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (!run.TimedOut && !run.Stopped && WIFEXITED(status)) run.Exit = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.Signal = WTERMSIG(status);
    return run;
}

namespace {

// The first line of the verifier's standard error, printable, at most 120 characters.
std::string FirstErrorLine(const TVerifierRun& run) {
    std::string line = run.Err.substr(0, run.Err.find('\n'));
    if (line.size() > 120) line.resize(120);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
    return line;
}

}  // namespace

bool GaveNoVerdict(const TVerifierRun& run) {
    if (!run.Started || run.Stopped) return false;
    if (run.TimedOut) return true;
    if (run.Exit == 2) return false;
    if (run.Exit == 3) return FirstErrorLine(run) == "refused: limit: time";
    if (run.Exit != 0) return true;
    return !ParseVerifierReport(run.Out);
}

std::string DescribeEnd(const TVerifierRun& run) {
    std::string how;
    if (!run.Started)
        how = "not started";
    else if (run.TimedOut)
        how = "still running at the deadline";
    else if (run.Stopped)
        how = "stopped with the server";
    else if (run.Signal)
        how = "killed by signal " + std::to_string(run.Signal);
    else
        how = "exit status " + std::to_string(run.Exit);
    const std::string err = FirstErrorLine(run);
    return err.empty() ? how : how + ": " + err;
}

std::optional<std::string> VerdictOf(const TVerifierRun& run, int64_t score,
                                     const std::string& code) {
    if (run.TimedOut) return "The replay could not be played within its time";
    if (run.Exit == 2 || run.Exit == 3) {
        // "refused: <reason>" on the verifier's first line of standard error.
        std::string reason = FirstErrorLine(run);
        if (reason.rfind("refused: ", 0) == 0) reason = reason.substr(9);
        return "The replay was refused" + (reason.empty() ? std::string() : ": " + reason);
    }
    if (run.Exit != 0) return "The replay could not be played";
    const std::optional<TVerifierReport> report = ParseVerifierReport(run.Out);
    if (!report) return "The replay could not be played";
    return WhyReplayDiffers(*report, score, code);
}

}  // namespace zx::server
