// Every kind of save under a kill at a random instant and under a full disk: afterwards each file
// is its old or its new version, never torn, and the next start reads it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

// How long one save of this kind takes here and now: the median of a few, so that the kill
// instants follow the machine (a sanitizer build, a busy disk) instead of a guess.
std::chrono::microseconds MeasureSave(const SaveKind& kind) {
    std::vector<std::chrono::microseconds> times;
    for (int i = 0; i < 9; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        kind.save(i & 1);
        times.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - t0));
    }
    std::sort(times.begin(), times.end());
    return std::max(times[times.size() / 2], std::chrono::microseconds(1));
}

// Kills a child that saves without pause, kKills times, each after a random delay, and checks the
// file after each kill. The child alternates the versions, so both are seen: the delays cover
// several saves, so a kill lands before, inside or after any of them.
void KillDuringSaves(const SaveKind& kind) {
    const auto oneSave = MeasureSave(kind);
    std::mt19937 rng(12345);
    std::uniform_int_distribution<long> delayUs(0, 4 * oneSave.count());
    std::set<int> seen;
    kind.save(0);
    for (int k = 0; k < kKills; ++k) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            const char go = 1;
            if (write(ready[1], &go, 1) != 1) _exit(3);
            for (int v = 1;; v ^= 1) {
                try {
                    kind.save(v);
                } catch (...) {
                    _exit(2);
                }
            }
        }
        close(ready[1]);
        char go = 0;
        ASSERT_EQ(read(ready[0], &go, 1), 1);
        close(ready[0]);
        usleep(static_cast<useconds_t>(delayUs(rng)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << kind.name << ": the saving child failed by itself";
        // The next start: leftovers go, the file reads as one of the two versions.
        RemoveSaveLeftovers();
        const int v = kind.version();
        ASSERT_GE(v, 0) << kind.name << ": torn after kill " << k;
        seen.insert(v);
    }
    for (const auto& e : fs::directory_iterator(fs::path(ResolvePath(kind.file)).parent_path()))
        EXPECT_NE(e.path().extension(), ".tmp") << e.path();
    EXPECT_EQ(seen.size(), 2u) << kind.name
                               << ": the kills should find both versions on disk (one save took "
                               << oneSave.count() << " us here)";
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

class SaveKillTest : public test::ShippedGameTest {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        SetEnvDefaults();
        SetGameDataDefaults();
        EnvData.FrontOn = true;
    }
    void TearDown() override { EnvData.FrontOn = false; }

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
};

}  // namespace

TEST_F(SaveKillTest, EveryKindOfSaveKilledAtRandomLeavesTheOldOrTheNewFile) {
    for (const SaveKind& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        KillDuringSaves(kind);
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
