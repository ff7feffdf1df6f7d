#pragma once
// The system report every log carries before a game.
#include <cstdint>
#include <functional>

namespace zx {

class TGameInfo;

// Available physical plus available virtual memory in kilobytes, as last measured.
extern uint32_t AvailableMemory;

// Writes the report to the log and sets AvailableMemory; a failure is logged and ignored.
void LogSystemInfo();
// The same report from given figures (tests).
void LogSystemInfo(const TGameInfo& info);
// Available physical plus virtual memory in kilobytes, 0 after a logged failure.
uint32_t AvailableMemoryKb();

// Tests: changes the measured figures before they are used (a machine short of memory, say).
void SetGameInfoAdjustForTesting(std::function<void(TGameInfo&)> adjust);

}  // namespace zx
