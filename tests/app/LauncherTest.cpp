#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "app/EditorUnit.h"
#include "app/InfoUnit.h"
#include "app/Main.h"
#include "app/NewHighscoreUnit.h"
#include "app/Static.h"
#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "game/LevelFile.h"
#include "music/MPEGPlay.h"
#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "platform/GameInfo.h"
#include "platform/Shell.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/SystemInfo.h"
#include "testsupport/Desktop.h"
#include "testsupport/LauncherFixture.h"
#include "testsupport/LocalHttpServer.h"
#include "testsupport/QtTestSupport.h"
#include "testsupport/Sockets.h"
#include "testsupport/TestSupport.h"

namespace {

using namespace zx;
namespace fs = std::filesystem;

const std::string kQuestion =
    "An error occurred during the execution of the program. Would you like the program to look at "
    "our "
    "errors&&solutions internet page if the error already is known and if there is a way to fix "
    "it?";
const std::string kUnknown =
    "Sorry, this error is unknown. Would you like to send us an error report?";
const std::string kOffline = "Operation Failed: Can't connect to the Internet";

// The order below is the order of construction: the program directory and the desktop first, then
// the maker's server, then the launcher that reads both.
class LauncherTest : public test::LauncherFixture {
protected:
    void SetUp() override {
        SetUpLauncher(false);
        desktop.Open([this](const std::string& u) {
            opened.push_back(u);
            return true;
        });
        CollectBoxes();
        server.Server().Get("/zvxinternal", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(
                "<html><body><p>News</p><a href=\"zvxinternal/highscore.html\">x</a></body></html>",
                "text/html");
        });
        server.Server().Get(
            "/zvxinternal/highscore.html", [](const httplib::Request&, httplib::Response& res) {
                res.set_content("<html><body><p>Highscores</p></body></html>", "text/html");
            });
        server.Server().Get("/zvxinternal/errors.txt",
                            [this](const httplib::Request&, httplib::Response& res) {
                                res.set_content(errorsList, "text/plain");
                            });
        server.Server().Get(
            R"(/zvxinternal/errors/(.*))", [](const httplib::Request&, httplib::Response& res) {
                res.set_content("<html><body><p>Solution</p></body></html>", "text/html");
            });
        server.Start();
        WriteProgCfg("GameServer", server.HostPort());
    }
    // Questions take the queued answers, yes once they are used up.
    bool Answer(platform::MessageKind kind) override {
        if (kind != platform::MessageKind::Confirm || answers.empty()) return true;
        const bool a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    void TearDown() override {
        form.reset();
        LauncherFixture::TearDown();
    }
    TForm1& Form() {
        if (!form) form = std::make_unique<TForm1>();
        return *form;
    }
    static void WriteLogLines(const std::vector<std::string>& lines) {
        std::string all;
        for (const auto& l : lines) all += l + "\r\n";
        test::WriteText("KVD\\LOG.TXT", all);
    }

    std::vector<bool> answers;
    std::vector<std::string> opened;
    std::string errorsList = "<zn=1><z1=Cannot find Wave><W=wave.htm>\r\n";
    test::LocalHttpServer server;
    std::unique_ptr<TForm1> form;
};

// The start page arrives off the window's thread; the event loop brings it in.
void WaitForPage(TForm1& f) {
    EXPECT_TRUE(test::RunEventsUntil([&] { return !f.WebBrowser1->Loading(); }));
}

TEST_F(LauncherTest, ActionsCarryTheirCaptionsAndShortcuts) {
    TForm1& f = Form();
    EXPECT_EQ(f.windowTitle(), "Zolvex!");
    const std::vector<std::pair<QAction*, QString>> captions = {
        {f.ActionStart, "Play 'Zolvex'"},
        {f.ActionHilfe, "Goto &Help Page"},
        {f.ActionEinstellungen, "&Options"},
        {f.Actionwebsite, "&Goto 'Vantor' Website"},
        {f.ActionClose, "&Close"},
        {f.ActionPublishHighscore, "&Publish Highscore"},
        {f.ActionGotoHighscore, "Goto &Highscore"},
        {f.ActionPublishErrorreport, "Send &Errorreport"},
        {f.ActionInfo, "&Info"},
        {f.ActionBugspage, "Goto Help On &Error Page"},
    };
    for (const auto& [action, caption] : captions) EXPECT_EQ(action->text(), caption);
    EXPECT_EQ(f.ActionStart->shortcut(), QKeySequence(Qt::Key_F9));
    EXPECT_EQ(f.ActionHilfe->shortcut(), QKeySequence(Qt::Key_F1));
    int withShortcut = 0;
    for (const auto& [action, caption] : captions) withShortcut += !action->shortcut().isEmpty();
    EXPECT_EQ(withShortcut, 2);
    EXPECT_EQ(f.Timer1->interval(), 5000);
    EXPECT_TRUE(f.Timer1->isActive());
}

TEST_F(LauncherTest, MenuHoldsTheItemsInOrder) {
    TForm1& f = Form();
    std::vector<std::string> seen;
    for (QAction* top : f.menuBar()->actions()) {
        std::string line = top->text().toStdString() + ":";
        for (QAction* item : top->menu()->actions())
            line += " " + (item->isSeparator() ? std::string("-") : item->text().toStdString()) +
                    (item->isVisible() ? "" : "(hidden)");
        seen.push_back(line);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "&File: &Options - &Close",
                        "&Game: Play 'Zolvex'",
                        "&Internet: &Publish Highscore Goto &Highscore &Goto 'Vantor' "
                        "Website(hidden) - Send &Errorreport",
                        "&Help: Goto &Help Page - &Info",
                    }));
}

