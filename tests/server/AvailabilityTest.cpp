// What a server reached directly must withstand: a second copy started on its port or its data,
// requests for many ranges, and an IPv6 loopback address.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "ServerFixtures.h"
#include "payload/ScoreCode.h"
#include "server/Html.h"

namespace zx {
namespace {

std::string StartFailure(const std::string& data, std::vector<std::string> extra = {},
                         int port = 0) {
    try {
        test::ChildServer second(data, std::move(extra), port);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "started";
}

TEST(ServerStart, ASecondServerOnTheSamePortOrDataIsRefusedWithAReason) {
    test::TempFolder data, other;
    test::ChildServer first(data.Path());
    EXPECT_NE(StartFailure(data.Path())
                  .find("the data folder " + data.Path() + " is in use by another zolvex-server"),
              std::string::npos);
    EXPECT_NE(StartFailure(other.Path(), {}, first.Port())
                  .find("cannot listen on 127.0.0.1:" + std::to_string(first.Port())),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(other.Path())) << "no store made for a server refused";
    const std::string fresh = other.Path() + "/fresh";
    StartFailure(fresh, {}, first.Port());
    EXPECT_FALSE(std::filesystem::exists(fresh));
    // The first one still answers every request.
    httplib::Client cli("127.0.0.1", first.Port());
    for (int i = 0; i < 10; ++i) {
        auto res = cli.Get("/zvxinternal/version.txt");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
    }
}

TEST(ServerStart, AServerStoppedFreesItsDataFolderForTheNext) {
    test::TempFolder data;
    { test::ChildServer first(data.Path()); }
    test::ChildServer again(data.Path());
    EXPECT_GT(again.Port(), 0);
}

TEST(ServerRanges, ManyRangesGetTheWholeFileOnceAndOneRangeItsPart) {
    test::TempFolder data;
    test::InProcessServer server(data.Path());
    httplib::Client cli("127.0.0.1", server.Port());
    auto whole = cli.Get("/zvxinternal/index.html");
    ASSERT_TRUE(whole);
    const size_t size = whole->body.size();
    std::string ranges = "bytes=0-" + std::to_string(size - 1);
    for (int i = 0; i < 879; ++i) ranges += ",0-" + std::to_string(size - 1);
    auto many = cli.Get("/zvxinternal/index.html", {{"Range", ranges}});
    ASSERT_TRUE(many);
    EXPECT_EQ(many->status, 200);
    EXPECT_EQ(many->body.size(), size);
    auto one = cli.Get("/zvxinternal/index.html", {{"Range", "bytes=0-9"}});
    ASSERT_TRUE(one);
    EXPECT_EQ(one->status, 206);
    EXPECT_EQ(one->body, whole->body.substr(0, 10));
}

TEST(ServerListen, AnIpv6LoopbackAddressIsServed) {
    test::TempFolder data;
    server::TServerOptions o = test::QuietOptions();
    o.Host = "::1";
    std::unique_ptr<test::InProcessServer> server;
    try {
        server = std::make_unique<test::InProcessServer>(data.Path(), o);
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    httplib::Client cli("::1", server->Port());
    auto res = cli.Get("/zvxinternal/version.txt");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

TEST(ServerLimits, AnIpv6ClientIsCountedByItsSlash64) {
    EXPECT_EQ(server::RateKey("2001:db8:1:2:aaaa:bbbb:cccc:dddd"), "2001:db8:1:2::/64");
    EXPECT_EQ(server::RateKey("2001:db8:1:2::1"), "2001:db8:1:2::/64");
    EXPECT_EQ(server::RateKey("2001:db8:1:3::1"), "2001:db8:1:3::/64");
    EXPECT_EQ(server::RateKey("::ffff:192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(server::RateKey("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(server::RateKey("not an address"), "not an address");

    server::TRateLimiter limiter(1, 2);
    const auto t0 = server::TRateLimiter::Clock::now();
    EXPECT_TRUE(limiter.Allow("2001:db8::1", t0));
    EXPECT_TRUE(limiter.Allow("2001:db8::ffff:2", t0));
    EXPECT_FALSE(limiter.Allow("2001:db8::3:4:5", t0)) << "the same /64 under a third address";
    EXPECT_TRUE(limiter.Allow("2001:db8:0:1::1", t0)) << "the next /64";
}

// A short lost game without a catch, one of its own for each i; score as given.
TPayloadFields LostGame(int i, int32_t score = 0) {
    TPayloadFields f;
    f.Name = "Lost" + std::to_string(i);
    f.Score = score;
    f.GamesStarted = f.GamesWon = 1;
    TScoreStats st;
    st.Seconds = 20 + i;
    st.Spawned[1] = st.EscapedCount[1] = 5 + i;
    st.Spawned[4] = st.EscapedCount[4] = 1;
    f.ScoreCode = MakeScoreCode(st, test::TestRandom(static_cast<uint32_t>(i)));
    return f;
}

TEST(ServerBackup, ACopyTakenWhileTheServerRunsHoldsEveryAnsweredScore) {
    test::TempFolder data, copy;
    test::ChildServer server(data.Path());
    for (int i = 0; i < 5; ++i) {
        const std::string name = "Kept" + std::to_string(i);
        const auto target = std::string("/score2.php?cs=") +
                            ScramblePayload(BuildPayload([&] {
                                                TPayloadFields f;
                                                f.Name = name;
                                                f.Score = 0;
                                                f.GamesStarted = f.GamesWon = 1;
                                                TScoreStats st;
                                                st.Seconds = 20 + i;
                                                st.Spawned[1] = st.EscapedCount[1] = 5 + i;
                                                st.Spawned[4] = st.EscapedCount[4] = 1;
                                                f.ScoreCode = MakeScoreCode(
                                                    st, test::TestRandom(static_cast<uint32_t>(i)));
                                                return f;
                                            }()),
                                            test::TestRandom(static_cast<uint32_t>(i)));
        httplib::Client cli("127.0.0.1", server.Port());
        auto res = cli.Get(target.c_str());
        ASSERT_TRUE(res && ParseAnswer(res->body).count("Rang")) << (res ? res->body : "");
    }
    const std::string file = copy.Path() + "/scores.db";
    const std::string command = std::string(ZOLVEX_SERVER_EXE) + " backup --data " + data.Path() +
                                " " + file + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(file + ".part"));
    EXPECT_EQ(server::OpenSqliteStore(copy.Path())->SubmissionCount(), 5);
    // The server goes on taking scores.
    httplib::Client cli("127.0.0.1", server.Port());
    EXPECT_TRUE(cli.Get("/zvxinternal/version.txt"));
}

TEST(ServerPages, ChangedPagesAreServedAfterSighupAndAnUnreadableFolderKeepsTheOld) {
    test::TempFolder data, pages;
    std::filesystem::copy(ZOLVEX_SERVER_PAGES, pages.Path(),
                          std::filesystem::copy_options::recursive);
    test::ChildServer server(data.Path(), {"--pages", pages.Path()});
    auto errors = [&] {
        httplib::Client cli("127.0.0.1", server.Port());
        auto res = cli.Get("/zvxinternal/errors.txt");
        return res ? res->body : std::string("(no answer)");
    };
    const std::string before = errors();
    {
        std::ofstream out(pages.Path() + "/errors.txt", std::ios::trunc);
        out << "new list\n";
    }
    EXPECT_EQ(errors(), before) << "read once at start, not per request";
    kill(server.Pid(), SIGHUP);
    std::string after;
    for (int i = 0; i < 6000 && (after = errors()) == before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(after, "new list\n");
    std::filesystem::remove(pages.Path() + "/index.html");
    kill(server.Pid(), SIGHUP);
    EXPECT_TRUE(server.LogShows("pages not read again: no index.html"));
    httplib::Client cli("127.0.0.1", server.Port());
    auto start = cli.Get("/zvxinternal");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->status, 200) << "the old pages go on serving";
}

TEST(ServerMetrics, RequestsAndSubmissionsAreCountedForALoopbackCollectorOnly) {
    test::TempFolder data;
    test::ChildServer server(data.Path());
    const TPayloadFields game = LostGame(1);
    EXPECT_TRUE(test::Publish(server.Port(), game).Lines.count("Rang"));
    EXPECT_FALSE(test::Publish(server.Port(), game).Lines.count("Rang"));
    EXPECT_FALSE(test::Publish(server.Port(), LostGame(2, 100)).Lines.count("Rang"));
    httplib::Client cli("127.0.0.1", server.Port());
    ASSERT_TRUE(cli.Get("/zvxinternal/nothing.html"));
    auto res = cli.Get("/metrics");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    const std::string& m = res->body;
    EXPECT_NE(m.find("zolvex_requests_total{route=\"submit\",status=\"200\"} 3\n"),
              std::string::npos)
        << m;
    EXPECT_NE(m.find("zolvex_requests_total{route=\"pages\",status=\"404\"} 1\n"),
              std::string::npos);
    EXPECT_NE(m.find("zolvex_submissions_total{outcome=\"accepted\"} 1\n"), std::string::npos);
    EXPECT_NE(m.find("zolvex_submissions_total{outcome=\"replay\"} 1\n"), std::string::npos);
    EXPECT_NE(m.find("zolvex_submissions_total{outcome=\"The score is higher than its score code "
                     "explains\"} 1\n"),
              std::string::npos);
    EXPECT_NE(m.find("zolvex_commit_seconds_count 2\n"), std::string::npos);
    EXPECT_NE(m.find("zolvex_wal_bytes "), std::string::npos);
    // What came through a proxy is someone outside.
    auto proxied = cli.Get("/metrics", {{"X-Real-IP", "203.0.113.9"}});
    ASSERT_TRUE(proxied);
    EXPECT_EQ(proxied->status, 404);
}

// A flood of connections closed before their request is complete writes no line each, and the
// heads the HTTP library refuses by itself are answered and counted like any other.
TEST(ServerMetrics, DroppedConnectionsAndHeadsTheLibraryRefusesAreCountedAndNotLogged) {
    test::TempFolder data;
    test::ChildServer server(data.Path());  // one line per request
    for (const char* part : {"GET /zvx", "GET /zvxinternal HTTP/1.1\r\nHost: x\r\n",
                             "GET /zvxinternal HTTP/1.1\r\nHost: x\r\nX-A: 1\r\n"}) {
        for (int i = 0; i < 3; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(server.Port()));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
            send(fd, part, std::strlen(part), MSG_NOSIGNAL);
            close(fd);
        }
    }
    const std::string big = test::Exchange(
        server.Port(),
        "GET /zvxinternal HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(40000, 'a') + "\r\n\r\n");
    ASSERT_EQ(big.substr(0, 12), "HTTP/1.1 431") << big.substr(0, 40);
    httplib::Client cli("127.0.0.1", server.Port());
    std::string metrics;
    // The closes reach the server in their own time: asked until all ten are counted (the nine
    // dropped and the refused head's).
    const std::string unanswered = "zolvex_connections_unanswered_total 10\n";
    for (int i = 0; i < 1000; ++i) {
        auto res = cli.Get("/metrics");
        ASSERT_TRUE(res);
        metrics = res->body;
        if (metrics.find(unanswered) != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(metrics.find(unanswered), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("zolvex_requests_total{route=\"other\",status=\"431\"} 1\n"),
              std::string::npos)
        << metrics;
    // Every line left is the start, the refused head's or a request for the metrics.
    cli.Get("/zvxinternal/version.txt");
    ASSERT_TRUE(server.LogShows("\"GET /zvxinternal/version.txt\" 200"));
    std::istringstream log(server.Log());
    int refused = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.find(" 431 ") != std::string::npos) {
            ++refused;
            continue;
        }
        EXPECT_TRUE(line.starts_with("zolvex-server: serving ") ||
                    line.starts_with("127.0.0.1 \"GET /metrics\" 200") ||
                    line.starts_with("127.0.0.1 \"GET /zvxinternal/version.txt\" 200"))
            << line;
    }
    EXPECT_EQ(refused, 1);
}

TEST(HighscorePage, EqualScoresShareAPlaceAndTheNextSkipsAhead) {
    const std::vector<server::THighscoreRow> rows = {
        {"Ann", "", "", 900}, {"Ben", "", "", 500}, {"Cy", "", "", 500}, {"Di", "", "", 100}};
    const std::string page = server::HighscorePage(rows, {}, "1 January");
    auto placeOf = [&](const std::string& name) {
        const size_t at = page.find("<b>" + name + "</b>");
        const size_t dot = page.rfind(".</td>", at);
        const size_t open = page.rfind('>', dot);
        return page.substr(open + 1, dot - open - 1);
    };
    EXPECT_EQ(placeOf("Ann"), "1");
    EXPECT_EQ(placeOf("Ben"), "2");
    EXPECT_EQ(placeOf("Cy"), "2");
    EXPECT_EQ(placeOf("Di"), "4");
}

}  // namespace
}  // namespace zx
