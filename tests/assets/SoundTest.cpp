// The generated sounds: every name the game asks for exists, the effects are plain PCM waves
// that are not silent and start and end quietly, and the music decodes to loops that join.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testsupport/TestSupport.h"

namespace {

std::string SndDir() { return zx::test::BuiltProgramDir() + "/snd"; }

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Pcm {
    int channels = 0, rate = 0;
    std::vector<int16_t> samples;  // interleaved
    double Seconds() const { return double(samples.size()) / channels / rate; }
};

// A minimal RIFF walk: enough to prove the file is what a strict reader expects.
std::string ReadWave(const std::vector<uint8_t>& b, Pcm& out) {
    auto u32 = [&](size_t o) {
        return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 |
               uint32_t(b[o + 3]) << 24;
    };
    auto u16 = [&](size_t o) { return uint16_t(b[o] | b[o + 1] << 8); };
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE")
        return "not a RIFF WAVE file";
    if (u32(4) + 8 != b.size()) return "RIFF size does not match the file";
    bool fmt = false;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        std::string id(b.begin() + long(pos), b.begin() + long(pos) + 4);
        uint32_t size = u32(pos + 4);
        if (pos + 8 + size > b.size()) return "chunk " + id + " runs past the end";
        if (id == "fmt ") {
            if (size < 16) return "fmt chunk too short";
            if (u16(pos + 8) != 1) return "not PCM";
            out.channels = u16(pos + 10);
            out.rate = int(u32(pos + 12));
            if (u16(pos + 22) != 16) return "not 16-bit";
            if (u16(pos + 20) != out.channels * 2 ||
                u32(pos + 16) != uint32_t(out.rate * out.channels * 2))
                return "inconsistent block alignment";
            fmt = true;
        } else if (id == "data") {
            if (!fmt) return "data before fmt";
            out.samples.resize(size / 2);
            for (size_t i = 0; i < out.samples.size(); ++i)
                out.samples[i] = int16_t(u16(pos + 8 + i * 2));
            return "";
        }
        pos += 8 + size + (size & 1);
    }
    return "no data chunk";
}

double Rms(const std::vector<int16_t>& s, size_t from = 0, size_t to = SIZE_MAX) {
    to = std::min(to, s.size());
    double acc = 0;
    for (size_t i = from; i < to; ++i) acc += double(s[i]) * s[i];
    return std::sqrt(acc / double(std::max<size_t>(1, to - from))) / 32768.0;
}

Pcm DecodeMp3(const std::string& path) {
    Pcm out;
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    if (!h) return out;
    // Gapless: the decoder removes the encoder's delay and padding, as the music conversion does.
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_GAPLESS, 0);
    if (mpg123_open(h, path.c_str()) != MPG123_OK) {
        mpg123_delete(h);
        return out;
    }
    long rate = 0;
    int ch = 0, enc = 0;
    mpg123_getformat(h, &rate, &ch, &enc);
    mpg123_format_none(h);
    mpg123_format(h, rate, ch, MPG123_ENC_SIGNED_16);
    out.rate = int(rate);
    out.channels = ch;
    std::vector<unsigned char> buf(1 << 16);
    for (;;) {
        size_t got = 0;
        int rc = mpg123_read(h, buf.data(), buf.size(), &got);
        const auto* p = reinterpret_cast<const int16_t*>(buf.data());
        out.samples.insert(out.samples.end(), p, p + got / 2);
        if (rc == MPG123_DONE || (rc != MPG123_OK && rc != MPG123_NEW_FORMAT)) break;
    }
    mpg123_close(h);
    mpg123_delete(h);
    return out;
}

const char* kEffects[] = {"abroll",   "bigtime",  "bubble",     "bubbleize", "coming",   "leer",
                          "schussab", "sperm3",   "spermdurch", "Torpedo",   "TR_06_03", "TR_50_07",
                          "TR_50_08", "TR_66_02", "virus1",     "virus2",    "virus3"};
const char* kMusic[] = {"Track 30", "back", "TR_36_03"};

TEST(GeneratedSounds, EveryNameTheGameAsksForIsThere) {
    namespace fs = std::filesystem;
    for (const char* e : kEffects) EXPECT_TRUE(fs::exists(SndDir() + "/" + e + ".wav")) << e;
    for (const char* m : kMusic) {
        EXPECT_TRUE(fs::exists(SndDir() + "/" + m + ".mp3")) << m;
        // The wave is the music conversion's business when the game starts (an older one is
        // converted again), so whether one lies beside the MP3 says nothing about the build.
    }
}

