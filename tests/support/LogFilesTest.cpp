#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/SaveSteps.h"
#include "testsupport/TestSupport.h"

using namespace zx;

class LogFilesTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetProgramDir(); }
};

TEST_F(LogFilesTest, LogLinesAreAnsiCrLfAndLogEndsOkOnlyOnExactOk) {
    EXPECT_TRUE(LogEndedOK()) << "no log means the last run ended well";
    test::WriteText("KVD/x", "");  // no KVD yet: WriteText fails silently, the log makes it
    WriteLog("FormClose: Start");
    WriteLog("Größe");
    EXPECT_EQ(test::ReadText("kvd\\log.txt"),
              "FormClose: Start\r\nGr\xF6\xDF"
              "e\r\n");
    EXPECT_FALSE(LogEndedOK());
    WriteLog("OK");
    EXPECT_TRUE(LogEndedOK());
    WriteLog("ok");
    EXPECT_FALSE(LogEndedOK()) << "the end marker is case-sensitive";
    ClearLog();
    EXPECT_TRUE(LogEndedOK());
    ClearLog();  // a missing log is no failure
    test::WriteText("KVD\\LOG.TXT", "");
    EXPECT_FALSE(LogEndedOK()) << "an empty log did not end with OK";
}

TEST_F(LogFilesTest, LogFromTwoThreadsKeepsWholeLines) {
    auto writer = [](char c) {
        for (int i = 0; i < 200; ++i) WriteLog(std::string(50, c));
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    auto lines = test::LogLines();
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& l : lines)
        EXPECT_TRUE(l == std::string(50, 'a') || l == std::string(50, 'b')) << l;
}

TEST_F(LogFilesTest, PathsMatchWithoutRegardToCase) {
    EnsureDataDir();
    EXPECT_TRUE(DirectoryExists("kvd"));
    WriteLog("x");
    EXPECT_EQ(ResolvePath("kvd\\Log.Txt"), ResolvePath("KVD/LOG.TXT"));
    EXPECT_TRUE(FileExists("Kvd\\log.TXT"));
    // A component that does not exist keeps the spelling given.
    EXPECT_EQ(ResolvePath("KVD\\New.dat"), test::TempProgramDir() + "/KVD/New.dat");
}

