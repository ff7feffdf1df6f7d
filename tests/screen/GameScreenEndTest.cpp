// The game screen always comes back to its caller in an orderly way, with the log's last line
// telling how: a close button's double request, a log that cannot be written, a failing input
// handler and a state file that cannot be saved.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <thread>

#include "game/FrontUnit.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/scoreunit.h"
#include "platform/Ticks.h"
#include "screen/DDrawUnit.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/TestSupport.h"
#include "tools/autoplay/GameDriver.h"

using namespace zx;
namespace fs = std::filesystem;

namespace {

// A hang is the fault some of these tests look for: rather than wait for the test runner's
// time-out, the process ends with a message naming the step that hung.
class Watchdog {
public:
    Watchdog(const char* what, int seconds) : what_(what) {
        thread_ = std::thread([this, seconds] {
            std::unique_lock lock(m_);
            if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
                std::fprintf(stderr, "hung: %s\n", what_);
                std::_Exit(1);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    const char* what_;
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

size_t Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}
size_t CountStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

void PushWindowEvent(uint32_t window, uint8_t event) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = window;
    e.window.event = event;
    SDL_PushEvent(&e);
}

void PushQuit() {
    SDL_Event e{};
    e.type = SDL_QUIT;
    SDL_PushEvent(&e);
}

class GameScreenEndTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void TearDown() override {
        screen.reset();
        GameScreen = nullptr;
    }
    void Open() {
        test::ResetProgramDir();
        PrepareGameDir(test::BuiltProgramDir(), test::TempProgramDir(), TMusic::StandIns);
        SetEnvDefaults();
        SetGameDataDefaults();
        screen = std::make_unique<TDDFullScreenForm1>();
        GameScreen = screen.get();
        screen->SetDisplayKind(2);
        screen->Show();
        ASSERT_FALSE(screen->ErrorFlag) << test::LogLines().back();
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) screen->Threadnotify(1);
    }
    void Key(int32_t vk, bool ctrl = false) {
        screen->HandleMessage({TInputMessage::KeyDown, vk, ctrl});
    }
    void Char(int32_t c) { screen->HandleMessage({TInputMessage::Char, c, false}); }
    void Click() { screen->HandleMessage({TInputMessage::MouseDown, SDL_BUTTON_LEFT, false}); }
    bool In(TDDFullScreenForm1::TStateProc p) const { return screen->GlsProc == p; }
    void Play() {
        Ticks(2);
        Click();
        Ticks(105);
        ASSERT_TRUE(In(&TDDFullScreenForm1::glsLoop));
    }
    // Runs the window's own loop (frames from the loop thread included) until it has closed.
    bool RunUntilClosed(int ms) {
        const uint32_t until = platform::GetTickCount() + static_cast<uint32_t>(ms);
        while (!screen->IsClosed() && static_cast<int32_t>(platform::GetTickCount() - until) < 0)
            screen->ProcessEvent(10);
        return screen->IsClosed();
    }
    // Handles the events queued so far. A poll may stop at SDL's poll sentinel with events still
    // behind it, so it goes on until the queue is empty.
    void DrainEvents() {
        for (int i = 0; i < 1000; ++i) {
            screen->ProcessEvent(0);
            SDL_PumpEvents();
            if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) <= 0)
                break;
        }
    }

    std::unique_ptr<TDDFullScreenForm1> screen;
};

}  // namespace

// One click on the close button is one request (SDL is told not to follow the window's close
// event with a quit event of its own), refused the first time; the screen winds down through its
// states.
TEST_F(GameScreenEndTest, OneClickOnTheCloseButtonIsOneRefusedRequest) {
    EXPECT_FALSE(SDL_GetHintBoolean(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, SDL_TRUE));
    Play();
    const uint32_t win = screen->Window().Id();
    PushWindowEvent(win, SDL_WINDOWEVENT_CLOSE);
    DrainEvents();
    EXPECT_FALSE(screen->IsClosed()) << "the first request is refused";
    EXPECT_TRUE(screen->Closing);
    auto lines = test::LogLines();
    EXPECT_EQ(Count(lines, "FormClose: Reclose"), 1u);
    EXPECT_EQ(Count(lines, "FormClose: End"), 0u);
    Ticks(2);
    EXPECT_TRUE(In(&TDDFullScreenForm1::glsInfo));
    EXPECT_TRUE(FileExists("KVD\\game.dat")) << "the state is saved on the way out";
    // A second request (here the quit a signal brings) closes.
    PushQuit();
    DrainEvents();
    EXPECT_TRUE(screen->IsClosed());
    screen.reset();
    EXPECT_EQ(test::LogLines().back(), "OK");
}

