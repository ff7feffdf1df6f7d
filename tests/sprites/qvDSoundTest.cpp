#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/Dialogs.h"
#include "platform/Ticks.h"
#include "sprites/qvDSound.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/Mixer.h"
#include "testsupport/TestSupport.h"

namespace wavetest {
std::string MakeWave(const std::string& samples, uint16_t channels, uint32_t rate, uint16_t bits);
std::string ConstantFrames(size_t frames, int16_t left, int16_t right);
std::string Riff(const std::string& chunks);
std::string Chunk(const std::string& id, const std::string& body);
std::string Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);
}  // namespace wavetest

namespace {

using namespace zx;
using namespace wavetest;

std::string SndDir() { return ProgramDir() + "\\snd"; }

// Written by its exact name: two names that differ only in case must both exist.
void PutWave(const std::string& name, const std::string& bytes) {
    CreateDir("snd");
    std::ofstream(ProgramDir() + "/snd/" + name, std::ios::binary) << bytes;
}

// One second of 16-bit stereo at 44100 Hz.
std::string Second(int16_t l = 8000, int16_t r = 8000) {
    return MakeWave(ConstantFrames(44100, l, r), 2, 44100, 16);
}

// The bound only keeps a broken mixer from hanging the test: a loaded machine may be slow.
bool WaitFor(const std::function<bool()>& cond, uint32_t ms = 60000) {
    uint32_t start = platform::GetTickCount();
    while (!cond()) {
        if (platform::GetTickCount() - start > ms) return false;
        platform::SleepMs(5);
    }
    return true;
}

uint32_t PlayPos(TqvDSoundFile* f) {
    uint32_t p = 0;
    if (f->Buffer) f->Buffer->GetCurrentPosition(&p, nullptr);
    return p;
}

// Counts the mixer's finished mixes of 1024 frames: progress on the audio thread, whatever the
// machine's speed.
class MixCount {
public:
    uint64_t Now() const { return mixes_.load(); }
    // Waits until n more mixes have finished after this call.
    bool WaitMore(uint64_t n) {
        const uint64_t from = Now();
        return WaitFor([&] { return Now() >= from + n; });
    }

private:
    std::atomic<uint64_t> mixes_{0};
    test::MixListener listen_{[this](const uint8_t*, int) { ++mixes_; }};
};

// Play, and the buffer's position at once after it, measured where no mix finished in between:
// a mix that had already begun when Play was called ends before Play can start the sound, so at
// most one mix (one that began after Play) went into the position. A window that a mix crossed
// is measured again; false only when every try was crossed.
bool PlayAndPosition(
    TqvDSoundFile* f, MixCount& mixes, uint32_t& pos, const std::function<void()>& before = [] {}) {
    for (int i = 0; i < 1000; ++i) {
        before();
        const uint64_t from = mixes.Now();
        f->Play();
        pos = PlayPos(f);
        if (mixes.Now() == from) return true;
    }
    return false;
}

bool IsPlaying(TqvDSoundFile* f) {
    uint32_t s = 0;
    if (f->Buffer) f->Buffer->GetStatus(&s);
    return (s & platform::DSBSTATUS_PLAYING) != 0;
}

class SoundTest : public testing::Test {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        platform::SetMessageHook([this](platform::MessageKind, const std::string& t) {
            messages.push_back(t);
            return false;
        });
    }
    void TearDown() override { platform::SetMessageHook(nullptr); }
    std::vector<std::string> messages;
};

