#include "support/Random.h"

#include <chrono>
#include <random>

namespace zx {
namespace {

// Only the main thread draws (the loop thread never touches game data), so no lock.
std::mt19937& Generator() {
    static std::mt19937 gen(5489u);
    return gen;
}
std::optional<uint32_t>& FixedSeed() {
    static std::optional<uint32_t> seed;
    return seed;
}

}  // namespace

int RandInt(int n) {
    if (n <= 0) return 0;
    return std::uniform_int_distribution<int>(0, n - 1)(Generator());
}

double RandReal() {
    // 53 random bits give every representable step of [0, 1) and never 1 itself.
    uint64_t hi = Generator()() >> 5;  // 27 bits
    uint64_t lo = Generator()() >> 6;  // 26 bits
    return static_cast<double>((hi << 26) | lo) * (1.0 / 9007199254740992.0);
}

void Randomize() {
    if (FixedSeed()) {
        RandSeed(*FixedSeed());
        return;
    }
    auto now = std::chrono::steady_clock::now().time_since_epoch().count() ^
               std::chrono::system_clock::now().time_since_epoch().count();
    RandSeed(static_cast<uint32_t>(now ^ (now >> 32)));
}

void RandSeed(uint32_t seed) { Generator().seed(seed); }

void FixRandomize(std::optional<uint32_t> seed) { FixedSeed() = seed; }

}  // namespace zx
