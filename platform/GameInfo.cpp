#include "platform/GameInfo.h"

#include <SDL.h>
#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace zx {
namespace {

// The value of "key: value" or "key=value" lines of a text file.
std::string FieldOf(const char* file, const std::string& key, char sep) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        auto p = line.find(sep, key.size());
        if (p == std::string::npos) continue;
        std::string rest = line.substr(key.size(), p - key.size());
        if (rest.find_first_not_of(" \t") != std::string::npos) continue;
        std::string v = line.substr(p + 1);
        v.erase(0, v.find_first_not_of(" \t"));
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        return v;
    }
    return {};
}

uint64_t MemInfoBytes(const char* key) {
    std::string v = FieldOf("/proc/meminfo", key, ':');
    return v.empty() ? 0 : std::stoull(v) * 1024;
}

uint32_t Kb(uint64_t bytes) {
    return static_cast<uint32_t>(std::min<uint64_t>(bytes >> 10, 0xFFFFFFFFu));
}

}  // namespace

TGameInfo::TGameInfo() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) ComputerName = std::string(host).substr(0, 15);
    if (passwd* pw = getpwuid(getuid())) {
        UserName = std::string(pw->pw_name).substr(0, 49);
        std::string gecos = pw->pw_gecos ? pw->pw_gecos : "";
        RegisteredOwner = gecos.substr(0, gecos.find(','));
    }
    WindowsDir = "/";
    SystemDir = "/usr/lib";

    utsname u{};
    if (uname(&u) == 0) {
        int major = 0, minor = 0, build = 0, used = 0;
        std::sscanf(u.release, "%d.%d.%d%n", &major, &minor, &build, &used);
        std::string extra = used > 0 ? std::string(u.release + used) : std::string();
        if (!extra.empty() && (extra[0] == '-' || extra[0] == '.')) extra.erase(0, 1);
        char buf[300];
        std::snprintf(buf, sizeof buf, "%d.%d (%d.%s)", major, minor, build & 0xFFFF,
                      extra.c_str());
        OSVersion = buf;
    }
    // Platform 3 stands for "none of the known ones": the error report names the distribution.
    PlatformId = 3;
    OSPlatform = FieldOf("/etc/os-release", "PRETTY_NAME", '=');

    SDL_version v;
    SDL_GetVersion(&v);
    DirectXvs =
        std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
    CPUvendor = FieldOf("/proc/cpuinfo", "vendor_id", ':');
    // The launcher asks before the game screen has started the video: it is started for the
    // question and stopped again.
    const bool videoWasUp = SDL_WasInit(SDL_INIT_VIDEO) != 0;
    if (videoWasUp || SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        SDL_DisplayMode dm{};
        if (SDL_GetDesktopDisplayMode(0, &dm) == 0) {
            DispResu = std::to_string(dm.w) + "," + std::to_string(dm.h);
            BitsPixel = std::to_string(SDL_BITSPERPIXEL(dm.format));
        }
        if (!videoWasUp) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    long ps = sysconf(_SC_PAGESIZE);
    PageSize = ps > 0 ? static_cast<uint32_t>(ps) : 0;
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    Processors = n > 0 ? static_cast<uint32_t>(n) : 0;
#if defined(__EMSCRIPTEN__)
    // A page runs on the one processor it is given.
    ProcessorMask = 1;
#else
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        for (int i = 0; i < 32; ++i)
            if (CPU_ISSET(i, &set)) ProcessorMask |= 1u << i;
#endif
#if defined(__x86_64__)
    ProcessorType = 8664;
#elif defined(__i386__)
    ProcessorType = 586;
#endif

    TotalPhys = MemInfoBytes("MemTotal");
    AvailPhys = MemInfoBytes("MemAvailable");
    TotalSwap = MemInfoBytes("SwapTotal");
    FreeSwap = MemInfoBytes("SwapFree");
    // The address space this process may still take: its limit (or the 47-bit user space of a
    // 64-bit process) less what it uses.
    TotalVirtual = 1ULL << 47;
    rlimit rl{};
    if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
        TotalVirtual = std::min<uint64_t>(TotalVirtual, rl.rlim_cur);
    std::string vm = FieldOf("/proc/self/status", "VmSize", ':');
    UsedVirtual = vm.empty() ? 0 : std::stoull(vm) * 1024;
}

uint32_t TGameInfo::SystemValue(int kind) const {
    switch (kind) {
        case 1: return PageSize;
        case 2: return ProcessorMask;
        case 3: return Processors;
        case 4: return ProcessorType;
        case 5: return PageSize;
        default: return 0;
    }
}

uint32_t TGameInfo::MemoryValue(int kind) const {
    switch (kind) {
        case 1: return TotalPhys ? static_cast<uint32_t>(100 - (AvailPhys * 100) / TotalPhys) : 0;
        case 2: return Kb(TotalPhys);
        case 3: return Kb(AvailPhys);
        case 4: return Kb(TotalPhys + TotalSwap);
        case 5: return Kb(AvailPhys + FreeSwap);
        case 6: return Kb(TotalVirtual);
        case 7: return Kb(TotalVirtual > UsedVirtual ? TotalVirtual - UsedVirtual : 0);
        default: return 0;
    }
}

}  // namespace zx