TEST_F(LauncherTest, WindowIsThePictureWithTheStartAreaAndTheCentredPanel) {
    TForm1& f = Form();
    EXPECT_EQ(f.Image1->size(), QSize(400, 340));
    EXPECT_EQ(f.centralWidget()->size(), QSize(400, 340));
    EXPECT_EQ(f.Shape1->geometry(), QRect(124, 256, 157, 53));
    EXPECT_EQ(f.Panel2->geometry(), QRect((400 - 185) / 2, (340 - 49) / 2, 185, 49));
    EXPECT_FALSE(f.Panel2->isVisibleTo(&f));
    EXPECT_EQ(f.Label1->text(), "Converting Sounds...");
    EXPECT_FALSE(f.WebBrowser1->isVisibleTo(&f));
    EXPECT_EQ(f.WebBrowser1->size(), QSize(1, 1));
    EXPECT_FALSE(f.SBMemo->toPlainText().isEmpty());
}

TEST_F(LauncherTest, NavigationStaysInsideOnlyForAddressesThatBeginWithTheStartPage) {
    TForm1& f = Form();
    const std::string start = StartPageAddress();
    EXPECT_TRUE(
        f.WebBrowser1BeforeNavigate2(QUrl(QString::fromStdString(start + "/highscore.html"))));
    EXPECT_TRUE(opened.empty());
    EXPECT_FALSE(f.WebBrowser1BeforeNavigate2(QUrl("http://elsewhere.test/page")));
    // Mentioning the start page is not being it.
    const QString attack = QString::fromStdString("http://elsewhere.test/?u=" + start);
    EXPECT_FALSE(f.WebBrowser1BeforeNavigate2(QUrl(attack)));
    EXPECT_EQ(opened,
              (std::vector<std::string>{"http://elsewhere.test/page", attack.toStdString()}));
}

TEST_F(LauncherTest, ClickedForeignLinkOpensInTheUsersBrowserAndKeepsThePage) {
    TForm1& f = Form();
    desktop.Online(true);
    f.Timer1Timer();
    WaitForPage(f);
    ASSERT_TRUE(f.WebBrowser1->toPlainText().contains("News"));
    emit f.WebBrowser1->anchorClicked(
        QUrl("http://elsewhere.test/?u=" + QString::fromStdString(StartPageAddress())));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_TRUE(f.WebBrowser1->toPlainText().contains("News"));
    // A relative link inside the start page area loads in the frame.
    emit f.WebBrowser1->anchorClicked(QUrl("zvxinternal/highscore.html"));
    WaitForPage(f);
    EXPECT_TRUE(f.WebBrowser1->toPlainText().contains("Highscores"));
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(LauncherTest, TimerFollowsTheOnlineState) {
    TForm1& f = Form();
    f.Timer1Timer();  // offline: nothing to show
    EXPECT_FALSE(f.WebBrowser1->isVisibleTo(&f));

    desktop.Online(true);
    f.Timer1Timer();  // online: the start page in its frame
    WaitForPage(f);
    EXPECT_TRUE(f.WebBrowser1->isVisibleTo(&f));
    EXPECT_EQ(f.WebBrowser1->geometry(), QRect(52, 53, 292, 171));
    EXPECT_TRUE(f.WebBrowser1->toPlainText().contains("News"));

    f.ActionGotoHighscoreExecute();
    WaitForPage(f);
    EXPECT_TRUE(f.HighscorePageShown);
    EXPECT_TRUE(f.WebBrowser1->toPlainText().contains("Highscores"));
    f.Timer1Timer();  // the next tick goes back to the start page
    WaitForPage(f);
    EXPECT_FALSE(f.HighscorePageShown);
    EXPECT_TRUE(f.WebBrowser1->toPlainText().contains("News"));

    desktop.Online(false);
    f.Timer1Timer();
    EXPECT_FALSE(f.WebBrowser1->isVisibleTo(&f));
    EXPECT_EQ(f.WebBrowser1->size(), QSize(1, 1));
    EXPECT_TRUE(messages.empty());
}

TEST_F(LauncherTest, GotoHighscoreOfflineSaysSo) {
    TForm1& f = Form();
    f.ActionGotoHighscoreExecute();
    EXPECT_EQ(messages, std::vector<std::string>{kOffline});
    EXPECT_FALSE(f.HighscorePageShown);
}

TEST_F(LauncherTest, KnownErrorOpensItsPageAndClearsTheLog) {
    TForm1& f = Form();
    desktop.Online(true);
    WriteLogLines({"InitDDraw: 2", "Cannot find Wave: back", "ERROR"});
    f.ShowErrorSolution();  // the browser is hidden: the user's browser opens the page
    EXPECT_EQ(messages, std::vector<std::string>{kQuestion});
    EXPECT_EQ(opened,
              std::vector<std::string>{GameServerAddress(true, "/zvxinternal/errors/wave.htm")});
    EXPECT_FALSE(FileExists("KVD\\LOG.TXT"));

    // With the keep-log flag the log stays; with the browser shown the page opens inside.
    errorsList = "<zn=1><z1=Cannot find Wave><S><W=wave.htm>\r\n";
    WriteLogLines({"Cannot find Wave: back", "ERROR"});
    f.Timer1Timer();
    WaitForPage(f);
    f.ShowErrorSolution();
    WaitForPage(f);
    EXPECT_TRUE(FileExists("KVD\\LOG.TXT"));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_TRUE(f.WebBrowser1->toPlainText().contains("Solution"));
}

TEST_F(LauncherTest, UnknownErrorOffersAReportAndNoKeepsTheLog) {
    TForm1& f = Form();
    WriteLogLines({"Something else", "ERROR"});
    answers = {false};
    f.FormActivate();  // No to the question: the log stays for the next activation
    EXPECT_EQ(messages, std::vector<std::string>{kQuestion});
    EXPECT_TRUE(FileExists("KVD\\LOG.TXT"));

    messages.clear();
    answers = {true, false};
    f.ShowErrorSolution();  // offline: the download says so, then the unknown-error question
    EXPECT_EQ(messages, (std::vector<std::string>{kQuestion, kOffline, kUnknown}));
    EXPECT_TRUE(FileExists("KVD\\LOG.TXT"));
}

TEST_F(LauncherTest, ActivationDeletesALogThatEndedOk) {
    TForm1& f = Form();
    WriteLogLines({"FormClose: End", "OK"});
    f.FormActivate();
    EXPECT_FALSE(FileExists("KVD\\LOG.TXT"));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(f.SoundsReady);
    f.FormActivate();  // no log at all: nothing to ask either
    EXPECT_TRUE(messages.empty());
}

// A settings file of a size the program never writes is kept aside: the player hears of it once,
// and the launcher does not take the note for a game that ended badly.
TEST_F(LauncherTest, ADamagedSettingsFileIsToldOnceAndAsksNothingAboutAnError) {
    test::WriteText("KVD\\env.dat", std::string(2000, 'x'));
    TForm1& f = Form();
    EXPECT_TRUE(FileExists("KVD\\env.dat.damaged"));
    EXPECT_TRUE(messages.empty()) << "not before the window is up";
    f.FormActivate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("was damaged (2000 bytes)"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("reset to their defaults"), std::string::npos) << messages[0];
    f.FormActivate();
    EXPECT_EQ(messages.size(), 1u) << "once; and no abnormal-end question";
}

TEST_F(LauncherTest, NoSoundsBlocksTheGameAndTheStartPageTimerGoesOn) {
    TForm1& f = Form();
    bool ran = false;
    f.GameStart.RunGame = [&] { ran = true; };
    f.SoundsReady = false;
    f.ActionStartExecute();
    EXPECT_FALSE(ran);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "Cannot start game because of low drive space. Please close program and make some "
              "more space "
              "available on drive " +
                  ProgramDir().substr(0, 1) + ":\\. Then try again.");
    EXPECT_TRUE(f.Timer1->isActive()) << "the start page is still fetched and retried";
}