// A logout or a kill during a game: the screen goes through its states, saving on the way, and
// ends without waiting for a click on the info picture (9000 ticks: three minutes).
TEST_F(GameScreenEndTest, AnEndRequestMidGameClosesWithoutWaitingAtTheInfoPicture) {
    Play();
    screen->PostEnd();
    DrainEvents();
    Ticks(3);
    EXPECT_TRUE(FileExists("KVD\\game.dat")) << "the state is saved on the way out";
    Ticks(2);
    EXPECT_TRUE(In(&TDDFullScreenForm1::glsIdle)) << "past the info picture";
    {
        Watchdog dog("the game screen after an end request", 30);
        EXPECT_TRUE(RunUntilClosed(5000));
    }
    auto lines = test::LogLines();
    EXPECT_EQ(Count(lines, "glsInfo: End"), 1u);
    EXPECT_EQ(Count(lines, "Back: Start"), 1u);
    screen.reset();
    EXPECT_EQ(test::LogLines().back(), "OK") << "an asked-for end is a normal end";
}

// The same request while the title waits for the first click.
TEST_F(GameScreenEndTest, AnEndRequestAtTheTitleClosesToo) {
    Ticks(2);
    ASSERT_TRUE(In(&TDDFullScreenForm1::glsBegin));
    screen->PostEnd();
    DrainEvents();
    Ticks(5);
    {
        Watchdog dog("the game screen after an end request at the title", 30);
        EXPECT_TRUE(RunUntilClosed(5000));
    }
    screen.reset();
    EXPECT_EQ(test::LogLines().back(), "OK");
}

TEST_F(GameScreenEndTest, TheCaveEditorKeepsItsPlacementsWhenTheCloseButtonIsClicked) {
    screen.reset();
    test::ResetProgramDir();
    PrepareGameDir(test::BuiltProgramDir(), test::TempProgramDir(), TMusic::StandIns);
    SetEnvDefaults();
    WriteProgCfg("caveedit", "1");
    screen = std::make_unique<TDDFullScreenForm1>();
    GameScreen = screen.get();
    screen->SetDisplayKind(2);
    screen->Show();
    Ticks(1);
    ASSERT_TRUE(In(&TDDFullScreenForm1::glsCaveEdit));
    const fs::path cave = fs::path(test::TempProgramDir()) / "KVD" / "front.dat";
    fs::remove(cave);
    PushWindowEvent(screen->Window().Id(), SDL_WINDOWEVENT_CLOSE);
    DrainEvents();
    ASSERT_FALSE(screen->IsClosed());
    Ticks(2);
    EXPECT_TRUE(fs::exists(cave)) << "leaving the editor saves the cave";
    EXPECT_TRUE(In(&TDDFullScreenForm1::glsInfo));
}

// LOG.TXT replaced by a folder mid-game: the screen ends on its own, promptly, says why, and its
// destruction does not wait for a frame that will never come.
TEST_F(GameScreenEndTest, ALogThatCannotBeWrittenEndsTheScreenInsteadOfHanging) {
    Play();
    const fs::path log = fs::path(test::TempProgramDir()) / "KVD" / "LOG.TXT";
    fs::remove(log);
    fs::create_directory(log);
    {
        Watchdog dog("the game screen with an unwritable log", 30);
        EXPECT_NO_THROW(Key(VK_ESCAPE));  // the handler's own log line fails
        Ticks(3);
        EXPECT_TRUE(screen->ErrorFlag);
        EXPECT_FALSE(screen->LogFailure().empty());
        EXPECT_TRUE(RunUntilClosed(5000)) << "the screen ends by itself";
        screen.reset();
    }
    fs::remove(log);
}

