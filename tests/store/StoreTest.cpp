// The score stores, SQLite and PostgreSQL, held to the same cases: identifiers, replays, ranks
// over every player's best and within a week, the lists, what survives reopening, and many
// writers at once. Then what only a shared database has to stand: losing it and getting it back.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "PgCluster.h"
#include "server/ScoreStore.h"

namespace zx {
namespace {

using server::TSubmission;
using server::TSubmitOutcome;

constexpr int64_t kWeek1 = test::kAMonday, kWeek2 = test::kAMonday + 7 * 86400;

TSubmission Score(int32_t score, const std::string& code, const std::string& id = {},
                  const std::string& name = "N") {
    TSubmission s;
    s.PlayerId = id;
    s.Score = score;
    s.Name = name;
    s.City = "Bern";
    s.Country = "CH";
    s.ScoreCode = code;
    return s;
}

class StoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "postgresql") {
            cluster_ = test::PgCluster::Shared();
            if (!cluster_) GTEST_SKIP() << test::PgCluster::Why();
            where_ = cluster_->NewDatabase();
        } else {
            where_ = folder_.Path();
        }
        store_ = server::OpenScoreStore(where_);
    }
    void Reopen() {
        store_.reset();
        store_ = server::OpenScoreStore(where_);
    }
    TSubmitOutcome Send(const TSubmission& s, int64_t week = kWeek1) {
        return store_->Submit(s, "127.0.0.1", week + 3600, week);
    }

    test::TempFolder folder_;
    test::PgCluster* cluster_ = nullptr;
    std::string where_;
    std::unique_ptr<server::IScoreStore> store_;
};

TEST_P(StoreTest, AFirstScoreGetsAFreshIdentifierEvenWhenItBringsOneNeverGivenOut) {
    const TSubmitOutcome a = Send(Score(4000, "c1"));
    ASSERT_TRUE(a.Accepted);
    EXPECT_TRUE(a.NewPlayerId);
    EXPECT_EQ(a.PlayerId.size(), 32u);
    EXPECT_EQ(a.PlayerId.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(a.Rank, 1);
    EXPECT_FALSE(a.OldRank);
    EXPECT_EQ(a.Top, 4000);
    EXPECT_EQ(a.WeekRank, 1);
    EXPECT_FALSE(a.WeekOldRank);
    EXPECT_EQ(a.WeekTop, 4000);

    const TSubmitOutcome picked = Send(Score(3000, "c2", "0123456789abcdef0123456789abcdef"));
    EXPECT_TRUE(picked.NewPlayerId);
    EXPECT_NE(picked.PlayerId, "0123456789abcdef0123456789abcdef");
    EXPECT_NE(picked.PlayerId, a.PlayerId);

    // Bytes a game's damaged settings could hold, in the identifier and in a proxy's address.
    const TSubmitOutcome odd =
        store_->Submit(Score(3200, "c4", "ab\xe9\xff"), "10.0.0.\xe9", kWeek1 + 60, kWeek1);
    EXPECT_TRUE(odd.Accepted);
    EXPECT_TRUE(odd.NewPlayerId);
    EXPECT_EQ(odd.PlayerId.size(), 32u);

    const TSubmitOutcome known = Send(Score(3500, "c3", a.PlayerId));
    EXPECT_FALSE(known.NewPlayerId);
    EXPECT_EQ(known.PlayerId, a.PlayerId);
    EXPECT_EQ(known.OldRank, 1);
}

TEST_P(StoreTest, AScoreCodeIsTakenOnceWhoeverSendsItAndAfterReopening) {
    const TSubmitOutcome a = Send(Score(4000, "same"));
    ASSERT_TRUE(a.Accepted);
    EXPECT_FALSE(Send(Score(4000, "same")).Accepted);
    EXPECT_FALSE(Send(Score(9000, "same", a.PlayerId)).Accepted);
    Reopen();
    EXPECT_FALSE(Send(Score(4000, "same"), kWeek2).Accepted);
    EXPECT_EQ(store_->SubmissionCount(), 1);
    // The refused ones changed no list.
    const auto top = store_->Top(10, std::nullopt);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].Score, 4000);
}