TEST_F(SoundTest, LoadDirLogsEveryWaveAndSkipsOtherFiles) {
    std::string a = Second(), b = MakeWave(ConstantFrames(100, 1, 1), 2, 44100, 16);
    PutWave("b.wav", b);
    PutWave("A.WAV", a);
    PutWave("notes.txt", "x");
    PutWave("c.wave", b);
    CreateDir("snd\\dir.wav");
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    ASSERT_FALSE(snd.InitFailed);
    snd.LoadDir(SndDir());
    // Each file by the path it is read from, with the system's separators.
    const std::string dir = ProgramDir() + "/snd/";
    std::vector<std::string> want = {
        "Loading Sound " + dir + "A.WAV (" + std::to_string(a.size()) + " bytes", "Loaded",
        "Loading Sound " + dir + "b.wav (" + std::to_string(b.size()) + " bytes", "Loaded"};
    EXPECT_EQ(test::LogLines(), want);
    ASSERT_EQ(snd.Files.size(), 2u);
    EXPECT_EQ(snd.Files[0]->Name, "a");
    EXPECT_EQ(snd.Files[0]->FileName, dir + "A.wav");  // found again by the resolver
    EXPECT_EQ(snd.Files[0]->DataSize, 44100 * 4);
    EXPECT_FALSE(snd.Files[0]->Disabled);
    EXPECT_FALSE(snd.Files[1]->Disabled);
    EXPECT_EQ(test::SoundChannelsInUse(), 2);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SoundTest, ABrokenWaveStaysDisabledAndTheRestLoad) {
    PutWave("bad.wav",
            Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16).substr(0, 14)) + Chunk("data", "abcd")));
    PutWave("good.wav", Second());
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    ASSERT_EQ(snd.Files.size(), 2u);
    EXPECT_TRUE(snd.FindWave("bad")->Disabled);
    EXPECT_FALSE(snd.FindWave("good")->Disabled);
    snd.FindWave("bad")->Play();  // does nothing, raises nothing
    EXPECT_TRUE(messages.empty());
    // The log says which one stays silent and why, not "Loaded".
    const auto log = test::LogLines();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].rfind("Loading Sound " + ProgramDir() + "/snd/bad.wav (", 0), 0u) << log[0];
    EXPECT_EQ(log[1],
              "Not loaded (" + snd.FindWave("bad")->LoadFailure + "): the sound stays silent");
    EXPECT_FALSE(snd.FindWave("bad")->LoadFailure.empty());
    EXPECT_EQ(log[3], "Loaded");
}

TEST_F(SoundTest, FindWaveIgnoresCaseTakesTheLatestAndNamesTheMiss) {
    PutWave("Track 30.wav", Second());
    PutWave("TR_36_03.wav", Second());
    PutWave("tr_36_03.wav", Second(100, 100));
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    EXPECT_EQ(snd.FindWave("TRACK 30")->Name, "track 30");
    EXPECT_EQ(snd.FindWave("track 30"), snd.FindWave("Track 30"));
    // Both spellings are loaded; the one loaded later answers.
    TqvDSoundFile* tr = snd.FindWave("Tr_36_03");
    EXPECT_EQ(tr, snd.Files.back());
    EXPECT_EQ(tr->FileName, ProgramDir() + "/snd/tr_36_03.wav");

    auto dup = TqvDSoundFile::Duplicate(*snd.FindWave("track 30"));
    EXPECT_EQ(dup->Name, "");
    EXPECT_NE(snd.FindWave("Track 30"), dup.get());
    try {
        snd.FindWave("Back ");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot find Wave: Back ");
    }
    EXPECT_THROW(snd.FindWave(""), Exception);
}

TEST_F(SoundTest, SwitchedOffManagerOpensNothingAndEveryCallIsANoOp) {
    PutWave("abroll.wav", Second());
    TqvDSound snd(nullptr, false, false, 44100, 16, 2);
    EXPECT_TRUE(snd.InitFailed);
    EXPECT_EQ(snd.Device, nullptr);
    snd.LoadDir(SndDir());
    TqvDSoundFile* f = snd.FindWave("abroll");
    EXPECT_TRUE(f->Disabled);
    EXPECT_EQ(f->Buffer, nullptr);
    f->Loop = true;
    f->Play();
    f->SetPan(20000);  // out of range, but nothing is called
    f->SetVolume(5);
    f->SetPosition(1);
    f->Stop();
    snd.SetVolumeAll(-100);
    EXPECT_FALSE(f->IsLost());
    EXPECT_TRUE(snd.RestoreAll());
    EXPECT_FALSE(f->Playing);
    EXPECT_EQ(test::SoundChannelsInUse(), 0);
    auto dup = TqvDSoundFile::Duplicate(*f);
    EXPECT_TRUE(dup->Disabled);
}

TEST_F(SoundTest, OpenAnywayOpensTheDeviceButEffectsStayOff) {
    PutWave("x.wav", Second());
    TqvDSound snd(nullptr, false, true, 44100, 16, 2);
    EXPECT_FALSE(snd.InitFailed);
    EXPECT_NE(snd.Device, nullptr);
    snd.LoadDir(SndDir());
    EXPECT_TRUE(snd.FindWave("x")->Disabled);
}

