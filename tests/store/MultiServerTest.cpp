// Several zolvex-server processes in front of one PostgreSQL: the same ranks, replays and pages
// from either; every answered score kept through a kill and a database restart; and the move of
// one machine's SQLite scores into PostgreSQL.
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>

#include "PgCluster.h"
#include "server/ScoreStore.h"
#include "server/Submission.h"

namespace zx {
namespace {

using test::Publish;

// A won game of a fair player; every extra catch is 50 points more.
TPayloadFields WonGame(const std::string& name, int extra, const std::string& id = {},
                       int missed = 0) {
    static auto rand = test::TestRandom(7);
    TScoreStats s;
    s.Seconds = 91;
    s.CondomShots = 64 + extra + missed;
    s.Torpedoes = 3;
    const int spawned[7] = {0, 40 + extra, 12, 2, 10, 6, 4};
    const int early[7] = {0, 5, 2, 0, 3, 1, 1};
    const int caught[7] = {0, 20 + extra, 6, 1, 7, 5, 3};
    int32_t score = server::kWinBonus - server::kCondomCost * s.CondomShots -
                    server::kTorpedoCost * s.Torpedoes;
    for (size_t k = 1; k <= 6; ++k) {
        s.Spawned[k] = spawned[k];
        s.CaughtEarly[k] = early[k];
        s.Caught[k] = caught[k];
        s.EscapedCount[k] = k >= 4 ? 0 : spawned[k] - early[k] - caught[k];
        score += server::kCatchPoints[k] * (caught[k] + early[k]) + server::kEarlyBonus * early[k];
    }
    TPayloadFields f;
    f.PlayerId = id;
    f.Score = score;
    f.Name = name;
    f.City = "Bern";
    f.Country = "CH";
    f.GamesStarted = 3;
    f.GamesWon = 1;
    f.ScoreCode = MakeScoreCode(s, rand);
    return f;
}

// A child server's --store takes the place of its data folder, which is never opened.
constexpr const char* kNoFolder = "-";
std::vector<std::string> OnStore(const std::string& db) { return {"--store", db}; }

std::string Get(int port, const std::string& path, int* status = nullptr) {
    httplib::Client cli("127.0.0.1", port);
    auto res = cli.Get(path.c_str());
    if (status) *status = res ? res->status : 0;
    return res ? res->body : std::string();
}

#define NEED_POSTGRESQL()                                 \
    test::PgCluster* cluster = test::PgCluster::Shared(); \
    if (!cluster) GTEST_SKIP() << test::PgCluster::Why();

TEST(SharedStore, TwoServersAnswerOneRankingOneReplayRefusalAndOnePage) {
    NEED_POSTGRESQL();
    const std::string db = cluster->NewDatabase();
    test::ChildServer a(kNoFolder, OnStore(db)), b(kNoFolder, OnStore(db));
    const int ports[2] = {a.Port(), b.Port()};
    std::vector<TPayloadFields> games;
    for (int i = 0; i < 10; ++i) games.push_back(WonGame("P" + std::to_string(i), 20 - 2 * i));
    for (int i = 0; i < 10; ++i) {
        const test::Answer r = Publish(ports[i % 2], games[i]);
        ASSERT_EQ(r.Status, 200) << r.Body;
        EXPECT_EQ(r.Lines.at("Rang"), std::to_string(i + 1)) << "score " << i << ": " << r.Body;
        EXPECT_EQ(r.Lines.at("Platz1"), std::to_string(games[0].Score));
    }
    // Sent to one, replayed to the other.
    for (int i = 0; i < 2; ++i) {
        const test::Answer replay = Publish(ports[(i + 1) % 2], games[i]);
        EXPECT_EQ(replay.Lines.at("Error"), "This score was published before") << replay.Body;
        EXPECT_FALSE(replay.Lines.count("Rang"));
    }
    // A player known to one server is known to the other.
    const test::Answer first = Publish(ports[0], WonGame("Again", 30));
    const test::Answer again = Publish(ports[1], WonGame("Again", 31, first.Lines.at("ID")));
    EXPECT_FALSE(again.Lines.count("ID")) << again.Body;
    EXPECT_EQ(again.Lines.at("Alterrang"), "1");

    const std::string pageA = Get(ports[0], "/zvxinternal/highscore.html");
    const std::string pageB = Get(ports[1], "/zvxinternal/highscore.html");
    EXPECT_EQ(pageA, pageB);
    EXPECT_NE(pageA.find("P9"), std::string::npos);
    EXPECT_NE(pageA.find("Again"), std::string::npos);
}

// A server in this process on a PostgreSQL store, with a clock the test sets.
class ServerOnPg {
public:
    ServerOnPg(const std::string& db, const std::atomic<int64_t>& now,
               server::TPgLimits limits = {2})
        : server_(test::QuietOptions(), server::OpenPgStore(db, limits),
                  [&now] { return now.load(); }) {
        port_ = server_.Bind();
        thread_ = std::thread([this] { server_.Run(); });
        server_.WaitUntilListening();
    }
    ~ServerOnPg() {
        server_.Stop();
        thread_.join();
    }
    int Port() const { return port_; }

private:
    server::TZolvexServer server_;
    int port_ = 0;
    std::thread thread_;
};

TEST(SharedStore, AStoppedDatabaseGetsThePageAndScoresA503InsteadOfAWait) {
    NEED_POSTGRESQL();
    std::atomic<int64_t> now{test::kAMonday + 3 * 86400};
    server::TPgLimits limits;
    limits.Connections = 2;
    limits.Wait = std::chrono::milliseconds(300);
    ServerOnPg server(cluster->NewDatabase(), now, limits);
    // The deadline is short for a loaded machine: each is tried until it gets through (a score
    // answered too late may have been stored: then its next try is a replay).
    auto published = [&](const TPayloadFields& game) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const test::Answer a = Publish(server.Port(), game);
            if (a.Lines.count("Rang") || a.Body.find("published before") != std::string::npos)
                return true;
        }
        return false;
    };
    auto page = [&](std::string* body = nullptr) {
        httplib::Client cli("127.0.0.1", server.Port());
        cli.set_read_timeout(120, 0);
        auto res = cli.Get("/zvxinternal/highscore.html");
        if (body) *body = res ? res->body : std::string();
        return res ? res->status : 0;
    };
    ASSERT_TRUE(published(WonGame("Before", 1)));
    {
        test::PgCluster::Frozen frozen(*cluster);
        ++now;  // the page of the last second is not shown again
        std::vector<std::thread> clients;
        std::vector<int> pages(4);
        std::vector<std::string> pageBodies(4);
        std::vector<test::Answer> scores(3);
        for (size_t i = 0; i < pages.size(); ++i)
            clients.emplace_back([&, i] { pages[i] = page(&pageBodies[i]); });
        for (size_t i = 0; i < scores.size(); ++i)
            clients.emplace_back(
                [&, i] { scores[i] = Publish(server.Port(), WonGame("Frozen", 2 + int(i))); });
        for (auto& t : clients) t.join();
        for (size_t i = 0; i < pages.size(); ++i) {
            EXPECT_EQ(pages[i], 503);
            EXPECT_EQ(
                pageBodies[i],
                "Error=The highscore list cannot be read just now; please try again later\r\n");
        }
        for (const test::Answer& a : scores) {
            EXPECT_EQ(a.Status, 503);
            EXPECT_EQ(a.Body,
                      "Error=The highscore list cannot be written just now; please try again "
                      "later\r\n");
        }
    }
    ++now;
    EXPECT_TRUE(published(WonGame("After", 9)));
    std::string body;
    for (int attempt = 0; attempt < 100 && page(&body) != 200; ++attempt) {
    }
    EXPECT_NE(body.find("After"), std::string::npos);
}

