#include "server/HttpFront.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_set>

namespace zx::server {

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

// One per connection, from its start to its close: when its current head must be complete.
struct TConnection {
    int Fd = -1;
    // 0 while a head is complete and its answer under way.
    std::atomic<int64_t> HeadDeadlineMs{0};
    bool Shut = false;      // under the front's connection mutex
    bool Answered = false;  // on its event thread
};

// One per request, from its request line to its completion.
struct TRequestState {
    THttpRequest Request;
    THttpAnswer Answer;
    Clock::time_point Start;
    bool HeadSeen = false, HasBody = false, Answered = false;
    size_t BodyLimit = 0;  // bytes of body read into the request; 0: the body is left unread
    // Set by the worker before it resumes the connection, which orders it before the next call.
    bool AnswerReady = false;
};

std::string AddressText(const sockaddr* sa) {
    char text[INET6_ADDRSTRLEN] = "";
    if (!sa) return {};
    if (sa->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
    else if (sa->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text,
                  sizeof text);
    return text;
}

// The library tells of a client that closed or reset its connection while its request was still
// being read in these words.
bool ClientGone(const std::string& line) {
    for (const char* words :
         {"closed by remote side", "disconnected when reading", "closed when reading request",
          "closed due to error when reading", "Connection reset by peer"})
        if (line.find(words) != std::string::npos) return true;
    return false;
}

// The status of an error answer the library made itself ("... HTTP response code is 431 ..."),
// or 0.
int LibraryAnswer(const std::string& line) {
    static const std::string kWords = "HTTP response code is ";
    const size_t at = line.find(kWords);
    if (at == std::string::npos) return 0;
    int status = 0;
    for (size_t i = at + kWords.size(); i < line.size() && i < at + kWords.size() + 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        status = status * 10 + (line[i] - '0');
    }
    return status >= 100 && status <= 599 ? status : 0;
}

void FreeSharedBody(void* cls) { delete static_cast<std::shared_ptr<const std::string>*>(cls); }

const char* ReasonBody(int status) {
    switch (status) {
        case 414: return "Error=414\r\n";
        case 413: return "Error=413\r\n";
        case 431: return "Error=431\r\n";
        default: return "Error=400\r\n";
    }
}

}  // namespace

std::string THttpRequest::Header(const char* name) const {
    if (!connection_) return {};
    const char* v = MHD_lookup_connection_value(connection_, MHD_HEADER_KIND, name);
    return v ? std::string(v) : std::string();
}

bool THttpRequest::HasHeader(const char* name) const {
    return connection_ && MHD_lookup_connection_value(connection_, MHD_HEADER_KIND, name);
}

struct THttpFront::Impl {
    THttpLimits limits;
    THttpHandlers handlers;
    int listenFd = -1;
    MHD_Daemon* daemon = nullptr;

    std::mutex connectionsMutex;
    std::unordered_set<TConnection*> connections;
    // Requests whose head was read and whose answer is not yet sent.
    std::atomic<int> requestsUnderWay{0};

    std::mutex jobsMutex;
    std::condition_variable jobsReady;
    std::deque<std::pair<MHD_Connection*, TRequestState*>> jobs;
    bool stopping = false;
    std::vector<std::thread> workers;

    std::mutex sweepMutex;
    std::condition_variable sweepWake;
    bool sweepStop = false;
    std::thread sweeper;

    int64_t HeadMs() const { return int64_t{limits.HeaderSeconds} * 1000; }
    int64_t IdleMs() const { return int64_t{limits.IdleSeconds} * 1000; }

    // The raw request line's target, before the library decodes it: a score's text is read as sent.
    static void* OnRequestLine(void*, const char* uri, MHD_Connection*) {
        auto* st = new TRequestState;
        st->Request.Target = uri ? uri : "";
        return st;
    }

    static void OnConnection(void* cls, MHD_Connection* c, void** socketContext,
                             MHD_ConnectionNotificationCode code) {
        auto* self = static_cast<Impl*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* conn = new TConnection;
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
            conn->Fd = info ? info->connect_fd : -1;
            conn->HeadDeadlineMs = NowMs() + self->HeadMs();
            std::lock_guard lock(self->connectionsMutex);
            self->connections.insert(conn);
            *socketContext = conn;
        } else {
            auto* conn = static_cast<TConnection*>(*socketContext);
            if (!conn) return;
            if (!conn->Answered && self->handlers.Unanswered) self->handlers.Unanswered();
            {
                // The sweep shuts sockets down only under this lock, so never one whose number the
                // library is about to close and the system to give to another connection.
                std::lock_guard lock(self->connectionsMutex);
                self->connections.erase(conn);
            }
            delete conn;
            *socketContext = nullptr;
        }
    }

