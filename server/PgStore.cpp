// The score store on PostgreSQL, for several servers in front of one database.
//
// A submission is one call of the function zolvex_submit, bound and prepared, in a transaction of
// its own: one round trip, and an answer only after the commit. Ranks come from counts of players
// per best score, kept beside the bests: score_counts per score value and score_blocks per block
// of 1024 points (and the same per week). A block's count is split in stripes, each connection
// writing its own, since a count row locked by one transaction waits for its commit. Scores are small integers, some thousands of values
// apart, so "how many players are above s" is a sum over the blocks above s's block plus the
// values above s within its block: a hundred or two of rows, however many players there are.
// The counts are small enough to stay in memory.
//
// Every transaction takes its row locks in one order (the player, the score code, the player's
// week, then the count rows: overall values, overall blocks, week values, week blocks, each by
// ascending score), so two submissions never wait for each other in a circle.
#include <arpa/inet.h>
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "server/ScoreStore.h"

namespace zx::server {

namespace {

constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS submissions(
  id BIGSERIAL PRIMARY KEY, player TEXT NOT NULL, score INTEGER NOT NULL,
  score_code TEXT NOT NULL UNIQUE, name BYTEA, city BYTEA, country BYTEA, email BYTEA,
  age INTEGER, sex TEXT, comment BYTEA, games_started INTEGER, games_won INTEGER, address TEXT,
  time BIGINT NOT NULL, week BIGINT NOT NULL);
CREATE TABLE IF NOT EXISTS players(
  id TEXT PRIMARY KEY, best INTEGER NOT NULL, best_submission BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS players_rank ON players(best DESC, best_submission);
CREATE TABLE IF NOT EXISTS week_best(
  week BIGINT NOT NULL, player TEXT NOT NULL, best INTEGER NOT NULL,
  best_submission BIGINT NOT NULL, PRIMARY KEY(week, player));
CREATE INDEX IF NOT EXISTS week_best_rank ON week_best(week, best DESC, best_submission);
CREATE TABLE IF NOT EXISTS score_counts(
  score INTEGER PRIMARY KEY, players BIGINT NOT NULL);
CREATE TABLE IF NOT EXISTS score_blocks(
  block INTEGER NOT NULL, stripe INTEGER NOT NULL, players BIGINT NOT NULL,
  PRIMARY KEY(block, stripe));
CREATE TABLE IF NOT EXISTS week_score_counts(
  week BIGINT NOT NULL, score INTEGER NOT NULL, players BIGINT NOT NULL,
  PRIMARY KEY(week, score));
CREATE TABLE IF NOT EXISTS week_score_blocks(
  week BIGINT NOT NULL, block INTEGER NOT NULL, stripe INTEGER NOT NULL, players BIGINT NOT NULL,
  PRIMARY KEY(week, block, stripe));
ALTER TABLE submissions ADD COLUMN IF NOT EXISTS hidden BOOLEAN NOT NULL DEFAULT false;
-- Only hidden scores are in it, so submissions pay nothing for it.
CREATE INDEX IF NOT EXISTS submissions_hidden ON submissions(player) WHERE hidden;
CREATE TABLE IF NOT EXISTS hidden_players(id TEXT PRIMARY KEY);
CREATE TABLE IF NOT EXISTS refused_names(name_key BYTEA PRIMARY KEY, name BYTEA);
CREATE TABLE IF NOT EXISTS moderation(generation BIGINT NOT NULL);
INSERT INTO moderation SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM moderation);
-- Replays: every older score is unverified (0); 1 pending, 2 verified, 3 refused.
ALTER TABLE submissions ADD COLUMN IF NOT EXISTS replay SMALLINT NOT NULL DEFAULT 0;
ALTER TABLE submissions ADD COLUMN IF NOT EXISTS replay_reason TEXT;
CREATE INDEX IF NOT EXISTS submissions_player ON submissions(player);
CREATE INDEX IF NOT EXISTS submissions_verified ON submissions(week, score) WHERE replay = 2;
CREATE TABLE IF NOT EXISTS replay_mode(require BOOLEAN NOT NULL);
-- Whether only verified scores are ranked.
CREATE OR REPLACE FUNCTION zolvex_require() RETURNS BOOLEAN LANGUAGE sql STABLE AS $fn$
  SELECT COALESCE((SELECT require FROM replay_mode LIMIT 1), false)
$fn$;

-- Players whose best is above p_score, overall and within a week. PL/pgSQL keeps the plans of
-- a session, where an SQL function would plan its query at every call.
CREATE OR REPLACE FUNCTION zolvex_above(p_score INTEGER) RETURNS BIGINT
LANGUAGE plpgsql STABLE AS $fn$
BEGIN
  RETURN COALESCE((SELECT sum(players) FROM score_blocks WHERE block > p_score >> 10), 0)
       + COALESCE((SELECT sum(players) FROM score_counts
                   WHERE score > p_score AND score < ((p_score >> 10) + 1)::BIGINT << 10), 0);
END
$fn$;
CREATE OR REPLACE FUNCTION zolvex_week_above(p_week BIGINT, p_score INTEGER) RETURNS BIGINT
LANGUAGE plpgsql STABLE AS $fn$
BEGIN
  RETURN COALESCE((SELECT sum(players) FROM week_score_blocks
                   WHERE week = p_week AND block > p_score >> 10), 0)
       + COALESCE((SELECT sum(players) FROM week_score_counts
                   WHERE week = p_week AND score > p_score
                     AND score < ((p_score >> 10) + 1)::BIGINT << 10), 0);
END
$fn$;

-- One player's best moves from p_old (none: NULL) to p_new, in the counts of all time
-- (p_week NULL) or of a week.
CREATE OR REPLACE FUNCTION zolvex_recount_one(p_week BIGINT, p_old INTEGER, p_new INTEGER)
RETURNS void LANGUAGE plpgsql AS $fn$
DECLARE
  -- A block is counted in stripes, one per connection mod 8, so that submissions at once in
  -- the same block do not wait for each other's commits.
  v_stripe INTEGER := pg_backend_pid() % 8;
BEGIN
  IF p_week IS NULL THEN
    IF p_old IS NOT NULL THEN
      UPDATE score_counts SET players = players - 1 WHERE score = p_old;
    END IF;
    INSERT INTO score_counts(score, players) VALUES (p_new, 1)
      ON CONFLICT (score) DO UPDATE SET players = score_counts.players + 1;
    IF p_old IS NULL OR p_old >> 10 <> p_new >> 10 THEN
      IF p_old IS NOT NULL THEN
        INSERT INTO score_blocks(block, stripe, players) VALUES (p_old >> 10, v_stripe, -1)
          ON CONFLICT (block, stripe) DO UPDATE SET players = score_blocks.players - 1;
      END IF;
      INSERT INTO score_blocks(block, stripe, players) VALUES (p_new >> 10, v_stripe, 1)
        ON CONFLICT (block, stripe) DO UPDATE SET players = score_blocks.players + 1;
    END IF;
  ELSE
    IF p_old IS NOT NULL THEN
      UPDATE week_score_counts SET players = players - 1 WHERE week = p_week AND score = p_old;
    END IF;
    INSERT INTO week_score_counts(week, score, players) VALUES (p_week, p_new, 1)
      ON CONFLICT (week, score) DO UPDATE SET players = week_score_counts.players + 1;
    IF p_old IS NULL OR p_old >> 10 <> p_new >> 10 THEN
      IF p_old IS NOT NULL THEN
        INSERT INTO week_score_blocks(week, block, stripe, players)
          VALUES (p_week, p_old >> 10, v_stripe, -1)
          ON CONFLICT (week, block, stripe) DO UPDATE SET players = week_score_blocks.players - 1;
      END IF;
      INSERT INTO week_score_blocks(week, block, stripe, players)
        VALUES (p_week, p_new >> 10, v_stripe, 1)
        ON CONFLICT (week, block, stripe) DO UPDATE SET players = week_score_blocks.players + 1;
    END IF;
  END IF;
END
$fn$;

-- One player's best p_old leaves the counts of all time (p_week NULL) or of a week.
CREATE OR REPLACE FUNCTION zolvex_uncount_one(p_week BIGINT, p_old INTEGER)
RETURNS void LANGUAGE plpgsql AS $fn$
DECLARE
  v_stripe INTEGER := pg_backend_pid() % 8;
BEGIN
  IF p_week IS NULL THEN
    UPDATE score_counts SET players = players - 1 WHERE score = p_old;
    INSERT INTO score_blocks(block, stripe, players) VALUES (p_old >> 10, v_stripe, -1)
      ON CONFLICT (block, stripe) DO UPDATE SET players = score_blocks.players - 1;
  ELSE
    UPDATE week_score_counts SET players = players - 1 WHERE week = p_week AND score = p_old;
    INSERT INTO week_score_blocks(week, block, stripe, players)
      VALUES (p_week, p_old >> 10, v_stripe, -1)
      ON CONFLICT (week, block, stripe) DO UPDATE SET players = week_score_blocks.players - 1;
  END IF;
END
$fn$;

-- A player's bests and their counts made again from the scores that count (shown, no refused
-- replay, verified where only verified ones are ranked), after one was hidden, restored, verified
-- or refused; the first score to reach a best holds it, as when the scores came in.
CREATE OR REPLACE FUNCTION zolvex_rebest(p_player TEXT) RETURNS void LANGUAGE plpgsql AS $fn$
DECLARE
  r RECORD;
BEGIN
  FOR r IN SELECT best FROM players WHERE id = p_player FOR UPDATE LOOP
    PERFORM zolvex_uncount_one(NULL, r.best);
  END LOOP;
  DELETE FROM players WHERE id = p_player;
  FOR r IN SELECT week, best FROM week_best WHERE player = p_player ORDER BY week FOR UPDATE LOOP
    PERFORM zolvex_uncount_one(r.week, r.best);
  END LOOP;
  DELETE FROM week_best WHERE player = p_player;
  IF EXISTS (SELECT 1 FROM hidden_players WHERE id = p_player) THEN
    RETURN;
  END IF;
  INSERT INTO players(id, best, best_submission)
    SELECT player, score, id FROM submissions WHERE player = p_player AND NOT hidden
      AND replay <> 3 AND (replay = 2 OR NOT zolvex_require())
    ORDER BY score DESC, id LIMIT 1;
  INSERT INTO week_best(week, player, best, best_submission)
    SELECT DISTINCT ON (week) week, player, score, id FROM submissions
    WHERE player = p_player AND NOT hidden AND replay <> 3
      AND (replay = 2 OR NOT zolvex_require()) ORDER BY week, score DESC, id;
  FOR r IN SELECT best FROM players WHERE id = p_player LOOP
    PERFORM zolvex_recount_one(NULL, NULL, r.best);
  END LOOP;
  FOR r IN SELECT week, best FROM week_best WHERE player = p_player ORDER BY week LOOP
    PERFORM zolvex_recount_one(r.week, NULL, r.best);
  END LOOP;
END
$fn$;

-- The counts made afresh from the bests (after a bulk load).
CREATE OR REPLACE FUNCTION zolvex_recount_all() RETURNS void LANGUAGE sql AS $fn$
  DELETE FROM score_counts;
  DELETE FROM score_blocks;
  DELETE FROM week_score_counts;
  DELETE FROM week_score_blocks;
  INSERT INTO score_counts SELECT best, count(*) FROM players GROUP BY best;
  INSERT INTO score_blocks SELECT best >> 10, 0, count(*) FROM players GROUP BY 1;
  INSERT INTO week_score_counts SELECT week, best, count(*) FROM week_best GROUP BY week, best;
  INSERT INTO week_score_blocks SELECT week, best >> 10, 0, count(*) FROM week_best GROUP BY 1, 2;
$fn$;

DROP FUNCTION IF EXISTS zolvex_submit(TEXT, INTEGER, TEXT, BYTEA, BYTEA, BYTEA, BYTEA, INTEGER,
  TEXT, BYTEA, INTEGER, INTEGER, TEXT, BIGINT, BIGINT);
CREATE OR REPLACE FUNCTION zolvex_submit(
  p_player TEXT, p_score INTEGER, p_code TEXT, p_name BYTEA, p_city BYTEA, p_country BYTEA,
  p_email BYTEA, p_age INTEGER, p_sex TEXT, p_comment BYTEA, p_started INTEGER, p_won INTEGER,
  p_address TEXT, p_time BIGINT, p_week BIGINT, p_name_key BYTEA,
  OUT o_accepted BOOLEAN, OUT o_player TEXT, OUT o_new BOOLEAN, OUT o_rank BIGINT,
  OUT o_old_rank BIGINT, OUT o_top INTEGER, OUT o_week_rank BIGINT, OUT o_week_old_rank BIGINT,
  OUT o_week_top INTEGER, OUT o_refused BOOLEAN)
LANGUAGE plpgsql AS $fn$
DECLARE
  v_best INTEGER;
  v_week_best INTEGER;
  v_row BIGINT;
  v_hidden BOOLEAN := false;
  v_known BOOLEAN := false;
BEGIN
  o_accepted := false;
  o_new := false;
  o_refused := EXISTS (SELECT 1 FROM refused_names WHERE name_key = p_name_key);
  IF o_refused THEN
    RETURN;
  END IF;
  IF p_player <> '' THEN
    SELECT best INTO v_best FROM players WHERE id = p_player FOR UPDATE;
    -- A hidden player keeps playing under their identifier, and nobody sees their scores.
    IF v_best IS NULL THEN
      v_hidden := EXISTS (SELECT 1 FROM hidden_players WHERE id = p_player);
      -- Or every score of theirs is hidden, or none is ranked yet.
      v_known := v_hidden OR EXISTS (SELECT 1 FROM submissions WHERE player = p_player);
    END IF;
  END IF;
  IF v_best IS NULL AND NOT v_known THEN
    -- An identifier never given out is replaced, so that nobody can pick one.
    o_player := replace(gen_random_uuid()::text, '-', '');
    o_new := true;
  ELSE
    o_player := p_player;
  END IF;
  INSERT INTO submissions(player, score, score_code, name, city, country, email, age, sex,
                          comment, games_started, games_won, address, time, week)
    VALUES (o_player, p_score, p_code, p_name, p_city, p_country, p_email, p_age, p_sex,
            p_comment, p_started, p_won, p_address, p_time, p_week)
    ON CONFLICT (score_code) DO NOTHING RETURNING id INTO v_row;
  IF v_row IS NULL THEN
    o_player := NULL;
    o_new := false;
    RETURN;
  END IF;
  o_accepted := true;
  SELECT best INTO v_week_best FROM week_best
    WHERE week = p_week AND player = o_player FOR UPDATE;

