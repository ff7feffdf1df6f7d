#pragma once
// Counters of the running server, written in the Prometheus text format: requests by route and
// status, submissions by outcome (refusals by their reason), the time a store commit takes and
// the size of the write-ahead log.
#include <array>
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
    std::string Text(std::optional<uint64_t> walBytes) const;

    static constexpr std::array<double, 8> kCommitBuckets = {0.001, 0.0025, 0.005, 0.01,
                                                             0.025, 0.05,   0.1,   0.5};

private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, int>, uint64_t> requests_;
    std::map<std::string, uint64_t> submissions_;
    std::array<uint64_t, kCommitBuckets.size()> commitBuckets_{};
    uint64_t commitCount_ = 0;
    double commitSum_ = 0;
};

// The route name of a request path, for the metrics.
std::string_view RouteOf(std::string_view path);

}  // namespace zx::server
