// The per-user folders over a read-only program folder, through the one resolver.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/TestSupport.h"

using namespace zx;
namespace fs = std::filesystem;

namespace {

void Put(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}
std::string Get(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An installed tree (prefix/bin, prefix/share/zolvex with the shipped files, prefix/lib/zolvex)
// and a home of its own, in a fresh temporary folder.
class FoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::path(test::TempProgramDir()) / "folders";
        fs::remove_all(root);
        prefix = root / "usr";
        program = prefix / "share" / "zolvex";
        home = root / "home";
        fs::create_directories(prefix / "bin");
        fs::create_directories(home);
        Put(program / "KVD" / "Level1.txt", "shipped level");
        Put(program / "KVD" / "front.dat", "cave");
        Put(program / "snd" / "back.mp3", "mp3");
        Put(program / "snd" / "leer.wav", "effect");
        folders = FoldersFor((prefix / "bin").string(), "", "", home.string());
        SetFolders(folders);
    }
    void TearDown() override { SetFolders(TFolders::Single(test::TempProgramDir())); }

    fs::path root, prefix, program, home;
    TFolders folders;
};

}  // namespace

TEST_F(FoldersTest, InstalledTreeGetsTheXdgDefaultsUnderHomeAndTheLibraryFolder) {
    EXPECT_EQ(folders.Program, program.string());
    EXPECT_EQ(folders.Data, (home / ".local/share/zolvex").string());
    EXPECT_EQ(folders.Cache, (home / ".cache/zolvex").string());
    EXPECT_EQ(folders.Library, (prefix / "lib/zolvex").string());
    EXPECT_TRUE(folders.Overlaid());

    const TFolders xdg = FoldersFor((prefix / "bin").string(), "/x/data/", "/x/cache", "/h");
    EXPECT_EQ(xdg.Data, "/x/data/zolvex");
    EXPECT_EQ(xdg.Cache, "/x/cache/zolvex");
    const TFolders relative = FoldersFor((prefix / "bin").string(), "data", "cache", "/h");
    EXPECT_EQ(relative.Data, "/h/.local/share/zolvex") << "a relative XDG value is ignored";
    EXPECT_EQ(relative.Cache, "/h/.cache/zolvex");
}

TEST_F(FoldersTest, WritableProgramFolderIsEverythingAndLogsNoFolderLine) {
    const fs::path portable = root / "portable";
    fs::create_directories(portable / "KVD");
    const TFolders f = FoldersFor(portable.string(), "/x/data", "/x/cache", home.string());
    EXPECT_EQ(f.Program, portable.string());
    EXPECT_EQ(f.Data, portable.string());
    EXPECT_EQ(f.Cache, portable.string());
    EXPECT_EQ(f.Library, portable.string());
    EXPECT_FALSE(f.Overlaid());
    SetFolders(f);
    EXPECT_EQ(FoldersLogLine(), "");
    EXPECT_EQ(ResolvePath("kvd\\LOG.TXT"), (portable / "KVD/LOG.TXT").string());
    EXPECT_EQ(ResolveWritePath("kvd\\LOG.TXT"), (portable / "KVD/LOG.TXT").string());
}

TEST_F(FoldersTest, ReadOnlyPortableFolderIsOverlaid) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write any folder";
    const fs::path portable = root / "portable";
    fs::create_directories(portable / "KVD");
    fs::permissions(portable, fs::perms::owner_read | fs::perms::owner_exec);
    const TFolders f = FoldersFor(portable.string(), "", "", home.string());
    fs::permissions(portable, fs::perms::owner_all);
    EXPECT_EQ(f.Program, portable.string());
    EXPECT_EQ(f.Data, (home / ".local/share/zolvex").string());
}

TEST_F(FoldersTest, ShippedFilesAreReadFromTheProgramFolderUntilTheUserHasACopy) {
    EXPECT_EQ(ResolvePath("kvd\\level1.TXT"), (program / "KVD/Level1.txt").string());
    EXPECT_EQ(ResolvePath(program.string() + "\\snd\\BACK.mp3"),
              (program / "snd/back.mp3").string())
        << "an absolute path in the program folder counts as relative to it";
    EXPECT_TRUE(FileExists("KVD\\front.dat"));

    // The editor saves the level: the copy goes to the data folder, the shipped one stays.
    EnsureDataDir();
    ReplaceFileContents("KVD\\Level1.txt", std::string("edited level"));
    EXPECT_EQ(Get(home / ".local/share/zolvex/KVD/Level1.txt"), "edited level");
    EXPECT_EQ(Get(program / "KVD/Level1.txt"), "shipped level");
    EXPECT_EQ(ResolvePath("KVD\\LEVEL1.txt"),
              (home / ".local/share/zolvex/KVD/Level1.txt").string());
    const auto bytes = ReadFileBytes("kvd/level1.txt", kLevelFileLimit);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "edited level");

    // Deleting the user's copy brings back the shipped one; the shipped one is never deleted.
    EXPECT_TRUE(DeleteFile("KVD\\Level1.txt"));
    EXPECT_EQ(ResolvePath("KVD\\Level1.txt"), (program / "KVD/Level1.txt").string());
    EXPECT_FALSE(DeleteFile("KVD\\Level1.txt"));
    EXPECT_EQ(Get(program / "KVD/Level1.txt"), "shipped level");
}

