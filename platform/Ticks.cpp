#include "platform/Ticks.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace zx::platform {

namespace {
// Read by the loop thread too, hence atomic.
std::atomic<bool> manual{false};
std::atomic<uint32_t> manualCount{0};
}  // namespace

uint32_t GetTickCount() {
    if (manual.load(std::memory_order_acquire)) return manualCount.load(std::memory_order_relaxed);
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetManualTicks(std::optional<uint32_t> start) {
    manualCount.store(start.value_or(0), std::memory_order_relaxed);
    manual.store(start.has_value(), std::memory_order_release);
}

void AdvanceTicks(uint32_t ms) { manualCount.fetch_add(ms, std::memory_order_relaxed); }

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The terminal's bell; written into a log file or a pipe it is heard by nobody and only soils
// what is read there (the verifier's reasons, a server's log).
void Beep() {
    if (!isatty(STDERR_FILENO)) return;
    std::fputc('\a', stderr);
    std::fflush(stderr);
}

}  // namespace zx::platform
