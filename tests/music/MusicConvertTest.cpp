#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "music/MPEGPlay.h"
#include "music/MusicConvert.h"
#include "platform/Dialogs.h"
#include "sprites/WaveFile.h"
#include "sprites/qvDSound.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/TestMp3.h"
#include "testsupport/TestSupport.h"

namespace {

using namespace zx;
namespace fs = std::filesystem;

std::string Dir() { return test::TempProgramDir(); }

struct Progress : IMusicProgress {
    int started = -1, steps = 0, finished = 0, polls = 0;
    bool closing = false;
    void Start(int count) override { started = count; }
    void Step() override { ++steps; }
    void Finish() override { ++finished; }
    bool Poll() override {
        ++polls;
        return !closing;
    }
};

bool HaveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

// An MP3 of a tone, seconds long, at 44100 Hz stereo.
void MakeMp3(const std::string& path, double seconds) {
    test::WriteMp3(path, 44100, 2, static_cast<int>(seconds * 44100), 128);
}

void SetMtime(const std::string& path, int64_t secondsFromNow) {
    fs::last_write_time(path,
                        fs::file_time_type::clock::now() + std::chrono::seconds(secondsFromNow));
}

class MusicTest : public testing::Test {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        CreateDir("snd");
        platform::SetMessageHook([this](platform::MessageKind, const std::string& t) {
            messages.push_back(t);
            return true;
        });
    }
    void TearDown() override {
        platform::SetMessageHook(nullptr);
        MusicPlayer.reset();
        PlayerCreated = false;
    }
    // The decoder library beside the executable, as the build puts it.
    void InstallLibrary() {
        fs::copy_file(ZOLVEX_MPEGDLL_FILE, Dir() + "/" + kMPEGLibraryName,
                      fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> messages;
};

TEST_F(MusicTest, LoadingChecksTheLibraryAndItsEntryPoints) {
    TMPEGPlayer p;
    p.PathToDLL = Dir() + "/nowhere";
    try {
        p.LoadDecoder();
        FAIL();
    } catch (const TMPEGError& e) {
        EXPECT_EQ(e.Message(), "Can't load MPEG library");
    }
    p.PathToDLL = std::string(ZOLVEX_BROKEN_MPEGDLL_DIR) + "/noseek";
    try {
        p.LoadDecoder();
        FAIL();
    } catch (const TMPEGError& e) {
        EXPECT_EQ(e.Code, 0);
        EXPECT_EQ(e.Message(), "MPEG library not loaded");
    }
    EXPECT_FALSE(p.Loaded());
    p.PathToDLL = std::string(ZOLVEX_BROKEN_MPEGDLL_DIR) + "/noinit/";
    try {
        p.LoadDecoder();
        FAIL();
    } catch (const TMPEGError& e) {
        EXPECT_EQ(e.Code, 1);
        EXPECT_EQ(e.Message(), "Internal decoder error");
    }
    EXPECT_FALSE(p.Loaded());
    EXPECT_THROW(p.UnloadDecoder(), TMPEGError);
    EXPECT_THROW(p.OpenStream(), TMPEGError);

    // The real one, found beside the executable when no folder is given.
    InstallLibrary();
    p.PathToDLL = "";
    p.LoadDecoder();
    EXPECT_TRUE(p.Loaded());
    try {
        p.OpenStream();
        FAIL();
    } catch (const TMPEGError& e) {
        EXPECT_EQ(e.Code, 254);
        EXPECT_EQ(e.Message(), "Can't play non-specified stream");
    }
    p.SetStreamName(Dir() + "/snd/none.mp3");
    try {
        p.OpenStream();
        FAIL();
    } catch (const TMPEGError& e) {
        EXPECT_EQ(e.Message(), "Input stream error");
    }
    p.UnloadDecoder();
    EXPECT_FALSE(p.Loaded());
    for (int code : {2, 4, 5}) EXPECT_LE(MPEGErrorText(code).size(), 50u);
}

TEST_F(MusicTest, PlayerCountsItsStartsAndReportsTheEnd) {
    MakeMp3(Dir() + "/snd/a.mp3", 1.0);
    TMPEGPlayer p;
    p.PathToDLL = fs::path(ZOLVEX_MPEGDLL_FILE).parent_path().string();
    p.LoadDecoder();
    p.SetStreamName(Dir() + "/snd/a.mp3");
    p.OutFilename = Dir() + "/snd/a.wav";
    p.OutputDevice = TOutputDevice::pcmfile;
    p.PlayerPriority = TPlayerPriority::ppIdle;
    p.OpenStream();
    EXPECT_EQ(p.PlayedXTimes, 1);
    EXPECT_NEAR(p.Length(), 1000, 60);
    p.Play();
    EXPECT_EQ(p.PlayedXTimes, 2);
    EXPECT_TRUE(p.IsPlaying());
    int polls = 0;
    while (!p.IsDone() && polls++ < 6000) usleep(10000);
    EXPECT_FALSE(p.IsPlaying());
    p.CloseStream();
    EXPECT_EQ(p.PlayedXTimes, 0);
    TWaveInfo w = ReadWaveInfo(Dir() + "/snd/a.wav");
    EXPECT_EQ(w.Format.samplesPerSec, 44100u);
}

TEST_F(MusicTest, ConvertsNewMusicSkipsUpToDateWavesAndRedoesTouchedOnes) {
    InstallLibrary();
    const std::string mp3 = Dir() + "/snd/music1.mp3";
    MakeMp3(mp3, 1.5);
    SetMtime(mp3, -100);

    Progress pr;
    EXPECT_TRUE(ConvertMusic(&pr));
    EXPECT_EQ(pr.started, 1);
    EXPECT_EQ(pr.steps, 1);
    EXPECT_EQ(pr.finished, 1);
    EXPECT_FALSE(PlayerCreated);
    EXPECT_EQ(MusicPlayer, nullptr);
    const std::string wav = Dir() + "/snd/music1.wav";
    ASSERT_TRUE(fs::exists(wav));
    TWaveInfo w = ReadWaveInfo(wav);
    EXPECT_EQ(w.Format.samplesPerSec, 44100u);
    EXPECT_EQ(w.Format.channels, 2);
    EXPECT_NEAR(w.DataSize / 4.0 / 44100.0, 1.5, 0.06);
    EXPECT_FALSE(fs::exists(wav + ".part"));
    for (const auto& m : messages) ADD_FAILURE() << m;

    // Up to date: nothing is shown, nothing is written.
    auto before = fs::last_write_time(wav);
    Progress again;
    EXPECT_TRUE(ConvertMusic(&again));
    EXPECT_EQ(again.started, -1);
    EXPECT_EQ(fs::last_write_time(wav), before);

    // A newer MP3 is converted again.
    SetMtime(mp3, 100);
    Progress touched;
    EXPECT_TRUE(ConvertMusic(&touched));
    EXPECT_EQ(touched.started, 1);
    EXPECT_NE(fs::last_write_time(wav), before);
}

TEST_F(MusicTest, NoMusicMeansNoPanelAndNoLibrary) {
    std::ofstream(Dir() + "/snd/effect.wav") << "x";
    Progress pr;
    EXPECT_TRUE(ConvertMusic(&pr));  // no library installed, and none needed
    EXPECT_EQ(pr.started, -1);
}

TEST_F(MusicTest, MissingLibraryReachesTheCallerAndLeavesNoPlayer) {
    std::ofstream(Dir() + "/snd/m.mp3") << "x";
    Progress pr;
    try {
        ConvertMusic(&pr);
        FAIL();
    } catch (const TMPEGError& e) {
        EXPECT_EQ(e.Message(), "Can't load MPEG library");
    }
    EXPECT_EQ(pr.finished, 1);
    EXPECT_EQ(MusicPlayer, nullptr);
    EXPECT_FALSE(PlayerCreated);
}

TEST_F(MusicTest, BrokenFilesAreReportedLeaveNoWaveAndTheListStopsAtAHundred) {
    InstallLibrary();
    for (int i = 0; i < 101; ++i)
        std::ofstream(Dir() + "/snd/bad" + std::to_string(1000 + i) + ".mp3") << "not music";
    Progress pr;
    EXPECT_TRUE(ConvertMusic(&pr));
    EXPECT_EQ(pr.started, kMaxMusicPairs);
    EXPECT_EQ(pr.steps, 0);
    ASSERT_EQ(messages.size(), 100u);
    std::string want =
        "MP3 conversion error on " + Dir() + "/snd/bad1000.mp3\r\nInput stream error";
    EXPECT_EQ(messages.front(), want);
    EXPECT_TRUE(test::LogLines().empty()) << "no game ran: the log is not the conversion's";
    for (const auto& e : fs::directory_iterator(Dir() + "/snd"))
        EXPECT_EQ(e.path().extension(), ".mp3") << e.path();
}

// A file that cannot be converted is told once, not at every activation. Changed, it is tried
// again.
TEST_F(MusicTest, AFileThatFailedIsNotTriedAgainUntilItChanges) {
    InstallLibrary();
    const std::string mp3 = Dir() + "/snd/broken.mp3";
    std::ofstream(mp3) << "not music";
    SetMtime(mp3, -100);
    EXPECT_TRUE(ConvertMusic(nullptr));
    ASSERT_EQ(messages.size(), 1u);
    Progress again;
    EXPECT_TRUE(ConvertMusic(&again));
    EXPECT_EQ(again.started, -1) << "nothing to convert";
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(LogEndedOK());

    // Replaced by a good file of the same name: converted.
    MakeMp3(mp3, 0.5);
    EXPECT_TRUE(ConvertMusic(nullptr));
    EXPECT_EQ(messages.size(), 1u) << messages.back();
    EXPECT_TRUE(fs::exists(Dir() + "/snd/broken.wav"));
}

// A music folder that takes no file: one clear message, nothing in the log (no game ran, and no
// disk is full), and the launcher may start the game, which plays without the music.
TEST_F(MusicTest, AFolderThatCannotBeWrittenIsToldOnceAndBlocksNoGame) {
    InstallLibrary();
    MakeMp3(Dir() + "/snd/back.mp3", 0.2);
    MakeMp3(Dir() + "/snd/tune.mp3", 0.2);
    // Where the wave of each would be written, something that cannot be a file.
    fs::create_directory(Dir() + "/snd/back.wav.part");
    fs::create_directory(Dir() + "/snd/tune.wav.part");
    EXPECT_TRUE(ConvertMusic(nullptr)) << "no lack of space";
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("The music cannot be converted: the folder " + ResolvePath("snd") +
                                    " cannot be written (",
                                0),
              0u)
        << messages[0];
    EXPECT_NE(messages[0].find("The game plays without it."), std::string::npos);
    EXPECT_TRUE(test::LogLines().empty());
    EXPECT_TRUE(ConvertMusic(nullptr));
    EXPECT_EQ(messages.size(), 1u) << "told once";

    // Writable again: converted, and a later failure is told again.
    fs::remove(Dir() + "/snd/back.wav.part");
    fs::remove(Dir() + "/snd/tune.wav.part");
    EXPECT_TRUE(ConvertMusic(nullptr));
    EXPECT_TRUE(fs::exists(Dir() + "/snd/back.wav"));
    EXPECT_EQ(messages.size(), 1u);
}

// A cache folder that is a file (or cannot be written): no drive lacks space, so the game may
// start and plays without the music; the message names the folder and the reason.
TEST_F(MusicTest, AMisplacedCacheFolderIsToldAsSuchAndClaimsNoLackOfSpace) {
    InstallLibrary();
    MakeMp3(Dir() + "/snd/back.mp3", 0.2);
    const std::string cache = Dir() + "/cache";
    std::ofstream(cache) << "a file where the folder belongs";
    TFolders f = TFolders::Single(Dir());
    f.Cache = cache;
    SetFolders(f);
    const bool ready = ConvertMusic(nullptr);
    SetFolders(TFolders::Single(Dir()));
    EXPECT_TRUE(ready);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "The music cannot be converted: the folder " + cache +
                               "/snd cannot be written (Not a directory). The game plays "
                               "without it.");
    EXPECT_FALSE(fs::exists(Dir() + "/snd/back.wav"));
}

