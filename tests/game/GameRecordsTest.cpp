#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "game/GameRecords.h"
#include "game/LevelFile.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/SaveSteps.h"
#include "testsupport/TestSupport.h"

using namespace zx;

namespace {

using EnvBytes = std::array<uint8_t, kEnvDataSize>;

void PutI32(EnvBytes& b, size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}
void PutText(uint8_t* at, const std::string& ansi) {
    at[0] = static_cast<uint8_t>(ansi.size());
    std::memcpy(at + 1, ansi.data(), ansi.size());
}
std::string AsText(const EnvBytes& b) { return std::string(b.begin(), b.end()); }
// Offset of the first byte where two images differ, -1 when they are equal: a readable failure.
long FirstDiff(const EnvBytes& a, const EnvBytes& b) {
    auto m = std::mismatch(a.begin(), a.end(), b.begin());
    return m.first == a.end() ? -1 : static_cast<long>(m.first - a.begin());
}
std::string Bytes(const std::string& path) { return test::ReadText(path); }

// A record as another installation might have written it: every field set away from its
// default, and the padding and text tails filled with a marker the program must keep.
EnvBytes HandBuiltEnv() {
    EnvBytes b;
    b.fill(0xA5);
    b[0] = 7;
    b[1] = 8;
    b[2] = 2;  // SoundMode
    b[3] = 0;  // SoundOn
    b[4] = 9;
    b[6] = 0x34;  // reserved 16-bit 0x1234
    b[7] = 0x12;
    b[8] = 1;  // BottomBar
    b[9] = 0;  // Autostart
    b[10] = 3;
    b[11] = 0;  // MusicOn
    PutI32(b, 12, 127);
    PutI32(b, 16, 5);
    b[20] = 1;  // GraphicsSet
    PutI32(b, 24, 2);
    b[28] = 0;  // Transparency
    for (int i = 0; i < 10; ++i) {
        size_t at = 32 + 28 * static_cast<size_t>(i);
        PutText(&b[at], "N" + std::to_string(i) + (i == 0 ? "\xE9" : ""));
        PutI32(b, at + 24, 1000 - 10 * i);
    }
    PutText(&b[312], "J\xF6rg");
    PutText(&b[333], "ID-0123456789abcdef0123456789abc");  // 32 characters, full
    PutI32(b, 368, -1);
    PutText(&b[372], "Pub");
    PutText(&b[393], "Z\xFCrich");
    PutText(&b[414], "Deutschland");
    PutText(&b[435], "a@b.example");
    PutI32(b, 476, 42);
    b[480] = 'f';
    PutText(&b[481], "Sch\xF6n; = gut");
    PutI32(b, 564, 123456);
    PutI32(b, 568, 654321);
    b[572] = 0;  // FrontOn
    PutI32(b, 576, 30);
    for (int i = 0; i < 10; ++i)
        PutText(&b[580 + 101 * static_cast<size_t>(i)], "code" + std::to_string(i + 1));
    return b;
}

class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        EnvData = TEnvData{};
        GameData = TGameData{};
        messages.clear();
        platform::SetMessageHook([this](platform::MessageKind, const std::string& text) {
            messages.push_back(text);
            return true;
        });
    }
    void TearDown() override { platform::SetMessageHook(nullptr); }
    std::vector<std::string> messages;
};

}  // namespace

