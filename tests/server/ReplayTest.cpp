// Replays sent after a published score: played by a verifier program (here a small script that
// prints what the replay's text tells it to), held against the score and its code, and ranked by
// the verdict; the bounded queue, its files across a restart, and hostile replays.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ServerFixtures.h"
#include "payload/ScoreCode.h"
#include "server/ReplayCheck.h"
#include "server/Submission.h"

namespace zx {
namespace {

namespace fs = std::filesystem;

TScoreStats WonStats() {
    TScoreStats s;
    s.Seconds = 91;
    s.CondomShots = 64;
    s.Torpedoes = 3;
    const int spawned[7] = {0, 40, 12, 2, 10, 6, 4};
    const int early[7] = {0, 5, 2, 0, 3, 1, 1};
    const int caught[7] = {0, 20, 6, 1, 7, 5, 3};
    for (size_t k = 1; k <= 6; ++k) {
        s.Spawned[k] = spawned[k];
        s.CaughtEarly[k] = early[k];
        s.Caught[k] = caught[k];
        s.EscapedCount[k] = k >= 4 ? 0 : spawned[k] - early[k] - caught[k];
    }
    return s;
}

int32_t ScoreOf(const TScoreStats& s) {
    int32_t score = 10000;
    for (size_t k = 1; k <= 6; ++k)
        score += server::kCatchPoints[k] * (s.Caught[k] + s.CaughtEarly[k]) + 50 * s.CaughtEarly[k];
    return score - 50 * s.CondomShots - 100 * s.Torpedoes;
}

// A won game; `extra` more catches make each game's code its own.
TPayloadFields Game(const std::string& name, int extra, TScoreStats* statsOut = nullptr) {
    TScoreStats s = WonStats();
    s.Caught[1] += extra;
    s.Spawned[1] += extra;
    s.CondomShots += extra;
    static auto rand = test::TestRandom(7);
    TPayloadFields f;
    f.Score = ScoreOf(s);
    f.Name = name;
    f.City = "Bern";
    f.Country = "CH";
    f.Age = 17;
    f.Sex = 'f';
    f.GamesStarted = 2;
    f.GamesWon = 1;
    f.ScoreCode = MakeScoreCode(s, rand);
    if (statsOut) *statsOut = s;
    return f;
}

// What the verifier prints for a finished game with this score and these statistics.
std::string Report(int64_t score, const TScoreStats& s, bool finished = true) {
    return std::string("finished ") + (finished ? "1" : "0") + "\nwon 1\nscore " +
           std::to_string(score) +
           "\nticks 4550\nseconds 91\ncondom shots 64\ntorpedoes 3\nspawned 0 0 0 0 0 0\n"
           "caught early 0 0 0 0 0 0\ncaught 0 0 0 0 0 0\nescaped 0 0 0 0 0 0\ndigits " +
           ScoreCodeDigits(s) + "\n";
}

test::Answer SendReplay(int port, const TPayloadFields& f, const std::string& replay) {
    static std::atomic<uint32_t> seed{100};
    httplib::Client cli("127.0.0.1", port);
    cli.set_read_timeout(60, 0);
    const std::string target =
        "/replay.php?cs=" + ScramblePayload(BuildPayload(f), test::TestRandom(seed++));
    auto res = cli.Post(target.c_str(), replay, "application/gzip");
    if (!res) return {};
    test::Answer a{res->status, res->body, ParseAnswer(res->body)};
    if (res->has_header("Retry-After"))
        a.Lines["Retry-After"] = res->get_header_value("Retry-After");
    return a;
}

std::string CodeOf(const TPayloadFields& f) { return "=" + *DecodeScoreCode(f.ScoreCode); }

class ReplayTest : public testing::Test {
protected:
    test::TempFolder data, tools;
    std::string verifier = tools.Path() + "/verify";

