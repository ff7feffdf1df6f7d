#pragma once
// A DirectSound-like buffer set over SDL's audio device. The device is opened once (44100 Hz,
// 16 bits, stereo unless the primary buffer asks otherwise before any sound exists) and its
// callback mixes every playing buffer; every sound buffer owns one mixer channel for its whole
// life, so any number of buffers (duplicates included) can sound at the same time.
//
// A buffer keeps its sample data in the wave's own format, as written through Lock; Unlock turns
// it into the device's format once, so playing never converts. Positions are bytes of the
// buffer's own format. Pan and volume are hundredths of a decibel as DirectSound counts them.
//
// SDL never loses a buffer's memory; tests can make a buffer report lost.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zx::platform {

using HRESULT = int32_t;

constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001);
constexpr HRESULT DSERR_GENERIC = static_cast<HRESULT>(0x80004005);
constexpr HRESULT DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057);
constexpr HRESULT DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001E);
constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032);
constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064);
constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078);
constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096);
constexpr HRESULT DSERR_UNINITIALIZED = static_cast<HRESULT>(0x887800AA);

constexpr uint32_t DSSCL_NORMAL = 1;
constexpr uint32_t DSSCL_PRIORITY = 2;

constexpr uint32_t DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr uint32_t DSBCAPS_STATIC = 0x2;
constexpr uint32_t DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr uint32_t DSBCAPS_CTRLPAN = 0x40;
constexpr uint32_t DSBCAPS_CTRLVOLUME = 0x80;

constexpr uint32_t DSBPLAY_LOOPING = 0x1;

constexpr uint32_t DSBSTATUS_PLAYING = 0x1;
constexpr uint32_t DSBSTATUS_BUFFERLOST = 0x2;
constexpr uint32_t DSBSTATUS_LOOPING = 0x4;

constexpr int32_t DSBPAN_LEFT = -10000;
constexpr int32_t DSBPAN_RIGHT = 10000;
constexpr int32_t DSBVOLUME_MIN = -10000;
constexpr int32_t DSBVOLUME_MAX = 0;

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

// The first 16 bytes of a wave's "fmt " chunk.
struct WaveFormat {
    uint16_t formatTag = WAVE_FORMAT_PCM;
    uint16_t channels = 2;
    uint32_t samplesPerSec = 44100;
    uint32_t avgBytesPerSec = 176400;
    uint16_t blockAlign = 4;
    uint16_t bitsPerSample = 16;
};

struct BufferDesc {
    uint32_t size = 20;
    uint32_t flags = 0;
    uint32_t bufferBytes = 0;
    const WaveFormat* format = nullptr;
};

// Gain of a DirectSound volume: 10^(volume / 2000), volume clamped to -10000..0.
float GainFromVolume(int32_t volume);
// Left and right gains of a volume and a pan: the pan attenuates the opposite side by its
// magnitude (pan 2000 leaves the right side alone and takes 20 dB off the left).
void PanGains(int32_t volume, int32_t pan, float& left, float& right);

struct SampleData;
class AudioDevice;

class DirectSoundBuffer {
public:
    ~DirectSoundBuffer();
    DirectSoundBuffer(const DirectSoundBuffer&) = delete;
    DirectSoundBuffer& operator=(const DirectSoundBuffer&) = delete;

    // Sample memory in the buffer's own format. The range wraps at the end of the buffer: the
    // second part is what lies beyond the end, taken from the start.
    HRESULT Lock(uint32_t offset, uint32_t bytes, void** ptr1, uint32_t* bytes1, void** ptr2,
                 uint32_t* bytes2, uint32_t flags);
    // Converts what was written into the device's format.
    HRESULT Unlock(void* ptr1, uint32_t bytes1, void* ptr2, uint32_t bytes2);
    HRESULT Play(uint32_t reserved, uint32_t priority, uint32_t flags);
    HRESULT Stop();
    HRESULT SetCurrentPosition(uint32_t position);
    HRESULT GetCurrentPosition(uint32_t* play, uint32_t* write);
    HRESULT SetVolume(int32_t volume);
    HRESULT GetVolume(int32_t* volume) const;
    HRESULT SetPan(int32_t pan);
    HRESULT GetPan(int32_t* pan) const;
    HRESULT GetStatus(uint32_t* status);
    HRESULT Restore();
    HRESULT GetFormat(WaveFormat* format) const;
    // Primary buffer only: the device's format.
    HRESULT SetFormat(const WaveFormat& format);
    // A buffer made without DSBCAPS_STATIC whose format is the device's may play its samples
    // from a file instead of memory: the file's bytes from `offset` on, read a little ahead of
    // the play position. Long music then costs a second of memory instead of all of it. Bytes the
    // file no longer holds (cut short while playing) sound as silence. Locking the buffer brings
    // its samples back into memory. DSERR_UNSUPPORTED when the buffer cannot stream.
    HRESULT StreamFrom(const std::string& path, uint64_t offset);
    bool Streamed() const;

