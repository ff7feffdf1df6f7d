#pragma once
// The loop thread: measures time and, whenever 20 ms logic ticks are due, has the main thread run
// one frame and waits until it has run. It never touches game data.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace zx {

// Pure tick accounting, apart from any clock, so that it can be driven by hand.
class TTickAccount {
public:
    static constexpr int32_t FrameInterval = 20;
    static constexpr int32_t MaxTicksPerFrame = 5;

    // One pass: returns the ticks due now (0..5) and keeps only the remainder below one tick.
    int32_t Pass(uint32_t now);
    // Milliseconds until the next tick is due, measured from the last pass.
    int32_t MsUntilNextTick() const { return FrameInterval - static_cast<int32_t>(Elapsed); }

    uint32_t LastTick = 0;  // starts at 0, so the first pass hands the maximum
    int64_t Elapsed = 0;    // below FrameInterval after every pass that handed ticks
    int32_t FramesDue = 0;
};

class TLoopThread {
public:
    // frame(ticks) is called on the loop thread and must block until the main thread has run the
    // frame (or the thread is terminating); ended(id) is called as the thread's very last act.
    using FrameFn = std::function<void(int32_t ticks)>;
    using EndedFn = std::function<void(uint32_t threadId)>;

    // With onMainThread no thread is started: the owner's event loop asks Pass for the ticks due
    // and runs the frames itself (where the platform has no second thread), and the end is
    // announced by Terminate.
    TLoopThread(FrameFn frame, EndedFn ended, bool onMainThread = false);
    ~TLoopThread();  // terminates and joins
    TLoopThread(const TLoopThread&) = delete;
    TLoopThread& operator=(const TLoopThread&) = delete;

    void Start();
    void Terminate();
    bool Terminated() const { return terminated_; }
    void WaitFor();
    uint32_t ThreadID() const { return id_; }
    bool OnMainThread() const { return onMainThread_; }
    // On the main thread: the ticks due now (0 once terminated).
    int32_t Pass(uint32_t now);
    int32_t FramesDue() const { return account_.FramesDue; }
    // Read by the main thread during a hand-over, while the loop thread waits for it.
    const TTickAccount& Account() const { return account_; }

private:
    void Execute();

    FrameFn frame_;
    EndedFn ended_;
    TTickAccount account_;
    std::atomic<bool> terminated_{false};
    bool onMainThread_;
    bool started_ = false;
    bool endAnnounced_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    uint32_t id_;
};

}  // namespace zx
