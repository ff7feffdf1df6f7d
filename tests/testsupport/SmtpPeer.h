#pragma once
// A mail server on 127.0.0.1 and an ephemeral port that plays a script, for tests of the error
// mail's failures. It takes one connection. Every command is answered as a willing server would
// (250; 354 for DATA; 221 for QUIT) unless the script names its verb: then the peer gives its own
// answer, keeps quiet (and reads on), or closes the connection. "CONNECT" stands for the greeting
// and "." for the end of the message.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/Sockets.h"

namespace zx::test {

class SmtpPeer {
public:
    enum class TAct { Answer, Quiet, Close };
    struct TStep {
        TAct act = TAct::Answer;
        std::string answer;  // for Answer
    };

    explicit SmtpPeer(std::map<std::string, TStep> script) : script_(std::move(script)) {
        fd_ = BindLocal(port_, 4);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SmtpPeer() {
        shutdown(fd_, SHUT_RDWR);
        {
            std::lock_guard lock(mutex_);
            if (client_ >= 0) shutdown(client_, SHUT_RDWR);
        }
        if (thread_.joinable()) thread_.join();
        close(fd_);
        if (client_ >= 0) close(client_);
    }
    SmtpPeer(const SmtpPeer&) = delete;
    SmtpPeer& operator=(const SmtpPeer&) = delete;

    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

    // What the client said, verb by verb, up to the moment it closed its end: call it once the
    // client is done with the connection (it waits for the client's close).
    std::vector<std::string> HeardUntilClosed() {
        if (thread_.joinable()) thread_.join();
        return heard_;
    }
    // Whether the client has said verb so far ("." once the whole message has come).
    bool Heard(const std::string& verb) {
        std::lock_guard lock(mutex_);
        return std::find(heard_.begin(), heard_.end(), verb) != heard_.end();
    }

private:
    static std::string VerbOf(const std::string& line) {
        std::string verb;
        for (char c : line.substr(0, line.find(' ')))
            verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (verb.rfind("MAIL", 0) == 0) return "MAIL FROM";
        if (verb.rfind("RCPT", 0) == 0) return "RCPT TO";
        return verb;
    }
    void Say(const std::string& line) {
        const std::string l = line + "\r\n";
        (void)!write(client_, l.data(), l.size());
    }
    // False when the script closes the connection here.
    bool Act(const std::string& verb, const std::string& willing) {
        const auto it = script_.find(verb);
        const TStep step = it == script_.end() ? TStep{TAct::Answer, willing} : it->second;
        if (step.act == TAct::Close) return false;
        if (step.act == TAct::Answer) Say(step.answer);
        return true;
    }
    void Serve() {
        const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        {
            std::lock_guard lock(mutex_);
            client_ = c;
        }
        Run();
        // Closed by the script or by the client: the client hears nothing more.
        std::lock_guard lock(mutex_);
        close(client_);
        client_ = -1;
    }
    void Run() {
        if (!Act("CONNECT", "220 peer.test ESMTP")) return;
        std::string buffer;
        bool inData = false;
        char chunk[4096];
        for (;;) {
            const ssize_t n = read(client_, chunk, sizeof chunk);
            if (n <= 0) return;
            buffer.append(chunk, static_cast<size_t>(n));
            for (size_t end; (end = buffer.find("\r\n")) != std::string::npos;) {
                const std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 2);
                if (inData && line != ".") continue;
                const std::string verb = inData ? "." : VerbOf(line);
                {
                    std::lock_guard lock(mutex_);
                    heard_.push_back(verb);
                }
                inData = verb == "DATA";
                const std::string willing = verb == "DATA"   ? "354 go ahead"
                                            : verb == "QUIT" ? "221 bye"
                                                             : "250 ok";
                if (!Act(verb, willing)) return;
            }
        }
    }

    std::map<std::string, TStep> script_;
    std::vector<std::string> heard_;
    std::mutex mutex_;
    int fd_ = -1;
    int client_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace zx::test
