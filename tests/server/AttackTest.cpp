// The attacks a server reached directly meets, run against zolvex-server as its own process: clients
// that trickle their heads, thousands of idle connections, a flood of header lines, one address
// opening connection after connection. Each must cost the attacker's connections only: others are
// answered at once.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ServerFixtures.h"

namespace zx {
namespace {

using Clock = std::chrono::steady_clock;

// Only a server that hangs keeps a client waiting this long: a bound for the test, not a verdict.
constexpr double kHangSeconds = 60;

// A blocking TCP connection from a loopback address of our choosing: the whole of 127/8 is this
// machine, so one test can be many clients.
class Client {
public:
    Client(int port, const std::string& from) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            if (fd_ >= 0) close(fd_);
            fd_ = -1;
        }
    }
    ~Client() {
        if (fd_ >= 0) close(fd_);
    }
    Client(Client&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    bool Send(const std::string& s) const {
        return fd_ >= 0 &&
               send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
    }
    // Whether the server has closed (or reset) this connection, waiting at most `seconds`.
    bool ClosedWithin(double seconds) const {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        char buf[4096];
        while (Clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
        }
        return false;
    }
    // Whether the server has closed (or reset) this connection by now; what it sent before is
    // read and dropped.
    bool ClosedNow() const {
        char buf[4096];
        for (;;) {
            const ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        }
    }
    // The answer's status line, or empty when the connection closed first or none came within
    // `seconds`.
    std::string StatusWithin(double seconds) const {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        std::string got;
        char buf[4096];
        while (Clock::now() < until && got.find("\r\n") == std::string::npos) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        const size_t end = got.find("\r\n");
        return end == std::string::npos ? std::string() : got.substr(0, end);
    }

private:
    int fd_ = -1;
};

const char kPageRequest[] = "GET /zvxinternal HTTP/1.1\r\nHost: x\r\n\r\n";

// Whether a fresh client's request for the start page is answered 200.
bool PageServed(int port, const std::string& from) {
    Client c(port, from);
    return c.Ok() && c.Send(kPageRequest) && c.StatusWithin(kHangSeconds) == "HTTP/1.1 200 OK";
}

long ResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

bool RaiseOpenFiles(rlim_t want) {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0) return false;
    if (r.rlim_cur >= want) return true;
    r.rlim_cur = std::min(want, r.rlim_max);
    return setrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur >= want;
}

std::string Address(int a, int b) { return "127.0." + std::to_string(a) + "." + std::to_string(b); }