TEST_F(LauncherTest, LowMemoryAsksAndNoStopsTheStart) {
    TForm1& f = Form();
    f.SoundsReady = true;
    bool ran = false;
    f.GameStart.RunGame = [&] { ran = true; };
    f.GameStart.MeasureMachine = [] {
        TGameInfo gi;
        gi.AvailPhys = 10 * 1024;
        gi.UsedVirtual = gi.TotalVirtual;
        return gi;
    };
    answers = {false};
    f.ActionStartExecute();
    EXPECT_FALSE(ran);
    EXPECT_EQ(messages, std::vector<std::string>{
                            "There seems to be not enough available memory on your system. Would "
                            "you like to try to start the game anyway?"});
    EXPECT_TRUE(f.Timer1->isActive());
    EXPECT_EQ(test::LogLines().front(), "Program Version 1.10");
    // The display is known before the game screen has started: the block has its values.
    int displayLines = 0;
    for (const std::string& line : test::LogLines()) {
        if (line.rfind("DispResu:", 0) != 0 && line.rfind("BitsPixel:", 0) != 0) continue;
        ++displayLines;
        EXPECT_NE(line.find_first_not_of(' ', line.find(':') + 1), std::string::npos) << line;
    }
    EXPECT_EQ(displayLines, 2);

    // Yes to the start; the game writes no "OK", so No to the abnormal-end question that follows
    // (a Yes would lead on to the modal error report).
    answers = {true, false};
    f.ActionStartExecute();
    EXPECT_TRUE(ran);
}

TEST_F(LauncherTest, NewTopScoreOffersToPublishAndPlaceTwoDoesNot) {
    TForm1& f = Form();
    f.SoundsReady = true;
    EnvData.Highscores[0] = {"Best", 5000};
    EnvData.Highscores[1] = {"Next", 3000};
    int32_t score = 4000;  // place 2
    f.GameStart.RunGame = [&] {
        InsertScore(score);
        WriteLog("OK");
    };
    int dialogs = 0;
    const auto answerNo = [&] {
        QTimer::singleShot(0, [&] {
            if (auto* d = qobject_cast<TNewHighscoreForm*>(QApplication::activeModalWidget())) {
                ++dialogs;
                EXPECT_EQ(d->Label4->text().toStdString(),
                          std::to_string(EnvData.Highscores[0].Score) + " Points,");
                d->Button2->click();
            }
        });
    };
    answerNo();
    f.ActionStartExecute();
    EXPECT_EQ(dialogs, 0);
    EXPECT_TRUE(f.Timer1->isActive());

    score = 12345;  // a new best
    answerNo();
    f.ActionStartExecute();
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(messages.empty());
}

TEST_F(LauncherTest, AbnormalEndOfAGameLooksTheErrorUp) {
    TForm1& f = Form();
    f.SoundsReady = true;
    f.GameStart.RunGame = [] { WriteLog("ERROR"); };
    answers = {false};
    f.ActionStartExecute();
    EXPECT_EQ(messages, std::vector<std::string>{kQuestion});
}

TEST_F(LauncherTest, PublishWithoutAnEntrySaysSo) {
    TForm1& f = Form();
    f.ActionPublishHighscoreExecute();
    EXPECT_EQ(messages, std::vector<std::string>{
                            "Sorry, you don't have a entry in your highscore list right now"});
}