  -- Others' bests above the score; the player's own earlier best does not count against them.
  o_rank := 1 + zolvex_above(p_score) - CASE WHEN v_best > p_score THEN 1 ELSE 0 END;
  IF v_best IS NOT NULL THEN
    o_old_rank := 1 + zolvex_above(v_best);
  END IF;
  o_top := GREATEST(p_score, (SELECT max(score) FROM score_counts WHERE players > 0));
  o_week_rank := 1 + zolvex_week_above(p_week, p_score)
                 - CASE WHEN v_week_best > p_score THEN 1 ELSE 0 END;
  IF v_week_best IS NOT NULL THEN
    o_week_old_rank := 1 + zolvex_week_above(p_week, v_week_best);
  END IF;
  o_week_top := GREATEST(p_score, (SELECT max(score) FROM week_score_counts
                                   WHERE week = p_week AND players > 0));
  IF v_hidden OR zolvex_require() THEN
    RETURN;  -- stored, counted nowhere (or not before its replay is verified)
  END IF;

  IF v_best IS NULL THEN
    INSERT INTO players(id, best, best_submission) VALUES (o_player, p_score, v_row);
  ELSIF p_score > v_best THEN
    UPDATE players SET best = p_score, best_submission = v_row WHERE id = o_player;
  END IF;
  IF v_best IS NULL OR p_score > v_best THEN
    PERFORM zolvex_recount_one(NULL, v_best, p_score);
  END IF;
  IF v_week_best IS NULL THEN
    INSERT INTO week_best(week, player, best, best_submission)
      VALUES (p_week, o_player, p_score, v_row);
  ELSIF p_score > v_week_best THEN
    UPDATE week_best SET best = p_score, best_submission = v_row
      WHERE week = p_week AND player = o_player;
  END IF;
  IF v_week_best IS NULL OR p_score > v_week_best THEN
    PERFORM zolvex_recount_one(p_week, v_week_best, p_score);
  END IF;
END
$fn$;
)SQL";

