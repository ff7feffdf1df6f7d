// What a submission costs the PostgreSQL store when the campaign is large (scalerun.sh runs it):
//   bench_pgstore fill URI N              adds N players with one score each, half of them in this
//                                         week, scores spread as real games spread them
//   bench_pgstore submit URI M THREADS    sends M submissions through the store from THREADS threads,
//                                         half of them by known players, and prints the time of each
//                                         submission's database work (store, ranks, tops): p50, p99
//   bench_pgstore work URI M              the same work of M submissions from one connection, each
//                                         rolled back: the statements without the commit's flush
// Both take the week of the clock now.
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "server/ScoreStore.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Exec(PGconn* c, const std::string& sql) {
    PGresult* r = PQexec(c, sql.c_str());
    const auto st = PQresultStatus(r);
    PQclear(r);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
        std::fprintf(stderr, "%s\n%s", sql.c_str(), PQerrorMessage(c));
        std::exit(1);
    }
}

PGconn* Connect(const char* uri) {
    PGconn* c = PQconnectdb(uri);
    if (PQstatus(c) != CONNECTION_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(c));
        std::exit(1);
    }
    return c;
}

// Scores in steps of 10 around 20000, from a loss at -5000 to a rare 60000: some six thousand
// distinct values, the range the count tables must cover.
const char* kScoreSql =
    "(10 * round(greatest(-500, least(6000, 2000 + 800 * sqrt(-2 * ln(1 - random())) * "
    "cos(2 * pi() * random())))))::int";

int Fill(const char* uri, long n) {
    // The store makes its tables.
    zx::server::OpenPgStore(uri, 1).reset();
    PGconn* c = Connect(uri);
    const int64_t week = zx::server::WeekStartOf(Now()), last = week - 7 * 86400;
    const auto start = Clock::now();
    Exec(c, "BEGIN");
    Exec(c, "CREATE TEMP TABLE fill ON COMMIT DROP AS SELECT g, " + std::string(kScoreSql) +
                " AS s, CASE WHEN g % 2 = 0 THEN " + std::to_string(week) + " ELSE " +
                std::to_string(last) + " END AS w FROM generate_series(1, " + std::to_string(n) +
                ") g");
    Exec(c,
         "INSERT INTO submissions(player, score, score_code, name, city, country, email, age, sex, "
         "comment, games_started, games_won, address, time, week) SELECT md5('fill' || g), s, "
         "'fill' || g || '-' || md5(random()::text), convert_to('Player' || g, 'UTF8'), "
         "'\\x4265726e'::bytea, '\\x4348'::bytea, ''::bytea, 30, 'm', ''::bytea, 10, 3, "
         "'127.0.0.1', w + 60, w FROM fill ORDER BY g");
    Exec(c,
         "INSERT INTO players(id, best, best_submission) SELECT player, score, id FROM "
         "submissions s WHERE score_code LIKE 'fill%' ON CONFLICT DO NOTHING");
    Exec(c,
         "INSERT INTO week_best(week, player, best, best_submission) SELECT week, player, score, "
         "id FROM submissions WHERE score_code LIKE 'fill%' ON CONFLICT DO NOTHING");
    Exec(c, "SELECT zolvex_recount_all()");
    Exec(c, "COMMIT");
    Exec(c, "VACUUM ANALYZE");
    PGresult* r = PQexec(c,
                         "SELECT (SELECT count(*) FROM players), (SELECT count(*) FROM "
                         "score_counts), pg_size_pretty(pg_database_size(current_database()))");
    std::printf("filled: %s players, %s distinct best scores, database %s, in %.1f s\n",
                PQgetvalue(r, 0, 0), PQgetvalue(r, 0, 1), PQgetvalue(r, 0, 2),
                std::chrono::duration<double>(Clock::now() - start).count());
    PQclear(r);
    PQfinish(c);
    return 0;
}

