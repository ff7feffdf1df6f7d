// The game runner, run as a program without a display: it refuses to play unseen, says why and
// how to ask for it, and ends with 1 before anything is played or written.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

struct TRun {
    int rc = -1;
    std::string output;
};

TRun RunWithoutDisplay() {
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER '" +
                                std::string(ZOLVEX_GAMERUNNER) +
                                "' --kind 2 --autoplay idle --games 1 2>&1";
    TRun run;
    FILE* p = popen(command.c_str(), "r");
    std::array<char, 256> buf{};
    while (p && fgets(buf.data(), buf.size(), p)) run.output += buf.data();
    const int status = p ? pclose(p) : -1;
    run.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(GameRunnerTest, WithoutADisplayItExitsOneAndSaysHowToPlayUnseen) {
    const TRun run = RunWithoutDisplay();
    EXPECT_EQ(run.rc, 1) << run.output;
    // Its own line (the display libraries may say something before it): either no video driver
    // starts at all, or only one that shows nothing.
    const size_t own = run.output.rfind("gamerunner: ");
    ASSERT_NE(own, std::string::npos) << run.output;
    ASSERT_TRUE(own == 0 || run.output[own - 1] == '\n') << run.output;
    const std::string line = run.output.substr(own);
    const bool noDriver = line.rfind("gamerunner: cannot start the display: ", 0) == 0;
    const bool unseen =
        line.rfind("gamerunner: no display to show the game on (SDL's video driver is \"", 0) ==
            0 &&
        line.find("\"); set DISPLAY, or SDL_VIDEODRIVER=") != std::string::npos &&
        line.ends_with(" to play unseen\n");
    EXPECT_TRUE(noDriver || unseen) << run.output;
}

}  // namespace
