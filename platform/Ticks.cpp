#include "platform/Ticks.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace zx::platform {

uint32_t GetTickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void Beep() {
    std::fputc('\a', stderr);
    std::fflush(stderr);
}

}  // namespace zx::platform
