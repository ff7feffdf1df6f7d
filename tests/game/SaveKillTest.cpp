// Every kind of save under a kill at a random instant and under a full disk: afterwards each file
// is its old or its new version, never torn, and the next start reads it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "game/FrontUnit.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/LevelFile.h"
#include "platform/Errors.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/GameFixtures.h"
#include "testsupport/SaveSteps.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

namespace fs = std::filesystem;

constexpr int kKills = 200;

// One kind of save: how to write version 0 or 1, and which version a file on disk is (-1: none
// of the two, that is torn or damaged).
struct SaveKind {
    const char* name;
    const char* file;
    std::function<void(int)> save;
    std::function<int()> version;
};

// Where the parent kills the saving child. The child waits for the parent's word before each
// save and again with its temporary file complete, just before the rename, so the parent knows
// which version must be on disk whatever the machine's speed; between those points the kill
// lands at a random instant of the child's own work.
enum class KillPoint { BeforeASave, WritingTheTemporaryFile, BeforeTheRename, RenamingOrAfter };

const char* PointName(KillPoint p) {
    switch (p) {
        case KillPoint::BeforeASave: return "before a save";
        case KillPoint::WritingTheTemporaryFile: return "writing the temporary file";
        case KillPoint::BeforeTheRename: return "before the rename";
        case KillPoint::RenamingOrAfter: return "renaming or after";
    }
    return "?";
}

// Busy work of a random length: how far the child gets meanwhile is left to the machine; no
// verdict depends on it.
void Spin(unsigned rounds) {
    volatile unsigned sink = 0;
    for (unsigned i = 0; i < rounds; ++i) sink = sink + 1;
}

// The saving child: before each save it waits for a word on `down`. After 'w' it saves at once;
// after 'p' it says 'r' on `up` with the temporary file written and waits for another word before
// the rename. It says 'd' with each save done, and alternates the versions, starting with the one
// that is not on disk.
[[noreturn]] void SaveOnCue(const SaveKind& kind, int onDisk, int up, int down) {
    auto say = [&](char token) {
        if (write(up, &token, 1) != 1) _exit(3);
    };
    auto await = [&] {
        char word = 0;
        if (read(down, &word, 1) != 1) _exit(0);
        return word;
    };
    const std::string temporary = ResolveWritePath(kind.file) + ".tmp";
    bool pause = false;
    test::BeforeRename beforeRename([&](const std::string& path) {
        if (path != temporary || !pause) return;
        say('r');
        await();
    });
    for (int v = onDisk ^ 1;; v ^= 1) {
        pause = await() == 'p';
        try {
            kind.save(v);
        } catch (...) {
            _exit(2);
        }
        say('d');
    }
}

// Kills a saving child kKills times: after a random number of whole saves, at a random one of
// the kill points. After each kill the next start finds the version the child's progress says,
// or with a kill during the rename the old or the new one; never a torn file.
void KillDuringSaves(const SaveKind& kind) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> wholeSaves(0, 3), point(0, 3);
    std::uniform_int_distribution<unsigned> spin(0, 200000);
    std::set<int> seen;
    kind.save(0);
    int onDisk = 0;
    for (int k = 0; k < kKills; ++k) {
        const int whole = wholeSaves(rng);
        const auto where = static_cast<KillPoint>(point(rng));
        const unsigned rounds = spin(rng);
        SCOPED_TRACE(testing::Message()
                     << "kill " << k << " after " << whole << " whole saves, " << PointName(where));
        int up[2], down[2];
        ASSERT_EQ(pipe(up), 0);
        ASSERT_EQ(pipe(down), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(up[0]);
            close(down[1]);
            SaveOnCue(kind, onDisk, up[1], down[0]);
        }
        close(up[1]);
        close(down[0]);
        auto go = [&](char word = 'p') { return write(down[1], &word, 1) == 1; };
        auto heard = [&](char want) {
            char token = 0;
            return read(up[0], &token, 1) == 1 && token == want;
        };
        bool onCue = true;
        // The whole saves run without a pause: their words are all sent at once.
        for (int i = 0; i < whole && onCue; ++i) onCue = go('w');
        for (int i = 0; i < whole && onCue; ++i) onCue = heard('d');
        if (onCue) switch (where) {
                case KillPoint::BeforeASave: break;
                case KillPoint::WritingTheTemporaryFile:
                    onCue = go();
                    Spin(rounds);
                    break;
                case KillPoint::BeforeTheRename: onCue = go() && heard('r'); break;
                case KillPoint::RenamingOrAfter:
                    onCue = go() && heard('r') && go();
                    Spin(rounds);
                    break;
            }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(down[1]);
        // With the child gone, a 'd' still in the pipe is a save it finished before the kill.
        const bool renamed = where == KillPoint::RenamingOrAfter && onCue && heard('d');
        close(up[0]);
        ASSERT_TRUE(onCue && WIFSIGNALED(status))
            << kind.name << ": the saving child failed by itself or lost its cue";
        // The next start: leftovers go, the file reads as one of the two versions.
        RemoveSaveLeftovers();
        const int v = kind.version();
        ASSERT_GE(v, 0) << kind.name << ": torn";
        const int before = onDisk ^ (whole & 1);
        // Killed during the rename without word of its end, either version is right.
        if (where != KillPoint::RenamingOrAfter || renamed) {
            ASSERT_EQ(v, renamed ? before ^ 1 : before) << kind.name;
        }
        onDisk = v;
        seen.insert(v);
    }
    for (const auto& e : fs::directory_iterator(fs::path(ResolvePath(kind.file)).parent_path()))
        EXPECT_NE(e.path().extension(), ".tmp") << e.path();
    EXPECT_EQ(seen.size(), 2u) << kind.name << ": the kills should find both versions on disk";
}

