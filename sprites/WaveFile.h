#pragma once
// The RIFF wave reader of the sound manager. Every failure raises Exception with the reader's own
// message, so the log says what was wrong with a file.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DSound.h"

namespace zx {

struct TWaveInfo {
    platform::WaveFormat Format;
    // The "data" chunk's size, cut to what the file really holds.
    int32_t DataSize = 0;
    // File offset of the first sample byte.
    int64_t DataPos = 0;
};

// Reads the format and finds the sample data of a wave file (path as the program writes it).
TWaveInfo ReadWaveInfo(const std::string& path);

// Reads the sample data into dest, which must hold at least the data size
// ("Buffer smaller than file size" otherwise). Returns the data size.
int32_t ReadWaveData(const std::string& path, void* dest, uint32_t destSize);
// The same into memory of its own.
std::vector<uint8_t> ReadWaveData(const std::string& path);

}  // namespace zx