    static TConnection* ConnectionOf(MHD_Connection* c) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<TConnection*>(info->socket_context) : nullptr;
    }

    static void OnCompleted(void* cls, MHD_Connection* c, void** requestContext,
                            MHD_RequestTerminationCode) {
        auto* self = static_cast<Impl*>(cls);
        auto* st = static_cast<TRequestState*>(*requestContext);
        if (!st) return;
        *requestContext = nullptr;
        if (st->Answered && self->handlers.Done) {
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - st->Start).count();
            self->handlers.Done(st->Request, st->Answer, ms);
        }
        // A kept-alive client may stay quiet for the idle time before its next request starts.
        if (TConnection* conn = ConnectionOf(c))
            conn->HeadDeadlineMs = NowMs() + self->IdleMs() + self->HeadMs();
        if (st->HeadSeen) --self->requestsUnderWay;
        delete st;
    }

    static void OnLibraryMessage(void* cls, const char* fm, va_list ap) {
        auto* self = static_cast<Impl*>(cls);
        char text[512];
        std::vsnprintf(text, sizeof text, fm, ap);
        std::string line(text);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (ClientGone(line)) {
            // Counted when the connection closes.
        } else if (const int status = LibraryAnswer(line)) {
            if (self->handlers.LibraryAnswered) self->handlers.LibraryAnswered(status);
        } else if (self->handlers.Note) {
            self->handlers.Note(line);
        }
    }

    static int HeaderCount(MHD_Connection* c) {
        return MHD_get_connection_values(c, MHD_HEADER_KIND, nullptr, nullptr);
    }

    MHD_Result Queue(MHD_Connection* c, TRequestState* st) {
        THttpAnswer& a = st->Answer;
        if (!a.Body) a.Body = std::make_shared<const std::string>();
        const size_t offset = std::min(a.Offset, a.Body->size());
        const size_t length = std::min(a.Size(), a.Body->size() - offset);
        MHD_Response* r = MHD_create_response_from_buffer_with_free_callback_cls(
            length, const_cast<char*>(a.Body->data() + offset), FreeSharedBody,
            new std::shared_ptr<const std::string>(a.Body));
        if (!r) return MHD_NO;
        if (!a.Type.empty())
            MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, a.Type.c_str());
        for (const auto& [name, value] : a.Headers)
            MHD_add_response_header(r, name.c_str(), value.c_str());
        if (st->HasBody) MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
        st->Answered = true;
        if (TConnection* conn = ConnectionOf(c)) conn->Answered = true;
        if (handlers.Queued) handlers.Queued(st->Request, a);
        const MHD_Result ok = MHD_queue_response(c, static_cast<unsigned>(a.Status), r);
        MHD_destroy_response(r);
        return ok;
    }

    static MHD_Result OnRequest(void* cls, MHD_Connection* c, const char* url, const char* method,
                                const char*, const char* upload, size_t* uploadSize,
                                void** requestContext) {
        auto* self = static_cast<Impl*>(cls);
        auto* st = static_cast<TRequestState*>(*requestContext);
        if (!st) return MHD_NO;
        if (!st->HeadSeen) {
            st->HeadSeen = true;
            ++self->requestsUnderWay;
            st->Start = Clock::now();
            if (TConnection* conn = ConnectionOf(c)) conn->HeadDeadlineMs = 0;
            THttpRequest& req = st->Request;
            req.connection_ = c;
            req.Method = method ? method : "";
            req.Path = url ? url : "";
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            req.RemoteAddress = info ? AddressText(info->client_addr) : std::string();
            const MHD_ConnectionInfo* head =
                MHD_get_connection_info(c, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
            int refuse = 0;
            if (req.Target.size() > self->limits.TargetBytes)
                refuse = 414;
            else if (HeaderCount(c) > self->limits.HeadLines ||
                     (head && head->header_size > self->limits.HeadBytes))
                refuse = 431;
            if (refuse) {
                st->Answer.Status = refuse;
                st->Answer.SetText(ReasonBody(refuse), "text/plain");
                st->Answer.Headers.emplace_back(MHD_HTTP_HEADER_CONNECTION, "close");
                return self->Queue(c, st);
            }
            // A request with a body where none is taken is answered at once, its body left
            // unread and the connection closed after the answer.
            const std::string length = req.Header(MHD_HTTP_HEADER_CONTENT_LENGTH);
            st->HasBody = (!length.empty() && length != "0") ||
                          req.HasHeader(MHD_HTTP_HEADER_TRANSFER_ENCODING);
            if (!st->HasBody) return MHD_YES;  // answered on the next call, once the head is done
            st->BodyLimit = self->handlers.BodyLimit ? self->handlers.BodyLimit(req) : 0;
            if (st->BodyLimit > 0) {
                // Read only when announced and small enough: a chunked body of no stated size
                // could be anything.
                const bool known = !length.empty() && length.size() <= 12 &&
                                   length.find_first_not_of("0123456789") == std::string::npos;
                if (!known || std::stoull(length) > st->BodyLimit) {
                    st->BodyLimit = 0;
                    st->Answer.Status = 413;
                    st->Answer.SetText(ReasonBody(413), "text/plain");
                    return self->Queue(c, st);
                }
                st->HasBody = false;  // read whole: the connection may be kept
                st->Request.Body.reserve(std::stoull(length));
                return MHD_YES;
            }
        }
        if (*uploadSize) {
            if (st->BodyLimit > 0 && st->Request.Body.size() + *uploadSize <= st->BodyLimit)
                st->Request.Body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (st->Answered) return MHD_YES;
        if (st->AnswerReady) return self->Queue(c, st);
        // An answer queued before the library has finished with the request would close a
        // kept-alive connection; so the worker is asked only now.
        if (self->handlers.OnWorker && self->handlers.OnWorker(st->Request)) {
            MHD_suspend_connection(c);
            {
                std::lock_guard lock(self->jobsMutex);
                self->jobs.emplace_back(c, st);
            }
            self->jobsReady.notify_one();
            return MHD_YES;
        }
        self->Answer(st);
        return self->Queue(c, st);
    }

    void Answer(TRequestState* st) {
        try {
            handlers.Answer(st->Request, st->Answer);
        } catch (const std::exception&) {
            st->Answer = {};
            st->Answer.Status = 500;
            st->Answer.SetText("Error=The server failed; please try again later\r\n", "text/plain");
        }
    }

    void Work() {
        for (;;) {
            std::pair<MHD_Connection*, TRequestState*> job;
            {
                std::unique_lock lock(jobsMutex);
                jobsReady.wait(lock, [&] { return stopping || !jobs.empty(); });
                if (jobs.empty()) return;
                job = jobs.front();
                jobs.pop_front();
            }
            Answer(job.second);
            job.second->AnswerReady = true;
            MHD_resume_connection(job.first);
        }
    }

    // A client that trickles its head keeps the idle time-out from ever firing; the deadline is
    // checked four times a second, early enough for deadlines of whole seconds and cheap for
    // thousands of connections.
    void Sweep() {
        std::unique_lock wake(sweepMutex);
        while (
            !sweepWake.wait_for(wake, std::chrono::milliseconds(250), [&] { return sweepStop; })) {
            const int64_t now = NowMs();
            std::lock_guard lock(connectionsMutex);
            for (TConnection* conn : connections) {
                const int64_t deadline = conn->HeadDeadlineMs.load();
                if (deadline == 0 || now < deadline || conn->Shut || conn->Fd < 0) continue;
                // The library sees the end of the stream and closes the connection itself.
                shutdown(conn->Fd, SHUT_RDWR);
                conn->Shut = true;
            }
        }
    }
};

THttpFront::THttpFront(THttpLimits limits, THttpHandlers handlers)
    : limits_(limits), impl_(std::make_unique<Impl>()) {
    impl_->limits = limits;
    impl_->handlers = std::move(handlers);
}

THttpFront::~THttpFront() {
    Stop();
    if (impl_->listenFd >= 0) close(impl_->listenFd);
}

TListenSocket::TListenSocket(const std::string& host, int port) {
    const std::string where = host + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        throw std::runtime_error("cannot listen on " + where + " (not an address)");
    int fd = -1;
    for (addrinfo* a = found; a; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) continue;
        int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (a->ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
        // The system's own limit for the queue of connections not yet taken: a burst of new
        // connections (nginx opening upstream connections) is not dropped and retried by TCP.
        if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) break;
        close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    if (fd < 0)
        throw std::runtime_error("cannot listen on " + where +
                                 " (in use by another program, or not an address of this machine)");
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    fd_ = fd;
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

TListenSocket::~TListenSocket() {
    if (fd_ >= 0) close(fd_);
}

TListenSocket::TListenSocket(TListenSocket&& other) noexcept : fd_(other.fd_), port_(other.port_) {
    other.fd_ = -1;
}

int TListenSocket::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int THttpFront::Bind(const std::string& host, int port) { return Adopt(TListenSocket(host, port)); }

int THttpFront::Adopt(TListenSocket socket) {
    if (impl_->listenFd >= 0) close(impl_->listenFd);
    const int port = socket.Port();
    impl_->listenFd = socket.Release();
    return port;
}

void THttpFront::Start() {
    Impl& m = *impl_;
    if (m.listenFd < 0) throw std::runtime_error("the server is not bound to an address");
    // Every connection is a file descriptor: as many as the system lets this process have.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
    }
    const rlim_t reserve = 64;  // the store, the log, the listening socket, the library's own
    if (files.rlim_cur > reserve &&
        static_cast<rlim_t>(m.limits.Connections) > files.rlim_cur - reserve) {
        const int fit = static_cast<int>(files.rlim_cur - reserve);
        if (m.handlers.Note)
            m.handlers.Note("at most " + std::to_string(fit) + " connections at once (of " +
                            std::to_string(m.limits.Connections) +
                            " asked): the system allows this process " +
                            std::to_string(files.rlim_cur) + " open files");
        m.limits.Connections = fit;
        limits_.Connections = fit;
    }
    const unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME |
                           MHD_USE_TURBO | MHD_USE_ERROR_LOG;
    m.daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Impl::OnRequest, &m, MHD_OPTION_EXTERNAL_LOGGER,
        &Impl::OnLibraryMessage, &m, MHD_OPTION_LISTEN_SOCKET, m.listenFd,
        MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(std::max(1, m.limits.EventThreads)),
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(std::max(1, m.limits.Connections)),
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(std::max(0, m.limits.PerAddress)),
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(std::max(1, m.limits.IdleSeconds)),
        // The head is read into the connection's own memory: a head larger than it is refused
        // there, so no client can make the server hold more than this per connection.
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(m.limits.HeadBytes * 2),
        MHD_OPTION_URI_LOG_CALLBACK, &Impl::OnRequestLine, &m, MHD_OPTION_NOTIFY_COMPLETED,
        &Impl::OnCompleted, &m, MHD_OPTION_NOTIFY_CONNECTION, &Impl::OnConnection, &m,
        MHD_OPTION_END);
    if (!m.daemon) throw std::runtime_error("the HTTP server could not start");
    m.stopping = false;
    for (int i = 0; i < std::max(1, m.limits.Workers); ++i)
        m.workers.emplace_back([&m] { m.Work(); });
    m.sweepStop = false;
    m.sweeper = std::thread([&m] { m.Sweep(); });
}

