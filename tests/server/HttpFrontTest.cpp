// The server's HTTP side on its own: which part of a page a Range header gets, and the answers a
// client gets for the heads and bodies nothing here expects.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

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

// One exchange on a socket of its own; everything the server sent until it closed or 2 s passed.
std::string Exchange(int port, const std::string& request, bool* closed = nullptr) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return {};
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    timeval wait{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string got;
    char buf[4096];
    ssize_t n = 0;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<size_t>(n));
    // A server that closes with part of the request unread resets the connection instead.
    if (closed) *closed = n == 0 || (n < 0 && errno == ECONNRESET);
    close(fd);
    return got;
}

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

}  // namespace
}  // namespace zx
