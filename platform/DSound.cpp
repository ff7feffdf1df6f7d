#include "platform/DSound.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace zx::platform {

// The open file a streamed sound is read from.
struct StreamSource {
    int fd = -1;
    uint64_t offset = 0;  // of the first sample byte
    ~StreamSource() {
        if (fd >= 0) close(fd);
    }
    // The sound's bytes from `from` on; what the file no longer holds (cut short while playing)
    // reads as silence, not as a fault.
    void Read(void* dst, size_t bytes, uint64_t from) const {
        auto* d = static_cast<uint8_t*>(dst);
        size_t got = 0;
        while (got < bytes) {
            const ssize_t r =
                pread(fd, d + got, bytes - got, static_cast<off_t>(offset + from + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        std::memset(d + got, 0, bytes - got);
    }
};

// Sample memory shared by a buffer and its duplicates.
struct SampleData {
    WaveFormat format;
    uint32_t flags = 0;
    uint32_t bytes = 0;  // the buffer's size, whether its samples are in memory or in a file
    // Set while the samples are read from a file instead of raw.
    std::shared_ptr<StreamSource> source;
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
        // Mixed on demand, nothing asks for sound: no device is opened (a program without one,
        // or without threads for one, mixes all the same).
        if (!onDemand_) {
            if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
            SDL_AudioSpec want{};
            want.freq = rate;
            want.format = AUDIO_S16SYS;
            want.channels = static_cast<Uint8>(channels);
            want.samples = kRequestFrames;
            want.callback = &AudioDevice::Callback;
            want.userdata = this;
            // No format changes allowed: SDL converts if the hardware differs, so the mix always
            // runs at exactly the format asked for.
            device_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
            if (device_ == 0) {
                SDL_QuitSubSystem(SDL_INIT_AUDIO);
                return false;
            }
        }
        open_ = true;
        rate_ = rate;
        channels_ = channels;
        used_.assign(16, false);
        voices_.assign(16, Voice{});
        // Sized for the device's usual request; the callback grows it only if SDL asks for more.
        scratch_.assign(static_cast<size_t>(kRequestFrames) * static_cast<size_t>(channels), 0);
        if (device_) SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    // Takes effect with the next device opened.
    static void SetOnDemand(bool on) { onDemand_ = on; }
    static bool OnDemand() { return onDemand_; }

    // The next frames of the mix, as the device's next request would have had them.
    static bool MixNext(MixedSound& into, uint32_t milliseconds) {
        std::shared_ptr<AudioDevice> d;
        {
            std::lock_guard lock(mutex_);
            d = current_.lock();
        }
        if (d) {
            into.Rate = d->rate_;
            into.Channels = d->channels_;
        }
        const size_t frames = static_cast<size_t>(into.Rate) * milliseconds / 1000;
        const size_t at = into.Samples.size();
        into.Samples.resize(at + frames * static_cast<size_t>(into.Channels));
        if (!d) return false;
        d->Lock();
        Callback(d.get(), reinterpret_cast<Uint8*>(into.Samples.data() + at),
                 static_cast<int>((into.Samples.size() - at) * 2));
        d->Unlock();
        return true;
    }

    void Close() {
        if (!open_) return;
        if (device_) {
            SDL_CloseAudioDevice(device_);
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        device_ = 0;
        open_ = false;
        used_.clear();
        voices_.clear();
        SoundChannelsChanged(0);
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
            Lock();
            voices_.resize(grown);
            Unlock();
            used_.resize(grown, false);
            it = std::find(used_.begin(), used_.end(), false);
        }
        *it = true;
        SoundChannelsChanged(ChannelsInUse());
        return static_cast<int>(it - used_.begin());
    }

    void ReleaseChannel(int ch) {
        if (ch < 0 || static_cast<size_t>(ch) >= used_.size()) return;
        Stop(ch);
        used_[static_cast<size_t>(ch)] = false;
        SoundChannelsChanged(ChannelsInUse());
    }

    void Start(int ch, DirectSoundBuffer* b) {
        Lock();
        voices_[static_cast<size_t>(ch)] = Voice{b, true};
        Unlock();
    }

    void Stop(int ch) {
        Lock();
        voices_[static_cast<size_t>(ch)] = Voice{};
        Unlock();
    }

    bool Playing(int ch) {
        Lock();
        bool playing = voices_[static_cast<size_t>(ch)].playing;
        Unlock();
        return playing;
    }

    int ChannelsInUse() const {
        return static_cast<int>(std::count(used_.begin(), used_.end(), true));
    }

    int Rate() const { return rate_; }
    int Channels() const { return channels_; }

private:
    struct Voice {
        DirectSoundBuffer* buffer = nullptr;
        bool playing = false;
    };

    AudioDevice() = default;
    static constexpr int kRequestFrames = 1024;
    // The callback's lock; without a device only the caller's thread mixes.
    void Lock() {
        if (device_) SDL_LockAudioDevice(device_);
    }
    void Unlock() {
        if (device_) SDL_UnlockAudioDevice(device_);
    }
    static void SDLCALL Callback(void* user, Uint8* stream, int len);

    static inline std::mutex mutex_;
    static inline std::weak_ptr<AudioDevice> current_;
    static inline std::atomic<bool> onDemand_{false};
    SDL_AudioDeviceID device_ = 0;  // 0 when mixed on demand
    bool open_ = false;
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

// Reads a streamed sound ahead of its play position into a ring, on a thread of its own: the
// audio callback takes frames out of the ring and never waits for the disk. One producer (the
// reader) and one consumer (the callback); the two positions only grow, so "how much is there"
// is their difference.
class SoundStream {
public:
    SoundStream(std::shared_ptr<StreamSource> source, uint32_t totalFrames, int channels)
        : source_(std::move(source)), total_(totalFrames), channels_(channels),
          ring_(static_cast<size_t>(kRingFrames) * static_cast<size_t>(channels)) {
        thread_ = std::thread([this] { Run(); });
    }

    ~SoundStream() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

    // Only while the buffer's voice is out of the mix. The first frames are read here, so that
    // the sound starts at once rather than after the reader's next turn.
    void Restart(uint32_t startFrame, bool loop) {
        {
            std::lock_guard lock(mutex_);
            next_ = startFrame;
            loop_ = loop;
            readPos_.store(0, std::memory_order_relaxed);
            writePos_.store(0, std::memory_order_relaxed);
            while (writePos_.load(std::memory_order_relaxed) < kStartFrames && Fill() > 0) {
            }
        }
        wake_.notify_one();
    }

    // Audio thread: the next frame's samples, or nullptr when the reader has fallen behind.
    const int16_t* Next() {
        const uint64_t r = readPos_.load(std::memory_order_relaxed);
        if (r >= writePos_.load(std::memory_order_acquire)) return nullptr;
        readPos_.store(r + 1, std::memory_order_release);
        return &ring_[static_cast<size_t>(r % kRingFrames) * static_cast<size_t>(channels_)];
    }

private:
    // About 1.5 s at 44100 Hz: far more than a disk needs, far less than the sound.
    static constexpr uint32_t kRingFrames = 65536;
    static constexpr uint32_t kChunkFrames = 4096;
    static constexpr uint32_t kStartFrames = 8192;

    void Run() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            // Sleeping a tenth of the ring's length between refills keeps it nearly full
            // without waking the reader for every block the device takes.
            if (Fill() == 0) wake_.wait_for(lock, std::chrono::milliseconds(100));
        }
    }

    // Under mutex_: reads the next chunk straight into the ring, up to the ring's end at most;
    // the frames read.
    uint32_t Fill() {
        const uint64_t w = writePos_.load(std::memory_order_relaxed);
        const uint64_t free = kRingFrames - (w - readPos_.load(std::memory_order_acquire));
        if (next_ >= total_ && loop_ && total_ > 0) next_ = 0;
        const uint32_t left = next_ < total_ ? total_ - next_ : 0;
        const uint32_t slot = static_cast<uint32_t>(w % kRingFrames);
        const uint32_t n = static_cast<uint32_t>(
            std::min<uint64_t>({free, kChunkFrames, left, kRingFrames - slot}));
        if (n == 0) return 0;
        const size_t frameBytes = 2u * static_cast<size_t>(channels_);
        source_->Read(&ring_[static_cast<size_t>(slot) * static_cast<size_t>(channels_)],
                      static_cast<size_t>(n) * frameBytes,
                      static_cast<uint64_t>(next_) * frameBytes);
        next_ += n;
        writePos_.store(w + n, std::memory_order_release);
        return n;
    }

    std::shared_ptr<StreamSource> source_;
    const uint32_t total_;
    const int channels_;
    std::vector<int16_t> ring_;
    std::atomic<uint64_t> readPos_{0}, writePos_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    uint32_t next_ = 0;  // the sound's next frame to read
    bool loop_ = false;
    std::thread thread_;
};

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
        SoundStream* stream = s.source ? b->stream_.get() : nullptr;
        auto silenceFrom = [&](uint32_t i) {
            std::memset(out + static_cast<size_t>(i) * static_cast<size_t>(ch), 0,
                        static_cast<size_t>(frames - i) * 2u * static_cast<size_t>(ch));
        };
        if (!src && !stream) {
            silenceFrom(0);
            return false;
        }
        bool more = true;
        for (uint32_t i = 0; i < frames; ++i) {
            if (f >= total) {
                if (loop && total > 0) {
                    f = 0;
                } else {
                    silenceFrom(i);
                    f = 0;
                    more = false;
                    break;
                }
            }
            const int16_t* frame =
                stream ? stream->Next() : src + static_cast<size_t>(f) * static_cast<size_t>(ch);
            if (!frame) {
                // The reader is behind: a moment of silence, and the sound goes on from where
                // it was rather than skipping.
                silenceFrom(i);
                break;
            }
            for (int c = 0; c < ch; ++c) {
                float g = ch == 2 ? (c == 0 ? gl : gr) : gm;
                float v = static_cast<float>(frame[c]) * g;
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
    SoundMixed(stream, len);
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

uint32_t DirectSoundBuffer::Size() const { return samples_ ? samples_->bytes : 0; }

bool DirectSoundBuffer::Streamed() const { return samples_ && samples_->source; }

void DirectSoundBuffer::DropStream() {
    Halt();
    stream_.reset();
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
    // The memory is made when it is first written, so that a sound that will be streamed never
    // has it; a streamed sound locked comes back into memory as its file holds it.
    if (samples_->raw.size() != size) {
        try {
            samples_->raw.assign(size, 0);
        } catch (const std::bad_alloc&) {
            return DSERR_OUTOFMEMORY;
        }
        if (samples_->source) {
            samples_->source->Read(samples_->raw.data(), size, 0);
            for (DirectSoundBuffer* u : samples_->users) u->DropStream();
            samples_->source.reset();
            samples_->deviceFrames = 0;
        }
    }
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
        samples_->deviceFrames = samples_->bytes / f.blockAlign;
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
    if (samples_->source) {
        if (!stream_) {
            try {
                stream_ =
                    std::make_unique<SoundStream>(samples_->source, total, device_->Channels());
            } catch (const std::exception&) {
                return DSERR_OUTOFMEMORY;
            }
        }
        stream_->Restart(start, looping_);
    }
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
    if (samples_->source) {
        for (DirectSoundBuffer* u : samples_->users) u->DropStream();
        samples_->source.reset();
        samples_->deviceFrames = 0;
        return;
    }
    std::fill(samples_->raw.begin(), samples_->raw.end(), 0);
    std::fill(samples_->device.begin(), samples_->device.end(), 0);
}

HRESULT DirectSoundBuffer::StreamFrom(const std::string& path, uint64_t offset) {
    if (primary_ || !samples_) return DSERR_INVALIDCALL;
    if (lost_) return DSERR_BUFFERLOST;
    if (locked_) return DSERR_INVALIDCALL;
    // A reader thread that may fall behind would make the mix depend on the disk's pace.
    if (AudioDevice::OnDemand()) return DSERR_UNSUPPORTED;
    const WaveFormat& f = samples_->format;
    if ((samples_->flags & DSBCAPS_STATIC) || f.formatTag != WAVE_FORMAT_PCM ||
        f.bitsPerSample != 16 || f.channels != device_->Channels() ||
        static_cast<int>(f.samplesPerSec) != device_->Rate())
        return DSERR_UNSUPPORTED;
    auto source = std::make_shared<StreamSource>();
    source->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (source->fd < 0) return DSERR_GENERIC;
    source->offset = offset;
    for (DirectSoundBuffer* u : samples_->users) u->DropStream();
    std::vector<uint8_t>().swap(samples_->raw);
    std::vector<int16_t>().swap(samples_->device);
    samples_->pcm = nullptr;
    samples_->source = std::move(source);
    samples_->deviceFrames = samples_->bytes / f.blockAlign;
    return DS_OK;
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
    b->samples_->flags = desc.flags;
    b->samples_->bytes = desc.bufferBytes;
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

__attribute__((weak)) void SoundMixed(const uint8_t*, int) {}
__attribute__((weak)) void SoundChannelsChanged(int) {}

void SetMixOnDemand(bool on) { AudioDevice::SetOnDemand(on); }

bool MixOnDemand(MixedSound& into, uint32_t milliseconds) {
    return AudioDevice::MixNext(into, milliseconds);
}

}  // namespace zx::platform