TEST_F(GameScreenEndTest, ALogThatFailsInsideAFrameEndsTheScreenToo) {
    Play();
    const fs::path log = fs::path(test::TempProgramDir()) / "KVD" / "LOG.TXT";
    {
        Watchdog dog("a frame whose error line cannot be written", 30);
        // The state's first log line fails, and then the frame's own error line.
        screen->Closing = true;
        fs::remove(log);
        fs::create_directory(log);
        EXPECT_NO_THROW(Ticks(1));
        EXPECT_TRUE(screen->ErrorFlag);
        EXPECT_TRUE(RunUntilClosed(5000));
        screen.reset();
    }
    fs::remove(log);
}

// Ctrl+P with Screenshots a plain file: the failure is the screen's, not the caller's.
TEST_F(GameScreenEndTest, AFailingScreenshotIsLoggedAndWindsTheScreenDown) {
    Play();
    test::WriteText("Screenshots", "not a folder");
    EXPECT_NO_THROW(Key('P', true));
    EXPECT_TRUE(screen->ErrorFlag);
    EXPECT_TRUE(screen->Closing);
    EXPECT_EQ(CountStarting(test::LogLines(), "Exception raised in FormKeyDown: "), 1u);
    Ticks(2);
    EXPECT_TRUE(In(&TDDFullScreenForm1::glsInfo)) << "through glsExit";
    Click();
    Ticks(2);
    EXPECT_TRUE(RunUntilClosed(3000));
    screen.reset();
    EXPECT_EQ(test::LogLines().back(), "ERROR");
    EXPECT_FALSE(LogEndedOK());
}

// A settings file that cannot be written when the name of a new highscore is confirmed.
TEST_F(GameScreenEndTest, AFailedSaveAfterTheNameEntryEndsTheLogWithError) {
    Play();
    fs::create_directory(fs::path(test::TempProgramDir()) / "KVD" / "env.dat");
    // Lose at once: a virus gets through, and a first game's score is a new highscore.
    Anzeige->ScoreDisplay->Points = 700;
    Anzeige->Lost = true;
    for (int i = 0; i < 400 && !Anzeige->AnyEntryEditing(); ++i) Ticks(1);
    ASSERT_TRUE(Anzeige->AnyEntryEditing());
    Char('A');
    EXPECT_NO_THROW(Char(13));
    EXPECT_TRUE(screen->ErrorFlag);
    EXPECT_EQ(CountStarting(test::LogLines(), "Exception raised in FormKeyPress: "), 1u);
    Ticks(3);
    EXPECT_TRUE(In(&TDDFullScreenForm1::glsInfo));
    Key(VK_ESCAPE);
    Ticks(2);
    EXPECT_TRUE(RunUntilClosed(3000));
    screen.reset();
    EXPECT_EQ(test::LogLines().back(), "ERROR");
}

// game.dat a folder: glsExit runs once, logs the failure once, and the screen goes on.
TEST_F(GameScreenEndTest, AStateFileThatCannotBeSavedIsLoggedOnceAndTheScreenGoesOn) {
    Play();
    fs::create_directory(fs::path(test::TempProgramDir()) / "KVD" / "game.dat");
    Key(VK_ESCAPE);
    Ticks(50);
    auto lines = test::LogLines();
    EXPECT_EQ(Count(lines, "glsExit: Start"), 1u);
    EXPECT_EQ(CountStarting(lines, "Exception raised in glsExit while SaveGameData: "), 1u);
    EXPECT_TRUE(In(&TDDFullScreenForm1::glsInfo));
    Key(VK_ESCAPE);
    Ticks(2);
    EXPECT_TRUE(Count(test::LogLines(), "glsEnd: End") == 1u);
    EXPECT_TRUE(RunUntilClosed(3000));
    screen.reset();
    EXPECT_EQ(test::LogLines().back(), "ERROR");
}

// The same after a lost game (no Escape): the failed save still leads out through the info
// picture instead of starting a new level on a state that was not saved.
TEST_F(GameScreenEndTest, AFailedSaveAfterAFinishedGameLeavesThroughTheInfoPicture) {
    Play();
    fs::create_directory(fs::path(test::TempProgramDir()) / "KVD" / "game.dat");
    Clicked = true;
    ResultLost = true;
    Ticks(3);
    EXPECT_EQ(Count(test::LogLines(), "glsExit: Start"), 1u);
    EXPECT_TRUE(In(&TDDFullScreenForm1::glsInfo));
}

