#pragma once
// Sockets on 127.0.0.1 for the peers of the program's network clients: a port of their own, a
// port nobody listens on, a peer that never says a word.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace zx::test {

// A socket bound to 127.0.0.1 and an ephemeral port, which goes to port; listening when backlog
// is above 0.
inline int BindLocal(int& port, int backlog) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (backlog > 0) listen(fd, backlog);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// A port nobody listens on (for a moment): bound to find it, then let go.
inline int UnusedLocalPort() {
    int port = 0;
    close(BindLocal(port, 0));
    return port;
}

// A peer that lets clients connect (the system's backlog takes them) and never says a word.
class SilentPeer {
public:
    SilentPeer() : fd_(BindLocal(port_, 16)) {}
    ~SilentPeer() { close(fd_); }
    SilentPeer(const SilentPeer&) = delete;
    SilentPeer& operator=(const SilentPeer&) = delete;
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int port_ = 0;
    int fd_ = -1;
};

}  // namespace zx::test
