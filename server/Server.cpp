#include "server/Server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "server/Html.h"
#include "server/Submission.h"

namespace zx::server {
namespace fs = std::filesystem;

int64_t SystemClock() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

namespace {

const char* TypeOf(const fs::path& p) {
    const std::string ext = p.extension().string();
    if (ext == ".html" || ext == ".htm") return "text/html; charset=utf-8";
    if (ext == ".txt") return "text/plain; charset=utf-8";
    if (ext == ".css") return "text/css";
    if (ext == ".png") return "image/png";
    if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
    if (ext == ".gif") return "image/gif";
    return nullptr;  // anything else in the folder is not served
}

// Each request's start, for its log line; the logger runs on the thread that served it.
thread_local std::chrono::steady_clock::time_point requestStart;

const char* const kAnswerType = "text/plain";

}  // namespace

std::optional<std::string> RawQueryValue(const std::string& target, const std::string& name) {
    const size_t q = target.find('?');
    if (q == std::string::npos) return std::nullopt;
    size_t at = q + 1;
    while (at <= target.size()) {
        size_t end = target.find('&', at);
        if (end == std::string::npos) end = target.size();
        const std::string_view pair(target.data() + at, end - at);
        if (pair.size() > name.size() && pair.substr(0, name.size()) == name &&
            pair[name.size()] == '=')
            return std::string(pair.substr(name.size() + 1));
        at = end + 1;
    }
    return std::nullopt;
}

TZolvexServer::TZolvexServer(TServerOptions options, std::shared_ptr<IScoreStore> store,
                             TClock clock)
    : options_(std::move(options)), store_(std::move(store)), clock_(std::move(clock)),
      limiter_(options_.SubmitPerMinute, options_.SubmitBurst),
      http_(std::make_unique<httplib::Server>()) {
    LoadPages();
    Routes();
}

TZolvexServer::~TZolvexServer() = default;

void TZolvexServer::ReloadPages() {
    LoadPages();
    if (options_.LogRequests) {
        std::lock_guard lock(logMutex_);
        std::fprintf(stderr, "zolvex-server: pages read again from %s\n",
                     options_.PagesDir.c_str());
    }
}

// The pages are read whole into a new table and swapped in at once: a request sees the old set or
// the new one, never half of each, and a folder that cannot be read leaves the old set serving.
void TZolvexServer::LoadPages() {
    auto pages = std::make_shared<std::map<std::string, Page>>();
    const fs::path root(options_.PagesDir);
    if (!fs::is_directory(root)) throw std::runtime_error("no pages folder " + root.string());
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const char* type = TypeOf(entry.path());
        if (!type) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream body;
        body << in.rdbuf();
        (*pages)[fs::relative(entry.path(), root).generic_string()] = {body.str(), type};
    }
    if (!pages->count("index.html")) throw std::runtime_error("no index.html in " + root.string());
    pages_.store(std::move(pages));
}

