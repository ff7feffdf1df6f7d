#include "server/RateLimiter.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

namespace zx::server {

double TRateLimiter::Refilled(const Bucket& b, Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - b.last).count();
    return std::min(burst_, b.tokens + std::max(0.0, seconds) * perSecond_);
}

std::string RateKey(const std::string& address) {
    in6_addr a6{};
    if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), &a6) != 1)
        return address;
    // An IPv4 client reached through an IPv6 socket is that IPv4 address.
    if (IN6_IS_ADDR_V4MAPPED(&a6)) {
        char v4[INET_ADDRSTRLEN];
        if (inet_ntop(AF_INET, &a6.s6_addr[12], v4, sizeof v4)) return v4;
    }
    // One subscriber gets a whole /64 and picks any address in it at will.
    for (size_t i = 8; i < 16; ++i) a6.s6_addr[i] = 0;
    char v6[INET6_ADDRSTRLEN];
    if (!inet_ntop(AF_INET6, &a6, v6, sizeof v6)) return address;
    return std::string(v6) + "/64";
}

bool TRateLimiter::Allow(const std::string& client, Clock::time_point now) {
    if (perSecond_ <= 0) return true;
    const std::string address = RateKey(client);
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
