#include "platform/DSound.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace zx::platform {

// Sample memory shared by a buffer and its duplicates.
struct SampleData {
    WaveFormat format;
    std::vector<uint8_t> raw;  // as written through Lock, in the wave's own format
    std::vector<int16_t>
        device;  // the same sound in the device's format, unless raw is that already
    uint32_t deviceFrames = 0;
    // What the mixer plays: device, or raw itself when the wave has the device's format (the
    // music always has; a second copy of it would double the largest allocations of the set-up).
    const int16_t* pcm = nullptr;
    // Every buffer playing from this memory; they are halted before the memory changes.
    std::vector<DirectSoundBuffer*> users;
};

namespace {
std::atomic<MixTap> mixTap{nullptr};
std::atomic<void*> mixTapUser{nullptr};
}  // namespace

// The opened device and its channels. One exists while any DirectSound or buffer holds it.
// Channels are changed only under the device's lock, which the audio callback runs under too:
// a buffer that stops or dies is out of the mix before the call returns.
class AudioDevice {
public:
    static std::shared_ptr<AudioDevice> Acquire() {
        std::lock_guard lock(mutex_);
        if (auto d = current_.lock()) return d;
        auto d = std::shared_ptr<AudioDevice>(new AudioDevice());
        if (!d->Open(44100, 2)) return nullptr;
        current_ = d;
        return d;
    }

    ~AudioDevice() { Close(); }