TEST_P(StoreTest, RanksCountEachOtherPlayersBestOnceAndEqualBestsShareARank) {
    const TSubmitOutcome ann = Send(Score(500, "a1"));
    const TSubmitOutcome ben = Send(Score(300, "b1"));
    const TSubmitOutcome cid = Send(Score(300, "c1"));
    EXPECT_EQ(ben.Rank, 2);
    EXPECT_EQ(cid.Rank, 2) << "Ben's equal best is not above Cid's";

    // Below his own best: the sent score's rank, and his best's rank before.
    const TSubmitOutcome ben2 = Send(Score(200, "b2", ben.PlayerId));
    EXPECT_EQ(ben2.Rank, 3);
    EXPECT_EQ(ben2.OldRank, 2);
    EXPECT_EQ(ben2.Top, 500);

    // Ann's own 500 is not above Ann.
    const TSubmitOutcome ann2 = Send(Score(100, "a2", ann.PlayerId));
    EXPECT_EQ(ann2.Rank, 3);
    EXPECT_EQ(ann2.OldRank, 1);

    const TSubmitOutcome ann3 = Send(Score(900, "a3", ann.PlayerId));
    EXPECT_EQ(ann3.Rank, 1);
    EXPECT_EQ(ann3.OldRank, 1);
    EXPECT_EQ(ann3.Top, 900);

    const TSubmitOutcome dan = Send(Score(400, "d1"));
    EXPECT_EQ(dan.Rank, 2) << "Ann's 500 was replaced by her 900";
    EXPECT_EQ(dan.Top, 900);
    const TSubmitOutcome cid2 = Send(Score(-50, "c2", cid.PlayerId));
    EXPECT_EQ(cid2.Rank, 4) << "Ann, Dan and Ben; not Cid himself";
    EXPECT_EQ(cid2.OldRank, 3);
}

TEST_P(StoreTest, RanksAreExactOnBothSidesOfEveryThousandAndOfZero) {
    std::vector<int32_t> all = {-2049, -1025, -1024, -1023, -1,   0,    1,
                                1023,  1024,  1025,  2047,  2048, 2048, 60000};
    for (size_t i = 0; i < all.size(); ++i) Send(Score(all[i], "b" + std::to_string(i)));
    std::vector<int32_t> week;  // the probes go to a week of their own
    auto above = [](const std::vector<int32_t>& v, int32_t s) {
        return std::count_if(v.begin(), v.end(), [&](int32_t b) { return b > s; });
    };
    for (int32_t probe : {-3000, -2049, -1025, -1024, -2, -1, 0, 1022, 1023, 1024, 2047, 2048,
                          59999, 60000, 70000}) {
        const TSubmitOutcome p = Send(Score(probe, "p" + std::to_string(probe)), kWeek2);
        EXPECT_EQ(p.Rank, 1 + above(all, probe)) << probe;
        EXPECT_EQ(p.WeekRank, 1 + above(week, probe)) << probe;
        all.push_back(probe);
        week.push_back(probe);
    }
}

TEST_P(StoreTest, AWeekRanksOnlyItsOwnScoresAndKeepsItsOldRank) {
    const TSubmitOutcome ann = Send(Score(500, "a1"), kWeek1);
    const TSubmitOutcome ben = Send(Score(300, "b1"), kWeek2);
    EXPECT_EQ(ben.Rank, 2);
    EXPECT_EQ(ben.WeekRank, 1);
    EXPECT_EQ(ben.WeekTop, 300);
    EXPECT_EQ(ben.Top, 500);

    const TSubmitOutcome ann2 = Send(Score(200, "a2", ann.PlayerId), kWeek2);
    EXPECT_EQ(ann2.OldRank, 1);
    EXPECT_FALSE(ann2.WeekOldRank) << "Ann had not played in the second week";
    EXPECT_EQ(ann2.WeekRank, 2);

    const TSubmitOutcome ann3 = Send(Score(250, "a3", ann.PlayerId), kWeek2);
    EXPECT_EQ(ann3.WeekOldRank, 2);
    EXPECT_EQ(ann3.WeekRank, 2);
    const TSubmitOutcome ann4 = Send(Score(350, "a4", ann.PlayerId), kWeek2);
    EXPECT_EQ(ann4.WeekRank, 1);
    EXPECT_EQ(ann4.WeekTop, 350);

    const auto week1 = store_->Top(10, kWeek1), week2 = store_->Top(10, kWeek2);
    ASSERT_EQ(week1.size(), 1u);
    EXPECT_EQ(week1[0].Score, 500);
    ASSERT_EQ(week2.size(), 2u);
    EXPECT_EQ(week2[0].Score, 350);
    EXPECT_EQ(week2[1].Score, 300);
}

