#pragma once
// Counters of the running server, written in the Prometheus text format: requests by route and
// status, submissions by outcome (refusals by their reason), the time a store commit takes and
// the size of the write-ahead log.
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zx::server {

class TMetrics {
public:
    // route: a short name of the page or the submission path, not the path as sent.
    void Request(std::string_view route, int status);
    // "accepted", "replay", "rate_limited", "store_failed", or a refusal's reason; digits in a
    // reason are folded, so that the number of series stays small.
    void Submission(std::string_view outcome);
    void Commit(double seconds);
    // A connection closed without an answer of the server's own.
    void Unanswered();
    // A replay played: "verified" or "refused", and the verifier's processor time.
    void Replay(std::string_view outcome, double cpuSeconds);
    // pendingReplays: waiting or being played, when the server takes replays.
    std::string Text(std::optional<uint64_t> walBytes,
                     std::optional<uint64_t> pendingReplays = std::nullopt) const;

    static constexpr std::array<double, 8> kCommitBuckets = {0.001, 0.0025, 0.005, 0.01,
                                                             0.025, 0.05,   0.1,   0.5};

private:
    // Requests are counted on every answer: without a lock, in a fixed table of the routes and
    // the statuses the server gives (anything else counts as 0).
    static constexpr std::array<std::string_view, 8> kRoutes = {
        "submit", "replay", "highscores", "version", "errors", "metrics", "pages", "other"};
    static constexpr std::array<int, 14> kStatuses = {0,   200, 202, 206, 304, 400, 404,
                                                      413, 414, 416, 429, 431, 500, 503};
    std::array<std::array<std::atomic<uint64_t>, kStatuses.size()>, kRoutes.size()> requests_{};
    std::atomic<uint64_t> unanswered_{0};
    mutable std::mutex mutex_;
    std::map<std::string, uint64_t> submissions_;
    std::array<uint64_t, kCommitBuckets.size()> commitBuckets_{};
    uint64_t commitCount_ = 0;
    double commitSum_ = 0;
    uint64_t verified_ = 0, refused_ = 0;
    double verifierSeconds_ = 0;
};

// The route name of a request path, for the metrics.
std::string_view RouteOf(std::string_view path);

}  // namespace zx::server