TEST_F(LogFilesTest, FolderListingIsSortedWithoutRegardToCaseAndFiltersBySuffix) {
    // Written past the resolver, which would take "a.wav" for the existing "A.wav".
    const std::filesystem::path snd = std::filesystem::path(test::TempProgramDir()) / "snd";
    std::filesystem::create_directories(snd / "sub.wav");  // a folder is no file, whatever its name
    for (const char* name : {"b.WAV", "A.wav", "a.wav", "c.mp3", "ä.wav", "wav"})
        std::ofstream(snd / name) << "1234";
    std::vector<std::string> names;
    for (const TFolderFile& f : ListFolder("SND", ".wav")) {
        names.push_back(f.Name);
        EXPECT_EQ(f.Size, 4u);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A.wav", "a.wav", "b.WAV", "ä.wav"}));
    EXPECT_TRUE(ListFolder("missing", ".wav").empty());
}

TEST_F(LogFilesTest, CfgAppendsReplacesInPlaceAndMatchesKeysWithoutCase) {
    WriteProgCfg("PER Name", "Anna");
    WriteProgCfg("caveedit", "0");
    WriteProgCfg("Other", "x");
    EXPECT_EQ(test::ReadText("KVD\\prog.cfg"), "PER Name: Anna\r\ncaveedit: 0\r\nOther: x\r\n");
    WriteProgCfg("CaveEdit", "1");
    EXPECT_EQ(test::ReadText("KVD\\prog.cfg"), "PER Name: Anna\r\nCaveEdit: 1\r\nOther: x\r\n");
    EXPECT_EQ(ReadProgCfg("caveedit"), "1");
    EXPECT_EQ(ReadProgCfg("per name"), "Anna");
    EXPECT_EQ(ReadProgCfg("missing"), "");
    EXPECT_EQ(ReadProgCfgDefault("missing", "0"), "0");
}

TEST_F(LogFilesTest, CfgLastDuplicateWinsAndMissingBlankCutsValue) {
    test::ResetProgramDir();
    EnsureDataDir();
    test::WriteText("KVD/prog.cfg", "caveedit: 0\r\nCAVEEDIT: 1\r\nx:7\r\ny:42\r\n");
    EXPECT_EQ(ReadProgCfg("caveedit"), "1");
    WriteProgCfg("caveedit", "0");
    EXPECT_EQ(test::ReadText("KVD/prog.cfg"), "caveedit: 0\r\ncaveedit: 0\r\nx:7\r\ny:42\r\n");
    // Without the blank the first character of the value is taken for it.
    EXPECT_EQ(ReadProgCfg("y"), "2");
    EXPECT_EQ(ReadProgCfgDefault("x", "def"), "def");
}

TEST_F(LogFilesTest, ReadProgCfgCreatesDataDirButNeverProgCfgBeside) {
    EXPECT_EQ(ReadProgCfg("caveedit"), "");
    EXPECT_TRUE(FileExists("kvd\\prog.cfg"));
    EXPECT_FALSE(FileExists("prog.cfg"));
    test::WriteText("prog.cfg", "caveedit: 1\r\n");
    EXPECT_EQ(ReadProgCfg("caveedit"), "1") << "the file beside the program is the fallback";
}

// Every lookup of a setting reads prog.cfg (the hosts at every tick of the launcher's timer): one
// that cannot be created is told once, until the launcher's next activation asks again.
TEST_F(LogFilesTest, ACfgFileThatCannotBeCreatedIsReportedOnceUntilAskedAgain) {
    std::vector<std::string> messages;
    platform::SetMessageHook([&](platform::MessageKind, const std::string& t) {
        messages.push_back(t);
        return true;
    });
    EnsureDataDir();
    std::filesystem::create_directory(ResolvePath("KVD\\prog.cfg"));
    ReportCfgFailuresAgain();
    EXPECT_EQ(ReadProgCfg("GameServer"), "");
    EXPECT_EQ(ReadProgCfgDefault("caveedit", "0"), "0");
    EXPECT_EQ(ReadProgCfg("ScoreServer"), "");
    // The file as it is on disk, with the system's separators.
    const std::vector<std::string> once = {"Datei " + ResolvePath("KVD\\prog.cfg") +
                                           " konnte nicht erzeugt werden"};
    EXPECT_EQ(messages, once);
    ReportCfgFailuresAgain();
    EXPECT_EQ(ReadProgCfg("GameServer"), "");
    EXPECT_EQ(ReadProgCfg("GameServer"), "");
    EXPECT_EQ(messages.size(), 2u) << "once more after the next activation";
    platform::SetMessageHook(nullptr);
    std::filesystem::remove(ResolvePath("KVD\\prog.cfg"));
    ReportCfgFailuresAgain();
}

TEST_F(LogFilesTest, CfgLongFileLosesNoLine) {
    EnsureDataDir();
    std::string content;
    for (int i = 0; i < 3500; ++i) content += "k" + std::to_string(i) + ": v\r\n";
    test::WriteText("KVD/prog.cfg", content);
    WriteProgCfg("k3499", "w");
    WriteProgCfg("new", "n");
    EXPECT_EQ(test::ReadText("KVD/prog.cfg"),
              content.substr(0, content.size() - 10) + "k3499: w\r\nnew: n\r\n");
}

// A typed name is the user's text: a line break inside it must not become a key line of its own.
TEST_F(LogFilesTest, CfgValueWithLineBreaksStaysOnItsOwnLine) {
    WriteProgCfg("caveedit", "0");
    WriteProgCfg("PER Name", "x\r\ncaveedit: 1");
    WriteProgCfg("Other", "a\rb\nc");
    EXPECT_EQ(ReadProgCfg("caveedit"), "0");
    EXPECT_EQ(ReadProgCfg("PER Name"), "x  caveedit: 1");
    EXPECT_EQ(ReadProgCfg("Other"), "a b c");
    EXPECT_EQ(test::ReadText("KVD/prog.cfg"),
              "caveedit: 0\r\nPER Name: x  caveedit: 1\r\nOther: a b c\r\n");
}

TEST_F(LogFilesTest, CfgReadsLoneCrAndLoneLfLineEnds) {
    EnsureDataDir();
    test::WriteText("KVD/prog.cfg", "PER Name: Anna\rcaveedit: 1\rx: 2\ny: 3\r\n\r\nz: 4");
    EXPECT_EQ(ReadProgCfg("PER Name"), "Anna");
    EXPECT_EQ(ReadProgCfg("caveedit"), "1");
    EXPECT_EQ(ReadProgCfg("x"), "2");
    EXPECT_EQ(ReadProgCfg("y"), "3");
    EXPECT_EQ(ReadProgCfg("z"), "4");
    WriteProgCfg("caveedit", "0");
    EXPECT_EQ(test::ReadText("KVD/prog.cfg"),
              "PER Name: Anna\r\ncaveedit: 0\r\nx: 2\r\ny: 3\r\n\r\nz: 4\r\n");
}

namespace {
void Crash(const std::string&) { throw std::runtime_error("crash before rename"); }
}  // namespace

TEST_F(LogFilesTest, CfgRewriteInterruptedBeforeRenameKeepsOldFile) {
    WriteProgCfg("PER Name", "Anna");
    WriteProgCfg("caveedit", "1");
    const std::string before = test::ReadText("KVD/prog.cfg");
    {
        test::BeforeRename crash(Crash);
        EXPECT_THROW(WriteProgCfg("caveedit", "0"), std::runtime_error);
    }
    EXPECT_EQ(test::ReadText("KVD/prog.cfg"), before);
    EXPECT_EQ(ReadProgCfg("PER Name"), "Anna");
}

TEST(ParseFloatTest, AcceptsPointAndCommaAndNamesTheChangedText) {
    EXPECT_DOUBLE_EQ(ParseFloat("2.5"), 2.5);
    EXPECT_DOUBLE_EQ(ParseFloat("2,5"), 2.5);
    EXPECT_DOUBLE_EQ(ParseFloat("  -1.5e2"), -150.0);
    EXPECT_DOUBLE_EQ(ParseFloat("+7"), 7.0);
    EXPECT_DOUBLE_EQ(ParseFloat("-0,25"), -0.25);
    auto message = [](const char* t) {
        try {
            ParseFloat(t);
        } catch (const Exception& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(message("abc"), "abc ist kein gültiger Gleitkommastring");
    EXPECT_EQ(message("2.5x"), "2,5x ist kein gültiger Gleitkommastring");
    EXPECT_EQ(message(""), " ist kein gültiger Gleitkommastring");
    EXPECT_EQ(message("1,2,3"), "1.2,3 ist kein gültiger Gleitkommastring");
    EXPECT_EQ(message("1e"), "1e ist kein gültiger Gleitkommastring");
}

TEST(ZeroPadIntTest, PadsMagnitudeAndPutsSignInFront) {
    EXPECT_EQ(ZeroPadInt(7, 2), "07");
    EXPECT_EQ(ZeroPadInt(1234, 2), "1234");
    EXPECT_EQ(ZeroPadInt(-5, 3), "-005");
    EXPECT_EQ(ZeroPadInt(0, 0), "0");
    EXPECT_EQ(ZeroPadInt(INT64_MIN, 1), "-9223372036854775808");
}

TEST(AnsiTest, RoundTripsEveryDefinedCodeAndLowersCase) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
    EXPECT_EQ(AnsiToUtf8("\x80"), "€");
    EXPECT_EQ(Utf8ToAnsi("日本"), "??");
    EXPECT_TRUE(SameTextIgnoreCase("ÄRGER", "ärger"));
    EXPECT_FALSE(SameTextIgnoreCase("abc", "abcd"));
    EXPECT_EQ(UpperCase("sperm1"), "SPERM1");
}