    void SetUp() override { test::WriteStandInVerifier(verifier); }
    server::TServerOptions Options(int workers = 2, size_t queue = 8, int waitMs = 60000,
                                   int seconds = 600) {
        server::TServerOptions o = test::QuietOptions();
        o.ReplayDir = data.Path() + "/replays";
        o.Verifier = verifier;
        o.VerifyWorkers = workers;
        o.VerifyQueue = queue;
        o.VerifySeconds = seconds;
        o.ReplayWaitMs = waitMs;
        return o;
    }
    void Go() { std::ofstream(tools.Path() + "/go") << "go"; }
};

TEST_F(ReplayTest, UnderRequireReplayAScoreRanksOnlyOnceItsReplayReachesItsScoreAndDigits) {
    test::InProcessServer server(data.Path(), Options());
    server.Store().SetRequiresReplay(true);
    TScoreStats stats;
    const TPayloadFields game = Game("Ann", 0, &stats);
    const auto published = test::Publish(server.Port(), game);
    ASSERT_EQ(published.Lines.at("Rang"), "1");
    EXPECT_TRUE(server.Store().Top(10, std::nullopt).empty());
    EXPECT_TRUE(server.Store().VerifiedTop(10, test::kAMonday).empty());

    const auto verdict = SendReplay(server.Port(), game, Report(game.Score, stats));
    EXPECT_EQ(verdict.Status, 200);
    EXPECT_EQ(verdict.Body, "Replay=verified\r\n");
    const auto top = server.Store().Top(10, std::nullopt);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].Score, game.Score);
    EXPECT_TRUE(top[0].Verified);
    ASSERT_EQ(server.Store().VerifiedTop(10, test::kAMonday).size(), 1u);
    // Sent again, the verdict is told without another run.
    EXPECT_EQ(SendReplay(server.Port(), game, "anything").Body, "Replay=verified\r\n");
    EXPECT_EQ(server.Store().FindByCode(CodeOf(game))->State, server::TReplayState::Verified);
}

TEST_F(ReplayTest, AReplayThatShowsAnotherGameIsRefusedWithItsReasonAndRanksNowhere) {
    test::InProcessServer server(data.Path(), Options());
    server.Store().SetRequiresReplay(false);
    TScoreStats stats, other;
    const TPayloadFields scoreRaised = Game("Ann", 1, &stats);
    const TPayloadFields digitChanged = Game("Bob", 2);
    Game("-", 3, &other);
    const TPayloadFields unfinished = Game("Cid", 4);
    for (const auto& g : {scoreRaised, digitChanged, unfinished})
        ASSERT_TRUE(test::Publish(server.Port(), g).Lines.count("Rang"));
    // Without a replay yet, this store ranks all three, unmarked.
    ASSERT_EQ(server.Store().Top(10, std::nullopt).size(), 3u);
    EXPECT_FALSE(server.Store().Top(10, std::nullopt)[0].Verified);

    EXPECT_EQ(SendReplay(server.Port(), scoreRaised, Report(scoreRaised.Score - 50, stats)).Body,
              "Replay=refused\r\nError=The replay's game scores " +
                  std::to_string(scoreRaised.Score - 50) + ", not " +
                  std::to_string(scoreRaised.Score) + "\r\n");
    EXPECT_EQ(SendReplay(server.Port(), digitChanged, Report(digitChanged.Score, other)).Body,
              "Replay=refused\r\nError=The replay's game has other statistics than the score "
              "code\r\n");
    EXPECT_EQ(SendReplay(server.Port(), unfinished, Report(unfinished.Score, other, false)).Body,
              "Replay=refused\r\nError=The replay ends before its game does\r\n");
    EXPECT_EQ(SendReplay(server.Port(), Game("Dan", 5), "refuse too many ticks\n").Status, 404);

    EXPECT_TRUE(server.Store().Top(10, std::nullopt).empty());
    const auto rows = server.Store().FindScores("Bob", 10);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Replay, server::TReplayState::Refused);
    EXPECT_EQ(rows[0].ReplayReason, "The replay's game has other statistics than the score code");
}

