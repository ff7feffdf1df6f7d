#include "display/ThreadUnit.h"

#include <algorithm>
#include <chrono>

#include "platform/Ticks.h"

namespace zx {

int32_t TTickAccount::Pass(uint32_t now) {
    // Unsigned: the count wraps, and a first count far from 0 (a machine up for weeks) is one
    // long gap, never a negative one that would put the loop to sleep for weeks.
    Elapsed += static_cast<uint32_t>(now - LastTick);
    LastTick = now;
    const auto due =
        static_cast<int32_t>(std::min<int64_t>(Elapsed / FrameInterval, MaxTicksPerFrame));
    FramesDue = due;
    // Whole ticks beyond the five handed over are dropped; only the part below one tick stays.
    if (due > 0) Elapsed %= FrameInterval;
    return due;
}

namespace {
std::atomic<uint32_t> nextId{1};
}

TLoopThread::TLoopThread(FrameFn frame, EndedFn ended, bool onMainThread)
    : frame_(std::move(frame)), ended_(std::move(ended)), onMainThread_(onMainThread),
      id_(nextId++) {}

TLoopThread::~TLoopThread() {
    Terminate();
    WaitFor();
}

void TLoopThread::Start() {
    started_ = true;
    if (!onMainThread_) thread_ = std::thread([this] { Execute(); });
}

int32_t TLoopThread::Pass(uint32_t now) { return terminated_ ? 0 : account_.Pass(now); }

void TLoopThread::Terminate() {
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    }
    wake_.notify_all();
    // The thread's last act, where there is no thread: once, and only for a loop that ran.
    if (onMainThread_ && started_ && !endAnnounced_) {
        endAnnounced_ = true;
        if (ended_) ended_(id_);
    }
}

void TLoopThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TLoopThread::Execute() {
    while (!terminated_) {
        int32_t due = account_.Pass(platform::GetTickCount());
        if (due > 0) {
            frame_(due);
            continue;
        }
        // Sleep until the next tick is due instead of polling: one core must not burn while the
        // game is shown. The accounting itself is unchanged by this.
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(account_.MsUntilNextTick()),
                       [this] { return terminated_.load(); });
    }
    if (ended_) ended_(id_);
}

}  // namespace zx
