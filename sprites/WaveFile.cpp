#include "sprites/WaveFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/Errors.h"
#include "support/Paths.h"

namespace zx {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct Chunk {
    char id[4];
    uint32_t size = 0;
    int64_t dataPos = 0;  // first byte after the header (after the form type for RIFF)
};

// Reads the header of the chunk at the current position; false when the file ends first.
bool ReadHeader(std::FILE* f, Chunk& ck) {
    uint8_t h[8];
    if (std::fread(h, 1, 8, f) != 8) return false;
    std::memcpy(ck.id, h, 4);
    ck.size = Le32(h + 4);
    ck.dataPos = ftello(f);
    return true;
}

// Looks for a sub-chunk from the current position up to the end of its parent.
bool FindChunk(std::FILE* f, const char* id, int64_t parentEnd, Chunk& ck) {
    for (;;) {
        int64_t here = ftello(f);
        if (here < 0 || here + 8 > parentEnd) return false;
        if (!ReadHeader(f, ck)) return false;
        if (std::memcmp(ck.id, id, 4) == 0) return true;
        // Chunks are padded to an even size.
        int64_t next = ck.dataPos + ck.size + (ck.size & 1);
        if (fseeko(f, next, SEEK_SET) != 0) return false;
    }
}

int64_t FileSize(std::FILE* f) {
    int64_t here = ftello(f);
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    int64_t size = ftello(f);
    fseeko(f, here, SEEK_SET);
    return size;
}

File OpenWave(const std::string& path) {
    // Only a regular file: a FIFO in the sound folder must not hold the game screen.
    const int fd = OpenRegularFile(ResolvePath(path), O_RDONLY);
    File f(fd >= 0 ? fdopen(fd, "rb") : nullptr);
    if (!f) {
        if (fd >= 0) close(fd);
        throw Exception("Couldn't open wave file ");
    }
    return f;
}

TWaveInfo ReadInfo(std::FILE* f) {
    const int64_t fileSize = FileSize(f);
    Chunk riff;
    uint8_t form[4];
    if (!ReadHeader(f, riff) || std::fread(form, 1, 4, f) != 4)
        throw Exception("Invalid multimedia file!");
    if (std::memcmp(riff.id, "RIFF", 4) != 0 || std::memcmp(form, "WAVE", 4) != 0)
        throw Exception("Not a wave file!");
    const int64_t firstSub = riff.dataPos + 4;
    // A RIFF size that claims more than the file holds is common in cut files; the file's end
    // bounds the search.
    const int64_t riffEnd = std::min<int64_t>(riff.dataPos + riff.size, fileSize);

    Chunk fmt;
    if (!FindChunk(f, "fmt ", riffEnd, fmt)) throw Exception("Couldn't find 'fmt' chunk!");
    if (fmt.size < 16) throw Exception("Abnormal 'fmt' size!");
    uint8_t raw[16];
    if (std::fread(raw, 1, 16, f) != 16) throw Exception("Error reading 'fmt' chunk!");
    TWaveInfo info;
    info.Format.formatTag = Le16(raw);
    info.Format.channels = Le16(raw + 2);
    info.Format.samplesPerSec = Le32(raw + 4);
    info.Format.avgBytesPerSec = Le32(raw + 8);
    info.Format.blockAlign = Le16(raw + 12);
    info.Format.bitsPerSample = Le16(raw + 14);
    if (info.Format.formatTag != platform::WAVE_FORMAT_PCM) {
        uint8_t ext[2];
        if (std::fread(ext, 1, 2, f) != 2) throw Exception("Error reading 'waveformatex' length!");
    }
    const int64_t fmtEnd = fmt.dataPos + fmt.size;
    if (fmtEnd > fileSize || fseeko(f, fmtEnd + (fmt.size & 1), SEEK_SET) != 0)
        throw Exception("Error ascending from 'fmt' chunk!");
    if (fseeko(f, firstSub, SEEK_SET) != 0) throw Exception("Error seeking data!");

    Chunk data;
    // Without a "data" chunk there is no sample data: taking a size from nowhere would make a
    // buffer of garbage length.
    if (!FindChunk(f, "data", riffEnd, data)) throw Exception("Couldn't find 'data' chunk!");
    int64_t pos = ftello(f);
    if (pos < 0) throw Exception("Error getting info!");
    info.DataPos = pos;
    int64_t avail = std::max<int64_t>(0, fileSize - pos);
    int64_t size = std::min<int64_t>(data.size, avail);
    if (info.Format.blockAlign > 0) size -= size % info.Format.blockAlign;
    info.DataSize = static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
    return info;
}

}  // namespace

TWaveInfo ReadWaveInfo(const std::string& path) {
    File f = OpenWave(path);
    return ReadInfo(f.get());
}

int32_t ReadWaveData(const std::string& path, void* dest, uint32_t destSize) {
    File f = OpenWave(path);
    TWaveInfo info = ReadInfo(f.get());
    if (destSize < static_cast<uint32_t>(info.DataSize))
        throw Exception("Buffer smaller than file size");
    if (fseeko(f.get(), info.DataPos, SEEK_SET) != 0 ||
        std::fread(dest, 1, static_cast<size_t>(info.DataSize), f.get()) !=
            static_cast<size_t>(info.DataSize))
        throw Exception("Error reading wave data!");
    return info.DataSize;
}

std::vector<uint8_t> ReadWaveData(const std::string& path) {
    File f = OpenWave(path);
    TWaveInfo info = ReadInfo(f.get());
    std::vector<uint8_t> data(static_cast<size_t>(info.DataSize));
    if (fseeko(f.get(), info.DataPos, SEEK_SET) != 0 ||
        std::fread(data.data(), 1, data.size(), f.get()) != data.size())
        throw Exception("Error reading wave data!");
    return data;
}

}  // namespace zx
