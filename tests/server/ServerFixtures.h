#pragma once
// A real zolvex-server for tests: in this process on an ephemeral loopback port with a clock the
// test sets, or as a child process that can be stopped, restarted and killed.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "payload/Payload.h"
#include "server/Server.h"

namespace zx::test {

// A fresh folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "zolvex-server-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Monday 7 December 2026, 00:00 UTC.
inline constexpr int64_t kAMonday = 1796601600;

inline server::TServerOptions QuietOptions() {
    server::TServerOptions o;
    o.Port = 0;
    o.PagesDir = ZOLVEX_SERVER_PAGES;
    o.SubmitPerMinute = 0;  // tests that want the limit set it
    o.LogRequests = false;
    o.Threads = 8;
    return o;
}

class InProcessServer {
public:
    explicit InProcessServer(const std::string& dataDir,
                             server::TServerOptions options = QuietOptions())
        : store_(server::OpenSqliteStore(dataDir)),
          server_(std::make_unique<server::TZolvexServer>(options, store_,
                                                          [this] { return now_.load(); })) {
        port_ = server_->Bind();
        thread_ = std::thread([this] { server_->Run(); });
        server_->WaitUntilListening();
    }
    ~InProcessServer() {
        server_->Stop();
        thread_.join();
    }
    InProcessServer(const InProcessServer&) = delete;
    InProcessServer& operator=(const InProcessServer&) = delete;

    int Port() const { return port_; }
    void SetNow(int64_t t) { now_ = t; }
    server::IScoreStore& Store() { return *store_; }
    server::TZolvexServer& Server() { return *server_; }

private:
    std::atomic<int64_t> now_{kAMonday + 3 * 86400 + 12 * 3600};  // a Thursday noon
    std::shared_ptr<server::IScoreStore> store_;
    std::unique_ptr<server::TZolvexServer> server_;
    int port_ = 0;
    std::thread thread_;
};

// zolvex-server as its own process, on a port it picks and announces on standard error.
class ChildServer {
public:
    // extra: more arguments after the data folder's; port: 0 picks a free one.
    explicit ChildServer(const std::string& dataDir, std::vector<std::string> extra = {},
                         int port = 0) {
        int err[2];
        if (pipe(err) != 0) throw std::runtime_error("pipe failed");
        std::vector<std::string> args = {ZOLVEX_SERVER_EXE, "--listen",
                                         "127.0.0.1:" + std::to_string(port), "--data", dataDir,
                                         "--rate", "0", "--threads", "16",
                                         // Their scores come without replays; a test of
                                         // replays asks for --require-replay.
                                         "--allow-unverified"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            dup2(err[1], 2);
            close(err[0]);
            close(err[1]);
            execv(ZOLVEX_SERVER_EXE, argv.data());
            _exit(127);
        }
        close(err[1]);
        stderr_ = fdopen(err[0], "r");
        char line[1024];
        while (std::fgets(line, sizeof line, stderr_)) {
            const std::string s = line;
            Remember(s);
            const size_t at = s.find("http://127.0.0.1:");
            if (at != std::string::npos) {
                port_ = std::stoi(s.substr(at + 17));
                break;
            }
        }
        if (port_ == 0) {
            Wait();
            throw std::runtime_error("the server did not start: " + Log());
        }
        // Keep reading, so that the log never blocks the server on a full pipe.
        drain_ = std::thread([this] {
            char buf[4096];
            while (std::fgets(buf, sizeof buf, stderr_)) Remember(buf);
        });
    }
    ~ChildServer() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (drain_.joinable()) drain_.join();
        if (stderr_) std::fclose(stderr_);
    }
    ChildServer(const ChildServer&) = delete;
    ChildServer& operator=(const ChildServer&) = delete;

    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    // Sends the signal and returns the exit status (or 128 + signal).
    int Signal(int sig) {
        kill(pid_, sig);
        return Wait();
    }
    // What the server wrote to standard error so far.
    std::string Log() {
        std::lock_guard lock(logMutex_);
        return log_;
    }

    // Whether the server writes this text to standard error: the log arrives through a pipe
    // read by a thread of its own, so a line written before an answer may come after it.
    // Waits for the line as long as only a hung server would take.
    bool LogShows(const std::string& text) {
        std::unique_lock lock(logMutex_);
        return logCv_.wait_for(lock, std::chrono::seconds(60),
                               [&] { return log_.find(text) != std::string::npos; });
    }

private:
    void Remember(const std::string& line) {
        {
            std::lock_guard lock(logMutex_);
            if (log_.size() < (1u << 20)) log_ += line;
        }
        logCv_.notify_all();
    }
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_t pid_ = -1;
    int port_ = 0;
    FILE* stderr_ = nullptr;
    std::thread drain_;
    std::mutex logMutex_;
    std::condition_variable logCv_;
    std::string log_;
};

// One exchange on a socket of its own; everything the server sent until it closed or 2 s passed.
inline std::string Exchange(int port, const std::string& request, bool* closed = nullptr) {
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

// Prints the replay's text (plain or gzip) as its report. A replay that starts with "refuse" is
// refused with the rest of its first line; "hang" never ends; "wait" waits until the file "go"
// appears beside the script, so that a test decides when a verifier is done.
inline constexpr const char* kStandInVerifier = R"SH(#!/bin/sh
here=$(dirname "$0")
r=$(zcat -f "$1")
echo "$r" | head -n 1 >> "$here/runs"
case "$r" in
  crash-once*)
    if [ -e "$here/crashed" ]; then printf '%s\n' "$r" | tail -n +2; exit 0; fi
    : > "$here/crashed"; echo "stand-in: dies" >&2; kill -SEGV $$ ;;
  crash*) echo "stand-in: dies" >&2; kill -SEGV $$ ;;
  spin*) i=0; while [ $i -lt 2000000 ]; do i=$((i + 1)); done; printf '%s\n' "$r" | tail -n +2 ;;
  refuse*) echo "refused: $(printf '%s\n' "$r" | head -n 1 | cut -c 8-)" >&2; exit 2 ;;
  hang*) exec sleep 100000 ;;
  wait*) while [ ! -e "$here/go" ]; do sleep 0.02; done; printf '%s\n' "$r" | tail -n +2 ;;
  *) printf '%s\n' "$r" ;;
esac
)SH";

inline void WriteStandInVerifier(const std::string& path) {
    std::ofstream(path) << kStandInVerifier;
    chmod(path.c_str(), 0755);
}

inline RandomIntFn TestRandom(uint32_t seed) {
    auto gen = std::make_shared<std::mt19937>(seed);
    return [gen](int n) { return std::uniform_int_distribution<int>(0, n - 1)(*gen); };
}

struct Answer {
    int Status = 0;
    std::string Body;
    TPayloadAnswer Lines;
};

// Publishes as the program does: the payload scrambled into the request line.
inline Answer Publish(int port, const TPayloadFields& fields, const std::string& realIp = {}) {
    static std::atomic<uint32_t> seed{1};
    httplib::Client cli("127.0.0.1", port);
    cli.set_read_timeout(30, 0);
    httplib::Headers h = {{"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"},
                          {"Accept", "text/html, */*"}};
    if (!realIp.empty()) h.emplace("X-Real-IP", realIp);
    auto res = cli.Get(
        ("/score2.php?cs=" + ScramblePayload(BuildPayload(fields), TestRandom(seed++))).c_str(), h);
    if (!res) return {};
    return {res->status, res->body, ParseAnswer(res->body)};
}

}  // namespace zx::test
