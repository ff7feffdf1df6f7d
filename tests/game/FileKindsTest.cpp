// Every file the program reads, put in place as something other than a file of its kind: a FIFO
// (which would hold the reading thread until a writer came), a link to a device that never ends,
// and a sparse file far beyond the kind's size. Each reader must come back at once and say which
// file it refused and why; none may wait, nor take the file whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "game/GameRecords.h"
#include "game/LevelFile.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "surface/DDUtils.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

namespace fs = std::filesystem;

enum class TKind { Fifo, Device, Oversized };

std::string ReasonFor(TKind kind, uint64_t limit) {
    switch (kind) {
        case TKind::Fifo: return "a FIFO, not a regular file";
        case TKind::Device: return "a character device, not a regular file";
        case TKind::Oversized: break;
    }
    return "larger than " + std::to_string(limit) + " bytes";
}

void Put(TKind kind, const std::string& path, uint64_t limit) {
    fs::remove_all(path);
    switch (kind) {
        case TKind::Fifo: ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path; return;
        case TKind::Device: fs::create_symlink("/dev/zero", path); return;
        case TKind::Oversized:
            // A hole: one byte more than the kind takes, and no disk used.
            { std::ofstream(path, std::ios::binary); }
            ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(limit + 1)), 0) << path;
            return;
    }
}

// What the program makes of the file: the message it shows or raises.
std::string Outcome(const std::function<void()>& read) {
    std::vector<std::string> shown;
    platform::SetMessageHook([&](platform::MessageKind, const std::string& t) {
        shown.push_back(t);
        return true;
    });
    std::string outcome;
    try {
        read();
    } catch (const Exception& e) {
        outcome = e.Message();
    }
    platform::SetMessageHook(nullptr);
    for (const std::string& s : shown) outcome += (outcome.empty() ? "" : " | ") + s;
    return outcome;
}

struct TReadCase {
    const char* file;  // as the program names it
    uint64_t limit;
    std::function<void()> read;
    // The expected outcome for the file's real path and the reason; empty: any outcome will do,
    // as long as the reader came back.
    std::function<std::string(const std::string& path, const std::string& reason)> expected;
};

TEST(FileKindsTest, EveryFileReadIsRefusedAtOnceWhenItIsAFifoADeviceOrFarTooLarge) {
    EnsureDataDir();
    EnterProgramDir();
    SetGameDataDefaults();  // the first level
    const std::vector<TReadCase> cases = {
        {"KVD\\LOG.TXT", kLogFileLimit, [] { EXPECT_FALSE(LogEndedOK()); },
         [](const std::string&, const std::string&) { return std::string(); }},
        {"KVD\\prog.cfg", kCfgFileLimit, [] { EXPECT_EQ(ReadProgCfg("GameServer"), ""); },
         [](const std::string& path, const std::string&) {
             return "Datei " + path + " konnte nicht erzeugt werden";
         }},
        {"KVD\\env.dat", kRecordFileLimit, [] { LoadEnv(); },
         [](const std::string& path, const std::string& why) {
             return "Cannot read " + path + ": " + why;
         }},
        {"KVD\\game.dat", kRecordFileLimit, [] { LoadGameData("KVD\\game.dat"); },
         [](const std::string&, const std::string&) { return std::string(); }},
        {"KVD\\Level1.txt", kLevelFileLimit,
         [] {
             std::vector<std::string> lines;
             LoadLevel(lines);
         },
         [](const std::string& path, std::string why) {
             why[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
             return "Cannot open file \"" + path + "\". " + why;
         }},
        {"gfx\\probe.bmp", kPictureFileLimit,
         [] {
             SurfacePtr s;
             LoadPictureToSurface("gfx\\probe.bmp", s);
         },
         // A FIFO or a device is no picture file at all: not found, logged.
         [](const std::string& path, const std::string& why) {
             return why.starts_with("larger") ? "Cannot read picture " + path + ": " + why
                                              : std::string();
         }},
    };
    CreateDir("gfx");
    for (const TReadCase& c : cases) {
        for (TKind kind : {TKind::Fifo, TKind::Device, TKind::Oversized}) {
            const std::string path = ResolveWritePath(c.file);
            SCOPED_TRACE(path + " as " + ReasonFor(kind, c.limit));
            ReportCfgFailuresAgain();
            Put(kind, path, c.limit);
            const std::string outcome = Outcome(c.read);
            const std::string want = c.expected(path, ReasonFor(kind, c.limit));
            if (!want.empty()) {
                EXPECT_EQ(outcome, want);
            }
            fs::remove_all(path);
        }
    }
}

// Writing, too, waits on nothing and feeds no device: the log as a FIFO or a link to a device
// is refused with its name and kind.
TEST(FileKindsTest, TheLogIsNeverWrittenIntoAFifoOrADevice) {
    EnsureDataDir();
    const std::string path = ResolveWritePath("KVD\\LOG.TXT");
    for (TKind kind : {TKind::Fifo, TKind::Device}) {
        SCOPED_TRACE(ReasonFor(kind, 0));
        Put(kind, path, 0);
        EXPECT_EQ(Outcome([] { WriteLog("a line"); }),
                  "Cannot open " + path + ": " + ReasonFor(kind, 0));
        fs::remove_all(path);
    }
}

}  // namespace
}  // namespace zx
