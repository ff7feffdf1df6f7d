// The MP3 decoder library: one player that opens an MP3 file and decodes it on a thread of its
// own into a 16-bit PCM wave file. Every entry point sets the code that "LastError" reports; an
// error of the decoding thread is reported by the "ResetPlayerMode" that follows its end.
//
// It never plays to the sound card: the program only converts, and plays the waves itself.
// This file defines the entry points.
#define MPEGDLL_LIBRARY
#include "mpegdll/MpegDll.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

enum ErrorCode : int {
    kNoError = 0,
    kDecoderError = 1,
    kIncorrectMode = 2,
    kInputError = 3,
    kNonSeekable = 4,
    kOutputError = 5,
    kNoStream = 254,
};

enum PlayerMode : int { kReady = 0, kPlaying = 1, kPaused = 2, kFinished = 3 };

enum OutputDevice : int { kWaveMapper = 0, kPcmFile = 1 };

struct Player {
    bool inited = false;
    mpg123_handle* mh = nullptr;
    long rate = 0;
    int channels = 0;
    int layer = 0;
    int bitrate = 0;
    int64_t lengthSamples = 0;
    int device = kWaveMapper;
    std::string outName;
    int priority = 0;
    std::thread worker;
    std::atomic<bool> stopRequest{false};
    std::atomic<bool> pauseRequest{false};
    std::mutex pauseMutex;
    std::condition_variable pauseCv;
    std::atomic<int> mode{kReady};
    std::atomic<int> threadError{kNoError};
    std::atomic<int64_t> samplesDone{0};
    int lastError = kNoError;
    // The whole MP3 file, which the decoder reads from memory: read from the file, it asks for
    // each frame with a call of its own, twice over (the length scan, then the decoding).
    std::vector<unsigned char> input;
    size_t inputPos = 0;
    // A file too large for memory, read through a buffer of its own: the decoder's search for a
    // frame asks for a few bytes at a time, each a system call when it reads the file itself.
    std::FILE* inputFile = nullptr;
};

Player P;

// Files up to this size are decoded from memory; a larger one is read from the file.
constexpr off_t kMaxInMemoryInput = off_t{64} << 20;
// The most bytes searched for the next frame, at the start or past a damaged stretch. Beyond it
// the file is taken for something other than music: searching a large file of anything else
// without end held the caller for minutes.
constexpr long kResyncLimit = long{8} << 20;
constexpr size_t kFileBuffer = size_t{1} << 20;

ssize_t ReadFileInput(void* handle, void* buf, size_t count) {
    auto* p = static_cast<Player*>(handle);
    const size_t n = std::fread(buf, 1, count, p->inputFile);
    if (n == 0 && std::ferror(p->inputFile)) return -1;
    return static_cast<ssize_t>(n);
}

off_t SeekFileInput(void* handle, off_t offset, int whence) {
    auto* p = static_cast<Player*>(handle);
    if (fseeko(p->inputFile, offset, whence) != 0) return -1;
    return ftello(p->inputFile);
}

// Opens a regular file only, without waiting on it: a FIFO would hold the caller until a writer
// came, a device would give bytes without end.
std::FILE* OpenRegular(const char* name) {
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    const int fl = fcntl(fd, F_GETFL);
    std::FILE* f = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fl >= 0 &&
                           fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == 0
                       ? fdopen(fd, "rb")
                       : nullptr;
    if (!f) close(fd);
    return f;
}

bool OpenInputFile(const char* name) {
    P.inputFile = OpenRegular(name);
    if (!P.inputFile) return false;
    std::setvbuf(P.inputFile, nullptr, _IOFBF, kFileBuffer);
    return true;
}

ssize_t ReadInput(void* handle, void* buf, size_t count) {
    auto* p = static_cast<Player*>(handle);
    const size_t n = std::min(count, p->input.size() - p->inputPos);
    // An empty file has no buffer to copy from at all.
    if (n == 0) return 0;
    std::memcpy(buf, p->input.data() + p->inputPos, n);
    p->inputPos += n;
    return static_cast<ssize_t>(n);
}

off_t SeekInput(void* handle, off_t offset, int whence) {
    auto* p = static_cast<Player*>(handle);
    const off_t size = static_cast<off_t>(p->input.size());
    off_t to = whence == SEEK_SET   ? offset
               : whence == SEEK_CUR ? static_cast<off_t>(p->inputPos) + offset
               : whence == SEEK_END ? size + offset
                                    : -1;
    if (to < 0 || to > size) return -1;
    p->inputPos = static_cast<size_t>(to);
    return to;
}