TEST(Attacks, ANormalClientIsAnsweredWhileSlowHeadsAndThousandsOfIdleConnectionsAreHeld) {
    if (!RaiseOpenFiles(2600)) GTEST_SKIP() << "this process may not open 2600 files";
    test::TempFolder data;
    // Time-outs far beyond the test's length: the server holds every attacking connection
    // meanwhile, however slowly this machine runs the test.
    test::ChildServer server(data.Path(),
                             {"--quiet", "--header-seconds", "3600", "--idle-seconds", "3600"});
    std::vector<Client> idle, slow;
    for (int i = 0; i < 2000; ++i) {  // 20 from each of 100 addresses, under the limit of 32
        idle.emplace_back(server.Port(), Address(1, 1 + i / 20));
        ASSERT_TRUE(idle.back().Ok()) << i;
    }
    for (int i = 0; i < 80; ++i) {
        slow.emplace_back(server.Port(), Address(2, 1 + i / 4));
        ASSERT_TRUE(slow.back().Send("GET /zvxinternal HTTP/1.1\r\n")) << i;
    }
    for (int round = 0; round < 6; ++round) {
        for (Client& s : slow) s.Send("X-Slow: " + std::to_string(round) + "\r\n");
        EXPECT_TRUE(PageServed(server.Port(), "127.0.0.1")) << "round " << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    // They were held, not refused nor timed out: the page was served beside them, not after them.
    size_t open = 0;
    for (const Client& c : idle) open += !c.ClosedNow();
    for (const Client& c : slow) open += !c.ClosedNow();
    EXPECT_EQ(open, 2080u);
}

TEST(Attacks, AFloodOfHeaderLinesIsCutOffAndLeavesTheServersMemoryAsItWas) {
    test::TempFolder data;
    test::ChildServer server(data.Path(), {"--quiet"});
    ASSERT_TRUE(PageServed(server.Port(), "127.0.0.1"));
    const long before = ResidentKb(server.Pid());
    Client flood(server.Port(), "127.0.0.9");
    ASSERT_TRUE(flood.Send("GET /zvxinternal HTTP/1.1\r\n"));
    fcntl(flood.Fd(), F_SETFL, O_NONBLOCK);
    const std::string lines = [] {
        std::string s;
        for (int i = 0; i < 64; ++i) s += "X-Flood: " + std::string(1000, 'a') + "\r\n";
        return s;
    }();
    // Up to 64 MB, for as long as the server keeps reading.
    size_t sent = 0;
    bool stopped = false;
    while (sent < (64u << 20) && !stopped) {
        const ssize_t n = send(flood.Fd(), lines.data(), lines.size(), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{flood.Fd(), POLLOUT, 0};
            stopped = poll(&p, 1, 3000) == 0 || (p.revents & (POLLERR | POLLHUP));
        } else {
            stopped = true;
        }
    }
    EXPECT_TRUE(stopped) << "the server read all " << (sent >> 20) << " MB of one head";
    EXPECT_LT(sent, 8u << 20);
    EXPECT_TRUE(flood.ClosedWithin(kHangSeconds)) << "the flooding connection is closed";
    const long after = ResidentKb(server.Pid());
    EXPECT_LT(after - before, 8 * 1024) << before << " kB before, " << after << " kB after";
    EXPECT_TRUE(PageServed(server.Port(), "127.0.0.1"));
}

TEST(Attacks, AHeadThatNeverEndsIsClosedAtItsDeadlineAndAQuietConnectionAfterItsIdleTime) {
    test::TempFolder data;
    test::ChildServer server(data.Path(),
                             {"--quiet", "--header-seconds", "1", "--idle-seconds", "2"});
    // A line every 200 ms keeps the connection from ever being idle; only the deadline ends it.
    Client trickle(server.Port(), "127.0.0.5");
    ASSERT_TRUE(trickle.Send("GET /zvxinternal HTTP/1.1\r\n"));
    bool closed = false;
    for (int i = 0; i < kHangSeconds / 0.2 && !closed; ++i) {
        trickle.Send("X-Trickle: " + std::to_string(i) + "\r\n");
        closed = trickle.ClosedWithin(0.2);
    }
    EXPECT_TRUE(closed) << "still open after a minute of trickling";

    Client quiet(server.Port(), "127.0.0.6");
    EXPECT_TRUE(quiet.ClosedWithin(kHangSeconds)) << "a connection that sends nothing is closed";

    // An honest client that keeps its connection and asks again after a pause longer than the
    // head's deadline is served: between requests the idle time counts, here far beyond the pause.
    test::TempFolder patientData;
    test::ChildServer patient(patientData.Path(),
                              {"--quiet", "--header-seconds", "1", "--idle-seconds", "3600"});
    Client honest(patient.Port(), "127.0.0.7");
    ASSERT_TRUE(honest.Send(kPageRequest));
    EXPECT_EQ(honest.StatusWithin(kHangSeconds), "HTTP/1.1 200 OK");
    EXPECT_FALSE(honest.ClosedWithin(1.5)) << "closed before its idle time";
    ASSERT_TRUE(honest.Send(kPageRequest));
    EXPECT_EQ(honest.StatusWithin(kHangSeconds), "HTTP/1.1 200 OK");
}

TEST(Attacks, OneAddressGetsNoMoreConnectionsThanItsLimitAndOthersAreStillServed) {
    test::TempFolder data;
    // Time-outs far beyond the test's length: a held connection ends only when the test says so.
    const std::vector<std::string> patient = {
        "--quiet", "--header-seconds", "3600", "--idle-seconds", "3600", "--per-address", "4"};
    {
        test::ChildServer server(data.Path(), patient);
        // Each held connection is answered once, so the server has taken and counted all four
        // before the fifth comes: its threads take new connections in no fixed order.
        std::vector<Client> held;
        for (int i = 0; i < 4; ++i) {
            held.emplace_back(server.Port(), "127.0.0.2");
            ASSERT_TRUE(held.back().Send(kPageRequest)) << i;
            ASSERT_EQ(held.back().StatusWithin(kHangSeconds), "HTTP/1.1 200 OK") << i;
        }
        Client fifth(server.Port(), "127.0.0.2");
        fifth.Send(kPageRequest);
        EXPECT_EQ(fifth.StatusWithin(kHangSeconds), "") << "the fifth connection is answered";
        EXPECT_TRUE(fifth.ClosedNow()) << "the fifth connection of one address is refused";
        for (const Client& c : held) EXPECT_FALSE(c.ClosedNow());
        Client other(server.Port(), "127.0.0.3");
        ASSERT_TRUE(other.Send(kPageRequest));
        EXPECT_EQ(other.StatusWithin(kHangSeconds), "HTTP/1.1 200 OK");
    }
    // Behind a proxy every connection comes from it: no limit per address then.
    std::vector<std::string> proxy = patient;
    proxy.push_back("--trust-proxy");
    test::ChildServer proxied(data.Path(), proxy);
    std::vector<Client> held;
    for (int i = 0; i < 10; ++i) {
        held.emplace_back(proxied.Port(), "127.0.0.2");
        ASSERT_TRUE(held.back().Send(kPageRequest)) << i;
        EXPECT_EQ(held.back().StatusWithin(kHangSeconds), "HTTP/1.1 200 OK") << i;
    }
    for (const Client& c : held) EXPECT_FALSE(c.ClosedNow());
}

}  // namespace
}  // namespace zx
