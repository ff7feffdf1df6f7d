#include "server/Server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/Encoding.h"
#include "server/Html.h"
#include "server/Submission.h"
#include "server/WholeFile.h"

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
    if (ext == ".js") return "text/javascript";
    if (ext == ".wasm") return "application/wasm";
    if (ext == ".data") return "application/octet-stream";
    return nullptr;  // anything else in the folder is not served
}

const char* const kAnswerType = "text/plain";

// Pictures are compressed already; text, code and the game's packed files are not.
bool Compressible(const std::string& type) {
    return type.rfind("text/", 0) == 0 || type == "application/wasm" ||
           type == "application/octet-stream";
}

// A regular file's bytes; nothing for a link put in its place since the folder was listed.
std::optional<std::string> ReadPage(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> body;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        body.emplace();
        char buf[65536];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) body->append(buf, static_cast<size_t>(n));
        if (n < 0) body.reset();
    }
    close(fd);
    return body;
}

// The game's files in its folder: the page and the files its loader fetches, side by side; nothing
// below it, no link, nothing else that lies there.
std::vector<fs::path> PlayFolderFiles(const std::string& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (dir.empty()) return files;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (!TypeOf(entry.path()) || entry.is_symlink() || !entry.is_regular_file()) continue;
        if (name == "play.html" || name.rfind("zolvex-play.", 0) == 0)
            files.push_back(entry.path());
    }
    return files;
}

// A compressed form of one of the game's files made beforehand, named by the fingerprint of the
// body it holds: a form left from another build is never sent for this one.
fs::path StoredForm(const std::string& file, const std::string& tag, const char* ext) {
    return fs::path(file + "." + tag + ext);
}

bool IsStoredFormOf(const std::string& name, const std::string& file) {
    const size_t tail = 1 + 16 + 3;  // ".<fingerprint>.gz"
    if (name.size() != file.size() + tail || name.compare(0, file.size(), file) != 0) return false;
    const std::string ext = name.substr(name.size() - 3);
    return name[file.size()] == '.' && (ext == ".gz" || ext == ".br") &&
           name.find_first_not_of("0123456789abcdef", file.size() + 1) == name.size() - 3;
}

// A page's path with a "." or ".." step, or an empty one, names nothing in the folder.
bool PlainPagePath(const std::string& key) {
    size_t at = 0;
    for (;;) {
        const size_t end = std::min(key.find('/', at), key.size());
        const std::string_view step(key.data() + at, end - at);
        if (step.empty() || step == "." || step == "..") return false;
        if (end == key.size()) return true;
        at = end + 1;
    }
}

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
      http_(std::make_unique<THttpFront>(Limits(), Handlers())) {
    LoadPages();
    if (!options_.ReplayDir.empty()) {
        TReplayQueueOptions q;
        q.Folder = options_.ReplayDir;
        q.Verifier = options_.Verifier;
        q.Workers = std::max(1, options_.VerifyWorkers);
        q.Capacity = std::max<size_t>(1, options_.VerifyQueue);
        q.Deadline = std::chrono::seconds(std::max(1, options_.VerifySeconds));
        q.Log = [this](const std::string& line) { Log(line); };
        replays_ = std::make_unique<TReplayQueue>(
            q, [this](const std::string& code, const TVerifierRun& run) { Judge(code, run); });
        replays_->Start();
    }
}

// The front goes first: no request is left waiting on a queue that is gone.
TZolvexServer::~TZolvexServer() {
    http_.reset();
    replays_.reset();
}

