#pragma once
// The conversion of the shipped MP3 music into wave files beside them, which the sound manager
// then loads like every other sound. Runs on the calling (user-interface) thread; the decoding
// itself runs on the decoder library's own thread, and meanwhile the caller's window is kept
// alive through the progress's Poll.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "music/MPEGPlay.h"

namespace zx {

// What the launcher's progress panel does during a conversion.
class IMusicProgress {
public:
    virtual ~IMusicProgress() = default;
    // Shows the panel ("Converting Sounds...") with a bar of count steps at position 0.
    virtual void Start(int count) = 0;
    // One file is done.
    virtual void Step() = 0;
    // Hides the panel.
    virtual void Finish() = 0;
    // Called again and again while a file is decoded: the window handles its events here. False
    // stops the conversion (the window is closing); what was not finished is tried next time.
    virtual bool Poll() { return true; }
};

// Progress as lines on standard output, for the development runner.
class TConsoleMusicProgress : public IMusicProgress {
public:
    void Start(int count) override;
    void Step() override;
    void Finish() override;

private:
    int count_ = 0, done_ = 0;
};

// The player that exists while music is converted (or longer, when someone else made it).
extern std::unique_ptr<TMPEGPlayer> MusicPlayer;
extern bool PlayerCreated;

// The work list holds at most this many files; the rest wait for the next activation.
constexpr int kMaxMusicPairs = 100;

// The free bytes of the drive holding a folder; nullopt where it cannot be asked.
using TFreeSpace = std::function<std::optional<uint64_t>(const std::string& dir)>;
std::optional<uint64_t> DriveFreeSpace(const std::string& dir);

// Converts every "snd\*.mp3" whose wave is missing, older or not a whole wave. True unless a
// drive lacked the space for a wave file; a music folder that cannot be written is told once
// and is no lack of space. A decoder library that cannot be loaded raises its TMPEGError.
bool ConvertMusic(IMusicProgress* progress, const TFreeSpace& freeSpace = DriveFreeSpace);

// True when the MP3 file's size times 20 is less than the free space of its drive; otherwise
// shows "Not enough space for sounds on drive X:\" and answers false.
bool CheckSoundSpace(const std::string& mp3Path, const TFreeSpace& freeSpace = DriveFreeSpace);

}  // namespace zx
