// What a submission costs a store when the campaign is large (scalerun.sh and memrun.sh run it).
// STORE is a postgresql:// address or an SQLite data folder; `work` is PostgreSQL's alone.
//   bench_pgstore fill STORE N            adds N players with one score each, half of them in this
//                                         week, scores spread as real games spread them
//   bench_pgstore submit STORE M THREADS  sends M submissions through the store from THREADS
//                                         threads, half of them by known players, and prints the
//                                         time of each submission's database work (store, ranks,
//                                         tops): p50, p99
//   bench_pgstore ranks STORE M           M rank lookups (all time and this week) of random scores
//                                         as the store makes them: p50, p99
//   bench_pgstore work URI M              the same work of M submissions from one connection, each
//                                         rolled back: the statements without the commit's flush
// All take the week of the clock now.
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

#include <sqlite3.h>

#include <filesystem>

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

using Sqlite = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;

Sqlite OpenSqlite(const std::string& folder) {
    sqlite3* raw = nullptr;
    if (sqlite3_open((std::filesystem::path(folder) / "scores.db").c_str(), &raw) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", folder.c_str(), raw ? sqlite3_errmsg(raw) : "no memory");
        std::exit(1);
    }
    return Sqlite(raw, sqlite3_close);
}

void Exec(sqlite3* db, const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n%s\n", sql.c_str(), sqlite3_errmsg(db));
        std::exit(1);
    }
}

int64_t SqliteOne(sqlite3* db, const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    const int64_t v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
    sqlite3_finalize(st);
    return v;
}

// The same players in SQLite. The counts are left to the store: it makes them from the bests
// when it finds none, in one pass, much faster than its triggers row by row.
int FillSqlite(const std::string& folder, long n) {
    zx::server::OpenSqliteStore(folder).reset();
    const int64_t week = zx::server::WeekStartOf(Now()), last = week - 7 * 86400;
    const auto start = Clock::now();
    {
        Sqlite db = OpenSqlite(folder);
        for (const char* name : {"players_counted", "players_uncounted", "players_recounted",
                                 "week_best_counted", "week_best_uncounted", "week_best_recounted"})
            Exec(db.get(), std::string("DROP TRIGGER IF EXISTS ") + name);
        for (const char* name :
             {"score_counts", "score_blocks", "week_score_counts", "week_score_blocks"})
            Exec(db.get(), std::string("DROP TABLE IF EXISTS ") + name);
        Exec(db.get(), "PRAGMA journal_mode=DELETE");
        Exec(db.get(), "PRAGMA synchronous=OFF");
        Exec(db.get(), "PRAGMA cache_size=-1000000");
        Exec(db.get(), "BEGIN");
        const int64_t first = SqliteOne(db.get(), "SELECT coalesce(max(id), 0) FROM submissions");
        // Scores in steps of 10 around 20000, from -12000 to 52000, as in PostgreSQL's fill.
        Exec(db.get(),
             "WITH RECURSIVE g(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM g WHERE i < " +
                 std::to_string(n) +
                 ") INSERT INTO submissions(id, player, score, score_code, name, city, country, "
                 "email, age, sex, comment, games_started, games_won, address, time, week) "
                 "SELECT " +
                 std::to_string(first) + " + i, printf('%016x%016x', " + std::to_string(first) +
                 " + i, abs(random())), 10 * (abs(random()) % 1601 + abs(random()) % 1601 + "
                 "abs(random()) % 1601 + abs(random()) % 1601 - 1200), printf('fill-%012d', " +
                 std::to_string(first) +
                 " + i), CAST('Player' || i AS BLOB), X'4265726e', X'4348', X'', 30, 'm', X'', "
                 "10, 3, '127.0.0.1', CASE WHEN i % 2 = 0 THEN " +
                 std::to_string(week) + " ELSE " + std::to_string(last) +
                 " END + 60, CASE WHEN i % 2 = 0 THEN " + std::to_string(week) + " ELSE " +
                 std::to_string(last) + " END FROM g");
        Exec(db.get(),
             "INSERT INTO players(id, best, best_submission) SELECT player, score, id FROM "
             "submissions WHERE id > " +
                 std::to_string(first) + " ORDER BY player");
        Exec(db.get(),
             "INSERT INTO week_best(week, player, best, best_submission) SELECT week, player, "
             "score, id FROM submissions WHERE id > " +
                 std::to_string(first) + " ORDER BY week, player");
        Exec(db.get(), "COMMIT");
    }
    zx::server::OpenSqliteStore(folder).reset();  // makes the counts
    Sqlite db = OpenSqlite(folder);
    std::printf("filled: %lld players, %lld distinct best scores, database %.0f MB, in %.1f s\n",
                static_cast<long long>(SqliteOne(db.get(), "SELECT count(*) FROM players")),
                static_cast<long long>(SqliteOne(db.get(), "SELECT count(*) FROM score_counts")),
                static_cast<double>(
                    std::filesystem::file_size(std::filesystem::path(folder) / "scores.db")) /
                    1048576.0,
                std::chrono::duration<double>(Clock::now() - start).count());
    return 0;
}