void TZolvexServer::Log(const std::string& line) {
    if (!options_.LogRequests) return;
    std::lock_guard lock(logMutex_);
    std::fprintf(stderr, "zolvex-server: %s\n", line.c_str());
}

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
// Each page is known by its own path in the folder. A symbolic link is served only when it ends at
// a file inside the folder: one to /etc/passwd must not become a page, under any name.
void TZolvexServer::LoadPages() {
    auto pages = std::make_shared<std::map<std::string, Page>>();
    const fs::path root(options_.PagesDir);
    if (!fs::is_directory(root)) throw std::runtime_error("no pages folder " + root.string());
    const fs::path realRoot = fs::canonical(root);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const char* type = TypeOf(entry.path());
        if (!type) continue;
        fs::path file = entry.path();
        if (entry.is_symlink()) {
            std::error_code ec;
            file = fs::canonical(entry.path(), ec);
            const fs::path inside = file.lexically_relative(realRoot);
            if (ec || inside.empty() || *inside.begin() == "..") continue;
        }
        std::optional<std::string> body = ReadPage(file);
        if (!body) continue;
        (*pages)[entry.path().lexically_relative(root).generic_string()] =
            MakePage(std::move(*body), type);
    }
    if (!pages->count("index.html")) throw std::runtime_error("no index.html in " + root.string());
    std::shared_ptr<const PlayFiles> play = LoadPlay(options_.PlayDir);
    pages_.store(std::move(pages));
    play_.store(std::move(play));
}

TZolvexServer::Page TZolvexServer::MakePage(std::string body, const char* type,
                                            const std::string& file) {
    Page page;
    page.type = type;
    page.tag = Fingerprint(body);
    if (Compressible(page.type) && body.size() >= 256) {
        // The game's large files would cost seconds of every start to compress.
        std::optional<std::string> gz, br;
        if (!file.empty()) {
            gz = ReadPage(StoredForm(file, page.tag, ".gz"));
            br = ReadPage(StoredForm(file, page.tag, ".br"));
        }
        if (!gz) gz = GzipBody(body);
        if (!br) br = BrotliBody(body);
        if (gz->size() < body.size())
            page.gzip = std::make_shared<const std::string>(std::move(*gz));
        if (br->size() < body.size())
            page.brotli = std::make_shared<const std::string>(std::move(*br));
    }
    page.body = std::make_shared<const std::string>(std::move(body));
    return page;
}

// The game's folder holds the page and the files its loader fetches, side by side; nothing below
// it is served. The page names its files with the set's version, which it is given here.
std::shared_ptr<const TZolvexServer::PlayFiles> TZolvexServer::LoadPlay(const std::string& dir) {
    auto play = std::make_shared<PlayFiles>();
    std::map<std::string, std::string> bodies;
    std::string all;
    for (const fs::path& file : PlayFolderFiles(dir)) {
        const std::string name = file.filename().string();
        std::optional<std::string> body = ReadPage(file);
        if (!body) continue;
        if (name != "play.html") all += name + "\n" + Fingerprint(*body) + "\n";
        bodies[name] = std::move(*body);
    }
    if (!bodies.count("play.html")) return play;
    play->version = Fingerprint(all);
    std::string& html = bodies["play.html"];
    for (size_t at = html.find("{version}"); at != std::string::npos;
         at = html.find("{version}", at + play->version.size()))
        html.replace(at, 9, play->version);
    for (auto& [name, body] : bodies)
        play->files[name] = MakePage(std::move(body), TypeOf(fs::path(name)),
                                     name == "play.html" ? "" : (fs::path(dir) / name).string());
    return play;
}