TEST_F(SoundTest, NoDeviceOrNoLibraryLeavesTheManagerSilentWithoutAMessage) {
    PutWave("x.wav", Second());
    TSoundLibrary noDevice;
    noDevice.Create = [](std::unique_ptr<platform::DirectSound>& out) {
        out.reset();
        return platform::DSERR_NODRIVER;
    };
    {
        TqvDSound snd(nullptr, true, true, 44100, 16, 2, noDevice);
        EXPECT_TRUE(snd.InitFailed);
        EXPECT_TRUE(snd.SoundOn);
        snd.LoadDir(SndDir());
        snd.FindWave("x")->Play();
        EXPECT_TRUE(snd.FindWave("x")->Disabled);
    }
    TSoundLibrary missing;
    missing.Available = [] { return false; };
    TqvDSound snd(nullptr, true, true, 44100, 16, 2, missing);
    EXPECT_TRUE(snd.InitFailed);
    EXPECT_FALSE(snd.SoundOn);
    EXPECT_FALSE(snd.OpenAnyway);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SoundTest, DuplicateSharesMemoryPlaysAlongsideAndDiesAlone) {
    PutWave("abroll.wav", Second());
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* src = snd.FindWave("abroll");
    auto dup = TqvDSoundFile::Duplicate(*src);
    ASSERT_FALSE(dup->Disabled);
    EXPECT_EQ(dup->Buffer->Samples(), src->Buffer->Samples());
    EXPECT_NE(dup->Buffer->Channel(), src->Buffer->Channel());
    EXPECT_EQ(dup->FileName, src->FileName);
    EXPECT_EQ(dup->DataSize, src->DataSize);
    EXPECT_EQ(snd.Files.size(), 2u);

    src->Play();
    dup->Play();
    EXPECT_TRUE(IsPlaying(src));
    EXPECT_TRUE(IsPlaying(dup.get()));
    dup->Stop();
    EXPECT_TRUE(IsPlaying(src));
    dup.reset();
    EXPECT_EQ(snd.Files.size(), 1u);
    src->Play();
    EXPECT_TRUE(IsPlaying(src));
    EXPECT_TRUE(WaitFor([&] { return PlayPos(src) > 0; }));
}

TEST_F(SoundTest, DuplicateOutlivingItsManagerIsSilentNotDangling) {
    PutWave("abroll.wav", Second());
    std::unique_ptr<TqvDSoundFile> dup;
    {
        TqvDSound snd(nullptr, true, false, 44100, 16, 2);
        snd.LoadDir(SndDir());
        dup = TqvDSoundFile::Duplicate(*snd.FindWave("abroll"));
        dup->Play();
    }
    EXPECT_TRUE(dup->Disabled);
    EXPECT_EQ(dup->Owner, nullptr);
    dup->Play();
    dup.reset();
    EXPECT_EQ(test::SoundChannelsInUse(), 0);
}

TEST_F(SoundTest, PlayOnAPlayingSoundRestartsItFromTheBeginning) {
    PutWave("bigtime.wav", Second());
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* f = snd.FindWave("bigtime");
    MixCount mixes;
    f->Play();
    ASSERT_TRUE(WaitFor([&] { return PlayPos(f) >= 44100; }));  // a quarter second in
    // Again from the start: at most one mix of 1024 frames (4096 bytes) in.
    uint32_t again = 0;
    ASSERT_TRUE(PlayAndPosition(f, mixes, again));
    EXPECT_LE(again, 4096u);
    EXPECT_TRUE(IsPlaying(f));
    EXPECT_FALSE(f->Playing);  // only a looping start counts as Playing

    // A sound played once ends by itself; a looping one keeps going past its end.
    PutWave("short.wav", MakeWave(ConstantFrames(2205, 1, 1), 2, 44100, 16));
    snd.LoadDir(SndDir());
    TqvDSoundFile* s = snd.FindWave("short");
    s->Play();
    EXPECT_TRUE(WaitFor([&] { return !IsPlaying(s); }));
    s->Loop = true;
    s->Play();
    EXPECT_TRUE(s->Playing);
    // Its 2205 frames take three mixes; five more are past its end whatever the machine's speed.
    ASSERT_TRUE(mixes.WaitMore(5));
    EXPECT_TRUE(IsPlaying(s));
    s->Stop();
    EXPECT_FALSE(IsPlaying(s));
    EXPECT_FALSE(s->Playing);
}

