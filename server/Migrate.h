#pragma once
// Moving the scores of one machine's SQLite store into a PostgreSQL store that several servers
// share.
#include <cstdint>
#include <string>

namespace zx::server {

struct TMigrateCounts {
    int64_t Submissions = 0, Players = 0, WeekBests = 0;
};

// Copies every submission, player best and week best from the SQLite store in `folder` into the
// PostgreSQL store at `conninfo`, which must hold no scores yet, in one transaction, and commits it
// only when each table holds as many rows on both sides. Throws on any failure; the target is then
// left as it was.
TMigrateCounts MigrateSqliteToPg(const std::string& folder, const std::string& conninfo);

}  // namespace zx::server
