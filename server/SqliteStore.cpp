#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <future>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "server/ScoreStore.h"

namespace zx::server {

int64_t WeekStartOf(int64_t t) {
    constexpr int64_t kDay = 86400, kWeek = 7 * kDay;
    constexpr int64_t kFirstMonday = 4 * kDay;  // 1970-01-05; the epoch was a Thursday
    int64_t into = (t - kFirstMonday) % kWeek;
    if (into < 0) into += kWeek;
    return t - into;
}

std::string RefusalKey(const std::string& name) {
    const size_t first = name.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    std::string key = name.substr(first, name.find_last_not_of(' ') - first + 1);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

namespace {

struct DbClose {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbClose>;

struct SqliteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void Check(sqlite3* db, int rc, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw SqliteError(std::string(what) + ": " + sqlite3_errmsg(db));
}

void Exec(sqlite3* db, const char* sql) {
    Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), sql);
}

Db Open(const std::string& path) {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK)
        throw SqliteError("cannot open " + path + ": " +
                          (raw ? sqlite3_errmsg(raw) : "out of memory"));
    sqlite3_busy_timeout(raw, 10000);
    Exec(raw, "PRAGMA journal_mode=WAL");
    Exec(raw, "PRAGMA synchronous=FULL");
    return db;
}

// A prepared statement, reset after each use.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) : db_(db) {
        Check(db, sqlite3_prepare_v2(db, sql, -1, &st_, nullptr), sql);
    }
    ~Stmt() { sqlite3_finalize(st_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& Bind(int i, int64_t v) {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Stmt& Bind(int i, const std::string& v) {
        sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // Names and comments are kept as the bytes that were sent, whatever their encoding.
    Stmt& BindBytes(int i, const std::string& v) {
        sqlite3_bind_blob(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True while a row is there; finishing resets the statement.
    bool Step() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
        Check(db_, rc, sqlite3_sql(st_));
        return false;
    }
    void Done() {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    int64_t Int(int col) const { return sqlite3_column_int64(st_, col); }
    bool IsNull(int col) const { return sqlite3_column_type(st_, col) == SQLITE_NULL; }
    std::string Text(int col) const {
        const void* p = sqlite3_column_blob(st_, col);
        return p ? std::string(static_cast<const char*>(p),
                               static_cast<size_t>(sqlite3_column_bytes(st_, col)))
                 : std::string();
    }
    // The single value of a one-row query, or nothing when there is no row or it is NULL.
    std::optional<int64_t> One() {
        std::optional<int64_t> v;
        if (Step()) {
            if (!IsNull(0)) v = Int(0);
            Done();
        }
        return v;
    }

private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS submissions(
  id INTEGER PRIMARY KEY, player TEXT NOT NULL, score INTEGER NOT NULL,
  score_code TEXT NOT NULL UNIQUE, name BLOB, city BLOB, country BLOB, email BLOB, age INTEGER,
  sex TEXT, comment BLOB, games_started INTEGER, games_won INTEGER, address TEXT,
  time INTEGER NOT NULL, week INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS players(
  id TEXT PRIMARY KEY, best INTEGER NOT NULL, best_submission INTEGER NOT NULL) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS players_best ON players(best);
CREATE TABLE IF NOT EXISTS week_best(
  week INTEGER NOT NULL, player TEXT NOT NULL, best INTEGER NOT NULL,
  best_submission INTEGER NOT NULL, PRIMARY KEY(week, player)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS week_best_rank ON week_best(week, best);
CREATE TABLE IF NOT EXISTS hidden_players(id TEXT PRIMARY KEY) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS refused_names(name_key BLOB PRIMARY KEY, name BLOB) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS moderation(generation INTEGER NOT NULL);
INSERT INTO moderation SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM moderation);
)";

// Ranks are counted by the database: players per best score, and per block of 1024 points, for
// all time and per week. Scores are small integers some thousands of values apart, so "how many
// players are above s" is a sum over the blocks above s's block and the values above s within
// it: a few hundred rows at most, however many players there are, and nothing held in memory.
// Triggers keep the counts with the bests, so every change of a best (a submission, moderation,
// another process) counts in the same transaction.
constexpr const char* kCountTables = R"(
CREATE TABLE score_counts(score INTEGER PRIMARY KEY, players INTEGER NOT NULL);
CREATE TABLE score_blocks(block INTEGER PRIMARY KEY, players INTEGER NOT NULL);
CREATE TABLE week_score_counts(
  week INTEGER NOT NULL, score INTEGER NOT NULL, players INTEGER NOT NULL,
  PRIMARY KEY(week, score)) WITHOUT ROWID;
CREATE TABLE week_score_blocks(
  week INTEGER NOT NULL, block INTEGER NOT NULL, players INTEGER NOT NULL,
  PRIMARY KEY(week, block)) WITHOUT ROWID;
INSERT INTO score_counts SELECT best, count(*) FROM players GROUP BY best;
INSERT INTO score_blocks SELECT best >> 10, count(*) FROM players GROUP BY 1;
INSERT INTO week_score_counts SELECT week, best, count(*) FROM week_best GROUP BY week, best;
INSERT INTO week_score_blocks SELECT week, best >> 10, count(*) FROM week_best GROUP BY 1, 2;
CREATE TRIGGER players_counted AFTER INSERT ON players BEGIN
  INSERT INTO score_counts VALUES(new.best, 1)
    ON CONFLICT(score) DO UPDATE SET players = players + 1;
  INSERT INTO score_blocks VALUES(new.best >> 10, 1)
    ON CONFLICT(block) DO UPDATE SET players = players + 1;
END;
CREATE TRIGGER players_uncounted AFTER DELETE ON players BEGIN
  UPDATE score_counts SET players = players - 1 WHERE score = old.best;
  UPDATE score_blocks SET players = players - 1 WHERE block = old.best >> 10;
END;
CREATE TRIGGER players_recounted AFTER UPDATE OF best ON players WHEN old.best <> new.best BEGIN
  UPDATE score_counts SET players = players - 1 WHERE score = old.best;
  UPDATE score_blocks SET players = players - 1 WHERE block = old.best >> 10;
  INSERT INTO score_counts VALUES(new.best, 1)
    ON CONFLICT(score) DO UPDATE SET players = players + 1;
  INSERT INTO score_blocks VALUES(new.best >> 10, 1)
    ON CONFLICT(block) DO UPDATE SET players = players + 1;
END;
CREATE TRIGGER week_best_counted AFTER INSERT ON week_best BEGIN
  INSERT INTO week_score_counts VALUES(new.week, new.best, 1)
    ON CONFLICT(week, score) DO UPDATE SET players = players + 1;
  INSERT INTO week_score_blocks VALUES(new.week, new.best >> 10, 1)
    ON CONFLICT(week, block) DO UPDATE SET players = players + 1;
END;
CREATE TRIGGER week_best_uncounted AFTER DELETE ON week_best BEGIN
  UPDATE week_score_counts SET players = players - 1 WHERE week = old.week AND score = old.best;
  UPDATE week_score_blocks SET players = players - 1
    WHERE week = old.week AND block = old.best >> 10;
END;
CREATE TRIGGER week_best_recounted AFTER UPDATE OF best ON week_best
WHEN old.best <> new.best BEGIN
  UPDATE week_score_counts SET players = players - 1 WHERE week = old.week AND score = old.best;
  UPDATE week_score_blocks SET players = players - 1
    WHERE week = old.week AND block = old.best >> 10;
  INSERT INTO week_score_counts VALUES(new.week, new.best, 1)
    ON CONFLICT(week, score) DO UPDATE SET players = players + 1;
  INSERT INTO week_score_blocks VALUES(new.week, new.best >> 10, 1)
    ON CONFLICT(week, block) DO UPDATE SET players = players + 1;
END;
)";

// A store made before the counts gets them from its bests, once.
void AddCountTables(sqlite3* db) {
    Stmt has(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'score_counts'");
    if (!has.One()) Exec(db, kCountTables);
}

// Stores made before moderation lack the column, those made before replays theirs; adding one is
// instant, whatever their size. Every older score is unverified.
void AddColumns(sqlite3* db) {
    const auto has = [db](const char* column) {
        return Stmt(db, "SELECT 1 FROM pragma_table_info('submissions') WHERE name = ?1")
            .Bind(1, std::string(column))
            .One()
            .has_value();
    };
    if (!has("hidden"))
        Exec(db, "ALTER TABLE submissions ADD COLUMN hidden INTEGER NOT NULL DEFAULT 0");
    if (!has("replay")) {
        Exec(db, "ALTER TABLE submissions ADD COLUMN replay INTEGER NOT NULL DEFAULT 0");
        Exec(db, "ALTER TABLE submissions ADD COLUMN replay_reason TEXT");
    }
    // Only hidden scores are in it, so submissions pay nothing for it.
    Exec(db, "CREATE INDEX IF NOT EXISTS submissions_hidden ON submissions(player) WHERE hidden");
    Exec(db, "CREATE INDEX IF NOT EXISTS submissions_player ON submissions(player)");
    Exec(db,
         "CREATE INDEX IF NOT EXISTS submissions_verified ON submissions(week, score) "
         "WHERE replay = 2");
    Exec(db, "CREATE TABLE IF NOT EXISTS replay_mode(require INTEGER NOT NULL)");
}

// Which scores count in ranks: shown ones, never a refused replay, and under the stricter mode only
// verified ones (?2).
constexpr const char* kRanked = "NOT hidden AND replay <> 3 AND (replay = 2 OR NOT ?2)";

// A player's bests (every player's, for a NULL player) made again from the scores that count,
// after one was hidden, restored, verified or refused.
void Rebest(sqlite3* db, const std::optional<std::string>& player, bool requireReplay) {
    const auto bind = [&](Stmt& st) -> Stmt& {
        if (player) st.Bind(1, *player);
        return st.Bind(2, int64_t{requireReplay});
    };
    {
        Stmt del(db, "DELETE FROM players WHERE ?1 IS NULL OR id = ?1");
        if (player) del.Bind(1, *player);
        del.Step();
        Stmt delWeek(db, "DELETE FROM week_best WHERE ?1 IS NULL OR player = ?1");
        if (player) delWeek.Bind(1, *player);
        delWeek.Step();
    }
    // The first score to reach a best holds it, as when the scores came in.
    Stmt all(db,
             (std::string("INSERT INTO players(id, best, best_submission) SELECT player, score, "
                          "id FROM (SELECT player, score, id, row_number() OVER (PARTITION BY "
                          "player ORDER BY score DESC, id) AS n FROM submissions WHERE (?1 IS "
                          "NULL OR player = ?1) AND ") +
              kRanked +
              ") WHERE n = 1 AND NOT EXISTS (SELECT 1 FROM hidden_players h WHERE h.id = "
              "player)")
                 .c_str());
    bind(all).Step();
    Stmt week(db, (std::string("INSERT INTO week_best(week, player, best, best_submission) SELECT "
                               "week, player, score, id FROM (SELECT week, player, score, id, "
                               "row_number() OVER (PARTITION BY week, player ORDER BY score DESC, "
                               "id) AS n FROM submissions WHERE (?1 IS NULL OR player = ?1) AND ") +
                   kRanked +
                   ") WHERE n = 1 AND NOT EXISTS (SELECT 1 FROM hidden_players h WHERE h.id = "
                   "player)")
                      .c_str());
    bind(week).Step();
}

std::optional<bool> ReadRequireMode(sqlite3* db) {
    const auto v = Stmt(db, "SELECT require FROM replay_mode").One();
    return v ? std::optional<bool>(*v != 0) : std::nullopt;
}

// One process writes the scores of a folder: its writer batches every submission into one commit,
// and a second server on the same folder would wait on that one's write lock for each of its own.
// Several servers share a PostgreSQL store instead.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) {
        std::filesystem::create_directories(folder);
        const std::string path = (std::filesystem::path(folder) / "scores.lock").string();
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) throw SqliteError("cannot open " + path);
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd_);
            throw SqliteError("the scores in " + folder +
                              " are in use by another zolvex-server; several servers share a "
                              "PostgreSQL store (--store)");
        }
    }
    ~FolderLock() { ::close(fd_); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_ = -1;
};

// A counter in a small file that every process on the folder maps: raised after each moderation
// commit, so that a server learns of it with one read of memory per highscore page instead of a
// query. Without the file (no right to write it, or no space for it) the counter is not there and
// the database is asked.
class SharedCounter {
public:
    explicit SharedCounter(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            error_ = std::strerror(errno);
            return;
        }
        // A file made by a size alone is a hole: its page would be found missing only when first
        // touched, on a full disk by SIGBUS. Its block is taken now, where a full disk is an
        // error (also for a file an earlier version left as a hole).
        const int rc = posix_fallocate(fd_, 0, 8);
        if (rc != 0) {
            error_ = std::strerror(rc);
            return;
        }
        void* p = mmap(nullptr, 8, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (p == MAP_FAILED)
            error_ = std::strerror(errno);
        else
            value_ = static_cast<int64_t*>(p);
    }
    ~SharedCounter() {
        if (value_) munmap(value_, 8);
        if (fd_ >= 0) ::close(fd_);
    }
    SharedCounter(const SharedCounter&) = delete;
    SharedCounter& operator=(const SharedCounter&) = delete;

    std::optional<int64_t> Load() const {
        if (!value_) return std::nullopt;
        return std::atomic_ref<int64_t>(*value_).load();
    }
    void Raise() {
        if (value_) std::atomic_ref<int64_t>(*value_).fetch_add(1);
    }
    // Why the counter is not there.
    const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    int64_t* value_ = nullptr;
    std::string error_;
};

struct Pending {
    const TSubmission* s;
    const std::string* address;
    int64_t now, week;
    bool hidden;          // the player is hidden: stored, counted nowhere
    bool ranked = false;  // counted in the ranks at once
    std::promise<TSubmitOutcome> done;
};

class SqliteStore final : public IScoreStore {
public:
    SqliteStore(const std::string& folder, bool forModeration) {
        if (forModeration)
            std::filesystem::create_directories(folder);
        else
            lock_.emplace(folder);
        const std::string path = (std::filesystem::path(folder) / "scores.db").string();
        write_ = Open(path);
        Exec(write_.get(), "BEGIN IMMEDIATE");
        try {
            Exec(write_.get(), kSchema);
            AddColumns(write_.get());
            AddCountTables(write_.get());
            Exec(write_.get(), "COMMIT");
        } catch (...) {
            sqlite3_exec(write_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        read_ = Open(path);
        moderate_ = Open(path);
        changed_.emplace((std::filesystem::path(folder) / "scores.moderation").string());
        if (forModeration) return;
        w_ = std::make_unique<Statements>(write_.get());
        generation_ = w_->generation.One().value_or(0);
        require_ = ReadRequireMode(write_.get()).value_or(false);
        // Copying the log back into the database costs a sync of its own; done by the writer it
        // would hold up every answer of the batch behind it, so a thread of its own does it.
        Exec(write_.get(), "PRAGMA wal_autocheckpoint=0");
        // Once emptied, the log file is cut back to this size rather than kept at its largest.
        Exec(write_.get(), "PRAGMA journal_size_limit=4194304");
        walPath_ = path + "-wal";
        checkpoint_ = Open(path);
        writer_ = std::thread([this] { WriterLoop(); });
        checkpointer_ = std::thread([this] { CheckpointLoop(); });
    }

    ~SqliteStore() override {
        {
            std::lock_guard lock(queueMutex_);
            stopping_ = true;
        }
        queueCv_.notify_all();
        stopCv_.notify_all();
        if (!w_) return;  // moderation only: nothing of its own to finish
        writer_.join();
        checkpointer_.join();
        w_.reset();
        // A clean stop leaves the scores in the database file itself.
        sqlite3_wal_checkpoint_v2(write_.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                  nullptr);
    }

    TSubmitOutcome Submit(const TSubmission& s, const std::string& address, int64_t now,
                          int64_t weekStart) override {
        if (!w_) throw std::runtime_error("this store is opened for moderation only");
        Pending p{&s, &address, now, weekStart, false, false, {}};
        auto result = p.done.get_future();
        {
            std::lock_guard lock(queueMutex_);
            if (stopping_) throw std::runtime_error("the store is closing");
            queue_.push_back(&p);
        }
        queueCv_.notify_one();
        return result.get();
    }

    std::vector<TModerationRow> FindScores(const std::string& nameOrId, size_t limit) override {
        std::lock_guard lock(readMutex_);
        Stmt q(
            read_.get(),
            "SELECT s.id, s.player, s.score, s.name, s.city, s.time, s.hidden, h.id IS NOT NULL, "
            "s.replay, s.replay_reason FROM submissions s LEFT JOIN hidden_players h ON h.id = "
            "s.player "
            "WHERE s.player = ?1 OR instr(s.name, ?2) > 0 ORDER BY s.score DESC, s.id LIMIT ?3");
        q.Bind(1, nameOrId).BindBytes(2, nameOrId).Bind(3, static_cast<int64_t>(limit));
        std::vector<TModerationRow> rows;
        while (q.Step())
            rows.push_back({q.Int(0), q.Text(1), q.Int(2), q.Text(3), q.Text(4), q.Int(5),
                            q.Int(6) != 0, q.Int(7) != 0, static_cast<TReplayState>(q.Int(8)),
                            q.Text(9)});
        return rows;
    }

    bool SetPlayerHidden(const std::string& player, bool hidden) override {
        return Moderate([&](sqlite3* db) {
            if (!Stmt(db, "SELECT 1 FROM submissions WHERE player = ?1 LIMIT 1")
                     .Bind(1, player)
                     .One())
                return false;
            Stmt(db, hidden ? "INSERT OR IGNORE INTO hidden_players(id) VALUES(?1)"
                            : "DELETE FROM hidden_players WHERE id = ?1")
                .Bind(1, player)
                .Step();
            Rebest(db, player, RequireIn(db));
            return true;
        });
    }

    bool SetScoreHidden(int64_t submission, bool hidden) override {
        return Moderate([&](sqlite3* db) {
            Stmt find(db, "SELECT player FROM submissions WHERE id = ?1");
            find.Bind(1, submission);
            if (!find.Step()) return false;
            const std::string player = find.Text(0);
            find.Done();
            Stmt(db, "UPDATE submissions SET hidden = ?2 WHERE id = ?1")
                .Bind(1, submission)
                .Bind(2, int64_t{hidden})
                .Step();
            Rebest(db, player, RequireIn(db));
            return true;
        });
    }

    void SetNameRefused(const std::string& name, bool refused) override {
        Moderate([&](sqlite3* db) {
            Stmt(db, refused ? "INSERT OR REPLACE INTO refused_names(name_key, name) VALUES(?1, ?2)"
                             : "DELETE FROM refused_names WHERE name_key = ?1")
                .BindBytes(1, RefusalKey(name))
                .BindBytes(2, name)
                .Step();
            return true;
        });
    }

    std::vector<std::string> RefusedNames() override {
        std::lock_guard lock(readMutex_);
        Stmt q(read_.get(), "SELECT name FROM refused_names ORDER BY name_key");
        std::vector<std::string> names;
        while (q.Step()) names.push_back(q.Text(0));
        return names;
    }

    int64_t ModerationGeneration() override {
        if (const auto shared = changed_->Load()) return *shared;
        std::lock_guard lock(readMutex_);
        return Stmt(read_.get(), "SELECT generation FROM moderation").One().value_or(0);
    }

    std::vector<THighscoreRow> Top(size_t count, std::optional<int64_t> weekStart) override {
        std::lock_guard lock(readMutex_);
        Stmt q(read_.get(),
               weekStart
                   ? "SELECT s.name, s.city, s.country, w.best, s.replay = 2 FROM week_best w JOIN "
                     "submissions s ON s.id = w.best_submission WHERE w.week = ?1 "
                     "ORDER BY w.best DESC, w.best_submission LIMIT ?2"
                   : "SELECT s.name, s.city, s.country, p.best, s.replay = 2 FROM players p JOIN "
                     "submissions s ON s.id = p.best_submission "
                     "ORDER BY p.best DESC, p.best_submission LIMIT ?2");
        if (weekStart) q.Bind(1, *weekStart);
        q.Bind(2, static_cast<int64_t>(count));
        std::vector<THighscoreRow> rows;
        while (q.Step()) rows.push_back({q.Text(0), q.Text(1), q.Text(2), q.Int(3), q.Int(4) != 0});
        return rows;
    }

    std::vector<THighscoreRow> VerifiedTop(size_t count, int64_t weekStart) override {
        std::lock_guard lock(readMutex_);
        // The first verified score to reach a player's best holds the place.
        Stmt q(read_.get(),
               "SELECT name, city, country, score FROM (SELECT name, city, country, score, id, "
               "row_number() OVER (PARTITION BY player ORDER BY score DESC, id) AS n FROM "
               "submissions s WHERE week = ?1 AND replay = 2 AND NOT hidden AND NOT EXISTS "
               "(SELECT 1 FROM hidden_players h WHERE h.id = s.player)) WHERE n = 1 "
               "ORDER BY score DESC, id LIMIT ?2");
        q.Bind(1, weekStart).Bind(2, static_cast<int64_t>(count));
        std::vector<THighscoreRow> rows;
        while (q.Step()) rows.push_back({q.Text(0), q.Text(1), q.Text(2), q.Int(3), true});
        return rows;
    }

    std::optional<bool> RequiresReplay() override {
        std::lock_guard lock(readMutex_);
        return ReadRequireMode(read_.get());
    }

    void SetRequiresReplay(bool require) override {
        Moderate([&](sqlite3* db) {
            // A store ranks every score until told otherwise: the mode it already ranks by is
            // only written down. Making every best again takes a store of millions of players
            // tens of minutes, at the first start of a server that keeps its mode.
            const bool same = RequireIn(db) == require;
            Exec(db, "DELETE FROM replay_mode");
            Stmt(db, "INSERT INTO replay_mode(require) VALUES(?1)")
                .Bind(1, int64_t{require})
                .Step();
            if (same) return false;
            Rebest(db, std::nullopt, require);
            return true;
        });
    }

    std::optional<TStoredScore> FindByCode(const std::string& code) override {
        std::lock_guard lock(readMutex_);
        Stmt q(read_.get(),
               "SELECT id, score, replay, replay_reason FROM submissions WHERE score_code = ?1");
        q.Bind(1, code);
        if (!q.Step()) return std::nullopt;
        TStoredScore s{q.Int(0), q.Int(1), static_cast<TReplayState>(q.Int(2)), q.Text(3)};
        q.Done();
        return s;
    }

    bool SetReplayState(const std::string& code, TReplayState state,
                        const std::string& reason) override {
        return Moderate([&](sqlite3* db) {
            Stmt find(db, "SELECT player FROM submissions WHERE score_code = ?1");
            find.Bind(1, code);
            if (!find.Step()) return false;
            const std::string player = find.Text(0);
            find.Done();
            Stmt(db, "UPDATE submissions SET replay = ?2, replay_reason = ?3 WHERE score_code = ?1")
                .Bind(1, code)
                .Bind(2, static_cast<int64_t>(state))
                .Bind(3, reason)
                .Step();
            Rebest(db, player, RequireIn(db));
            return true;
        });
    }

    std::array<int64_t, 4> ReplayCounts() override {
        std::lock_guard lock(readMutex_);
        Stmt q(read_.get(), "SELECT replay, COUNT(*) FROM submissions GROUP BY replay");
        std::array<int64_t, 4> counts{};
        while (q.Step())
            if (q.Int(0) >= 0 && q.Int(0) < 4) counts[static_cast<size_t>(q.Int(0))] = q.Int(1);
        return counts;
    }

    int64_t SubmissionCount() override {
        std::lock_guard lock(readMutex_);
        Stmt q(read_.get(), "SELECT COUNT(*) FROM submissions");
        return q.One().value_or(0);
    }

private:
    struct Statements {
        explicit Statements(sqlite3* db)
            : begin(db, "BEGIN IMMEDIATE"), commit(db, "COMMIT"), rollback(db, "ROLLBACK"),
              savepoint(db, "SAVEPOINT one"), release(db, "RELEASE one"),
              undo(db, "ROLLBACK TO one"),
              codeSeen(db, "SELECT 1 FROM submissions WHERE score_code = ?1"),
              playerBest(db, "SELECT best FROM players WHERE id = ?1"),
              weekBest(db, "SELECT best FROM week_best WHERE week = ?1 AND player = ?2"),
              insert(db,
                     "INSERT INTO submissions(player, score, score_code, name, city, country, "
                     "email, age, "
                     "sex, comment, games_started, games_won, address, time, week) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)"),
              setPlayer(
                  db,
                  "INSERT INTO players(id, best, best_submission) VALUES(?1, ?2, ?3) "
                  "ON CONFLICT(id) DO UPDATE SET best = excluded.best, "
                  "best_submission = excluded.best_submission WHERE excluded.best > players.best"),
              setWeek(db,
                      "INSERT INTO week_best(week, player, best, best_submission) VALUES(?1, ?2, "
                      "?3, ?4) "
                      "ON CONFLICT(week, player) DO UPDATE SET best = excluded.best, "
                      "best_submission = excluded.best_submission WHERE excluded.best > "
                      "week_best.best"),
              refused(db, "SELECT 1 FROM refused_names WHERE name_key = ?1"),
              playerHidden(db, "SELECT 1 FROM hidden_players WHERE id = ?1"),
              hasScore(db, "SELECT 1 FROM submissions WHERE player = ?1 LIMIT 1"),
              generation(db, "SELECT generation FROM moderation"),
              above(db,
                    "SELECT (SELECT coalesce(sum(players), 0) FROM score_blocks WHERE block > ?1 "
                    ">> 10) + (SELECT coalesce(sum(players), 0) FROM score_counts WHERE score > ?1 "
                    "AND score <= (?1 >> 10 << 10) + 1023)"),
              weekAbove(db,
                        "SELECT (SELECT coalesce(sum(players), 0) FROM week_score_blocks WHERE "
                        "week = ?2 AND block > ?1 >> 10) + (SELECT coalesce(sum(players), 0) "
                        "FROM week_score_counts WHERE week = ?2 AND score > ?1 AND score <= (?1 "
                        ">> 10 << 10) + 1023)"),
              top(db, "SELECT max(best) FROM players"),
              weekTop(db, "SELECT max(best) FROM week_best WHERE week = ?1") {}
        Stmt begin, commit, rollback, savepoint, release, undo, codeSeen, playerBest, weekBest,
            insert, setPlayer, setWeek, refused, playerHidden, hasScore, generation, above,
            weekAbove, top, weekTop;
    };

    std::string NewPlayerId() {
        static constexpr char kHex[] = "0123456789abcdef";
        for (;;) {
            std::string id;
            for (int i = 0; i < 4; ++i) {
                uint32_t v = random_();  // the system's entropy: identifiers must not be guessable
                for (int j = 0; j < 8; ++j, v >>= 4) id += kHex[v & 15];
            }
            if (!w_->playerBest.Bind(1, id).One()) return id;
        }
    }

    TSubmitOutcome Apply(Pending& p) {
        Statements& w = *w_;
        const TSubmission& s = *p.s;
        TSubmitOutcome out;
        if (w.refused.BindBytes(1, RefusalKey(s.Name)).One()) {
            out.NameRefused = true;
            return out;
        }
        if (w.codeSeen.Bind(1, s.ScoreCode).One()) return out;  // not accepted: a replay
        out.Accepted = true;
        std::optional<int64_t> oldBest;
        bool known = false;
        if (!s.PlayerId.empty()) {
            oldBest = w.playerBest.Bind(1, s.PlayerId).One();
            // A hidden player keeps playing under their identifier, and nobody sees their scores.
            if (!oldBest) {
                p.hidden = w.playerHidden.Bind(1, s.PlayerId).One().has_value();
                // Or every score of theirs is hidden, or none is ranked yet.
                known = p.hidden || w.hasScore.Bind(1, s.PlayerId).One().has_value();
            }
        }
        if (oldBest || known) {
            out.PlayerId = s.PlayerId;
        } else {
            // An identifier this server never gave out is replaced, so that nobody can pick one.
            out.PlayerId = NewPlayerId();
            out.NewPlayerId = true;
        }
        const std::string& me = out.PlayerId;
        const auto oldWeekBest = w.weekBest.Bind(1, p.week).Bind(2, me).One();
        // Others' bests above a score; the player's own best is never above itself.
        auto rank = [&](int64_t score, const std::optional<int64_t>& own) {
            return 1 + w.above.Bind(1, score).One().value_or(0) - (own && *own > score ? 1 : 0);
        };
        auto weekRank = [&](int64_t score, const std::optional<int64_t>& own) {
            return 1 + w.weekAbove.Bind(1, score).Bind(2, p.week).One().value_or(0) -
                   (own && *own > score ? 1 : 0);
        };
        if (oldBest) out.OldRank = rank(*oldBest, oldBest);
        if (oldWeekBest) out.WeekOldRank = weekRank(*oldWeekBest, oldWeekBest);
        // Before this score counts: it changes no other player's best.
        out.Rank = rank(s.Score, oldBest);
        out.WeekRank = weekRank(s.Score, oldWeekBest);
        out.Top = std::max<int64_t>(w.top.One().value_or(s.Score), s.Score);
        out.WeekTop = std::max<int64_t>(w.weekTop.Bind(1, p.week).One().value_or(s.Score), s.Score);

        w.insert.Bind(1, me)
            .Bind(2, s.Score)
            .Bind(3, s.ScoreCode)
            .BindBytes(4, s.Name)
            .BindBytes(5, s.City)
            .BindBytes(6, s.Country)
            .BindBytes(7, s.Email)
            .Bind(8, s.Age)
            .Bind(9, std::string(1, s.Sex))
            .BindBytes(10, s.Comment)
            .Bind(11, s.GamesStarted)
            .Bind(12, s.GamesWon)
            .Bind(13, *p.address)
            .Bind(14, p.now)
            .Bind(15, p.week)
            .Step();
        const int64_t row = sqlite3_last_insert_rowid(write_.get());
        // Without a replay yet: ranked only where unverified scores are.
        p.ranked = !p.hidden && !require_;
        if (p.ranked) w.setPlayer.Bind(1, me).Bind(2, s.Score).Bind(3, row).Step();
        if (p.ranked) w.setWeek.Bind(1, p.week).Bind(2, me).Bind(3, s.Score).Bind(4, row).Step();
        return out;
    }

    void CheckpointLoop() {
        std::unique_lock lock(queueMutex_);
        while (!stopping_) {
            stopCv_.wait_for(lock, std::chrono::milliseconds(500));
            if (stopping_) break;
            lock.unlock();
            // Passive: never waits for the writer; what it cannot copy now, it copies next time.
            sqlite3_wal_checkpoint_v2(checkpoint_.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE,
                                      nullptr, nullptr);
            lock.lock();
        }
    }

    void WriterLoop() {
        for (;;) {
            std::vector<Pending*> batch;
            {
                std::unique_lock lock(queueMutex_);
                queueCv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;  // stopping, and everything answered
                while (!queue_.empty() && batch.size() < 1000) {
                    batch.push_back(queue_.front());
                    queue_.pop_front();
                }
            }
            WriteBatch(batch);
            BoundLog();
        }
    }

    // Under submissions without a pause the passive checkpoints never find the log's end: each
    // copies what was written before it, and the log only grows. Past the limit the writer,
    // between two batches, copies all of it and starts the log anew; readers hold it up for a
    // moment at most, and the batch waiting behind pays one sync more.
    void BoundLog() {
        std::error_code ec;
        const auto size = std::filesystem::file_size(walPath_, ec);
        if (ec || size < kWalLimit) return;
        sqlite3_wal_checkpoint_v2(write_.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                  nullptr);
    }

    void WriteBatch(const std::vector<Pending*>& batch) {
        Statements& w = *w_;
        std::vector<std::optional<TSubmitOutcome>> outcomes(batch.size());
        std::vector<std::exception_ptr> errors(batch.size());
        try {
            w.begin.Step();
        } catch (...) {
            for (Pending* p : batch) p->done.set_exception(std::current_exception());
            return;
        }
        try {
            // Moderation from another connection or process may have changed the mode.
            const int64_t generation = w.generation.One().value_or(0);
            if (generation != generation_) {
                require_ = ReadRequireMode(write_.get()).value_or(false);
                generation_ = generation;
            }
        } catch (...) {
            try {
                w.rollback.Step();
            } catch (...) {
            }
            for (Pending* p : batch) p->done.set_exception(std::current_exception());
            return;
        }
        for (size_t i = 0; i < batch.size(); ++i) {
            try {
                w.savepoint.Step();
                try {
                    outcomes[i] = Apply(*batch[i]);
                    w.release.Step();
                } catch (...) {
                    errors[i] = std::current_exception();
                    w.undo.Step();
                    w.release.Step();
                }
            } catch (...) {
                errors[i] = std::current_exception();
            }
        }
        try {
            w.commit.Step();
        } catch (...) {
            const auto failed = std::current_exception();
            try {
                w.rollback.Step();
            } catch (...) {
            }
            for (Pending* p : batch) p->done.set_exception(failed);
            return;
        }
        for (size_t i = 0; i < batch.size(); ++i) {
            if (outcomes[i])
                batch[i]->done.set_value(*outcomes[i]);
            else
                batch[i]->done.set_exception(
                    errors[i] ? errors[i]
                              : std::make_exception_ptr(std::runtime_error("not stored")));
        }
    }

    // One moderation change in a transaction of its own, the generation raised with it.
    template <class F>
    bool Moderate(F&& change) {
        // Without the counter a running server's page would not learn of the change.
        if (!changed_->Load())
            throw SqliteError("cannot write scores.moderation beside the scores (" +
                              changed_->Error() +
                              "); run this as the server's user or as root, with space on "
                              "its disk");
        std::lock_guard lock(moderateMutex_);
        sqlite3* db = moderate_.get();
        Exec(db, "BEGIN IMMEDIATE");
        try {
            const bool done = change(db);
            if (done) Exec(db, "UPDATE moderation SET generation = generation + 1");
            Exec(db, "COMMIT");
            if (done) changed_->Raise();
            return done;
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    static constexpr uintmax_t kWalLimit = 64u << 20;
    std::string walPath_;
    std::optional<FolderLock> lock_;  // first made, last undone; none for moderation only
    Db write_, read_, checkpoint_, moderate_;
    std::mutex moderateMutex_;
    std::optional<SharedCounter> changed_;
    int64_t generation_ = 0;  // of the moderation the mode was read at
    bool require_ = false;    // the writer's: the mode new scores are ranked by
    static bool RequireIn(sqlite3* db) { return ReadRequireMode(db).value_or(false); }
    std::unique_ptr<Statements> w_;
    std::mutex readMutex_;
    std::mutex queueMutex_;
    std::condition_variable queueCv_;  // the writer's alone: one notify must reach it
    std::condition_variable stopCv_;
    std::deque<Pending*> queue_;
    bool stopping_ = false;
    std::random_device random_;
    std::thread writer_, checkpointer_;
};

}  // namespace

const char* ReplayStateName(TReplayState state) {
    switch (state) {
        case TReplayState::Pending: return "pending";
        case TReplayState::Verified: return "verified";
        case TReplayState::Refused: return "refused";
        default: return "unverified";
    }
}

std::unique_ptr<IScoreStore> OpenSqliteStore(const std::string& folder, bool forModeration) {
    return std::make_unique<SqliteStore>(folder, forModeration);
}

}  // namespace zx::server