TEST_F(SoundTest, OtherFormatsAreConvertedOnceAndPositionsStayInTheirOwnBytes) {
    // Half a second of 8-bit mono at 22050 Hz.
    PutWave("virus1.wav", MakeWave(std::string(11025, static_cast<char>(200)), 1, 22050, 8));
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* f = snd.FindWave("virus1");
    ASSERT_FALSE(f->Disabled);
    EXPECT_EQ(f->DataSize, 11025);
    f->SetPosition(5000);
    EXPECT_EQ(PlayPos(f), 5000u);
    // Always from the start: at most one mix of 1024 frames in, 512 bytes of this wave.
    MixCount mixes;
    uint32_t pos = 0;
    ASSERT_TRUE(PlayAndPosition(f, mixes, pos, [&] {
        f->Stop();
        f->SetPosition(5000);
    }));
    EXPECT_LE(pos, 512u);
    EXPECT_TRUE(WaitFor([&] { return PlayPos(f) > 2000; }));
}

// The mixed output, captured after all channels are mixed.
std::atomic<int> peakL{0}, peakR{0};
void Capture(const uint8_t* stream, int len) {
    const auto* s = reinterpret_cast<const int16_t*>(stream);
    int l = 0, r = 0;
    for (int i = 0; i + 1 < len / 2; i += 2) {
        l = std::max(l, std::abs(static_cast<int>(s[i])));
        r = std::max(r, std::abs(static_cast<int>(s[i + 1])));
    }
    peakL = l;
    peakR = r;
}

TEST_F(SoundTest, VolumeAndPanReachTheMixInDecibels) {
    PutWave("tone.wav", Second(10000, 10000));
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* f = snd.FindWave("tone");
    f->Loop = true;
    test::MixListener listen(Capture);
    auto settle = [&](int wantL, int wantR) {
        return WaitFor(
            [&] { return std::abs(peakL - wantL) <= 2 && std::abs(peakR - wantR) <= 2; });
    };
    f->Play();
    EXPECT_TRUE(settle(10000, 10000)) << peakL << " " << peakR;
    f->SetVolume(-2000);  // -20 dB
    EXPECT_TRUE(settle(1000, 1000)) << peakL << " " << peakR;
    f->SetVolume(0);
    f->SetPan(600);  // left -6 dB
    EXPECT_TRUE(settle(5012, 10000)) << peakL << " " << peakR;
    f->SetPan(-10000);
    EXPECT_TRUE(settle(10000, 0)) << peakL << " " << peakR;
    f->Stop();
    EXPECT_TRUE(settle(0, 0));
    EXPECT_THROW(f->SetVolume(1), EDirectXError);
    EXPECT_THROW(f->SetPan(10001), EDirectXError);
}

TEST_F(SoundTest, SoundsAddUpClipAndLeaveTheMixWhenTheyEnd) {
    PutWave("hum.wav", Second(1000, -1000));
    PutWave("bang.wav", MakeWave(ConstantFrames(4410, 30000, -30000), 2, 44100, 16));
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* hum = snd.FindWave("hum");
    TqvDSoundFile* bang = snd.FindWave("bang");
    hum->Loop = true;
    // More sounds at once than the device starts with channels for: every one is heard.
    std::vector<std::unique_ptr<TqvDSoundFile>> choir;
    for (int i = 0; i < 19; ++i) choir.push_back(TqvDSoundFile::Duplicate(*hum));
    test::MixListener listen(Capture);
    auto settle = [&](int wantL, int wantR) {
        return WaitFor([&] { return peakL == wantL && peakR == wantR; });
    };
    hum->Play();
    for (auto& d : choir) {
        d->Loop = true;
        d->Play();
    }
    EXPECT_TRUE(settle(20000, 20000)) << peakL << " " << peakR;
    bang->Play();
    EXPECT_TRUE(settle(32767, 32768)) << peakL << " " << peakR;
    // A tenth of a second later the bang has ended on its own and left the mix.
    EXPECT_TRUE(WaitFor([&] { return !IsPlaying(bang); }));
    EXPECT_TRUE(settle(20000, 20000)) << peakL << " " << peakR;
    EXPECT_TRUE(IsPlaying(hum));
    choir.clear();
    EXPECT_TRUE(settle(1000, 1000)) << peakL << " " << peakR;
}

