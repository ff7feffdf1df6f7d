// zolvex-verify as the server runs it: the built program, a replay on its input, the figures or a
// refusal. The pinned answers are the same files for every build (plain, sanitizers, release,
// installed): a game that plays differently in one of them fails here.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "server/ReplayCheck.h"
#include "testsupport/TestSupport.h"

namespace {

const std::string kSource = ZOLVEX_SOURCE_DIR;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spill(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

// The verifier on a file, with more arguments before it.
TRun Verify(const std::string& file, const std::string& args = "") {
    const std::string dir = zx::test::TempProgramDir();
    const std::string cmd = std::string("'") + ZOLVEX_VERIFY_EXE + "' " + args + " '" + file +
                            "' >'" + dir + "/verify.out' 2>'" + dir + "/verify.err'";
    const int rc = std::system(cmd.c_str());
    TRun r;
    r.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc);
    r.Out = Slurp(dir + "/verify.out");
    r.Err = Slurp(dir + "/verify.err");
    return r;
}

std::string Gzip(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Temp(const std::string& name) { return zx::test::TempProgramDir() + "/" + name; }

TEST(VerifyPinned, TheGoldenGameAndRecordedGamesOfEverySkillGiveTheirPinnedFigures) {
    const std::string golden = Verify(kSource + "/tests/autoplay/golden/game.replay").Out;
    EXPECT_EQ(golden, Slurp(kSource + "/tests/verify/pinned/golden.expected"));
    // The golden game's own record, as its test pins it.
    EXPECT_NE(golden.find("finished 1\nwon 1\nscore 34530\nticks 4851\n"), std::string::npos);
    EXPECT_NE(golden.find("spawned 88 42 6 44 19 18\ncaught early 65 39 3 23 7 5\n"),
              std::string::npos);
    // careless_233 is lost in its first seconds with a score below zero.
    for (const char* game :
         {"careless_7", "careless_233", "human_3", "good_21", "human_5", "good_21_settings"}) {
        const std::string base = kSource + "/tests/verify/pinned/" + game;
        const TRun r = Verify(base + ".replay");
        EXPECT_EQ(r.Status, 0) << game << ": " << r.Err;
        EXPECT_EQ(r.Out, Slurp(base + ".expected")) << game;
        // What the server makes of it: the game its own figures describe.
        const auto report = zx::server::ParseVerifierReport(r.Out);
        ASSERT_TRUE(report) << game;
        EXPECT_EQ(zx::server::WhyReplayDiffers(*report, report->Score, "=" + report->Digits),
                  std::nullopt)
            << game;
    }
}

TEST(VerifyInput, GzipAndStdinGiveWhatThePlainFileGives) {
    const std::string text = Slurp(kSource + "/tests/autoplay/golden/game.replay");
    const std::string expected = Slurp(kSource + "/tests/verify/pinned/golden.expected");
    Spill(Temp("g.replay.gz"), Gzip(text));
    EXPECT_EQ(Verify(Temp("g.replay.gz")).Out, expected);
    const std::string cmd = std::string("'") + ZOLVEX_VERIFY_EXE + "' - <'" + kSource +
                            "/tests/autoplay/golden/game.replay' >'" + Temp("stdin.out") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(Slurp(Temp("stdin.out")), expected);
}

TEST(VerifyInput, InputsThatEndBeforeTheGameSayWhereItStood) {
    const std::string text = Slurp(kSource + "/tests/autoplay/golden/game.replay");
    // The first 1500 ticks, with the count they have.
    std::istringstream in(text);
    std::string line, cut;
    for (int i = 0; i < 4 && std::getline(in, line); ++i)
        cut += (i == 3 ? std::string("ticks 1500") : line) + "\n";
    for (int i = 0; i < 1500 && std::getline(in, line); ++i) cut += line + "\n";
    Spill(Temp("cut.replay"), cut);
    const TRun r = Verify(Temp("cut.replay"));
    ASSERT_EQ(r.Status, 0) << r.Err;
    // Play began at the replay's 41st tick; the code's fields as they stood.
    EXPECT_EQ(r.Out,
              "finished 0\nwon 0\nscore 4880\nticks 1459\nseconds 29\ncondom shots 44\n"
              "torpedoes 0\nspawned 32 6 2 7 0 0\ncaught early 29 6 2 5 0 0\n"
              "caught 0 0 0 0 0 0\nescaped 0 0 0 0 0 0\n"
              "digits 2904400322900000606000002020000070500000000000000000000\n");
}

TEST(VerifyRefusals, WhatIsNoPlayableReplayIsRefusedWithStatusTwoAndItsReason) {
    const std::string text = Slurp(kSource + "/tests/autoplay/golden/game.replay");
    struct TCase {
        const char* name;
        std::string bytes;
        std::string args;
        std::string reason;
    };
    std::string random(4096, '\0');
    uint32_t x = 12345;
    for (char& c : random) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
    const std::string zeros(std::string(8 << 20, '0'));
    const std::vector<TCase> cases = {
        {"empty", "", "", "refused: unreadable: replay line 1: not a replay\n"},
        {"random", random, "", "refused: unreadable: replay line 1: not a replay\n"},
        {"truncated", text.substr(0, text.size() / 2), "", "refused: unreadable: replay line "},
        {"huge", text + std::string(2 << 20, '\n'), "",
         "refused: too big: more than 1048576 bytes\n"},
        // A small file that inflates without end.
        {"bomb.gz", Gzip(zeros), "", "refused: too big: more than 1048576 bytes of text\n"},
        {"cutgz", Gzip(text).substr(0, 400), "", "refused: unreadable: the compressed replay"},
        {"longer", "zolvex replay 1\nseed 1\nkind 2\nticks 30001\n", "",
         "refused: too many ticks: the replay has 30001 ticks, more than 30000\n"},
        // A count made to have the reader reserve gigabytes: believed only as far as the text goes.
        {"claims", "zolvex replay 1\nseed 1\nkind 2\nticks 2147483647\n0 0\n",
         "--max-ticks 4294967296", "refused: unreadable: replay line 6: the file ends early\n"},
        {"kind", "zolvex replay 1\nseed 1\nkind 7\nticks 0\n", "",
         "refused: unreadable: replay line 3: no such display kind\n"},
        {"setting", "zolvex replay 1\nseed 1\nkind 2\nbubbles 900\nticks 0\n", "",
         "refused: unreadable: replay line 4: \"900\" is out of range\n"},
    };
    for (const TCase& c : cases) {
        Spill(Temp(c.name), c.bytes);
        const TRun r = Verify(Temp(c.name), c.args);
        EXPECT_EQ(r.Status, 2) << c.name << ": " << r.Err;
        EXPECT_EQ(r.Err.substr(0, c.reason.size()), c.reason) << c.name;
        EXPECT_EQ(r.Out, "") << c.name;
    }
    const TRun usage = Verify(Temp("empty"), "--max-ticks x");
    EXPECT_EQ(usage.Status, 2);
    EXPECT_EQ(usage.Err.substr(0, 16), "refused: usage: ");
}

TEST(VerifyRefusals, AReplayThatNeverStartsAGameEndsWithItsInputsAsUnfinished) {
    // Ten minutes on the title: the most ticks a replay may have, all played, nothing reached.
    std::string text = "zolvex replay 1\nseed 5\nkind 2\nticks 30000\n";
    for (int i = 0; i < 30000; ++i) text += "400 300\n";
    Spill(Temp("title.replay"), text);
    const TRun r = Verify(Temp("title.replay"));
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out.substr(0, 38), "finished 0\nwon 0\nscore 0\nticks 0\nsecon");
}

}  // namespace