// The file's bytes into P.input; false when it cannot be read whole or is too large for memory.
bool ReadWholeFile(const char* name) {
    std::FILE* f = OpenRegular(name);
    if (!f) return false;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const off_t size = ok ? ftello(f) : -1;
    ok = ok && size >= 0 && size <= kMaxInMemoryInput && std::fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        P.input.resize(static_cast<size_t>(size));
        ok = std::fread(P.input.data(), 1, P.input.size(), f) == P.input.size();
    }
    std::fclose(f);
    if (!ok) P.input = {};
    P.inputPos = 0;
    return ok;
}
// The entry points are meant for one caller thread; the lock keeps a careless second one from
// tearing the player's state.
std::mutex callMutex;

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// The 44-byte header of a PCM wave file with dataBytes of samples.
void WaveHeader(uint8_t h[44], long rate, int channels, uint32_t dataBytes) {
    const uint16_t align = static_cast<uint16_t>(channels * 2);
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, 1);
    PutLe16(h + 22, static_cast<uint16_t>(channels));
    PutLe32(h + 24, static_cast<uint32_t>(rate));
    PutLe32(h + 28, static_cast<uint32_t>(rate) * align);
    PutLe16(h + 32, align);
    PutLe16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    PutLe32(h + 40, dataBytes);
}

// Priorities from idle (-15) to time-critical (15) as a thread's nice value. Raising a priority
// needs rights the program does not have; that simply fails and the thread stays at normal.
void ApplyPriority(int priority) {
    int nice = 0;
    if (priority <= -15)
        nice = 19;
    else if (priority == -2)
        nice = 10;
    else if (priority == -1)
        nice = 5;
    else if (priority < 0)
        nice = 5;
    else if (priority > 0)
        nice = -5;
    if (nice != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice);
}

void Decode(unsigned char* done, std::FILE* out, int64_t endSample) {
    ApplyPriority(P.priority);
    int error = kNoError;
    uint64_t dataBytes = 0;
    const size_t frameBytes = static_cast<size_t>(P.channels) * 2;
    uint64_t limitBytes = UINT32_MAX - 36 - (UINT32_MAX - 36) % frameBytes;
    if (endSample > 0) {
        int64_t first = P.samplesDone.load();
        limitBytes = std::min<uint64_t>(
            limitBytes,
            endSample > first ? static_cast<uint64_t>(endSample - first) * frameBytes : 0);
    }
    std::vector<unsigned char> buf(65536);
    while (!P.stopRequest.load()) {
        if (P.pauseRequest.load()) {
            std::unique_lock lock(P.pauseMutex);
            P.pauseCv.wait(lock, [] { return !P.pauseRequest.load() || P.stopRequest.load(); });
            continue;
        }
        size_t got = 0;
        int r = mpg123_read(P.mh, buf.data(), buf.size(), &got);
        if (got > 0) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(got, limitBytes - dataBytes));
            if (take > 0 && std::fwrite(buf.data(), 1, take, out) != take) {
                error = kOutputError;
                break;
            }
            dataBytes += take;
            P.samplesDone.fetch_add(static_cast<int64_t>(take / frameBytes));
            if (dataBytes >= limitBytes) break;
        }
        if (r == MPG123_DONE) break;
        if (r == MPG123_NEW_FORMAT || r == MPG123_OK) continue;
        error = kDecoderError;
        break;
    }
    // The header goes last, with the sizes of what was really written: an interrupted file is
    // still a valid (shorter) wave. Getting it to the disk is the caller's business: the player
    // syncs the file once before it puts it in place, and a second sync here only waited on it.
    uint8_t h[44];
    WaveHeader(h, P.rate, P.channels, static_cast<uint32_t>(dataBytes));
    if (std::fseek(out, 0, SEEK_SET) != 0 || std::fwrite(h, 1, 44, out) != 44 ||
        std::fflush(out) != 0) {
        if (error == kNoError) error = kOutputError;
    }
    if (std::fclose(out) != 0 && error == kNoError) error = kOutputError;
    P.threadError.store(error);
    P.mode.store(kFinished);
    __atomic_store_n(done, static_cast<unsigned char>(1), __ATOMIC_RELEASE);
}

void JoinWorker() {
    if (!P.worker.joinable()) return;
    P.stopRequest.store(true);
    {
        std::lock_guard lock(P.pauseMutex);
        P.pauseRequest.store(false);
    }
    P.pauseCv.notify_all();
    P.worker.join();
    P.stopRequest.store(false);
}