// The window closing while a file converts stops the conversion at once: no wave, no temporary
// file, nothing told, and the file is not taken for a failed one (the next start converts it).
TEST_F(MusicTest, AWindowClosingDuringTheConversionStopsItAndTheNextStartConvertsAgain) {
    InstallLibrary();
    MakeMp3(Dir() + "/snd/back.mp3", 2);
    MakeMp3(Dir() + "/snd/tune.mp3", 0.2);
    Progress closing;
    closing.closing = true;
    EXPECT_TRUE(ConvertMusic(&closing));
    EXPECT_EQ(closing.polls, 1) << "asked once, then stopped";
    EXPECT_EQ(closing.steps, 0);
    EXPECT_EQ(closing.finished, 1);
    EXPECT_TRUE(messages.empty());
    for (const auto& e : fs::directory_iterator(Dir() + "/snd"))
        EXPECT_EQ(e.path().extension(), ".mp3") << e.path();
    Progress open;
    EXPECT_TRUE(ConvertMusic(&open));
    EXPECT_EQ(open.steps, 2);
    EXPECT_GE(open.polls, 2);
    EXPECT_TRUE(fs::exists(Dir() + "/snd/back.wav"));
}

// A converted wave damaged later (cut, overwritten) is newer than its MP3 all the same: it is
// converted again, not kept for good.
TEST_F(MusicTest, ADamagedWaveNewerThanItsMp3IsConvertedAgain) {
    InstallLibrary();
    const std::string mp3 = Dir() + "/snd/back.mp3", wav = Dir() + "/snd/back.wav";
    MakeMp3(mp3, 0.5);
    SetMtime(mp3, -100);
    ASSERT_TRUE(ConvertMusic(nullptr));
    const auto whole = fs::file_size(wav);
    for (const std::string& damage : {std::string("garbage"), std::string("cut")}) {
        SCOPED_TRACE(damage);
        if (damage == "cut")
            fs::resize_file(wav, whole / 2);
        else
            std::ofstream(wav, std::ios::binary) << std::string(5000, 'x');
        SetMtime(wav, 0);
        Progress pr;
        EXPECT_TRUE(ConvertMusic(&pr));
        EXPECT_EQ(pr.steps, 1);
        EXPECT_EQ(fs::file_size(wav), whole);
    }
    Progress none;
    EXPECT_TRUE(ConvertMusic(&none));
    EXPECT_EQ(none.started, -1) << "a whole wave is kept";
}