TEST_F(ReplayTest, TheVerifiersOwnRefusalAndAReplayThatNeverEndsAreRefusedWhileOthersAreServed) {
    test::InProcessServer server(data.Path(), Options(2, 8, 60000, 2));
    const TPayloadFields refused = Game("Ann", 1), endless = Game("Bob", 2);
    ASSERT_TRUE(test::Publish(server.Port(), refused).Lines.count("Rang"));
    ASSERT_TRUE(test::Publish(server.Port(), endless).Lines.count("Rang"));
    EXPECT_EQ(SendReplay(server.Port(), refused, "refuse too many ticks\n").Body,
              "Replay=refused\r\nError=The replay was refused: too many ticks\r\n");

    test::Answer hung;
    std::thread send([&] { hung = SendReplay(server.Port(), endless, "hang\n"); });
    // While the verifier of the endless replay runs, pages and scores are answered.
    while (server.Store().FindByCode(CodeOf(endless))->State != server::TReplayState::Pending)
        std::this_thread::yield();
    httplib::Client cli("127.0.0.1", server.Port());
    EXPECT_EQ(cli.Get("/zvxinternal/version.txt")->status, 200);
    EXPECT_TRUE(test::Publish(server.Port(), Game("Cid", 3)).Lines.count("Rang"));
    send.join();
    EXPECT_EQ(hung.Body,
              "Replay=refused\r\nError=The replay could not be played within its time\r\n");

    // Larger than a replay may be: refused unread.
    const auto huge =
        SendReplay(server.Port(), Game("Cid", 3), std::string(server::kMaxReplayBytes + 1, 'x'));
    EXPECT_EQ(huge.Status, 413);
    EXPECT_EQ(SendReplay(server.Port(), Game("Cid", 3), "").Body,
              "Error=The replay is missing\r\n");
}

// A verifier that dies (a signal, a failure of its own) says nothing about the game: the replay is
// played again, and only a replay on which it dies every time is refused, after three runs.
TEST_F(ReplayTest, AVerifierThatDiesOnceIsRunAgainAndOnlyOneThatAlwaysDiesRefusesTheReplay) {
    test::InProcessServer server(data.Path(), Options());
    server.Store().SetRequiresReplay(true);
    TScoreStats stats;
    const TPayloadFields once = Game("Ann", 1, &stats), always = Game("Bob", 2);
    ASSERT_TRUE(test::Publish(server.Port(), once).Lines.count("Rang"));
    ASSERT_TRUE(test::Publish(server.Port(), always).Lines.count("Rang"));

    EXPECT_EQ(SendReplay(server.Port(), once, "crash-once\n" + Report(once.Score, stats)).Body,
              "Replay=verified\r\n");
    EXPECT_EQ(SendReplay(server.Port(), always, "crash\n").Body,
              "Replay=refused\r\nError=The replay could not be played\r\n");
    std::ifstream runs(tools.Path() + "/runs");
    std::string all((std::istreambuf_iterator<char>(runs)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "crash-once\ncrash-once\ncrash\ncrash\ncrash\n");
    const auto top = server.Store().Top(10, std::nullopt);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].Name, "Ann");
}

// Two million steps of a shell loop take longer than the one-second deadline on any machine, and
// a loaded machine stretches them further: a verifier still playing is let finish.
TEST_F(ReplayTest, AVerifierStillPlayingPastTheDeadlineIsLetFinishAndOneStandingStillIsNot) {
    test::InProcessServer server(data.Path(), Options(2, 8, 60000, 1));
    TScoreStats stats;
    const TPayloadFields busy = Game("Ann", 1, &stats), still = Game("Bob", 2);
    ASSERT_TRUE(test::Publish(server.Port(), busy).Lines.count("Rang"));
    ASSERT_TRUE(test::Publish(server.Port(), still).Lines.count("Rang"));
    EXPECT_EQ(SendReplay(server.Port(), busy, "spin\n" + Report(busy.Score, stats)).Body,
              "Replay=verified\r\n");
    EXPECT_EQ(SendReplay(server.Port(), still, "hang\n").Body,
              "Replay=refused\r\nError=The replay could not be played within its time\r\n");
}