// Two servers starting together must not both create the tables.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7291001)";

struct PgError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A deadlock or serialisation failure: the transaction may simply be run again.
struct PgRetry : PgError {
    using PgError::PgError;
};

// The database did not answer by the call's deadline; its connection is given up.
struct PgTimeout : PgError {
    using PgError::PgError;
};

using SteadyClock = std::chrono::steady_clock;
using Deadline = SteadyClock::time_point;

// A connection taken for one call, and when that call must have its answer.
struct Session {
    PGconn* Conn;
    Deadline Until;
};

struct ResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

std::string ErrorOf(PGconn* c, const PGresult* r) {
    std::string e = r ? PQresultErrorMessage(r) : "";
    if (e.empty()) e = PQerrorMessage(c);
    while (!e.empty() && (e.back() == '\n' || e.back() == ' ')) e.pop_back();
    return e.empty() ? std::string("no answer from the database") : e;
}

// A retried transaction cannot have taken effect: deadlocks and serialisation failures.
bool MayRetry(const PGresult* r) {
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    return state && (!std::strcmp(state, "40001") || !std::strcmp(state, "40P01"));
}

// A stopped database still takes connections and bytes into the system's buffers, so no socket
// option notices it: every wait on it is a poll that ends at the call's deadline.
void WaitFor(PGconn* c, bool write, Deadline until) {
    const int fd = PQsocket(c);
    if (fd < 0) throw PgError("no connection to the database");
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now())
                .count();
        if (left <= 0) throw PgTimeout("the database did not answer in time");
        pollfd p{fd, static_cast<short>(POLLIN | (write ? POLLOUT : 0)), 0};
        const int n = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
        if (n > 0) return;
        if (n < 0 && errno != EINTR) throw PgError(std::string("poll: ") + std::strerror(errno));
    }
}