// Every frame of the mix, left and right, up to a limit.
std::mutex recordMutex;
std::vector<int16_t> recorded;
void Record(const uint8_t* stream, int len) {
    std::lock_guard lock(recordMutex);
    const auto* s = reinterpret_cast<const int16_t*>(stream);
    if (recorded.size() < 44100 * 2 * 8) recorded.insert(recorded.end(), s, s + len / 2);
}
// The frames recorded so far that are not silence (before the start, or while a reader lags).
std::vector<std::pair<int16_t, int16_t>> Heard() {
    std::lock_guard lock(recordMutex);
    std::vector<std::pair<int16_t, int16_t>> out;
    for (size_t i = 0; i + 1 < recorded.size(); i += 2)
        if (recorded[i] != 0 || recorded[i + 1] != 0)
            out.emplace_back(recorded[i], recorded[i + 1]);
    return out;
}

// Three seconds (too long to be kept in memory) whose every frame differs from its neighbours
// and is never silence.
constexpr uint32_t kLongFrames = 3 * 44100;
int16_t LongLeft(uint32_t frame) { return static_cast<int16_t>(1000 + (frame * 7) % 20000); }
std::string LongWave() {
    std::string frames;
    for (uint32_t i = 0; i < kLongFrames; ++i) {
        const auto l = static_cast<uint16_t>(LongLeft(i));
        const auto r = static_cast<uint16_t>(-LongLeft(i));
        frames += {static_cast<char>(l & 0xff), static_cast<char>(l >> 8),
                   static_cast<char>(r & 0xff), static_cast<char>(r >> 8)};
    }
    return MakeWave(frames, 2, 44100, 16);
}

class StreamTest : public SoundTest {
protected:
    void SetUp() override {
        SoundTest::SetUp();
        std::lock_guard lock(recordMutex);
        recorded.clear();
    }
};

TEST_F(StreamTest, ALongSoundPlaysFromItsFileSampleForSampleAcrossItsLoop) {
    PutWave("back.wav", LongWave());
    PutWave("bubble.wav", Second());
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* back = snd.FindWave("back");
    EXPECT_TRUE(back->Buffer->Streamed());
    EXPECT_FALSE(snd.FindWave("bubble")->Buffer->Streamed());
    // From a quarter second before the end, looping: the end, then the start again.
    const uint32_t from = kLongFrames - 11025;
    ASSERT_EQ(back->Buffer->SetCurrentPosition(from * 4), platform::DS_OK);
    test::MixListener listen(Record);
    ASSERT_EQ(back->Buffer->Play(0, 0, platform::DSBPLAY_LOOPING), platform::DS_OK);
    ASSERT_TRUE(WaitFor([] { return Heard().size() >= 22050; }, 5000));
    const auto heard = Heard();
    for (uint32_t i = 0; i < 22050; ++i) {
        const uint32_t frame = (from + i) % kLongFrames;
        ASSERT_EQ(heard[i].first, LongLeft(frame)) << "frame " << i;
        ASSERT_EQ(heard[i].second, -LongLeft(frame)) << "frame " << i;
    }
}

// Mixed on demand, a game's sound is the game's alone: the long sound is held whole (no reader
// thread can fall behind), and each call gives exactly the next milliseconds of every playing
// sound, from its place, across its loop, at its pan, with no device taking frames in between.
TEST_F(StreamTest, MixedOnDemandEachCallIsTheNextMillisecondsOfTheSoundsAndNothingStreams) {
    PutWave("back.wav", LongWave());
    PutWave("bubble.wav", Second(8000, 8000));
    platform::SetMixOnDemand(true);
    struct Off {
        ~Off() { platform::SetMixOnDemand(false); }
    } off;
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* back = snd.FindWave("back");
    TqvDSoundFile* bubble = snd.FindWave("bubble");
    EXPECT_FALSE(back->Buffer->Streamed());
    const uint32_t from = kLongFrames - 441;  // 10 ms before its end
    ASSERT_EQ(back->Buffer->SetCurrentPosition(from * 4), platform::DS_OK);
    ASSERT_EQ(back->Buffer->Play(0, 0, platform::DSBPLAY_LOOPING), platform::DS_OK);
    platform::MixedSound mix;
    ASSERT_TRUE(platform::MixOnDemand(mix, 20));
    // A second sound joins, panned fully right: its left side is gone, its right side adds up.
    bubble->SetPan(platform::DSBPAN_RIGHT);
    bubble->Play();
    ASSERT_TRUE(platform::MixOnDemand(mix, 20));
    EXPECT_EQ(mix.Rate, 44100);
    EXPECT_EQ(mix.Channels, 2);
    ASSERT_EQ(mix.Samples.size(), 2u * 882 * 2);
    for (uint32_t i = 0; i < 2 * 882; ++i) {
        const uint32_t frame = (from + i) % kLongFrames;
        const int bubbleRight = i >= 882 ? 8000 : 0;
        ASSERT_EQ(mix.Samples[2 * i], LongLeft(frame)) << "frame " << i;
        ASSERT_EQ(mix.Samples[2 * i + 1], -LongLeft(frame) + bubbleRight) << "frame " << i;
    }
}