TEST(SharedStore, AServersPageShowsAnotherServersScoreWithTheNextSecond) {
    NEED_POSTGRESQL();
    const std::string db = cluster->NewDatabase();
    std::atomic<int64_t> now{test::kAMonday + 3 * 86400};
    ServerOnPg a(db, now), b(db, now);
    ASSERT_TRUE(Publish(a.Port(), WonGame("Early", 1)).Lines.count("Rang"));
    const std::string before = Get(b.Port(), "/zvxinternal/highscore.html");
    ASSERT_NE(before.find("Early"), std::string::npos);
    ASSERT_TRUE(Publish(a.Port(), WonGame("Later", 2)).Lines.count("Rang"));
    EXPECT_EQ(Get(b.Port(), "/zvxinternal/highscore.html"), before) << "kept within the second";
    EXPECT_NE(Get(a.Port(), "/zvxinternal/highscore.html").find("Later"), std::string::npos)
        << "the server that took the score shows it at once";
    ++now;
    EXPECT_NE(Get(b.Port(), "/zvxinternal/highscore.html").find("Later"), std::string::npos);
}

TEST(SharedStore, EveryAnsweredScoreSurvivesAKilledServerAndADatabaseRestart) {
    NEED_POSTGRESQL();
    const std::string db = cluster->NewDatabase();
    std::vector<TPayloadFields> games;
    // Distinct games: the server knows a game by its statistics.
    for (int i = 0; i < 400; ++i)
        games.push_back(WonGame("Burst" + std::to_string(i), i % 40, {}, i / 40));
    auto a = std::make_unique<test::ChildServer>(kNoFolder, OnStore(db));
    test::ChildServer b(kNoFolder, OnStore(db));
    std::mutex mutex;
    std::vector<std::string> answered;
    std::atomic<size_t> next{0};
    std::atomic<bool> aGone{false};
    std::atomic<int> refused{0}, lost{0}, inDoubt{0};
    auto answeredCount = [&] {
        std::lock_guard lock(mutex);
        return answered.size();
    };
    auto waitFor = [&](size_t n) {
        while (answeredCount() < n && next < games.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::vector<std::thread> senders;
    for (int t = 0; t < 6; ++t)
        senders.emplace_back([&, t] {
            for (size_t i = next++; i < games.size(); i = next++) {
                // As a player would: after a 503, the same score again a little later.
                for (bool again = false;; again = true) {
                    const bool toA = t % 2 == 0 && !aGone;
                    const test::Answer r = Publish(toA ? a->Port() : b.Port(), games[i]);
                    if (r.Lines.count("Rang")) {
                        std::lock_guard lock(mutex);
                        answered.push_back(games[i].ScoreCode);
                    } else if (r.Status == 503) {
                        ++refused;
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                        continue;
                    } else if (r.Status == 200) {
                        // Stored by a commit whose answer the restart cut off.
                        EXPECT_TRUE(again) << r.Body;
                        ++inDoubt;
                    } else {
                        ++lost;  // sent to the server as it was killed
                    }
                    break;
                }
            }
        });
    waitFor(60);
    aGone = true;  // first: senders would otherwise spend their scores on a closed port
    EXPECT_EQ(a->Signal(SIGKILL), 128 + SIGKILL);
    waitFor(120);
    cluster->Stop();
    // While the database is away, the server says so, and stores nothing.
    int status = 0;
    const test::Answer down = Publish(b.Port(), WonGame("Down", 45));
    EXPECT_EQ(down.Status, 503);
    EXPECT_EQ(down.Body.rfind("Error=", 0), 0u) << down.Body;
    Get(b.Port(), "/zvxinternal/highscore.html", &status);
    EXPECT_TRUE(status == 503 || status == 200) << status;  // 200: the page of the last second
    cluster->Restart();
    for (auto& t : senders) t.join();

    // Back by itself: the next score is taken.
    const test::Answer up = Publish(b.Port(), WonGame("Up", 46));
    EXPECT_TRUE(up.Lines.count("Rang")) << up.Body;
    a.reset();

    auto store = server::OpenPgStore(db, 1);
    const int64_t stored = store->SubmissionCount();
    EXPECT_GE(stored, static_cast<int64_t>(answered.size()) + 1);
    EXPECT_LE(stored, static_cast<int64_t>(games.size()) + 1);
    server::TSubmission s;
    s.Name = "again";
    for (const std::string& code : answered) {
        s.ScoreCode = "=" + DecodeScoreCode(code).value();  // a game is kept by its digits
        EXPECT_FALSE(store->Submit(s, "test", test::kAMonday, test::kAMonday).Accepted) << code;
    }
    EXPECT_EQ(answered.size() + inDoubt + lost, games.size());
    std::printf(
        "answered %zu, 503 answers %d, no answer %d, stored in doubt %d, stored %lld of %zu\n",
        answered.size(), refused.load(), lost.load(), inDoubt.load(),
        static_cast<long long>(stored), games.size());
}

TEST(SharedStore, WithoutItsDatabaseAServerAnswers503WithAnErrorLineAndThenGoesOn) {
    NEED_POSTGRESQL();
    test::ChildServer server(kNoFolder, OnStore(cluster->NewDatabase()));
    ASSERT_TRUE(Publish(server.Port(), WonGame("Before", 3)).Lines.count("Rang"));
    cluster->Stop();
    const test::Answer refused = Publish(server.Port(), WonGame("During", 4));
    int pageStatus = 0;
    const std::string page = Get(server.Port(), "/zvxinternal/highscore.html", &pageStatus);
    cluster->Restart();
    EXPECT_EQ(refused.Status, 503);
    EXPECT_EQ(refused.Body,
              "Error=The highscore list cannot be written just now; please try again later\r\n");
    EXPECT_EQ(pageStatus, 503) << "the page was not made since the score before";
    EXPECT_EQ(page, "Error=The highscore list cannot be read just now; please try again later\r\n");

    const test::Answer after = Publish(server.Port(), WonGame("After", 5));
    EXPECT_EQ(after.Lines.at("Rang"), "1") << after.Body;
    const std::string back = Get(server.Port(), "/zvxinternal/highscore.html", &pageStatus);
    EXPECT_EQ(pageStatus, 200);
    EXPECT_NE(back.find("After"), std::string::npos);
    EXPECT_EQ(back.find("During"), std::string::npos);
}

int RunMigrate(const std::string& from, const std::string& to, std::string& output) {
    const std::string cmd =
        std::string(ZOLVEX_SERVER_EXE) + " migrate --from '" + from + "' --to '" + to + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    char buf[512];
    output.clear();
    while (std::fgets(buf, sizeof buf, p)) output += buf;
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Migrate, CopiesPlayersScoresAndWeeksAndTheServersGoOnFromThere) {
    NEED_POSTGRESQL();
    test::TempFolder folder;
    const int64_t week1 = test::kAMonday, week2 = test::kAMonday + 7 * 86400;
    std::string annId;
    std::vector<server::THighscoreRow> overall, weekly;
    {
        auto sqlite = server::OpenSqliteStore(folder.Path());
        auto send = [&](int32_t score, const std::string& code, const std::string& id,
                        const std::string& name, int64_t week) {
            server::TSubmission s;
            s.PlayerId = id;
            s.Score = score;
            s.Name = name;
            s.City = "Z\xfcrich\t\\";  // bytes that COPY must carry unchanged
            s.Comment = "line\nbreak";
            s.ScoreCode = code;
            return sqlite->Submit(s, "10.0.0.1", week + 60, week);
        };
        annId = send(500, "a1", "", "Ann", week1).PlayerId;
        send(800, "a2", annId, "Annie", week2);
        const std::string ben = send(600, "b1", "", "Ben", week1).PlayerId;
        send(650, "b2", ben, "Ben", week2);
        send(-20, "c1", "", "Cid \x80", week2);
        const std::string dan = send(900, "d1", "", "Dan", week2).PlayerId;
        const std::string eve = send(950, "e1", "", "Eve", week2).PlayerId;
        ASSERT_TRUE(sqlite->SetPlayerHidden(dan, true));
        ASSERT_TRUE(sqlite->SetScoreHidden(sqlite->FindScores(eve, 1).at(0).Submission, true));
        sqlite->SetNameRefused("Fay", true);
        overall = sqlite->Top(10, std::nullopt);
        weekly = sqlite->Top(10, week2);
    }
    const std::string db = cluster->NewDatabase();
    std::string out;
    ASSERT_EQ(RunMigrate(folder.Path(), db, out), 0) << out;
    EXPECT_EQ(out, "copied 7 submissions, 3 players, 5 week bests; the counts match\n");

    auto pg = server::OpenPgStore(db, 2);
    auto same = [](const std::vector<server::THighscoreRow>& x,
                   const std::vector<server::THighscoreRow>& y) {
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i)
            if (x[i].Name != y[i].Name || x[i].City != y[i].City || x[i].Score != y[i].Score)
                return false;
        return true;
    };
    EXPECT_TRUE(same(pg->Top(10, std::nullopt), overall));
    EXPECT_TRUE(same(pg->Top(10, week2), weekly));
    EXPECT_EQ(pg->Top(10, std::nullopt).at(2).Name, "Cid \x80");
    EXPECT_EQ(pg->RefusedNames(), std::vector<std::string>{"Fay"});
    EXPECT_TRUE(pg->FindScores("Dan", 1).at(0).PlayerHidden);
    EXPECT_TRUE(pg->FindScores("Eve", 1).at(0).Hidden);
    server::TSubmission s;
    s.ScoreCode = "a1";
    EXPECT_FALSE(pg->Submit(s, "x", week2, week2).Accepted) << "a migrated code is a replay";
    s.PlayerId = annId;
    s.Score = 700;
    s.ScoreCode = "a3";
    const server::TSubmitOutcome ann = pg->Submit(s, "x", week2 + 60, week2);
    EXPECT_FALSE(ann.NewPlayerId);
    EXPECT_EQ(ann.OldRank, 1);
    EXPECT_EQ(ann.Rank, 1) << "her own 800 is not above her, and Ben's 650 is below";
    EXPECT_EQ(ann.WeekOldRank, 1);
    EXPECT_EQ(pg->SubmissionCount(), 8);

    // A folder a server still uses is not copied: what it takes later would be lost.
    {
        auto running = server::OpenSqliteStore(folder.Path());
        EXPECT_EQ(RunMigrate(folder.Path(), cluster->NewDatabase(), out), 1);
        EXPECT_NE(out.find("stop it first"), std::string::npos) << out;
    }
    // A store that holds scores is never written over.
    EXPECT_EQ(RunMigrate(folder.Path(), db, out), 1);
    EXPECT_NE(out.find("the target already holds 8 scores"), std::string::npos) << out;
    EXPECT_EQ(pg->SubmissionCount(), 8);
}

int RunAdmin(const std::string& where, const std::string& command, std::string& output) {
    const std::string option = server::IsPgAddress(where) ? "--store" : "--data";
    const std::string cmd = std::string(ZOLVEX_SERVER_EXE) + " admin " + option + " '" + where +
                            "' " + command + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    char buf[512];
    output.clear();
    while (std::fgets(buf, sizeof buf, p)) output += buf;
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The operator's round beside a running server: find the cheater's score, hide it, restore it,
// refuse a name. Answers follow at once; on SQLite so does the page (a shared store's page is
// read again each second, as the test above shows).
void ModerateLive(const std::string& where, test::ChildServer& server, bool checkPage) {
    const int port = server.Port();
    const TPayloadFields ann = WonGame("Ann", 0), cheat = WonGame("Cheater", 20);
    ASSERT_EQ(Publish(port, ann).Lines.at("Rang"), "1");
    ASSERT_EQ(Publish(port, cheat).Lines.at("Platz1"), std::to_string(cheat.Score));

    if (checkPage) {
        ASSERT_NE(Get(port, "/zvxinternal/highscore.html").find("Cheater"), std::string::npos);
    }
    std::string out;
    ASSERT_EQ(RunAdmin(where, "list Cheat", out), 0) << out;
    const size_t row = out.find('\n') + 1;
    ASSERT_NE(out.find("\tCheater\tBern\t", row), std::string::npos) << out;
    const std::string number = out.substr(row, out.find('\t', row) - row);
    ASSERT_EQ(RunAdmin(where, "hide score " + number, out), 0) << out;
    EXPECT_EQ(out, "hid score " + number + "\n");
    if (checkPage) {  // no score taken since: the page follows the moderation itself
        const std::string page = Get(port, "/zvxinternal/highscore.html");
        EXPECT_EQ(page.find("Cheater"), std::string::npos);
        EXPECT_NE(page.find("Ann"), std::string::npos);
    }

    const TPayloadFields ben = WonGame("Ben", 10);
    const test::Answer afterHide = Publish(port, ben);
    EXPECT_EQ(afterHide.Lines.at("Rang"), "1") << afterHide.Body;
    EXPECT_EQ(afterHide.Lines.at("Platz1"), std::to_string(ben.Score));
    EXPECT_EQ(afterHide.Lines.at("wPlatz1"), std::to_string(ben.Score));
    ASSERT_EQ(RunAdmin(where, "list Cheater", out), 0) << out;
    EXPECT_NE(out.find("\thidden\t"), std::string::npos) << out;

    ASSERT_EQ(RunAdmin(where, "restore score " + number, out), 0) << out;
    if (checkPage) {
        EXPECT_NE(Get(port, "/zvxinternal/highscore.html").find("Cheater"), std::string::npos);
    }
    const test::Answer afterRestore = Publish(port, WonGame("Cid", 5));
    EXPECT_EQ(afterRestore.Lines.at("Rang"), "3") << afterRestore.Body;
    EXPECT_EQ(afterRestore.Lines.at("Platz1"), std::to_string(cheat.Score));

    ASSERT_EQ(RunAdmin(where, "refuse Dora", out), 0) << out;
    const test::Answer refused = Publish(port, WonGame("DORA", 2));
    EXPECT_EQ(refused.Lines.at("Error"), "This name is not accepted on the highscore list")
        << refused.Body;
    EXPECT_FALSE(refused.Lines.count("Rang"));
    EXPECT_TRUE(server.LogShows("the name is refused"));
    ASSERT_EQ(RunAdmin(where, "refused", out), 0) << out;
    EXPECT_EQ(out, "Dora\n");
    EXPECT_EQ(RunAdmin(where, "hide score 999999", out), 1);
    EXPECT_EQ(RunAdmin(where, "hide nothing", out), 2);
}

TEST(Moderation, TheAdminCommandHidesRestoresAndRefusesOnARunningSqliteServer) {
    test::TempFolder folder;
    test::ChildServer server(folder.Path());
    ModerateLive(folder.Path(), server, true);
}

TEST(Moderation, TheAdminCommandHidesRestoresAndRefusesOnARunningPgServer) {
    NEED_POSTGRESQL();
    const std::string db = cluster->NewDatabase();
    test::ChildServer server(kNoFolder, OnStore(db));
    ModerateLive(db, server, false);
}

}  // namespace
}  // namespace zx