void StorePlayForms(const std::string& dir) {
    const std::vector<fs::path> files = PlayFolderFiles(dir);
    if (files.empty()) throw std::runtime_error("no files of the game in " + dir);
    std::vector<std::string> names, keep;
    std::vector<std::future<void>> work;
    for (const fs::path& file : files) {
        // The page is changed at every load, and small: compressed then.
        if (file.filename() == "play.html") continue;
        std::optional<std::string> read = ReadPage(file);
        if (!read) throw std::runtime_error("cannot read " + file.string());
        names.push_back(file.filename().string());
        if (!Compressible(TypeOf(file)) || read->size() < 256) continue;
        auto body = std::make_shared<const std::string>(std::move(*read));
        const std::string tag = Fingerprint(*body);
        for (const char* ext : {".gz", ".br"}) {
            const fs::path form = StoredForm(file.string(), tag, ext);
            keep.push_back(form.filename().string());
            if (fs::is_regular_file(form)) continue;
            const bool gzip = ext[1] == 'g';
            // Each form on a thread of its own: the largest takes a minute at Brotli's best.
            work.push_back(std::async(std::launch::async, [body, form, gzip] {
                WriteWhole(form.string(), gzip ? GzipBody(*body) : BrotliBody(*body, true), 0644);
            }));
        }
    }
    for (auto& w : work) w.get();
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        // A form whose writing was cut off is left as its temporary file.
        if (name.ends_with(".tmp"))
            name.resize(name.size() - 4);
        else if (std::find(keep.begin(), keep.end(), name) != keep.end())
            continue;
        for (const std::string& file : names)
            if (IsStoredFormOf(name, file)) fs::remove(entry.path());
    }
}

// /play/ is the page; the files beside it are asked for with the version the page was given. A
// file asked for by the current version never changes under that address and may be kept for a
// year; the page itself, and a file asked for otherwise, is checked again each time.
void TZolvexServer::ServePlay(const std::string& name, const THttpRequest& req,
                              THttpAnswer& res) const {
    const std::shared_ptr<const PlayFiles> play = play_.load();
    const std::string key = name.empty() ? "play.html" : name;
    auto it = play->files.find(key);
    if (it == play->files.end() || (key == "play.html" && !name.empty())) {
        res.Status = 404;
        return;
    }
    const std::optional<std::string> v = RawQueryValue(req.Target, "v");
    const bool versioned = key != "play.html" && v && *v == play->version;
    res.Headers.emplace_back("Cache-Control",
                             versioned ? "public, max-age=31536000, immutable" : "no-cache");
    SendWhole(it->second, req, res);
}

// The whole body in the best form the client takes, or 304 when the client holds that form.
void TZolvexServer::SendWhole(const Page& page, const THttpRequest& req, THttpAnswer& res) {
    const TEncoding enc = PreferredEncoding(req.Header("Accept-Encoding"), page.gzip != nullptr,
                                            page.brotli != nullptr);
    const std::string token = EncodingToken(enc);
    const std::string tag = "\"" + page.tag + (token.empty() ? "" : "-" + token) + "\"";
    res.Type = page.type;
    res.Headers.emplace_back("ETag", tag);
    if (page.gzip || page.brotli) res.Headers.emplace_back("Vary", "Accept-Encoding");
    const std::string held = req.Header("If-None-Match");
    if (!held.empty() && (held == tag || held == "*" || held.find(tag) != std::string::npos)) {
        res.Status = 304;
        return;
    }
    if (!token.empty()) res.Headers.emplace_back("Content-Encoding", token);
    res.Body = enc == TEncoding::Gzip     ? page.gzip
               : enc == TEncoding::Brotli ? page.brotli
                                          : page.body;
}

THttpHandlers TZolvexServer::Handlers() {
    THttpHandlers h;
    h.Answer = [this](const THttpRequest& req, THttpAnswer& res) { Route(req, res); };
    // A score waits for its commit, and the highscore page is read from the store when it has
    // changed: both may take a while, and an event thread must never wait.
    h.OnWorker = [this](const THttpRequest& req) {
        if (req.Path == "/score2.php" || req.Path == "/replay.php") return true;
        return req.Path == "/zvxinternal/highscore.html" && !FreshHighscores(clock_());
    };
    h.BodyLimit = [this](const THttpRequest& req) -> size_t {
        return replays_ && req.Method == "POST" && req.Path == "/replay.php" ? kMaxReplayBytes : 0;
    };
    h.Queued = [this](const THttpRequest& req, const THttpAnswer& res) {
        metrics_.Request(RouteOf(req.Path), res.Status);
    };
    h.Done = [this](const THttpRequest& req, const THttpAnswer& res, double ms) {
        Logged(req, res, ms);
    };
    h.LibraryAnswered = [this](int status) {
        metrics_.Request("other", status);
        if (!options_.LogRequests) return;
        std::lock_guard lock(logMutex_);
        std::fprintf(stderr, "- \"- -\" %d 0 -\n", status);
    };
    h.Unanswered = [this] { metrics_.Unanswered(); };
    h.Note = [this](const std::string& text) {
        if (!options_.LogRequests) return;
        std::lock_guard lock(logMutex_);
        std::fprintf(stderr, "zolvex-server: %s\n", text.c_str());
    };
    return h;
}

