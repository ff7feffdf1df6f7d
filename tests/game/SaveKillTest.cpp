// Every kind of save under a kill at a random instant and under a full disk: afterwards each file
// is its old or its new version, never torn, and the next start reads it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Kills a child that saves without pause, kKills times, each after a random delay, and checks the
// file after each kill. The child alternates the versions, so both are seen.
void KillDuringSaves(const SaveKind& kind) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> delayUs(0, 4000);
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
    EXPECT_EQ(seen.size(), 2u) << kind.name << ": the kills should find both versions on disk";
}

// With files limited to a size the save exceeds, the save fails with an input/output error and
// the file that was there stays as it was.
void SaveOnAFullDisk(const SaveKind& kind) {
    kind.save(0);
    const std::string before = test::ReadText(kind.file);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{64, 64};
        setrlimit(RLIMIT_FSIZE, &lim);
        try {
            kind.save(1);
        } catch (const EInOutError&) {
            _exit(0);
        } catch (...) {
            _exit(2);
        }
        _exit(1);  // a save that did not fail could not have been whole
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << kind.name << ": 1 = no error raised, 2 = another error";
    EXPECT_EQ(test::ReadText(kind.file), before) << kind.name;
    RemoveSaveLeftovers();
    EXPECT_EQ(kind.version(), 0) << kind.name;
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
                             const auto b = ReadFileBytes(kFrontFile);
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
    for (const SaveKind& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        SaveOnAFullDisk(kind);
    }
}

}  // namespace zx
