// The server's HTTP side on its own: which part of a page a Range header gets, and the answers a
// client gets for the heads and bodies nothing here expects.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ServerFixtures.h"
#include "server/HttpFront.h"

namespace zx {
namespace {

using server::SingleRange;

TEST(SingleRange, OneRangeGivesItsPartClippedToTheBody) {
    struct Case {
        const char* header;
        size_t offset, length;
    };
    for (const Case& c :
         {Case{"bytes=0-9", 0, 10}, Case{"bytes=90-", 90, 10}, Case{"bytes=-30", 70, 30},
          Case{"bytes=-300", 0, 100},  // more than there is: the whole body
          Case{"bytes=50-5000", 50, 50}}) {
        bool past = true;
        auto r = SingleRange(c.header, 100, &past);
        ASSERT_TRUE(r) << c.header;
        EXPECT_EQ(r->Offset, c.offset) << c.header;
        EXPECT_EQ(r->Length, c.length) << c.header;
        EXPECT_FALSE(past) << c.header;
    }
}

TEST(SingleRange, SeveralMalformedOrOversizedRangesGetTheWholeBody) {
    for (const char* h :
         {"bytes=0-1,5-6", "bytes=0-0,0-0,0-0", "items=0-9", "bytes=9-3", "bytes=-0", "bytes=a-b",
          "bytes=-", "bytes=1-2-3", "bytes=99999999999999999999-"}) {
        bool past = true;
        EXPECT_FALSE(SingleRange(h, 100, &past)) << h;
        EXPECT_FALSE(past) << h;
    }
}

TEST(SingleRange, ARangeWhollyPastTheEndIsUnsatisfiable) {
    bool past = false;
    EXPECT_FALSE(SingleRange("bytes=100-200", 100, &past));
    EXPECT_TRUE(past);
    past = false;
    EXPECT_FALSE(SingleRange("bytes=-5", 0, &past));
    EXPECT_TRUE(past);
}

using test::Exchange;

TEST(ServerHeads, OversizedHeadsAndTargetsAreRefusedAndTheConnectionClosed) {
    test::TempFolder data;
    test::InProcessServer server(data.Path());
    std::string lines;
    for (int i = 0; i < 150; ++i) lines += "X-Line-" + std::to_string(i) + ": 1\r\n";
    bool closed = false;
    std::string got = Exchange(
        server.Port(), "GET /zvxinternal HTTP/1.1\r\nHost: x\r\n" + lines + "\r\n", &closed);
    EXPECT_EQ(got.substr(0, 12), "HTTP/1.1 431") << got;
    EXPECT_TRUE(closed);
    // A head larger than a connection's memory for it.
    got = Exchange(
        server.Port(),
        "GET /zvxinternal HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(40000, 'a') + "\r\n\r\n",
        &closed);
    EXPECT_EQ(got.substr(0, 10), "HTTP/1.1 4") << got.substr(0, 40);
    EXPECT_TRUE(closed);
    got = Exchange(server.Port(),
                   "GET /score2.php?cs=" + std::string(9000, 'A') + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(got.substr(0, 12), "HTTP/1.1 414") << got.substr(0, 40);
    // And the server goes on.
    got = Exchange(server.Port(),
                   "GET /zvxinternal HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(got.substr(0, 12), "HTTP/1.1 200");
}

TEST(ServerHeads, ARequestWithABodyIsAnsweredWithoutReadingItAndClosed) {
    test::TempFolder data;
    test::InProcessServer server(data.Path());
    bool closed = false;
    const std::string got = Exchange(
        server.Port(), "POST /score2.php HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\nabc",
        &closed);
    EXPECT_EQ(got.substr(0, 12), "HTTP/1.1 404") << got;
    EXPECT_NE(got.find("Error=404"), std::string::npos);
    EXPECT_TRUE(closed) << "the rest of the body is never waited for";
}

TEST(ServerHeads, AKeptAliveConnectionServesPagesAndScoresOneAfterAnother) {
    test::TempFolder data;
    test::InProcessServer server(data.Path());
    std::string two;
    for (const char* path : {"/zvxinternal/highscore.html", "/score2.php?cs=x", "/zvxinternal"})
        two += std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
    two += "GET /zvxinternal/version.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    bool closed = false;
    const std::string got = Exchange(server.Port(), two, &closed);
    size_t answers = 0;
    for (size_t at = got.find("HTTP/1.1 200"); at != std::string::npos;
         at = got.find("HTTP/1.1 200", at + 1))
        ++answers;
    EXPECT_EQ(answers, 4u) << got;
    EXPECT_TRUE(closed);
}

// A link in the pages folder is a page under its own name only when it ends inside the folder; a
// target with ".." steps, sent as is, names nothing.
TEST(ServerPages, LinksLeavingTheFolderAndDotDotStepsServeNothing) {
    namespace fs = std::filesystem;
    test::TempFolder data, pages, outside;
    fs::copy(ZOLVEX_SERVER_PAGES, pages.Path(), fs::copy_options::recursive);
    {
        std::ofstream secret(outside.Path() + "/secret.txt");
        secret << "SECRET\n";
    }
    fs::create_symlink(outside.Path() + "/secret.txt", pages.Path() + "/leak.txt");
    fs::create_symlink(outside.Path(), pages.Path() + "/away");
    fs::create_symlink(pages.Path() + "/errors.txt", pages.Path() + "/alias.txt");
    test::ChildServer server(data.Path(), {"--pages", pages.Path()});
    const std::string up = fs::path(outside.Path()).lexically_relative(pages.Path()).string();
    auto get = [&](const std::string& path) {
        return test::Exchange(server.Port(),
                              "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    };
    for (const std::string& path : std::vector<std::string>{
             "/zvxinternal/leak.txt", "/zvxinternal/away/secret.txt",
             "/zvxinternal/" + up + "/secret.txt", "/zvxinternal/../../../../etc/passwd",
             "/zvxinternal/campaign/../errors.txt", "/zvxinternal/./errors.txt"}) {
        const std::string got = get(path);
        EXPECT_EQ(got.substr(0, 12), "HTTP/1.1 404") << path << ": " << got.substr(0, 200);
        EXPECT_EQ(got.find("SECRET"), std::string::npos) << path;
    }
    std::ifstream in(pages.Path() + "/errors.txt");
    const std::string errors((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    for (const char* path : {"/zvxinternal/alias.txt", "/zvxinternal/errors.txt"}) {
        const std::string got = get(path);
        EXPECT_EQ(got.substr(0, 12), "HTTP/1.1 200") << path;
        EXPECT_TRUE(got.ends_with("\r\n\r\n" + errors)) << path;
    }
}

}  // namespace
}  // namespace zx
