#include "sprites/qvDSound.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/Ticks.h"
#include "sprites/WaveFile.h"
#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Paths.h"

namespace zx {

TqvDSound* DSound = nullptr;

using namespace platform;

namespace {

// Files below this size go into static buffers.
constexpr uintmax_t kStaticLimit = 500000;

// Larger sounds are streamed from their files by a thread of their own; where no thread can be
// started (a browser's page) every sound is held whole.
constexpr bool Held(uintmax_t size) { return size < kStaticLimit || !platform::ThreadsAvailable(); }
constexpr uint32_t kControlFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;

std::string ExtractFileName(const std::string& path) {
    auto p = path.find_last_of("\\/:");
    return p == std::string::npos ? path : path.substr(p + 1);
}

// Holds a sound buffer locked for the life of the guard. Unlock reports the result, which the
// caller checks; a guard left by an exception unlocks quietly.
class BufferLock {
public:
    BufferLock(DirectSoundBuffer& buffer, uint32_t bytes) : buffer_(buffer) {
        DSCheck(buffer.Lock(0, bytes, &p1_, &n1_, &p2_, &n2_, 0));
        locked_ = true;
    }
    ~BufferLock() {
        if (locked_) buffer_.Unlock(p1_, n1_, p2_, n2_);
    }
    BufferLock(const BufferLock&) = delete;
    BufferLock& operator=(const BufferLock&) = delete;
    void* Data() const { return p1_; }
    uint32_t Size() const { return n1_; }
    HRESULT Unlock() {
        locked_ = false;
        return buffer_.Unlock(p1_, n1_, p2_, n2_);
    }

private:
    DirectSoundBuffer& buffer_;
    void* p1_ = nullptr;
    void* p2_ = nullptr;
    uint32_t n1_ = 0, n2_ = 0;
    bool locked_ = false;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The manager

TqvDSound::TqvDSound(void* window, bool soundOn, bool openAnyway, int rate, int bits, int channels,
                     const TSoundLibrary& library)
    : InitFailed(true), SoundOn(soundOn), OpenAnyway(openAnyway) {
    if (!SoundOn && !OpenAnyway) return;
    try {
        if (!library.Available()) {
            SoundOn = false;
            OpenAnyway = false;
            return;
        }
        DSCheck(library.Create(Device));
        DSCheck(Device->SetCooperativeLevel(window, DSSCL_PRIORITY));
        BufferDesc desc;
        desc.flags = DSBCAPS_PRIMARYBUFFER;
        DSCheck(Device->CreateSoundBuffer(desc, Primary));
        WaveFormat fmt;
        fmt.formatTag = WAVE_FORMAT_PCM;
        fmt.channels = static_cast<uint16_t>(channels);
        fmt.samplesPerSec = static_cast<uint32_t>(rate);
        fmt.bitsPerSample = static_cast<uint16_t>(bits);
        fmt.blockAlign = static_cast<uint16_t>(bits * channels / 8);
        fmt.avgBytesPerSec = fmt.blockAlign * fmt.samplesPerSec;
        DSCheck(Primary->SetFormat(fmt));
        InitFailed = false;
    } catch (const std::exception&) {
        // Silent by design: the game runs without sound.
        Primary.reset();
        Device.reset();
    }
}

TqvDSound::~TqvDSound() {
    while (!Files.empty()) {
        TqvDSoundFile* f = Files.front();
        auto it = std::find_if(loaded_.begin(), loaded_.end(),
                               [f](const auto& p) { return p.get() == f; });
        if (it != loaded_.end()) {
            loaded_.erase(it);  // its destructor leaves the list
        } else {
            f->Detach();
        }
    }
    loaded_.clear();
    Primary.reset();
    Device.reset();
}

void TqvDSound::LoadDir(const std::string& directory) {
    for (const TFolderFile& e : ListFolder(directory, ".wav")) {
        // The file as it is read: over an installed program the converted music is the user's
        // copy, not the one in the program folder.
        const std::string path = ResolvePath(directory + "\\" + e.Name);
        WriteLog("Loading Sound " + path + " (" + std::to_string(e.Size) + " bytes");
        loaded_.push_back(std::make_unique<TqvDSoundFile>(*this, path.substr(0, path.size() - 4),
                                                          Held(e.Size) ? DSBCAPS_STATIC : 0));
        const std::string& failure = loaded_.back()->LoadFailure;
        WriteLog(failure.empty() ? std::string("Loaded")
                                 : "Not loaded (" + failure + "): the sound stays silent");
    }
}

TqvDSoundFile* TqvDSound::FindOptionalWave(const std::string& name) {
    std::string key = LowerCase(name);
    for (auto it = Files.rbegin(); it != Files.rend(); ++it)
        if (!(*it)->Name.empty() && (*it)->Name == key) return *it;
    return nullptr;
}

TqvDSoundFile* TqvDSound::FindWave(const std::string& name) {
    if (TqvDSoundFile* f = FindOptionalWave(name)) return f;
    throw Exception("Cannot find Wave: " + name);
}

void TqvDSound::SetVolumeAll(int32_t volume) {
    for (auto it = Files.rbegin(); it != Files.rend(); ++it) (*it)->SetVolume(volume);
}

bool TqvDSound::RestoreAll() {
    for (auto it = Files.rbegin(); it != Files.rend(); ++it)
        if (!(*it)->Restore()) return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// One sound

TqvDSoundFile::TqvDSoundFile(TqvDSound& owner, const std::string& pathWithoutExt, uint32_t flags) {
    Owner = &owner;
    Name = LowerCase(ExtractFileName(pathWithoutExt));
    FileName = pathWithoutExt + ".wav";
    Disabled = !Owner->SoundOn || Owner->InitFailed;
    if (!Disabled) {
        try {
            TWaveInfo info = ReadWaveInfo(FileName);
            DataSize = info.DataSize;
            BufferDesc desc;
            desc.flags = flags | kControlFlags;
            desc.bufferBytes = static_cast<uint32_t>(DataSize);
            desc.format = &info.Format;
            DSCheck(Owner->Device->CreateSoundBuffer(desc, Buffer));
            LoadData();
        } catch (const std::exception& e) {
            Disabled = true;
            Buffer.reset();
            LoadFailure = e.what();
            if (LoadFailure.empty()) LoadFailure = "cannot be read";
        }
    }
    Owner->Files.push_back(this);
}

std::unique_ptr<TqvDSoundFile> TqvDSoundFile::Duplicate(const TqvDSoundFile& source) {
    std::unique_ptr<TqvDSoundFile> d(new TqvDSoundFile());
    d->Owner = source.Owner;
    d->FileName = source.FileName;
    d->DataSize = source.DataSize;
    d->Disabled = source.Disabled || !source.Owner || !source.Buffer;
    if (!d->Disabled) {
        try {
            DSCheck(d->Owner->Device->DuplicateSoundBuffer(source.Buffer, d->Buffer));
        } catch (const std::exception&) {
            d->Disabled = true;
            d->Buffer.reset();
        }
    }
    if (d->Owner) d->Owner->Files.push_back(d.get());
    return d;
}

TqvDSoundFile::~TqvDSoundFile() { Detach(); }

void TqvDSoundFile::Detach() {
    Buffer.reset();
    if (Owner) std::erase(Owner->Files, this);
    Owner = nullptr;
    Disabled = true;
    Playing = false;
}

void TqvDSoundFile::LoadData() {
    // A long sound (the music; the device refuses short ones, made static) plays from its file:
    // only the next second or so is held in memory.
    const TWaveInfo info = ReadWaveInfo(FileName);
    if (info.DataSize == DataSize &&
        Buffer->StreamFrom(ResolvePath(FileName), static_cast<uint64_t>(info.DataPos)) == DS_OK)
        return;
    std::optional<BufferLock> lock;
    try {
        lock.emplace(*Buffer, static_cast<uint32_t>(DataSize));
    } catch (const EDirectXBufferLostError&) {
        Lost = true;
        return;
    }
    ReadWaveData(FileName, lock->Data(), lock->Size());
    try {
        DSCheck(lock->Unlock());
    } catch (const EDirectXBufferLostError&) {
        Lost = true;
    }
}

void TqvDSoundFile::Play() {
    if (Disabled || IsLost()) return;
    try {
        Stop();
        DSCheck(Buffer->SetCurrentPosition(0));
        if (Loop) {
            DSCheck(Buffer->Play(0, 0, DSBPLAY_LOOPING));
            Playing = true;
        } else {
            DSCheck(Buffer->Play(0, 0, 0));
        }
    } catch (const EDirectXBufferLostError&) {
        Lost = true;
    }
}

void TqvDSoundFile::Stop() {
    if (Disabled) return;
    Playing = false;
    DSCheck(Buffer->Stop());
}

void TqvDSoundFile::SetPan(int32_t pan) {
    if (Disabled) return;
    DSCheck(Buffer->SetPan(pan));
}

void TqvDSoundFile::SetVolume(int32_t volume) {
    if (Disabled) return;
    DSCheck(Buffer->SetVolume(volume));
}

void TqvDSoundFile::SetPosition(uint32_t offset) {
    if (Disabled) return;
    DSCheck(Buffer->SetCurrentPosition(offset));
}

bool TqvDSoundFile::IsLost() {
    if (Disabled) return false;
    if (Lost) {
        Restore();
    } else {
        uint32_t status = 0;
        DSCheck(Buffer->GetStatus(&status));
        if (status & DSBSTATUS_BUFFERLOST) Restore();
    }
    return Lost;
}

bool TqvDSoundFile::Restore() {
    Lost = false;
    if (!Disabled) {
        uint32_t status = 0;
        DSCheck(Buffer->GetStatus(&status));
        if (status & DSBSTATUS_BUFFERLOST) {
            if (Buffer->Restore() != DS_OK) {
                Lost = true;
            } else {
                LoadData();
                if (!Lost && Playing && Loop) Play();
            }
        }
    }
    return !Lost;
}

// ---------------------------------------------------------------------------------------------
// Result codes and volumes

std::string DSErrorText(HRESULT code) {
    switch (static_cast<uint32_t>(code)) {
        case 0x00000000: return "The request completed successfully.";
        case 0x80004001: return "The function called is not supported at this time.";
        case 0x80004002: return "The requested COM interface is not available.";
        case 0x80004005: return "An undetermined error occurred inside the DirectSound subsystem.";
        case 0x80040110: return "The object does not support aggregation.";
        case 0x80070005: return "Access is denied.";
        case 0x8007000E:
            return "The DirectSound subsystem could not allocate sufficient memory to complete "
                   "the caller\u00B4s request.";
        case 0x80070057: return "An invalid parameter was passed to the returning function.";
        case 0x8878000A:
            return "The request failed because resources, such as a priority level, were already "
                   "in use by another caller.";
        case 0x8878001E:
            return "The control (volume, pan, and so forth) requested by the caller is not "
                   "available.";
        case 0x88780032: return "This function is not valid for the current state of this object.";
        case 0x88780046:
            return "The caller does not have the priority level required for the function to "
                   "succeed.";
        case 0x88780064: return "The specified wave format is not supported.";
        case 0x88780078: return "No sound driver is available for use.";
        case 0x88780082: return "The object is already initialized.";
        case 0x88780096: return "The buffer memory has been lost and must be restored.";
        case 0x887800A0:
            return "Another application has a higher priority level, preventing this call from "
                   "succeeding.";
        case 0x887800AA:
            return "The IDirectSound::Initialize method has not been called or has not been "
                   "called successfully before other methods were called.";
        case 0x887800B4:
            return "Tried to create a DSBCAPS_CTRLFX buffer shorter than DSBSIZE_FX_MIN "
                   "milliseconds.";
        case 0x887800BE:
            return "Attempt to use DirectSound 8 functionality on an older DirectSound object.";
        case 0x887800C8: return "A circular loop of send effects was detected.";
        case 0x887800D2:
            return "The GUID specified in an audiopath file does not match a valid MIXIN buffer.";
        case 0x88781161:
            return "The object requested was not found (numerically equal to "
                   "DMUS_E_NOT_FOUND).";
    }
    return "Unrecognized Error";
}

void DSCheck(HRESULT result) {
    if (result == DS_OK) return;
    WriteLog("DSCheck : " + std::to_string(result));
    std::string text = DSErrorText(result);
    WriteLog(text);
    if (result == DSERR_BUFFERLOST) throw EDirectXBufferLostError();
    throw EDirectXError(text, result);
}

int32_t VolumeFromLevel(int32_t level) {
    if (level <= 0) return DSBVOLUME_MIN;
    // Above the slider's range the formula would give a positive volume, which no buffer takes.
    if (level >= 127) return DSBVOLUME_MAX;
    double v = 100000.0 / 127.0 - 100000.0 / level;
    if (v < -10000.0) return DSBVOLUME_MIN;
    return static_cast<int32_t>(std::nearbyint(v));
}

}  // namespace zx