    bool IsPrimary() const { return primary_; }
    int Channel() const { return channel_; }
    uint32_t Size() const;
    // Shared with duplicates of this buffer.
    const SampleData* Samples() const { return samples_.get(); }

    // The device takes the buffer's memory, as an audio device that goes away does: the buffer is
    // wiped and reports lost until restored; while restorable is false, restoring fails.
    void Lose(bool restorable = true);

private:
    friend class DirectSound;
    friend struct BufferMixer;
    DirectSoundBuffer(std::shared_ptr<AudioDevice> device, bool primary);
    void Halt();
    void UpdateGains();
    void DropStream();

    std::shared_ptr<AudioDevice> device_;
    std::shared_ptr<SampleData> samples_;
    bool primary_ = false;
    int channel_ = -1;
    int32_t volume_ = 0;
    int32_t pan_ = 0;
    bool lost_ = false;
    bool restorable_ = true;
    bool locked_ = false;
    bool looping_ = false;
    bool started_ = false;
    // Read by the audio thread while the channel plays.
    std::atomic<float> gainL_{1.0f}, gainR_{1.0f};
    std::atomic<uint32_t> frame_{0};
    std::atomic<bool> loopAudio_{false};
    // This buffer's own reader of a streamed sound: duplicates share the file, not the position.
    std::unique_ptr<class SoundStream> stream_;
};

using SoundBufferPtr = std::shared_ptr<DirectSoundBuffer>;

class DirectSound {
public:
    ~DirectSound();
    DirectSound(const DirectSound&) = delete;
    DirectSound& operator=(const DirectSound&) = delete;

    HRESULT SetCooperativeLevel(void* window, uint32_t level);
    HRESULT CreateSoundBuffer(const BufferDesc& desc, SoundBufferPtr& out);
    // A second buffer over the same sample memory, with a channel, volume and pan of its own.
    HRESULT DuplicateSoundBuffer(const SoundBufferPtr& source, SoundBufferPtr& out);

private:
    friend HRESULT DirectSoundCreate(std::unique_ptr<DirectSound>& out);
    explicit DirectSound(std::shared_ptr<AudioDevice> device);
    std::shared_ptr<AudioDevice> device_;
    uint32_t coop_ = 0;
};

// True when the sound library can be used at all.
bool DirectSoundAvailable();
// Opens the default audio device. DSERR_NODRIVER when there is none or it cannot be opened.
HRESULT DirectSoundCreate(std::unique_ptr<DirectSound>& out);

// Two moments of the mixer, for a program that listens to it: every finished mix, in the device's
// format, just before it is sent (on the audio thread), and the number of channels that buffers
// hold whenever it changes (0 when the device closes). The program's own do nothing; they are weak
// symbols, so a test program that defines its own gets those at link time.
void SoundMixed(const uint8_t* stream, int bytes);
void SoundChannelsChanged(int inUse);

// Mixing on demand, for a program that must hear the same sound from the same game whatever the
// machine's pace: the device opened after SetMixOnDemand(true) is no sound card's (nothing asks
// for sound, and a program without a sound card or threads mixes all the same), sounds are held
// whole in memory (none is read from its file while playing), and each MixOnDemand mixes the next
// frames of every playing buffer with the device's own mixing code. False, with silence, while
// no device is open.
struct MixedSound {
    int Rate = 44100;
    int Channels = 2;
    std::vector<int16_t> Samples;  // interleaved, in the device's format
};
void SetMixOnDemand(bool on);
// Appends the next `milliseconds` of the mix.
bool MixOnDemand(MixedSound& into, uint32_t milliseconds);

}  // namespace zx::platform
