#pragma once
// The MP3 player component. It drives the external decoder library, which it loads at run time
// (never linked), and is used here only to turn MP3 files into PCM wave files.
#include <cstdint>
#include <functional>
#include <string>

#include "mpegdll/MpegDll.h"
#include "platform/Errors.h"

namespace zx {

// A player failure with the decoder's code.
class TMPEGError : public Exception {
public:
    explicit TMPEGError(int code);
    TMPEGError(const std::string& message, int code) : Exception(message), Code(code) {}
    int Code;
};

// The texts of the decoder's codes (at most 50 characters each).
std::string MPEGErrorText(int code);

enum class TOutputDevice { wavemapper = 0, pcmfile = 1 };

enum class TPlayerPriority {
    ppIdle = 0,
    ppLowest = 1,
    ppBelowNormal = 2,
    ppNormal = 3,
    ppAboveNormal = 4,
    ppHighest = 5,
    ppTimeCritical = 6,
};

// The file name of the decoder library beside the executable.
extern const char* const kMPEGLibraryName;

class TMPEGPlayer {
public:
    TMPEGPlayer() = default;
    // Closes the stream and unloads the library when loaded.
    ~TMPEGPlayer();
    TMPEGPlayer(const TMPEGPlayer&) = delete;
    TMPEGPlayer& operator=(const TMPEGPlayer&) = delete;

    // Folder of the decoder library; empty: the program directory, then the system's search.
    std::string PathToDLL;
    std::string OutFilename;
    TOutputDevice OutputDevice = TOutputDevice::wavemapper;
    TPlayerPriority PlayerPriority = TPlayerPriority::ppNormal;
    bool AutoPlay = false;
    int32_t StartPos = 0;
    int32_t EndPos = 0;
    int32_t PlayedXTimes = 0;
    // The position timer and the read-through-events mode; this program uses neither.
    bool UseTimer = false;
    int32_t TimerFreq = 100;
    std::function<void()> OnPosUpdate, OnPlayEnd;
    bool FromStream = false;
    bool Seekable = true;
    std::function<void()> OnOpenStream, OnCloseStream, OnRestartStream, OnGetStreamSize,
        OnSeekStream, OnReadStream;

    const std::string& StreamName() const { return streamName_; }
    // Closes an open stream first.
    void SetStreamName(const std::string& name);

    void LoadDecoder();
    void UnloadDecoder();
    void OpenStream();
    void Play();
    // True once the library has finished decoding (and has been reset for the next run).
    bool IsDone();
    void CloseStream();

    bool Loaded() const { return lib_ != nullptr; }
    bool Opened() const { return opened_; }
    bool IsPlaying() const { return playing_; }
    int32_t Length() const { return length_; }
    int32_t LastErrorCode() const { return lastError_; }

private:
    // Asks the library for its last error; a code above 0 raises.
    void Check();
    void RequireLoaded() const;

    void* lib_ = nullptr;
    mpegdll::TMpegDllEntries fn_;
    std::string streamName_;
    bool opened_ = false;
    bool playing_ = false;
    bool paused_ = false;
    // Set by the library's decoding thread when it reaches the end.
    unsigned char done_ = 0;
    int32_t length_ = 0;
    int32_t lastError_ = 0;
};

}  // namespace zx