TEST_F(LauncherTest, HelpOpensTheRulesPageUnlessEIsHeld) {
    TForm1& f = Form();
    f.show();
    QTest::keyPress(&f, Qt::Key_E);
    EXPECT_TRUE(f.EditorKeyDown);
    QTest::keyRelease(&f, Qt::Key_E);
    EXPECT_FALSE(f.EditorKeyDown);
    f.ActionHilfeExecute();
    EXPECT_EQ(opened,
              std::vector<std::string>{GameServerAddress(false, "/zvxinternal/zvxrulesengl.htm")});
    f.ActionBugspageExecute();
    EXPECT_EQ(opened.back(), GameServerAddress(false, "/zvxinternal/errors.htm"));
}

// E held + F1 opens the editor, which takes the keys: the E released there must not leave the
// launcher thinking E is still down, or every later F1 would open the editor again.
TEST_F(LauncherTest, TheEReleasedInTheEditorLetsTheNextF1OpenTheHelpPage) {
    TForm1& f = Form();
    f.show();
    QTest::keyPress(&f, Qt::Key_E);
    ASSERT_TRUE(f.EditorKeyDown);
    f.ActionHilfeExecute();
    TEditorForm* editor = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* e = qobject_cast<TEditorForm*>(w)) editor = e;
    ASSERT_NE(editor, nullptr) << "E + F1 opens the editor";
    EXPECT_TRUE(opened.empty());
    QTest::keyRelease(editor, Qt::Key_E);
    EXPECT_FALSE(f.EditorKeyDown);
    delete editor;
    f.ActionHilfeExecute();
    EXPECT_EQ(opened,
              std::vector<std::string>{GameServerAddress(false, "/zvxinternal/zvxrulesengl.htm")});

    // E pressed, then the keys go to another program, where E is released.
    QTest::keyPress(&f, Qt::Key_E);
    ASSERT_TRUE(f.EditorKeyDown);
    QEvent away(QEvent::WindowDeactivate);
    QApplication::sendEvent(&f, &away);
    EXPECT_FALSE(f.EditorKeyDown);
}

TEST_F(LauncherTest, StartRemovesWhatAnInterruptedSaveLeft) {
    test::WriteText("KVD\\env.dat.tmp", "half");
    Form();
    EXPECT_FALSE(FileExists("KVD\\env.dat.tmp"));
}

TEST_F(LauncherTest, ClosingSavesBothRecords) {
    TForm1& f = Form();
    EnvData.Highscores[0] = {"Kept", 777};
    GameData.Level = 3;
    f.close();
    SetEnvDefaults();
    SetGameDataDefaults();
    LoadEnv();
    LoadGameData(kGameDataFile);
    EXPECT_EQ(EnvData.Highscores[0].Name, "Kept");
    EXPECT_EQ(EnvData.Highscores[0].Score, 777);
    EXPECT_EQ(GameData.Level, 3);
}

TEST_F(LauncherTest, InfoBoxChecksTheVersionOnTheServer) {
    Form();
    std::string versionFile = "1.10\r\nhttp://downloads.test/zolvex\r\n";
    server.Server().Get("/zvxinternal/version.txt",
                        [&](const httplib::Request&, httplib::Response& res) {
                            res.set_content(versionFile, "text/plain");
                        });
    TInfoForm info;
    EXPECT_EQ(info.size(), QSize(400, 300));
    EXPECT_EQ(info.Label2->text(), "Version 1.10");
    EXPECT_EQ(info.Label4->text(), "Memory Needed (Aproximately): 90000Kb");
    EXPECT_TRUE(info.Label3->text().startsWith("Available Memory: "));
    desktop.Online(true);
    info.Button2Click();
    EXPECT_EQ(messages,
              std::vector<std::string>{"The version you are running is the latest available one."});

    messages.clear();
    versionFile = "1.9\r\nhttp://downloads.test/zolvex\r\n";
    answers = {true};
    info.Button2Click();
    EXPECT_EQ(messages, std::vector<std::string>{
                            "There is a new version (1.9) of this program available at "
                            "http://downloads.test/zolvex. Would you like to go to that website "
                            "to download the new version?"});
    EXPECT_EQ(opened, std::vector<std::string>{"http://downloads.test/zolvex"});

    messages.clear();
    versionFile = "2.0";  // one line: nothing to say
    info.Button2Click();
    EXPECT_TRUE(messages.empty());
}

// Host names know no case: the start page of "LocalHost" stays in the frame.
TEST_F(LauncherTest, HostInCapitalsIsStillTheStartPage) {
    WriteProgCfg("GameServer", "LocalHost:" + std::to_string(server.Port()));
    TForm1& f = Form();
    desktop.Online(true);
    f.Timer1Timer();
    WaitForPage(f);
    EXPECT_TRUE(opened.empty()) << opened.front();
    EXPECT_TRUE(f.WebBrowser1->toPlainText().contains("News"));
    EXPECT_TRUE(f.WebBrowser1BeforeNavigate2(QUrl(
        "http://localhost:" + QString::number(server.Port()) + "/zvxinternal/highscore.html")));
}

