#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mpg123.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "mpegdll/MpegDll.h"
#include "testsupport/TestMp3.h"
#include "testsupport/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// The library's own declaration of its entry points: a test that called one with other
// arguments than the library takes would not compile.
struct Lib : mpegdll::TMpegDllEntries {
    void* handle = nullptr;

    void Load() {
        handle = dlopen(MPEGDLL_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        std::string missing;
        const bool all = mpegdll::LookupMpegDllEntries(
            [&](const char* name) {
                void* address = dlsym(handle, name);
                if (!address) missing += std::string(" ") + name;
                return address;
            },
            *this);
        ASSERT_TRUE(all) << "missing:" << missing;
    }
};

std::string Dir() { return zx::test::TempProgramDir(); }

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& d, size_t at) {
    return static_cast<uint16_t>(d[at] | d[at + 1] << 8);
}

struct Wave {
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t frames = 0;
};

// Checks the whole header and returns what it says.
Wave CheckWave(const std::string& path) {
    std::vector<uint8_t> d = ReadFile(path);
    Wave w;
    EXPECT_GE(d.size(), 44u);
    if (d.size() < 44) return w;
    EXPECT_EQ(std::memcmp(d.data(), "RIFF", 4), 0);
    EXPECT_EQ(Le32(d, 4), d.size() - 8);
    EXPECT_EQ(std::memcmp(d.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(Le32(d, 16), 16u);
    EXPECT_EQ(Le16(d, 20), 1);  // PCM
    w.channels = Le16(d, 22);
    w.rate = Le32(d, 24);
    EXPECT_EQ(Le16(d, 32), w.channels * 2);
    EXPECT_EQ(Le32(d, 28), w.rate * w.channels * 2);
    EXPECT_EQ(Le16(d, 34), 16);
    EXPECT_EQ(std::memcmp(d.data() + 36, "data", 4), 0);
    EXPECT_EQ(Le32(d, 40), d.size() - 44);
    if (w.channels) w.frames = static_cast<uint32_t>((d.size() - 44) / (w.channels * 2u));
    return w;
}

// The length of the MPEG-1 layer III frame whose header is at data[at]; 0 for anything else.
size_t Mp3FrameBytes(const std::vector<uint8_t>& data, size_t at) {
    static const int kKbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                  112, 128, 160, 192, 224, 256, 320, 0};
    static const int kRates[4] = {44100, 48000, 32000, 0};
    if (at + 4 > data.size() || data[at] != 0xFF || (data[at + 1] & 0xFE) != 0xFA) return 0;
    const int kbps = kKbps[data[at + 2] >> 4], rate = kRates[(data[at + 2] >> 2) & 3];
    if (kbps == 0 || rate == 0) return 0;
    return static_cast<size_t>(144 * 1000 * kbps / rate + ((data[at + 2] >> 1) & 1));
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return out;
}

bool WaitDone(unsigned char& done, int ms = 60000) {
    for (int i = 0; i < ms / 5; ++i) {
        if (__atomic_load_n(&done, __ATOMIC_ACQUIRE)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

class MpegDll : public testing::Test {
protected:
    void SetUp() override {
        lib.Load();
        ASSERT_TRUE(lib.init());
    }
    void TearDown() override {
        if (lib.handle) {
            lib.deinit();
            dlclose(lib.handle);
        }
    }
    // Decodes mp3 into wav the way the player does; returns the last error seen.
    int Convert(const std::string& mp3, const std::string& wav, int start = 0, int end = 0) {
        lib.Open(mp3.c_str(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (int e = lib.LastError()) return e;
        lib.SetPriority(-1);
        lib.SetOutputDevice(1, wav.c_str());
        unsigned char done = 0;
        if (lib.Play(start, end, &done) != 0) return lib.LastError();
        EXPECT_TRUE(WaitDone(done));
        EXPECT_NE(lib.ResetPlayerMode(0), 0);
        int e = lib.LastError();
        lib.Close();
        return e;
    }
    Lib lib;
};

TEST_F(MpegDll, DecodesAnMp3IntoAWaveOfTheSameLengthAndFormat) {
    const int samples = 2 * 44100;
    std::string mp3 = Dir() + "/tone.mp3", wav = Dir() + "/tone.wav";
    WriteFile(mp3, zx::test::EncodeMp3(44100, 2, samples, 128));

    lib.Open(mp3.c_str(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(lib.LastError(), 0);
    EXPECT_NEAR(lib.GetLength(0), 2000, 30);
    EXPECT_EQ(lib.GetFrequency(), 44100);
    EXPECT_EQ(lib.GetLayer(), 3);
    EXPECT_EQ(lib.GetBitrate(), 128);
    lib.SetOutputDevice(1, wav.c_str());
    unsigned char done = 0;
    ASSERT_EQ(lib.Play(0, 0, &done), 0);
    ASSERT_TRUE(WaitDone(done));
    EXPECT_NE(lib.ResetPlayerMode(0), 0);
    EXPECT_EQ(lib.LastError(), 0);
    EXPECT_EQ(lib.GetPlayerMode(), 0);
    EXPECT_NEAR(lib.GetCurrentPos(), 2000, 30);
    lib.Close();

    Wave w = CheckWave(wav);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, 44100u);
    // The encoder's delay and padding are cut: the tone comes back sample for sample.
    EXPECT_EQ(w.frames, static_cast<uint32_t>(samples));
    std::vector<uint8_t> d = ReadFile(wav);
    int peak = 0;
    for (size_t i = 44; i + 1 < d.size(); i += 2)
        peak = std::max(peak, std::abs(static_cast<int>(static_cast<int16_t>(Le16(d, i)))));
    EXPECT_GT(peak, 6000);
    EXPECT_LT(peak, 10000);
}

// The samples the decoder library gives for a file read on its own, from position ms on.
std::vector<uint8_t> DecodedByMpg123(const std::string& mp3, int fromMs) {
    mpg123_init();
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    long rate = 0;
    int channels = 0, enc = 0;
    std::vector<uint8_t> pcm;
    if (mpg123_open(mh, mp3.c_str()) == MPG123_OK &&
        mpg123_getformat(mh, &rate, &channels, &enc) == MPG123_OK) {
        mpg123_format_none(mh);
        mpg123_format(mh, rate, channels, MPG123_ENC_SIGNED_16);
        mpg123_scan(mh);
        mpg123_seek(mh, static_cast<off_t>(static_cast<int64_t>(fromMs) * rate / 1000), SEEK_SET);
        std::vector<uint8_t> buf(4096);
        for (;;) {
            size_t got = 0;
            const int r = mpg123_read(mh, buf.data(), buf.size(), &got);
            pcm.insert(pcm.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(got));
            if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
        }
        mpg123_close(mh);
    }
    mpg123_delete(mh);
    mpg123_exit();
    return pcm;
}

// However the library reads its input, the wave holds exactly what the decoder gives for the
// file: from the start, and from a position in the middle (the seek goes through the same reader).
TEST_F(MpegDll, TheWaveHoldsExactlyTheDecodersSamplesForTheFile) {
    const std::string mp3 = Dir() + "/exact.mp3", wav = Dir() + "/exact.wav";
    WriteFile(mp3, zx::test::EncodeMp3(44100, 2, 3 * 44100, 96));
    for (int from : {0, 1234}) {
        ASSERT_EQ(Convert(mp3, wav, from), 0) << "from " << from;
        const std::vector<uint8_t> d = ReadFile(wav);
        ASSERT_GE(d.size(), 44u);
        const std::vector<uint8_t> expected = DecodedByMpg123(mp3, from);
        EXPECT_GT(expected.size(), 44100u * 4 * (from ? 1 : 2));
        EXPECT_TRUE(std::equal(d.begin() + 44, d.end(), expected.begin(), expected.end()))
            << "from " << from << ": " << d.size() - 44 << " bytes written, " << expected.size()
            << " decoded";
    }
}

// A few kilobytes of garbage, zeros or sync-like bytes in the middle of a file: the frames there
// are skipped and the rest comes through, instead of the whole track failing.
TEST_F(MpegDll, ADamagedStretchInTheMiddleIsSkippedAndTheRestDecoded) {
    const int samples = 6 * 44100;
    const std::vector<uint8_t> good = zx::test::EncodeMp3(44100, 2, samples, 128);
    for (int fill : {-1, 0x00, 0xFF}) {
        std::vector<uint8_t> bad = good;
        uint32_t seed = 7;
        for (size_t i = bad.size() / 2; i < bad.size() / 2 + 3000; ++i) {
            seed = seed * 1103515245u + 12345u;
            bad[i] = static_cast<uint8_t>(fill < 0 ? seed >> 16 : static_cast<uint32_t>(fill));
        }
        const std::string mp3 = Dir() + "/damaged.mp3", wav = Dir() + "/damaged.wav";
        WriteFile(mp3, bad);
        EXPECT_EQ(Convert(mp3, wav), 0) << fill;
        Wave w = CheckWave(wav);
        // 3000 bytes are about 11 frames of 128 kbit/s: 1152 samples each, and one on each side.
        EXPECT_GT(w.frames, static_cast<uint32_t>(samples - 14 * 1152)) << fill;
        EXPECT_LE(w.frames, static_cast<uint32_t>(samples)) << fill;
    }
}

// The search for a frame is bounded: music behind a megabyte of junk is found, behind nine it is
// not, and a file of anything else fails soon instead of being searched to its end. The same
// holds for a file too large for memory, which is read from the disk.
TEST_F(MpegDll, TheSearchForAFrameGivesUpAfterEightMegabytes) {
    const std::vector<uint8_t> good = zx::test::EncodeMp3(44100, 2, 44100, 128);
    const std::string mp3 = Dir() + "/junk.mp3", wav = Dir() + "/junk.wav";
    for (size_t junk : {size_t{1} << 20, size_t{9} << 20}) {
        std::vector<uint8_t> data(junk, 0);
        data.insert(data.end(), good.begin(), good.end());
        WriteFile(mp3, data);
        EXPECT_EQ(Convert(mp3, wav), junk < (size_t{8} << 20) ? 0 : 3) << junk;
    }
    // A sparse file of 70 MB, beyond what is read into memory, and music at its end.
    WriteFile(mp3, {});
    ASSERT_EQ(truncate(mp3.c_str(), off_t{70} << 20), 0);
    {
        std::ofstream out(mp3, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(good.data()),
                  static_cast<std::streamsize>(good.size()));
    }
    EXPECT_EQ(Convert(mp3, wav), 3);
}

// The bound is on each damaged stretch, not on the file: a file longer than the bound with two
// megabytes of zeros (a lost stretch of the disk) in its middle keeps the music on both sides,
// while files of random bytes or a hundred megabytes of zeros (no music at all) still fail.
TEST_F(MpegDll, TheBoundIsPerDamagedStretchSoALongFileKeepsTheMusicAroundTwoMegabytesOfZeros) {
    // A minute at 320 kbit/s is 2.4 MB; its frames without the encoder's tag frame repeat into a
    // stream of any length.
    const int rate = 32000, minute = 60 * rate;
    const std::vector<uint8_t> piece = zx::test::EncodeMp3(rate, 1, minute, 320);
    const size_t tag = Mp3FrameBytes(piece, 0);
    ASSERT_GT(tag, 0u);
    const std::vector<uint8_t> frames(piece.begin() + static_cast<std::ptrdiff_t>(tag),
                                      piece.end());
    const uint32_t framesPerPiece = static_cast<uint32_t>(frames.size() / Mp3FrameBytes(frames, 0));
    std::vector<uint8_t> data;
    for (int i = 0; i < 2; ++i) data.insert(data.end(), frames.begin(), frames.end());
    data.resize(data.size() + (size_t{2} << 20), 0);
    for (int i = 0; i < 2; ++i) data.insert(data.end(), frames.begin(), frames.end());
    ASSERT_GT(data.size(), size_t{9} << 20);
    const std::string mp3 = Dir() + "/long.mp3", wav = Dir() + "/long.wav";
    WriteFile(mp3, data);
    EXPECT_EQ(Convert(mp3, wav), 0);
    const Wave w = CheckWave(wav);
    EXPECT_EQ(w.rate, 32000u);
    // Four copies of the piece's frames, less a few next to the zeros.
    const uint32_t all = 4 * framesPerPiece * 1152;
    EXPECT_GT(w.frames, all - 8 * 1152);
    EXPECT_LE(w.frames, all);

    // No music at all, in memory (random bytes) and read from the disk (a sparse file).
    WriteFile(mp3, RandomBytes(size_t{24} << 20, 5));
    EXPECT_EQ(Convert(mp3, wav), 3);
    WriteFile(mp3, {});
    ASSERT_EQ(truncate(mp3.c_str(), off_t{100} << 20), 0);
    EXPECT_EQ(Convert(mp3, wav), 3);
}

TEST_F(MpegDll, KeepsTheRateAndChannelsOfTheFile) {
    std::string mp3 = Dir() + "/mono.mp3", wav = Dir() + "/mono.wav";
    WriteFile(mp3, zx::test::EncodeMp3(22050, 1, 22050, 48));
    ASSERT_EQ(Convert(mp3, wav), 0);
    Wave w = CheckWave(wav);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.rate, 22050u);
    // (Low-rate files may keep the encoder's delay: within two frames of the tone is enough.)
    EXPECT_NEAR(static_cast<double>(w.frames), 22050.0, 2 * 1152.0);
}

TEST_F(MpegDll, PlaysOnlyTheGivenRange) {
    std::string mp3 = Dir() + "/range.mp3", wav = Dir() + "/range.wav";
    WriteFile(mp3, zx::test::EncodeMp3(44100, 2, 3 * 44100, 128));
    ASSERT_EQ(Convert(mp3, wav, 500, 1500), 0);
    Wave w = CheckWave(wav);
    EXPECT_NEAR(static_cast<double>(w.frames), 44100.0, 1200.0);
}

TEST_F(MpegDll, ReportsEachFailureThroughLastError) {
    std::string wav = Dir() + "/x.wav";
    EXPECT_EQ(Convert(Dir() + "/missing.mp3", wav), 3);
    std::ofstream(Dir() + "/text.mp3") << "this is not an mp3 file at all";
    EXPECT_EQ(Convert(Dir() + "/text.mp3", wav), 3);
    std::ofstream(Dir() + "/empty.mp3").flush();
    EXPECT_EQ(Convert(Dir() + "/empty.mp3", wav), 3);

    unsigned char done = 0;
    EXPECT_NE(lib.Play(0, 0, &done), 0);  // nothing open
    EXPECT_EQ(lib.LastError(), 254);

    std::string mp3 = Dir() + "/ok.mp3";
    WriteFile(mp3, zx::test::EncodeMp3(44100, 2, 44100, 128));
    lib.Open(mp3.c_str(), 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(lib.LastError(), 2);  // the stream mode is not offered
    lib.Open(mp3.c_str(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(lib.LastError(), 0);
    lib.SetOutputDevice(0, "");
    EXPECT_NE(lib.Play(0, 0, &done), 0);  // no sound card output
    EXPECT_EQ(lib.LastError(), 5);
    lib.SetOutputDevice(1, (Dir() + "/no/such/dir/x.wav").c_str());
    EXPECT_NE(lib.Play(0, 0, &done), 0);
    EXPECT_EQ(lib.LastError(), 5);
    // A successful call clears the code again.
    lib.GetLength(0);
    EXPECT_EQ(lib.LastError(), 0);
    lib.Close();
}

// The wave being written closes on exec: a program the caller starts meanwhile (a browser) does not
// keep it open. Looked at while the decoding is paused, so the file is surely still open.
TEST_F(MpegDll, TheWaveBeingWrittenIsNotHandedToProgramsStartedMeanwhile) {
    const std::string mp3 = Dir() + "/paused.mp3", wav = Dir() + "/paused.wav";
    WriteFile(mp3, zx::test::EncodeMp3(44100, 2, 20 * 44100, 128));
    bool paused = false;
    unsigned char done = 0;
    // A run that ended before the pause (a stalled test thread) is tried again.
    for (int i = 0; i < 20 && !paused; ++i) {
        lib.Open(mp3.c_str(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        lib.SetOutputDevice(1, wav.c_str());
        ASSERT_EQ(lib.Play(0, 0, &done), 0);
        lib.Pause();
        paused = lib.LastError() == 0;
        if (!paused) lib.Close();
    }
    ASSERT_TRUE(paused);
    int open = 0, inherited = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(e.path(), ec) != fs::path(wav)) continue;
        ++open;
        const int fd = std::atoi(e.path().filename().c_str());
        if (!(fcntl(fd, F_GETFD) & FD_CLOEXEC)) ++inherited;
    }
    lib.Close();
    EXPECT_EQ(open, 1);
    EXPECT_EQ(inherited, 0);
}

TEST_F(MpegDll, StoppingOrClosingMidwayStillLeavesAValidWave) {
    std::string mp3 = Dir() + "/long.mp3", wav = Dir() + "/long.wav";
    WriteFile(mp3, zx::test::EncodeMp3(44100, 2, 20 * 44100, 128));
    lib.Open(mp3.c_str(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    lib.SetOutputDevice(1, wav.c_str());
    unsigned char done = 0;
    ASSERT_EQ(lib.Play(0, 0, &done), 0);
    lib.Pause();
    EXPECT_EQ(lib.GetPlayerMode(), 2);
    EXPECT_EQ(lib.ResetPlayerMode(0), 0);  // still at work
    lib.Play(0, 0, &done);
    EXPECT_EQ(lib.LastError(), 2);  // already playing
    lib.Stop();
    EXPECT_TRUE(done);
    Wave w = CheckWave(wav);
    EXPECT_EQ(w.channels, 2);
    EXPECT_LE(w.frames, 20u * 44100u);

    // Closing while decoding waits for the thread and finishes the file as well.
    ASSERT_EQ(lib.Play(0, 0, &done), 0);
    lib.Close();
    EXPECT_TRUE(done);
    CheckWave(wav);
}

}  // namespace
