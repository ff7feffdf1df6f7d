// The program asked to end (a logout's SIGHUP, a kill's SIGTERM, Ctrl+C's SIGINT) while a dialog
// shows one of its boxes or waits for a peer: the signal goes through the program's own handling,
// the main loop runs as the program runs it, and the launcher must close with its settings saved,
// every dialog and box gone, and nothing freed twice.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/Await.h"
#include "app/EditorUnit.h"
#include "app/HighscoreuploadedUnit.h"
#include "app/InfoUnit.h"
#include "app/Main.h"
#include "app/NewHighscoreUnit.h"
#include "app/PublishErrorreportUnit.h"
#include "app/PublishHighscoreUnit.h"
#include "app/Static.h"
#include "app/StopSignals.h"
#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "game/LevelFile.h"
#include "platform/Dialogs.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/Desktop.h"
#include "testsupport/LauncherFixture.h"
#include "testsupport/LocalHttpServer.h"
#include "testsupport/QtTestSupport.h"
#include "testsupport/Sockets.h"
#include "testsupport/TestSupport.h"

namespace {

using namespace zx;
namespace fs = std::filesystem;

// A visible widget of the given class whose condition holds.
template <typename T>
T* Shown(const std::function<bool(T*)>& is = [](T*) { return true; }) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w); t && t->isVisible() && is(t)) return t;
    return nullptr;
}

QMessageBox* BoxSaying(const QString& start) {
    return Shown<QMessageBox>([&](QMessageBox* b) { return b->text().startsWith(start); });
}

// A widget of a dialog that must be pressed once it is up, for the box behind it to show.
void PressOnce(QAbstractButton* button, bool& pressed) {
    if (pressed) return;
    pressed = true;
    QTimer::singleShot(0, button, [button] { button->click(); });
}

// Where a save of the file would create its temporary: a folder there makes the save fail.
void BlockSaveOf(const std::string& file) {
    fs::create_directories(ResolveWritePath(file) + ".tmp");
}

struct TBoxCase {
    const char* name;
    // Opens the dialog from the launcher's event loop and gets it to show its box.
    std::function<void(TForm1&)> open;
    // The box, once it is up (may press what leads to it); nullptr until then.
    std::function<QWidget*()> up;
};

class StopWithABoxTest : public test::LauncherFixture {
protected:
    void SetUp() override {
        SetUpLauncher(false);
        desktop.Open([](const std::string&) { return false; });  // no browser starts
        // The program's own boxes: a box that dies with its dialog is the fault looked for.
        InstallMessageBoxes();
        server.Server().Get("/score2.php", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(scoreAnswer, "text/plain");
        });
        server.Server().Get("/zvxinternal/version.txt",
                            [this](const httplib::Request&, httplib::Response& res) {
                                if (versionFile.empty()) res.status = 500;
                                res.set_content(versionFile, "text/plain");
                            });
        server.Start();
        WriteProgCfg("ScoreServer", server.HostPort());
        WriteProgCfg("GameServer", server.HostPort());
        // A port nobody listens on: the mail is refused at once.
        WriteProgCfg("MailServer", "127.0.0.1:" + std::to_string(test::UnusedLocalPort()));
    }

    // The program's main loop with the launcher up and its stop signals installed; once the case's
    // box is up, the signal arrives. Returns what the main loop returned.
    int RunUntilStopped(const TBoxCase& c, int sig) {
        auto launcher = std::make_unique<TForm1>();
        TForm1& f = *launcher;
        // The settings as the launcher read them, with a best score, and something the player
        // changed that must be saved.
        EnvData.Highscores[0] = {"Robo", 500};
        EnvData.Age = 42;
        const TStopSignals stopSignals(f);
        EXPECT_TRUE(stopSignals.Installed());
        f.show();
        box = nullptr;
        boxText.clear();
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (box) return;
            if (QWidget* up = c.up()) {
                box = up;
                boxText = qobject_cast<QMessageBox*>(up) ? qobject_cast<QMessageBox*>(up)->text()
                                                         : up->objectName();
                raise(sig);
            }
        });
        watch.start(5);
        QTimer::singleShot(0, &f, [&] { c.open(f); });
        // Only for a run the stop did not end: a broken program must not hang the test.
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        bound.start(20000);
        const int rc = QApplication::exec();
        launcherClosed = !f.isVisible();
        return rc;
    }

    std::string scoreAnswer;
    std::string versionFile = "1.10\r\nhttp://downloads.test/zolvex\r\n";
    test::LocalHttpServer server;
    // The dialog a case opened, and the box that was up when the signal came.
    QPointer<QWidget> opened;
    QPointer<QWidget> box;
    QString boxText;
    bool launcherClosed = false;
};