// While the known-error list is on its way from a server that never answers, the launcher takes
// input, and closing it ends the wait at once with the settings saved.
TEST_F(LauncherTest, WindowTakesInputDuringTheKnownErrorCheckAndClosingEndsTheWait) {
    test::SilentPeer silent;
    WriteProgCfg("GameServer", silent.HostPort());
    TForm1& f = Form();
    desktop.Online(true);
    WriteLogLines({"Something", "ERROR"});
    answers = {true};
    QLineEdit probe;
    probe.show();
    QString typedDuringWait;
    EnvData.Highscores[0] = {"Kept", 321};
    QTimer::singleShot(100, [&] {
        // Posted, as the window system delivers input.
        QApplication::postEvent(&probe, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier,
                                                      QStringLiteral("a")));
    });
    QTimer::singleShot(400, [&] {
        typedDuringWait = probe.text();
        f.close();
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(f.ShowErrorSolution(), ETransferCancelled);  // silent when run as a handler
    // A bound for a hung test, not a measurement: the download's own time-out is 15 s.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(typedDuringWait, "a");
    EXPECT_EQ(messages, std::vector<std::string>{kQuestion});  // nothing after the cancel
    SetEnvDefaults();
    LoadEnv();
    EXPECT_EQ(EnvData.Highscores[0].Name, "Kept");
}

// A click on START during the known-error check is kept: the game starts once the check is over.
TEST_F(LauncherTest, StartClickedDuringTheActivationRunsAfterIt) {
    TForm1& f = Form();
    desktop.Online(true);
    errorsList = "<zn=1><z1=nothing like it><W=x.htm>\r\n";
    WriteLogLines({"Something", "ERROR"});
    bool ran = false;
    f.GameStart.RunGame = [&] {
        ran = true;
        WriteLog("OK");
    };
    answers = {true, false};  // look the error up; no report
    QTimer::singleShot(0, [&] { f.ActionStart->trigger(); });
    f.FormActivate();
    EXPECT_FALSE(ran);  // not in the middle of the check
    EXPECT_TRUE(test::RunEventsUntil([&] { return ran; }));
    EXPECT_EQ(messages, (std::vector<std::string>{kQuestion, kUnknown}));
}

// START clicked while the known-error list is on its way, and the download then fails: the
// player sees that the START waits, the failure names the list, and the game starts once the
// check is over. It is neither lost nor kept for some later activation.
TEST_F(LauncherTest, StartDuringAFailingKnownErrorCheckRunsOnceWhenTheCheckIsOver) {
    // The list's server holds the request until START has been clicked, then fails it.
    std::mutex m;
    std::condition_variable cv;
    bool asked = false, release = false;
    test::LocalHttpServer list;
    list.Server().Get("/zvxinternal/errors.txt",
                      [&](const httplib::Request&, httplib::Response& res) {
                          std::unique_lock lock(m);
                          asked = true;
                          cv.wait(lock, [&] { return release; });
                          res.status = 503;
                      });
    list.Start();
    const auto releaseList = [&] {
        std::lock_guard lock(m);
        release = true;
        cv.notify_all();
    };
    struct Release {
        std::function<void()> f;
        ~Release() { f(); }
    } releaseAtTheEnd{releaseList};
    WriteProgCfg("GameServer", list.HostPort());
    TForm1& f = Form();
    f.show();
    desktop.Online(true);
    WriteLogLines({"Something", "ERROR"});
    int games = 0;
    f.GameStart.RunGame = [&] {
        ++games;
        WriteLog("OK");
    };
    f.SoundsReady = true;
    answers = {true, false};  // look the error up; no report
    QString shownWhileWaiting;
    QTimer click;
    QObject::connect(&click, &QTimer::timeout, [&] {
        {
            std::lock_guard lock(m);
            if (!asked) return;
        }
        click.stop();
        QTest::mouseClick(f.Shape1, Qt::LeftButton);
        if (f.StatusText->isVisible()) shownWhileWaiting = f.StatusText->text();
        releaseList();
    });
    click.start(5);
    f.FormActivate();
    EXPECT_EQ(games, 0) << "not in the middle of the activation";
    EXPECT_EQ(shownWhileWaiting, "The game starts once the error has been looked up.");
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], kQuestion);
    const std::string failed = "The list of known errors could not be fetched from " +
                               GameServerAddress(true, "/zvxinternal/errors.txt") + ": ";
    EXPECT_EQ(messages[1].substr(0, failed.size()), failed) << messages[1];
    EXPECT_EQ(messages[2], kUnknown);
    EXPECT_TRUE(test::RunEventsUntil([&] { return games == 1; }, 5000));
    EXPECT_FALSE(f.StatusText->isVisible());

    // The next activation (the info box closed, say) finds the game's clean log and starts nothing.
    f.FormActivate();
    QCoreApplication::processEvents();
    EXPECT_EQ(games, 1);
    EXPECT_FALSE(f.StartPending());
}

// A music file that cannot be converted is told once. No game ran: neither this activation nor
// a later one asks about an abnormal end.
TEST_F(LauncherTest, ADamagedMp3IsToldOnceAndAsksNothingAboutAnAbnormalEnd) {
    fs::copy_file(ZOLVEX_MPEGDLL_FILE, fs::path(ProgramDir()) / kMPEGLibraryName,
                  fs::copy_options::overwrite_existing);
    fs::create_directories(fs::path(ProgramDir()) / "snd");
    test::WriteText("snd\\broken.mp3", "not music");
    TForm1& f = Form();
    f.FormActivate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("MP3 conversion error on ", 0), 0u) << messages[0];
    EXPECT_TRUE(f.SoundsReady);
    f.FormActivate();
    f.FormActivate();
    EXPECT_EQ(messages.size(), 1u) << messages.back();
}

// Offline after an activation the launcher shows the picture without the news frame; back online
// the start page opens at its top.
TEST_F(LauncherTest, OfflineAfterAnActivationShowsThePlainPictureAndOnlineThePageFromTheTop) {
    server.Server().Get("/zvxinternal/long", [](const httplib::Request&, httplib::Response& res) {
        std::string page = "<html><body><p>Banner</p>";
        for (int i = 0; i < 200; ++i) page += "<p>line " + std::to_string(i) + "</p>";
        res.set_content(page + "</body></html>", "text/html");
    });
    TForm1& f = Form();
    f.show();
    const QImage plain = JpegResourcePixmap("MENUE").toImage();
    const QImage framed = JpegResourcePixmap("MENUE_NET").toImage();
    desktop.Online(true);
    f.Timer1Timer();
    WaitForPage(f);
    EXPECT_EQ(f.Image1->pixmap().toImage(), framed);
    desktop.Online(false);
    f.FormActivate();
    EXPECT_EQ(f.Image1->pixmap().toImage(), plain);

    desktop.Online(true);
    f.WebBrowser1->Navigate(Qs(StartPageAddress() + "/long"));
    WaitForPage(f);
    f.WebBrowser1->verticalScrollBar()->setValue(f.WebBrowser1->verticalScrollBar()->maximum());
    desktop.Online(false);
    f.Timer1Timer();
    desktop.Online(true);
    f.Timer1Timer();
    WaitForPage(f);
    EXPECT_EQ(f.WebBrowser1->verticalScrollBar()->value(), 0);
}