TEST_P(StoreTest, ListsShowEachPlayersBestWithItsNameAndTheEarlierOfEqualBestsFirst) {
    const TSubmitOutcome ann = Send(Score(500, "a1", {}, "Ann"));
    Send(Score(700, "a2", ann.PlayerId, "Annie"));
    Send(Score(600, "a3", ann.PlayerId, "Ann again"));  // not her best: the list keeps "Annie"
    Send(Score(700, "b1", {}, "Ben"));
    // Names are the bytes that were sent: Windows-1252, a NUL-free anything.
    TSubmission zoe = Score(650, "z1", {}, "Z\xf6\xe9 \x80");
    zoe.City = "Z\xfcrich";
    Send(zoe);

    const auto top = store_->Top(10, std::nullopt);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[0].Name, "Annie");
    EXPECT_EQ(top[0].Score, 700);
    EXPECT_EQ(top[1].Name, "Ben");
    EXPECT_EQ(top[2].Name, "Z\xf6\xe9 \x80");
    EXPECT_EQ(top[2].City, "Z\xfcrich");
    EXPECT_EQ(top[2].Country, "CH");
    const auto two = store_->Top(2, kWeek1);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].Name, "Ben");
    EXPECT_TRUE(store_->Top(10, kWeek2).empty());
}

TEST_P(StoreTest, PlayersAndBestsSurviveReopening) {
    const TSubmitOutcome ann = Send(Score(500, "a1"));
    Send(Score(800, "b1"));
    Reopen();
    const TSubmitOutcome ann2 = Send(Score(900, "a2", ann.PlayerId));
    EXPECT_FALSE(ann2.NewPlayerId);
    EXPECT_EQ(ann2.OldRank, 2);
    EXPECT_EQ(ann2.Rank, 1);
    EXPECT_EQ(ann2.WeekOldRank, 2);
    EXPECT_EQ(store_->SubmissionCount(), 3);
}

TEST_P(StoreTest, WritersAtOnceLoseNothingAndTakeEachCodeOnce) {
    // Eight threads send the same 40 codes of one player each, and 40 players of their own.
    const TSubmitOutcome shared = Send(Score(0, "start"));
    std::mutex mutex;
    std::map<std::string, int> taken;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                const TSubmitOutcome a =
                    Send(Score(i * 10, "s" + std::to_string(i), shared.PlayerId));
                const TSubmitOutcome b =
                    Send(Score(1000 + t * 100 + i, "p" + std::to_string(t * 100 + i)));
                std::lock_guard lock(mutex);
                if (a.Accepted) ++taken["s" + std::to_string(i)];
                if (b.Accepted) ++taken["p" + std::to_string(t * 100 + i)];
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(taken.size(), 40u + 320u);
    for (const auto& [code, n] : taken) EXPECT_EQ(n, 1) << code;
    EXPECT_EQ(store_->SubmissionCount(), 1 + 40 + 320);
    // The shared player's best is the highest of their codes; every player is ranked once.
    const TSubmitOutcome last = Send(Score(385, "last", shared.PlayerId));
    EXPECT_EQ(last.OldRank, 321);
    EXPECT_EQ(last.Rank, 321);
    const TSubmitOutcome low = Send(Score(-1, "low"));
    EXPECT_EQ(low.Rank, 322);
    EXPECT_EQ(store_->Top(1000, std::nullopt).size(), 322u);
}

// Moderation is done by a second opening of the store, as the admin command does beside a
// running server: the store that takes the submissions must follow it at once.
int64_t NumberOf(server::IScoreStore& store, const std::string& name, int64_t score) {
    for (const auto& row : store.FindScores(name, 100))
        if (row.Name == name && row.Score == score) return row.Submission;
    return 0;
}