// Whoever saw a score's request line can send a replay for it before its player does.
TEST_F(ReplayTest, AStrangersWrongReplayFirstDoesNotLockOutThePlayersOwnButRefusalsEndAfterThree) {
    test::InProcessServer server(data.Path(), Options());
    server.Store().SetRequiresReplay(true);
    TScoreStats stats, other;
    const TPayloadFields game = Game("Ann", 1, &stats), cheat = Game("Bob", 2);
    Game("-", 3, &other);
    ASSERT_TRUE(test::Publish(server.Port(), game).Lines.count("Rang"));
    ASSERT_TRUE(test::Publish(server.Port(), cheat).Lines.count("Rang"));

    EXPECT_EQ(SendReplay(server.Port(), game, Report(game.Score, other)).Body,
              "Replay=refused\r\nError=The replay's game has other statistics than the score "
              "code\r\n");
    EXPECT_EQ(SendReplay(server.Port(), game, Report(game.Score, stats)).Body,
              "Replay=verified\r\n");
    ASSERT_EQ(server.Store().Top(10, std::nullopt).size(), 1u);

    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(SendReplay(server.Port(), cheat, "refuse try " + std::to_string(i) + "\n").Body,
                  "Replay=refused\r\nError=The replay was refused: try " +
                      std::to_string(std::min(i, 2)) + "\r\n");
    std::ifstream runs(tools.Path() + "/runs");
    std::string all((std::istreambuf_iterator<char>(runs)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "finished 1\nfinished 1\nrefuse try 0\nrefuse try 1\nrefuse try 2\n");
    EXPECT_EQ(server.Store().Top(10, std::nullopt).size(), 1u);
}

TEST_F(ReplayTest, AFullQueueAnswers503AndWhatItTookIsPlayedAfterARestart) {
    TScoreStats first, second;
    const TPayloadFields a = Game("Ann", 1, &first), b = Game("Bob", 2, &second);
    {
        // One worker, room for one: Ann's replay waits for "go", Bob's finds the queue full.
        test::InProcessServer server(data.Path(), Options(1, 1, 0));
        server.Store().SetRequiresReplay(true);
        ASSERT_TRUE(test::Publish(server.Port(), a).Lines.count("Rang"));
        ASSERT_TRUE(test::Publish(server.Port(), b).Lines.count("Rang"));
        const auto taken = SendReplay(server.Port(), a, "wait\n" + Report(a.Score, first));
        EXPECT_EQ(taken.Status, 202);
        EXPECT_EQ(taken.Body, "Replay=pending\r\n");
        const auto full = SendReplay(server.Port(), b, Report(b.Score, second));
        EXPECT_EQ(full.Status, 503);
        EXPECT_EQ(full.Lines.at("Retry-After"), "60");
        EXPECT_EQ(server.Store().FindByCode(CodeOf(b))->State, server::TReplayState::Unverified);
        httplib::Client cli("127.0.0.1", server.Port());
        EXPECT_NE(cli.Get("/metrics")->body.find("zolvex_replays_pending 1\n"), std::string::npos);
    }  // stopped with Ann's replay taken and not played
    Go();
    test::InProcessServer again(data.Path(), Options(1, 1));
    // Ann's was kept and is played at the start; then Bob's, sent again, finds room.
    while (again.Store().FindByCode(CodeOf(a))->State != server::TReplayState::Verified)
        std::this_thread::yield();
    EXPECT_EQ(SendReplay(again.Port(), b, Report(b.Score, second)).Body, "Replay=verified\r\n");
    EXPECT_EQ(again.Store().Top(10, std::nullopt).size(), 2u);
    EXPECT_TRUE(fs::is_empty(data.Path() + "/replays"));
    httplib::Client cli("127.0.0.1", again.Port());
    const std::string metrics = cli.Get("/metrics")->body;
    EXPECT_NE(metrics.find("zolvex_replays_total{verdict=\"verified\"} 2\n"), std::string::npos);
}

// A careless game lost in its first seconds: more shots than catches.
TEST(ReplayReport, AScoreBelowZeroIsReadWithItsSign) {
    const std::string out =
        "finished 1\nwon 0\nscore -60\nticks 1171\ndigits " + std::string(55, '1') + "\n";
    ASSERT_TRUE(server::ParseVerifierReport(out));
    EXPECT_EQ(server::ParseVerifierReport(out)->Score, -60);
}

TEST(ReplayReport, MissingOrMalformedLinesGiveNoReport) {
    const std::string digits(55, '7');
    const std::string good = "finished 1\nwon 0\nscore 4250\nticks 9\ndigits " + digits + "\n";
    ASSERT_TRUE(server::ParseVerifierReport(good));
    EXPECT_EQ(server::ParseVerifierReport(good)->Score, 4250);
    EXPECT_FALSE(server::ParseVerifierReport("finished 1\nwon 0\nscore 4250\nticks 9\n"));
    EXPECT_FALSE(
        server::ParseVerifierReport("finished 2\nwon 0\nscore 1\nticks 9\ndigits " + digits));
    EXPECT_FALSE(
        server::ParseVerifierReport("finished 1\nwon 0\nscore --1\nticks 9\ndigits " + digits));
    EXPECT_FALSE(
        server::ParseVerifierReport("finished 1\nwon 0\nscore -\nticks 9\ndigits " + digits));
    EXPECT_FALSE(server::ParseVerifierReport("finished 1\nwon 0\nscore 1\nticks 9\ndigits 123"));
}

}  // namespace
}  // namespace zx
