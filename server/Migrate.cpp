#include "server/Migrate.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "server/ScoreStore.h"

namespace zx::server {

namespace {

struct MigrateError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct PgClose {
    void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

std::string Trimmed(std::string e) {
    while (!e.empty() && (e.back() == '\n' || e.back() == ' ')) e.pop_back();
    return e;
}

Result Exec(PGconn* c, const char* sql) {
    Result r(PQexec(c, sql));
    const auto st = PQresultStatus(r.get());
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
        throw MigrateError(std::string(sql) + ": " + Trimmed(PQerrorMessage(c)));
    return r;
}

int64_t PgCount(PGconn* c, const char* sql) {
    Result r = Exec(c, sql);
    return std::stoll(PQgetvalue(r.get(), 0, 0));
}

struct DbClose {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

class SqliteQuery {
public:
    SqliteQuery(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK)
            throw MigrateError(std::string(sql) + ": " + sqlite3_errmsg(db));
    }
    ~SqliteQuery() { sqlite3_finalize(st_); }
    SqliteQuery(const SqliteQuery&) = delete;
    SqliteQuery& operator=(const SqliteQuery&) = delete;
    bool Step() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) throw MigrateError(sqlite3_errmsg(db_));
        return false;
    }
    int Columns() const { return sqlite3_column_count(st_); }
    sqlite3_stmt* Get() const { return st_; }

private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

// One field of COPY's text format. Texts and numbers are escaped; blobs go as bytea in hex, since
// names are the bytes that were sent, whatever their encoding.
void AppendField(std::string& out, sqlite3_stmt* st, int col, bool bytes) {
    const int type = sqlite3_column_type(st, col);
    if (type == SQLITE_NULL) {
        out += "\\N";
        return;
    }
    const auto* p = static_cast<const unsigned char*>(bytes ? sqlite3_column_blob(st, col)
                                                            : sqlite3_column_text(st, col));
    const size_t n = static_cast<size_t>(sqlite3_column_bytes(st, col));
    if (bytes) {
        static constexpr char kHex[] = "0123456789abcdef";
        out += "\\\\x";
        for (size_t i = 0; i < n; ++i) {
            out += kHex[p[i] >> 4];
            out += kHex[p[i] & 15];
        }
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        switch (p[i]) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += static_cast<char>(p[i]);
        }
    }
}

// Copies every row of a SQLite query into a table; `bytesColumns` marks the blob columns.
int64_t CopyRows(sqlite3* src, PGconn* dst, const char* select, const char* copy,
                 const std::string& bytesColumns) {
    SqliteQuery q(src, select);
    if (Result start(PQexec(dst, copy)); PQresultStatus(start.get()) != PGRES_COPY_IN)
        throw MigrateError(std::string(copy) + ": " + Trimmed(PQerrorMessage(dst)));
    std::string buffer;
    int64_t rows = 0;
    auto flush = [&] {
        if (PQputCopyData(dst, buffer.data(), static_cast<int>(buffer.size())) != 1)
            throw MigrateError("copying: " + Trimmed(PQerrorMessage(dst)));
        buffer.clear();
    };
    while (q.Step()) {
        for (int col = 0; col < q.Columns(); ++col) {
            if (col) buffer += '\t';
            AppendField(buffer, q.Get(), col,
                        static_cast<size_t>(col) < bytesColumns.size() && bytesColumns[col] == 'b');
        }
        buffer += '\n';
        ++rows;
        if (buffer.size() > (1 << 16)) flush();
    }
    if (!buffer.empty()) flush();
    if (PQputCopyEnd(dst, nullptr) != 1)
        throw MigrateError("copying: " + Trimmed(PQerrorMessage(dst)));
    Result r(PQgetResult(dst));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
        throw MigrateError(std::string(copy) + ": " + Trimmed(PQerrorMessage(dst)));
    while (Result more{PQgetResult(dst)}) {
    }
    return rows;
}

}  // namespace

