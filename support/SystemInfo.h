#pragma once
// The system report every log carries before a game.
#include <cstdint>
#include <functional>

namespace zx {

class TGameInfo;

// Available memory in kilobytes (the kernel's MemAvailable), as last measured.
extern uint32_t AvailableMemory;

// The figures of this machine, measured now.
TGameInfo MeasureGameInfo();

// Writes the report to the log and sets AvailableMemory; a failure is logged and ignored.
void LogSystemInfo();
// The same with the figures measure gives (the launcher's own measurement, a test's machine).
void LogSystemInfo(const std::function<TGameInfo()>& measure);
// The same report from given figures (tests).
void LogSystemInfo(const TGameInfo& info);
// Available memory in kilobytes (MemAvailable), 0 after a logged failure.
uint32_t AvailableMemoryKb();

}  // namespace zx