void TZolvexServer::Routes() {
    httplib::Server& h = *http_;
    // The pool is handed to the library, which owns and deletes it.
    const size_t threads = static_cast<size_t>(std::max(2, options_.Threads));
    h.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    h.set_read_timeout(options_.ReadTimeoutSeconds, 0);
    h.set_write_timeout(options_.WriteTimeoutSeconds, 0);
    h.set_keep_alive_timeout(options_.KeepAliveSeconds);
    h.set_keep_alive_max_count(1000);
    h.set_payload_max_length(64 * 1024);  // nothing here takes a body
    h.set_tcp_nodelay(true);

    h.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        requestStart = std::chrono::steady_clock::now();
        // Many ranges of one small file would be answered as a body many times its size; only a
        // request of a single range gets a part, any other the whole file. The request is the
        // library's own, handed over as const only by its interface.
        if (req.ranges.size() > 1) const_cast<httplib::Request&>(req).ranges.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    {
        h.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            metrics_.Request(RouteOf(req.path), res.status);
            if (!options_.LogRequests) return;
            // A request refused before routing (a request line too long) has no start.
            const bool timed = requestStart != std::chrono::steady_clock::time_point{};
            const auto us = timed ? std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - requestStart)
                                        .count()
                                  : 0;
            requestStart = {};
            const std::string address = AddressOf(req);
            const std::string method = req.method.empty() ? "-" : req.method.substr(0, 10);
            // The path only: the query carries players' details.
            std::string path = req.path.substr(0, 200);
            for (char& c : path)
                if (static_cast<unsigned char>(c) < 32 || c == '"') c = '?';
            char line[512];
            std::snprintf(line, sizeof line, "%s \"%s %s\" %d %zu %.1fms\n",
                          address.empty() ? "-" : address.c_str(), method.c_str(), path.c_str(),
                          res.status, res.body.size(), us / 1000.0);
            std::lock_guard lock(logMutex_);
            std::fputs(line, stderr);
        });
    }

    h.Get("/zvxinternal", [this](const httplib::Request& req, httplib::Response& res) {
        ServePage("index.html", req, res);
    });
    h.Get("/zvxinternal/highscore.html",
          [this](const httplib::Request&, httplib::Response& res) { ServeHighscores(res); });
    h.Get("/zvxinternal/(.*)", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string key = req.matches[1].str();
        ServePage(key.empty() ? "index.html" : key, req, res);
    });
    h.Get("/game/game_zolvex.html", [this](const httplib::Request& req, httplib::Response& res) {
        ServePage("campaign/game_zolvex.html", req, res);
    });
    // For a collector on this machine only: nginx passes none of its requests here, and a request
    // that came through a proxy carries X-Real-IP.
    h.Get("/metrics", [this](const httplib::Request& req, httplib::Response& res) {
        const bool loopback = req.remote_addr == "127.0.0.1" || req.remote_addr == "::1" ||
                              req.remote_addr == "::ffff:127.0.0.1";
        if (!loopback || req.has_header("X-Real-IP") || req.has_header("X-Forwarded-For")) {
            res.status = 404;
            return;
        }
        std::optional<uint64_t> wal;
        if (!options_.DataDir.empty()) {
            std::error_code ec;
            const auto size = fs::file_size(fs::path(options_.DataDir) / "scores.db-wal", ec);
            wal = ec ? 0 : static_cast<uint64_t>(size);
        }
        res.set_content(metrics_.Text(wal), "text/plain; version=0.0.4");
    });
    h.Get("/score2.php", [this](const httplib::Request& req, httplib::Response& res) {
        auto [status, body] = Submit(req.target, AddressOf(req));
        res.status = status;
        res.set_content(body, kAnswerType);
    });
    h.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content("Error=" + std::to_string(res.status) + "\r\n", kAnswerType);
    });
    h.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            res.status = 500;
            res.set_content("Error=The server failed; please try again later\r\n", kAnswerType);
        });
}

std::string TZolvexServer::AddressOf(const httplib::Request& req) const {
    if (options_.TrustProxy && req.has_header("X-Real-IP"))
        return req.get_header_value("X-Real-IP").substr(0, 64);
    return req.remote_addr;
}

void TZolvexServer::ServePage(const std::string& key, const httplib::Request& req,
                              httplib::Response& res) const {
    const std::shared_ptr<const std::map<std::string, Page>> pages = pages_.load();
    auto it = pages->find(key);
    if (it == pages->end()) {
        res.status = 404;
        return;
    }
    const Page& page = it->second;
    if (key != "version.txt") {
        res.set_content(page.body, page.type.c_str());
        return;
    }
    // The download page lives under whichever name the server is reached by (www or bare).
    std::string host = req.get_header_value("Host");
    if (host.empty() || host.size() > 253 ||
        host.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]") !=
            std::string::npos)
        host = "localhost";
    std::string body = page.body;
    for (size_t at = body.find("{host}"); at != std::string::npos;
         at = body.find("{host}", at + host.size()))
        body.replace(at, 6, host);
    res.set_content(body, page.type.c_str());
}

void TZolvexServer::ServeHighscores(httplib::Response& res) {
    const int64_t now = clock_(), week = WeekStartOf(now);
    std::lock_guard lock(highscoreMutex_);
    const uint64_t version = scoresVersion_.load();
    // Scores that other servers take show up here with the next second.
    const bool aged = store_->SharedWithOtherServers() && now != cachedAt_;
    if (version != cachedVersion_ || week != cachedWeek_ || aged) {
        try {
            cachedHighscores_ = HighscorePage(store_->Top(20, std::nullopt), store_->Top(20, week),
                                              DayCaption(week));
        } catch (const std::exception& e) {
            {
                std::lock_guard logLock(logMutex_);
                std::fprintf(stderr, "zolvex-server: reading the highscores failed: %s\n",
                             e.what());
            }
            cachedVersion_ = 0;
            res.status = 503;
            res.set_content(
                "Error=The highscore list cannot be read just now; please try again later\r\n",
                kAnswerType);
            return;
        }
        cachedVersion_ = version;
        cachedWeek_ = week;
        cachedAt_ = now;
    }
    res.set_content(cachedHighscores_, "text/html; charset=utf-8");
}