TEST_P(StoreTest, AHiddenScoreLeavesRanksListsAndTopAtOnceAndRestoringBringsItBack) {
    auto admin = server::OpenScoreStoreForModeration(where_);
    const std::string cheater = Send(Score(3000, "c1", "", "Cheater")).PlayerId;
    Send(Score(9000, "c2", cheater, "Cheater"));
    Send(Score(5000, "a1", "", "Ann"));
    Send(Score(4000, "b1", "", "Ben"));
    const int64_t generation = admin->ModerationGeneration();
    const int64_t forged = NumberOf(*admin, "Cheater", 9000);
    ASSERT_NE(forged, 0);

    ASSERT_TRUE(admin->SetScoreHidden(forged, true));
    EXPECT_GT(admin->ModerationGeneration(), generation);
    for (const auto& list : {store_->Top(10, std::nullopt), store_->Top(10, kWeek1)}) {
        ASSERT_EQ(list.size(), 3u);
        EXPECT_EQ(list[0].Name, "Ann");
        EXPECT_EQ(list[2].Name, "Cheater") << "his earlier score stays";
        EXPECT_EQ(list[2].Score, 3000);
    }
    const TSubmitOutcome dan = Send(Score(4500, "d1", "", "Dan"));
    EXPECT_EQ(dan.Rank, 2);
    EXPECT_EQ(dan.Top, 5000);
    EXPECT_EQ(dan.WeekRank, 2);
    EXPECT_EQ(dan.WeekTop, 5000);
    const TSubmitOutcome again = Send(Score(1000, "c3", cheater, "Cheater"));
    EXPECT_FALSE(again.NewPlayerId);
    EXPECT_EQ(again.OldRank, 4) << "Ann, Dan and Ben above his 3000";
    EXPECT_EQ(again.Rank, 4) << "his own 3000 is not above him";
    Reopen();
    EXPECT_EQ(store_->Top(10, std::nullopt).at(0).Name, "Ann");
    EXPECT_EQ(store_->SubmissionCount(), 6) << "hidden, not deleted";

    ASSERT_TRUE(admin->SetScoreHidden(forged, false));
    EXPECT_EQ(store_->Top(10, std::nullopt).at(0).Score, 9000);
    const TSubmitOutcome eve = Send(Score(4200, "e1", "", "Eve"));
    EXPECT_EQ(eve.Rank, 4) << "below the cheater, Ann and Dan";
    EXPECT_EQ(eve.Top, 9000);
    EXPECT_EQ(eve.WeekTop, 9000);
    EXPECT_FALSE(admin->SetScoreHidden(987654, true));
}

TEST_P(StoreTest, AHiddenPlayerVanishesEverywhereKeepsTheirIdentifierAndComesBackWhole) {
    auto admin = server::OpenScoreStoreForModeration(where_);
    const std::string cheater = Send(Score(9000, "c1", "", "Cheater"), kWeek1).PlayerId;
    Send(Score(7000, "c2", cheater, "Cheater"), kWeek2);
    const std::string ann = Send(Score(5000, "a1", "", "Ann"), kWeek1).PlayerId;

    ASSERT_TRUE(admin->SetPlayerHidden(cheater, true));
    ASSERT_EQ(store_->Top(10, std::nullopt).size(), 1u);
    EXPECT_TRUE(store_->Top(10, kWeek2).empty());
    const auto rows = admin->FindScores(cheater, 10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0].PlayerHidden);
    EXPECT_FALSE(rows[0].Hidden);
    EXPECT_EQ(rows[0].Score, 9000);

    // Still playing: stored under the same identifier, shown nowhere, counted in no rank.
    const TSubmitOutcome hidden = Send(Score(9900, "c3", cheater, "Cheater"), kWeek2);
    EXPECT_TRUE(hidden.Accepted);
    EXPECT_FALSE(hidden.NewPlayerId);
    EXPECT_EQ(hidden.PlayerId, cheater);
    EXPECT_TRUE(store_->Top(10, kWeek2).empty());
    const TSubmitOutcome annAgain = Send(Score(4000, "a2", ann, "Ann"), kWeek2);
    EXPECT_EQ(annAgain.OldRank, 1);
    EXPECT_EQ(annAgain.Top, 5000);
    EXPECT_EQ(annAgain.WeekRank, 1);
    EXPECT_EQ(annAgain.WeekTop, 4000);

    ASSERT_TRUE(admin->SetPlayerHidden(cheater, false));
    EXPECT_EQ(store_->Top(10, std::nullopt).at(0).Score, 9900);
    const auto week2 = store_->Top(10, kWeek2);
    ASSERT_EQ(week2.size(), 2u);
    EXPECT_EQ(week2[0].Score, 9900);
    const TSubmitOutcome ben = Send(Score(100, "b1", "", "Ben"), kWeek2);
    EXPECT_EQ(ben.Rank, 3);
    EXPECT_EQ(ben.WeekRank, 3);
    EXPECT_EQ(ben.WeekTop, 9900);
    EXPECT_FALSE(admin->SetPlayerHidden("0123456789abcdef0123456789abcdef", true));
}

