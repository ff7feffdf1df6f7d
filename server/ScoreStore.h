#pragma once
// Where published scores are kept. One small interface, so that a store shared by several
// machines can take the place of the local one.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/Submission.h"

namespace zx::server {

struct TSubmitOutcome {
    bool Accepted = false;  // false: this score code was published before
    std::string PlayerId;   // the player's identifier, new or as sent
    bool NewPlayerId = false;
    int64_t Rank = 0;                // the sent score among every player's best
    std::optional<int64_t> OldRank;  // this player's rank before, if they had one
    int64_t Top = 0;                 // the best score of all
    int64_t WeekRank = 0;            // the same within the current week
    std::optional<int64_t> WeekOldRank;
    int64_t WeekTop = 0;
    bool NameRefused = false;  // not stored: the name is on the refused list
};

struct THighscoreRow {
    std::string Name, City, Country;  // as sent
    int64_t Score = 0;
    bool Verified = false;  // the server played its replay and reached this score
};

// What the server knows of a score's replay.
enum class TReplayState : int {
    Unverified = 0,  // none came (or the score is older than replays)
    Pending = 1,     // one came and waits to be played
    Verified = 2,    // played to this very score and code
    Refused = 3,     // played, and it did not show this game: counted nowhere
};
const char* ReplayStateName(TReplayState state);

// A stored score as the replay check needs it.
struct TStoredScore {
    int64_t Submission = 0;
    int64_t Score = 0;
    TReplayState State = TReplayState::Unverified;
    std::string Reason;  // why it was refused
};

// One stored score as moderation lists it.
struct TModerationRow {
    int64_t Submission = 0;  // the score's number, for hiding it alone
    std::string Player;
    int64_t Score = 0;
    std::string Name, City;  // as sent
    int64_t Time = 0;
    bool Hidden = false;        // this score alone
    bool PlayerHidden = false;  // every score of its player
    TReplayState Replay = TReplayState::Unverified;
    std::string ReplayReason;
};

class IScoreStore {
public:
    virtual ~IScoreStore() = default;
    // Stores one submission atomically and returns the ranks it gives. weekStart is the Unix time
    // of the Monday 00:00 UTC that begins the week of `now`. Safe to call from many threads.
    virtual TSubmitOutcome Submit(const TSubmission& s, const std::string& address, int64_t now,
                                  int64_t weekStart) = 0;
    // The best `count` players, each with the name of their best score; with weekStart, within
    // that week only.
    virtual std::vector<THighscoreRow> Top(size_t count, std::optional<int64_t> weekStart) = 0;
    virtual int64_t SubmissionCount() = 0;
    // True when other servers write to the same scores, so that what this one has shown may be
    // out of date without a submission of its own.
    virtual bool SharedWithOtherServers() const { return false; }

    // Moderation. Hidden scores and players stay stored but count in no rank, answer or list;
    // restoring brings them back as they were. Each change takes effect at once, also for a server
    // that runs on the same store in another process, and raises ModerationGeneration().
    // Scores whose player is `nameOrId`, or whose name holds it; the best first.
    virtual std::vector<TModerationRow> FindScores(const std::string& nameOrId, size_t limit) = 0;
    // False when the player or score is not known.
    virtual bool SetPlayerHidden(const std::string& player, bool hidden) = 0;
    virtual bool SetScoreHidden(int64_t submission, bool hidden) = 0;
    // A refused name is compared by RefusalKey: a submission under it is not stored.
    virtual void SetNameRefused(const std::string& name, bool refused) = 0;
    virtual std::vector<std::string> RefusedNames() = 0;
    virtual int64_t ModerationGeneration() = 0;

    // Replays. A store that keeps no verdicts throws from all but RequiresReplay.
    // Whether only verified scores are ranked; nothing while no mode was ever set.
    virtual std::optional<bool> RequiresReplay() { return false; }
    // Sets the mode and ranks every score again under it.
    virtual void SetRequiresReplay(bool) { throw std::runtime_error(kNoReplays); }
    // The score published under this code (as TSubmission::ScoreCode holds it).
    virtual std::optional<TStoredScore> FindByCode(const std::string&) {
        throw std::runtime_error(kNoReplays);
    }
    // Records a verdict (or Pending) on the score with this code and ranks it accordingly, at once
    // (as a moderation: ModerationGeneration() rises). False when no score has the code.
    virtual bool SetReplayState(const std::string&, TReplayState, const std::string&) {
        throw std::runtime_error(kNoReplays);
    }
    // The best verified scores of the week, one per player: the list that decides prizes.
    virtual std::vector<THighscoreRow> VerifiedTop(size_t, int64_t) {
        throw std::runtime_error(kNoReplays);
    }
    // How many scores are in each state, indexed by TReplayState.
    virtual std::array<int64_t, 4> ReplayCounts() { throw std::runtime_error(kNoReplays); }

protected:
    static constexpr const char* kNoReplays = "this store keeps no replay verdicts";
};

// A name as refusals compare it: ASCII letters in lower case, spaces at either end dropped.
std::string RefusalKey(const std::string& name);

// SQLite in the given folder (created if missing), write-ahead log, a full sync per commit.
// Submissions arriving together share one commit, each in a savepoint of its own, and none is
// answered before that commit is on disk.
std::unique_ptr<IScoreStore> OpenSqliteStore(const std::string& folder, bool forModeration = false);

struct TPgLimits {
    int Connections = 16;  // the pool
    // The longest a call waits for the database in all: for a connection of the pool, to
    // connect, for each answer. Past it the call throws, and its connection, if it was waiting
    // for an answer, is closed. A player's client gives up after 10 s.
    std::chrono::milliseconds Wait{5000};
};

// PostgreSQL at a connection string (a postgresql:// address or key=value pairs), through a pool
// of connections. Ranks, identifiers and replays are decided by the database, so any number of
// servers may share it. Throws when the database cannot be reached or its tables cannot be made.
std::unique_ptr<IScoreStore> OpenPgStore(const std::string& conninfo, const TPgLimits& limits);
std::unique_ptr<IScoreStore> OpenPgStore(const std::string& conninfo, int connections = 16);

// A postgresql:// or postgres:// address.
bool IsPgAddress(const std::string& where);
// PostgreSQL for such an address, else SQLite in the folder.
std::unique_ptr<IScoreStore> OpenScoreStore(const std::string& where);
// The same store for moderation beside a running server: for SQLite, no lock on the folder and no
// writer of its own (Submit throws).
std::unique_ptr<IScoreStore> OpenScoreStoreForModeration(const std::string& where);

// Monday 00:00 UTC of the week that holds t (Unix seconds).
int64_t WeekStartOf(int64_t t);

}  // namespace zx::server