TEST_F(RecordsTest, HandBuiltEnvImageReadsFieldByFieldAndWritesBackTheSameBytes) {
    EnvBytes b = HandBuiltEnv();
    EnvDataFromBytes(EnvData, b);
    const TEnvData& e = EnvData;
    EXPECT_EQ(e.Reserved0, 7);
    EXPECT_EQ(e.Reserved1, 8);
    EXPECT_EQ(e.SoundMode, 2);
    EXPECT_FALSE(e.SoundOn);
    EXPECT_EQ(e.Reserved4, 9);
    EXPECT_EQ(e.Reserved6, 0x1234);
    EXPECT_TRUE(e.BottomBar);
    EXPECT_FALSE(e.Autostart);
    EXPECT_EQ(e.Reserved10, 3);
    EXPECT_FALSE(e.MusicOn);
    EXPECT_EQ(e.MusicVolume, 127);
    EXPECT_EQ(e.EffectsVolume, 5);
    EXPECT_EQ(e.GraphicsSet, 1);
    EXPECT_EQ(e.DisplayMode, 2);
    EXPECT_FALSE(e.Transparency);
    EXPECT_EQ(e.Highscores[0].Name, "N0é");
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(e.Highscores[static_cast<size_t>(i)].Score, 1000 - 10 * i);
    EXPECT_EQ(e.Highscores[9].Name, "N9");
    EXPECT_EQ(e.LastName, "Jörg");
    EXPECT_EQ(e.PlayerId, "ID-0123456789abcdef0123456789abc");
    EXPECT_EQ(e.Reserved368, -1);
    EXPECT_EQ(e.PublishName, "Pub");
    EXPECT_EQ(e.City, "Zürich");
    EXPECT_EQ(e.Country, "Deutschland");
    EXPECT_EQ(e.Email, "a@b.example");
    EXPECT_EQ(e.Age, 42);
    EXPECT_EQ(e.Sex, 'f');
    EXPECT_EQ(e.Comment, "Schön; = gut");
    EXPECT_EQ(e.GamesStarted, 123456);
    EXPECT_EQ(e.GamesWon, 654321);
    EXPECT_FALSE(e.FrontOn);
    EXPECT_EQ(e.BubblePercent, 30);
    EXPECT_EQ(e.ScoreCodes[0], "code1");
    EXPECT_EQ(e.ScoreCodes[9], "code10");

    EXPECT_EQ(FirstDiff(EnvDataToBytes(EnvData), b), -1) << "padding and text tails kept as read";

    // Changing a field rewrites its bytes only.
    EnvData.City = "Bern";
    EnvBytes after = EnvDataToBytes(EnvData);
    EXPECT_EQ(after[393], 4);
    EXPECT_EQ(std::string(after.begin() + 394, after.begin() + 398), "Bern");
    EXPECT_EQ(after[398], 'c') << "the old text's tail stays";
    after[393] = b[393];
    std::copy_n(b.begin() + 394, 4, after.begin() + 394);
    EXPECT_EQ(FirstDiff(after, b), -1);
}

TEST_F(RecordsTest, TextsAreCutToTheirRoomAndDamagedLengthsAreClamped) {
    EnvData.LastName = "Ein sehr langer Name mit Ümlauten";  // 33 characters
    EnvData.Comment = std::string(200, 'x');
    EnvBytes b = EnvDataToBytes(EnvData);
    EXPECT_EQ(b[312], 20);
    EXPECT_EQ(b[333], 0) << "the next field is untouched";
    EXPECT_EQ(b[481], 80);

    b[312] = 200;  // beyond the room of a string[20]
    EnvDataFromBytes(EnvData, b);
    EXPECT_EQ(EnvData.LastName.size(), 20u);
    EXPECT_EQ(EnvData.LastName, "Ein sehr langer Name");
}

TEST_F(RecordsTest, FirstStartWithoutFilesGivesTheDefaults) {
    EXPECT_EQ(LoadEnv(), "") << "nothing to tell the player";
    LoadGameData("KVD\\game.dat");
    const TEnvData& e = EnvData;
    EXPECT_EQ(e.DisplayMode, 0);
    EXPECT_EQ(e.MusicVolume, 100);
    EXPECT_EQ(e.EffectsVolume, 100);
    EXPECT_EQ(e.BubblePercent, 70);
    EXPECT_EQ(e.Country, "Schweiz");
    EXPECT_EQ(e.Sex, ' ');
    EXPECT_TRUE(e.SoundOn && e.MusicOn && e.Transparency && e.FrontOn && e.Autostart);
    EXPECT_FALSE(e.BottomBar);
    EXPECT_EQ(e.SoundMode, 1);
    for (const THighscore& h : e.Highscores) {
        EXPECT_EQ(h.Name, "");
        EXPECT_EQ(h.Score, -100000);
    }
    for (const std::string& c : e.ScoreCodes) EXPECT_EQ(c, "");
    EXPECT_EQ(GameData.Level, 1);
    EXPECT_EQ(GameData.PlayerName, "Spieler1");
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(FileExists("KVD\\env.dat")) << "loading writes nothing";

    EnvBytes b = EnvDataToBytes(EnvData);
    EXPECT_EQ(b[1], 1);
    EXPECT_EQ(b[6], 2);
    EXPECT_EQ(b[5], 0) << "padding of a first start is zero";
    EXPECT_EQ(std::string(b.begin() + 32 + 24, b.begin() + 32 + 28),
              std::string("\x60\x79\xFE\xFF", 4));
    EXPECT_EQ(std::string(b.begin() + 414, b.begin() + 422), "\x07Schweiz");
    EXPECT_EQ(b[480], ' ');
}