// The answer to what was just sent (the last result, as PQexec gives it), by the deadline. As with
// PQexec, none when the connection failed: the connection's error says why.
Result Await(PGconn* c, Deadline until) {
    for (int f; (f = PQflush(c)) != 0;) {
        if (f < 0) return nullptr;
        WaitFor(c, true, until);
        if (!PQconsumeInput(c)) return nullptr;
    }
    Result last;
    for (;;) {
        while (PQisBusy(c)) {
            WaitFor(c, false, until);
            if (!PQconsumeInput(c)) return nullptr;
        }
        PGresult* r = PQgetResult(c);
        if (!r) break;
        last.reset(r);
    }
    return last;
}

Result Exec(PGconn* c, const char* sql, Deadline until) {
    if (!PQsendQuery(c, sql)) return nullptr;
    return Await(c, until);
}

void ExecOrThrow(PGconn* c, const char* sql, Deadline until) {
    Result r = Exec(c, sql, until);
    const auto st = PQresultStatus(r.get());
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) throw PgError(ErrorOf(c, r.get()));
}

constexpr const char* kSubmit =
    "SELECT * FROM zolvex_submit($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, "
    "$16)";
constexpr const char* kTop =
    "SELECT s.name, s.city, s.country, p.best, s.replay = 2 FROM players p JOIN submissions s "
    "ON s.id = p.best_submission ORDER BY p.best DESC, p.best_submission LIMIT $1";
constexpr const char* kWeekTop =
    "SELECT s.name, s.city, s.country, w.best, s.replay = 2 FROM week_best w JOIN submissions s "
    "ON s.id = w.best_submission WHERE w.week = $2 "
    "ORDER BY w.best DESC, w.best_submission LIMIT $1";
// The first verified score to reach a player's best of the week holds the place.
constexpr const char* kVerifiedTop =
    "SELECT name, city, country, score, true FROM (SELECT DISTINCT ON (player) name, city, "
    "country, score, id FROM submissions s WHERE week = $2 AND replay = 2 AND NOT hidden AND NOT "
    "EXISTS (SELECT 1 FROM hidden_players h WHERE h.id = s.player) ORDER BY player, score DESC, "
    "id) b ORDER BY score DESC, id LIMIT $1";
constexpr const char* kCount = "SELECT count(*) FROM submissions";

PGconn* Connect(const std::string& conninfo, const TPgLimits& limits, Deadline until) {
    // A database that stops answering (a machine gone, a network cut, its processes stopped)
    // shows by the deadline of the call that waits for it: the server answers 503 instead of
    // keeping the player waiting. The database itself ends a statement that runs longer than a
    // call may wait (a lock held elsewhere). The address may set any of these itself; these stand
    // otherwise.
    const std::string seconds = std::to_string(std::max<int64_t>(
        2, std::chrono::duration_cast<std::chrono::seconds>(limits.Wait).count() + 1));
    const std::string options = "-c statement_timeout=" + std::to_string(limits.Wait.count());
    const char* keys[] = {"connect_timeout",
                          "keepalives_idle",
                          "keepalives_interval",
                          "keepalives_count",
                          "tcp_user_timeout",
                          "options",
                          "dbname",
                          nullptr};
    const char* values[] = {seconds.c_str(),  "10",   "3", "3", "10000", options.c_str(),
                            conninfo.c_str(), nullptr};
    PGconn* c = PQconnectStartParams(keys, values, 1);
    if (!c) throw PgError("out of memory");
    try {
        if (PQstatus(c) == CONNECTION_BAD) throw PgError(ErrorOf(c, nullptr));
        for (;;) {
            const PostgresPollingStatusType st = PQconnectPoll(c);
            if (st == PGRES_POLLING_OK) break;
            if (st == PGRES_POLLING_FAILED) throw PgError(ErrorOf(c, nullptr));
            WaitFor(c, st == PGRES_POLLING_WRITING, until);
        }
        // Statements are sent without blocking, so that sending waits by the deadline too.
        if (PQsetnonblocking(c, 1) != 0) throw PgError(ErrorOf(c, nullptr));
    } catch (const std::exception& e) {
        PQfinish(c);
        throw PgError(std::string("cannot reach the database: ") + e.what());
    }
    return c;
}