std::pair<int, std::string> TZolvexServer::Submit(const std::string& target,
                                                  const std::string& address) {
    if (!limiter_.Allow(address)) {
        metrics_.Submission("rate_limited");
        return {429,
                "Error=Too many scores from your address; please try again in a few minutes\r\n"};
    }
    const std::optional<std::string> cs = RawQueryValue(target, "cs");
    const TReadResult read = ReadSubmission(cs ? *cs : std::string(), options_.Level.get());
    if (!read.Submission) {
        metrics_.Submission(read.Error);
        if (options_.LogRequests) {
            std::lock_guard lock(logMutex_);
            std::fprintf(stderr, "zolvex-server: refused a score from %s: %s\n", address.c_str(),
                         read.Error.c_str());
        }
        return {200, FormatAnswer({{"Error", read.Error}})};
    }
    const int64_t now = clock_();
    TSubmitOutcome out;
    try {
        const auto start = std::chrono::steady_clock::now();
        out = store_->Submit(*read.Submission, address, now, WeekStartOf(now));
        metrics_.Commit(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    } catch (const std::exception& e) {
        metrics_.Submission("store_failed");
        std::lock_guard lock(logMutex_);
        std::fprintf(stderr, "zolvex-server: storing a score failed: %s\n", e.what());
        return {503,
                "Error=The highscore list cannot be written just now; please try again later\r\n"};
    }
    if (!out.Accepted) {
        metrics_.Submission("replay");
        return {200, FormatAnswer({{"Error", "This score was published before"}})};
    }
    metrics_.Submission("accepted");
    ++scoresVersion_;
    std::vector<std::pair<std::string, std::string>> lines;
    if (out.NewPlayerId) lines.emplace_back("ID", out.PlayerId);
    lines.emplace_back("Rang", std::to_string(out.Rank));
    if (out.OldRank) lines.emplace_back("Alterrang", std::to_string(*out.OldRank));
    lines.emplace_back("Platz1", std::to_string(out.Top));
    lines.emplace_back("wRang", std::to_string(out.WeekRank));
    if (out.WeekOldRank) lines.emplace_back("wAlterrang", std::to_string(*out.WeekOldRank));
    lines.emplace_back("wPlatz1", std::to_string(out.WeekTop));
    return {200, FormatAnswer(lines)};
}

std::pair<int, std::string> TZolvexServer::AnswerSubmission(const std::string& target,
                                                            const std::string& address) {
    return Submit(target, address);
}

int TZolvexServer::Bind() {
    // Without SO_REUSEPORT: a second server on the same port must fail to start, not share the
    // traffic with this one. The socket is kept to be listened on again with a longer backlog:
    // Debian's library listens with one of 5, and of a burst of new connections (nginx opening
    // upstream connections) some would be dropped and retried by TCP a second later.
    http_->set_socket_options([this](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listenSocket_ = sock;
    });
    int port = options_.Port;
    if (port == 0) {
        port = http_->bind_to_any_port(options_.Host);
        if (port <= 0) throw std::runtime_error("cannot listen on " + options_.Host);
    } else if (!http_->bind_to_port(options_.Host, port)) {
        throw std::runtime_error("cannot listen on " + options_.Host + ":" + std::to_string(port) +
                                 " (in use by another program, or not an address of this machine)");
    }
    if (listenSocket_ >= 0) ::listen(listenSocket_, 1024);
    return port;
}

void TZolvexServer::Run() {
    runEntered_ = true;
    if (!stopRequested_) http_->listen_after_bind();
    runExited_ = true;
}

void TZolvexServer::Stop() {
    stopRequested_ = true;
    // A stop that comes while Run is starting to listen would find nothing to stop yet.
    while (runEntered_ && !runExited_ && !http_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    http_->stop();
}

void TZolvexServer::WaitUntilListening() {
    while (!http_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace zx::server