// Running out of memory is not one of the program's own errors, and still ends the set-up the
// way every failure of it does.
TEST_F(GameScreenEndTest, OutOfMemoryDuringSetUpEndsTheScreenWithError) {
    screen.reset();
    screen = std::make_unique<TDDFullScreenForm1>();
    GameScreen = screen.get();
    screen->SetDisplayKind(2);
    screen->CreateDirectDraw = [](platform::GameWindow*,
                                  std::unique_ptr<platform::DirectDraw>&) -> platform::HRESULT {
        throw std::bad_alloc();
    };
    EXPECT_NO_THROW(screen->Show());
    EXPECT_TRUE(screen->ErrorFlag);
    EXPECT_FALSE(screen->LoopRunning);
    EXPECT_EQ(Count(test::LogLines(), "Error initiating DirectX: std::bad_alloc"), 1u);
    EXPECT_TRUE(RunUntilClosed(3000));
    screen.reset();
    EXPECT_EQ(test::LogLines().back(), "ERROR");
}

namespace {

// Plays on a small file system of its own, fills it to the last byte and leaves the game, as on a
// disk that fills up during play. Runs in a process of its own; ends it with 0 when the screen
// came back by itself with a clear error and the state file that the way out saves is whole.
[[noreturn]] void PlayUntilTheDiskIsFull() {
    auto fail = [](const std::string& why) {
        std::fprintf(stderr, "full disk: %s\n", why.c_str());
        std::_Exit(1);
    };
    test::ResetProgramDir();
    std::string why;
    if (!test::MountPrivateTmpfs(test::TempProgramDir(), 256u << 20, why)) fail(why);
    PrepareGameDir(test::BuiltProgramDir(), test::TempProgramDir(), TMusic::StandIns);
    SetEnvDefaults();
    SetGameDataDefaults();
    SaveEnv();
    // The way out of a game saves the state file: on a full disk that save must fail and leave
    // the last one whole. The name marks the old file, which a new save would not write.
    GameData.PlayerName = "before";
    SaveGameData("KVD\\game.dat");
    GameData.PlayerName = "after";
    const std::string game = test::ReadText("KVD\\game.dat");
    auto screen = std::make_unique<TDDFullScreenForm1>();
    GameScreen = screen.get();
    screen->SetDisplayKind(2);
    screen->Show();
    for (int i = 0; i < 2; ++i) screen->Threadnotify(1);
    screen->HandleMessage({TInputMessage::MouseDown, SDL_BUTTON_LEFT, false});
    for (int i = 0; i < 105; ++i) screen->Threadnotify(1);
    if (screen->ErrorFlag) fail("failed before the disk was full");

    const std::string filler = test::FillFileSystem(test::TempProgramDir());
    screen->HandleMessage({TInputMessage::KeyDown, VK_ESCAPE, false});
    const uint32_t until = platform::GetTickCount() + 10000;
    while (!screen->IsClosed() && static_cast<int32_t>(platform::GetTickCount() - until) < 0) {
        screen->ProcessEvent(5);
        if (screen->GlsProc == &TDDFullScreenForm1::glsInfo)
            screen->HandleMessage({TInputMessage::MouseDown, SDL_BUTTON_LEFT, false});
    }
    if (!screen->IsClosed()) fail("the screen did not come back");
    if (!screen->ErrorFlag) fail("no error recorded");
    const std::string failure = screen->LogFailure();
    screen.reset();
    GameScreen = nullptr;
    fs::remove(filler);
    const auto lines = test::LogLines();
    if (failure.empty() && (lines.empty() || lines.back() != "ERROR"))
        fail("neither a log failure nor ERROR");
    if (test::ReadText("KVD\\game.dat") != game) fail("game.dat is not the last whole file");
    std::fprintf(stderr, "full disk: %s\n", failure.empty() ? "log ends ERROR" : failure.c_str());
    std::_Exit(0);
}

}  // namespace

TEST(GameScreenFullDiskTest, AFullDiskDuringPlayEndsTheScreenWithAClearErrorAndDamagesNoFile) {
    std::string why;
    if (!test::CanMountPrivateTmpfs(why)) GTEST_SKIP() << "no real full disk here: " << why;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(PlayUntilTheDiskIsFull(), testing::ExitedWithCode(0), "full disk: ");
}