TEST_P(StoreTest, ARefusedNameIsNotStoredWhateverItsCaseOrSpacesUntilAllowed) {
    auto admin = server::OpenScoreStoreForModeration(where_);
    admin->SetNameRefused("Cheater", true);
    EXPECT_EQ(admin->RefusedNames(), std::vector<std::string>{"Cheater"});
    const TSubmitOutcome refused = Send(Score(9000, "c1", "", " CHEATER "));
    EXPECT_TRUE(refused.NameRefused);
    EXPECT_FALSE(refused.Accepted);
    EXPECT_TRUE(store_->Top(10, std::nullopt).empty());
    EXPECT_EQ(store_->SubmissionCount(), 0);
    EXPECT_TRUE(Send(Score(100, "c2", "", "Cheaters")).Accepted);

    admin->SetNameRefused("cheater", false);
    EXPECT_TRUE(admin->RefusedNames().empty());
    const TSubmitOutcome allowed = Send(Score(9000, "c1", "", " CHEATER "));
    EXPECT_TRUE(allowed.Accepted) << "a refused score was not stored, so it is no replay";
    EXPECT_FALSE(allowed.NameRefused);
}

// Random games of forty players over two weeks: equal scores, bests raised and not, negative
// scores and scores on both sides of every 1024, scores hidden and restored by moderation, and a
// reopening halfway; every answer against a count over each player's best.
TEST_P(StoreTest, RanksAndTopsEqualACountOverEveryBestThroughRandomGamesHidingAndReopening) {
    struct Game {
        int64_t score, week, time;
        bool hidden;
    };
    std::map<std::string, std::vector<Game>> games;  // by player
    auto bestOf = [&](const std::string& player,
                      std::optional<int64_t> week) -> std::optional<int64_t> {
        std::optional<int64_t> best;
        for (const Game& g : games[player])
            if (!g.hidden && (!week || g.week == *week) && (!best || g.score > *best))
                best = g.score;
        return best;
    };
    auto above = [&](int64_t score, const std::string& me, std::optional<int64_t> week) {
        int64_t n = 0;
        for (const auto& [player, _] : games) {
            const auto best = bestOf(player, week);
            if (player != me && best && *best > score) ++n;
        }
        return n;
    };
    auto topOf = [&](std::optional<int64_t> week) {
        std::optional<int64_t> top;
        for (const auto& [player, _] : games) {
            const auto best = bestOf(player, week);
            if (best && (!top || *best > *top)) top = best;
        }
        return top;
    };
    auto admin = server::OpenScoreStoreForModeration(where_);
    std::mt19937 gen(20261209);
    std::vector<std::string> ids;
    for (int i = 0; i < 400; ++i) {
        if (i == 200) Reopen();
        if (i % 20 == 19) {
            const std::string& player = ids[gen() % ids.size()];
            Game& g = games[player][gen() % games[player].size()];
            int64_t number = 0;
            for (const auto& row : admin->FindScores(player, 100))
                if (row.Time == g.time) number = row.Submission;
            ASSERT_TRUE(admin->SetScoreHidden(number, !g.hidden)) << i;
            g.hidden = !g.hidden;
        }
        const int64_t week = gen() % 3 ? kWeek2 : kWeek1;
        const bool fresh = ids.size() < 40 && (ids.empty() || gen() % 3 == 0);
        const std::string me = fresh ? std::string() : ids[gen() % ids.size()];
        // Few distinct values, so that equal bests are common.
        const int32_t score =
            static_cast<int32_t>(gen() % 40) * 512 - 3072 + static_cast<int32_t>(gen() % 3) - 1;
        const auto oldBest = bestOf(me, std::nullopt), oldWeekBest = bestOf(me, week);
        const auto top = topOf(std::nullopt), weekTop = topOf(week);
        const TSubmitOutcome out = store_->Submit(Score(score, "r" + std::to_string(i), me),
                                                  "127.0.0.1", week + 3600 + i, week);
        ASSERT_TRUE(out.Accepted) << i;
        const std::string& player = out.PlayerId;
        EXPECT_EQ(out.Rank, 1 + above(score, player, std::nullopt)) << i;
        EXPECT_EQ(out.WeekRank, 1 + above(score, player, week)) << i;
        EXPECT_EQ(out.OldRank,
                  oldBest ? std::optional(1 + above(*oldBest, player, std::nullopt)) : std::nullopt)
            << i;
        EXPECT_EQ(out.WeekOldRank,
                  oldWeekBest ? std::optional(1 + above(*oldWeekBest, player, week)) : std::nullopt)
            << i;
        EXPECT_EQ(out.Top, std::max<int64_t>(top.value_or(score), score)) << i;
        EXPECT_EQ(out.WeekTop, std::max<int64_t>(weekTop.value_or(score), score)) << i;
        if (fresh) ids.push_back(player);
        games[player].push_back({score, week, week + 3600 + i, false});
    }
}