TEST(GeneratedSounds, EffectsArePcmWavesThatCanBeHeardAndDoNotClick) {
    for (const char* e : kEffects) {
        SCOPED_TRACE(e);
        Pcm p;
        ASSERT_EQ(ReadWave(ReadAll(SndDir() + "/" + e + ".wav"), p), "");
        EXPECT_EQ(p.rate, 44100);
        EXPECT_EQ(p.channels, 2);
        EXPECT_GT(p.Seconds(), 0.03);
        EXPECT_LT(p.Seconds(), 3.0);
        EXPECT_GT(Rms(p.samples), 0.03);
        int peak = 0;
        for (int16_t s : p.samples) peak = std::max(peak, std::abs(int(s)));
        EXPECT_LT(peak, 32767) << "clipped";
        // Silence at both ends: a sound that starts or stops mid-wave clicks.
        EXPECT_LT(std::abs(p.samples.front()), 300);
        EXPECT_LT(std::abs(p.samples.back()), 300);
    }
}

TEST(GeneratedSounds, WaveCheckRefusesBrokenFiles) {
    auto good = ReadAll(SndDir() + "/leer.wav");
    Pcm p;
    ASSERT_EQ(ReadWave(good, p), "");
    auto shortFmt = good;
    shortFmt[16] = 14;  // fmt size 14
    EXPECT_NE(ReadWave(shortFmt, p), "");
    auto truncated = std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2));
    EXPECT_NE(ReadWave(truncated, p), "");
}

TEST(GeneratedMusic, TracksDecodeToMusicOfTheirLengths) {
    struct Want {
        const char* name;
        double minSeconds, maxSeconds;
    };
    for (const Want& w :
         {Want{"back", 60, 90}, Want{"Track 30", 20, 90}, Want{"TR_36_03", 3, 20}}) {
        SCOPED_TRACE(w.name);
        Pcm p = DecodeMp3(SndDir() + "/" + w.name + ".mp3");
        ASSERT_EQ(p.rate, 44100);
        ASSERT_EQ(p.channels, 2);
        EXPECT_GE(p.Seconds(), w.minSeconds);
        EXPECT_LE(p.Seconds(), w.maxSeconds);
        EXPECT_GT(Rms(p.samples), 0.08);
        // Music all the way through: no second of it is silent.
        size_t second = size_t(p.rate) * 2;
        for (size_t s = 0; s + second <= p.samples.size() - size_t(p.rate); s += second)
            EXPECT_GT(Rms(p.samples, s, s + second), 0.01) << "silent at " << s / second << " s";
    }
}

TEST(GeneratedMusic, LoopsComeBackExactlyAndJoinWithoutAClick) {
    // Exact bar lengths: 32 bars at 120 bpm and 16 bars at 100 bpm.
    struct Loop {
        const char* name;
        size_t frames, bar;
    };
    for (const Loop& l : {Loop{"back", 64 * 44100, 88200}, Loop{"Track 30", 1693440, 105840}}) {
        SCOPED_TRACE(l.name);
        Pcm p = DecodeMp3(SndDir() + "/" + l.name + ".mp3");
        ASSERT_EQ(p.channels, 2);
        ASSERT_EQ(p.samples.size() / 2, l.frames) << "encoder delay or padding left in the stream";
        // The seam is a downbeat like any other: the high-frequency energy right around it must
        // be no larger than around the other bars' downbeats, where the same drum hits.
        auto at = [&](long frame, int c) {
            long n = long(l.frames);
            return double(p.samples[size_t(((frame % n) + n) % n) * 2 + size_t(c)]);
        };
        auto edge = [&](long frame, int c) {
            double e = 0;
            for (long i = frame - 16; i < frame + 48; ++i) {
                double d2 = at(i + 1, c) - 2 * at(i, c) + at(i - 1, c);
                e += d2 * d2;
            }
            return e;
        };
        for (int c = 0; c < 2; ++c) {
            double others = 0;
            for (size_t bar = l.bar; bar < l.frames; bar += l.bar)
                others = std::max(others, edge(long(bar), c));
            EXPECT_LE(edge(0, c), others * 1.5) << "channel " << c;
        }
        // And the loudness carries on across the seam: no fade-out into a restart.
        size_t tenth = size_t(4410) * 2;
        double end = Rms(p.samples, p.samples.size() - tenth), start = Rms(p.samples, 0, tenth);
        EXPECT_GT(end, 0.03);
        EXPECT_GT(start, 0.03);
    }
}

}  // namespace
