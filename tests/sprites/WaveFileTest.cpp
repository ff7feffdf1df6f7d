#include <gtest/gtest.h>

#include <cstring>

#include "platform/Errors.h"
#include "sprites/WaveFile.h"
#include "support/Paths.h"
#include "testsupport/TestSupport.h"

namespace wavetest {

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}
std::string Le16(uint16_t v) { return Le32(v).substr(0, 2); }

std::string Chunk(const std::string& id, const std::string& body) {
    std::string c = id + Le32(static_cast<uint32_t>(body.size())) + body;
    if (body.size() & 1) c += '\0';
    return c;
}

std::string Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    return Le16(tag) + Le16(channels) + Le32(rate) + Le32(align * rate) + Le16(align) + Le16(bits);
}

std::string Riff(const std::string& chunks) {
    return "RIFF" + Le32(static_cast<uint32_t>(chunks.size() + 4)) + "WAVE" + chunks;
}

// A complete PCM wave file holding the given sample bytes.
std::string MakeWave(const std::string& samples, uint16_t channels, uint32_t rate, uint16_t bits) {
    return Riff(Chunk("fmt ", Fmt(1, channels, rate, bits)) + Chunk("data", samples));
}

// 16-bit stereo frames all holding the same left and right values.
std::string ConstantFrames(size_t frames, int16_t left, int16_t right) {
    std::string s;
    s.reserve(frames * 4);
    for (size_t i = 0; i < frames; ++i)
        s += Le16(static_cast<uint16_t>(left)) + Le16(static_cast<uint16_t>(right));
    return s;
}

}  // namespace wavetest

namespace {

using namespace wavetest;

std::string ErrorOf(const std::string& bytes) {
    zx::test::WriteText("t.wav", bytes);
    try {
        zx::ReadWaveInfo("t.wav");
    } catch (const zx::Exception& e) {
        return e.Message();
    }
    return "";
}

TEST(WaveFile, ReadsFormatAndFindsTheDataPastOtherChunks) {
    std::string samples = ConstantFrames(10, 100, -100);
    // An odd-sized chunk before "fmt " and one between it and "data": both must be skipped with
    // their pad byte.
    std::string file = Riff(Chunk("LIST", "abc") + Chunk("fmt ", Fmt(1, 2, 22050, 16)) +
                            Chunk("fact", "1234") + Chunk("data", samples));
    zx::CreateDir("snd");
    zx::test::WriteText("snd\\a.wav", file);
    zx::TWaveInfo info = zx::ReadWaveInfo("SND\\A.wav");
    EXPECT_EQ(info.Format.formatTag, 1);
    EXPECT_EQ(info.Format.channels, 2);
    EXPECT_EQ(info.Format.samplesPerSec, 22050u);
    EXPECT_EQ(info.Format.avgBytesPerSec, 88200u);
    EXPECT_EQ(info.Format.blockAlign, 4);
    EXPECT_EQ(info.Format.bitsPerSample, 16);
    EXPECT_EQ(info.DataSize, 40);
    EXPECT_EQ(static_cast<size_t>(info.DataPos), file.size() - samples.size());

    std::vector<uint8_t> data = zx::ReadWaveData("snd\\a.wav");
    ASSERT_EQ(data.size(), samples.size());
    EXPECT_EQ(std::memcmp(data.data(), samples.data(), samples.size()), 0);
}

TEST(WaveFile, EachBrokenFormHasItsOwnMessage) {
    EXPECT_EQ(ErrorOf("RIFF"), "Invalid multimedia file!");
    EXPECT_EQ(ErrorOf(""), "Invalid multimedia file!");
    EXPECT_EQ(ErrorOf("RIFX" + Le32(4) + "WAVE"), "Not a wave file!");
    EXPECT_EQ(ErrorOf("RIFF" + Le32(4) + "AVI "), "Not a wave file!");
    EXPECT_EQ(ErrorOf(Riff(Chunk("data", "abcd"))), "Couldn't find 'fmt' chunk!");
    EXPECT_EQ(
        ErrorOf(Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16).substr(0, 14)) + Chunk("data", "abcd"))),
        "Abnormal 'fmt' size!");
    // The chunk says 16 bytes but the file ends before them.
    EXPECT_EQ(ErrorOf(Riff("fmt " + Le32(16) + Fmt(1, 2, 44100, 16).substr(0, 10))),
              "Error reading 'fmt' chunk!");
    // A format that is not PCM must be followed by its extra-size field.
    EXPECT_EQ(ErrorOf(Riff("fmt " + Le32(16) + Fmt(3, 2, 44100, 32))),
              "Error reading 'waveformatex' length!");
    EXPECT_EQ(ErrorOf(Riff("fmt " + Le32(40) + Fmt(1, 2, 44100, 16) + Le16(0))),
              "Error ascending from 'fmt' chunk!");
    EXPECT_EQ(ErrorOf(Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16)))), "Couldn't find 'data' chunk!");
    EXPECT_EQ(ErrorOf(MakeWave(ConstantFrames(4, 1, 1), 2, 44100, 16)), "");
}

TEST(WaveFile, MissingFileMessageEndsInABlank) {
    try {
        zx::ReadWaveInfo("nowhere.wav");
        FAIL();
    } catch (const zx::Exception& e) {
        EXPECT_EQ(e.Message(), "Couldn't open wave file ");
    }
}

TEST(WaveFile, DataChunkLongerThanTheFileIsCutToWholeFrames) {
    std::string file = Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16)) + "data" + Le32(4000) +
                            ConstantFrames(3, 5, 5) + "xy");
    zx::test::WriteText("cut.wav", file);
    zx::TWaveInfo info = zx::ReadWaveInfo("cut.wav");
    EXPECT_EQ(info.DataSize, 12);
    EXPECT_EQ(zx::ReadWaveData("cut.wav").size(), 12u);
}

TEST(WaveFile, GivenBufferMustHoldTheData) {
    zx::test::WriteText("d.wav", MakeWave(ConstantFrames(8, 1, 2), 2, 44100, 16));
    uint8_t small[16];
    try {
        zx::ReadWaveData("d.wav", small, sizeof small);
        FAIL();
    } catch (const zx::Exception& e) {
        EXPECT_EQ(e.Message(), "Buffer smaller than file size");
    }
    uint8_t big[64] = {};
    EXPECT_EQ(zx::ReadWaveData("d.wav", big, sizeof big), 32);
    EXPECT_EQ(big[2], 2);
}

}  // namespace
