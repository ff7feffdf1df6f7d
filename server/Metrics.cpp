#include "server/Metrics.h"

#include <cstdio>

namespace zx::server {
namespace {

std::string Label(std::string_view v) {
    std::string out;
    for (char c : v) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

}  // namespace

std::string_view RouteOf(std::string_view path) {
    if (path == "/score2.php") return "submit";
    if (path == "/replay.php") return "replay";
    if (path == "/zvxinternal/highscore.html") return "highscores";
    if (path == "/zvxinternal/version.txt") return "version";
    if (path == "/zvxinternal/errors.txt") return "errors";
    if (path == "/metrics") return "metrics";
    if (path.starts_with("/zvxinternal") || path == "/game/game_zolvex.html") return "pages";
    return "other";
}

void TMetrics::Request(std::string_view route, int status) {
    size_t r = kRoutes.size() - 1, st = 0;
    for (size_t i = 0; i < kRoutes.size(); ++i)
        if (kRoutes[i] == route) r = i;
    for (size_t i = 1; i < kStatuses.size(); ++i)
        if (kStatuses[i] == status) st = i;
    requests_[r][st].fetch_add(1, std::memory_order_relaxed);
}

void TMetrics::Submission(std::string_view outcome) {
    std::string key(outcome.substr(0, 120));
    for (char& c : key)
        if (c >= '0' && c <= '9') c = 'N';
    std::lock_guard lock(mutex_);
    ++submissions_[key];
}

void TMetrics::Unanswered() { unanswered_.fetch_add(1, std::memory_order_relaxed); }

void TMetrics::Commit(double seconds) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < kCommitBuckets.size(); ++i)
        if (seconds <= kCommitBuckets[i]) ++commitBuckets_[i];
    ++commitCount_;
    commitSum_ += seconds;
}

void TMetrics::Replay(std::string_view outcome, double cpuSeconds) {
    std::lock_guard lock(mutex_);
    ++(outcome == "verified" ? verified_ : refused_);
    verifierSeconds_ += cpuSeconds;
}

std::string TMetrics::Text(std::optional<uint64_t> walBytes,
                           std::optional<uint64_t> pendingReplays) const {
    std::lock_guard lock(mutex_);
    std::string out;
    char line[512];
    out += "# HELP zolvex_requests_total Requests answered, by route and status.\n";
    out += "# TYPE zolvex_requests_total counter\n";
    for (size_t r = 0; r < kRoutes.size(); ++r)
        for (size_t st = 0; st < kStatuses.size(); ++st) {
            const uint64_t n = requests_[r][st].load(std::memory_order_relaxed);
            if (n == 0) continue;
            std::snprintf(
                line, sizeof line, "zolvex_requests_total{route=\"%s\",status=\"%d\"} %llu\n",
                std::string(kRoutes[r]).c_str(), kStatuses[st], static_cast<unsigned long long>(n));
            out += line;
        }
    out +=
        "# HELP zolvex_connections_unanswered_total Connections closed without an answer of "
        "the server's own (the client went away first, or the HTTP library refused the "
        "head).\n";
    out += "# TYPE zolvex_connections_unanswered_total counter\n";
    out += "zolvex_connections_unanswered_total " +
           std::to_string(unanswered_.load(std::memory_order_relaxed)) + "\n";
    out += "# HELP zolvex_submissions_total Scores sent, by outcome (a refusal by its reason).\n";
    out += "# TYPE zolvex_submissions_total counter\n";
    for (const auto& [outcome, n] : submissions_) {
        std::snprintf(line, sizeof line, "zolvex_submissions_total{outcome=\"%s\"} %llu\n",
                      Label(outcome).c_str(), static_cast<unsigned long long>(n));
        out += line;
    }
    out += "# HELP zolvex_commit_seconds Time from handing a score to the store to its answer.\n";
    out += "# TYPE zolvex_commit_seconds histogram\n";
    for (size_t i = 0; i < kCommitBuckets.size(); ++i) {
        std::snprintf(line, sizeof line, "zolvex_commit_seconds_bucket{le=\"%g\"} %llu\n",
                      kCommitBuckets[i], static_cast<unsigned long long>(commitBuckets_[i]));
        out += line;
    }
    std::snprintf(line, sizeof line,
                  "zolvex_commit_seconds_bucket{le=\"+Inf\"} %llu\nzolvex_commit_seconds_sum "
                  "%.6f\nzolvex_commit_seconds_count %llu\n",
                  static_cast<unsigned long long>(commitCount_), commitSum_,
                  static_cast<unsigned long long>(commitCount_));
    out += line;
    if (pendingReplays) {
        std::snprintf(line, sizeof line,
                      "# HELP zolvex_replays_total Replays played, by verdict.\n"
                      "# TYPE zolvex_replays_total counter\n"
                      "zolvex_replays_total{verdict=\"verified\"} %llu\n"
                      "zolvex_replays_total{verdict=\"refused\"} %llu\n",
                      static_cast<unsigned long long>(verified_),
                      static_cast<unsigned long long>(refused_));
        out += line;
        out += "# HELP zolvex_replays_pending Replays waiting or being played.\n";
        out += "# TYPE zolvex_replays_pending gauge\n";
        out += "zolvex_replays_pending " + std::to_string(*pendingReplays) + "\n";
        std::snprintf(line, sizeof line,
                      "# HELP zolvex_verifier_seconds_total Processor time of the verifier.\n"
                      "# TYPE zolvex_verifier_seconds_total counter\n"
                      "zolvex_verifier_seconds_total %.6f\n",
                      verifierSeconds_);
        out += line;
    }
    if (walBytes) {
        out += "# HELP zolvex_wal_bytes Size of the database's write-ahead log.\n";
        out += "# TYPE zolvex_wal_bytes gauge\n";
        out += "zolvex_wal_bytes " + std::to_string(*walBytes) + "\n";
    }
    return out;
}

}  // namespace zx::server