TEST_F(MusicTest, SpaceForTwentyTimesTheMp3IsNeeded) {
    const std::string mp3 = Dir() + "/snd/big.mp3";
    { std::ofstream f(mp3); }
    ASSERT_EQ(truncate(mp3.c_str(), 10 * 1000 * 1000), 0);
    auto freeBytes = [](uint64_t n) {
        return [n](const std::string&) { return std::optional<uint64_t>(n); };
    };
    EXPECT_FALSE(CheckSoundSpace(mp3, freeBytes(200u * 1000 * 1000)));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Not enough space for sounds on drive " + mp3.substr(0, 1) + ":\\");
    EXPECT_TRUE(CheckSoundSpace(mp3, freeBytes(200u * 1000 * 1000 + 1)));

    // Without room the conversion stops, reports false and writes nothing.
    InstallLibrary();
    Progress pr;
    EXPECT_FALSE(ConvertMusic(&pr, freeBytes(0)));
    EXPECT_FALSE(fs::exists(Dir() + "/snd/big.wav"));
    EXPECT_EQ(pr.finished, 1);
}

// The shipped music, converted as at the first start, and then every sound the game asks for.
TEST_F(MusicTest, ShippedMusicConvertsAndTheGameFindsEverySound) {
    const std::string built = test::BuiltProgramDir() + "/snd";
    if (!fs::exists(built + "/back.mp3")) GTEST_SKIP() << "the generated content is not built";
    // The effects and the MP3s as shipped; waves the game converted there already are left out.
    for (const auto& e : fs::directory_iterator(built)) {
        const bool mp3 = e.path().extension() == ".mp3";
        const bool effect = e.path().extension() == ".wav" &&
                            !fs::exists(fs::path(e.path()).replace_extension(".mp3"));
        if (mp3 || effect) fs::copy_file(e.path(), Dir() + "/snd/" + e.path().filename().string());
    }
    InstallLibrary();
    Progress pr;
    ASSERT_TRUE(ConvertMusic(&pr));
    EXPECT_EQ(pr.started, 3);
    EXPECT_EQ(pr.steps, 3);
    for (const auto& m : messages) ADD_FAILURE() << m;
    if (HaveSox()) {
        for (std::string name : {"back", "Track 30", "TR_36_03"}) {
            std::string mp3 = Dir() + "/snd/" + name + ".mp3";
            std::string out;
            FILE* p =
                popen(("soxi -D '" + mp3 + "' 2>/dev/null; soxi -r '" + mp3 + "'").c_str(), "r");
            char buf[128];
            while (p && fgets(buf, sizeof buf, p)) out += buf;
            if (p) pclose(p);
            double seconds = 0;
            unsigned rate = 0;
            ASSERT_EQ(std::sscanf(out.c_str(), "%lf %u", &seconds, &rate), 2) << out;
            TWaveInfo w = ReadWaveInfo(Dir() + "/snd/" + name + ".wav");
            EXPECT_EQ(w.Format.samplesPerSec, rate) << name;
            EXPECT_NEAR(w.DataSize / static_cast<double>(w.Format.blockAlign) / rate, seconds, 0.06)
                << name;
        }
    }

    TqvDSound snd(nullptr, true, false, 44100, 16, 2);
    ASSERT_FALSE(snd.InitFailed);
    snd.LoadDir(ProgramDir() + "\\snd");
    for (std::string name :
         {"abroll",   "back",     "bigtime",    "bubble",  "bubbleize", "coming",   "leer",
          "schussab", "sperm3",   "spermdurch", "Torpedo", "Track 30",  "TR_06_03", "TR_36_03",
          "TR_50_07", "TR_50_08", "TR_66_02",   "virus1",  "virus2",    "virus3"}) {
        TqvDSoundFile* f = snd.FindWave(name);
        EXPECT_FALSE(f->Disabled) << name;
        EXPECT_GT(f->DataSize, 0) << name;
    }
}

}  // namespace

