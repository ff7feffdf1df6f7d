// The program's two options, answered before anything needs a display.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

struct TAnswer {
    std::optional<int> rc;
    std::string out, err;
};

TAnswer Ask(std::vector<const char*> args) {
    args.insert(args.begin(), "zolvex");
    std::ostringstream out, err;
    TAnswer a;
    a.rc = zx::HandleCommandLine(static_cast<int>(args.size()), args.data(), out, err);
    a.out = out.str();
    a.err = err.str();
    return a;
}

TEST(CommandLineTest, HelpAndVersionPrintAndEndWithZeroAnythingElseWithTwo) {
    const TAnswer none = Ask({});
    EXPECT_EQ(none.rc, std::nullopt) << "no argument: the launcher starts";
    const TAnswer version = Ask({"--version"});
    EXPECT_EQ(version.rc, 0);
    EXPECT_EQ(version.out, "zolvex 1.10\n");
    const TAnswer help = Ask({"--help"});
    EXPECT_EQ(help.rc, 0);
    EXPECT_EQ(help.out.rfind("Usage: zolvex [--help | --version]\n", 0), 0u) << help.out;
    EXPECT_TRUE(help.err.empty());
    for (const auto& [args, said] : std::vector<std::pair<std::vector<const char*>, std::string>>{
             {{"--halp"}, "zolvex: unknown option '--halp'\n"},
             {{"-platform"}, "zolvex: unknown option '-platform'\n"},
             {{"level.txt"}, "zolvex: unexpected argument 'level.txt'\n"},
             {{"--help", "--version"}, "zolvex: too many arguments\n"}}) {
        const TAnswer refused = Ask(args);
        EXPECT_EQ(refused.rc, 2) << said;
        EXPECT_EQ(refused.err, said + "Try 'zolvex --help'.\n");
        EXPECT_TRUE(refused.out.empty());
    }
}

// The program itself, without any display: the options need none.
TEST(CommandLineTest, TheProgramAnswersWithoutADisplay) {
    const auto run = [](const std::string& arg) {
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                                    std::string(ZOLVEX_EXE) + "' " + arg + " 2>&1";
        std::string output;
        FILE* p = popen(command.c_str(), "r");
        std::array<char, 256> buf{};
        while (p && fgets(buf.data(), buf.size(), p)) output += buf.data();
        const int status = p ? pclose(p) : -1;
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, output);
    };
    EXPECT_EQ(run("--version"), std::make_pair(0, std::string("zolvex 1.10\n")));
    EXPECT_EQ(run("--help").first, 0);
    const auto refused = run("--nonsense");
    EXPECT_EQ(refused.first, 2);
    EXPECT_EQ(refused.second, "zolvex: unknown option '--nonsense'\nTry 'zolvex --help'.\n");
}

}  // namespace