TMigrateCounts MigrateSqliteToPg(const std::string& folder, const std::string& conninfo) {
    const std::string path = (std::filesystem::path(folder) / "scores.db").string();
    if (!std::filesystem::is_regular_file(path)) throw MigrateError("no store at " + path);
    // Scores a running server took after the copy would be missing from the target.
    const std::string lockPath = (std::filesystem::path(folder) / "scores.lock").string();
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) throw MigrateError("cannot open " + lockPath);
    const struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{lock};
    if (flock(lock, LOCK_EX | LOCK_NB) != 0)
        throw MigrateError("a zolvex-server is using " + folder + "; stop it first");
    // Opening the stores makes their tables and functions; a source older than moderation gains
    // its (empty) tables.
    OpenSqliteStore(folder, true).reset();
    OpenPgStore(conninfo, 1).reset();

    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, DbClose> src(raw);
    if (rc != SQLITE_OK)
        throw MigrateError("cannot open " + path + ": " +
                           (raw ? sqlite3_errmsg(raw) : "out of memory"));
    sqlite3_busy_timeout(raw, 10000);
    std::unique_ptr<PGconn, PgClose> dst(PQconnectdb(conninfo.c_str()));
    if (PQstatus(dst.get()) != CONNECTION_OK)
        throw MigrateError("cannot reach the database: " + Trimmed(PQerrorMessage(dst.get())));
    PGconn* pg = dst.get();

    // One snapshot of the source, however long the copy takes.
    sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
    auto sqliteCount = [&](const char* sql) {
        SqliteQuery q(raw, sql);
        q.Step();
        return static_cast<int64_t>(sqlite3_column_int64(q.Get(), 0));
    };
    TMigrateCounts source;
    source.Submissions = sqliteCount("SELECT count(*) FROM submissions");
    source.Players = sqliteCount("SELECT count(*) FROM players");
    source.WeekBests = sqliteCount("SELECT count(*) FROM week_best");

    Exec(pg, "BEGIN");
    Exec(pg,
         "LOCK TABLE submissions, players, week_best, score_counts, score_blocks, "
         "week_score_counts, week_score_blocks, hidden_players, refused_names, replay_mode");
    if (const int64_t there = PgCount(pg, "SELECT count(*) FROM submissions"); there != 0)
        throw MigrateError("the target already holds " + std::to_string(there) + " scores");

    TMigrateCounts copied;
    copied.Submissions = CopyRows(
        raw, pg,
        "SELECT id, player, score, score_code, name, city, country, email, age, sex, comment, "
        "games_started, games_won, address, time, week, hidden, replay, "
        "COALESCE(replay_reason, '') FROM submissions ORDER BY id",
        "COPY submissions(id, player, score, score_code, name, city, country, email, age, sex, "
        "comment, games_started, games_won, address, time, week, hidden, replay, replay_reason) "
        "FROM STDIN",
        "....bbbb..b");
    copied.Players = CopyRows(raw, pg, "SELECT id, best, best_submission FROM players",
                              "COPY players(id, best, best_submission) FROM STDIN", "");
    copied.WeekBests =
        CopyRows(raw, pg, "SELECT week, player, best, best_submission FROM week_best",
                 "COPY week_best(week, player, best, best_submission) FROM STDIN", "");
    // Hidden players and refused names stay so; the bests copied already leave them out.
    CopyRows(raw, pg, "SELECT id FROM hidden_players", "COPY hidden_players(id) FROM STDIN", "");
    CopyRows(raw, pg, "SELECT name_key, name FROM refused_names",
             "COPY refused_names(name_key, name) FROM STDIN", "bb");
    // The ranking mode goes with the scores; the bests copied already follow it.
    {
        SqliteQuery q(raw, "SELECT require FROM replay_mode");
        if (q.Step()) {
            Exec(pg, "DELETE FROM replay_mode");
            Exec(pg, sqlite3_column_int64(q.Get(), 0) ? "INSERT INTO replay_mode VALUES (true)"
                                                      : "INSERT INTO replay_mode VALUES (false)");
        }
    }
    Exec(pg, "SELECT zolvex_recount_all()");
    // New submissions are numbered after the copied ones.
    Exec(pg,
         "SELECT setval(pg_get_serial_sequence('submissions', 'id'), COALESCE(max(id), 1), "
         "max(id) IS NOT NULL) FROM submissions");

    TMigrateCounts target;
    target.Submissions = PgCount(pg, "SELECT count(*) FROM submissions");
    target.Players = PgCount(pg, "SELECT count(*) FROM players");
    target.WeekBests = PgCount(pg, "SELECT count(*) FROM week_best");
    const int64_t counted = PgCount(pg, "SELECT COALESCE(sum(players), 0) FROM score_counts");
    auto same = [](const TMigrateCounts& a, const TMigrateCounts& b) {
        return a.Submissions == b.Submissions && a.Players == b.Players &&
               a.WeekBests == b.WeekBests;
    };
    if (!same(source, copied) || !same(source, target) || counted != target.Players)
        throw MigrateError("the counts differ: source " + std::to_string(source.Submissions) + "/" +
                           std::to_string(source.Players) + "/" + std::to_string(source.WeekBests) +
                           ", target " + std::to_string(target.Submissions) + "/" +
                           std::to_string(target.Players) + "/" + std::to_string(target.WeekBests) +
                           " (submissions/players/week bests); nothing was written");
    Exec(pg, "COMMIT");
    return target;
}

}  // namespace zx::server