// On a file system with no byte left, the save fails with an input/output error and the file
// that was there stays as it was. Runs in a child that has a small tmpfs of its own over KVD.
void SaveOnAFullDisk(const SaveKind& kind) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto fail = [&](int code, const std::string& why) {
            std::fprintf(stderr, "%s: %s\n", kind.name, why.c_str());
            _exit(code);
        };
        const std::string kvd = fs::path(ResolvePath(kind.file)).parent_path().string();
        std::string why;
        if (!test::MountPrivateTmpfs(kvd, 1 << 20, why)) fail(10, why);
        try {
            kind.save(0);
        } catch (...) {
            fail(11, "the first save failed on an empty disk");
        }
        const std::string before = test::ReadText(kind.file);
        const std::string filler = test::FillFileSystem(kvd);
        try {
            kind.save(1);
            fail(12, "a save on a full disk raised no error");
        } catch (const EInOutError&) {
        } catch (...) {
            fail(13, "a save on a full disk raised another error than EInOutError");
        }
        // Room again for what the next start writes (the log) before it reads the file.
        fs::remove(filler);
        if (test::ReadText(kind.file) != before) fail(14, "the old file changed");
        RemoveSaveLeftovers();
        if (kind.version() != 0) fail(15, "the old version does not read back");
        for (const auto& e : fs::directory_iterator(kvd))
            if (e.path().extension() == ".tmp") fail(16, "a temporary file was left");
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << kind.name;
    EXPECT_EQ(WEXITSTATUS(status), 0) << kind.name << " (the child's reason is on stderr)";
}

// A kill ends the process, not the machine: what it wrote stays in the page cache either way, so
// the data folder may as well live in memory. That keeps the disk's sync time, which other
// processes' I/O can stretch a hundredfold, out of a thousand kills' run. Empty when the machine
// has no shared-memory folder; the test then runs on the program's own folder.
std::string DataFolderInMemory() {
    std::error_code ec;
    if (!fs::is_directory("/dev/shm", ec) || access("/dev/shm", W_OK) != 0) return {};
    std::string tmpl = "/dev/shm/zolvex-savekill-XXXXXX";
    return mkdtemp(tmpl.data()) ? tmpl : std::string();
}

