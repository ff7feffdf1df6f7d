#include "testsupport/TestMp3.h"

#include <lame/lame.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <stdexcept>

namespace zx::test {

std::vector<uint8_t> EncodeMp3(int rate, int channels, int samples, int kbps) {
    lame_t gf = lame_init();
    if (!gf) throw std::runtime_error("lame_init failed");
    lame_set_in_samplerate(gf, rate);
    lame_set_out_samplerate(gf, rate);
    lame_set_num_channels(gf, channels);
    lame_set_mode(gf, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(gf, kbps);
    lame_set_quality(gf, 7);
    lame_set_bWriteVbrTag(gf, 1);
    lame_init_params(gf);
    const auto n = static_cast<size_t>(samples);
    std::vector<short> l(n), r(n);
    for (int i = 0; i < samples; ++i) {
        l[static_cast<size_t>(i)] =
            static_cast<short>(8000 * std::sin(i * 2 * std::numbers::pi * 440 / rate));
        r[static_cast<size_t>(i)] =
            static_cast<short>(8000 * std::sin(i * 2 * std::numbers::pi * 660 / rate));
    }
    std::vector<uint8_t> out(n * 5 / 4 + 16384);
    const int written = lame_encode_buffer(gf, l.data(), r.data(), samples, out.data(),
                                           static_cast<int>(out.size()));
    const int flushed =
        lame_encode_flush(gf, out.data() + written, static_cast<int>(out.size()) - written);
    out.resize(static_cast<size_t>(written + flushed));
    unsigned char tag[4096];
    const size_t t = lame_get_lametag_frame(gf, tag, sizeof tag);
    if (t > 0 && t <= out.size()) std::memcpy(out.data(), tag, t);
    lame_close(gf);
    return out;
}

void WriteMp3(const std::string& path, int rate, int channels, int samples, int kbps) {
    const std::vector<uint8_t> data = EncodeMp3(rate, channels, samples, kbps);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace zx::test