// The pages carry what a browser on a desktop or a phone needs (a viewport, a style sheet, the
// "Play now" link): in the launcher's frame each looks exactly as without them.
TEST_F(LauncherTest, TheStartPagesLookInTheFrameAsWithoutWhatBrowsersAreGiven) {
    const auto read = [](const std::string& name) {
        std::ifstream in(std::string(ZOLVEX_PAGES_SOURCE) + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto bare = [](std::string page) {
        for (const std::regex& r : {std::regex(R"(<meta name="viewport"[^>]*>\n)"),
                                    std::regex(R"(<link rel="stylesheet"[^>]*>\n)"),
                                    std::regex(R"(<a class="playnow"[^>]*></a>)")})
            page = std::regex_replace(page, r, "");
        return page;
    };
    const std::vector<std::string> names = {"index.html", "howto.htm",    "zvxrulesengl.htm",
                                            "prizes.htm", "safersex.htm", "errors.htm"};
    std::string shown;
    server.Server().Get("/zvxinternal/page", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(shown, "text/html");
    });
    // Were the frame to read the sheet, this would show.
    server.Server().Get("/zvxinternal/site.css",
                        [](const httplib::Request&, httplib::Response& res) {
                            res.set_content("body { font-size: 40px; color: red; }", "text/css");
                        });
    TForm1& f = Form();
    f.show();
    desktop.Online(true);
    f.Timer1Timer();  // the start page first, as at the launcher's start
    WaitForPage(f);
    const auto look = [&](const std::string& page) {
        shown = page;
        f.WebBrowser1->Navigate(Qs(StartPageAddress() + "/page"));
        WaitForPage(f);
        QTextDocument* doc = f.WebBrowser1->document();
        QImage whole(doc->size().toSize(), QImage::Format_ARGB32);
        whole.fill(Qt::white);
        QPainter painter(&whole);
        doc->drawContents(&painter);
        painter.end();
        return std::make_pair(f.WebBrowser1->toPlainText(), whole);
    };
    for (const std::string& name : names) {
        const std::string shipped = read(name);
        ASSERT_NE(shipped.find("<link rel=\"stylesheet\" href=\"/zvxinternal/site.css\">"),
                  std::string::npos)
            << name;
        ASSERT_NE(bare(shipped), shipped);
        const auto [text, picture] = look(shipped);
        const auto [bareText, barePicture] = look(bare(shipped));
        EXPECT_EQ(text, bareText) << name;
        EXPECT_FALSE(text.contains(QStringLiteral("Play now"))) << name;
        EXPECT_EQ(picture, barePicture) << name;
    }
    EXPECT_NE(read("index.html").find(R"(<a class="playnow" href="/play/")"), std::string::npos);
}

// A browser handler that starts and then fails is reported like one that is missing.
TEST_F(LauncherTest, FailingBrowserHandlerGivesTheGotoBox) {
    TForm1& f = Form();
    const fs::path bin = fs::path(ProgramDir()) / "fakebin";
    fs::create_directories(bin);
    test::WriteText("fakebin/xdg-open", "#!/bin/sh\nexit 4\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    desktop.Handler((bin / "xdg-open").string());
    f.ActionBugspageExecute();
    ASSERT_TRUE(test::RunEventsUntil([&] { return !messages.empty(); }, 10000));
    EXPECT_EQ(messages,
              std::vector<std::string>{"Unable to start Browser. Goto\r" +
                                       GameServerAddress(false, "/zvxinternal/errors.htm")});
}

// The error report offered by the activation, closed without sending, does not bring the
// question back: it is asked once per activation.
TEST_F(LauncherTest, ReportClosedUnsentDoesNotAskTheQuestionAgain) {
    TForm1& f = Form();
    desktop.Online(true);
    errorsList = "<zn=1><z1=nothing like it><W=x.htm>\r\n";
    WriteLogLines({"Something", "ERROR"});
    answers = {true, true, true, true};  // look it up, send a report; Yes to anything after
    int reports = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* d = QApplication::activeModalWidget();
            d && d->objectName() == "PublishErrorreportForm") {
            ++reports;
            d->close();
        }
    });
    closer.start(10);
    f.FormActivate();
    test::RunEventsUntil([] { return false; }, 300);
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(messages, (std::vector<std::string>{kQuestion, kUnknown}));
    EXPECT_TRUE(FileExists("KVD\\LOG.TXT"));
}