void CloseStream() {
    JoinWorker();
    if (P.mh) {
        mpg123_close(P.mh);
        mpg123_delete(P.mh);
        P.mh = nullptr;
    }
    P.mode.store(kReady);
    P.rate = 0;
    P.channels = 0;
    P.lengthSamples = 0;
    P.samplesDone.store(0);
    P.input = {};
    P.inputPos = 0;
    if (P.inputFile) std::fclose(P.inputFile);
    P.inputFile = nullptr;
}

}  // namespace

MPEGDLL_EXPORT int init() {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    if (!P.inited) {
        if (mpg123_init() != MPG123_OK) {
            P.lastError = kDecoderError;
            return 0;
        }
        P.inited = true;
    }
    return 1;
}

MPEGDLL_EXPORT void deinit() {
    std::lock_guard lock(callMutex);
    CloseStream();
    if (P.inited) mpg123_exit();
    P.inited = false;
}

// mode 0 reads the named file; the read-through-callbacks mode (1) and its seven callback
// arguments are not offered.
MPEGDLL_EXPORT void Open(const char* name, int mode, void*, void*, void*, void*, void*, void*,
                         void*) {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    if (!P.inited || mode != 0) {
        P.lastError = kIncorrectMode;
        return;
    }
    CloseStream();
    if (!name || !*name) {
        P.lastError = kNoStream;
        return;
    }
    int err = MPG123_OK;
    P.mh = mpg123_new(nullptr, &err);
    if (!P.mh) {
        P.lastError = kDecoderError;
        return;
    }
    mpg123_param(P.mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // A damaged stretch in the middle of a file is skipped up to the next frame that decodes:
    // the rest of the music is worth more than the whole file failing. Bounded, so that a file
    // that is no music fails soon.
    mpg123_param(P.mh, MPG123_RESYNC_LIMIT, kResyncLimit, 0);
    long rate = 0;
    int channels = 0, enc = 0;
    // A file that cannot be taken into memory is still decoded, from the file itself.
    const bool inMemory = ReadWholeFile(name);
    const bool readable =
        inMemory
            ? mpg123_replace_reader_handle(P.mh, ReadInput, SeekInput, nullptr) == MPG123_OK
            : OpenInputFile(name) && mpg123_replace_reader_handle(
                                         P.mh, ReadFileInput, SeekFileInput, nullptr) == MPG123_OK;
    const int opened = readable ? mpg123_open_handle(P.mh, &P) : MPG123_ERR;
    if (opened != MPG123_OK || mpg123_getformat(P.mh, &rate, &channels, &enc) != MPG123_OK ||
        rate <= 0 || channels < 1) {
        CloseStream();
        P.lastError = kInputError;
        return;
    }
    // One output format for the whole file, whatever its frames say.
    mpg123_format_none(P.mh);
    if (mpg123_format(P.mh, rate, channels, MPG123_ENC_SIGNED_16) != MPG123_OK) {
        CloseStream();
        P.lastError = kDecoderError;
        return;
    }
    P.rate = rate;
    P.channels = channels;
    mpg123_scan(P.mh);
    off_t len = mpg123_length(P.mh);
    P.lengthSamples = len > 0 ? static_cast<int64_t>(len) : 0;
    mpg123_frameinfo fi{};
    if (mpg123_info(P.mh, &fi) == MPG123_OK) {
        P.layer = fi.layer;
        P.bitrate = fi.bitrate;
    }
    P.samplesDone.store(0);
    P.mode.store(kReady);
}

MPEGDLL_EXPORT void Pause() {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    if (P.mode.load() != kPlaying) {
        P.lastError = kIncorrectMode;
        return;
    }
    P.pauseRequest.store(true);
    P.mode.store(kPaused);
}

MPEGDLL_EXPORT void Restart() {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    if (P.mode.load() != kPaused) {
        P.lastError = kIncorrectMode;
        return;
    }
    P.mode.store(kPlaying);
    {
        std::lock_guard plock(P.pauseMutex);
        P.pauseRequest.store(false);
    }
    P.pauseCv.notify_all();
}

MPEGDLL_EXPORT void Stop() {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    JoinWorker();
    if (P.mode.load() != kReady) P.threadError.store(kNoError);
    P.mode.store(kReady);
}

MPEGDLL_EXPORT void SetPriority(int priority) {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    if (priority < -15 || priority > 15) {
        P.lastError = kIncorrectMode;
        return;
    }
    P.priority = priority;
}

MPEGDLL_EXPORT void SetOutputDevice(int device, const char* fileName) {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    if (device != kWaveMapper && device != kPcmFile) {
        P.lastError = kIncorrectMode;
        return;
    }
    P.device = device;
    P.outName = fileName ? fileName : "";
}

// Positions are milliseconds; an end of 0 or less plays to the end of the stream.
MPEGDLL_EXPORT int Play(int startPos, int endPos, unsigned char* done) {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    if (!P.mh) {
        P.lastError = kNoStream;
        return 1;
    }
    if (P.mode.load() == kPlaying || P.mode.load() == kPaused) {
        P.lastError = kIncorrectMode;
        return 1;
    }
    if (P.device != kPcmFile || P.outName.empty() || !done) {
        P.lastError = kOutputError;
        return 1;
    }
    JoinWorker();  // a finished run not yet reset
    int64_t start = startPos > 0 ? static_cast<int64_t>(startPos) * P.rate / 1000 : 0;
    if (mpg123_seek(P.mh, static_cast<off_t>(start), SEEK_SET) < 0) {
        P.lastError = kNonSeekable;
        return 1;
    }
    // Closed on exec: a program the caller starts while a file converts does not hold the wave.
    std::FILE* out = std::fopen(P.outName.c_str(), "wbe");
    uint8_t h[44];
    WaveHeader(h, P.rate, P.channels, 0);
    if (!out || std::fwrite(h, 1, 44, out) != 44) {
        if (out) std::fclose(out);
        P.lastError = kOutputError;
        return 1;
    }
    int64_t end = endPos > 0 ? static_cast<int64_t>(endPos) * P.rate / 1000 : 0;
    __atomic_store_n(done, static_cast<unsigned char>(0), __ATOMIC_RELEASE);
    P.samplesDone.store(start);
    P.threadError.store(kNoError);
    P.stopRequest.store(false);
    P.pauseRequest.store(false);
    P.mode.store(kPlaying);
    try {
        P.worker = std::thread(Decode, done, out, end);
    } catch (...) {
        std::fclose(out);
        P.mode.store(kReady);
        P.lastError = kDecoderError;
        return 1;
    }
    return 0;
}

MPEGDLL_EXPORT void Close() {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    CloseStream();
}

MPEGDLL_EXPORT int GetFrequency() {
    std::lock_guard lock(callMutex);
    P.lastError = P.mh ? kNoError : kNoStream;
    return static_cast<int>(P.rate);
}

MPEGDLL_EXPORT int GetBitrate() {
    std::lock_guard lock(callMutex);
    P.lastError = P.mh ? kNoError : kNoStream;
    return P.bitrate;
}

MPEGDLL_EXPORT int GetLayer() {
    std::lock_guard lock(callMutex);
    P.lastError = P.mh ? kNoError : kNoStream;
    return P.layer;
}

MPEGDLL_EXPORT int GetPlayerMode() {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    return P.mode.load();
}

// Milliseconds decoded so far.
MPEGDLL_EXPORT int GetCurrentPos() {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    return P.rate > 0 ? static_cast<int>(P.samplesDone.load() * 1000 / P.rate) : 0;
}

// Length of the open stream in milliseconds.
MPEGDLL_EXPORT int GetLength(int) {
    std::lock_guard lock(callMutex);
    P.lastError = P.mh ? kNoError : kNoStream;
    return P.rate > 0 ? static_cast<int>(P.lengthSamples * 1000 / P.rate) : 0;
}

// Non-zero when no decoding is under way any more; a finished run is joined here and its error
// becomes this call's error.
MPEGDLL_EXPORT int ResetPlayerMode(int) {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    int mode = P.mode.load();
    if (mode == kPlaying || mode == kPaused) return 0;
    if (P.worker.joinable()) P.worker.join();
    if (mode == kFinished) P.lastError = P.threadError.exchange(kNoError);
    P.mode.store(kReady);
    return 1;
}

MPEGDLL_EXPORT void Seek(int pos) {
    std::lock_guard lock(callMutex);
    P.lastError = kNoError;
    if (!P.mh) {
        P.lastError = kNoStream;
        return;
    }
    if (P.mode.load() == kPlaying || P.mode.load() == kPaused) {
        P.lastError = kIncorrectMode;
        return;
    }
    int64_t sample = pos > 0 ? static_cast<int64_t>(pos) * P.rate / 1000 : 0;
    if (mpg123_seek(P.mh, static_cast<off_t>(sample), SEEK_SET) < 0) {
        P.lastError = kNonSeekable;
        return;
    }
    P.samplesDone.store(sample);
}

MPEGDLL_EXPORT int LastError() {
    std::lock_guard lock(callMutex);
    return P.lastError;
}
