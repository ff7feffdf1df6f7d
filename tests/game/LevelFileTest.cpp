#include <gtest/gtest.h>

#include <set>

#include "game/GameRecords.h"
#include "game/LevelFile.h"
#include "platform/Errors.h"
#include "support/Paths.h"
#include "support/Random.h"
#include "testsupport/TestSupport.h"

using namespace zx;

namespace {

// Every sixth character: what a scrambled line carries.
std::string Carried(const std::string& scrambled) {
    std::string out;
    for (size_t i = 5; i < scrambled.size(); i += 6) out += scrambled[i];
    return out;
}

}  // namespace

TEST(ScrambleLine, RoundTripsEveryByteAndKeepsStructureVisible) {
    std::string allBytes;
    for (int c = 0; c < 256; ++c) allBytes += static_cast<char>(c);
    const std::vector<std::string> texts = {"",
                                            " ",
                                            "   ",
                                            "=",
                                            ";",
                                            "speed=50;",
                                            "bob a=sperm1; b=virus2",
                                            "AZaz09 Mixed Case 1234567890",
                                            "Gr\xF6\xDF"
                                            "e \xC4\xD6\xDC \x80 \x9F \xFF",
                                            allBytes};
    RandSeed(7);
    for (const std::string& t : texts) {
        std::string s = ScrambleLine(t);
        ASSERT_EQ(s.size(), 6 * t.size());
        EXPECT_EQ(UnscrambleLine(s), t);
        for (size_t i = 0; i < s.size(); ++i) {
            if (i % 6 == 5) continue;
            char f = s[i];
            EXPECT_TRUE((f >= 'A' && f <= 'Y') || (f >= 'a' && f <= 'y') || (f >= '0' && f <= '8'))
                << "filler " << int(f) << " at " << i;
        }
        // Only letters and digits are coded, each staying a letter of its case or a digit.
        std::string carried = Carried(s);
        for (size_t i = 0; i < t.size(); ++i) {
            char p = t[i], c = carried[i];
            if (p >= 'a' && p <= 'z')
                EXPECT_TRUE(c >= 'a' && c <= 'z');
            else if (p >= 'A' && p <= 'Z')
                EXPECT_TRUE(c >= 'A' && c <= 'Z');
            else if (p >= '0' && p <= '9')
                EXPECT_TRUE(c >= '0' && c <= '9');
            else
                EXPECT_EQ(c, p);
        }
    }
}

TEST(ScrambleLine, AlphabetsAreTheShippedOnes) {
    // Shipped level files and players' env.dat were written with these alphabets; a change to
    // them would make every one unreadable.
    EXPECT_EQ(Carried(ScrambleLine("ABCXYZ abcxyz 0123456789")), "QJXUNI qjxuni 7320954816");
    EXPECT_EQ(UnscrambleLine("aaaaaQbbbbbi00000700000;"), "Az0;");
}

TEST(ScrambleLine, OnlyCompleteGroupsCount) {
    EXPECT_EQ(UnscrambleLine("abcde"), "");
    EXPECT_EQ(UnscrambleLine("abcdeQ"), "A");
    EXPECT_EQ(UnscrambleLine("abcdeQabcde"), "A") << "11 characters carry one";
    EXPECT_EQ(UnscrambleLine("abcdeQabcdeJ"), "AB") << "12 characters carry two";
}

TEST(ScrambleLine, SameSeedSameFillers) {
    RandSeed(1234);
    std::string a = ScrambleLine("speed=50");
    RandSeed(1234);
    EXPECT_EQ(ScrambleLine("speed=50"), a);
    EXPECT_NE(ScrambleLine("speed=50"), a) << "the generator moves on";
}

TEST(Random, StaysInRange) {
    RandSeed(99);
    std::set<int> seen;
    for (int i = 0; i < 2000; ++i) {
        int v = RandInt(25);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 25);
        seen.insert(v);
        double r = RandReal();
        ASSERT_GE(r, 0.0);
        ASSERT_LT(r, 1.0);
    }
    EXPECT_EQ(seen.size(), 25u);
    EXPECT_EQ(RandInt(0), 0);
    EXPECT_EQ(RandInt(-5), 0);
    EXPECT_EQ(RandInt(1), 0);

    FixRandomize(5);
    Randomize();
    int a = RandInt(1000000);
    Randomize();
    EXPECT_EQ(RandInt(1000000), a) << "a fixed seed makes Randomize repeatable for replays";
    FixRandomize(std::nullopt);
}

TEST(SplitLines, AcceptsEveryLineEnd) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitLines(""), V{});
    EXPECT_EQ(SplitLines("a\r\nb\r\n"), (V{"a", "b"}));
    EXPECT_EQ(SplitLines("a\nb"), (V{"a", "b"}));
    EXPECT_EQ(SplitLines("a\rb\r\n\r\nc"), (V{"a", "b", "", "c"}));
    EXPECT_EQ(SplitLines("\r\n"), (V{""}));
    EXPECT_EQ(SplitLines("a\n\n"), (V{"a", ""}));
}

class LevelFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        GameData = TGameData{};
        GameData.Level = 1;
    }
};

TEST_F(LevelFileTest, SaveAndLoadTheCurrentLevel) {
    GameData.Level = 3;
    EXPECT_EQ(LevelFileName(), "KVD\\Level3.txt");
    const std::vector<std::string> lines = {"speed=40;", "", "bob a=sperm1; b=virus3", "Größe €"};
    SaveLevel(lines);

    std::string bytes = test::ReadText("KVD/Level3.txt");
    auto fileLines = SplitLines(bytes);
    ASSERT_EQ(fileLines.size(), 4u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    EXPECT_EQ(fileLines[0].size(), 6u * 9);
    EXPECT_EQ(fileLines[1], "");
    EXPECT_EQ(UnscrambleLine(fileLines[3]),
              "Gr\xF6\xDF"
              "e \x80")
        << "one Windows-1252 byte a character";

    std::vector<std::string> loaded = {"old content"};
    LoadLevel(loaded);
    EXPECT_EQ(loaded, lines);

    SaveLevel(lines);
    EXPECT_NE(test::ReadText("KVD/Level3.txt"), bytes) << "fresh fillers on every save";
    LoadLevel(loaded);
    EXPECT_EQ(loaded, lines);
}

TEST_F(LevelFileTest, FindsTheFileWithoutRegardToCaseAndReadsLfLines) {
    test::WriteText("kvd/LEVEL1.TXT", ScrambleLine("speed=50") + "\n" + ScrambleLine("go"));
    std::vector<std::string> lines;
    LoadLevel(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"speed=50", "go"}));
}

TEST_F(LevelFileTest, MissingLevelRaisesAndLeavesTheLines) {
    GameData.Level = 7;
    std::vector<std::string> lines = {"kept"};
    EXPECT_THROW(LoadLevel(lines), EInOutError);
    EXPECT_EQ(lines, std::vector<std::string>{"kept"});
}

TEST_F(LevelFileTest, SavingIntoAMissingFolderRaises) {
    test::ResetProgramDir();
    EXPECT_THROW(SaveLevel({"a"}), EInOutError);
}