// Closing the launcher ends the program: no dialog stays open behind it, and what the dialogs
// did is in the saved settings.
TEST_F(LauncherTest, ClosingTheLauncherClosesItsDialogsAndSavesWhatTheyDid) {
    TForm1& f = Form();
    f.show();
    auto* options = new TMainOptions();
    options->show();
    options->DisplayItems[1]->setChecked(true);
    QTest::mouseClick(options->BtOk, Qt::LeftButton);
    auto* again = new TMainOptions();  // left open, changed, not confirmed
    again->show();
    again->DisplayItems[2]->setChecked(true);
    QPointer<TMainOptions> open(again);
    f.close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(!open || !open->isVisible());
    SetEnvDefaults();
    LoadEnv();
    EXPECT_EQ(EnvData.DisplayMode, 1);

    // A modal box open when the program is asked to end (a logout's SIGTERM) is closed too.
    form.reset();
    TForm1& g = Form();
    g.show();
    bool closedByFallback = false;
    QTimer::singleShot(100, [&] { g.RequestStop(); });
    QTimer::singleShot(3000, [&] {
        // Only for a box the stop left open: the test must not hang on it.
        if (auto* box = qobject_cast<TInfoForm*>(QApplication::activeModalWidget())) {
            closedByFallback = true;
            box->reject();
        }
    });
    g.ActionInfo->trigger();
    EXPECT_FALSE(closedByFallback);
    EXPECT_FALSE(g.isVisible());
}

// An error while the launcher is made ends in an error box, not in an abort.
TEST_F(LauncherTest, LauncherThatCannotBeMadeSaysWhyAndGivesNothing) {
    // A damaged settings file that cannot be kept aside: the place for it is taken by a folder.
    test::WriteText("KVD\\env.dat", std::string(2000, '\x5a'));
    fs::create_directories(fs::path(ProgramDir()) / "KVD" / "env.dat.damaged" / "inside");
    std::unique_ptr<TForm1> launcher = CreateLauncher();
    EXPECT_EQ(launcher, nullptr);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FALSE(messages[0].empty());
    EXPECT_EQ(Form1(), nullptr);
}

// Pictures of the start page are measured before they are decoded: a small file of a huge
// picture stays an empty place, a normal one is shown.
TEST_F(LauncherTest, HugePictureOfTheStartPageIsNotDecoded) {
    const auto png = [](int w, int h) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::white);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
    };
    const std::string huge = png(5000, 5000);
    const std::string small = png(10, 10);
    ASSERT_LT(huge.size(), 200u * 1024);
    test::LocalHttpServer pictures;
    pictures.Server().Get("/zvxinternal", [&](const httplib::Request&, httplib::Response& res) {
        std::string page = "<html><body><p>News</p><img src=\"/small.png\">";
        for (int i = 0; i < 8; ++i) page += "<img src=\"/huge" + std::to_string(i) + ".png\">";
        res.set_content(page + "</body></html>", "text/html");
    });
    pictures.Server().Get(R"(/huge\d\.png)", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(huge, "image/png");
    });
    pictures.Server().Get("/small.png", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(small, "image/png");
    });
    pictures.Start();
    WriteProgCfg("GameServer", pictures.HostPort());
    TForm1& f = Form();
    f.show();
    desktop.Online(true);
    f.Timer1Timer();
    WaitForPage(f);
    QTextDocument* doc = f.WebBrowser1->document();
    const auto picture = [&](const QString& path) {
        return doc->resource(QTextDocument::ImageResource, QUrl(path)).value<QImage>();
    };
    // The pictures come after the page, as the layout asks for them.
    ASSERT_TRUE(test::RunEventsUntil([&] {
        f.WebBrowser1->viewport()->repaint();
        return !picture("/small.png").isNull();
    }));
    EXPECT_EQ(picture("/small.png").size(), QSize(10, 10));
    test::RunEventsUntil([] { return false; }, 500);
    for (int i = 0; i < 8; ++i) {
        const QVariant v = doc->resource(QTextDocument::ImageResource,
                                         QUrl("/huge" + QString::number(i) + ".png"));
        EXPECT_TRUE(v.typeId() != QMetaType::QByteArray && v.value<QImage>().isNull()) << i;
    }
}

// --- options ----------------------------------------------------------------------------------

class OptionsTest : public LauncherTest {};

TEST_F(OptionsTest, ShowsTheFieldsAndOkStoresThem) {
    Form();
    EnvData.DisplayMode = 2;
    EnvData.MusicOn = false;
    EnvData.BubblePercent = 30;
    auto* options = new TMainOptions();
    options->show();
    EXPECT_EQ(options->windowTitle(), "Options");
    EXPECT_FALSE(options->PageControl1->isTabVisible(2));
    EXPECT_EQ(options->PageControl1->currentWidget(), options->TabGrafic);
    EXPECT_EQ(options->RadioGroup1ItemIndex(), 2);
    EXPECT_TRUE(options->CheckBox6->isChecked());
    EXPECT_FALSE(options->CheckBox4->isChecked());
    EXPECT_EQ(options->TrackBar3->value(), 30);
    EXPECT_EQ(options->TrackBar1->maximum(), 127);
    EXPECT_EQ(options->TrackBar1->tickInterval(), 13);
    EXPECT_EQ(options->TrackBar3->tickInterval(), 10);

    options->DisplayItems[1]->setChecked(true);
    options->CheckBox1->setChecked(false);
    options->CheckBox4->setChecked(true);
    options->TrackBar2->setValue(64);
    options->TrackBar3->setValue(100);
    QTest::mouseClick(options->BtOk, Qt::LeftButton);
    EXPECT_EQ(EnvData.DisplayMode, 1);
    EXPECT_FALSE(EnvData.SoundOn);
    EXPECT_EQ(EnvData.EffectsVolume, 64);
    EXPECT_EQ(EnvData.BubblePercent, 100);
    EXPECT_EQ(ReadProgCfg("caveedit"), "1");
    QCoreApplication::processEvents();

    auto* again = new TMainOptions();
    again->show();
    EXPECT_TRUE(again->CheckBox4->isChecked());
    again->CheckBox4->setChecked(false);
    again->BtOkClick();
    EXPECT_EQ(ReadProgCfg("caveedit"), "0");
}

