// What the dialogs' boxes say when a peer fails them: the reason first (the status, the size cap,
// where the mail server left), the address after it, and a box of the usual width however long
// the text's unbroken runs are.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "app/InfoUnit.h"
#include "app/Main.h"
#include "app/PublishErrorreportUnit.h"
#include "app/PublishHighscoreUnit.h"
#include "game/GameRecords.h"
#include "platform/Dialogs.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/Desktop.h"
#include "testsupport/LauncherFixture.h"
#include "testsupport/LocalHttpServer.h"
#include "testsupport/QtTestSupport.h"
#include "testsupport/SmtpPeer.h"
#include "testsupport/TestSupport.h"

namespace {

using namespace zx;

class FailureBoxTest : public test::LauncherFixture {
protected:
    void SetUp() override {
        SetUpLauncher(true);
        SetEnvDefaults();
        CollectBoxes();
        server.Server().Get("/score2.php", [this](const httplib::Request&, httplib::Response& res) {
            answer(res);
        });
        server.Server().Get(
            "/zvxinternal/version.txt",
            [this](const httplib::Request&, httplib::Response& res) { answer(res); });
        server.Start();
        WriteProgCfg("ScoreServer", server.HostPort());
        WriteProgCfg("GameServer", server.HostPort());
    }
    // The first line of the one box shown and the address on its second line.
    void ExpectOneBox(const std::string& firstLine, const std::string& addressStart) {
        ASSERT_EQ(messages.size(), 1u);
        const std::string& m = messages[0];
        const size_t end = m.find("\r\n");
        EXPECT_EQ(m.substr(0, end), firstLine);
        ASSERT_NE(end, std::string::npos) << m;
        EXPECT_EQ(m.substr(end + 2, addressStart.size()), addressStart) << m;
    }

    std::function<void(httplib::Response&)> answer;
    test::LocalHttpServer server;
};

// A score server failing with a huge page, or answering without end: the box says so before the
// address, whose scrambled payload is cut short.
TEST_F(FailureBoxTest, PublishingShowsTheStatusOrTheSizeCapBeforeTheAddress) {
    EnvData.Highscores[0] = {"Robo", 500};
    auto* form = new TPublishHighscoreForm();
    form->show();
    const auto publish = [&] {
        messages.clear();
        QTest::mouseClick(form->Button1, Qt::LeftButton);
    };
    const std::string address = server.Url("/score2.php?cs=");

    answer = [](httplib::Response& res) {
        res.status = 500;
        res.set_content("Error=the database is locked\n" + std::string(10 << 20, 'x'),
                        "text/plain");
    };
    publish();
    ExpectOneBox(
        "Could not publish Highscore: HTTP 500 Internal Server Error: Error=the database is "
        "locked " +
            std::string(171, 'x') + "...",
        address);
    EXPECT_LT(messages[0].size(), 600u) << messages[0];

    answer = [](httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
            const std::string chunk(16384, 'y');
            return sink.write(chunk.data(), chunk.size());
        });
    };
    publish();
    ExpectOneBox("Could not publish Highscore: The answer is larger than 1048576 bytes", address);
    EXPECT_LT(messages[0].size(), 600u) << messages[0];
    form->close();
}

TEST_F(FailureBoxTest, VersionCheckShowsTheStatusAndTheAddress) {
    answer = [](httplib::Response& res) { res.status = 404; };
    TInfoForm info;
    QTest::mouseClick(info.Button2, Qt::LeftButton);
    ExpectOneBox("HTTP 404 Not Found", server.Url("/zvxinternal/version.txt"));
    EXPECT_EQ(kinds, std::vector<platform::MessageKind>{platform::MessageKind::Error});
}

// A mail server that hangs up after EHLO: said as such, not as a socket's errno.
TEST_F(FailureBoxTest, ErrorReportShowsWhereTheMailServerHungUp) {
    WriteProgCfg("MailTo", "errors@zolvex.test");
    test::WriteText("KVD\\LOG.TXT", "Program Version 1.10\r\n");
    test::SmtpPeer peer({{"EHLO", {test::SmtpPeer::TAct::Close, ""}}});
    WriteProgCfg("MailServer", peer.HostPort());
    TPublishErrorreportForm form;
    form.show();
    form.Memo1->setPlainText("It froze");
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(messages,
              std::vector<std::string>{
                  "The mail server closed the connection after EHLO\r\nsmtp://" + peer.HostPort()});
    EXPECT_TRUE(form.isVisible());
}

// An unbroken run (an address, a server's garbage) may break in the box: the box keeps the
// toolkit's usual width, half the screen at most, instead of growing to its hard limit.
TEST(FailureBoxWidthTest, LongUnbrokenRunsDoNotWidenTheBox) {
    test::TestApplication();
    InstallMessageBoxes();
    const int screen = QGuiApplication::primaryScreen()->availableGeometry().width();
    const std::string text =
        "Could not publish Highscore: HTTP 500 Internal Server Error: " + std::string(200, 'g') +
        "...\r\nhttp://score.test/score2.php?cs=" + std::string(300, 'Q');
    int width = 0;
    QString shown;
    test::AnswerTheNextBox([&](QMessageBox& box) {
        width = box.width();
        shown = box.text();
    });
    platform::ShowError(text);
    platform::SetMessageHook(nullptr);
    EXPECT_GT(width, 0);
    EXPECT_LE(width, std::min(screen / 2, 500) + 100) << "screen " << screen;
    // Every character is still there, in order.
    QString plain = shown;
    plain.remove(QChar(0x200B));
    EXPECT_TRUE(plain.startsWith("Could not publish Highscore: HTTP 500 Internal Server Error: " +
                                 QString(200, 'g')));
}

}  // namespace
