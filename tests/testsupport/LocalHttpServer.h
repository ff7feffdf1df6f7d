#pragma once
// A real HTTP server on 127.0.0.1 and an ephemeral port, for tests of the program's clients.
// Started in the constructor, stopped (and its thread joined) in the destructor.
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
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

// Holds a handler's answer until the test lets it go: a peer that stays silent for as long as the
// test needs, however slowly the machine runs, instead of for a time it guessed. Release it (or
// let it go out of scope) before the server stops: the server waits for its handlers. Entered()
// tells whether a request has come and is being held.
class HeldAnswer {
public:
    HeldAnswer() = default;
    ~HeldAnswer() { Release(); }
    HeldAnswer(const HeldAnswer&) = delete;
    HeldAnswer& operator=(const HeldAnswer&) = delete;

    // In the handler: waits until Release().
    void Wait() {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    // Waits until a handler holds a request (false when none came within the bound, which only
    // keeps a broken test from hanging).
    bool WaitEntered(std::chrono::milliseconds bound = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [this] { return entered_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
};

}  // namespace zx::test
