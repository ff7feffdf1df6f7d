#include "payload/Payload.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

namespace zx {
namespace {

RandomIntFn Seeded(uint32_t seed) {
    auto gen = std::make_shared<std::mt19937>(seed);
    return [gen](int n) { return std::uniform_int_distribution<int>(0, n - 1)(*gen); };
}

// Draws the given numbers first, then 0 for ever: swaps of a position with itself change nothing.
RandomIntFn Scripted(std::vector<int> first) {
    auto left = std::make_shared<std::vector<int>>(first.rbegin(), first.rend());
    return [left](int) {
        if (left->empty()) return 0;
        const int v = left->back();
        left->pop_back();
        return v;
    };
}

std::string Unescaped(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%') {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

TPayloadFields Player() {
    TPayloadFields f;
    f.Score = 12340;
    f.Name = "Kim";
    f.Country = "CH";
    f.Sex = 'f';
    f.GamesStarted = 7;
    f.GamesWon = 2;
    f.ScoreCode = "nYtvZ0ydMlVKESK34MXtdJStZeflLe0rSXSrw7nmtYR1I653KfxuKj7";
    return f;
}

TEST(PayloadText, EmptyFieldsAreOneBlankEachAndEveryFieldEndsInABar) {
    EXPECT_EQ(BuildPayload(Player()),
              "ZVX| |12340|Kim| |CH| | |f| |7|2|"
              "nYtvZ0ydMlVKESK34MXtdJStZeflLe0rSXSrw7nmtYR1I653KfxuKj7|ZVX|");
    TPayloadFields f = Player();
    f.PlayerId = "12345";
    f.Age = 31;
    f.Sex = ' ';
    EXPECT_EQ(BuildPayload(f).substr(0, 10), "ZVX|12345|");
    EXPECT_NE(BuildPayload(f).find("|31| |"), std::string::npos) << "age, then the blank sex";
    EXPECT_EQ(FillEmptyFields("|||x||"), "| | |x| |");
    f.Sex = '\0';
    EXPECT_NE(BuildPayload(f).find("|31| |"), std::string::npos)
        << "an unknown sex goes as a blank";
}

TEST(PayloadText, ABarInsideATextCannotSplitTheFields) {
    TPayloadFields f = Player();
    f.Name = "a|b";
    f.Comment = "||";
    auto fields = SplitPayload(BuildPayload(f));
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->size(), kPayloadFieldCount);
    EXPECT_EQ((*fields)[kFieldName], "a/b");
    EXPECT_EQ((*fields)[kFieldComment], "//");
}

TEST(PayloadText, SplitGivesTheFourteenFieldsAsSentAndIgnoresThePadding) {
    auto fields = SplitPayload(BuildPayload(Player()) + std::string(20, ' '));
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->size(), kPayloadFieldCount);
    EXPECT_EQ((*fields)[kFieldMagic], "ZVX");
    EXPECT_EQ((*fields)[kFieldPlayerId], " ");
    EXPECT_EQ((*fields)[kFieldScore], "12340");
    EXPECT_EQ((*fields)[kFieldScoreCode], Player().ScoreCode);
    EXPECT_EQ((*fields)[kFieldMagicEnd], "ZVX");
    EXPECT_FALSE(SplitPayload("ZVX|a|ZVX"));
    EXPECT_FALSE(SplitPayload("   "));
}

TEST(PayloadScramble, KnownTranspositionGivesKnownText) {
    const std::string text(64, 'a');
    // No effective swap: the key is the alphabet in order, the data stays where it is.
    EXPECT_EQ(ScramblePayload(text, Scripted({})),
              "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789%2B%2D" + text);
    // One swap of 0 and 1: key "BA...", and bytes 0 and 1 change places.
    std::string two = "xy" + std::string(62, ' ');
    const std::string out = ScramblePayload(two, Scripted({0, 1}));
    EXPECT_EQ(out.substr(0, 2), "BA");
    EXPECT_EQ(Unescaped(out).substr(64, 3), "yx ");
    EXPECT_EQ(out.substr(out.size() - 6), "%20%20");
}

TEST(PayloadScramble, BlocksOf64BytesGiveBlocksOf128) {
    const RandomIntFn rand = Seeded(3);
    EXPECT_EQ(Unescaped(ScramblePayload(std::string(64, 'q'), rand)).size(), 128u);
    EXPECT_EQ(Unescaped(ScramblePayload(std::string(65, 'q'), rand)).size(), 256u);
    EXPECT_EQ(Unescaped(ScramblePayload(std::string(128, 'q'), rand)).size(), 256u);
    EXPECT_EQ(UnscramblePayload(ScramblePayload(std::string(64, 'q'), rand)), std::string(64, 'q'))
        << "no padding when the text fills its block";
    EXPECT_EQ(UnscramblePayload(ScramblePayload(std::string(65, 'q'), rand)),
              std::string(65, 'q') + std::string(63, ' '));
}

TEST(PayloadScramble, RoundTripsEveryByteAndKeysAreTranspositions) {
    std::string text = BuildPayload(Player());
    for (int c = 0; c < 256; ++c) text += static_cast<char>(c);  // bars, blanks, %, high bytes
    const RandomIntFn rand = Seeded(4);
    const std::string a = ScramblePayload(text, rand);
    const std::string b = ScramblePayload(text, rand);
    EXPECT_NE(a, b) << "a fresh key per scrambling";
    for (const std::string& enc : {a, b}) {
        for (char c : enc)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '%') << c;
        std::string plain = UnscramblePayload(enc);
        ASSERT_GE(plain.size(), text.size());
        EXPECT_EQ(plain.substr(0, text.size()), text);
        EXPECT_EQ(plain.find_first_not_of(' ', text.size()), std::string::npos);
        const std::string raw = Unescaped(enc);
        for (size_t block = 0; block < raw.size(); block += 128) {
            std::set<char> key(raw.begin() + static_cast<long>(block),
                               raw.begin() + static_cast<long>(block) + 64);
            EXPECT_EQ(key.size(), 64u);
        }
    }
}