TEST_P(StoreTest, ReplayVerdictsDecideRanksAndOnlyVerifiedGamesMakeTheWeeklyPrizeList) {
    using server::TReplayState;
    EXPECT_EQ(store_->RequiresReplay(), std::nullopt);
    const std::string a = Send(Score(5000, "a", {}, "Ann")).PlayerId;
    Send(Score(4000, "b", {}, "Bob"));
    Send(Score(3000, "c", {}, "Cid"));
    const auto scores = [&] {
        std::vector<std::pair<int64_t, bool>> out;
        for (const auto& r : store_->Top(10, std::nullopt)) out.emplace_back(r.Score, r.Verified);
        return out;
    };
    using Rows = std::vector<std::pair<int64_t, bool>>;
    EXPECT_EQ(scores(), (Rows{{5000, false}, {4000, false}, {3000, false}}));

    EXPECT_TRUE(store_->SetReplayState("b", TReplayState::Verified, ""));
    EXPECT_TRUE(store_->SetReplayState("a", TReplayState::Refused, "The replay ends early"));
    EXPECT_FALSE(store_->SetReplayState("zzz", TReplayState::Verified, ""));
    EXPECT_EQ(store_->FindByCode("zzz"), std::nullopt);
    EXPECT_EQ(scores(), (Rows{{4000, true}, {3000, false}}));
    const auto week = store_->VerifiedTop(10, kWeek1);
    ASSERT_EQ(week.size(), 1u);
    EXPECT_EQ(week[0].Name, "Bob");
    const auto ann = store_->FindScores("Ann", 10);
    ASSERT_EQ(ann.size(), 1u);
    EXPECT_EQ(ann[0].Replay, TReplayState::Refused);
    EXPECT_EQ(ann[0].ReplayReason, "The replay ends early");
    EXPECT_EQ((store_->ReplayCounts()), (std::array<int64_t, 4>{1, 0, 1, 1}));

    // Only verified games count now; a new score waits for its replay, and its player, known by
    // nothing ranked yet, keeps the identifier.
    store_->SetRequiresReplay(true);
    EXPECT_EQ(scores(), (Rows{{4000, true}}));
    const TSubmitOutcome d = Send(Score(6000, "d", {}, "Dan"));
    EXPECT_EQ(d.Rank, 1);
    EXPECT_EQ(scores(), (Rows{{4000, true}}));
    const TSubmitOutcome again = Send(Score(1000, "e", d.PlayerId, "Dan"));
    EXPECT_FALSE(again.NewPlayerId);
    EXPECT_EQ(again.PlayerId, d.PlayerId);
    EXPECT_EQ(store_->FindByCode("d")->State, TReplayState::Unverified);
    EXPECT_TRUE(store_->SetReplayState("d", TReplayState::Verified, ""));
    EXPECT_EQ(scores(), (Rows{{6000, true}, {4000, true}}));

    Reopen();
    EXPECT_EQ(store_->RequiresReplay(), true);
    EXPECT_EQ(Send(Score(7000, "f", a)).Rank, 1);
    EXPECT_EQ(scores(), (Rows{{6000, true}, {4000, true}}));
    store_->SetRequiresReplay(false);
    EXPECT_EQ(scores(), (Rows{{7000, false}, {6000, true}, {4000, true}, {3000, false}}));
}

