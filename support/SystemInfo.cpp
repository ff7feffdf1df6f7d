#include "support/SystemInfo.h"

#include <exception>
#include <functional>
#include <string>

#include "platform/GameInfo.h"
#include "support/LogFiles.h"

namespace zx {

uint32_t AvailableMemory = 0;

namespace {

std::string Label(const char* label) {
    std::string s(label);
    if (s.size() < 20) s.append(20 - s.size(), ' ');
    return s;
}

// What a game can still get without pushing others out: the kernel's own estimate of available
// memory. The free address space of a 64-bit process is no limit worth asking the player about.
uint32_t AvailableKb(const TGameInfo& gi) { return gi.MemoryValue(3); }

}  // namespace

TGameInfo MeasureGameInfo() { return TGameInfo(); }

void LogSystemInfo(const TGameInfo& gi) {
    WriteLog(Label("OSVersion:") + gi.OSVersion);
    WriteLog(Label("OSPlatform:") + gi.OSPlatform);
    WriteLog(Label("DispResu:") + gi.DispResu);
    WriteLog(Label("DirectXvs:") + gi.DirectXvs);
    WriteLog(Label("BitsPixel:") + gi.BitsPixel);
    WriteLog(Label("CPUvendor:") + gi.CPUvendor);
    const char* mem[] = {"MemoryLoad:",    "TotalPhys:",    "AvailPhys:",   "TotalPageFile:",
                         "AvailPageFile:", "TotalVirtual:", "AvailVirtual:"};
    for (int k = 1; k <= 7; ++k) WriteLog(Label(mem[k - 1]) + std::to_string(gi.MemoryValue(k)));
    const char* sys[] = {
        "PageSize:", "AtiveProcessorMask:", "NumberOfProcessors:", "ProcessorType:"};
    for (int k = 1; k <= 4; ++k) WriteLog(Label(sys[k - 1]) + std::to_string(gi.SystemValue(k)));
    WriteLog("AllocationGranularity:" + std::to_string(gi.SystemValue(5)));
    AvailableMemory = AvailableKb(gi);
}

void LogSystemInfo(const std::function<TGameInfo()>& measure) {
    try {
        WriteLog("Retreiving system information...");
        LogSystemInfo(measure());
    } catch (const std::exception& e) {
        WriteLog(std::string("Retreiving system information failed: ") + e.what());
    }
}

void LogSystemInfo() { LogSystemInfo(MeasureGameInfo); }

uint32_t AvailableMemoryKb() {
    try {
        TGameInfo gi;
        return AvailableKb(gi);
    } catch (const std::exception& e) {
        WriteLog(std::string("Retreiving available memory failed: ") + e.what());
        return 0;
    }
}

}  // namespace zx
