#include "music/MusicConvert.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdio>
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

// Last-write time in nanoseconds; nullopt when the file does not exist.
std::optional<int64_t> WriteTime(const std::string& path) {
    struct stat st {};
    if (stat(ResolvePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

struct Pair {
    std::string mp3, wav;
};

std::vector<Pair> WorkList() {
    std::vector<Pair> list;
    for (const TFolderFile& file : ListFolder("snd", ".mp3")) {
        if (static_cast<int>(list.size()) >= kMaxMusicPairs) break;
        std::string mp3 = ProgramDir() + "\\snd\\" + file.Name;
        std::string wav = mp3.substr(0, mp3.size() - 3) + "wav";
        auto wt = WriteTime(wav), mt = WriteTime(mp3);
        if (!wt || (mt && *wt < *mt)) list.push_back({mp3, wav});
    }
    return list;
}

// Decodes one file into a temporary wave beside the target and puts it in place only when it is
// complete: a failed or interrupted run must never leave a wave that looks newer than its MP3.
void ConvertOne(TMPEGPlayer& player, const Pair& p) {
    const std::string temp = ResolvePath(p.wav + ".part");
    try {
        player.SetStreamName(p.mp3);
        player.OutFilename = temp;
        player.OutputDevice = TOutputDevice::pcmfile;
        player.OpenStream();
        player.Play();
        while (!player.IsDone()) platform::SleepMs(10);
        player.CloseStream();
        SyncFileAndFolder(temp);
        if (std::rename(temp.c_str(), ResolvePath(p.wav).c_str()) != 0) throw TMPEGError(5);
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
    const std::optional<uint64_t> bytes =
        freeSpace(std::filesystem::path(full).parent_path().string());
    const int64_t space = bytes ? static_cast<int64_t>(*bytes) : -1;
    if (size * 20 < space) return true;
    std::string drive = mp3Path.empty() ? std::string() : mp3Path.substr(0, 1);
    platform::ShowMessage("Not enough space for sounds on drive " + drive + ":\\");
    return false;
}

bool ConvertMusic(IMusicProgress* progress, const TFreeSpace& freeSpace) {
    EnterProgramDir();
    std::vector<Pair> list = WorkList();
    if (list.empty()) return true;

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

    bool result = true;
    for (const Pair& p : list) {
        if (!CheckSoundSpace(p.mp3, freeSpace)) {
            result = false;
            break;
        }
        try {
            ConvertOne(*MusicPlayer, p);
            if (progress) progress->Step();
        } catch (const Exception& e) {
            std::string text = "MP3 conversion error on " + p.mp3 + "\r\n" + e.Message();
            platform::ShowMessage(text);
            WriteLog(text);
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
    WaitMs(1000);
    if (progress) progress->Finish();
    return result;
}

}  // namespace zx
