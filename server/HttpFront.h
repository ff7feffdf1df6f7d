#pragma once
// The server's HTTP side: a few event threads hold every connection and read request heads
// without blocking; a complete request is answered on the event thread when that is cheap, or
// handed to a worker while its connection waits. A client that sends slowly, sends nothing or sends
// too much therefore holds only its own connection, never a thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct MHD_Connection;

namespace zx::server {

struct THttpLimits {
    // A request's head must be complete this long after its connection opened; on a kept-alive
    // connection, this long after the idle time that follows the previous answer.
    int HeaderSeconds = 10;
    // A connection on which nothing arrives is closed after this long.
    int IdleSeconds = 5;
    // Connections at once from one address (0: no limit) and in all.
    int PerAddress = 32;
    int Connections = 4096;
    size_t HeadBytes = 16 * 1024;
    int HeadLines = 100;
    size_t TargetBytes = 8192;
    int EventThreads = 2;
    int Workers = 64;
};

class THttpRequest {
public:
    std::string Method;
    std::string Path;    // decoded, without the query
    std::string Target;  // as sent: path and query, nothing decoded
    std::string RemoteAddress;
    // The request's body, for the paths whose handlers take one (THttpHandlers::BodyLimit).
    std::string Body;
    // Empty when the request has no such header.
    std::string Header(const char* name) const;
    bool HasHeader(const char* name) const;

private:
    friend class THttpFront;
    MHD_Connection* connection_ = nullptr;
};

struct THttpAnswer {
    int Status = 200;
    // Shared, so that a page is sent from the one copy every request of it uses.
    std::shared_ptr<const std::string> Body;
    size_t Offset = 0, Length = std::string::npos;
    std::string Type;
    std::vector<std::pair<std::string, std::string>> Headers;

    void SetText(std::string body, const char* type) {
        Body = std::make_shared<const std::string>(std::move(body));
        Offset = 0;
        Length = std::string::npos;
        Type = type;
    }
    size_t Size() const {
        if (!Body) return 0;
        return Length == std::string::npos ? Body->size() - Offset : Length;
    }
};

struct THttpHandlers {
    std::function<void(const THttpRequest&, THttpAnswer&)> Answer;
    // True for requests whose answer may wait (for the store): those go to a worker.
    std::function<bool(const THttpRequest&)> OnWorker;
    // The most bytes of body a request may bring (0: none, the body is left unread). A larger one
    // is answered 413 without reading it.
    std::function<size_t(const THttpRequest&)> BodyLimit;
    // As an answer is handed to the connection, before its first byte leaves: what a client has
    // been answered is already counted when it asks for the counts.
    std::function<void(const THttpRequest&, const THttpAnswer&)> Queued;
    // After an answer was sent or the connection broke off; milliseconds since the head was read.
    std::function<void(const THttpRequest&, const THttpAnswer&, double ms)> Done;
    // The library's own messages (a failed accept, a connection limit reached).
    std::function<void(const std::string&)> Note;
    // An answer the library made by itself (a head larger than a connection's memory for it:
    // 431), before any request reached the handlers.
    std::function<void(int status)> LibraryAnswered;
    // A connection closed without an answer of the handlers': its client went away before its
    // request was complete (one per connection of a flood, so counted, and the library's words
    // for it are not told), or the library refused its head.
    std::function<void()> Unanswered;
};

// A socket bound and listening (without SO_REUSEPORT, so a second server cannot share the port),
// owned until a front takes it. Made first, so that a server refused for its port has created
// nothing yet.
class TListenSocket {
public:
    // Throws with the reason.
    TListenSocket(const std::string& host, int port);
    ~TListenSocket();
    TListenSocket(TListenSocket&& other) noexcept;
    TListenSocket& operator=(TListenSocket&&) = delete;
    TListenSocket(const TListenSocket&) = delete;
    // The port bound (the chosen one for port 0).
    int Port() const { return port_; }
    // The socket, now the caller's.
    int Release();

private:
    int fd_ = -1;
    int port_ = 0;
};

class THttpFront {
public:
    THttpFront(THttpLimits limits, THttpHandlers handlers);
    ~THttpFront();
    THttpFront(const THttpFront&) = delete;
    THttpFront& operator=(const THttpFront&) = delete;

    // Binds and listens; returns the port. Throws with the reason.
    int Bind(const std::string& host, int port);
    // Serves on a socket bound before; returns its port.
    int Adopt(TListenSocket socket);
    // Starts the event threads and the workers. Throws when the library cannot start.
    void Start();
    // Stops taking connections, lets requests under way finish (a few seconds at most) and stops.
    void Stop();

    THttpLimits Limits() const { return limits_; }

private:
    struct Impl;
    THttpLimits limits_;
    std::unique_ptr<Impl> impl_;
};

// The part a single-range `Range` header asks of a body of `size` bytes: offset and length.
// Nothing for no header, for several ranges or for one the body cannot give (the whole body is
// then sent); `unsatisfiable` is set for a well-formed range wholly past the end.
struct TByteRange {
    size_t Offset = 0, Length = 0;
};
std::optional<TByteRange> SingleRange(const std::string& header, size_t size, bool* unsatisfiable);

}  // namespace zx::server
