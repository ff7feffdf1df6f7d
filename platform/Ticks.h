#pragma once
// The system millisecond tick count, sleeping and the beep.
#include <cstdint>

namespace zx::platform {

// Milliseconds since an arbitrary start, wrapping like the system's 32-bit tick count.
uint32_t GetTickCount();
void SleepMs(uint32_t ms);
// The system beep: the terminal bell where there is one.
void Beep();

}  // namespace zx::platform
