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
    // Standard libraries map a generator's output to a range each in their own way, and a
    // recorded game must draw the same numbers wherever it is played again. This is the mapping
    // the desktop has always used: the 32-bit draw times n, its upper half the result, drawing
    // again while the lower half falls in the few values that would favour some results.
    const auto range = static_cast<uint32_t>(n);
    uint64_t product = static_cast<uint64_t>(Generator()()) * range;
    auto low = static_cast<uint32_t>(product);
    if (low < range) {
        const uint32_t threshold = (0u - range) % range;
        while (low < threshold) {
            product = static_cast<uint64_t>(Generator()()) * range;
            low = static_cast<uint32_t>(product);
        }
    }
    return static_cast<int>(product >> 32);
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