TEST_F(StopWithABoxTest, EverySignalWithEveryBoxOfEveryDialogEndsTheLauncherCleanly) {
    bool pressed = false;
    const auto publish = [this](TForm1&) {
        auto* p = new TPublishHighscoreForm();
        opened = p;
        p->show();
        QTest::mouseClick(p->Button1, Qt::LeftButton);
    };
    const auto publishAnswering = [this, publish](const std::string& answer, bool online) {
        return [this, publish, answer, online](TForm1& f) {
            scoreAnswer = answer;
            desktop.Online(online);
            publish(f);
        };
    };
    const auto modal = [](const char* name) {
        return Shown<QDialog>(
            [name](QDialog* d) { return d->isModal() && d->objectName() == name; });
    };
    const std::vector<TBoxCase> cases = {
        {"publish without a name",
         [&](TForm1& f) {
             EnvData.Highscores[0] = {"", 500};
             publish(f);
         },
         [] { return BoxSaying("Please enter a name before you upload your score."); }},
        {"publish offline", publishAnswering("", false),
         [] { return BoxSaying("Operation Failed: Can't connect to the Internet"); }},
        {"publish with an answer without a rank", publishAnswering("hello", true),
         [] { return BoxSaying("Could not publish Highscore: Unknown result"); }},
        {"publish ranked", publishAnswering("Rang=1", true),
         [&] { return modal("HighscoreuploadedForm"); }},
        {"publish ranked, no browser for the site", publishAnswering("Rang=1", true),
         [&]() -> QWidget* {
             if (auto* d = qobject_cast<THighscoreuploadedForm*>(modal("HighscoreuploadedForm")))
                 PressOnce(d->Button1, pressed);
             return BoxSaying("Could not open Internet browser.");
         }},
        {"editor without a level",
         [this](TForm1&) {
             GameData.Level = 9;
             opened = new TEditorForm();
             opened->show();
         },
         [] { return Shown<QMessageBox>(); }},
        {"editor whose save fails",
         [this](TForm1&) {
             GameData.Level = 3;
             SaveLevel({"[Formation 1]"});
             auto* editor = new TEditorForm();
             opened = editor;
             editor->show();
             BlockSaveOf("KVD\\Level3.txt");
             QTest::mouseClick(editor->Button2, Qt::LeftButton);
         },
         [] { return Shown<QMessageBox>(); }},
        {"options with a damaged switch",
         [this](TForm1&) {
             WriteProgCfg("caveedit", "on");
             opened = new TMainOptions();
             opened->show();
         },
         [] { return Shown<QMessageBox>(); }},
        {"options whose Ok fails",
         [this](TForm1&) {
             auto* options = new TMainOptions();
             opened = options;
             options->show();
             BlockSaveOf("KVD\\prog.cfg");
             QTest::mouseClick(options->BtOk, Qt::LeftButton);
         },
         [] { return Shown<QMessageBox>(); }},
        {"info offline", [](TForm1& f) { f.ActionInfo->trigger(); },
         [&]() -> QWidget* {
             if (auto* d = qobject_cast<TInfoForm*>(modal("InfoForm")))
                 PressOnce(d->Button2, pressed);
             return BoxSaying("Operation Failed: Can't connect to the Internet");
         }},
        {"info, latest version",
         [this](TForm1& f) {
             desktop.Online(true);
             f.ActionInfo->trigger();
         },
         [&]() -> QWidget* {
             if (auto* d = qobject_cast<TInfoForm*>(modal("InfoForm")))
                 PressOnce(d->Button2, pressed);
             return BoxSaying("The version you are running is the latest available one.");
         }},
        {"info, newer version",
         [this](TForm1& f) {
             desktop.Online(true);
             versionFile = "1.9\r\nhttp://downloads.test/zolvex\r\n";
             f.ActionInfo->trigger();
         },
         [&]() -> QWidget* {
             if (auto* d = qobject_cast<TInfoForm*>(modal("InfoForm")))
                 PressOnce(d->Button2, pressed);
             return BoxSaying("There is a new version (1.9)");
         }},
        {"info, server failing",
         [this](TForm1& f) {
             desktop.Online(true);
             versionFile.clear();
             f.ActionInfo->trigger();
         },
         [&]() -> QWidget* {
             if (auto* d = qobject_cast<TInfoForm*>(modal("InfoForm")))
                 PressOnce(d->Button2, pressed);
             return Shown<QMessageBox>();
         }},
        {"error report offline", [](TForm1& f) { f.ActionPublishErrorreport->trigger(); },
         [&]() -> QWidget* {
             if (auto* d = qobject_cast<TPublishErrorreportForm*>(modal("PublishErrorreportForm")))
                 PressOnce(d->Button1, pressed);
             return BoxSaying("Operation Failed: Can't connect to the Internet");
         }},
        {"error report refused",
         [this](TForm1& f) {
             desktop.Online(true);
             f.ActionPublishErrorreport->trigger();
         },
         [&]() -> QWidget* {
             if (auto* d = qobject_cast<TPublishErrorreportForm*>(modal("PublishErrorreportForm")))
                 PressOnce(d->Button1, pressed);
             return Shown<QMessageBox>();
         }},
        {"abnormal end of the last game",
         [](TForm1& f) {
             WriteLog("ERROR");
             f.FormActivate();
         },
         [] { return BoxSaying("An error occurred during the execution of the program."); }},
        {"a new best score",
         [](TForm1& f) {
             f.SoundsReady = true;
             f.GameStart.RunGame = [] {
                 InsertScore(12345);
                 WriteLog("OK");
             };
             f.ActionStart->trigger();
         },
         [&] { return modal("NewHighscoreForm"); }},
    };
    for (const TBoxCase& c : cases) {
        for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
            SCOPED_TRACE(std::string(c.name) + ", signal " + std::to_string(sig));
            test::ResetProgramDir();
            EnsureDataDir();
            WriteProgCfg("ScoreServer", server.HostPort());
            WriteProgCfg("GameServer", server.HostPort());
            WriteProgCfg("MailServer", "127.0.0.1:" + std::to_string(test::UnusedLocalPort()));
            desktop.Online(false);
            versionFile = "1.10\r\nhttp://downloads.test/zolvex\r\n";
            pressed = false;
            opened = nullptr;

            EXPECT_EQ(RunUntilStopped(c, sig), 0);
            EXPECT_FALSE(boxText.isEmpty()) << "the box was up when the signal came";
            EXPECT_TRUE(launcherClosed);
            EXPECT_TRUE(box.isNull()) << boxText.toStdString();
            EXPECT_TRUE(opened.isNull() || !opened->isVisible());
            EXPECT_EQ(Shown<QWidget>(), nullptr) << "no window stays open";
            SetEnvDefaults();
            LoadEnv();
            EXPECT_EQ(EnvData.Age, 42);
            delete opened.data();
        }
    }
}

}  // namespace