THttpLimits TZolvexServer::Limits() const {
    THttpLimits l;
    l.HeaderSeconds = std::max(1, options_.HeaderSeconds);
    l.IdleSeconds = std::max(1, options_.IdleSeconds);
    l.PerAddress = options_.TrustProxy ? 0 : std::max(0, options_.PerAddress);
    l.Connections = std::max(1, options_.Connections);
    l.Workers = std::max(2, options_.Threads);
    return l;
}

void TZolvexServer::Logged(const THttpRequest& req, const THttpAnswer& res, double ms) {
    if (!options_.LogRequests) return;
    const std::string address = AddressOf(req);
    const std::string method = req.Method.empty() ? "-" : req.Method.substr(0, 10);
    // The path only: the query carries players' details.
    std::string path = req.Path.substr(0, 200);
    for (char& c : path)
        if (static_cast<unsigned char>(c) < 32 || c == '"') c = '?';
    char line[512];
    std::snprintf(line, sizeof line, "%s \"%s %s\" %d %zu %.1fms\n",
                  address.empty() ? "-" : address.c_str(), method.c_str(), path.c_str(), res.Status,
                  res.Size(), ms);
    std::lock_guard lock(logMutex_);
    std::fputs(line, stderr);
}

void TZolvexServer::Route(const THttpRequest& req, THttpAnswer& res) {
    const std::string& path = req.Path;
    const bool get = req.Method == "GET" || req.Method == "HEAD";
    static const std::string kInternal = "/zvxinternal";
    if (path == "/replay.php" && req.Method == "POST") {
        SubmitReplay(req, res);
    } else if (!get) {
        res.Status = 404;
    } else if (path == kInternal || path == kInternal + "/") {
        ServePage("index.html", req, res);
    } else if (path == kInternal + "/highscore.html") {
        ServeHighscores(res);
    } else if (path.compare(0, kInternal.size() + 1, kInternal + "/") == 0) {
        ServePage(path.substr(kInternal.size() + 1), req, res);
    } else if (path == "/play") {
        res.Status = 301;
        res.Headers.emplace_back("Location", "/play/");
    } else if (path.compare(0, 6, "/play/") == 0) {
        ServePlay(path.substr(6), req, res);
    } else if (path == "/game/game_zolvex.html") {
        ServePage("campaign/game_zolvex.html", req, res);
    } else if (path == "/metrics") {
        ServeMetrics(req, res);
    } else if (path == "/score2.php") {
        auto [status, body] = Submit(req.Target, AddressOf(req));
        res.Status = status;
        res.SetText(std::move(body), kAnswerType);
    } else {
        res.Status = 404;
    }
    if (res.Status >= 400 && !res.Body)
        res.SetText("Error=" + std::to_string(res.Status) + "\r\n", kAnswerType);
}

