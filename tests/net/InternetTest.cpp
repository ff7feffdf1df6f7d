#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/Desktop.h"
#include "testsupport/LocalHttpServer.h"
#include "testsupport/NetLimits.h"
#include "testsupport/TestSupport.h"

namespace {

using namespace zx;

// Records every message box and answers confirmations with the next scripted answer (Yes when
// none is left).
struct MessageRecorder {
    std::vector<std::string> texts;
    std::vector<bool> answers;
    MessageRecorder() {
        platform::SetMessageHook([this](platform::MessageKind, const std::string& t) {
            texts.push_back(t);
            if (answers.empty()) return true;
            const bool a = answers.front();
            answers.erase(answers.begin());
            return a;
        });
    }
    ~MessageRecorder() { platform::SetMessageHook(nullptr); }
};

class InternetTest : public testing::Test {
protected:
    // Declared first, gone last: the desktop and the limits stay the test's until the end.
    test::Desktop desktop;
    test::NetLimits netLimits;

    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        desktop.Online(true);
    }
};

// --- downloads ----------------------------------------------------------------------------------

TEST_F(InternetTest, DownloadTextMakesLineEndsCrLf) {
    test::LocalHttpServer server;
    server.Server().Get(
        "/zvxinternal/version.txt", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("1.11\nhttp://example.invalid/download\r\nthird\r", "text/plain");
        });
    server.Start();
    EXPECT_EQ(DownloadText(server.Url("/zvxinternal/version.txt")),
              "1.11\r\nhttp://example.invalid/download\r\nthird\r\n");
}

TEST_F(InternetTest, HttpErrorStatusRaisesWithTheStatusInItsMessage) {
    test::LocalHttpServer server;
    server.Server().Get("/boom",
                        [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    server.Start();
    try {
        DownloadText(server.Url("/missing"));
        FAIL() << "a 404 must raise";
    } catch (const EHttpError& e) {
        EXPECT_EQ(e.Status, 404);
        EXPECT_NE(std::string(e.what()).find("404"), std::string::npos);
    }
    try {
        DownloadText(server.Url("/boom"));
        FAIL() << "a 500 must raise";
    } catch (const EHttpError& e) {
        EXPECT_EQ(e.Status, 500);
    }
}

TEST_F(InternetTest, StalledServerEndsInATimeOut) {
    test::LocalHttpServer server;
    server.Server().Get("/stall", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        res.set_content("late", "text/plain");
    });
    server.Start();
    netLimits.Http({.ConnectTimeoutMs = 500, .TotalTimeoutMs = 700, .MaxBodyBytes = 1 << 20});
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(DownloadText(server.Url("/stall")), EHttpError);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
}

TEST_F(InternetTest, OversizedBodyIsRefused) {
    test::LocalHttpServer server;
    server.Server().Get("/big", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(5000, 'x'), "text/plain");
    });
    server.Start();
    netLimits.Http({.ConnectTimeoutMs = 5000, .TotalTimeoutMs = 15000, .MaxBodyBytes = 4096});
    EXPECT_THROW(DownloadText(server.Url("/big")), EHttpError);
    netLimits.Http({.ConnectTimeoutMs = 5000, .TotalTimeoutMs = 15000, .MaxBodyBytes = 5000});
    EXPECT_EQ(DownloadText(server.Url("/big")).size(), 5000u);
}

TEST_F(InternetTest, NoConnectionRaisesAndOfflineSaysSo) {
    test::LocalHttpServer server;
    server.Start();
    const std::string url = server.Url("/x");
    server.Stop();
    EXPECT_THROW(DownloadText(url), EHttpError);

    MessageRecorder messages;
    desktop.Online(false);
    EXPECT_EQ(DownloadText(url), "");
    EXPECT_EQ(messages.texts,
              std::vector<std::string>{"Operation Failed: Can't connect to the Internet"});
}

// --- hosts, browser, platform ---------------------------------------------------------------------

TEST_F(InternetTest, HostsComeFromTheConfigurationWhenGiven) {
    EXPECT_EQ(StartPageAddress(), "http://www.brightmoor.example/zvxinternal");
    EXPECT_EQ(GameServerAddress(false, "/zvxinternal/errors.htm"),
              "http://brightmoor.example/zvxinternal/errors.htm");
    WriteProgCfg("GameServer", "www.games.test:8080");
    WriteProgCfg("WebSite", "campaign.test");
    EXPECT_EQ(StartPageAddress(), "http://www.games.test:8080/zvxinternal");
    EXPECT_EQ(GameServerAddress(false, "/zvxinternal/zvxrulesengl.htm"),
              "http://games.test:8080/zvxinternal/zvxrulesengl.htm");
    EXPECT_EQ(WebSiteAddress(), "http://campaign.test/");
    // A host without "www." serves both forms.
    WriteProgCfg("GameServer", "127.0.0.1:9");
    EXPECT_EQ(GameServerAddress(false, "/a"), GameServerAddress(true, "/a"));
}

TEST_F(InternetTest, BrowserThatCannotStartGivesTheGotoBox) {
    MessageRecorder messages;
    std::vector<std::string> opened;
    desktop.Open([&](const std::string& u) {
        opened.push_back(u);
        return false;
    });
    OpenUrlInBrowser("http://x.test/page");
    EXPECT_EQ(opened, std::vector<std::string>{"http://x.test/page"});
    EXPECT_EQ(messages.texts,
              std::vector<std::string>{"Unable to start Browser. Goto\rhttp://x.test/page"});
}

TEST(ShellTest, DefaultRouteIsADestinationAndMaskOfZeroThatIsUp) {
    const std::string head =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    EXPECT_TRUE(platform::HasDefaultRoute(
        head + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"));
    EXPECT_FALSE(platform::HasDefaultRoute(
        head + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"));
    EXPECT_FALSE(platform::HasDefaultRoute(
        head + "eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"));
    EXPECT_FALSE(platform::HasDefaultRoute(head));
    EXPECT_FALSE(platform::HasDefaultRoute(""));
}

}  // namespace