TEST_F(RecordsTest, PlainAndScrambledFilesBothRead) {
    EnvBytes b = HandBuiltEnv();
    test::WriteText("KVD/env.dat", AsText(b));
    EXPECT_EQ(LoadEnv(), "");
    EXPECT_EQ(FirstDiff(EnvDataToBytes(EnvData), b), -1) << "1592 bytes: the plain record";

    EnvData = TEnvData{};
    test::WriteText("KVD/env.dat", ScrambleLine(AsText(b)));
    ASSERT_EQ(std::filesystem::file_size(ResolvePath("KVD/env.dat")), 9552u);
    LoadEnv();
    EXPECT_EQ(FirstDiff(EnvDataToBytes(EnvData), b), -1) << "9552 bytes: unscrambled";
}

TEST_F(RecordsTest, SaveThenLoadGivesTheSameRecordThoughTheFileDiffers) {
    EnvDataFromBytes(EnvData, HandBuiltEnv());
    EnvBytes before = EnvDataToBytes(EnvData);
    SaveEnv();
    std::string first = Bytes("KVD/env.dat");
    EXPECT_EQ(first.size(), 9552u);
    SaveEnv();
    EXPECT_NE(Bytes("KVD/env.dat"), first) << "random fillers";

    EnvData = TEnvData{};
    LoadEnv();
    EXPECT_EQ(FirstDiff(EnvDataToBytes(EnvData), before), -1);
    EXPECT_FALSE(FileExists("KVD/env.dat.tmp"));
}

// Half a scrambled file, a cut plain one, an empty one or a record of garbage: none of them may
// become the player's highscores, nor be saved back over them.
TEST_F(RecordsTest, DamagedEnvFileIsKeptAsideAndTheDefaultsTakeItsPlace) {
    const EnvBytes good = HandBuiltEnv();
    const std::string scrambled = ScrambleLine(AsText(good));
    EnvBytes garbage = good;
    PutI32(garbage, 32 + 24, -5);  // place 1 below place 2
    EnvBytes longText = good;
    longText[435] = 41;  // Email is string[40]
    const std::string damaged[] = {scrambled.substr(0, 4776),
                                   AsText(good).substr(0, 30),
                                   "",
                                   AsText(good) + "x",
                                   scrambled.substr(0, 9551),
                                   AsText(garbage),
                                   ScrambleLine(AsText(longText)),
                                   std::string(2000, 'x')};
    for (const std::string& file : damaged) {
        test::ResetProgramDir();
        EnsureDataDir();
        test::WriteText("KVD/env.dat", file);
        const std::string note = LoadEnv();
        EXPECT_EQ(EnvData.Highscores[0].Score, kEmptyScore) << file.size();
        EXPECT_EQ(EnvData.City, "") << file.size();
        EXPECT_EQ(EnvData.Country, "Schweiz") << file.size();
        EXPECT_FALSE(FileExists("KVD/env.dat")) << file.size();
        EXPECT_EQ(Bytes("KVD/env.dat.damaged"), file) << "kept aside as it was";
        // No game ran: the log must not look like one that crashed.
        EXPECT_TRUE(test::LogLines().empty());
        EXPECT_TRUE(LogEndedOK());
        EXPECT_EQ(note, "The settings file " + ResolvePath("KVD/env.dat") + " was damaged (" +
                            std::to_string(file.size()) + " bytes) and has been kept as " +
                            ResolvePath("KVD/env.dat.damaged") +
                            ". The settings, highscores and player details were reset to their "
                            "defaults.");
    }
}