// For a collector on this machine only: nginx passes none of its requests here, and a request that
// came through a proxy carries X-Real-IP.
void TZolvexServer::ServeMetrics(const THttpRequest& req, THttpAnswer& res) {
    const std::string& from = req.RemoteAddress;
    const bool loopback = from == "127.0.0.1" || from == "::1" || from == "::ffff:127.0.0.1";
    if (!loopback || req.HasHeader("X-Real-IP") || req.HasHeader("X-Forwarded-For")) {
        res.Status = 404;
        return;
    }
    std::optional<uint64_t> wal;
    if (!options_.DataDir.empty()) {
        std::error_code ec;
        const auto size = fs::file_size(fs::path(options_.DataDir) / "scores.db-wal", ec);
        wal = ec ? 0 : static_cast<uint64_t>(size);
    }
    std::optional<uint64_t> pending;
    if (replays_) pending = replays_->Size();
    res.SetText(metrics_.Text(wal, pending), "text/plain; version=0.0.4");
}

std::string TZolvexServer::AddressOf(const THttpRequest& req) const {
    if (options_.TrustProxy && req.HasHeader("X-Real-IP"))
        return req.Header("X-Real-IP").substr(0, 64);
    return req.RemoteAddress;
}

void TZolvexServer::ServePage(const std::string& key, const THttpRequest& req,
                              THttpAnswer& res) const {
    const std::shared_ptr<const std::map<std::string, Page>> pages = pages_.load();
    auto it = PlainPagePath(key) ? pages->find(key) : pages->end();
    if (it == pages->end()) {
        res.Status = 404;
        return;
    }
    const Page& page = it->second;
    res.Type = page.type;
    const std::string range = req.Header("Range");
    if (key != "version.txt" && range.empty()) {
        res.Headers.emplace_back("Accept-Ranges", "bytes");
        return SendWhole(page, req, res);
    }
    if (key != "version.txt") {
        res.Body = page.body;
    } else {
        // The download page lives under whichever name the server is reached by (www or bare).
        std::string host = req.Header("Host");
        if (host.empty() || host.size() > 253 ||
            host.find_first_not_of(
                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]") !=
                std::string::npos)
            host = "localhost";
        std::string body = *page.body;
        for (size_t at = body.find("{host}"); at != std::string::npos;
             at = body.find("{host}", at + host.size()))
            body.replace(at, 6, host);
        res.Body = std::make_shared<const std::string>(std::move(body));
    }
    res.Headers.emplace_back("Accept-Ranges", "bytes");
    if (range.empty()) return;
    // Many ranges of one small file would be answered as a body many times its size; only a request
    // of a single range gets a part, any other the whole file.
    bool unsatisfiable = false;
    const size_t size = res.Body->size();
    if (auto part = SingleRange(range, size, &unsatisfiable)) {
        res.Status = 206;
        res.Offset = part->Offset;
        res.Length = part->Length;
        res.Headers.emplace_back("Content-Range",
                                 "bytes " + std::to_string(part->Offset) + "-" +
                                     std::to_string(part->Offset + part->Length - 1) + "/" +
                                     std::to_string(size));
    } else if (unsatisfiable) {
        res.Status = 416;
        res.Body = nullptr;
        res.Headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
    }
}

int64_t TZolvexServer::CurrentModeration() const {
    try {
        // Hiding and refusing happen in another process; the page follows at once. A shared
        // store's page is read again each second anyway.
        return store_->SharedWithOtherServers() ? 0 : store_->ModerationGeneration();
    } catch (const std::exception&) {
        return -1;  // unknown: read the page afresh
    }
}

std::shared_ptr<const TZolvexServer::THighscoreCache> TZolvexServer::FreshHighscores(
    int64_t now) const {
    auto cache = highscores_.load();
    if (!cache || cache->Version != scoresVersion_.load() || cache->Week != WeekStartOf(now))
        return nullptr;
    // Scores that other servers take show up here with the next second.
    if (store_->SharedWithOtherServers() ? now != cache->At
                                         : cache->Moderation != CurrentModeration())
        return nullptr;
    return cache;
}

