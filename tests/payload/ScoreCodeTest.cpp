#include "payload/ScoreCode.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <random>
#include <set>

namespace zx {
namespace {

RandomIntFn Seeded(uint32_t seed) {
    auto gen = std::make_shared<std::mt19937>(seed);
    return [gen](int n) { return std::uniform_int_distribution<int>(0, n - 1)(*gen); };
}

TScoreStats Sample() {
    TScoreStats s;
    s.Seconds = 93;
    s.CondomShots = 1234;  // three digits are kept: 234
    s.Torpedoes = 10;
    for (size_t k = 1; k <= 6; ++k) {
        s.Spawned[k] = static_cast<int32_t>(40 + k);
        s.CaughtEarly[k] = static_cast<int32_t>(k);
        s.Caught[k] = static_cast<int32_t>(20 + k);
        s.EscapedCount[k] = -static_cast<int32_t>(k);  // absolute values
    }
    s.Spawned[6] = 250;  // modulo 100: 50
    return s;
}

TEST(ScoreCode, DigitsAreTheFieldsInOrderModuloTheirWidth) {
    EXPECT_EQ(ScoreCodeDigits(Sample()),
              "93"
              "234"
              "10"
              "41012101"
              "42022202"
              "43032303"
              "44042404"
              "45052505"
              "50062606");
    EXPECT_EQ(ScoreCodeDigits(TScoreStats{}), std::string(55, '0'));
}

TEST(ScoreCode, EncodedTextDecodesBackToItsFields) {
    const RandomIntFn rand = Seeded(1);
    const std::string a = MakeScoreCode(Sample(), rand);
    const std::string b = MakeScoreCode(Sample(), rand);
    EXPECT_EQ(a.size(), kScoreCodeLength);
    EXPECT_NE(a, b);  // a fresh disguise each time
    for (const std::string& code : {a, b}) {
        auto digits = DecodeScoreCode(code);
        ASSERT_TRUE(digits);
        EXPECT_EQ(*digits, ScoreCodeDigits(Sample()));
        auto s = ScoreStatsFromDigits(*digits);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->Seconds, 93);
        EXPECT_EQ(s->CondomShots, 234);
        EXPECT_EQ(s->Spawned[6], 50);
        EXPECT_EQ(s->EscapedCount[3], 3);
        EXPECT_EQ(s->Caught[4], 24);
    }
    // Only the two tables' characters, nothing a URL or the payload's bars would disturb.
    for (char c : a) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << c;
}

TEST(ScoreCode, TablesAreASetPartitionAndAPermutation) {
    std::set<char> seen;
    size_t total = 0;
    for (std::string_view set : ScoreCodeDigitSets) {
        EXPECT_FALSE(set.empty());
        total += set.size();
        seen.insert(set.begin(), set.end());
    }
    EXPECT_EQ(seen.size(), total);
    std::set<int> positions(ScoreCodePermutation.begin(), ScoreCodePermutation.end());
    EXPECT_EQ(positions.size(), kScoreCodeLength);
    EXPECT_EQ(*positions.rbegin(), 54);
}

// The server reads codes with these very tables: a code written once must read the same forever.
TEST(ScoreCode, AKnownCodeStillReadsTheSame) {
    auto digits = DecodeScoreCode("nYtvZ0ydMlVKESK34MXtdJStZeflLe0rSXSrw7nmtYR1I653KfxuKj7");
    ASSERT_TRUE(digits);
    EXPECT_EQ(*digits, ScoreCodeDigits(Sample()));
}

TEST(ScoreCode, TextsNoCodeCanBeAreRefused) {
    std::string code = MakeScoreCode(Sample(), Seeded(2));
    EXPECT_FALSE(DecodeScoreCode(code.substr(1)));
    EXPECT_FALSE(DecodeScoreCode(code + "a"));
    code[7] = '|';
    EXPECT_FALSE(DecodeScoreCode(code));
    EXPECT_FALSE(ScoreStatsFromDigits(std::string(54, '0') + "x"));
}

}  // namespace
}  // namespace zx
