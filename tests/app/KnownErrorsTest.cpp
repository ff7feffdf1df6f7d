#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/InfoUnit.h"
#include "app/KnownErrors.h"
#include "support/Paths.h"
#include "testsupport/TestSupport.h"

namespace {

using namespace zx;

class KnownErrorsTest : public testing::Test {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
    }
    static void WriteLogLines(const std::vector<std::string>& lines) {
        std::string all;
        for (const auto& l : lines) all += l + "\r\n";
        test::WriteText("KVD\\LOG.TXT", all);
    }
};

// --- the list of known errors -----------------------------------------------------------------

TEST_F(KnownErrorsTest, TwoLineRuleFindsItsTextsInConsecutiveLines) {
    WriteLogLines(
        {"Formshow", "InitDDraw: Start", "Cannot find Wave: shot", "InitDDraw: 2", "ERROR"});
    const auto r = FindKnownError("<zn=2><z1=Cannot find Wave><z2=InitDDraw: 2><W=wave.htm>\r\n");
    EXPECT_EQ(r.Page, "wave.htm");
    EXPECT_FALSE(r.KeepLog);
    // The same texts one line apart do not match.
    WriteLogLines({"Cannot find Wave: shot", "x", "InitDDraw: 2"});
    EXPECT_EQ(FindKnownError("<zn=2><z1=Cannot find Wave><z2=InitDDraw: 2><W=wave.htm>").Page, "");
}

// The shipped list: a level with nothing to play finds the level page, as a missing level does.
// A music file that cannot be converted is told in a box and never logged, so no rule looks for it.
TEST_F(KnownErrorsTest, TheShippedListFindsTheLevelPageAndHasNoRuleForMusicFiles) {
    std::ifstream in(std::string(ZOLVEX_SOURCE_DIR) + "/server/pages/errors.txt", std::ios::binary);
    ASSERT_TRUE(in);
    const std::string list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(list.find("MP3 conversion error"), std::string::npos);
    WriteLogLines({"InitLevel: Start",
                   "Exception raised in Threadnotify while glsproc: The level file "
                   "\"/opt/zolvex/KVD/Level1.txt\" holds nothing to play",
                   "ERROR"});
    const TKnownError r = FindKnownError(list);
    EXPECT_EQ(r.Page, "level.htm");
    EXPECT_FALSE(r.KeepLog);
}

TEST_F(KnownErrorsTest, KeepLogFlagIsAnyTagBeginningWithS) {
    WriteLogLines({"Error initiating DirectX: no display", "ERROR"});
    EXPECT_TRUE(FindKnownError("<zn=1><z1=Error initiating DirectX><S><W=dx.htm>").KeepLog);
    EXPECT_TRUE(FindKnownError("<zn=1><z1=Error initiating DirectX><Save><W=dx.htm>").KeepLog);
    EXPECT_FALSE(FindKnownError("<zn=1><z1=Error initiating DirectX><W=dx.htm>").KeepLog);
}

TEST_F(KnownErrorsTest, LastLinesFlagMatchesOnlyAtTheEndOfTheLog) {
    const std::string rule = "<zn=2><zl><z1=glsExit: Start><z2=ERROR><W=exit.htm>";
    WriteLogLines({"glsExit: Start", "ERROR", "more"});
    EXPECT_EQ(FindKnownError(rule).Page, "");
    WriteLogLines({"x", "glsExit: Start", "ERROR"});
    EXPECT_EQ(FindKnownError(rule).Page, "exit.htm");
}

TEST_F(KnownErrorsTest, LineCountOfZeroOrNotANumberNeverMatches) {
    WriteLogLines({"ERROR"});
    EXPECT_EQ(FindKnownError("<zn=0><W=zero.htm>").Page, "");
    EXPECT_EQ(FindKnownError("<zn=two><z1=ERROR><W=word.htm>").Page, "");
    EXPECT_EQ(FindKnownError("<z1=ERROR><W=none.htm>").Page, "");
    // A count far beyond the log is refused at once instead of collecting a billion tags.
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(FindKnownError("<zn=999999999><z1=ERROR><W=huge.htm>").Page, "");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

// A list of long rules against a long log: the lines a rule leaves without text cost nothing,
// so the check ends within the suite's time instead of taking minutes (rules x lines x lines).
TEST_F(KnownErrorsTest, LongRulesAgainstALongLogMatchWhereTheirTextsAre) {
    std::vector<std::string> log;
    for (int i = 0; i < 2976; ++i) log.push_back("InitLevel: " + std::to_string(i));
    log.back() = "ERROR";
    WriteLogLines(log);
    std::string list;
    for (int i = 0; i < 400; ++i) list += "<zn=2976><z1=never there><W=no.htm>\r\n";
    list += "<zn=2975><z1=InitLevel: 1><z2975=ERROR><W=end.htm>\r\n";
    EXPECT_EQ(FindKnownError(list).Page, "end.htm");
    // Lines without text match any line: a rule of them alone matches a log long enough.
    EXPECT_EQ(FindKnownError("<zn=2976><W=any.htm>").Page, "any.htm");
    EXPECT_EQ(FindKnownError("<zn=2977><W=any.htm>").Page, "");
}

TEST_F(KnownErrorsTest, MissingLogMatchesNothing) {
    const auto r = FindKnownError("<zn=1><z1=><W=any.htm>");
    EXPECT_EQ(r.Page, "");
}

TEST_F(KnownErrorsTest, FirstRuleWithAPageWinsAndTagNamesIgnoreCase) {
    WriteLogLines({"Level1.txt: Read beyond end of file", "ERROR"});
    const std::string list =
        "<zn=1><z1=nothing like this><S><W=first.htm>\r\n"
        "<ZN=1><Z1=Read beyond end><w=Level-Damaged.htm>\r\n"
        "<zn=1><z1=ERROR><W=last.htm>\r\n";
    const auto r = FindKnownError(list);
    EXPECT_EQ(r.Page, "Level-Damaged.htm");  // the value keeps its case
    EXPECT_FALSE(r.KeepLog);                 // the flag of the rule that matched, not the first
    // Texts are compared with their case.
    EXPECT_EQ(FindKnownError("<zn=1><z1=read beyond><W=x.htm>").Page, "");
}

// --- the version check ----------------------------------------------------------------------------

TEST(VersionCheckTest, ComparesTheFirstLineAsText) {
    const auto check = [](const std::string& text) { return CheckVersionText(text); };
    EXPECT_FALSE(check("1.10\r\nhttp://d.test/\r\n").Newer);
    EXPECT_TRUE(check("1.11\r\nhttp://d.test/\r\n").Newer);
    EXPECT_TRUE(check("2.0\r\nhttp://d.test/\r\n").Newer);
    EXPECT_FALSE(check("1.1\r\nhttp://d.test/\r\n").Newer);  // a prefix of 1.10 is smaller
    EXPECT_TRUE(check("1.9\r\nhttp://d.test/\r\n").Newer);   // texts, not numbers
    EXPECT_EQ(check("1.11\r\nhttp://d.test/dl\r\nignored\r\n").Address, "http://d.test/dl");
    EXPECT_FALSE(check("2.0\r\n").Valid);
    EXPECT_FALSE(check("").Valid);
}

}  // namespace