TEST_F(StreamTest, AFileCutShortWhilePlayingGoesSilentAndTheSoundEndsOnTime) {
    PutWave("back.wav", LongWave());
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* back = snd.FindWave("back");
    ASSERT_TRUE(back->Buffer->Streamed());
    test::MixListener listen(Record);
    const uint32_t start = platform::GetTickCount();
    back->Play();
    ASSERT_TRUE(WaitFor([] { return Heard().size() >= 4410; }));
    // Cut to its header and a fifth of a second of samples.
    std::filesystem::resize_file(ProgramDir() + "/snd/back.wav", 44 + 8820 * 4);
    EXPECT_TRUE(WaitFor([&] { return !IsPlaying(back); }, 6000));
    EXPECT_GE(platform::GetTickCount() - start, 2900u);
    // What was read before the cut sounds, then silence: never more than the reader's lead.
    const auto heard = Heard();
    EXPECT_GE(heard.size(), 4410u);
    EXPECT_LT(heard.size(), 8820u + 65536u);
    for (size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(heard[i].first, LongLeft(static_cast<uint32_t>(i))) << "frame " << i;
}

TEST_F(StreamTest, DuplicatesKeepTheirOwnPlacesAndALockedOrLostSoundKeepsItsSamples) {
    PutWave("back.wav", LongWave());
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* back = snd.FindWave("back");
    auto dup = TqvDSoundFile::Duplicate(*back);
    ASSERT_TRUE(dup->Buffer->Streamed());
    back->Play();
    ASSERT_EQ(dup->Buffer->SetCurrentPosition(2 * 44100 * 4), platform::DS_OK);
    ASSERT_EQ(dup->Buffer->Play(0, 0, 0), platform::DS_OK);
    EXPECT_TRUE(WaitFor([&] { return PlayPos(back) > 4000; }));
    EXPECT_GE(PlayPos(dup.get()), 2u * 44100 * 4);
    EXPECT_TRUE(IsPlaying(back));

    // Locked, the samples come into memory as the file has them, and play from there.
    void* p1;
    void* p2;
    uint32_t n1, n2;
    ASSERT_EQ(back->Buffer->Lock(kLongFrames * 4 - 4, 8, &p1, &n1, &p2, &n2, 0), platform::DS_OK);
    EXPECT_FALSE(back->Buffer->Streamed());
    EXPECT_FALSE(IsPlaying(dup.get()));
    EXPECT_EQ(static_cast<int16_t*>(p1)[0], LongLeft(kLongFrames - 1));
    EXPECT_EQ(static_cast<int16_t*>(p2)[1], -LongLeft(0));
    back->Buffer->Unlock(p1, n1, p2, n2);
    back->Play();
    EXPECT_TRUE(WaitFor([&] { return PlayPos(back) > 4000; }));

    // Lost and restored, it is read from its file again.
    back->Loop = true;
    back->Play();
    back->Buffer->Lose();
    EXPECT_TRUE(snd.RestoreAll());
    EXPECT_TRUE(back->Buffer->Streamed());
    EXPECT_TRUE(IsPlaying(back));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SoundTest, DecibelsToGainAndPanSides) {
    EXPECT_FLOAT_EQ(platform::GainFromVolume(0), 1.0f);
    EXPECT_FLOAT_EQ(platform::GainFromVolume(-2000), 0.1f);
    EXPECT_FLOAT_EQ(platform::GainFromVolume(-10000), 1e-5f);
    float l, r;
    platform::PanGains(-1000, 2000, l, r);
    EXPECT_FLOAT_EQ(l, platform::GainFromVolume(-3000));
    EXPECT_FLOAT_EQ(r, platform::GainFromVolume(-1000));
    platform::PanGains(-9000, -5000, l, r);
    EXPECT_FLOAT_EQ(l, platform::GainFromVolume(-9000));
    EXPECT_FLOAT_EQ(r, platform::GainFromVolume(-10000));  // never below the scale
}

TEST_F(SoundTest, VolumeFromLevelFollowsTheSlider) {
    EXPECT_EQ(VolumeFromLevel(0), -10000);
    EXPECT_EQ(VolumeFromLevel(127), 0);
    EXPECT_EQ(VolumeFromLevel(100), -213);
    EXPECT_EQ(VolumeFromLevel(50), -1213);
    EXPECT_EQ(VolumeFromLevel(10), -9213);
    EXPECT_EQ(VolumeFromLevel(9), -10000);
    EXPECT_EQ(VolumeFromLevel(1), -10000);
    // Out of the slider's range (a damaged settings file) still gives a volume a buffer takes.
    EXPECT_EQ(VolumeFromLevel(200), 0);
    EXPECT_EQ(VolumeFromLevel(-5), -10000);
}

TEST_F(SoundTest, LostBufferIsReloadedAndALoopingSoundResumes) {
    PutWave("back.wav", Second(3000, 3000));
    PutWave("leer.wav", Second());
    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    snd.LoadDir(SndDir());
    TqvDSoundFile* back = snd.FindWave("back");
    back->Loop = true;
    back->Play();
    back->Buffer->Lose();
    EXPECT_FALSE(IsPlaying(back));
    EXPECT_TRUE(snd.RestoreAll());
    EXPECT_FALSE(back->Lost);
    EXPECT_TRUE(IsPlaying(back));
    // The memory came back from the file.
    void* p1;
    void* p2;
    uint32_t n1, n2;
    ASSERT_EQ(back->Buffer->Lock(0, 4, &p1, &n1, &p2, &n2, 0), platform::DS_OK);
    EXPECT_EQ(*static_cast<int16_t*>(p1), 3000);
    back->Buffer->Unlock(p1, n1, p2, n2);

    // A restore that fails keeps the sound lost and silent; Play then does nothing.
    TqvDSoundFile* leer = snd.FindWave("leer");
    leer->Buffer->Lose(false);
    EXPECT_TRUE(leer->IsLost());
    leer->Play();
    EXPECT_FALSE(IsPlaying(leer));
    EXPECT_FALSE(snd.RestoreAll());
    leer->Buffer->Lose(true);  // the device is back
    EXPECT_FALSE(leer->IsLost());
    leer->Play();
    EXPECT_TRUE(IsPlaying(leer));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SoundTest, DSCheckLogsCodeAndTextThenRaises) {
    DSCheck(platform::DS_OK);
    EXPECT_TRUE(test::LogLines().empty());
    EXPECT_THROW(DSCheck(platform::DSERR_BUFFERLOST), EDirectXBufferLostError);
    try {
        DSCheck(platform::DSERR_BADFORMAT);
        FAIL();
    } catch (const EDirectXError& e) {
        EXPECT_EQ(e.Code, platform::DSERR_BADFORMAT);
        EXPECT_EQ(e.Message(), "The specified wave format is not supported.");
    }
    // Positive codes are failures too.
    EXPECT_THROW(DSCheck(1), EDirectXError);
    std::vector<std::string> want = {
        "DSCheck : -2005401450", "The buffer memory has been lost and must be restored.",
        "DSCheck : -2005401500", "The specified wave format is not supported.",
        "DSCheck : 1",           "Unrecognized Error"};
    EXPECT_EQ(test::LogLines(), want);
    EXPECT_EQ(DSErrorText(static_cast<int32_t>(0x8007000E)),
              "The DirectSound subsystem could not allocate sufficient memory to complete the "
              "caller\u00B4s request.");
    EXPECT_EQ(DSErrorText(static_cast<int32_t>(0x88781161)),
              "The object requested was not found (numerically equal to DMUS_E_NOT_FOUND).");
}

}  // namespace