void THttpFront::Stop() {
    Impl& m = *impl_;
    if (!m.daemon) return;
    // No new connections; the listening socket stays ours and is closed with the front.
    MHD_quiesce_daemon(m.daemon);
    // Requests under way (a submission waiting for its commit) are answered first.
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < until) {
        {
            std::lock_guard lock(m.jobsMutex);
            if (m.jobs.empty() && m.requestsUnderWay.load() == 0) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    {
        std::lock_guard lock(m.jobsMutex);
        m.stopping = true;
    }
    m.jobsReady.notify_all();
    for (std::thread& t : m.workers) t.join();
    m.workers.clear();
    {
        std::lock_guard lock(m.sweepMutex);
        m.sweepStop = true;
    }
    m.sweepWake.notify_all();
    if (m.sweeper.joinable()) m.sweeper.join();
    MHD_stop_daemon(m.daemon);
    m.daemon = nullptr;
}

std::optional<TByteRange> SingleRange(const std::string& header, size_t size, bool* unsatisfiable) {
    if (unsatisfiable) *unsatisfiable = false;
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::string wanted = header.substr(prefix.size());
    if (wanted.find(',') != std::string::npos) return std::nullopt;
    const size_t dash = wanted.find('-');
    if (dash == std::string::npos) return std::nullopt;
    auto number = [](const std::string& s, uint64_t& out) {
        if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos)
            return false;
        out = std::stoull(s);
        return true;
    };
    uint64_t first = 0, last = 0;
    const std::string a = wanted.substr(0, dash), b = wanted.substr(dash + 1);
    if (a.empty()) {  // the last b bytes
        if (!number(b, last) || last == 0) return std::nullopt;
        if (size == 0) {
            if (unsatisfiable) *unsatisfiable = true;
            return std::nullopt;
        }
        const uint64_t n = std::min<uint64_t>(last, size);
        return TByteRange{static_cast<size_t>(size - n), static_cast<size_t>(n)};
    }
    if (!number(a, first)) return std::nullopt;
    if (b.empty())
        last = size ? size - 1 : 0;
    else if (!number(b, last) || last < first)
        return std::nullopt;
    if (first >= size) {
        if (unsatisfiable) *unsatisfiable = true;
        return std::nullopt;
    }
    last = std::min<uint64_t>(last, size - 1);
    return TByteRange{static_cast<size_t>(first), static_cast<size_t>(last - first + 1)};
}

}  // namespace zx::server
