#pragma once
// Replays waiting to be played by the verifier. Each is a file in a folder of its own, on disk
// before it is taken, so that a replay accepted is played even after a crash or a restart; a
// bounded number wait, and a fixed number of workers play them one each.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server/ReplayCheck.h"

namespace zx::server {

struct TReplayQueueOptions {
    std::string Folder;    // created if missing
    std::string Verifier;  // the verifier program's path
    int Workers = 1;
    size_t Capacity = 64;  // replays waiting or being played
    std::chrono::milliseconds Deadline{10000};
    // Runs of one replay, at most, while a run gives no verdict (GaveNoVerdict); the last is judged.
    int Attempts = 3;
    std::function<void(const std::string&)> Log;  // a run played again, and why
};

enum class TReplayOffer {
    Queued,  // on disk and waiting
    Known,   // this code waits or is being played already
    Full,    // refused: try again later
};

class TReplayQueue {
public:
    // Called on a worker with the verifier's run for one code (also one that could not start).
    // When it throws, the replay stays on disk and is played again at the next start.
    using TJudge = std::function<void(const std::string& code, const TVerifierRun& run)>;

    // Takes up every replay left in the folder by an earlier run, beyond the capacity if need be.
    TReplayQueue(TReplayQueueOptions options, TJudge judge);
    ~TReplayQueue();
    TReplayQueue(const TReplayQueue&) = delete;
    TReplayQueue& operator=(const TReplayQueue&) = delete;

    // Starts the workers; before this, replays only wait.
    void Start();
    // Throws when the replay cannot be written.
    TReplayOffer Offer(const std::string& code, const std::string& replay);
    // Until this code is neither waiting nor being played, or the time is up; true when done.
    bool WaitFor(const std::string& code, std::chrono::milliseconds atMost);
    // Replays waiting or being played.
    size_t Size() const;
    // Replays the judge has been given since the start.
    uint64_t Played() const;

private:
    void Work();
    std::string PathOf(const std::string& code) const;

    TReplayQueueOptions options_;
    TJudge judge_;
    mutable std::mutex mutex_;
    std::condition_variable ready_, done_;
    std::deque<std::string> waiting_;
    std::set<std::string> known_;  // waiting or being played
    uint64_t played_ = 0;
    bool stopping_ = false;
    std::atomic<bool> stop_{false};  // the verifiers under way are killed
    std::vector<std::thread> workers_;
};

}  // namespace zx::server
