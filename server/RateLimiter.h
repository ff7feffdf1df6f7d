#pragma once
// Per-address token buckets for submissions. Memory stays bounded whatever the number of
// addresses: full buckets carry no information and are dropped when the table grows.
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace zx::server {

// The key a client's address is counted under: an IPv6 address by its /64, an IPv4 one (also
// written IPv4-mapped) as it is.
std::string RateKey(const std::string& address);

class TRateLimiter {
public:
    using Clock = std::chrono::steady_clock;
    // perMinute <= 0 turns the limit off.
    TRateLimiter(double perMinute, double burst, size_t maxAddresses = 100000)
        : perSecond_(perMinute / 60.0), burst_(burst), maxAddresses_(maxAddresses) {}

    bool Allow(const std::string& address, Clock::time_point now = Clock::now());
    // Addresses with a bucket now: the limiter's memory, never above maxAddresses.
    size_t Tracked();

private:
    struct Bucket {
        double tokens;
        Clock::time_point last;
    };
    double Refilled(const Bucket& b, Clock::time_point now) const;

    double perSecond_, burst_;
    size_t maxAddresses_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace zx::server