// The player has to mend these: each message names the folder and the system's reason.
TEST_F(FoldersTest, AUserFolderThatCannotBeMadeOrEnteredIsNamedWithItsReason) {
    const fs::path data = home / ".local/share/zolvex";
    Put(data, "a file where the folder belongs");
    try {
        EnterProgramDir();
        ADD_FAILURE() << "entered a file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(),
                  "I/O error 20: Cannot enter the folder " + data.string() + ": Not a directory");
    }
    // A home in which no folder can be made (here: a file on its way).
    fs::remove_all(home / ".local");
    Put(home / ".local", "a file");
    try {
        EnterProgramDir();
        ADD_FAILURE() << "made a folder under a file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(),
                  "I/O error 20: Cannot create the folder " + data.string() + ": Not a directory");
    }
    fs::current_path(test::TempProgramDir());
}

// Keeping the last good copy when it already is a second name of the same file leaves no
// temporary name behind (a rename between two names of one file does nothing).
TEST_F(FoldersTest, ASecondNameMadeTwiceLeavesNoTemporaryFile) {
    EnterProgramDir();
    ReplaceFileContents("KVD\\env.dat", std::string("settings"));
    LinkFile("KVD\\env.dat", "KVD\\env.dat.good");
    LinkFile("KVD\\env.dat", "KVD\\env.dat.good");
    const fs::path kvd = home / ".local/share/zolvex/KVD";
    EXPECT_EQ(Get(kvd / "env.dat.good"), "settings");
    EXPECT_FALSE(fs::exists(kvd / "env.dat.good.tmp"));
    fs::current_path(test::TempProgramDir());
}

TEST_F(FoldersTest, NewFilesGoToDataAndConvertedMusicToTheCache) {
    const fs::path before = fs::current_path();
    EnterProgramDir();  // the first start makes the user's folders
    EXPECT_EQ(fs::current_path(), home / ".local/share/zolvex");
    fs::current_path(before);
    EXPECT_TRUE(fs::is_directory(home / ".local/share/zolvex/KVD"));
    EXPECT_TRUE(fs::is_directory(home / ".cache/zolvex/snd"));
    EXPECT_EQ(ResolvePath("KVD\\log.txt"), (home / ".local/share/zolvex/KVD/log.txt").string());
    EXPECT_EQ(ResolvePath("Screenshots\\Shot_1.jpg"),
              (home / ".local/share/zolvex/Screenshots/Shot_1.jpg").string());
    EXPECT_EQ(ResolvePath(program.string() + "\\snd\\back.wav"),
              (home / ".cache/zolvex/snd/back.wav").string());
    EXPECT_EQ(ResolveWritePath("snd\\leer.wav"), (home / ".cache/zolvex/snd/leer.wav").string());
    EXPECT_EQ(ResolvePath("/etc/hostname"), "/etc/hostname") << "other absolute paths stay";

    WriteLog("line");
    WriteProgCfg("PER Name", "Anna");
    EXPECT_EQ(Get(home / ".local/share/zolvex/KVD/LOG.TXT"), "line\r\n");
    EXPECT_EQ(ReadProgCfg("PER Name"), "Anna");
    EXPECT_TRUE(fs::exists(home / ".local/share/zolvex/KVD/prog.cfg"));
    EXPECT_FALSE(fs::exists(program / "KVD/LOG.TXT"));
    EXPECT_FALSE(fs::exists(program / "KVD/prog.cfg"));
}

TEST_F(FoldersTest, FolderListingIsTheUnionTheUsersCopyFirst) {
    Put(home / ".cache/zolvex/snd/back.wav", "converted");
    Put(home / ".cache/zolvex/snd/LEER.WAV", "user's own");
    const auto files = ListFolder(program.string() + "\\snd", ".wav");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].Name, "back.wav");
    EXPECT_EQ(files[1].Name, "LEER.WAV") << "the user's copy hides the shipped one";
    EXPECT_EQ(files[1].Size, 10u);
    EXPECT_EQ(ListFolder("snd", ".mp3").size(), 1u);
}

TEST_F(FoldersTest, LeftoversAreRemovedWhereTheProgramWritesAndTheLogLineNamesTheFolders) {
    Put(home / ".local/share/zolvex/KVD/env.dat.tmp", "half");
    Put(home / ".cache/zolvex/snd/back.wav.part", "half");
    Put(program / "KVD/shipped.tmp", "not ours to remove");
    RemoveSaveLeftovers();
    EXPECT_FALSE(fs::exists(home / ".local/share/zolvex/KVD/env.dat.tmp"));
    EXPECT_FALSE(fs::exists(home / ".cache/zolvex/snd/back.wav.part"));
    EXPECT_TRUE(fs::exists(program / "KVD/shipped.tmp"));
    EXPECT_EQ(FoldersLogLine(), "Folders: program " + program.string() + ", data " +
                                    (home / ".local/share/zolvex").string() + ", cache " +
                                    (home / ".cache/zolvex").string() + ", library " +
                                    (prefix / "lib/zolvex").string());
}
