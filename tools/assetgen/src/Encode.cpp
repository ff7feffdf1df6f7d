// WAV and MP3 writers.
#include <lame/lame.h>

#include <stdexcept>

#include "Bmp.h"
#include "Synth.h"

namespace assetgen {

namespace {

int16_t ToPcm(float v) {
    double x = std::clamp(double(v), -1.0, 1.0) * 32767.0;
    return int16_t(std::lround(x));
}

void Put(std::vector<uint8_t>& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

void WriteWav(const std::string& path, const Stereo& s) {
    uint32_t frames = uint32_t(s.Size()), data = frames * 4;
    std::vector<uint8_t> b;
    b.reserve(44 + data);
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    Put(b, 36 + data, 4);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put(b, 16, 4);
    Put(b, 1, 2);  // PCM
    Put(b, 2, 2);
    Put(b, kRate, 4);
    Put(b, kRate * 4, 4);
    Put(b, 4, 2);
    Put(b, 16, 2);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    Put(b, data, 4);
    for (uint32_t i = 0; i < frames; ++i) {
        Put(b, uint16_t(ToPcm(s.l[i])), 2);
        Put(b, uint16_t(ToPcm(s.r[i])), 2);
    }
    WriteFileBytes(path, b);
}

void WriteMp3(const std::string& path, const Stereo& s) {
    lame_global_flags* gf = lame_init();
    if (!gf) throw std::runtime_error("lame_init failed");
    lame_set_in_samplerate(gf, kRate);
    lame_set_out_samplerate(gf, kRate);
    lame_set_num_channels(gf, 2);
    lame_set_mode(gf, JOINT_STEREO);
    lame_set_brate(gf, 192);
    lame_set_quality(gf, 5);
    // The info frame carries encoder delay and padding, so gapless decoders give back exactly the
    // samples that went in and the loops join.
    lame_set_bWriteVbrTag(gf, 1);
    lame_set_write_id3tag_automatic(gf, 0);
    if (lame_init_params(gf) < 0) {
        lame_close(gf);
        throw std::runtime_error("lame_init_params failed");
    }
    std::vector<int16_t> l(s.Size()), r(s.Size());
    for (size_t i = 0; i < s.Size(); ++i) {
        l[i] = ToPcm(s.l[i]);
        r[i] = ToPcm(s.r[i]);
    }
    std::vector<uint8_t> out;
    const size_t chunk = 8192;
    std::vector<unsigned char> buf(chunk * 5 / 4 + 7200);
    for (size_t pos = 0; pos < s.Size(); pos += chunk) {
        int n = int(std::min(chunk, s.Size() - pos));
        int got = lame_encode_buffer(gf, &l[pos], &r[pos], n, buf.data(), int(buf.size()));
        if (got < 0) {
            lame_close(gf);
            throw std::runtime_error("MP3 encoding failed");
        }
        out.insert(out.end(), buf.begin(), buf.begin() + got);
    }
    int got = lame_encode_flush(gf, buf.data(), int(buf.size()));
    if (got > 0) out.insert(out.end(), buf.begin(), buf.begin() + got);
    std::vector<unsigned char> tag(4096);
    size_t tagLen = lame_get_lametag_frame(gf, tag.data(), tag.size());
    if (tagLen > 0 && tagLen <= out.size())
        std::copy(tag.begin(), tag.begin() + ptrdiff_t(tagLen), out.begin());
    lame_close(gf);
    WriteFileBytes(path, out);
}

}  // namespace assetgen