    bool Open(int rate, int channels) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        SDL_AudioSpec want{};
        want.freq = rate;
        want.format = AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(channels);
        want.samples = 1024;
        want.callback = &AudioDevice::Callback;
        want.userdata = this;
        // No format changes allowed: SDL converts if the hardware differs, so the mix always
        // runs at exactly the format asked for.
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        if (device_ == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        rate_ = rate;
        channels_ = channels;
        used_.assign(16, false);
        voices_.assign(16, Voice{});
        // Sized for the device's usual request; the callback grows it only if SDL asks for more.
        scratch_.assign(static_cast<size_t>(want.samples) * static_cast<size_t>(channels), 0);
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    void Close() {
        if (device_ == 0) return;
        SDL_CloseAudioDevice(device_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        device_ = 0;
        used_.clear();
        voices_.clear();
    }

    // A different primary format: only while no sound buffer holds a channel.
    bool Reopen(int rate, int channels) {
        if (rate == rate_ && channels == channels_) return true;
        if (std::find(used_.begin(), used_.end(), true) != used_.end()) return false;
        Close();
        return Open(rate, channels);
    }

    int AcquireChannel() {
        auto it = std::find(used_.begin(), used_.end(), false);
        if (it == used_.end()) {
            size_t grown = used_.size() * 2;
            SDL_LockAudioDevice(device_);
            voices_.resize(grown);
            SDL_UnlockAudioDevice(device_);
            used_.resize(grown, false);
            it = std::find(used_.begin(), used_.end(), false);
        }
        *it = true;
        return static_cast<int>(it - used_.begin());
    }

    void ReleaseChannel(int ch) {
        if (ch < 0 || static_cast<size_t>(ch) >= used_.size()) return;
        Stop(ch);
        used_[static_cast<size_t>(ch)] = false;
    }

    void Start(int ch, DirectSoundBuffer* b) {
        SDL_LockAudioDevice(device_);
        voices_[static_cast<size_t>(ch)] = Voice{b, true};
        SDL_UnlockAudioDevice(device_);
    }

    void Stop(int ch) {
        SDL_LockAudioDevice(device_);
        voices_[static_cast<size_t>(ch)] = Voice{};
        SDL_UnlockAudioDevice(device_);
    }

    bool Playing(int ch) {
        SDL_LockAudioDevice(device_);
        bool playing = voices_[static_cast<size_t>(ch)].playing;
        SDL_UnlockAudioDevice(device_);
        return playing;
    }

    int ChannelsInUse() const {
        return static_cast<int>(std::count(used_.begin(), used_.end(), true));
    }

    static int InUseNow() {
        std::lock_guard lock(mutex_);
        auto d = current_.lock();
        return d ? d->ChannelsInUse() : 0;
    }

    int Rate() const { return rate_; }
    int Channels() const { return channels_; }

private:
    struct Voice {
        DirectSoundBuffer* buffer = nullptr;
        bool playing = false;
    };

    AudioDevice() = default;
    static void SDLCALL Callback(void* user, Uint8* stream, int len);

    static inline std::mutex mutex_;
    static inline std::weak_ptr<AudioDevice> current_;
    SDL_AudioDeviceID device_ = 0;
    int rate_ = 44100;
    int channels_ = 2;
    std::vector<bool> used_;
    std::vector<Voice> voices_;     // under the device's lock
    std::vector<int16_t> scratch_;  // the audio thread's alone
};

float GainFromVolume(int32_t volume) {
    volume = std::clamp(volume, DSBVOLUME_MIN, DSBVOLUME_MAX);
    return static_cast<float>(std::pow(10.0, volume / 2000.0));
}

void PanGains(int32_t volume, int32_t pan, float& left, float& right) {
    pan = std::clamp(pan, DSBPAN_LEFT, DSBPAN_RIGHT);
    int32_t l = volume, r = volume;
    if (pan > 0) l -= pan;
    if (pan < 0) r += pan;
    left = GainFromVolume(std::max(l, DSBVOLUME_MIN));
    right = GainFromVolume(std::max(r, DSBVOLUME_MIN));
}

// Writes a buffer's own samples from its own position with its gains, so that positions, looping
// and gains are exact. False when a buffer that does not loop has run out: the rest is silence.
struct BufferMixer {
    static bool Render(DirectSoundBuffer* b, int16_t* out, uint32_t frames) {
        const SampleData& s = *b->samples_;
        const int ch = b->device_->Channels();
        const uint32_t total = s.deviceFrames;
        const bool loop = b->loopAudio_.load(std::memory_order_relaxed);
        const float gl = b->gainL_.load(std::memory_order_relaxed);
        const float gr = b->gainR_.load(std::memory_order_relaxed);
        const float gm = (gl + gr) * 0.5f;
        uint32_t f = b->frame_.load(std::memory_order_relaxed);
        const int16_t* src = s.pcm;
        bool more = true;
        for (uint32_t i = 0; i < frames; ++i) {
            if (f >= total) {
                if (loop && total > 0) {
                    f = 0;
                } else {
                    std::memset(out + static_cast<size_t>(i) * static_cast<size_t>(ch), 0,
                                static_cast<size_t>(frames - i) * 2u * static_cast<size_t>(ch));
                    f = 0;
                    more = false;
                    break;
                }
            }
            for (int c = 0; c < ch; ++c) {
                float g = ch == 2 ? (c == 0 ? gl : gr) : gm;
                float v = static_cast<float>(src[static_cast<size_t>(f) * static_cast<size_t>(ch) +
                                                 static_cast<size_t>(c)]) *
                          g;
                v = std::clamp(v, -32768.0f, 32767.0f);
                out[static_cast<size_t>(i) * static_cast<size_t>(ch) + static_cast<size_t>(c)] =
                    static_cast<int16_t>(std::lrint(v));
            }
            ++f;
        }
        // A sound that ends exactly at a block's end is over too, not one more block of silence.
        if (f >= total && !loop) {
            f = 0;
            more = false;
        }
        b->frame_.store(f, std::memory_order_relaxed);
        return more;
    }
};

void SDLCALL AudioDevice::Callback(void* user, Uint8* stream, int len) {
    auto* d = static_cast<AudioDevice*>(user);
    std::memset(stream, 0, static_cast<size_t>(len));
    auto* out = reinterpret_cast<int16_t*>(stream);
    const size_t samples = static_cast<size_t>(len) / 2;
    const uint32_t frames = static_cast<uint32_t>(samples / static_cast<size_t>(d->channels_));
    if (d->scratch_.size() < samples) d->scratch_.resize(samples);
    int16_t* mine = d->scratch_.data();
    for (Voice& v : d->voices_) {
        if (!v.playing) continue;
        v.playing = BufferMixer::Render(v.buffer, mine, frames);
        // Sounds add up and clip at the sample's range, as two sources on one speaker would.
        for (size_t i = 0; i < static_cast<size_t>(frames) * static_cast<size_t>(d->channels_); ++i)
            out[i] = static_cast<int16_t>(std::clamp(out[i] + mine[i], -32768, 32767));
    }
    if (MixTap tap = mixTap.load(std::memory_order_acquire))
        tap(mixTapUser.load(std::memory_order_acquire), stream, len);
}

namespace {

// The SDL sample format of a wave format; 0 when SDL cannot take it as it is.
SDL_AudioFormat SdlFormat(const WaveFormat& f) {
    if (f.formatTag == WAVE_FORMAT_PCM) {
        switch (f.bitsPerSample) {
            case 8: return AUDIO_U8;
            case 16: return AUDIO_S16LSB;
            case 24: return AUDIO_S32LSB;  // widened below
            case 32: return AUDIO_S32LSB;
        }
    } else if (f.formatTag == WAVE_FORMAT_IEEE_FLOAT && f.bitsPerSample == 32) {
        return AUDIO_F32LSB;
    }
    return 0;
}

bool FormatUsable(const WaveFormat& f) {
    if (SdlFormat(f) == 0) return false;
    if (f.channels < 1 || f.channels > 8 || f.samplesPerSec < 1000 || f.samplesPerSec > 384000)
        return false;
    return f.blockAlign == f.channels * f.bitsPerSample / 8;
}

// Converts whole frames of raw into the device format.
bool ConvertToDevice(const WaveFormat& f, const std::vector<uint8_t>& raw, int rate, int channels,
                     std::vector<int16_t>& out) {
    size_t frames = raw.size() / f.blockAlign;
    const uint8_t* data = raw.data();
    std::vector<uint8_t> widened;
    if (f.formatTag == WAVE_FORMAT_PCM && f.bitsPerSample == 24) {
        widened.resize(frames * f.channels * 4);
        for (size_t i = 0; i < frames * f.channels; ++i) {
            widened[i * 4] = 0;
            std::memcpy(&widened[i * 4 + 1], &raw[i * 3], 3);
        }
        data = widened.data();
    }
    size_t inBytes = frames * f.channels * (f.bitsPerSample == 24 ? 4u : f.bitsPerSample / 8u);
    out.clear();
    if (frames == 0) return true;
    SDL_AudioStream* st = SDL_NewAudioStream(SdlFormat(f), static_cast<Uint8>(f.channels),
                                             static_cast<int>(f.samplesPerSec), AUDIO_S16SYS,
                                             static_cast<Uint8>(channels), rate);
    if (!st) return false;
    bool ok = SDL_AudioStreamPut(st, data, static_cast<int>(inBytes)) == 0 &&
              SDL_AudioStreamFlush(st) == 0;
    if (ok) {
        out.resize(static_cast<size_t>(SDL_AudioStreamAvailable(st)) / 2);
        int got = SDL_AudioStreamGet(st, out.data(), static_cast<int>(out.size() * 2));
        ok = got >= 0;
        if (ok) out.resize(static_cast<size_t>(got) / 2);
    }
    SDL_FreeAudioStream(st);
    return ok;
}

}  // namespace

DirectSoundBuffer::DirectSoundBuffer(std::shared_ptr<AudioDevice> device, bool primary)
    : device_(std::move(device)), primary_(primary) {}

DirectSoundBuffer::~DirectSoundBuffer() {
    if (channel_ >= 0) device_->ReleaseChannel(channel_);
    if (samples_) std::erase(samples_->users, this);
}

uint32_t DirectSoundBuffer::Size() const {
    return samples_ ? static_cast<uint32_t>(samples_->raw.size()) : 0;
}

void DirectSoundBuffer::Halt() {
    if (started_ && channel_ >= 0) device_->Stop(channel_);
    started_ = false;
}

void DirectSoundBuffer::UpdateGains() {
    float l, r;
    PanGains(volume_, pan_, l, r);
    gainL_.store(l, std::memory_order_relaxed);
    gainR_.store(r, std::memory_order_relaxed);
}

HRESULT DirectSoundBuffer::Lock(uint32_t offset, uint32_t bytes, void** ptr1, uint32_t* bytes1,
                                void** ptr2, uint32_t* bytes2, uint32_t) {
    if (primary_) return DSERR_INVALIDCALL;
    if (lost_) return DSERR_BUFFERLOST;
    if (locked_ || !ptr1 || !bytes1) return DSERR_INVALIDPARAM;
    uint32_t size = Size();
    if (offset >= size || bytes > size) return DSERR_INVALIDPARAM;
    // The mixer may play straight from this memory: nothing plays while it is written.
    for (DirectSoundBuffer* u : samples_->users) u->Halt();
    uint32_t first = std::min(bytes, size - offset);
    *ptr1 = samples_->raw.data() + offset;
    *bytes1 = first;
    if (ptr2) *ptr2 = bytes > first ? samples_->raw.data() : nullptr;
    if (bytes2) *bytes2 = bytes - first;
    locked_ = true;
    return DS_OK;
}

HRESULT DirectSoundBuffer::Unlock(void*, uint32_t, void*, uint32_t) {
    if (!locked_) return DSERR_INVALIDCALL;
    locked_ = false;
    // Nothing may play from the memory while it is replaced.
    for (DirectSoundBuffer* u : samples_->users) u->Halt();
    const WaveFormat& f = samples_->format;
    if (f.formatTag == WAVE_FORMAT_PCM && f.bitsPerSample == 16 &&
        f.channels == device_->Channels() && static_cast<int>(f.samplesPerSec) == device_->Rate()) {
        samples_->device = {};
        samples_->pcm = reinterpret_cast<const int16_t*>(samples_->raw.data());
        samples_->deviceFrames = static_cast<uint32_t>(samples_->raw.size() / f.blockAlign);
        return DS_OK;
    }
    std::vector<int16_t> conv;
    if (!ConvertToDevice(f, samples_->raw, device_->Rate(), device_->Channels(), conv))
        return DSERR_GENERIC;
    samples_->device = std::move(conv);
    samples_->pcm = samples_->device.data();
    samples_->deviceFrames =
        static_cast<uint32_t>(samples_->device.size() / static_cast<size_t>(device_->Channels()));
    return DS_OK;
}

HRESULT DirectSoundBuffer::Play(uint32_t, uint32_t, uint32_t flags) {
    if (primary_) return DS_OK;
    if (lost_) return DSERR_BUFFERLOST;
    if (locked_) return DSERR_INVALIDCALL;
    Halt();
    const uint32_t total = samples_->deviceFrames;
    looping_ = (flags & DSBPLAY_LOOPING) != 0;
    if (total == 0) return DS_OK;
    uint32_t start = frame_.load(std::memory_order_relaxed) % total;
    frame_.store(start, std::memory_order_relaxed);
    loopAudio_.store(looping_, std::memory_order_relaxed);
    device_->Start(channel_, this);
    started_ = true;
    return DS_OK;
}

HRESULT DirectSoundBuffer::Stop() {
    if (primary_) return DS_OK;
    Halt();
    return DS_OK;
}

HRESULT DirectSoundBuffer::SetCurrentPosition(uint32_t position) {
    if (primary_) return DSERR_INVALIDCALL;
    const WaveFormat& f = samples_->format;
    uint64_t rawFrame = position / f.blockAlign;
    uint64_t devFrame = rawFrame * static_cast<uint64_t>(device_->Rate()) / f.samplesPerSec;
    devFrame = std::min<uint64_t>(devFrame, samples_->deviceFrames);
    bool wasPlaying = started_ && device_->Playing(channel_);
    Halt();
    frame_.store(static_cast<uint32_t>(devFrame), std::memory_order_relaxed);
    if (wasPlaying) return Play(0, 0, looping_ ? DSBPLAY_LOOPING : 0);
    return DS_OK;
}

HRESULT DirectSoundBuffer::GetCurrentPosition(uint32_t* play, uint32_t* write) {
    if (primary_) return DSERR_INVALIDCALL;
    const WaveFormat& f = samples_->format;
    uint32_t total = samples_->deviceFrames;
    uint64_t devFrame = total ? frame_.load(std::memory_order_relaxed) % total : 0;
    uint64_t rawFrame = devFrame * f.samplesPerSec / static_cast<uint64_t>(device_->Rate());
    uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(rawFrame * f.blockAlign, Size()));
    if (play) *play = bytes;
    if (write) *write = bytes;
    return DS_OK;
}

HRESULT DirectSoundBuffer::SetVolume(int32_t volume) {
    if (primary_) return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    volume_ = volume;
    UpdateGains();
    return DS_OK;
}

HRESULT DirectSoundBuffer::GetVolume(int32_t* volume) const {
    if (volume) *volume = volume_;
    return DS_OK;
}

HRESULT DirectSoundBuffer::SetPan(int32_t pan) {
    if (primary_) return DSERR_CONTROLUNAVAIL;
    if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
    pan_ = pan;
    UpdateGains();
    return DS_OK;
}

HRESULT DirectSoundBuffer::GetPan(int32_t* pan) const {
    if (pan) *pan = pan_;
    return DS_OK;
}

HRESULT DirectSoundBuffer::GetStatus(uint32_t* status) {
    if (!status) return DSERR_INVALIDPARAM;
    *status = 0;
    if (lost_) {
        *status = DSBSTATUS_BUFFERLOST;
        return DS_OK;
    }
    if (started_ && channel_ >= 0 && device_->Playing(channel_))
        *status = DSBSTATUS_PLAYING | (looping_ ? DSBSTATUS_LOOPING : 0);
    return DS_OK;
}

HRESULT DirectSoundBuffer::Restore() {
    if (!lost_) return DS_OK;
    if (!restorable_) return DSERR_BUFFERLOST;
    lost_ = false;
    return DS_OK;
}

HRESULT DirectSoundBuffer::GetFormat(WaveFormat* format) const {
    if (!format) return DSERR_INVALIDPARAM;
    if (primary_) {
        *format = WaveFormat{};
        format->channels = static_cast<uint16_t>(device_->Channels());
        format->samplesPerSec = static_cast<uint32_t>(device_->Rate());
        format->blockAlign = static_cast<uint16_t>(2 * format->channels);
        format->avgBytesPerSec = format->blockAlign * format->samplesPerSec;
    } else {
        *format = samples_->format;
    }
    return DS_OK;
}

HRESULT DirectSoundBuffer::SetFormat(const WaveFormat& f) {
    if (!primary_) return DSERR_INVALIDCALL;
    if (f.formatTag != WAVE_FORMAT_PCM || f.bitsPerSample != 16 || f.channels < 1 ||
        f.channels > 2 || f.blockAlign != f.channels * 2 ||
        f.avgBytesPerSec != f.blockAlign * f.samplesPerSec)
        return DSERR_BADFORMAT;
    if (!device_->Reopen(static_cast<int>(f.samplesPerSec), f.channels)) return DSERR_INVALIDCALL;
    return DS_OK;
}

void DirectSoundBuffer::Lose(bool restorable) {
    restorable_ = restorable;
    if (lost_) return;
    lost_ = true;
    if (!samples_) return;
    for (DirectSoundBuffer* u : samples_->users) u->Halt();
    std::fill(samples_->raw.begin(), samples_->raw.end(), 0);
    std::fill(samples_->device.begin(), samples_->device.end(), 0);
}

DirectSound::DirectSound(std::shared_ptr<AudioDevice> device) : device_(std::move(device)) {}
DirectSound::~DirectSound() = default;

HRESULT DirectSound::SetCooperativeLevel(void*, uint32_t level) {
    if (level != DSSCL_NORMAL && level != DSSCL_PRIORITY) return DSERR_INVALIDPARAM;
    coop_ = level;
    return DS_OK;
}

HRESULT DirectSound::CreateSoundBuffer(const BufferDesc& desc, SoundBufferPtr& out) {
    out.reset();
    if (desc.size != 20) return DSERR_INVALIDPARAM;
    if (coop_ == 0) return DSERR_UNINITIALIZED;
    if (desc.flags & DSBCAPS_PRIMARYBUFFER) {
        if (desc.bufferBytes != 0 || desc.format) return DSERR_INVALIDPARAM;
        out.reset(new DirectSoundBuffer(device_, true));
        return DS_OK;
    }
    if (!desc.format || desc.bufferBytes == 0) return DSERR_INVALIDPARAM;
    if (!FormatUsable(*desc.format)) return DSERR_BADFORMAT;
    if (desc.bufferBytes % desc.format->blockAlign != 0) return DSERR_INVALIDPARAM;
    std::shared_ptr<DirectSoundBuffer> b(new DirectSoundBuffer(device_, false));
    b->samples_ = std::make_shared<SampleData>();
    b->samples_->format = *desc.format;
    try {
        b->samples_->raw.assign(desc.bufferBytes, 0);
    } catch (const std::bad_alloc&) {
        return DSERR_OUTOFMEMORY;
    }
    b->channel_ = device_->AcquireChannel();
    if (b->channel_ < 0) return DSERR_OUTOFMEMORY;
    b->samples_->users.push_back(b.get());
    // The device copy is made when the data is written (Unlock): until then it plays nothing.
    out = std::move(b);
    return DS_OK;
}

HRESULT DirectSound::DuplicateSoundBuffer(const SoundBufferPtr& source, SoundBufferPtr& out) {
    out.reset();
    if (!source || source->primary_) return DSERR_INVALIDPARAM;
    if (source->lost_) return DSERR_BUFFERLOST;
    std::shared_ptr<DirectSoundBuffer> b(new DirectSoundBuffer(device_, false));
    b->samples_ = source->samples_;
    b->volume_ = source->volume_;
    b->pan_ = source->pan_;
    b->UpdateGains();
    b->channel_ = device_->AcquireChannel();
    if (b->channel_ < 0) return DSERR_OUTOFMEMORY;
    b->samples_->users.push_back(b.get());
    out = std::move(b);
    return DS_OK;
}

// The mixer is part of the program: it is always there.
bool DirectSoundAvailable() { return true; }

HRESULT DirectSoundCreate(std::unique_ptr<DirectSound>& out) {
    out.reset();
    auto device = AudioDevice::Acquire();
    if (!device) return DSERR_NODRIVER;
    out.reset(new DirectSound(std::move(device)));
    return DS_OK;
}

int SoundChannelsInUse() { return AudioDevice::InUseNow(); }

void SetMixTap(MixTap tap, void* user) {
    mixTapUser.store(user, std::memory_order_release);
    mixTap.store(tap, std::memory_order_release);
}

}  // namespace zx::platform
