#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
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
    // Declared first, gone last: the desktop stays the test's until the end.
    test::Desktop desktop;

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
    // Silent until the client has given up, however long that takes on this machine.
    test::HeldAnswer held;
    test::LocalHttpServer server;
    server.Server().Get("/stall", [&](const httplib::Request&, httplib::Response& res) {
        held.Wait();
        res.set_content("late", "text/plain");
    });
    server.Start();
    const THttpLimits limits{
        .ConnectTimeoutMs = 500, .TotalTimeoutMs = 700, .MaxBodyBytes = 1 << 20};
    try {
        DownloadText(server.Url("/stall"), {}, limits);
        FAIL() << "a stalled server must time out";
    } catch (const EHttpError& e) {
        EXPECT_NE(std::string(e.what()).find("imed out"), std::string::npos) << e.what();
    }
    held.Release();
}

// The sockets of a transfer close on exec: a browser started while a transfer runs gets none of
// them, and the connection ends when the transfer closes it.
TEST_F(InternetTest, ATransfersConnectionIsNotHandedToProgramsStartedMeanwhile) {
    test::HeldAnswer held;
    test::LocalHttpServer server;
    server.Server().Get("/held", [&](const httplib::Request&, httplib::Response& res) {
        held.Wait();
        res.set_content("done", "text/plain");
    });
    server.Start();
    std::thread client([&] { EXPECT_EQ(HttpGet(server.Url("/held"), {}, {}), "done"); });
    ASSERT_TRUE(held.WaitEntered());
    // Every descriptor of this process connected to the server, and whether it closes on exec.
    int toServer = 0, inherited = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(e.path().filename().c_str());
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0 ||
            peer.sin_family != AF_INET || ntohs(peer.sin_port) != server.Port())
            continue;
        ++toServer;
        if (!(fcntl(fd, F_GETFD) & FD_CLOEXEC)) ++inherited;
    }
    held.Release();
    client.join();
    EXPECT_GE(toServer, 1);
    EXPECT_EQ(inherited, 0) << "of " << toServer;
}

TEST_F(InternetTest, OversizedBodyIsRefused) {
    test::LocalHttpServer server;
    server.Server().Get("/big", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(5000, 'x'), "text/plain");
    });
    server.Start();
    EXPECT_THROW(DownloadText(server.Url("/big"), {}, {.MaxBodyBytes = 4096}), EHttpError);
    EXPECT_EQ(DownloadText(server.Url("/big"), {}, {.MaxBodyBytes = 5000}).size(), 5000u);
}

TEST_F(InternetTest, NoConnectionRaises) {
    test::LocalHttpServer server;
    server.Start();
    const std::string url = server.Url("/x");
    server.Stop();
    EXPECT_THROW(DownloadText(url), EHttpError);
}

// The server's own reason reaches the player, shortened and on one line, before the address.
TEST_F(InternetTest, ErrorStatusCarriesTheServersReasonShortened) {
    test::LocalHttpServer server;
    server.Server().Get("/busy", [](const httplib::Request&, httplib::Response& res) {
        res.status = 503;
        res.set_content("Error=The highscore list\r\ncannot be written just now\r\n", "text/plain");
    });
    server.Server().Get("/garbage", [](const httplib::Request&, httplib::Response& res) {
        res.status = 429;
        res.set_content(std::string(4096, 'g'), "text/plain");
    });
    server.Start();
    try {
        DownloadText(server.Url("/busy"));
        FAIL();
    } catch (const EHttpError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "HTTP 503 Service Unavailable: Error=The highscore list cannot be written just "
                  "now\r\n" +
                      server.Url("/busy"));
    }
    try {
        DownloadText(server.Url("/garbage"));
        FAIL();
    } catch (const EHttpError& e) {
        EXPECT_EQ(std::string(e.what()), "HTTP 429 Too Many Requests: " + std::string(200, 'g') +
                                             "...\r\n" + server.Url("/garbage"));
    }
}

