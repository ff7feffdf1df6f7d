#include "server/RateLimiter.h"

#include <algorithm>

namespace zx::server {

double TRateLimiter::Refilled(const Bucket& b, Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - b.last).count();
    return std::min(burst_, b.tokens + std::max(0.0, seconds) * perSecond_);
}

bool TRateLimiter::Allow(const std::string& address, Clock::time_point now) {
    if (perSecond_ <= 0) return true;
    std::lock_guard lock(mutex_);
    auto it = buckets_.find(address);
    if (it == buckets_.end()) {
        if (buckets_.size() >= maxAddresses_) {
            std::erase_if(buckets_,
                          [&](const auto& kv) { return Refilled(kv.second, now) >= burst_; });
            // Still full: a flood from very many addresses. Forgetting them all costs less than
            // refusing every newcomer.
            if (buckets_.size() >= maxAddresses_) buckets_.clear();
        }
        it = buckets_.emplace(address, Bucket{burst_, now}).first;
    }
    Bucket& b = it->second;
    b.tokens = Refilled(b, now);
    b.last = now;
    if (b.tokens < 1.0) return false;
    b.tokens -= 1.0;
    return true;
}

size_t TRateLimiter::Tracked() {
    std::lock_guard lock(mutex_);
    return buckets_.size();
}

}  // namespace zx::server