// A store from before replays ranks every score; a server that starts on it keeping that mode only
// writes the mode down. Making every best again takes a store of millions of players tens of
// minutes: nothing is rewritten, so nothing tells the other servers to reload. A real change does.
TEST_P(StoreTest, SettingTheModeAStoreAlreadyRanksByRewritesNothing) {
    Send(Score(5000, "a", {}, "Ann"));
    Send(Score(4000, "b", {}, "Bob"));
    const int64_t before = store_->ModerationGeneration();
    store_->SetRequiresReplay(false);
    EXPECT_EQ(store_->RequiresReplay(), false);
    EXPECT_EQ(store_->ModerationGeneration(), before);
    EXPECT_EQ(store_->Top(10, std::nullopt).size(), 2u);

    store_->SetRequiresReplay(true);
    EXPECT_EQ(store_->RequiresReplay(), true);
    EXPECT_GT(store_->ModerationGeneration(), before);
    EXPECT_TRUE(store_->Top(10, std::nullopt).empty());
    const int64_t strict = store_->ModerationGeneration();
    Reopen();
    store_->SetRequiresReplay(true);
    EXPECT_EQ(store_->ModerationGeneration(), strict);
    store_->SetRequiresReplay(false);
    EXPECT_EQ(store_->Top(10, std::nullopt).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

TEST(SqliteStore, ASecondStoreOnAFolderInUseIsRefusedUntilTheFirstCloses) {
    test::TempFolder folder;
    auto first = server::OpenSqliteStore(folder.Path());
    try {
        server::OpenSqliteStore(folder.Path());
        ADD_FAILURE() << "a second store opened the same folder";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("in use by another zolvex-server"), std::string::npos)
            << e.what();
    }
    first->Submit(Score(10, "kept"), "x", kWeek1, kWeek1);
    first.reset();
    EXPECT_EQ(server::OpenSqliteStore(folder.Path())->SubmissionCount(), 1);
}

// Bytes the process has taken from the heap, in every arena.
size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

TEST(SqliteStore, TwoHundredThousandPlayersOfAnEarlierStoreCostUnder64BytesEachAndRankExactly) {
    constexpr int kPlayers = 200000;
    test::TempFolder folder;
    server::OpenSqliteStore(folder.Path()).reset();
    // As an earlier server left it: the bests of all time and of a week, no counts of them.
    std::vector<int64_t> bests, weekBests;
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open((folder.Path() + "/scores.db").c_str(), &raw), SQLITE_OK);
        std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
        auto exec = [&](const char* sql) {
            ASSERT_EQ(sqlite3_exec(raw, sql, nullptr, nullptr, nullptr), SQLITE_OK)
                << sql << ": " << sqlite3_errmsg(raw);
        };
        for (const char* name :
             {"score_counts", "score_blocks", "week_score_counts", "week_score_blocks"})
            exec(("DROP TABLE IF EXISTS " + std::string(name)).c_str());
        for (const char* name : {"players_counted", "players_uncounted", "players_recounted",
                                 "week_best_counted", "week_best_uncounted", "week_best_recounted"})
            exec(("DROP TRIGGER IF EXISTS " + std::string(name)).c_str());
        exec("BEGIN");
        sqlite3_stmt* player = nullptr;
        sqlite3_stmt* week = nullptr;
        sqlite3_prepare_v2(raw, "INSERT INTO players VALUES(printf('%032x', ?1), ?2, ?1)", -1,
                           &player, nullptr);
        sqlite3_prepare_v2(raw, "INSERT INTO week_best VALUES(?3, printf('%032x', ?1), ?2, ?1)", -1,
                           &week, nullptr);
        for (int i = 1; i <= kPlayers; ++i) {
            const int64_t best = (i * int64_t{7919}) % 6001 * 10 - 5000;
            bests.push_back(best);
            sqlite3_bind_int64(player, 1, i);
            sqlite3_bind_int64(player, 2, best);
            ASSERT_EQ(sqlite3_step(player), SQLITE_DONE);
            sqlite3_reset(player);
            if (i % 2) continue;
            weekBests.push_back(best);
            sqlite3_bind_int64(week, 1, i);
            sqlite3_bind_int64(week, 2, best);
            sqlite3_bind_int64(week, 3, kWeek1);
            ASSERT_EQ(sqlite3_step(week), SQLITE_DONE);
            sqlite3_reset(week);
        }
        sqlite3_finalize(player);
        sqlite3_finalize(week);
        exec("COMMIT");
    }
    auto above = [](const std::vector<int64_t>& v, int64_t s) {
        return static_cast<int64_t>(
            std::count_if(v.begin(), v.end(), [&](int64_t b) { return b > s; }));
    };

    [[maybe_unused]] const size_t before = HeapInUse();
    auto store = server::OpenSqliteStore(folder.Path());
    const TSubmitOutcome probe = store->Submit(Score(20000, "probe"), "x", kWeek1 + 60, kWeek1);
    // Player 2 (best 33360, in the week) sends less than that.
    const TSubmitOutcome two =
        store->Submit(Score(-4000, "two", std::string(31, '0') + "2"), "x", kWeek1 + 60, kWeek1);
    [[maybe_unused]] const size_t after = HeapInUse();
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's allocator is not the heap measured
    EXPECT_LE(after - std::min(after, before), size_t{64} * kPlayers);
