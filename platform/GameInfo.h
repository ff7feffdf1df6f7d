#pragma once
// A description of the computer for the log and for error reports, taken from the system:
// uname, /etc/os-release, /proc/meminfo, /proc/cpuinfo, sysconf and the display mode.
#include <cstdint>
#include <string>

namespace zx {

class TGameInfo {
public:
    // Collects everything at once; values that cannot be had stay empty.
    TGameInfo();

    // 1 page size, 2 active processor mask, 3 number of processors, 4 processor type,
    // 5 allocation granularity; anything else 0.
    uint32_t SystemValue(int kind) const;
    // 1 memory load (percent), 2 total physical, 3 available physical, 4 total page file,
    // 5 available page file, 6 total virtual, 7 available virtual (kilobytes); anything else 0.
    uint32_t MemoryValue(int kind) const;

    std::string ComputerName;
    std::string UserName;
    std::string WindowsDir;
    std::string SystemDir;
    std::string RegisteredOwner;
    std::string RegisteredOrganization;
    std::string OSVersion;
    std::string OSPlatform;
    int32_t PlatformId = 0;
    std::string DispResu;
    std::string DirectXvs;
    std::string BitsPixel;
    std::string CPUvendor;

    // The raw figures behind MemoryValue, in bytes (tests set them).
    uint64_t TotalPhys = 0, AvailPhys = 0, TotalSwap = 0, FreeSwap = 0;
    uint64_t TotalVirtual = 0, UsedVirtual = 0;
    uint32_t PageSize = 0, ProcessorMask = 0, Processors = 0, ProcessorType = 0;
};

}  // namespace zx
