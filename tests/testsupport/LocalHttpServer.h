#pragma once
// A real HTTP server on 127.0.0.1 and an ephemeral port, for tests of the program's clients.
// Started in the constructor, stopped (and its thread joined) in the destructor.
#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

namespace zx::test {

class LocalHttpServer {
public:
    // Routes are added through Server() before Start().
    LocalHttpServer() = default;
    ~LocalHttpServer() { Stop(); }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    httplib::Server& Server() { return server_; }
    void Start() {
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // The socket listens from the bind on; stop() only works once the loop runs.
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void Stop() {
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    int Port() const { return port_; }
    // "127.0.0.1:port", the form the configuration keys take.
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& path) const { return "http://" + HostPort() + path; }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

}  // namespace zx::test
