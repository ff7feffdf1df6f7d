// zolvex-server on a loopback port: its pages, the list of known errors against the program's
// own log lines, publishing with every refusal, ranks across a week boundary, the identifier,
// the rate limit, and scores kept across a restart and a kill during a burst.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "ServerFixtures.h"
#include "server/RateLimiter.h"
#include "server/Submission.h"

namespace zx {
namespace {

using test::Publish;

// The score a game with these statistics has under the game's rules.
int32_t RulesScore(const TScoreStats& s, bool won, int pauses = 0) {
    int32_t score = won ? 10000 : 0;
    for (size_t k = 1; k <= 6; ++k)
        score += server::kCatchPoints[k] * (s.Caught[k] + s.CaughtEarly[k]) + 50 * s.CaughtEarly[k];
    return score - 50 * s.CondomShots - 100 * s.Torpedoes - 100 * pauses;
}

// A 90-second game of a fair player; `won` false makes it one lost to a virus after 40 seconds.
TScoreStats FairGame(bool won, int extraCatches = 0) {
    TScoreStats s;
    s.Seconds = won ? 91 : 40;
    s.CondomShots = 64 + extraCatches;
    s.Torpedoes = 3;
    const int spawned[7] = {0, 40, 12, 2, 10, 6, 4};
    const int early[7] = {0, 5, 2, 0, 3, 1, 1};
    const int caught[7] = {0, 20, 6, 1, 7, 5, 3};
    for (size_t k = 1; k <= 6; ++k) {
        s.Spawned[k] = spawned[k];
        s.CaughtEarly[k] = early[k];
        s.Caught[k] = caught[k];
        s.EscapedCount[k] = spawned[k] - early[k] - caught[k];
        if (k >= 4 && won) s.EscapedCount[k] = 0;
    }
    s.Caught[1] += extraCatches;
    s.Spawned[1] += extraCatches;
    if (!won) {
        s.EscapedCount[5] = 1;
        ++s.Spawned[5];
    }
    return s;
}

TPayloadFields Entry(const std::string& name, const TScoreStats& stats, int32_t score,
                     const std::string& id = {}) {
    static auto rand = test::TestRandom(99);
    TPayloadFields f;
    f.PlayerId = id;
    f.Score = score;
    f.Name = name;
    f.City = "Bern";
    f.Country = "CH";
    f.Email = "p@example.org";
    f.Age = 17;
    f.Sex = 'f';
    f.GamesStarted = 12;
    f.GamesWon = 3;
    f.ScoreCode = MakeScoreCode(stats, rand);
    return f;
}

TPayloadFields WonGame(const std::string& name, int extra = 0, const std::string& id = {}) {
    const TScoreStats s = FairGame(true, extra);
    return Entry(name, s, RulesScore(s, true), id);
}

std::string Get(int port, const std::string& path, int* status = nullptr,
                const std::string& host = {}) {
    httplib::Client cli("127.0.0.1", port);
    httplib::Headers h;
    if (!host.empty()) h.emplace("Host", host);
    auto res = cli.Get(path.c_str(), h);
    if (status) *status = res ? res->status : 0;
    return res && res->status == 200 ? res->body : std::string();
}

class ServerTest : public testing::Test {
protected:
    test::TempFolder data_;
    std::unique_ptr<test::InProcessServer> server_ =
        std::make_unique<test::InProcessServer>(data_.Path());
    int Port() const { return server_->Port(); }
};

// ---- pages ----

TEST_F(ServerTest, EveryPageAnswersForBothHostFormsAndEveryLinkLeadsSomewhere) {
    const std::vector<std::string> pages = {"/zvxinternal",
                                            "/zvxinternal/highscore.html",
                                            "/zvxinternal/errors.txt",
                                            "/zvxinternal/zvxrulesengl.htm",
                                            "/zvxinternal/errors.htm",
                                            "/zvxinternal/version.txt",
                                            "/game/game_zolvex.html",
                                            "/zvxinternal/howto.htm",
                                            "/zvxinternal/safersex.htm",
                                            "/zvxinternal/prizes.htm"};
    std::set<std::string> links;
    const std::regex link(R"re((?:href|src)="([^"]*)")re");
    for (const std::string& page : pages) {
        int www = 0, bare = 0;
        const std::string a = Get(Port(), page, &www, "www.zolvex-game.example");
        const std::string b = Get(Port(), page, &bare, "zolvex-game.example");
        EXPECT_EQ(www, 200) << page;
        EXPECT_EQ(bare, 200) << page;
        EXPECT_FALSE(a.empty()) << page;
        if (page != "/zvxinternal/version.txt") {
            EXPECT_EQ(a, b) << page;
        }
        for (std::sregex_iterator it(a.begin(), a.end(), link), end; it != end; ++it)
            links.insert((*it)[1]);
    }
    EXPECT_TRUE(links.count("/zvxinternal/pics/banner.png"));
    // The start page leads to the game in the browser (served where the web build is: PlayTest).
    EXPECT_TRUE(links.erase("/play/"));
    EXPECT_TRUE(links.count("/zvxinternal/site.css"));
    for (const std::string& l : links) {
        // Inside the start page's area, or the campaign's game page: nothing points elsewhere.
        ASSERT_TRUE(l.rfind("/zvxinternal", 0) == 0 || l == "/game/game_zolvex.html") << l;
        httplib::Client cli("127.0.0.1", Port());
        auto res = cli.Get(l.c_str());
        ASSERT_TRUE(res) << l;
        EXPECT_EQ(res->status, 200) << l;
        if (l.size() > 4 && l.substr(l.size() - 4) == ".png") {
            EXPECT_EQ(res->get_header_value("Content-Type"), "image/png");
            EXPECT_EQ(res->body.substr(1, 3), "PNG") << l;
        }
    }
    int status = 0;
    Get(Port(), "/zvxinternal/nosuchpage.htm", &status);
    EXPECT_EQ(status, 404);
    Get(Port(), "/zvxinternal/../../etc/passwd", &status);
    EXPECT_EQ(status, 404);
    Get(Port(), "/zvxinternal/%2e%2e/CMakeLists.txt", &status);
    EXPECT_EQ(status, 404);
}

TEST_F(ServerTest, VersionFileNamesTheVersionAndTheDownloadPageUnderTheNameAsked) {
    const std::string text =
        Get(Port(), "/zvxinternal/version.txt", nullptr, "www.zolvex-game.example");
    EXPECT_EQ(text, "1.10\r\nhttp://www.zolvex-game.example/game/game_zolvex.html\r\n");
    EXPECT_EQ(Get(Port(), "/zvxinternal/version.txt", nullptr, "bad<host>"),
              "1.10\r\nhttp://localhost/game/game_zolvex.html\r\n");
}

// The launcher's matching of the list against its log: first rule that yields a page wins.
std::string FindPage(const std::string& list, const std::vector<std::string>& log) {
    std::istringstream in(list);
    std::string rule;
    while (std::getline(in, rule)) {
        if (!rule.empty() && rule.back() == '\r') rule.pop_back();
        std::string lower = rule;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto value = [&](const std::string& tag) -> std::optional<std::string> {
            const size_t at = lower.find("<" + tag + "=");
            if (at == std::string::npos) return std::nullopt;
            const size_t from = at + tag.size() + 2;
            return rule.substr(from, rule.find('>', from) - from);
        };
        const auto n = value("zn");
        if (!n) continue;
        const int count = std::stoi(*n);
        const bool last = lower.find("<zl") != std::string::npos;
        for (int s = 0; count >= 1 && s + count <= static_cast<int>(log.size()); ++s) {
            bool all = !last || s == static_cast<int>(log.size()) - count;
            for (int i = 1; all && i <= count; ++i) {
                const auto text = value("z" + std::to_string(i));
                all = text && log[static_cast<size_t>(s + i - 1)].find(*text) != std::string::npos;
            }
            if (all) return value("w").value_or("");
        }
    }
    return {};
}

TEST_F(ServerTest, KnownErrorsListFindsASolutionPageForWhatTheProgramLogs) {
    const std::string list = Get(Port(), "/zvxinternal/errors.txt");
    // Log lines exactly as the program writes them on these failures.
    const std::map<std::string, std::vector<std::string>> cases = {
        {"nowave.htm",
         {"Formshow: Start", "2", "Error initiating DirectX: Cannot find Wave: back"}},
        {"display.htm", {"InitDDraw", "Error initiating DirectX: SetDisplayMode failed"}},
        {"level.htm",
         {"InitLevel: Start", "1",
          "Exception raised in Threadnotify while glsproc: Cannot open file "
          "\"/opt/zolvex/KVD/Level1.txt\". "
          "The system cannot find the file specified"}},
        {"level.htm", {"Formation 7 nicht gefunden"}},
    };
    for (const auto& [page, log] : cases) {
        EXPECT_EQ(FindPage(list, log), page) << log.back();
        int status = 0;
        Get(Port(), "/zvxinternal/errors/" + page, &status);
        EXPECT_EQ(status, 200) << page;
    }
    EXPECT_EQ(FindPage(list, {"Formshow: Start", "Back: End"}), "")
        << "an unknown failure finds nothing";
}

// ---- publishing ----

TEST_F(ServerTest, AFirstScoreGetsAnIdentifierAndRanksWithoutAnOldRank) {
    const TPayloadFields f = WonGame("Kim");
    const test::Answer a = Publish(Port(), f);
    ASSERT_EQ(a.Status, 200) << a.Body;
    ASSERT_TRUE(a.Lines.count("ID")) << a.Body;
    const std::string id = a.Lines.at("ID");
    EXPECT_FALSE(id.empty());
    EXPECT_LE(id.size(), 32u);
    EXPECT_EQ(a.Lines.at("Rang"), "1");
    EXPECT_EQ(a.Lines.at("Platz1"), std::to_string(f.Score));
    EXPECT_EQ(a.Lines.at("wRang"), "1");
    EXPECT_EQ(a.Lines.at("wPlatz1"), std::to_string(f.Score));
    EXPECT_FALSE(a.Lines.count("Alterrang"));
    EXPECT_FALSE(a.Lines.count("wAlterrang"));
    EXPECT_FALSE(a.Lines.count("Error"));
    EXPECT_NE(a.Body.find("\r\n"), std::string::npos);

    // The identifier sent back is used, not replaced; the old ranks come along.
    const test::Answer again = Publish(Port(), WonGame("Kim", 2, id));
    ASSERT_TRUE(again.Lines.count("Rang")) << again.Body;
    EXPECT_FALSE(again.Lines.count("ID"));
    EXPECT_EQ(again.Lines.at("Alterrang"), "1");
    EXPECT_EQ(again.Lines.at("wAlterrang"), "1");

    // An identifier this server never gave is replaced by one of its own.
    const test::Answer stranger = Publish(Port(), WonGame("Lou", 1, "12345"));
    ASSERT_TRUE(stranger.Lines.count("ID")) << stranger.Body;
    EXPECT_NE(stranger.Lines.at("ID"), "12345");
    EXPECT_NE(stranger.Lines.at("ID"), id);
}

TEST_F(ServerTest, EveryMalformedFieldIsRefusedWithOneErrorLineAndNoRank) {
    const TPayloadFields good = WonGame("Kim");
    auto withField = [&](size_t index, std::string value) {
        auto list = PayloadFieldList(good);
        list[index] = std::move(value);
        return list;
    };
    std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"13 fields",
         [&] {
             auto l = PayloadFieldList(good);
             l.pop_back();
             return l;
         }()},
        {"15 fields",
         [&] {
             auto l = PayloadFieldList(good);
             l.push_back("ZVX");
             return l;
         }()},
        {"magic", withField(kFieldMagic, "ZVY")},
        {"end magic", withField(kFieldMagicEnd, "zvx")},
        {"score text", withField(kFieldScore, "12a")},
        {"score blank", withField(kFieldScore, "")},
        {"score huge", withField(kFieldScore, "99999999999")},
        {"name long", withField(kFieldName, std::string(21, 'n'))},
        {"name blank", withField(kFieldName, "")},
        {"name control", withField(kFieldName, "a\x01")},
        {"city long", withField(kFieldCity, std::string(21, 'c'))},
        {"country long", withField(kFieldCountry, std::string(21, 'c'))},
        {"email long", withField(kFieldEmail, std::string(41, 'e'))},
        {"comment long", withField(kFieldComment, std::string(81, 'k'))},
        {"age text", withField(kFieldAge, "x7")},
        {"age high", withField(kFieldAge, "111")},
        {"age negative", withField(kFieldAge, "-1")},
        {"sex", withField(kFieldSex, "x")},
        {"sex long", withField(kFieldSex, "ff")},
        {"started", withField(kFieldGamesStarted, "many")},
        {"won above started", withField(kFieldGamesWon, "13")},
        {"id long", withField(kFieldPlayerId, std::string(33, 'i'))},
        {"code garbage", withField(kFieldScoreCode, "hello")},
        {"code blank", withField(kFieldScoreCode, "")},
        {"score +10000", withField(kFieldScore, std::to_string(good.Score + 10000))},
        {"score +10", withField(kFieldScore, std::to_string(good.Score + 10))},
    };
    for (const auto& [what, fields] : cases) {
        httplib::Client cli("127.0.0.1", Port());
        const std::string cs = ScramblePayload(JoinPayloadFields(fields), test::TestRandom(7));
        auto res = cli.Get(("/score2.php?cs=" + cs).c_str());
        ASSERT_TRUE(res) << what;
        EXPECT_EQ(res->status, 200) << what;
        const TPayloadAnswer a = ParseAnswer(res->body);
        EXPECT_FALSE(a.count("Rang")) << what;
        ASSERT_TRUE(a.count("Error")) << what;
        EXPECT_FALSE(a.at("Error").empty()) << what;
        EXPECT_EQ(res->body.find("Error="), res->body.rfind("Error=")) << what;
    }
    for (const std::string target :
         {"/score2.php", "/score2.php?cs=", "/score2.php?cs=abc", "/score2.php?x=1"}) {
        httplib::Client cli("127.0.0.1", Port());
        auto res = cli.Get(target.c_str());
        ASSERT_TRUE(res) << target;
        EXPECT_TRUE(ParseAnswer(res->body).count("Error")) << target;
        EXPECT_FALSE(ParseAnswer(res->body).count("Rang")) << target;
    }
    EXPECT_EQ(server_->Store().SubmissionCount(), 0);
    // None of that used up the good score's code.
    EXPECT_TRUE(Publish(Port(), good).Lines.count("Rang"));
}

TEST(ScoreRules, RealScoresPassAndRaisedOnesDoNot) {
    const TScoreStats won = FairGame(true), lost = FairGame(false);
    EXPECT_FALSE(server::WhyScoreUnexplained(RulesScore(won, true), won));
    EXPECT_FALSE(server::WhyScoreUnexplained(RulesScore(won, true, 3), won))
        << "paused three times";
    EXPECT_FALSE(server::WhyScoreUnexplained(RulesScore(lost, false), lost));
    EXPECT_TRUE(server::WhyScoreUnexplained(RulesScore(won, true) + 100, won));
    EXPECT_TRUE(server::WhyScoreUnexplained(RulesScore(won, true) + 50, won));
    EXPECT_TRUE(server::WhyScoreUnexplained(RulesScore(lost, false) + 10000, lost))
        << "a virus got through";
    // Without an escaped virus but under 90 seconds, the bonus needs a pause past 100 seconds.
    TScoreStats slow = won;
    slow.Seconds = 12;
    EXPECT_TRUE(server::WhyScoreUnexplained(RulesScore(slow, true), slow));
    EXPECT_FALSE(server::WhyScoreUnexplained(RulesScore(slow, true, 1), slow));
    // Counts kept modulo 1000: 1064 shots read as 64, which only lowers the true score.
    EXPECT_FALSE(server::WhyScoreUnexplained(RulesScore(won, true) - 50000, won));
    TScoreStats torpedoes = won;
    torpedoes.Torpedoes = 11;
    EXPECT_TRUE(server::WhyScoreUnexplained(RulesScore(torpedoes, true), torpedoes));
}

TEST_F(ServerTest, TheSameScoreCodeIsTakenOnce) {
    const TPayloadFields f = WonGame("Kim");
    EXPECT_TRUE(Publish(Port(), f).Lines.count("Rang"));
    const test::Answer replay = Publish(Port(), f);  // scrambled afresh: a different request
    EXPECT_FALSE(replay.Lines.count("Rang"));
    EXPECT_EQ(replay.Lines.at("Error"), "This score was published before");
    EXPECT_EQ(server_->Store().SubmissionCount(), 1);
}

TEST_F(ServerTest, RanksCountEveryPlayersBestAndWeeksBeginOnMondayUtc) {
    server_->SetNow(test::kAMonday + 6 * 86400 + 86399);           // Sunday 23:59:59
    const test::Answer ann = Publish(Port(), WonGame("Ann", 10));  // best of all
    const test::Answer ben = Publish(Port(), WonGame("Ben", 4));
    ASSERT_TRUE(ann.Lines.count("Rang") && ben.Lines.count("Rang")) << ann.Body << ben.Body;
    const std::string annScore = std::to_string(WonGame("x", 10).Score);
    EXPECT_EQ(ben.Lines.at("Rang"), "2");
    EXPECT_EQ(ben.Lines.at("wRang"), "2");

    server_->SetNow(test::kAMonday + 7 * 86400);  // Monday 00:00:00: a new week
    const test::Answer cid = Publish(Port(), WonGame("Cid", 0));
    EXPECT_EQ(cid.Lines.at("Rang"), "3");
    EXPECT_EQ(cid.Lines.at("Platz1"), annScore);
    EXPECT_EQ(cid.Lines.at("wRang"), "1");
    EXPECT_EQ(cid.Lines.at("wPlatz1"), std::to_string(WonGame("x", 0).Score));

    // Ben again, lower than his best: the sent score's rank, his old overall rank, and no old
    // weekly rank in a week he had not played.
    const test::Answer ben2 = Publish(Port(), WonGame("Ben", 1, ben.Lines.at("ID")));
    EXPECT_EQ(ben2.Lines.at("Rang"), "2") << "above Cid's, below Ann's";
    EXPECT_EQ(ben2.Lines.at("Alterrang"), "2");
    EXPECT_FALSE(ben2.Lines.count("wAlterrang"));
    EXPECT_EQ(ben2.Lines.at("wRang"), "1");
    EXPECT_EQ(ben2.Lines.at("wPlatz1"), std::to_string(WonGame("x", 1).Score));

    // Ann beats herself: her old rank was 1, and so is the new one.
    const test::Answer ann2 = Publish(Port(), WonGame("Ann", 12, ann.Lines.at("ID")));
    EXPECT_EQ(ann2.Lines.at("Rang"), "1");
    EXPECT_EQ(ann2.Lines.at("Alterrang"), "1");
    EXPECT_EQ(ann2.Lines.at("Platz1"), std::to_string(WonGame("x", 12).Score));

    // A second earlier is still the old week.
    server_->SetNow(test::kAMonday + 7 * 86400 - 1);
    const std::string oldWeek = Get(Port(), "/zvxinternal/highscore.html");
    EXPECT_NE(oldWeek.find("since Monday 7 December 2026"), std::string::npos);
    server_->SetNow(test::kAMonday + 7 * 86400);
    const std::string newWeek = Get(Port(), "/zvxinternal/highscore.html");
    EXPECT_NE(newWeek.find("since Monday 14 December 2026"), std::string::npos);
}

TEST(WeekStart, IsMondayMidnightUtc) {
    EXPECT_EQ(server::WeekStartOf(test::kAMonday), test::kAMonday);
    EXPECT_EQ(server::WeekStartOf(test::kAMonday + 7 * 86400 - 1), test::kAMonday);
    EXPECT_EQ(server::WeekStartOf(test::kAMonday - 1), test::kAMonday - 7 * 86400);
    EXPECT_EQ(server::WeekStartOf(0), -3 * 86400) << "the epoch was a Thursday";
    EXPECT_EQ(server::WeekStartOf(-1), -3 * 86400);
}

TEST_F(ServerTest, HighscorePageShowsNamesEscapedOverallAndWeekly) {
    TPayloadFields evil = WonGame("<b>&Kim\"", 5);
    evil.City = "Z\xFCrich";   // Windows-1252 ü
    evil.Country = "\x80<i>";  // the euro sign
    ASSERT_TRUE(Publish(Port(), evil).Lines.count("Rang"));
    server_->SetNow(test::kAMonday + 8 * 86400);  // next week
    ASSERT_TRUE(Publish(Port(), WonGame("Ned")).Lines.count("Rang"));
    const std::string page = Get(Port(), "/zvxinternal/highscore.html");
    EXPECT_EQ(page.find("<b>&Kim"), std::string::npos);
    EXPECT_EQ(page.find("\x80"), std::string::npos);
    EXPECT_EQ(page.find(";<i>"), std::string::npos);
    const size_t weekly = page.find("This week"), overall = page.find("All time");
    ASSERT_NE(weekly, std::string::npos);
    ASSERT_NE(overall, std::string::npos);
    const size_t kim = page.find("&lt;b&gt;&amp;Kim&quot;");
    ASSERT_NE(kim, std::string::npos);
    EXPECT_GT(kim, overall) << "last week's score is only in the overall list";
    EXPECT_EQ(page.find("&lt;b&gt;&amp;Kim", kim + 1), std::string::npos);
    const size_t ned = page.find("Ned");
    EXPECT_GT(ned, weekly);
    EXPECT_LT(ned, overall);
    EXPECT_NE(page.find("Ned", overall), std::string::npos);
    EXPECT_NE(page.find("Z&#252;rich, &#8364;&lt;i&gt;"), std::string::npos);
    for (char c : page) EXPECT_LT(static_cast<unsigned char>(c), 128) << "the page is plain ASCII";
}

TEST_F(ServerTest, ARequestLineOver8KbIsRefusedAndTheServerGoesOn) {
    httplib::Client cli("127.0.0.1", Port());
    auto res = cli.Get(("/score2.php?cs=" + std::string(9000, 'A')).c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 414);
    EXPECT_TRUE(Publish(Port(), WonGame("Kim")).Lines.count("Rang"));
}

TEST(ServerStop, AStopAsTheServerStartsIsNotLost) {
    test::TempFolder data;
    for (int i = 0; i < 20; ++i) {
        server::TZolvexServer server(test::QuietOptions(), server::OpenSqliteStore(data.Path()));
        server.Bind();
        std::thread run([&] { server.Run(); });
        if (i % 2) std::this_thread::sleep_for(std::chrono::microseconds(50 * i));
        server.Stop();
        run.join();  // a lost stop hangs here
    }
}

TEST(ServerLimits, AClientThatStopsHalfwayIsCutOffAfterTheReadTimeout) {
    test::TempFolder data;
    server::TServerOptions o = test::QuietOptions();
    o.IdleSeconds = 1;
    test::InProcessServer server(data.Path(), o);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const char partial[] = "GET /zvxinternal HTTP/1.1\r\nHost: x\r\n";  // and never the blank line
    ASSERT_GT(send(fd, partial, sizeof partial - 1, 0), 0);
    // Our own wait only keeps a broken server from hanging the test.
    timeval wait{60, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const auto start = std::chrono::steady_clock::now();
    char buf[256];
    const ssize_t got = recv(fd, buf, sizeof buf, 0);
    const int error = errno;
    const auto waited = std::chrono::steady_clock::now() - start;
    close(fd);
    if (got > 0) {
        EXPECT_EQ(std::string(buf, 12), "HTTP/1.1 400") << "the incomplete request is refused";
    }
    EXPECT_TRUE(got >= 0 || error == ECONNRESET) << "cut off by the server: " << strerror(error);
    EXPECT_GE(waited, std::chrono::milliseconds(900)) << "not before the time-out";
}

TEST(ServerLimits, EachAddressHasItsOwnBucketOfSubmissions) {
    test::TempFolder data;
    server::TServerOptions o = test::QuietOptions();
    o.SubmitPerMinute = 1;
    o.SubmitBurst = 3;
    o.TrustProxy = true;
    test::InProcessServer server(data.Path(), o);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Publish(server.Port(), WonGame("A", i), "10.0.0.1").Status, 200) << i;
    const test::Answer limited = Publish(server.Port(), WonGame("A", 3), "10.0.0.1");
    EXPECT_EQ(limited.Status, 429);
    EXPECT_FALSE(limited.Lines.count("Rang"));
    EXPECT_TRUE(limited.Lines.count("Error"));
    EXPECT_EQ(Publish(server.Port(), WonGame("B", 4), "10.0.0.2").Status, 200) << "another address";
    // Pages are never limited.
    int status = 0;
    Get(server.Port(), "/zvxinternal", &status);
    EXPECT_EQ(status, 200);
}

TEST(ServerLimits, BucketsRefillAndTheirTableStaysBounded) {
    server::TRateLimiter limiter(60, 2, 100);  // one a second, two at once
    const auto t0 = server::TRateLimiter::Clock::now();
    EXPECT_TRUE(limiter.Allow("a", t0));
    EXPECT_TRUE(limiter.Allow("a", t0));
    EXPECT_FALSE(limiter.Allow("a", t0));
    EXPECT_FALSE(limiter.Allow("a", t0 + std::chrono::milliseconds(900)));
    EXPECT_TRUE(limiter.Allow("a", t0 + std::chrono::milliseconds(1100)));
    for (int i = 0; i < 10000; ++i)
        limiter.Allow("addr" + std::to_string(i), t0 + std::chrono::seconds(2));
    EXPECT_LE(limiter.Tracked(), 100u);
    server::TRateLimiter off(0, 1);
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(off.Allow("a"));
}

// Random damage to real requests must end in an answer, never a crash; a damaged text that
// still reads as a payload the rules explain is a score like any other, and it is stored exactly
// when the answer says so.
TEST_F(ServerTest, DamagedRequestsAreAnsweredAndNeverStored) {
    const std::string plain = BuildPayload(WonGame("Fuzz"));
    std::mt19937 gen(12345);
    int64_t accepted = 0;
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(gen); };
    for (int round = 0; round < 3000; ++round) {
        std::string text = plain;
        const int edits = 1 + static_cast<int>(pick(4));
        for (int e = 0; e < edits; ++e) {
            switch (pick(4)) {
                case 0: text[pick(text.size())] = static_cast<char>(pick(256)); break;
                case 1: text.erase(pick(text.size()), 1 + pick(8)); break;
                case 2:
                    text.insert(pick(text.size()),
                                std::string(1 + pick(40), static_cast<char>(pick(256))));
                    break;
                default: text.insert(pick(text.size()), "|"); break;
            }
            if (text.empty()) text = "|";
        }
        std::string cs = ScramblePayload(text, test::TestRandom(static_cast<uint32_t>(round)));
        if (round % 3 == 0) cs[pick(cs.size())] = "%+-|A\x80"[pick(6)];  // damage after scrambling
        const auto [status, body] =
            server_->Server().AnswerSubmission("/score2.php?cs=" + cs, "fuzz");
        EXPECT_TRUE(status == 200 || status == 429) << status;
        const TPayloadAnswer a = ParseAnswer(body);
        EXPECT_TRUE(a.count("Rang") != a.count("Error")) << body;
        accepted += static_cast<int64_t>(a.count("Rang"));
    }
    EXPECT_EQ(server_->Store().SubmissionCount(), accepted);
}

// ---- data kept ----

TEST(ServerProcess, ScoresSurviveAnOrderlyStopAndARestart) {
    test::TempFolder data;
    std::string id;
    {
        test::ChildServer server(data.Path());
        const test::Answer a = Publish(server.Port(), WonGame("Keeper", 3));
        ASSERT_TRUE(a.Lines.count("ID")) << a.Body;
        id = a.Lines.at("ID");
        EXPECT_EQ(server.Signal(SIGTERM), 0);
    }
    {
        test::ChildServer server(data.Path());
        EXPECT_NE(Get(server.Port(), "/zvxinternal/highscore.html").find("Keeper"),
                  std::string::npos);
        const test::Answer b = Publish(server.Port(), WonGame("Keeper", 1, id));
        EXPECT_EQ(b.Lines.at("Alterrang"), "1") << b.Body;
        EXPECT_FALSE(b.Lines.count("ID"));
        EXPECT_EQ(server.Signal(SIGINT), 0);
    }
}

TEST(ServerProcess, EveryAnsweredScoreSurvivesAKillDuringABurst) {
    test::TempFolder data;
    std::vector<TPayloadFields> games;
    // Each a game of its own: another catch or another shot.
    for (int i = 0; i < 600; ++i) {
        TScoreStats st = FairGame(true, i % 50);
        st.CondomShots += i / 50;
        games.push_back(Entry("Burst" + std::to_string(i), st, RulesScore(st, true)));
    }
    std::mutex mutex;
    std::vector<std::string> answered;  // score codes the server said it took
    {
        test::ChildServer server(data.Path());
        std::atomic<size_t> next{0};
        std::atomic<bool> killed{false};
        std::vector<std::thread> senders;
        for (int t = 0; t < 8; ++t)
            senders.emplace_back([&] {
                for (size_t i = next++; i < games.size() && !killed; i = next++) {
                    const test::Answer a = Publish(server.Port(), games[i]);
                    if (a.Lines.count("Rang")) {
                        std::lock_guard lock(mutex);
                        answered.push_back(games[i].ScoreCode);
                    }
                }
            });
        while (true) {
            {
                std::lock_guard lock(mutex);
                if (answered.size() >= 100) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(server.Signal(SIGKILL), 128 + SIGKILL);
        killed = true;
        for (auto& t : senders) t.join();
    }
    ASSERT_GE(answered.size(), 100u);
    auto store = server::OpenSqliteStore(data.Path());
    EXPECT_GE(store->SubmissionCount(), static_cast<int64_t>(answered.size()));
    EXPECT_LE(store->SubmissionCount(), static_cast<int64_t>(games.size()));
    // Every answered score is on disk: publishing it again is a replay.
    server::TSubmission s;
    s.Name = "again";
    for (const std::string& code : answered) {
        s.ScoreCode = "=" + DecodeScoreCode(code).value();  // a game is kept by its digits
        EXPECT_FALSE(store->Submit(s, "test", test::kAMonday, test::kAMonday).Accepted);
    }
}

}  // namespace
}  // namespace zx
