// The server on a disk that fills up, a real one: a small tmpfs of the test's own in a process of
// its own. Scores are refused with 503 once nothing more fits, the highscore page is still served,
// also by a server started again on the full disk, and every score that was answered is kept.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "ServerFixtures.h"
#include "payload/ScoreCode.h"
#include "testsupport/TestSupport.h"

namespace zx {
namespace {

namespace fs = std::filesystem;

// A lost game; each number its own statistics, so its own score code.
TPayloadFields Game(int i) {
    TPayloadFields f;
    f.Name = "Full" + std::to_string(i);
    f.Score = 0;
    f.GamesStarted = f.GamesWon = 1;
    TScoreStats st;
    st.Seconds = 20 + i % 70;
    st.Spawned[1] = st.EscapedCount[1] = 5 + i / 70;
    st.Spawned[4] = st.EscapedCount[4] = 1;
    f.ScoreCode = MakeScoreCode(st, test::TestRandom(static_cast<uint32_t>(i)));
    return f;
}

int PageStatus(int port) {
    httplib::Client cli("127.0.0.1", port);
    cli.set_read_timeout(30, 0);
    auto res = cli.Get("/zvxinternal/highscore.html");
    return res ? res->status : 0;
}

[[noreturn]] void FillTheDiskUnderTheServer(const std::string& data) {
    auto fail = [](const std::string& why) {
        std::fprintf(stderr, "full disk: %s\n", why.c_str());
        std::_Exit(1);
    };
    std::string why;
    if (!test::MountPrivateTmpfs(data, 4u << 20, why)) fail(why);
    std::vector<int> accepted;
    int next = 0;
    std::string filler;
    {
        test::ChildServer server(data);
        for (; next < 3; ++next) {
            const test::Answer a = test::Publish(server.Port(), Game(next));
            if (!a.Lines.count("Rang")) fail("refused on an empty disk: " + a.Body);
            accepted.push_back(next);
        }
        filler = test::FillFileSystem(data);
        int status = 200;
        for (; next < 1000 && status == 200; ++next) {
            const test::Answer a = test::Publish(server.Port(), Game(next));
            status = a.Status;
            if (a.Lines.count("Rang"))
                accepted.push_back(next);
            else if (status == 200)
                fail("refused: " + a.Body);
        }
        if (status != 503) fail("the last score got " + std::to_string(status) + ", not 503");
        if (const int page = PageStatus(server.Port()); page != 200)
            fail("the highscore page on the full disk got " + std::to_string(page) +
                 "; the server ended with " + std::to_string(server.Signal(SIGKILL)));
        if (const int end = server.Signal(SIGTERM); end != 0)
            fail("the server ended with " + std::to_string(end));
    }
    // The moderation counter as an earlier version left it: a file of 8 bytes without a block.
    const std::string counter = data + "/scores.moderation";
    fs::remove(counter);
    const int fd = open(counter.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0 || ftruncate(fd, 8) != 0) fail("cannot make the counter a hole");
    close(fd);
    {
        test::ChildServer again(data);
        if (const int page = PageStatus(again.Port()); page != 200)
            fail("after a restart on the full disk the page got " + std::to_string(page) +
                 "; the server ended with " + std::to_string(again.Signal(SIGKILL)));
        fs::remove(filler);
        for (const int i : accepted) {
            test::Answer a = test::Publish(again.Port(), Game(i));
            if (a.Lines["Error"] != "This score was published before")
                fail("score " + std::to_string(i) + " was answered but is not kept: " + a.Body);
        }
        if (!test::Publish(again.Port(), Game(next)).Lines.count("Rang"))
            fail("no score taken once there was room again");
    }
    std::fprintf(stderr, "full disk: %zu scores kept\n", accepted.size());
    std::_Exit(0);
}

TEST(ServerFullDisk, ScoresGet503ThePageIsServedAndEveryAnsweredScoreIsKept) {
    std::string why;
    if (!test::CanMountPrivateTmpfs(why)) GTEST_SKIP() << "no real full disk here: " << why;
    test::TempFolder data;
    EXPECT_EXIT(FillTheDiskUnderTheServer(data.Path()), testing::ExitedWithCode(0),
                "full disk: [0-9]+ scores kept");
}

}  // namespace
}  // namespace zx
