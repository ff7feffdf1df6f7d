#pragma once
// The game's sound effects: every wave file of the sound directory is loaded once into a buffer of
// its own, and the game plays, stops, pans and sets the volume of these buffers by the file's base
// name. The music tracks (waves converted from the shipped MP3 files) are ordinary sounds here.
//
// All calls come from the main thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/DSound.h"
#include "platform/DisplayState.h"
#include "platform/Errors.h"

namespace zx {

// A lost sound buffer. Silent: it never reaches the user as a message.
class EDirectXBufferLostError : public Exception {
public:
    EDirectXBufferLostError() : Exception("Buffer Lost") {}
};

class TqvDSoundFile;

// The sound library as the manager finds it: whether it is there at all, and how its device is
// opened. The program uses the system's; a test passes one that is missing or has no device.
struct TSoundLibrary {
    std::function<bool()> Available = platform::DirectSoundAvailable;
    std::function<platform::HRESULT(std::unique_ptr<platform::DirectSound>&)> Create =
        platform::DirectSoundCreate;
};

class TqvDSound {
public:
    // Opens the device and sets the primary format unless both switches are off. Any failure
    // leaves the manager silent (InitFailed stays true), without a message.
    TqvDSound(void* window, bool soundOn, bool openAnyway, int rate, int bits, int channels,
              const TSoundLibrary& library = {});
    // Destroys every file, then releases the primary buffer and the device.
    ~TqvDSound();
    TqvDSound(const TqvDSound&) = delete;
    TqvDSound& operator=(const TqvDSound&) = delete;

    // Loads every "*.wav" of the directory (a path as the program writes it).
    void LoadDir(const std::string& directory);
    // The latest loaded file of that name (any letter case); duplicates are never returned.
    // Raises "Cannot find Wave: " + name.
    TqvDSoundFile* FindWave(const std::string& name);
    // The same, or nullptr: for sounds the game can do without (the music, when it could not be
    // converted).
    TqvDSoundFile* FindOptionalWave(const std::string& name);
    void SetVolumeAll(int32_t volume);
    // True when every file could be restored.
    bool RestoreAll();

    std::unique_ptr<platform::DirectSound> Device;
    platform::SoundBufferPtr Primary;
    // Every loaded sound in load order, duplicates included.
    std::vector<TqvDSoundFile*> Files;
    bool InitFailed = true;
    bool SoundOn = false;
    bool OpenAnyway = false;

private:
    friend class TqvDSoundFile;
    // The files LoadDir made; duplicates belong to whoever made them.
    std::vector<std::unique_ptr<TqvDSoundFile>> loaded_;
};

// The game screen's sound manager while its display is set up (none otherwise).
extern TqvDSound* DSound;

class TqvDSoundFile {
public:
    // Loads path + ".wav" into a buffer of its own; a file that cannot be loaded is Disabled.
    TqvDSoundFile(TqvDSound& owner, const std::string& pathWithoutExt, uint32_t flags);
    // A second, independently playable sound over the source's sample memory.
    static std::unique_ptr<TqvDSoundFile> Duplicate(const TqvDSoundFile& source);
    // Releases the buffer and leaves the owner's list.
    ~TqvDSoundFile();
    TqvDSoundFile(const TqvDSoundFile&) = delete;
    TqvDSoundFile& operator=(const TqvDSoundFile&) = delete;

    // Restarts the sound from its beginning (looping when Loop is set).
    void Play();
    void Stop();
    void SetPan(int32_t pan);
    void SetVolume(int32_t volume);
    // Play position in bytes of the wave's sample data.
    void SetPosition(uint32_t offset);
    bool IsLost();
    bool Restore();
    void LoadData();

    platform::SoundBufferPtr Buffer;
    TqvDSound* Owner = nullptr;
    std::string FileName;
    std::string Name;
    int32_t DataSize = 0;
    bool Disabled = true;
    bool Lost = false;
    bool Loop = false;
    bool Playing = false;
    // Why a file was not loaded with the sound on (damaged, unreadable); empty otherwise.
    std::string LoadFailure;

private:
    friend class TqvDSound;
    TqvDSoundFile() = default;
    // The manager went away first: the file keeps existing for its owner, silent.
    void Detach();
};

// Nothing for 0; any other code logs "DSCheck : <code>" and the code's text and raises
// EDirectXBufferLostError for a lost buffer, else EDirectXError.
void DSCheck(platform::HRESULT result);
std::string DSErrorText(platform::HRESULT code);
// The options' volume slider (0..127) as a buffer volume.
int32_t VolumeFromLevel(int32_t level);

}  // namespace zx
