#include "music/MusicConvert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Ticks.h"
#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Paths.h"

namespace zx {

std::unique_ptr<TMPEGPlayer> MusicPlayer;
bool PlayerCreated = false;

namespace {

// The music folder that could not be written, once told; a folder that takes a wave again
// clears it, so a later failure is told again.
bool folderFailureTold = false;

// A wave that cannot be created beside its MP3: every other file of the folder would fail the
// same way, and no disk space is lacking.
class EMusicFolderError : public Exception {
public:
    using Exception::Exception;
};

// Last-write time in nanoseconds; nullopt when the file does not exist.
std::optional<int64_t> WriteTime(const std::string& path) {
    struct stat st {};
    if (stat(ResolvePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

struct Pair {
    std::string mp3, wav;
};

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// True when the file is a whole PCM wave: RIFF and WAVE, a format chunk, and a data chunk that
// the file holds to its end. A converted wave cut or overwritten after its conversion is newer
// than its MP3 all the same; its date alone would keep it for good.
bool WholeWave(const std::string& path) {
    const int fd = OpenRegularFile(ResolvePath(path), O_RDONLY);
    if (fd < 0) return false;
    struct stat st {};
    uint8_t head[4096];
    const ssize_t got = fstat(fd, &st) == 0 ? pread(fd, head, sizeof head, 0) : -1;
    close(fd);
    if (got < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    bool format = false;
    for (uint64_t at = 12; at + 8 <= static_cast<uint64_t>(got);) {
        const uint8_t* c = head + at;
        const uint64_t size = Le32(c + 4);
        if (std::memcmp(c, "fmt ", 4) == 0)
            format =
                size >= 16 && at + 8 + 2 <= static_cast<uint64_t>(got) && c[8] == 1 && c[9] == 0;
        else if (std::memcmp(c, "data", 4) == 0)
            return format && at + 8 + size <= fileSize;
        at += 8 + size + (size & 1);
    }
    return false;
}

// The MP3 files that could not be converted, each with the size and time it had then: one is
// tried again only once it has changed, rather than at every activation.
constexpr std::string_view kFailedMusicFile = "KVD\\music.failed";

std::string Signature(const std::string& mp3) {
    struct stat st {};
    if (stat(ResolvePath(mp3).c_str(), &st) != 0) return {};
    return std::to_string(st.st_size) + " " +
           std::to_string(static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                          st.st_mtim.tv_nsec);
}

std::string FailedSignature(const std::string& name) {
    try {
        if (!FileExists(kFailedMusicFile)) return {};
        return GetCfgValue(kFailedMusicFile, name);
    } catch (const std::exception&) {
        return {};
    }
}

void RememberFailed(const std::string& name, const std::string& mp3) {
    try {
        EnsureDataDir();
        SetCfgValue(kFailedMusicFile, name, Signature(mp3));
    } catch (const std::exception&) {
        // Not remembered: the file is tried again at the next activation.
    }
}

struct Work {
    std::string name;
    Pair files;
};

std::vector<Work> WorkList() {
    std::vector<Work> list;
    for (const TFolderFile& file : ListFolder("snd", ".mp3")) {
        if (static_cast<int>(list.size()) >= kMaxMusicPairs) break;
        std::string mp3 = ProgramDir() + "\\snd\\" + file.Name;
        std::string wav = mp3.substr(0, mp3.size() - 3) + "wav";
        auto wt = WriteTime(wav), mt = WriteTime(mp3);
        if (wt && !(mt && *wt < *mt) && WholeWave(wav)) continue;
        const std::string failed = FailedSignature(file.Name);
        if (!failed.empty() && failed == Signature(mp3)) continue;
        list.push_back({file.Name, {mp3, wav}});
    }
    return list;
}

// The wave's temporary file, created before the decoder starts: a folder that takes no file is
// told as such instead of as the decoder's "Output device failure".
void CreateTemp(const std::string& temp) {
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw EMusicFolderError(std::strerror(errno));
    close(fd);
}

// The window that waits for the conversion is closing.
class EMusicCancelled : public Exception {
public:
    EMusicCancelled() : Exception("The music conversion was stopped") {}
};

// Why the folder the waves are written to takes none: it cannot be made, is no folder, or may
// not be written. Empty when it can be written.
std::string FolderProblem(const std::string& dir) {
    if (!CreateDir(dir)) return std::strerror(errno);
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    if (access(dir.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
    return {};
}

void TellFolderFailure(const std::string& reason) {
    // Not the file's fault and no game's: nothing for the log, whose last line tells how the last
    // game ended. The game plays without the music that is missing.
    if (!folderFailureTold)
        platform::ShowMessage("The music cannot be converted: the folder " +
                              ResolveWritePath("snd") + " cannot be written (" + reason +
                              "). The game plays without it.");
    folderFailureTold = true;
}

// Decodes one file into a temporary wave beside the target and puts it in place only when it is
// complete: a failed or interrupted run must never leave a wave that looks newer than its MP3.
void ConvertOne(TMPEGPlayer& player, const Pair& p, IMusicProgress* progress) {
    const std::string temp = ResolveWritePath(p.wav + ".part");
    CreateTemp(temp);
    try {
        player.SetStreamName(p.mp3);
        player.OutFilename = temp;
        player.OutputDevice = TOutputDevice::pcmfile;
        player.OpenStream();
        player.Play();
        for (;;) {
            if (progress && !progress->Poll()) throw EMusicCancelled();
            if (player.IsDone()) break;
            platform::SleepMs(10);
        }
        player.CloseStream();
        SyncFileAndFolder(temp);
        if (std::rename(temp.c_str(), ResolveWritePath(p.wav).c_str()) != 0) throw TMPEGError(5);
        SyncFileAndFolder(p.wav);
    } catch (...) {
        try {
            if (player.Opened()) player.CloseStream();
        } catch (const std::exception&) {
            // The first failure is the one to report.
        }
        std::remove(temp.c_str());
        throw;
    }
}

}  // namespace

void TConsoleMusicProgress::Start(int count) {
    count_ = count;
    done_ = 0;
    std::printf("Converting Sounds... (%d)\n", count);
    std::fflush(stdout);
}

void TConsoleMusicProgress::Step() {
    ++done_;
    std::printf("Converting Sounds... %d/%d\n", done_, count_);
    std::fflush(stdout);
}

void TConsoleMusicProgress::Finish() {}

std::optional<uint64_t> DriveFreeSpace(const std::string& dir) {
    struct statvfs vs {};
    if (statvfs(dir.c_str(), &vs) != 0) return std::nullopt;
    return static_cast<uint64_t>(vs.f_bavail) * static_cast<uint64_t>(vs.f_frsize);
}

bool CheckSoundSpace(const std::string& mp3Path, const TFreeSpace& freeSpace) {
    std::string full = ResolvePath(mp3Path);
    struct stat st {};
    int64_t size = stat(full.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
    // The waves go where the program may write, which need not be beside the MP3s.
    const std::optional<uint64_t> bytes =
        freeSpace(std::filesystem::path(ResolveWritePath(mp3Path)).parent_path().string());
    const int64_t space = bytes ? static_cast<int64_t>(*bytes) : -1;
    if (size * 20 < space) return true;
    std::string drive = mp3Path.empty() ? std::string() : mp3Path.substr(0, 1);
    platform::ShowMessage("Not enough space for sounds on drive " + drive + ":\\");
    return false;
}

bool ConvertMusic(IMusicProgress* progress, const TFreeSpace& freeSpace) {
    EnterProgramDir();
    std::vector<Work> list = WorkList();
    if (list.empty()) return true;
    // A folder that takes no wave lacks no space: asking its drive would claim so.
    if (const std::string problem = FolderProblem(ResolveWritePath("snd")); !problem.empty()) {
        TellFolderFailure(problem);
        return true;
    }

    if (progress) progress->Start(static_cast<int>(list.size()));
    bool createdHere = false;
    if (!PlayerCreated) {
        MusicPlayer = std::make_unique<TMPEGPlayer>();
        try {
            MusicPlayer->LoadDecoder();
        } catch (...) {
            MusicPlayer.reset();
            if (progress) progress->Finish();
            throw;
        }
        PlayerCreated = true;
        createdHere = true;
    }

    bool result = true, cancelled = false;
    for (const Work& w : list) {
        const Pair& p = w.files;
        if (!CheckSoundSpace(p.mp3, freeSpace)) {
            result = false;
            break;
        }
        try {
            ConvertOne(*MusicPlayer, p, progress);
            folderFailureTold = false;
            if (progress) progress->Step();
        } catch (const EMusicFolderError& e) {
            TellFolderFailure(e.Message());
            break;
        } catch (const EMusicCancelled&) {
            cancelled = true;
            break;
        } catch (const Exception& e) {
            // The file as the player finds it on disk, with the system's separators. Told, and
            // remembered so that it is not tried again, but not logged: the log's last line tells
            // how the last game ended, and a line here made every activation ask about an
            // abnormal end that never was.
            platform::ShowMessage("MP3 conversion error on " + ResolvePath(p.mp3) + "\r\n" +
                                  e.Message());
            RememberFailed(w.name, p.mp3);
        }
    }

    if (createdHere) {
        try {
            MusicPlayer->UnloadDecoder();
        } catch (const std::exception&) {
            // Unloading failed: the player goes away all the same.
        }
        MusicPlayer.reset();
        PlayerCreated = false;
    }
    if (!cancelled) WaitMs(1000);
    if (progress) progress->Finish();
    return result;
}

}  // namespace zx
