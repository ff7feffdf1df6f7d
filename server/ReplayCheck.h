#pragma once
// A published game played again: the verifier program runs the replay as a child process of its
// own, with a deadline, and what it prints is held against the score and the score code that were
// published.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zx::server {

// What the verifier prints for a replay it played to its end.
struct TVerifierReport {
    bool Finished = false, Won = false;
    int64_t Score = 0, Ticks = 0;
    std::string Digits;  // the 55 plain digits of the score code the game's statistics give
};

// The report from the verifier's standard output; nothing when a line is missing or malformed.
std::optional<TVerifierReport> ParseVerifierReport(std::string_view out);

// Why the replay does not show the published game (a short English sentence), or nothing when it
// does. code: the stored score code ("=" and the 55 digits, or the text as sent).
std::optional<std::string> WhyReplayDiffers(const TVerifierReport& report, int64_t score,
                                            const std::string& code);

struct TVerifierRun {
    // The verifier's verdict: 0 played, 2 refused, 3 stopped by one of its own limits; -1 killed
    // at the deadline or not started.
    int Exit = -1;
    int Signal = 0;  // the signal that ended it, when one did
    bool TimedOut = false;
    bool Started = false;  // false: the verifier could not be started (Err says why)
    bool Stopped = false;  // killed because the server stops: no verdict
    std::string Out, Err;  // each cut at 64 KB
    double CpuSeconds = 0;
};

// Runs `verifier FILE` with no other input, in a process group of its own that is killed whole at
// the deadline, or as soon as `stop` is set.
TVerifierRun RunVerifier(const std::string& verifier, const std::string& file,
                         std::chrono::milliseconds deadline,
                         const std::atomic<bool>* stop = nullptr);

// True when the run says nothing about the game: the verifier was killed (by a signal or at the
// deadline), failed in itself (a status other than played, refused or stopped by a limit), ran out
// of its own wall-clock time, or printed no readable report. Such an end follows from the
// machine's state (its load, its memory), not from the replay, so the replay is played again.
bool GaveNoVerdict(const TVerifierRun& run);

// How the run ended, for the server's log: "exit status 1", "killed by signal 9", "still running
// at the deadline", with the first line of what it wrote to standard error.
std::string DescribeEnd(const TVerifierRun& run);

// The verdict on one replay from one verifier run: nothing when the game is verified, else the
// reason it is refused.
std::optional<std::string> VerdictOf(const TVerifierRun& run, int64_t score,
                                     const std::string& code);

}  // namespace zx::server
