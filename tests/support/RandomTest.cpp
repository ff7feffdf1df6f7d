// The numbers a seed gives are part of every recorded game: the same on every build, whatever
// standard library it links.
#include "support/Random.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

using namespace zx;

namespace {

std::vector<int> Draws(uint32_t seed, const std::vector<int>& ranges) {
    RandSeed(seed);
    std::vector<int> got;
    for (int n : ranges) got.push_back(RandInt(n));
    return got;
}

}  // namespace

TEST(RandInt, ASeedGivesTheSameNumbersOnEveryBuild) {
    // The first draws of the golden game (the background's drifting bobs), and large ranges,
    // where draws are refused and taken again (a quarter of them with 3 << 29).
    EXPECT_EQ(Draws(11, {500, 500, 1000, 500, 500, 1000}),
              (std::vector<int>{90, 34, 19, 332, 231, 194}));
    EXPECT_EQ(Draws(1, {3 << 29, 3 << 29, 3 << 29, 3 << 29, INT_MAX, 1 << 16, 2, 3}),
              (std::vector<int>{671660941, 1160163796, 184223, 206358867, 649254245, 65473, 0, 0}));
    // A range of one still uses a draw.
    EXPECT_EQ(Draws(11, {1, 500}), (std::vector<int>{0, 34}));
}

#if defined(__GLIBCXX__)
// The mapping written out is the one the desktop's standard library has always made: the same
// results and the same number of draws from the generator, for ranges small and large.
TEST(RandInt, DrawsAsTheDesktopsStandardLibraryDoes) {
    std::mt19937 pick(2024);
    std::vector<int> ranges = {1,       2,           3,      7,    9,       12,      25,
                               100,     500,         800,    1000, 1 << 16, 1 << 30, (1 << 30) + 1,
                               3 << 29, INT_MAX - 1, INT_MAX};
    for (int i = 0; i < 40; ++i)
        ranges.push_back(std::uniform_int_distribution<int>(1, INT_MAX)(pick));
    for (uint32_t seed : {0u, 1u, 11u, 5489u, 0xFFFFFFFFu}) {
        std::mt19937 reference(seed);
        RandSeed(seed);
        for (int round = 0; round < 200; ++round)
            for (int n : ranges)
                ASSERT_EQ(RandInt(n), std::uniform_int_distribution<int>(0, n - 1)(reference))
                    << "seed " << seed << ", range " << n << ", round " << round;
        // Both have drawn as often: the next real comes from the same place in the sequence.
        const uint64_t hi = reference() >> 5, lo = reference() >> 6;
        EXPECT_EQ(RandReal(), static_cast<double>((hi << 26) | lo) / 9007199254740992.0);
    }
}
#endif
