#pragma once
// MP3 files for the decoder's and the music conversion's tests, made in the test with the MP3
// encoder the asset generator also uses, so that no test needs a tool on the PATH.
#include <cstdint>
#include <string>
#include <vector>

namespace zx::test {

// samples frames of a tone (440 Hz left, 660 Hz right), with the encoder's tag frame so that
// decoders can cut its padding.
std::vector<uint8_t> EncodeMp3(int rate, int channels, int samples, int kbps);
// The same, written to path.
void WriteMp3(const std::string& path, int rate, int channels, int samples, int kbps);

}  // namespace zx::test