void TZolvexServer::ServeHighscores(THttpAnswer& res) {
    const int64_t now = clock_(), week = WeekStartOf(now);
    res.Type = "text/html; charset=utf-8";
    if (auto cache = FreshHighscores(now)) {
        res.Body = cache->Page;
        return;
    }
    const uint64_t failures = highscoreFailures_.load();
    std::lock_guard lock(highscoreMutex_);
    if (auto cache = FreshHighscores(now)) {  // made meanwhile by another request
        res.Body = cache->Page;
        return;
    }
    // The request ahead waited for the store until its deadline and failed: the ones that waited
    // behind it are answered at once instead of each waiting as long again.
    if (highscoreFailures_.load() != failures) {
        UnreadableHighscores(res);
        return;
    }
    auto cache = std::make_shared<THighscoreCache>();
    cache->Version = scoresVersion_.load();
    cache->Moderation = CurrentModeration();
    cache->Week = week;
    cache->At = now;
    try {
        cache->Page = std::make_shared<const std::string>(
            HighscorePage(store_->Top(20, std::nullopt), WeekList(week), DayCaption(week)));
    } catch (const std::exception& e) {
        {
            std::lock_guard logLock(logMutex_);
            std::fprintf(stderr, "zolvex-server: reading the highscores failed: %s\n", e.what());
        }
        highscores_.store(nullptr);
        ++highscoreFailures_;
        UnreadableHighscores(res);
        return;
    }
    if (cache->Moderation == -1) cache->Version = 0;  // never fresh: asked again next time
    res.Body = cache->Page;
    highscores_.store(std::move(cache));
}

// The week's list decides the prizes: only verified games, where the store knows of replays.
std::vector<THighscoreRow> TZolvexServer::WeekList(int64_t week) {
    if (!replays_) return store_->Top(20, week);
    return store_->VerifiedTop(20, week);
}