class SaveKillTest : public test::ShippedGameTest {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        saved_ = Folders();
        if (const std::string dir = DataFolderInMemory(); !dir.empty()) {
            memory_ = dir;
            TFolders f = saved_;
            f.Data = dir;
            SetFolders(f);
        }
        EnsureDataDir();
        SetEnvDefaults();
        SetGameDataDefaults();
        EnvData.FrontOn = true;
    }
    void TearDown() override {
        EnvData.FrontOn = false;
        SetFolders(saved_);
        std::error_code ec;
        if (!memory_.empty()) fs::remove_all(memory_, ec);
    }

    std::vector<SaveKind> Kinds() {
        std::vector<SaveKind> kinds;
        kinds.push_back({"settings", "KVD/env.dat",
                         [](int v) {
                             EnvData.City = v ? "Genf" : "Bern";
                             EnvData.Highscores[0].Score = v ? 2000 : 1000;
                             SaveEnv();
                         },
                         [] {
                             const TEnvData keep = EnvData;
                             LoadEnv();
                             int v = -1;
                             if (EnvData.City == "Bern" && EnvData.Highscores[0].Score == 1000)
                                 v = 0;
                             if (EnvData.City == "Genf" && EnvData.Highscores[0].Score == 2000)
                                 v = 1;
                             if (FileExists("KVD/env.dat.damaged")) v = -1;
                             EnvData = keep;
                             return v;
                         }});
        kinds.push_back({"state", "KVD/game.dat",
                         [](int v) {
                             GameData.Level = static_cast<int16_t>(v ? 7 : 3);
                             SaveGameData("KVD\\game.dat");
                         },
                         [] {
                             const std::string b = test::ReadText("KVD/game.dat");
                             if (b.size() != kGameDataSize) return -1;
                             return b[42] == 3 ? 0 : b[42] == 7 ? 1 : -1;
                         }});
        kinds.push_back(
            {"configuration", "KVD/prog.cfg",
             [](int v) { WriteProgCfg("PER Name", v ? std::string(300, 'b') : "Anna"); },
             [] {
                 const std::string b = test::ReadText("KVD/prog.cfg");
                 if (b == "PER Name: Anna\r\n") return 0;
                 if (b == "PER Name: " + std::string(300, 'b') + "\r\n") return 1;
                 return -1;
             }});
        kinds.push_back({"level", "KVD/Level1.txt",
                         [](int v) {
                             GameData.Level = 1;
                             std::vector<std::string> lines(v ? 200 : 100,
                                                            v ? "gap=20" : "speed=4");
                             SaveLevel(lines);
                         },
                         [] {
                             const auto lines = UnscrambleLines(test::ReadText("KVD/Level1.txt"));
                             if (lines == std::vector<std::string>(100, "speed=4")) return 0;
                             if (lines == std::vector<std::string>(200, "gap=20")) return 1;
                             return -1;
                         }});
        // The scenery as the cave editor saves it: one piece moved back and forth.
        TFrontTable table;
        table[1] = {500, 100, -1, 1};
        table[2] = {900, 400, -1, 5};
        const auto bytes = FrontTableToBytes(table);
        ReplaceFileContents(kFrontFile, bytes.data(), bytes.size());
        front_ = std::make_unique<TFront>();
        TFront* front = front_.get();
        kinds.push_back({"scenery", "KVD/front.dat",
                         [front](int v) {
                             front->Element[1]->TrackX = v ? 7000 : 500;
                             front->Save();
                         },
                         [] {
                             const auto b = ReadFileBytes(kFrontFile, kRecordFileLimit);
                             if (!b || b->size() != kFrontFileSize) return -1;
                             TFrontTable t;
                             FrontTableFromBytes(t, *b);
                             if (t[2].TrackX != 900) return -1;
                             return t[1].TrackX == 500 ? 0 : t[1].TrackX == 7000 ? 1 : -1;
                         }});
        return kinds;
    }

    std::unique_ptr<TFront> front_;
    TFolders saved_;
    std::string memory_;
};

}  // namespace

// The kinds are independent: each runs in a process of its own, on a data folder of its own, all
// at the same time. A kill's round trips wait on the scheduler, not on the processor, so on a
// loaded machine five of them waiting at once keep the run as long as one kind's.
TEST_F(SaveKillTest, EveryKindOfSaveKilledAtRandomLeavesTheOldOrTheNewFile) {
    const size_t kinds = Kinds().size();
    const std::string base = Folders().Data;
    std::vector<pid_t> drivers;
    for (size_t i = 0; i < kinds; ++i) {
        std::fflush(nullptr);
        const pid_t driver = fork();
        ASSERT_GE(driver, 0);
        if (driver == 0) {
            TFolders f = Folders();
            f.Data = base + "/kind" + std::to_string(i);
            std::error_code ec;
            fs::create_directories(f.Data, ec);
            SetFolders(f);
            EnsureDataDir();
            const SaveKind kind = Kinds()[i];
            SCOPED_TRACE(kind.name);
            KillDuringSaves(kind);
            std::fflush(nullptr);
            _exit(HasFailure() ? 1 : 0);
        }
        drivers.push_back(driver);
    }
    const auto names = Kinds();
    for (size_t i = 0; i < kinds; ++i) {
        int status = 0;
        waitpid(drivers[i], &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << names[i].name << ": its failures are printed above";
    }
}

TEST_F(SaveKillTest, EveryKindOfSaveOnAFullDiskFailsAndKeepsTheOldFile) {
    std::string why;
    if (!test::CanMountPrivateTmpfs(why)) GTEST_SKIP() << "no real full disk here: " << why;
    for (const SaveKind& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        SaveOnAFullDisk(kind);
    }
}

}  // namespace zx