class PgStore final : public IScoreStore {
public:
    PgStore(std::string conninfo, const TPgLimits& limits)
        : conninfo_(std::move(conninfo)), limits_(limits),
          slots_(static_cast<size_t>(std::max(1, limits.Connections)), nullptr) {
        // Making the tables may wait for another server that makes them at the same moment.
        const auto startWait = std::max(limits_.Wait, std::chrono::milliseconds(60000));
        const Deadline until = SteadyClock::now() + startWait;
        PGconn* c = Connect(conninfo_, limits_, until);
        try {
            ExecOrThrow(c, "BEGIN", until);
            ExecOrThrow(
                c, ("SET LOCAL statement_timeout = " + std::to_string(startWait.count())).c_str(),
                until);
            ExecOrThrow(c, kSchemaLock, until);
            ExecOrThrow(c, "SET LOCAL client_min_messages = warning", until);
            ExecOrThrow(c, kSchema, until);
            ExecOrThrow(c, "COMMIT", until);
            Prepare(c, until);
        } catch (...) {
            PQfinish(c);
            throw;
        }
        slots_[0] = c;
        for (size_t i = 0; i < slots_.size(); ++i) free_.push_back(i);
    }

    ~PgStore() override {
        for (PGconn* c : slots_)
            if (c) PQfinish(c);
    }

    TSubmitOutcome Submit(const TSubmission& s, const std::string& address, int64_t now,
                          int64_t weekStart) override {
        // The database takes texts as UTF-8 and refuses anything else. An identifier with other
        // bytes was never given out, so it counts as none; an address keeps its ASCII.
        const auto ascii = [](const std::string& t) {
            return std::all_of(t.begin(), t.end(),
                               [](char c) { return static_cast<unsigned char>(c) < 128; });
        };
        std::string address7 = address;
        for (char& c : address7)
            if (static_cast<unsigned char>(c) >= 128) c = '?';
        const std::string player = ascii(s.PlayerId) ? s.PlayerId : std::string();
        const std::string score = std::to_string(s.Score), age = std::to_string(s.Age),
                          sex(1, s.Sex), started = std::to_string(s.GamesStarted),
                          won = std::to_string(s.GamesWon), time = std::to_string(now),
                          week = std::to_string(weekStart), nameKey = RefusalKey(s.Name);
        const std::string* params[16] = {
            &player, &score,     &s.ScoreCode, &s.Name, &s.City,   &s.Country, &s.Email, &age,
            &sex,    &s.Comment, &started,     &won,    &address7, &time,      &week,    &nameKey};
        const char* values[16];
        int lengths[16], formats[16];
        for (int i = 0; i < 16; ++i) {
            values[i] = params[i]->c_str();
            lengths[i] = static_cast<int>(params[i]->size());
            // Names and comments are kept as the bytes that were sent, whatever their encoding.
            const bool bytes = i >= 3 && (i <= 6 || i == 9 || i == 15);
            formats[i] = bytes ? 1 : 0;
        }
        const Deadline until = Until();
        for (int attempt = 0;; ++attempt) {
            Lease lease(*this, until);
            Result r = Sent(lease.Conn(), until, "storing a score", [&](PGconn* c) {
                return PQsendQueryPrepared(c, "submit", 16, values, lengths, formats, 0);
            });
            if (PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1 ||
                PQtransactionStatus(lease.Conn()) != PQTRANS_IDLE) {
                const std::string e = ErrorOf(lease.Conn(), r.get());
                lease.CheckHealth();
                if (MayRetry(r.get()) && attempt < 3 && SteadyClock::now() < until) continue;
                throw PgError("storing a score: " + e);
            }
            return Outcome(r.get());
        }
    }

    std::vector<THighscoreRow> Top(size_t count, std::optional<int64_t> weekStart) override {
        return Rows(weekStart ? "week_top" : "top", count, weekStart);
    }

    std::vector<THighscoreRow> VerifiedTop(size_t count, int64_t weekStart) override {
        return Rows("verified_top", count, weekStart);
    }

    std::optional<bool> RequiresReplay() override {
        return Transact([&](const Session& c) -> std::optional<bool> {
            Result r = Run(c, "SELECT require FROM replay_mode LIMIT 1", {});
            if (PQntuples(r.get()) == 0) return std::nullopt;
            return std::string(PQgetvalue(r.get(), 0, 0)) == "t";
        });
    }