int Submit(const char* uri, long m, int threads) {
    std::vector<std::string> known;
    {
        PGconn* c = Connect(uri);
        PGresult* r = PQexec(c, "SELECT id FROM players TABLESAMPLE SYSTEM (2) LIMIT 20000");
        for (int i = 0; i < PQntuples(r); ++i) known.emplace_back(PQgetvalue(r, i, 0));
        PQclear(r);
        PQfinish(c);
    }
    if (known.empty()) known.emplace_back();
    auto store = zx::server::OpenPgStore(uri, threads);
    std::atomic<long> next{0};
    std::mutex mutex;
    std::vector<double> ms;
    const int64_t now = Now(), week = zx::server::WeekStartOf(now);
    const std::string run = std::to_string(now);
    const auto start = Clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            std::mt19937 gen(static_cast<uint32_t>(now + t));
            std::normal_distribution<double> score(20000, 8000);
            std::vector<double> mine;
            for (long i = next++; i < m; i = next++) {
                zx::server::TSubmission s;
                s.Score = static_cast<int32_t>(std::clamp(score(gen), -5000.0, 60000.0)) / 10 * 10;
                s.PlayerId = i % 2 ? known[gen() % known.size()] : std::string();
                s.Name = "Bench";
                s.City = "Bern";
                s.Country = "CH";
                s.ScoreCode = "bench-" + run + "-" + std::to_string(i);
                const auto t0 = Clock::now();
                store->Submit(s, "127.0.0.1", now, week);
                mine.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            }
            std::lock_guard lock(mutex);
            ms.insert(ms.end(), mine.begin(), mine.end());
        });
    for (auto& t : pool) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(ms.begin(), ms.end());
    auto at = [&](double p) {
        return ms[static_cast<size_t>(p * static_cast<double>(ms.size() - 1))];
    };
    std::printf(
        "submissions %zu from %d threads: %.0f/s; database work p50 %.2f ms p99 %.2f ms max "
        "%.2f ms\n",
        ms.size(), threads, static_cast<double>(ms.size()) / seconds, at(0.5), at(0.99), ms.back());
    // What the highscore page asks for: the best 20 of all time and of the week.
    ms.clear();
    for (int i = 0; i < 200; ++i) {
        const auto t0 = Clock::now();
        store->Top(20, std::nullopt);
        store->Top(20, week);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("highscore lists (20 of all time, 20 of the week): p50 %.2f ms p99 %.2f ms\n",
                at(0.5), at(0.99));
    return 0;
}

int Work(const char* uri, long m) {
    zx::server::OpenPgStore(uri, 1).reset();
    PGconn* c = Connect(uri);
    PGresult* prep = PQprepare(
        c, "w",
        "SELECT * FROM zolvex_submit($1, $2, $3, 'Bench', 'Bern', 'CH', '', 0, 'm', '', 1, 1, "
        "'127.0.0.1', $4, $5)",
        0, nullptr);
    PQclear(prep);
    std::vector<std::string> known;
    PGresult* r = PQexec(c, "SELECT id FROM players TABLESAMPLE SYSTEM (2) LIMIT 20000");
    for (int i = 0; i < PQntuples(r); ++i) known.emplace_back(PQgetvalue(r, i, 0));
    PQclear(r);
    if (known.empty()) known.emplace_back();
    const int64_t now = Now(), week = zx::server::WeekStartOf(now);
    const std::string nowText = std::to_string(now), weekText = std::to_string(week);
    std::mt19937 gen(static_cast<uint32_t>(now));
    std::normal_distribution<double> score(20000, 8000);
    std::vector<double> ms;
    for (long i = 0; i < m; ++i) {
        const std::string player = i % 2 ? known[gen() % known.size()] : std::string();
        const std::string points = std::to_string(
            static_cast<int32_t>(std::clamp(score(gen), -5000.0, 60000.0)) / 10 * 10);
        const std::string code = "work-" + nowText + "-" + std::to_string(i);
        const char* values[5] = {player.c_str(), points.c_str(), code.c_str(), nowText.c_str(),
                                 weekText.c_str()};
        Exec(c, "BEGIN");
        const auto t0 = Clock::now();
        PGresult* w = PQexecPrepared(c, "w", 5, values, nullptr, nullptr, 0);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (PQresultStatus(w) != PGRES_TUPLES_OK) {
            std::fprintf(stderr, "%s", PQerrorMessage(c));
            return 1;
        }
        PQclear(w);
        Exec(c, "ROLLBACK");
    }
    PQfinish(c);
    std::sort(ms.begin(), ms.end());
    auto at = [&](double p) {
        return ms[static_cast<size_t>(p * static_cast<double>(ms.size() - 1))];
    };
    std::printf(
        "statements of %zu submissions, without the commit: p50 %.2f ms p99 %.2f ms max %.2f ms\n",
        ms.size(), at(0.5), at(0.99), ms.back());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !std::strcmp(argv[1], "fill")) return Fill(argv[2], std::atol(argv[3]));
    if (argc == 4 && !std::strcmp(argv[1], "work")) return Work(argv[2], std::atol(argv[3]));
    if (argc == 5 && !std::strcmp(argv[1], "submit"))
        return Submit(argv[2], std::atol(argv[3]), std::atoi(argv[4]));
    std::fprintf(stderr, "usage: %s fill URI N | submit URI M THREADS | work URI M\n", argv[0]);
    return 2;
}