TEST(PayloadScramble, UnscrambleRefusesWhatNoScramblingGives) {
    try {
        UnscramblePayload("");
        ADD_FAILURE();
    } catch (const PayloadError& e) {
        EXPECT_STREQ(e.what(), "String hat die L\xC3\xA4nge 0<>n*128 and <>0");
    }
    try {
        UnscramblePayload(std::string(127, 'A') + "%41%4");  // the broken escape stays as it is
        ADD_FAILURE();
    } catch (const PayloadError& e) {
        EXPECT_STREQ(e.what(), "String hat die L\xC3\xA4nge 130<>n*128 and <>0");
    }
    std::string enc = ScramblePayload("ZVX|", Seeded(5));
    enc.replace(0, 1, "%2A");
    try {
        UnscramblePayload(enc);
        ADD_FAILURE();
    } catch (const PayloadError& e) {
        EXPECT_STREQ(e.what(), "Decodierung von * nicht m\xC3\xB6glich");
    }
}

TEST(PayloadAnswer, NamesIgnoreCaseAndTheFirstLineCounts) {
    const TPayloadAnswer a =
        ParseAnswer("id=12345\r\nRang=3\r\nrang=9\r\nnoise\r\nPlatz1=a=b\r\nwRang=\r\n");
    EXPECT_EQ(a.at("ID"), "12345");
    EXPECT_EQ(a.at("RANG"), "3");
    EXPECT_EQ(a.at("platz1"), "a=b");
    EXPECT_EQ(a.at("wRang"), "");
    EXPECT_EQ(a.count("noise"), 0u);
    EXPECT_EQ(a.count("Alterrang"), 0u);
    EXPECT_EQ(ParseAnswer(FormatAnswer({{"Rang", "1"}, {"Error", "x"}})).at("error"), "x");
    EXPECT_EQ(FormatAnswer({{"Rang", "1"}, {"Platz1", "200"}}), "Rang=1\r\nPlatz1=200\r\n");
}

}  // namespace
}  // namespace zx
