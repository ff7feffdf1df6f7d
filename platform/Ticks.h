#pragma once
// The system millisecond tick count, sleeping and the beep.
#include <cstdint>
#include <optional>

namespace zx::platform {

// Milliseconds since an arbitrary start, in 32 bits: wraps after about 49.7 days.
uint32_t GetTickCount();
// Replays run the game on a clock of their own: from here on GetTickCount reads a count that
// moves only by AdvanceTicks (nullopt returns to the system's clock).
void SetManualTicks(std::optional<uint32_t> start);
void AdvanceTicks(uint32_t ms);
void SleepMs(uint32_t ms);
// The system beep: the terminal bell where there is one.
void Beep();
// Whether the program may start a thread of its own: not in a browser's page without shared
// memory, where the one thread must also give the page back between frames.
constexpr bool ThreadsAvailable() {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    return false;
#else
    return true;
#endif
}

}  // namespace zx::platform