TEST_F(RecordsTest, DamagedEnvFileGivesWayToTheLastGoodCopy) {
    EnvDataFromBytes(EnvData, HandBuiltEnv());
    SaveEnv();
    EnvData.City = "Genf";
    SaveEnv();  // the first save is now the last good copy
    EXPECT_TRUE(FileExists("KVD/env.dat.good"));
    const std::string current = Bytes("KVD/env.dat");
    test::WriteText("KVD/env.dat", current.substr(0, 4776));
    EnvData = TEnvData{};
    const std::string note = LoadEnv();
    EXPECT_EQ(EnvData.City, "Zürich") << "the copy before the last save";
    EXPECT_EQ(EnvData.Highscores[0].Score, 1000);
    EXPECT_TRUE(test::LogLines().empty());
    EXPECT_NE(note.find("(4776 bytes)"), std::string::npos) << note;
    EXPECT_NE(note.find("The settings as they were saved before are used."), std::string::npos);
    // The next save writes a whole file again, and a damaged file is never kept as the good copy.
    SaveEnv();
    EnvData = TEnvData{};
    LoadEnv();
    EXPECT_EQ(EnvData.City, "Zürich");
    EXPECT_NE(Bytes("KVD/env.dat.good"), current.substr(0, 4776));
}

TEST_F(RecordsTest, SavesSyncTheFolderAndTheNextStartRemovesTheirLeftovers) {
    const int before = test::FolderSyncs();
    SaveEnv();
    SaveGameData("KVD\\game.dat");
    EXPECT_GE(test::FolderSyncs(), before + 2) << "each rename is followed by a folder sync";

    CreateDir("snd");
    CreateDir("Screenshots");
    for (const char* f :
         {"KVD/env.dat.tmp", "KVD/game.dat.tmp", "KVD/prog.cfg.tmp", "KVD/front.dat.tmp",
          "KVD/Level1.txt.tmp", "snd/back.wav.part", "Screenshots/Shot_1.jpg.tmp"})
        test::WriteText(f, "half");
    test::WriteText("KVD/keep.txt", "mine");
    RemoveSaveLeftovers();  // the start
    for (const char* f :
         {"KVD/env.dat.tmp", "KVD/game.dat.tmp", "KVD/prog.cfg.tmp", "KVD/front.dat.tmp",
          "KVD/Level1.txt.tmp", "snd/back.wav.part", "Screenshots/Shot_1.jpg.tmp"})
        EXPECT_FALSE(FileExists(f)) << f;
    EXPECT_TRUE(FileExists("KVD/keep.txt"));
    EXPECT_TRUE(FileExists("KVD/env.dat"));
}

TEST_F(RecordsTest, EnvFileAbove65535BytesIsNotMisreadAsPlain) {
    // 11592 characters scrambled are 69552 bytes; through a 16-bit size that would be 4016
    // bytes, small enough to pass for a plain record.
    EnvBytes b = HandBuiltEnv();
    test::WriteText("KVD/env.dat", ScrambleLine(AsText(b) + std::string(10000, 'z')));
    ASSERT_GT(std::filesystem::file_size(ResolvePath("KVD/env.dat")), 65535u);
    LoadEnv();
    EXPECT_EQ(FirstDiff(EnvDataToBytes(EnvData), b), -1);
}

TEST_F(RecordsTest, InterruptedSavesLeaveTheOldFilesWhole) {
    EnvDataFromBytes(EnvData, HandBuiltEnv());
    SaveEnv();
    GameData.Level = 4;
    SaveGameData("KVD\\game.dat");
    std::string oldEnv = Bytes("KVD/env.dat"), oldGame = Bytes("KVD/game.dat");

    {
        test::BeforeRename powerCut(
            [](const std::string&) { throw std::runtime_error("power cut"); });
        EnvData.City = "Genf";
        EnvData.Highscores[0].Score = 999999;
        GameData.Level = 9;
        EXPECT_THROW(SaveEnv(), std::runtime_error);
        EXPECT_THROW(SaveGameData("KVD\\game.dat"), std::runtime_error);
    }

    EXPECT_EQ(Bytes("KVD/env.dat"), oldEnv);
    EXPECT_EQ(Bytes("KVD/game.dat"), oldGame);
    LoadEnv();
    EXPECT_EQ(EnvData.City, "Zürich");
    EXPECT_EQ(EnvData.Highscores[0].Score, 1000);
    LoadGameData("KVD\\game.dat");
    EXPECT_EQ(GameData.Level, 4);
}

