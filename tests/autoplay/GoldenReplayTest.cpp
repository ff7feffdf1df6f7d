// The golden replay: one recorded game of the good player (golden/game.replay: its seed and the
// input of every tick) with what it gave when it was recorded (golden/expected.txt: the result,
// score and statistics; golden/expected.log: the log without the machine's description). Any
// change of the game's behaviour, meant or not, makes this game play differently and fails here.
//
// A change that is meant (a retuned level, a new rule, another constant) renews the recording
// on purpose, in one command:
//     tools/renew-golden.sh [SEED]
// It records a new game, writes the new expectation beside it (through this test, run with
// ZOLVEX_RENEW_GOLDEN=1) and shows what changed; review the diff and commit it with the change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "testsupport/TestSupport.h"
#include "tools/autoplay/GameDriver.h"

using namespace zx;

namespace {

const std::string kGolden = std::string(ZOLVEX_SOURCE_DIR) + "/tests/autoplay/golden/";

std::string Join(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

std::string ReadSource(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

}  // namespace

TEST(GoldenReplay, TheRecordedGamePlaysAsItDidWhenItWasRecorded) {
    test::ResetProgramDir();
    PrepareGameDir(test::BuiltProgramDir(), test::TempProgramDir(), TMusic::StandIns);
    const TReplay replay = TReplay::Load(kGolden + "game.replay");
    TReplayInput input(replay);
    TPlayOptions options;
    options.Kind = replay.Kind;
    // Drawing changes nothing of a game's course (AutoPlayTest shows it) and costs most of the
    // time, the sanitizer build's above all.
    options.Draw = false;
    const TGameResult r = PlayGame(replay.Seed, input, options);
    const std::string result = ResultFacts(replay.Seed, r);
    // The program directory is a fresh temporary one each run: the log names it "{program}".
    std::vector<std::string> log = test::GameLogLines();
    const std::string dir = test::TempProgramDir();
    for (std::string& line : log)
        for (size_t at; (at = line.find(dir)) != std::string::npos;)
            line.replace(at, dir.size(), "{program}");

    if (const char* renew = std::getenv("ZOLVEX_RENEW_GOLDEN"); renew && *renew == '1') {
        std::ofstream(kGolden + "expected.txt", std::ios::binary) << result;
        std::ofstream(kGolden + "expected.log", std::ios::binary) << Join(log);
        GTEST_SKIP() << "renewed the expectation in " << kGolden;
    }

    EXPECT_TRUE(r.Finished && r.Won) << "the recording is of a won game";
    EXPECT_EQ(result, ReadSource(kGolden + "expected.txt"));
    const std::vector<std::string> expected = SplitLines(ReadSource(kGolden + "expected.log"));
    auto [a, b] = std::mismatch(log.begin(), log.end(), expected.begin(), expected.end());
    EXPECT_TRUE(a == log.end() && b == expected.end())
        << "the log differs first at line " << (a - log.begin() + 1) << ": now \""
        << (a == log.end() ? "(end)" : *a) << "\", recorded \""
        << (b == expected.end() ? "(end)" : *b) << "\"";
}