    void SetRequiresReplay(bool require) override {
        const std::string flag = require ? "true" : "false";
        Transact([&](const Session& c) {
            Run(c, "LOCK TABLE replay_mode", {});
            // A store ranks every score until told otherwise: the mode it already ranks by is
            // only written down. Making every best again takes a store of millions of players
            // tens of minutes, at the first start of a server that keeps its mode.
            const Result now = Run(c, "SELECT zolvex_require()", {});
            const bool same = std::string(PQgetvalue(now.get(), 0, 0)) == (require ? "t" : "f");
            Run(c, "DELETE FROM replay_mode", {});
            Run(c, "INSERT INTO replay_mode(require) VALUES ($1::boolean)", {{&flag, false}});
            if (same) return true;
            Run(c, "SELECT zolvex_rebest(player) FROM (SELECT DISTINCT player FROM submissions) p",
                {});
            Run(c, "UPDATE moderation SET generation = generation + 1", {});
            return true;
        });
    }

    std::optional<TStoredScore> FindByCode(const std::string& code) override {
        return Transact([&](const Session& c) -> std::optional<TStoredScore> {
            Result r = Run(c,
                           "SELECT id, score, replay, COALESCE(replay_reason, '') FROM "
                           "submissions WHERE score_code = $1",
                           {{&code, false}});
            if (PQntuples(r.get()) == 0) return std::nullopt;
            return TStoredScore{std::stoll(PQgetvalue(r.get(), 0, 0)),
                                std::stoll(PQgetvalue(r.get(), 0, 1)),
                                static_cast<TReplayState>(std::stoi(PQgetvalue(r.get(), 0, 2))),
                                PQgetvalue(r.get(), 0, 3)};
        });
    }

    bool SetReplayState(const std::string& code, TReplayState state,
                        const std::string& reason) override {
        const std::string value = std::to_string(static_cast<int>(state));
        return Transact([&](const Session& c) {
            Result r = Run(c,
                           "UPDATE submissions SET replay = $2::smallint, replay_reason = $3 "
                           "WHERE score_code = $1 RETURNING player",
                           {{&code, false}, {&value, false}, {&reason, false}});
            if (PQntuples(r.get()) == 0) return false;
            const std::string player = PQgetvalue(r.get(), 0, 0);
            Run(c, "SELECT zolvex_rebest($1)", {{&player, false}});
            Run(c, "UPDATE moderation SET generation = generation + 1", {});
            return true;
        });
    }

    std::array<int64_t, 4> ReplayCounts() override {
        return Transact([&](const Session& c) {
            Result r = Run(c, "SELECT replay, count(*) FROM submissions GROUP BY replay", {});
            std::array<int64_t, 4> counts{};
            for (int i = 0; i < PQntuples(r.get()); ++i) {
                const int state = std::stoi(PQgetvalue(r.get(), i, 0));
                if (state >= 0 && state < 4)
                    counts[static_cast<size_t>(state)] = std::stoll(PQgetvalue(r.get(), i, 1));
            }
            return counts;
        });
    }

    std::vector<THighscoreRow> Rows(const char* statement, size_t count,
                                    std::optional<int64_t> weekStart) {
        const std::string n = std::to_string(count);
        const std::string week = weekStart ? std::to_string(*weekStart) : std::string();
        const char* values[2] = {n.c_str(), week.c_str()};
        // Binary, so that the names come back as the bytes that were stored.
        Result r = Read(statement, weekStart ? 2 : 1, values, 1);
        std::vector<THighscoreRow> rows;
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            auto bytes = [&](int col) {
                return std::string(PQgetvalue(r.get(), i, col),
                                   static_cast<size_t>(PQgetlength(r.get(), i, col)));
            };
            uint32_t best = 0;
            std::memcpy(&best, PQgetvalue(r.get(), i, 3), sizeof best);
            rows.push_back({bytes(0), bytes(1), bytes(2), static_cast<int32_t>(ntohl(best)),
                            bytes(4) == "\x01"});
        }
        return rows;
    }

    int64_t SubmissionCount() override {
        Result r = Read("count", 0, nullptr, 0);
        return std::stoll(PQgetvalue(r.get(), 0, 0));
    }

    bool SharedWithOtherServers() const override { return true; }

    std::vector<TModerationRow> FindScores(const std::string& nameOrId, size_t limit) override {
        // An identifier is ASCII; other bytes can only be part of a name.
        const bool ascii = std::all_of(nameOrId.begin(), nameOrId.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 128; });
        const std::string id = ascii ? nameOrId : std::string(), n = std::to_string(limit);
        return Transact([&](const Session& c) {
            Result r = Run(c,
                           "SELECT s.id, s.player, s.score, s.name, s.city, s.time, s.hidden, "
                           "h.id IS NOT NULL, s.replay, COALESCE(s.replay_reason, '')::bytea "
                           "FROM submissions s LEFT JOIN hidden_players h "
                           "ON h.id = s.player WHERE s.player = $1 OR position($2::bytea IN "
                           "s.name) > 0 ORDER BY s.score DESC, s.id LIMIT $3::bigint",
                           {{&id, false}, {&nameOrId, true}, {&n, false}}, 1);
            std::vector<TModerationRow> rows;
            for (int i = 0; i < PQntuples(r.get()); ++i) {
                auto bytes = [&](int col) {
                    return std::string(PQgetvalue(r.get(), i, col),
                                       static_cast<size_t>(PQgetlength(r.get(), i, col)));
                };
                auto number = [&](int col) {
                    int64_t v = 0;
                    for (char b : bytes(col)) v = v * 256 + static_cast<unsigned char>(b);
                    return PQgetlength(r.get(), i, col) == 4
                               ? static_cast<int64_t>(static_cast<int32_t>(v))
                               : v;
                };
                rows.push_back({number(0), bytes(1), number(2), bytes(3), bytes(4), number(5),
                                bytes(6) == "\x01", bytes(7) == "\x01",
                                static_cast<TReplayState>(number(8)), bytes(9)});
            }
            return rows;
        });
    }

    bool SetPlayerHidden(const std::string& player, bool hidden) override {
        return Transact([&](const Session& c) {
            Result known =
                Run(c, "SELECT 1 FROM submissions WHERE player = $1 LIMIT 1", {{&player, false}});
            if (PQntuples(known.get()) == 0) return false;
            Run(c,
                hidden ? "INSERT INTO hidden_players(id) VALUES ($1) ON CONFLICT DO NOTHING"
                       : "DELETE FROM hidden_players WHERE id = $1",
                {{&player, false}});
            Run(c, "SELECT zolvex_rebest($1)", {{&player, false}});
            Run(c, "UPDATE moderation SET generation = generation + 1", {});
            return true;
        });
    }

    bool SetScoreHidden(int64_t submission, bool hidden) override {
        const std::string id = std::to_string(submission), flag = hidden ? "true" : "false";
        return Transact([&](const Session& c) {
            Result r = Run(c,
                           "UPDATE submissions SET hidden = $2::boolean WHERE id = $1::bigint "
                           "RETURNING player",
                           {{&id, false}, {&flag, false}});
            if (PQntuples(r.get()) == 0) return false;
            const std::string player = PQgetvalue(r.get(), 0, 0);
            Run(c, "SELECT zolvex_rebest($1)", {{&player, false}});
            Run(c, "UPDATE moderation SET generation = generation + 1", {});
            return true;
        });
    }

    void SetNameRefused(const std::string& name, bool refused) override {
        const std::string key = RefusalKey(name);
        Transact([&](const Session& c) {
            if (refused)
                Run(c,
                    "INSERT INTO refused_names(name_key, name) VALUES ($1::bytea, $2::bytea) "
                    "ON CONFLICT (name_key) DO UPDATE SET name = excluded.name",
                    {{&key, true}, {&name, true}});
            else
                Run(c, "DELETE FROM refused_names WHERE name_key = $1::bytea", {{&key, true}});
            Run(c, "UPDATE moderation SET generation = generation + 1", {});
            return true;
        });
    }

    std::vector<std::string> RefusedNames() override {
        return Transact([&](const Session& c) {
            Result r = Run(c, "SELECT name FROM refused_names ORDER BY name_key", {}, 1);
            std::vector<std::string> names;
            for (int i = 0; i < PQntuples(r.get()); ++i)
                names.emplace_back(PQgetvalue(r.get(), i, 0),
                                   static_cast<size_t>(PQgetlength(r.get(), i, 0)));
            return names;
        });
    }

    int64_t ModerationGeneration() override {
        return Transact([&](const Session& c) {
            Result r = Run(c, "SELECT generation FROM moderation", {});
            return PQntuples(r.get()) ? std::stoll(PQgetvalue(r.get(), 0, 0)) : int64_t{0};
        });
    }