TEST_F(OptionsTest, CancelLeavesEveryFieldAsItWas) {
    Form();
    const auto before = EnvDataToBytes(EnvData);
    auto* options = new TMainOptions();
    options->show();
    options->DisplayItems[2]->setChecked(true);
    options->CheckBox3->setChecked(!options->CheckBox3->isChecked());
    options->TrackBar1->setValue(1);
    options->CheckBox4->setChecked(true);
    QTest::mouseClick(options->BtCancel, Qt::LeftButton);
    EXPECT_EQ(EnvDataToBytes(EnvData), before);
    EXPECT_EQ(ReadProgCfgDefault("caveedit", "none"), "none");
}

// --- the level editor ---------------------------------------------------------------------------

TEST_F(LauncherTest, EditorShowsTheCurrentLevelAndSavesItScrambled) {
    Form();
    GameData.Level = 3;
    SaveLevel({"[Formation 1]", "speed=2"});
    auto* editor = new TEditorForm();
    editor->show();
    EXPECT_EQ(editor->Memo1->toPlainText(), "[Formation 1]\nspeed=2");
    const std::string before = test::ReadText("KVD\\Level3.txt");
    editor->Memo1->setPlainText("[Formation 1]\nspeed=3");
    editor->Button2Click();
    const std::string after = test::ReadText("KVD\\Level3.txt");
    EXPECT_NE(after.find("\r\n"), std::string::npos);
    std::vector<std::string> lines;
    LoadLevel(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"[Formation 1]", "speed=3"}));
    // The memo leaves room for the buttons.
    editor->resize(500, 400);
    EXPECT_EQ(editor->Memo1->height(), 400 - 33);
    editor->close();
}

TEST_F(LauncherTest, ReturnOnTheEditorsFocusedExitButtonClosesIt) {
    Form();
    GameData.Level = 3;
    SaveLevel({"[Formation 1]"});
    auto* editor = new TEditorForm();
    editor->show();
    QApplication::setActiveWindow(editor);
    editor->Button1->setFocus();
    ASSERT_EQ(editor->focusWidget(), editor->Button1);
    QTest::keyClick(editor->Button1, Qt::Key_Return);
    EXPECT_FALSE(editor->isVisible());
}

TEST_F(LauncherTest, EditorWithoutALevelFileShowsTheError) {
    Form();
    GameData.Level = 9;
    auto* editor = new TEditorForm();
    editor->show();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(editor->Memo1->toPlainText(), "Memo1");
    editor->close();
}

// --- message boxes and the single instance -----------------------------------------------------

// A server's answer in a message box is text, never markup, and a few hundred characters at most
// however much it sent.
TEST(MessageBoxTest, BoxShowsPlainTextBounded) {
    test::TestApplication();
    InstallMessageBoxes();
    std::string garbage = "Could not publish Highscore: <b>bold</b><img src=x>\r\n";
    for (int i = 0; i < 4096; ++i) garbage += i % 20 == 0 ? '\n' : static_cast<char>('a' + i % 26);
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    test::AnswerTheNextBox([&](QMessageBox& box) {
        shown = box.text();
        format = box.textFormat();
    });
    platform::ShowMessage(garbage);
    platform::SetMessageHook(nullptr);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_TRUE(shown.startsWith("Could not publish Highscore: <b>bold</b><img src=x>\n"));
    EXPECT_LE(shown.size(), 803);
    EXPECT_LE(shown.count(QChar('\n')), 16);
    EXPECT_TRUE(shown.endsWith("..."));
}

TEST(MessageBoxTest, ConfirmationAnswersWhatTheUserClicked) {
    test::TestApplication();
    InstallMessageBoxes();
    for (const bool yes : {true, false}) {
        test::AnswerTheNextBox(
            [](QMessageBox& box) { EXPECT_EQ(box.text(), "Line one\nline two"); },
            yes ? QMessageBox::Yes : QMessageBox::No);
        EXPECT_EQ(platform::ConfirmMessage("Line one\rline two"), yes);
    }
    platform::SetMessageHook(nullptr);
}

// The lock does not follow the environment: a copy started without XDG_RUNTIME_DIR finds the
// lock of one started with it. Two program folders are two locks.
TEST(SingleInstanceTest, LockIsTheSameWhateverTheEnvironmentAndPerProgramFolder) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string before = saved ? saved : "";
    const fs::path elsewhere =
        fs::temp_directory_path() / ("zolvex-xdg-" + std::to_string(getpid()));
    fs::create_directories(elsewhere);
    setenv("XDG_RUNTIME_DIR", elsewhere.c_str(), 1);
    const std::string withXdg = platform::RuntimeDir();
    unsetenv("XDG_RUNTIME_DIR");
    const std::string withoutXdg = platform::RuntimeDir();
    if (saved) setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
    fs::remove_all(elsewhere);
    EXPECT_EQ(withXdg, withoutXdg);
    EXPECT_EQ(platform::InstanceLockName("Z", "/opt/a"), platform::InstanceLockName("Z", "/opt/a"));
    EXPECT_NE(platform::InstanceLockName("Z", "/opt/a"), platform::InstanceLockName("Z", "/opt/b"));
}

TEST(SingleInstanceTest, SecondProcessIsRefusedUntilTheFirstEnds) {
    const std::string name = "zolvex-test-" + std::to_string(getpid());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t first = fork();
    if (first == 0) {
        platform::SingleInstanceLock lock(name);
        const char c = lock.AnotherRunning() ? 'n' : 'y';
        (void)!write(ready[1], &c, 1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    {
        platform::SingleInstanceLock second(name);
        EXPECT_TRUE(second.AnotherRunning());
    }
    kill(first, SIGKILL);  // the kernel frees the lock of a process that dies
    waitpid(first, nullptr, 0);
    platform::SingleInstanceLock third(name);
    EXPECT_FALSE(third.AnotherRunning());
    unlink(third.Path().c_str());
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