int Fill(const char* uri, long n) {
    if (!zx::server::IsPgAddress(uri)) return FillSqlite(uri, n);
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

// Identifiers of some players of the store, for submissions by known players.
std::vector<std::string> SomePlayers(const char* uri) {
    std::vector<std::string> known;
    if (!zx::server::IsPgAddress(uri)) {
        Sqlite db = OpenSqlite(uri);
        sqlite3_stmt* st = nullptr;
        // A random stretch of the key order, not a scan of all of it.
        sqlite3_prepare_v2(db.get(),
                           "SELECT id FROM players WHERE id >= printf('%016x', abs(random())) "
                           "LIMIT 20000",
                           -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW)
            known.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
    } else {
        PGconn* c = Connect(uri);
        PGresult* r = PQexec(c, "SELECT id FROM players TABLESAMPLE SYSTEM (2) LIMIT 20000");
        for (int i = 0; i < PQntuples(r); ++i) known.emplace_back(PQgetvalue(r, i, 0));
        PQclear(r);
        PQfinish(c);
    }
    if (known.empty()) known.emplace_back();
    return known;
}

std::unique_ptr<zx::server::IScoreStore> OpenStore(const char* uri, int connections) {
    if (zx::server::IsPgAddress(uri)) return zx::server::OpenPgStore(uri, connections);
    return zx::server::OpenSqliteStore(uri);
}

int Submit(const char* uri, long m, int threads) {
    const std::vector<std::string> known = SomePlayers(uri);
    auto store = OpenStore(uri, threads);
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

// A submission's statements as the store sends them (PgStore.cpp), with a name and place of the
// bench's own. pgbench-submit.sql sends the same.
const char* kWorkSql =
    "SELECT * FROM zolvex_submit(p_player => $1, p_score => $2, p_code => $3, p_name => "
    "'Bench', p_city => 'Bern', p_country => 'CH', p_email => '', p_age => 0, p_sex => 'm', "
    "p_comment => '', p_started => 1, p_won => 1, p_address => '127.0.0.1', p_time => $4, "
    "p_week => $5, p_name_key => 'bench')";

int Work(const char* uri, long m) {
    zx::server::OpenPgStore(uri, 1).reset();
    PGconn* c = Connect(uri);
    // By name, so that the call states what it sends whatever the order of the function's
    // arguments; a mismatch ends the run here with the database's message.
    PGresult* prep = PQprepare(c, "w", kWorkSql, 0, nullptr);
    if (PQresultStatus(prep) != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "preparing the submission: %s", PQerrorMessage(c));
        return 1;
    }
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

// The statements the stores answer a rank with: players above a score, of all time and of a week.
int Ranks(const char* uri, long m) {
    const int64_t week = zx::server::WeekStartOf(Now());
    std::mt19937 gen(static_cast<uint32_t>(week));
    std::normal_distribution<double> score(20000, 8000);
    std::vector<double> ms;
    auto points = [&] {
        return static_cast<int64_t>(std::clamp(score(gen), -5000.0, 60000.0)) / 10 * 10;
    };
    int64_t sum = 0;  // so that nothing is optimised away, and shown
    if (zx::server::IsPgAddress(uri)) {
        PGconn* c = Connect(uri);
        PGresult* prep =
            PQprepare(c, "r", "SELECT zolvex_above($1), zolvex_week_above($2, $1)", 0, nullptr);
        if (PQresultStatus(prep) != PGRES_COMMAND_OK) {
            std::fprintf(stderr, "preparing the rank: %s", PQerrorMessage(c));
            return 1;
        }
        PQclear(prep);
        const std::string weekText = std::to_string(week);
        for (long i = 0; i < m; ++i) {
            const std::string p = std::to_string(points());
            const char* values[2] = {p.c_str(), weekText.c_str()};
            const auto t0 = Clock::now();
            PGresult* r = PQexecPrepared(c, "r", 2, values, nullptr, nullptr, 0);
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            if (PQresultStatus(r) != PGRES_TUPLES_OK) {
                std::fprintf(stderr, "%s", PQerrorMessage(c));
                return 1;
            }
            sum += std::atoll(PQgetvalue(r, 0, 0)) + std::atoll(PQgetvalue(r, 0, 1));
            PQclear(r);
        }
        PQfinish(c);
    } else {
        Sqlite db = OpenSqlite(uri);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(
                db.get(),
                "SELECT (SELECT coalesce(sum(players), 0) FROM score_blocks WHERE block > ?1 >> "
                "10) + (SELECT coalesce(sum(players), 0) FROM score_counts WHERE score > ?1 AND "
                "score <= (?1 >> 10 << 10) + 1023), (SELECT coalesce(sum(players), 0) FROM "
                "week_score_blocks WHERE week = ?2 AND block > ?1 >> 10) + (SELECT "
                "coalesce(sum(players), 0) FROM week_score_counts WHERE week = ?2 AND score > ?1 "
                "AND score <= (?1 >> 10 << 10) + 1023)",
                -1, &st, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "preparing the rank: %s\n", sqlite3_errmsg(db.get()));
            return 1;
        }
        for (long i = 0; i < m; ++i) {
            sqlite3_bind_int64(st, 1, points());
            sqlite3_bind_int64(st, 2, week);
            const auto t0 = Clock::now();
            if (sqlite3_step(st) != SQLITE_ROW) {
                std::fprintf(stderr, "%s\n", sqlite3_errmsg(db.get()));
                return 1;
            }
            sum += sqlite3_column_int64(st, 0) + sqlite3_column_int64(st, 1);
            sqlite3_reset(st);
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        sqlite3_finalize(st);
    }
    std::sort(ms.begin(), ms.end());
    auto at = [&](double p) {
        return ms[static_cast<size_t>(p * static_cast<double>(ms.size() - 1))];
    };
    std::printf(
        "rank lookups %zu (all time and week): p50 %.3f ms p99 %.3f ms max %.3f ms (%lld)\n",
        ms.size(), at(0.5), at(0.99), ms.back(), static_cast<long long>(sum));
    return 0;
}

// ZOLVEX_BENCH_SMOKE=1 (the CI's run of every bench) caps the sizes: the run shows that the bench
// still works, not what it measures.
long Sized(const char* arg, long smoke) {
    const long n = std::atol(arg);
    const char* quick = std::getenv("ZOLVEX_BENCH_SMOKE");
    return quick && !std::strcmp(quick, "1") ? std::min(n, smoke) : n;
}

int main(int argc, char** argv) {
    if (argc == 4 && !std::strcmp(argv[1], "fill")) return Fill(argv[2], Sized(argv[3], 1000));
    if (argc == 4 && !std::strcmp(argv[1], "work")) return Work(argv[2], Sized(argv[3], 50));
    if (argc == 4 && !std::strcmp(argv[1], "ranks")) return Ranks(argv[2], Sized(argv[3], 50));
    if (argc == 5 && !std::strcmp(argv[1], "submit"))
        return Submit(argv[2], Sized(argv[3], 50), std::atoi(argv[4]));
    std::fprintf(stderr,
                 "usage: %s fill STORE N | submit STORE M THREADS | ranks STORE M | work URI M\n",
                 argv[0]);
    return 2;
}