private:
    // One statement of a moderation transaction; each parameter as text or as bytes.
    static Result Run(const Session& session, const char* sql,
                      std::initializer_list<std::pair<const std::string*, bool>> params,
                      int resultFormat = 0) {
        std::vector<const char*> values;
        std::vector<int> lengths, formats;
        for (const auto& [value, bytes] : params) {
            values.push_back(value->c_str());
            lengths.push_back(static_cast<int>(value->size()));
            formats.push_back(bytes ? 1 : 0);
        }
        PGconn* c = session.Conn;
        Result r = PQsendQueryParams(c, sql, static_cast<int>(values.size()), nullptr,
                                     values.data(), lengths.data(), formats.data(), resultFormat)
                       ? Await(c, session.Until)
                       : nullptr;
        const auto st = PQresultStatus(r.get());
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
            if (MayRetry(r.get())) throw PgRetry(ErrorOf(c, r.get()));
            throw PgError("moderating: " + ErrorOf(c, r.get()));
        }
        return r;
    }

    // A moderation change in one transaction, run again after a deadlock with submissions.
    template <class F>
    std::invoke_result_t<F&, const Session&> Transact(F&& body) {
        const Deadline until = Until();
        for (int attempt = 0;; ++attempt) {
            Lease lease(*this, until);
            const Session session{lease.Conn(), until};
            PGconn* c = session.Conn;
            try {
                ExecOrThrow(c, "BEGIN", until);
                auto result = body(session);
                ExecOrThrow(c, "COMMIT", until);
                return result;
            } catch (const PgRetry&) {
                RollBack(c, until);
                lease.CheckHealth();
                if (attempt < 3 && SteadyClock::now() < until) continue;
                throw;
            } catch (...) {
                RollBack(c, until);
                lease.CheckHealth();
                throw;
            }
        }
    }

    // After a failure; a connection left busy or in its transaction is given up by its lease.
    static void RollBack(PGconn* c, Deadline until) {
        if (PQtransactionStatus(c) != PQTRANS_INTRANS && PQtransactionStatus(c) != PQTRANS_INERROR)
            return;
        try {
            Exec(c, "ROLLBACK", until);
        } catch (const PgError&) {
        }
    }

    // One connection of the pool, taken for one statement.
    class Lease {
    public:
        Lease(PgStore& store, Deadline until) : store_(store) {
            std::unique_lock lock(store_.mutex_);
            // Every connection held by statements the database does not answer: the wait for
            // one ends by the deadline too.
            if (!store_.cv_.wait_until(lock, until, [this] { return !store_.free_.empty(); }))
                throw PgTimeout("no connection to the database free in time");
            slot_ = store_.free_.back();
            store_.free_.pop_back();
            lock.unlock();
            try {
                PGconn*& c = store_.slots_[slot_];
                // A connection the database has closed (a restart) shows it when read; it is
                // replaced before anything is sent on it, so no statement is left in doubt.
                if (c) {
                    PQconsumeInput(c);
                    if (PQstatus(c) != CONNECTION_OK) Drop();
                }
                if (!c) {
                    c = Connect(store_.conninfo_, store_.limits_, until);
                    try {
                        store_.Prepare(c, until);
                    } catch (...) {
                        Drop();
                        throw;
                    }
                }
            } catch (...) {
                Return();
                throw;
            }
        }
        // A connection whose statement was not answered by the deadline is still busy with it,
        // or in its transaction: it is never handed out again.
        ~Lease() {
            if (Conn() && PQtransactionStatus(Conn()) != PQTRANS_IDLE) Drop();
            Return();
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        PGconn* Conn() const { return store_.slots_[slot_]; }
        // After a failed statement: a broken connection is not handed out again.
        void CheckHealth() {
            if (PQstatus(Conn()) != CONNECTION_OK)
                Drop();
            else if (PQtransactionStatus(Conn()) != PQTRANS_IDLE)
                Drop();
        }

    private:
        void Drop() {
            PQfinish(store_.slots_[slot_]);
            store_.slots_[slot_] = nullptr;
        }
        void Return() {
            if (returned_) return;
            returned_ = true;
            {
                std::lock_guard lock(store_.mutex_);
                store_.free_.push_back(slot_);
            }
            store_.cv_.notify_one();
        }
        PgStore& store_;
        size_t slot_ = 0;
        bool returned_ = false;
    };

    void Prepare(PGconn* c, Deadline until) {
        // An answer means the score is on the database's disk, whatever the server's default.
        ExecOrThrow(c, "SET synchronous_commit = on", until);
        const std::pair<const char*, const char*> statements[] = {{"submit", kSubmit},
                                                                  {"top", kTop},
                                                                  {"week_top", kWeekTop},
                                                                  {"verified_top", kVerifiedTop},
                                                                  {"count", kCount}};
        for (const auto& [name, sql] : statements) {
            Result r = PQsendPrepare(c, name, sql, 0, nullptr) ? Await(c, until) : nullptr;
            if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) throw PgError(ErrorOf(c, r.get()));
        }
    }

    Deadline Until() const { return SteadyClock::now() + limits_.Wait; }

    // The answer to what `send` sent on the connection, by the deadline, as Await gives it; past
    // the deadline an error of `what`.
    template <class F>
    static Result Sent(PGconn* c, Deadline until, const char* what, F&& send) {
        try {
            return send(c) ? Await(c, until) : nullptr;
        } catch (const PgTimeout& e) {
            throw PgTimeout(std::string(what) + ": " + e.what());
        }
    }

    // A read: retried once on a fresh connection, since it changes nothing.
    Result Read(const char* statement, int n, const char* const* values, int resultFormat) {
        const Deadline until = Until();
        for (int attempt = 0;; ++attempt) {
            Lease lease(*this, until);
            Result r = Sent(lease.Conn(), until, "reading the scores", [&](PGconn* c) {
                return PQsendQueryPrepared(c, statement, n, values, nullptr, nullptr, resultFormat);
            });
            if (PQresultStatus(r.get()) == PGRES_TUPLES_OK) return r;
            const std::string e = ErrorOf(lease.Conn(), r.get());
            lease.CheckHealth();
            if (attempt < 1 && SteadyClock::now() < until) continue;
            throw PgError("reading the scores: " + e);
        }
    }

    static TSubmitOutcome Outcome(const PGresult* r) {
        auto text = [&](int col) { return std::string(PQgetvalue(r, 0, col)); };
        auto null = [&](int col) { return PQgetisnull(r, 0, col) != 0; };
        auto num = [&](int col) { return std::stoll(PQgetvalue(r, 0, col)); };
        TSubmitOutcome out;
        out.NameRefused = text(9) == "t";
        out.Accepted = text(0) == "t";
        if (!out.Accepted) return out;
        out.PlayerId = text(1);
        out.NewPlayerId = text(2) == "t";
        out.Rank = num(3);
        if (!null(4)) out.OldRank = num(4);
        out.Top = num(5);
        out.WeekRank = num(6);
        if (!null(7)) out.WeekOldRank = num(7);
        out.WeekTop = num(8);
        return out;
    }

    const std::string conninfo_;
    const TPgLimits limits_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<PGconn*> slots_;  // null: not connected yet, or dropped
    std::vector<size_t> free_;
};

}  // namespace

std::unique_ptr<IScoreStore> OpenPgStore(const std::string& conninfo, int connections) {
    TPgLimits limits;
    limits.Connections = connections;
    return OpenPgStore(conninfo, limits);
}

std::unique_ptr<IScoreStore> OpenPgStore(const std::string& conninfo, const TPgLimits& limits) {
    return std::make_unique<PgStore>(conninfo, limits);
}

bool IsPgAddress(const std::string& where) {
    return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::unique_ptr<IScoreStore> OpenScoreStore(const std::string& where) {
    if (IsPgAddress(where)) return OpenPgStore(where);
    return OpenSqliteStore(where);
}

std::unique_ptr<IScoreStore> OpenScoreStoreForModeration(const std::string& where) {
    if (IsPgAddress(where)) return OpenPgStore(where, 1);
    return OpenSqliteStore(where, true);
}

}  // namespace zx::server
