#include "music/MPEGPlay.h"

#include <dlfcn.h>

#include <array>

#include "support/Paths.h"

namespace zx {

const char* const kMPEGLibraryName = "libmpegdll.so";

std::string MPEGErrorText(int code) {
    switch (code) {
        case 0: return "MPEG library not loaded";
        case 1: return "Internal decoder error";
        case 2: return "Incorrect mode";
        case 3: return "Input stream error";
        case 4: return "Input stream is non-seekable";
        case 5: return "Output device failure";
        case 254: return "Can't play non-specified stream";
    }
    return "Unknown MPEG error " + std::to_string(code);
}

TMPEGError::TMPEGError(int code) : Exception(MPEGErrorText(code)), Code(code) {}

namespace {

// The decoder's priorities for idle .. time-critical.
constexpr std::array<int, 7> kPriorities = {-15, -2, -1, 0, 1, 2, 15};

std::string LibraryFile(const std::string& pathToDll) {
    if (pathToDll.empty()) {
        // The decoder ships beside the executable or in the installed tree's library folder,
        // folders dlopen does not search: look there first, then leave it to the loader.
        std::string beside = Folders().Library + "/" + kMPEGLibraryName;
        return FileExists(beside) ? beside : kMPEGLibraryName;
    }
    char last = pathToDll.back();
    std::string file = pathToDll;
    if (last != '\\' && last != '/' && last != ':') file += "\\";
    return ResolvePath(file + kMPEGLibraryName);
}

}  // namespace

TMPEGPlayer::~TMPEGPlayer() {
    if (!lib_) return;
    try {
        UnloadDecoder();
    } catch (const std::exception&) {
        // Going away regardless.
    }
    if (lib_) dlclose(lib_);
}

void TMPEGPlayer::SetStreamName(const std::string& name) {
    if (opened_) CloseStream();
    streamName_ = name;
}

void TMPEGPlayer::Check() {
    lastError_ = fn_.LastError();
    if (lastError_ > 0) throw TMPEGError(lastError_);
}

void TMPEGPlayer::RequireLoaded() const {
    if (!lib_) throw TMPEGError(0);
}

void TMPEGPlayer::LoadDecoder() {
    if (lib_) UnloadDecoder();
    void* lib = dlopen(LibraryFile(PathToDLL).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw TMPEGError("Can't load MPEG library", -1);
    mpegdll::TMpegDllEntries e;
    const bool all =
        mpegdll::LookupMpegDllEntries([lib](const char* name) { return dlsym(lib, name); }, e);
    if (!all) {
        dlclose(lib);
        throw TMPEGError(0);
    }
    if (!e.init()) {
        int code = e.LastError();
        // A library that refuses to start is unloaded again rather than left mapped for good.
        dlclose(lib);
        throw TMPEGError(code);
    }
    lib_ = lib;
    fn_ = e;
    length_ = 0;
}

void TMPEGPlayer::UnloadDecoder() {
    RequireLoaded();
    if (opened_) CloseStream();
    fn_.deinit();
    dlclose(lib_);
    lib_ = nullptr;
    fn_ = mpegdll::TMpegDllEntries{};
}

void TMPEGPlayer::OpenStream() {
    RequireLoaded();
    if (opened_) CloseStream();
    if (streamName_.empty()) throw TMPEGError(254);
    // The library takes real file names; the program's own paths go through the resolver.
    fn_.Open(ResolvePath(streamName_).c_str(), 0, nullptr, nullptr, nullptr, nullptr, nullptr,
             nullptr, nullptr);
    Check();
    opened_ = true;
    PlayedXTimes = 1;
    length_ = fn_.GetLength(0);
    Check();
    if (AutoPlay) Play();
}

void TMPEGPlayer::Play() {
    RequireLoaded();
    if (paused_) {
        fn_.Restart();
        Check();
        paused_ = false;
        return;
    }
    if (playing_) return;
    if (!opened_) OpenStream();
    if (playing_) return;  // AutoPlay started it
    if (PlayedXTimes < 2) {
        int prio = static_cast<int>(PlayerPriority);
        fn_.SetPriority(kPriorities[static_cast<size_t>(prio >= 0 && prio < 7 ? prio : 3)]);
        Check();
        fn_.SetOutputDevice(static_cast<int>(OutputDevice),
                            OutFilename.empty() ? "" : ResolvePath(OutFilename).c_str());
        Check();
        done_ = 0;
        int r = fn_.Play(StartPos, EndPos, &done_);
        Check();
        if (r != 0) throw TMPEGError(1);
    }
    playing_ = true;
    ++PlayedXTimes;
}

bool TMPEGPlayer::IsDone() {
    if (!lib_ || __atomic_load_n(&done_, __ATOMIC_ACQUIRE) == 0) return false;
    int r = fn_.ResetPlayerMode(0);
    playing_ = false;
    Check();
    return r != 0;
}

void TMPEGPlayer::CloseStream() {
    opened_ = false;
    paused_ = false;
    playing_ = false;
    PlayedXTimes = 0;
    if (!lib_) return;
    fn_.Close();
    Check();
}

}  // namespace zx