#endif

    EXPECT_EQ(probe.Rank, 1 + above(bests, 20000));
    EXPECT_EQ(probe.WeekRank, 1 + above(weekBests, 20000));
    EXPECT_EQ(probe.Top, 55000);
    EXPECT_EQ(probe.WeekTop, 55000);
    ASSERT_FALSE(two.NewPlayerId);
    EXPECT_EQ(two.OldRank, 1 + above(bests, 33360));
    EXPECT_EQ(two.WeekOldRank, 1 + above(weekBests, 33360));
    bests.push_back(20000);
    weekBests.push_back(20000);
    EXPECT_EQ(two.Rank, 1 + above(bests, -4000) - 1) << "their own 33360 is not above them";
    EXPECT_EQ(two.WeekRank, 1 + above(weekBests, -4000) - 1);
}

TEST(PgStore, ASubmissionWhileTheDatabaseIsDownFailsAndTheStoreRecoversByItself) {
    test::PgCluster* cluster = test::PgCluster::Shared();
    if (!cluster) GTEST_SKIP() << test::PgCluster::Why();
    auto store = server::OpenPgStore(cluster->NewDatabase(), 4);
    // Every connection of the pool opened, so that each has to notice the restart.
    std::vector<std::thread> warm;
    for (int t = 0; t < 8; ++t)
        warm.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i)
                store->Submit(Score(i, "w" + std::to_string(t * 10 + i)), "x", kWeek1, kWeek1);
        });
    for (auto& t : warm) t.join();

    cluster->Stop();
    EXPECT_THROW(store->Submit(Score(1, "down"), "x", kWeek1, kWeek1), std::exception);
    EXPECT_THROW(store->Top(20, std::nullopt), std::exception);
    cluster->Restart();
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(
            store->Submit(Score(100 + i, "up" + std::to_string(i)), "x", kWeek1, kWeek1).Accepted);
    EXPECT_EQ(store->Top(3, std::nullopt).at(0).Score, 109);
    EXPECT_EQ(store->SubmissionCount(), 40 + 10) << "the refused one was not stored";
}

// What the call threw, or "(answered)".
template <class F>
std::string Failure(F&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(answered)";
}

TEST(PgStore, EveryWaitOnAStoppedDatabaseEndsByTheDeadlineAndTheStoreGoesOnAfterwards) {
    test::PgCluster* cluster = test::PgCluster::Shared();
    if (!cluster) GTEST_SKIP() << test::PgCluster::Why();
    server::TPgLimits limits;
    limits.Connections = 1;
    limits.Wait = std::chrono::milliseconds(300);
    auto store = server::OpenPgStore(cluster->NewDatabase(), limits);
    // The deadline is short for a loaded machine: a call is tried until it gets through (one
    // answered too late may have been stored: then its second try is a replay).
    auto eventually = [&](auto&& call) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            try {
                call();
                return true;
            } catch (const std::exception&) {
            }
        }
        return false;
    };
    auto send = [&](const std::string& code) {
        return eventually([&] { store->Submit(Score(100, code), "x", kWeek1, kWeek1); });
    };
    ASSERT_TRUE(send("before"));
    {
        test::PgCluster::Frozen frozen(*cluster);
        // The pool's one connection waits for its answer; then, given up, a new one for its
        // start; then two calls at once, one of them for the pool's connection.
        EXPECT_NE(Failure([&] { store->Top(20, std::nullopt); }).find("in time"),
                  std::string::npos);
        EXPECT_NE(Failure([&] {
                      store->Submit(Score(5, "frozen"), "x", kWeek1, kWeek1);
                  }).find("in time"),
                  std::string::npos);
        std::string failures[2];
        std::thread a([&] { failures[0] = Failure([&] { store->SubmissionCount(); }); });
        std::thread b([&] { failures[1] = Failure([&] { store->Top(20, kWeek1); }); });
        a.join();
        b.join();
        for (const std::string& f : failures) EXPECT_NE(f.find("in time"), std::string::npos) << f;
    }
    EXPECT_TRUE(send("after"));
    int64_t count = 0;
    EXPECT_TRUE(eventually([&] { count = store->SubmissionCount(); }));
    EXPECT_EQ(count, 2) << "the score sent while the database was stopped never reached it";
}

}  // namespace
}  // namespace zx