// A conversion killed at any instant leaves the old wave or the new one, never a torn one, and
// its temporary file goes at the next start.
TEST_F(MusicTest, ConversionKilledAtRandomLeavesNoTornWave) {
    if (!HaveSox()) GTEST_SKIP() << "sox is needed to make an MP3";
    InstallLibrary();
    const std::string mp3 = Dir() + "/snd/music1.mp3";
    const std::string wav = Dir() + "/snd/music1.wav";
    MakeMp3(mp3, 0.5);
    SetMtime(mp3, -100);
    Progress first;
    ASSERT_TRUE(ConvertMusic(&first));
    const std::string whole = test::ReadText("snd/music1.wav");
    ASSERT_GT(whole.size(), 44u);
    // From now on the MP3 is always newer, so every pass converts it again.
    SetMtime(mp3, 100000);
    srand(7);
    for (int k = 0; k < 200; ++k) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                Progress p;
                if (!ConvertMusic(&p)) _exit(2);
            }
        }
        usleep(static_cast<useconds_t>(rand() % 6000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the converting child failed by itself";
        RemoveSaveLeftovers();
        ASSERT_EQ(test::ReadText("snd/music1.wav"), whole) << "torn after kill " << k;
        ASSERT_FALSE(fs::exists(wav + ".part"));
    }
}
