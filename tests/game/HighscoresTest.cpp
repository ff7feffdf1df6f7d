#include <gtest/gtest.h>

#include "game/GameRecords.h"
#include "game/Highscores.h"

using namespace zx;

namespace {

class HighscoresTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnvData = TEnvData{};
        SetEnvDefaults();
    }
    static std::vector<int32_t> Scores() {
        std::vector<int32_t> s;
        for (const THighscore& h : EnvData.Highscores) s.push_back(h.Score);
        return s;
    }
};

}  // namespace

TEST_F(HighscoresTest, EqualScoresGoAboveAndEntriesMoveDown) {
    EXPECT_EQ(InsertScore(500), 1);
    EXPECT_EQ(HighscoreAt(1).Name, " ");
    HighscoreAt(1).Name = "first";
    SetScoreCode(1, "code-of-first");
    EXPECT_EQ(InsertScore(500), 1);
    EXPECT_EQ(HighscoreAt(1).Name, " ");
    EXPECT_EQ(HighscoreAt(2).Name, "first");
    EXPECT_EQ(HighscoreAt(2).Score, 500);
    EXPECT_EQ(ScoreCodeAt(1), "code-of-first") << "codes stay with the place";
    EXPECT_EQ(ScoreCodeAt(2), "");
    EXPECT_EQ(HighscoreAt(3).Score, kEmptyScore);
    EXPECT_EQ(InsertScore(-100000), 3) << "even the empty-place score enters an empty place";
}

TEST_F(HighscoresTest, FullListKeepsTheTenHighest) {
    for (int i = 1; i <= 11; ++i) EXPECT_EQ(InsertScore(100 * i), 1);
    EXPECT_EQ(Scores(), (std::vector<int32_t>{1100, 1000, 900, 800, 700, 600, 500, 400, 300, 200}));

    auto before = EnvData.Highscores;
    EXPECT_EQ(InsertScore(199), 0);
    EXPECT_EQ(InsertScore(-5), 0);
    for (int p = 1; p <= 10; ++p) {
        EXPECT_EQ(HighscoreAt(p).Score, before[static_cast<size_t>(p - 1)].Score);
        EXPECT_EQ(HighscoreAt(p).Name, before[static_cast<size_t>(p - 1)].Name);
    }

    HighscoreAt(10).Name = "last";
    EXPECT_EQ(InsertScore(200), 10) << "equal to place 10 replaces it";
    EXPECT_EQ(HighscoreAt(10).Name, " ");
    EXPECT_EQ(HighscoreAt(9).Score, 300);

    EXPECT_EQ(InsertScore(650), 6);
    EXPECT_EQ(Scores(), (std::vector<int32_t>{1100, 1000, 900, 800, 700, 650, 600, 500, 400, 300}));
}

TEST_F(HighscoresTest, CutNamesCountsCharactersNotBytes) {
    HighscoreAt(1).Name = "Abcdefghijkl";
    HighscoreAt(2).Name = "ÄÖÜäöüßéèêab";
    HighscoreAt(3).Name = "kurz";
    HighscoreAt(4).Name = "Zehn-Zeich";
    CutNames();
    EXPECT_EQ(HighscoreAt(1).Name, "Abcdefghij");
    EXPECT_EQ(HighscoreAt(2).Name, "ÄÖÜäöüßéèê");
    EXPECT_EQ(HighscoreAt(3).Name, "kurz");
    EXPECT_EQ(HighscoreAt(4).Name, "Zehn-Zeich");
}

TEST_F(HighscoresTest, StoredTextsKeepToTheirRoom) {
    SetScoreCode(3, std::string(120, '7'));
    EXPECT_EQ(ScoreCodeAt(3).size(), 100u);
    SetLastName("abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(EnvData.LastName, "abcdefghijklmnopqrst");
    std::string twenty;
    for (int i = 0; i < 20; ++i) twenty += "Ü";
    SetHighscoreName(10, twenty + "ÜÜ");
    EXPECT_EQ(HighscoreAt(10).Name, twenty);
    EXPECT_THROW(HighscoreAt(0), std::out_of_range);
    EXPECT_THROW(HighscoreAt(11), std::out_of_range);
    EXPECT_THROW(SetScoreCode(11, "x"), std::out_of_range);
}