void TZolvexServer::UnreadableHighscores(THttpAnswer& res) {
    res.Status = 503;
    res.SetText("Error=The highscore list cannot be read just now; please try again later\r\n",
                kAnswerType);
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
    if (out.NameRefused) {
        metrics_.Submission("name_refused");
        std::lock_guard lock(logMutex_);
        std::fprintf(stderr, "zolvex-server: refused a score from %s: the name is refused\n",
                     address.c_str());
        return {200, FormatAnswer({{"Error", "This name is not accepted on the highscore list"}})};
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

// A replay is tied to its score by the same `cs=` value the score was published with; its body is
// the replay, gzip-compressed. The answer waits a while for the verdict: "Replay=verified", or
// "Replay=refused" with the reason as "Error", or "Replay=pending" (202) when it is still to come.
void TZolvexServer::SubmitReplay(const THttpRequest& req, THttpAnswer& res) {
    const auto answer = [&res](int status, std::vector<std::pair<std::string, std::string>> lines) {
        res.Status = status;
        res.SetText(FormatAnswer(lines), kAnswerType);
    };
    if (!replays_) return answer(404, {{"Error", "This server takes no replays"}});
    const std::optional<std::string> cs = RawQueryValue(req.Target, "cs");
    const TReadResult read = ReadSubmission(cs ? *cs : std::string(), options_.Level.get());
    if (!read.Submission) return answer(400, {{"Error", read.Error}});
    if (req.Body.empty()) return answer(400, {{"Error", "The replay is missing"}});
    const std::string& code = read.Submission->ScoreCode;
    const auto verdict = [&](const TStoredScore& s) {
        if (s.State == TReplayState::Verified) return answer(200, {{"Replay", "verified"}});
        if (s.State == TReplayState::Refused)
            return answer(200, {{"Replay", "refused"}, {"Error", s.Reason}});
        answer(202, {{"Replay", "pending"}});
    };
    std::optional<TStoredScore> stored;
    try {
        stored = store_->FindByCode(code);
        if (!stored) return answer(404, {{"Error", "No published score has this code"}});
        // A refusal need not be the player's last word: whoever saw the request line could have
        // sent a wrong replay first. Each score's replay may be refused a few times.
        if (stored->State == TReplayState::Unverified ||
            (stored->State == TReplayState::Refused && RefusalsOf(code) < kRefusalsPerScore)) {
            // Marked first: the verdict, which may come at once, is never overwritten by it.
            store_->SetReplayState(code, TReplayState::Pending, "");
            const TReplayOffer offer = replays_->Offer(code, req.Body);
            if (offer == TReplayOffer::Full) {
                store_->SetReplayState(code, TReplayState::Unverified, "");
                res.Headers.emplace_back("Retry-After", "60");
                return answer(503, {{"Error",
                                     "Too many games are being checked just now; please send "
                                     "the replay again later"}});
            }
        } else if (stored->State == TReplayState::Pending) {
            // Taken before and lost with a failed verdict's store: offered again.
            replays_->Offer(code, req.Body);
        }
        replays_->WaitFor(code, std::chrono::milliseconds(std::max(0, options_.ReplayWaitMs)));
        stored = store_->FindByCode(code);
    } catch (const std::exception& e) {
        Log(std::string("taking a replay failed: ") + e.what());
        res.Headers.emplace_back("Retry-After", "60");
        return answer(503,
                      {{"Error", "The replay cannot be taken just now; please try again later"}});
    }
    if (stored) verdict(*stored);
}

int TZolvexServer::RefusalsOf(const std::string& code) {
    std::lock_guard lock(refusalsMutex_);
    const auto it = refusals_.find(code);
    // Refused in an earlier run of the server: counted as one.
    return it == refusals_.end() ? 1 : it->second;
}

void TZolvexServer::Judge(const std::string& code, const TVerifierRun& run) {
    if (!run.Started) {
        Log("the verifier cannot be started: " + run.Err);
        throw std::runtime_error(run.Err);  // the replay stays for the next start
    }
    const std::optional<TStoredScore> stored = store_->FindByCode(code);
    if (!stored) return;  // its score is gone: nothing to decide
    const std::optional<std::string> why = VerdictOf(run, stored->Score, code);
    if (why) {
        std::lock_guard lock(refusalsMutex_);
        if (refusals_.size() >= 100000) refusals_.clear();  // a bound; they are rare
        ++refusals_[code];
    }
    store_->SetReplayState(code, why ? TReplayState::Refused : TReplayState::Verified,
                           why.value_or(""));
    metrics_.Replay(why ? "refused" : "verified", run.CpuSeconds);
    ++scoresVersion_;
    if (why)
        Log("refused the replay of score " + std::to_string(stored->Submission) + ": " + *why +
            (GaveNoVerdict(run) ? " (" + DescribeEnd(run) + ")" : ""));
}

std::pair<int, std::string> TZolvexServer::AnswerSubmission(const std::string& target,
                                                            const std::string& address) {
    return Submit(target, address);
}

int TZolvexServer::Bind() { return http_->Bind(options_.Host, options_.Port); }

int TZolvexServer::Bind(TListenSocket socket) { return http_->Adopt(std::move(socket)); }

void TZolvexServer::Run() {
    std::unique_lock lock(runMutex_);
    if (stopRequested_) return;
    try {
        http_->Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolvex-server: %s\n", e.what());
        stopRequested_ = true;
        runChanged_.notify_all();
        return;
    }
    listening_ = true;
    runChanged_.notify_all();
    runChanged_.wait(lock, [&] { return stopRequested_; });
    lock.unlock();
    http_->Stop();
}

void TZolvexServer::Stop() {
    std::lock_guard lock(runMutex_);
    stopRequested_ = true;
    runChanged_.notify_all();
}

void TZolvexServer::WaitUntilListening() {
    std::unique_lock lock(runMutex_);
    runChanged_.wait(lock, [&] { return listening_ || stopRequested_; });
}

}  // namespace zx::server