TEST_F(RecordsTest, SavesWithoutTheDataFolderRaiseInOutErrors) {
    test::ResetProgramDir();
    EXPECT_THROW(SaveEnv(), EInOutError);
    EXPECT_THROW(SaveGameData("KVD\\game.dat"), EInOutError);
}

TEST_F(RecordsTest, GameDataImageAndRoundTrip) {
    SetGameDataDefaults();
    GameData.Level = 258;
    SaveGameData("KVD\\game.dat");
    std::string f = Bytes("KVD/game.dat");
    ASSERT_EQ(f.size(), 116u);
    EXPECT_EQ(f.substr(0, 19),
              "\x12"
              "Game Datafile v2.0");
    EXPECT_EQ(f.substr(42, 2), "\x02\x01");
    EXPECT_EQ(f.substr(44, 9), "\x08Spieler1");

    GameData = TGameData{};
    LoadGameData("KVD\\game.dat");
    EXPECT_EQ(GameData.Level, 258);
    EXPECT_EQ(GameData.PlayerName, "Spieler1");
    EXPECT_EQ(GameData.Header, "Game Datafile v2.0");
    EXPECT_TRUE(messages.empty());
}

TEST_F(RecordsTest, GameDataWithAnotherHeaderGetsDefaultsSilentlyAndIsOverwritten) {
    std::string other(116, '\0');
    other.replace(0, 19, "\x12Game Datafile v1.0");
    other[42] = 5;
    test::WriteText("KVD/game.dat", other);
    GameData.Level = 3;
    LoadGameData("KVD\\game.dat");
    EXPECT_EQ(GameData.Level, 1);
    EXPECT_TRUE(messages.empty());
    SaveGameData("KVD\\game.dat");
    EXPECT_EQ(Bytes("KVD/game.dat").substr(0, 19),
              "\x12"
              "Game Datafile v2.0");

    test::WriteText("KVD/game.dat", "\x12Game");  // too short to hold a header
    GameData.Level = 3;
    LoadGameData("kvd/GAME.DAT");
    EXPECT_EQ(GameData.Level, 1) << "the standard file under another spelling";
}

TEST_F(RecordsTest, ShortGameDataWithValidHeaderKeepsWhatWasReadAndSaysSo) {
    SetGameDataDefaults();
    GameData.PlayerName = "Vorher";
    std::string part(50, '\0');
    part.replace(0, 19, "\x12Game Datafile v2.0");
    part[42] = 6;
    test::WriteText("KVD/game.dat", part);
    LoadGameData("KVD\\game.dat");
    EXPECT_EQ(GameData.Level, 6);
    EXPECT_EQ(GameData.PlayerName, "") << "the length byte at 44 was in the file";
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Spielstandfile und Spielstandvariable haben unterschiedliche Größen!");

    messages.clear();
    test::WriteText("KVD/game.dat", part.substr(0, 43));
    GameData.PlayerName = "Vorher";
    GameData.Level = 2;
    LoadGameData("KVD\\game.dat");
    EXPECT_EQ(GameData.Level, (2 & 0xFF00) | 6) << "only the low byte of Level was read";
    EXPECT_EQ(GameData.PlayerName, "Vorher");
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(RecordsTest, OtherGameFilesReportWhatIsWrong) {
    SetGameDataDefaults();
    GameData.Level = 3;
    LoadGameData("KVD\\save2.dat");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "KVD\\save2.dat: File nicht gefunden!");

    test::WriteText("KVD/save2.dat", std::string(116, 'x'));
    LoadGameData("KVD\\save2.dat");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "KVD\\save2.dat: Kein Spielstanddatei oder alte Version!");
    EXPECT_EQ(GameData.Level, 3) << "the record is left as it was";

    GameData.Level = 11;
    SaveGameData("KVD\\save2.dat");
    GameData.Level = 3;
    LoadGameData("KVD\\save2.dat");
    EXPECT_EQ(GameData.Level, 11);
    EXPECT_EQ(messages.size(), 2u);
}