// An answer that is too much still says why: an error status with a body of 10 MB is the status
// and the first words (the rest is not read), an endless answer is the size cap, and a long
// query (a scrambled payload) is cut so that it cannot crowd the reason out.
TEST_F(InternetTest, OversizedAnswersLeadWithTheirReasonAndTheAddressComesAfter) {
    test::LocalHttpServer server;
    server.Server().Get("/huge-error", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("Error=the database is locked\r\n" + std::string(10 << 20, 'x'),
                        "text/plain");
    });
    server.Server().Get("/endless", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
            const std::string chunk(16384, 'y');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    server.Start();
    const THttpLimits limits{.MaxBodyBytes = 4096};
    try {
        DownloadText(server.Url("/huge-error"), {}, limits);
        FAIL();
    } catch (const EHttpError& e) {
        EXPECT_EQ(e.Status, 500);
        EXPECT_EQ(std::string(e.what()),
                  "HTTP 500 Internal Server Error: Error=the database is locked " +
                      std::string(171, 'x') + "...\r\n" + server.Url("/huge-error"));
    }
    const std::string payload(600, 'Q');
    try {
        DownloadText(server.Url("/endless?cs=" + payload));
        FAIL();
    } catch (const EHttpError& e) {
        EXPECT_EQ(e.Status, 0);
        EXPECT_EQ(std::string(e.what()), "The answer is larger than 1048576 bytes\r\n" +
                                             server.Url("/endless?cs=" + std::string(21, 'Q')) +
                                             "...");
    }
}

TEST(PeerTextTest, CutsAtACharacterAndMarksTheCut) {
    EXPECT_EQ(ShortPeerText("short\r\n"), "short");
    EXPECT_EQ(ShortPeerText("abcdef", 3), "abc...");
    // "ü" is two bytes: the cut never splits it.
    EXPECT_EQ(ShortPeerText("\xC3\xBC\xC3\xBC\xC3\xBC", 2), "\xC3\xBC\xC3\xBC...");
    EXPECT_EQ(ShortPeerText(std::string(1 << 20, 'x')).size(), 303u);
}

// A transfer runs on a thread of its own: the caller's thread is free while the peer is silent,
// and a cancel ends the wait without a completion.
TEST_F(InternetTest, TransferRunsOffTheCallersThreadAndCancelStopsIt) {
    // Before the server, which its handler outlives otherwise.
    std::atomic<bool> release{false};
    std::atomic<int> held{0};
    test::LocalHttpServer server;
    server.Server().Get("/slow", [&](const httplib::Request&, httplib::Response& res) {
        ++held;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        res.set_content("done", "text/plain");
    });
    server.Start();
    const std::thread::id caller = std::this_thread::get_id();
    std::mutex m;
    std::condition_variable cv;
    bool finished = false;
    std::string body;
    std::thread::id ranOn;
    auto t = StartTransfer(
        [&](const TTransfer& tr) {
            ranOn = std::this_thread::get_id();
            body = HttpGet(server.Url("/slow"), {}, {}, &tr);
        },
        [&](std::exception_ptr e) {
            std::lock_guard lock(m);
            EXPECT_EQ(e, nullptr);
            finished = true;
            cv.notify_all();
        });
    EXPECT_FALSE(finished);  // StartTransfer returned with the peer still silent
    release = true;
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return finished; }));
    }
    EXPECT_EQ(body, "done");
    EXPECT_NE(ranOn, caller);

    release = false;
    std::atomic<bool> cancelledSeen{false};
    std::atomic<bool> completed{false};
    auto second = StartTransfer(
        [&](const TTransfer& tr) {
            try {
                HttpGet(server.Url("/slow"), {}, {}, &tr);
            } catch (const ETransferCancelled&) {
                cancelledSeen = true;
                throw;
            }
        },
        [&](std::exception_ptr) { completed = true; });
    // Cancelled once the peer holds the request: a wait under way, not one about to begin.
    for (int i = 0; i < 6000 && held < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(held, 2);
    second->Cancel();
    for (int i = 0; i < 6000 && !cancelledSeen; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(cancelledSeen);  // stopped at libcurl's next progress call, not at the time-out
    EXPECT_FALSE(completed);
    release = true;
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
