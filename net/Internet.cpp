#include "net/Internet.h"

#include <zlib.h>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Paths.h"

#ifndef ZOLVEX_GAME_SERVER
#define ZOLVEX_GAME_SERVER "www.brightmoor.example"
#endif
#ifndef ZOLVEX_WEB_SITE
#define ZOLVEX_WEB_SITE "www.vantor.example"
#endif
#ifndef ZOLVEX_SCORE_SERVER
#define ZOLVEX_SCORE_SERVER "www.brightmoor.example"
#endif
#ifndef ZOLVEX_MAIL_SERVER
#define ZOLVEX_MAIL_SERVER "mail.brightmoor.example"
#endif
#ifndef ZOLVEX_MAIL_TO
#define ZOLVEX_MAIL_TO "zolvex@brightmoor.example"
#endif

namespace zx {
namespace {

std::string CfgOr(std::string_view key, std::string_view def) {
    std::string v;
    try {
        v = ReadProgCfg(key);
    } catch (const Exception&) {
        // An unreadable configuration leaves the built-in hosts.
    }
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.front()))) v.erase(v.begin());
    return v.empty() ? std::string(def) : v;
}

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What an answer's body may take: the whole body up to the cap; of an error status only the
// first words, which say why (a 500 with a page of 10 MB is not read to its end).
constexpr size_t kErrorBodyBytes = 4096;

struct Body {
    std::string data;
    size_t max = 0;
    bool tooLarge = false;
    long status = 0;     // of the last status line seen
    std::string reason;  // its reason phrase
};

size_t WriteBody(char* ptr, size_t size, size_t nmemb, void* userdata) {
    auto* body = static_cast<Body*>(userdata);
    const size_t n = size * nmemb;
    if (body->status >= 400) {
        const size_t room = kErrorBodyBytes - std::min(kErrorBodyBytes, body->data.size());
        body->data.append(ptr, std::min(n, room));
        return n <= room ? n : 0;  // enough to say why: the rest is not waited for
    }
    if (body->data.size() + n > body->max) {
        body->tooLarge = true;
        return 0;  // makes libcurl abort the transfer
    }
    body->data.append(ptr, n);
    return n;
}

// Each header line of each answer (also of the redirects followed): the status line gives the
// status and the server's reason phrase.
size_t KeepStatus(char* data, size_t size, size_t nitems, void* userdata) {
    auto* body = static_cast<Body*>(userdata);
    const std::string_view line(data, size * nitems);
    if (line.substr(0, 5) == "HTTP/") {
        // "HTTP/1.1 503 Service Unavailable"
        const size_t code = line.find(' ');
        if (code != std::string_view::npos) {
            body->status = std::atol(std::string(line.substr(code + 1, 3)).c_str());
            body->reason.clear();
            if (code + 5 < line.size()) body->reason = std::string(line.substr(code + 5));
            while (!body->reason.empty() &&
                   std::isspace(static_cast<unsigned char>(body->reason.back())))
                body->reason.pop_back();
        }
    }
    return size * nitems;
}

// A peer's text on one line: every control character and run of blanks one blank.
std::string OneLine(std::string_view text) {
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool blank = c < 0x20 || c == 0x7f || c == ' ';
        if (blank) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += ch;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// Reason phrases of a status line that came without one (HTTP/2 has none).
std::string_view StandardReason(long status) {
    switch (status) {
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 429: return "Too Many Requests";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        default: return {};
    }
}

// "HTTP 503 Service Unavailable: Error=The list cannot be written just now": the status, the
// server's reason phrase and the first words of its answer.
std::string StatusFailure(const Body& body) {
    std::string reason = ShortPeerText(OneLine(body.reason), 60);
    if (reason.empty()) reason = StandardReason(body.status);
    const std::string words = ShortPeerText(OneLine(body.data), 200);
    return "HTTP " + std::to_string(body.status) + (reason.empty() ? "" : " " + reason) +
           (words.empty() ? "" : ": " + words);
}

// Watches one libcurl transfer for its deadline and its cancel. libcurl asks the progress
// callback at least once a second, but not in every wait: once a transfer has failed it still
// says goodbye on the connection and waits for the answer (a mail server quiet after the message
// was waited for twice the total time). So the gate keeps a duplicate of each of the transfer's
// sockets, and when the time is up (a watch thread sees to it on time) or the transfer is
// cancelled it shuts them down: every wait on them ends at once and nothing more is sent.
class TTransferGate {
public:
    TTransferGate(const TTransfer* transfer, long totalTimeoutMs)
        : transfer_(transfer),
          deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(totalTimeoutMs)) {
        watch_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            if (!changed_.wait_until(lock, deadline_, [this] { return finished_; })) {
                timedOut_ = true;
                ShutLocked();
            }
        });
    }
    ~TTransferGate() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
        watch_.join();
        // libcurl has closed its own descriptors (no connection is kept): these were the last.
        for (const int fd : sockets_) close(fd);
    }
    TTransferGate(const TTransferGate&) = delete;
    TTransferGate& operator=(const TTransferGate&) = delete;

    bool TimedOut() const { return timedOut_; }

    static int Progress(void* clientp, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* gate = static_cast<TTransferGate*>(clientp);
        const bool cancelled = gate->transfer_ && gate->transfer_->Cancelled();
        if (!cancelled && std::chrono::steady_clock::now() < gate->deadline_) return 0;
        std::lock_guard lock(gate->mutex_);
        if (!cancelled) gate->timedOut_ = true;
        gate->ShutLocked();
        return 1;
    }

    // Every socket libcurl makes for the transfer, before it connects.
    static int SocketMade(void* clientp, curl_socket_t fd, curlsocktype) {
        auto* gate = static_cast<TTransferGate*>(clientp);
        // libcurl makes its sockets without close-on-exec: a browser started meanwhile would keep
        // the connection open for as long as it runs, after the transfer has closed it.
        const int flags = fcntl(fd, F_GETFD);
        if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != 0) return CURL_SOCKOPT_ERROR;
        std::lock_guard lock(gate->mutex_);
        const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy >= 0) gate->sockets_.push_back(copy);
        // A connection begun after the end is refused (libcurl closes the socket).
        return gate->shut_ ? CURL_SOCKOPT_ERROR : CURL_SOCKOPT_OK;
    }

private:
    void ShutLocked() {
        shut_ = true;
        for (const int fd : sockets_) shutdown(fd, SHUT_RDWR);
    }

    const TTransfer* transfer_;
    const std::chrono::steady_clock::time_point deadline_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> sockets_;  // our duplicates: a descriptor libcurl closes is never reused here
    bool shut_ = false;
    bool finished_ = false;
    std::atomic<bool> timedOut_{false};
    std::thread watch_;
};

}  // namespace

std::string ToCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::string HostSetting(std::string_view key) {
    static const std::pair<std::string_view, std::string_view> defaults[] = {
        {"GameServer", ZOLVEX_GAME_SERVER},
        {"WebSite", ZOLVEX_WEB_SITE},
        {"ScoreServer", ZOLVEX_SCORE_SERVER},
        {"MailServer", ZOLVEX_MAIL_SERVER},
        {"MailTo", ZOLVEX_MAIL_TO}};
    for (const auto& [name, def] : defaults)
        if (name == key) return CfgOr(key, def);
    return {};
}

std::string GameServerAddress(bool www, std::string_view path) {
    std::string host = HostSetting("GameServer");
    if (!www && AsciiLower(host).rfind("www.", 0) == 0) host.erase(0, 4);
    return "http://" + host + std::string(path);
}

std::string StartPageAddress() { return GameServerAddress(true, "/zvxinternal"); }

std::string WebSiteAddress() { return "http://" + HostSetting("WebSite") + "/"; }

bool AppendCurlList(TCurlList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    (void)list.release();  // the same list, one line longer
    list.reset(grown);
    return true;
}

void TTransfer::Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
}

bool TTransfer::Cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

namespace {
std::mutex runningMutex;
std::condition_variable runningChanged;
int running = 0;
}  // namespace

bool WaitForTransfers(std::chrono::milliseconds bound) {
    std::unique_lock lock(runningMutex);
    return runningChanged.wait_for(lock, bound, [] { return running == 0; });
}

std::shared_ptr<TTransfer> StartTransfer(std::function<void(const TTransfer&)> work,
                                         std::function<void(std::exception_ptr)> done) {
    CurlGlobalInit();
    auto transfer = std::make_shared<TTransfer>();
    {
        std::lock_guard lock(runningMutex);
        ++running;
    }
    // Detached: a transfer stuck in a peer's silence must not hold up the program's end; it holds
    // its own share of the state and reports to nobody once cancelled.
    std::thread([transfer, work = std::move(work), done = std::move(done)] {
        std::exception_ptr failure;
        try {
            work(*transfer);
        } catch (...) {
            failure = std::current_exception();
        }
        {
            // Under the lock: Cancel() returning means the completion is not running and never
            // will.
            std::lock_guard lock(transfer->mutex_);
            if (!transfer->cancelled_ && done) done(failure);
        }
        std::lock_guard lock(runningMutex);
        --running;
        runningChanged.notify_all();
    }).detach();
    return transfer;
}

std::string ShortPeerText(std::string_view text, size_t maxChars) {
    size_t chars = 0;
    size_t i = 0;
    while (i < text.size() && chars < maxChars) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (i + len > text.size()) len = text.size() - i;
        i += len;
        ++chars;
    }
    std::string out(text.substr(0, i));
    while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back()))) out.pop_back();
    if (i < text.size()) out += "...";
    return out;
}

std::string ShortAddress(std::string_view url) {
    constexpr size_t kQueryChars = 24;
    const size_t query = url.find('?');
    if (query != std::string_view::npos && url.size() - query - 1 > kQueryChars)
        return std::string(url.substr(0, query + 1 + kQueryChars)) + "...";
    return ShortPeerText(url, 160);
}

std::string FailureAt(const std::string& reason, std::string_view url) {
    return reason + "\r\n" + ShortAddress(url);
}

CURLcode PerformTransfer(CURL* easy, long totalTimeoutMs, const TTransfer* transfer, char* errbuf) {
    TTransferGate gate(transfer, totalTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, totalTimeoutMs);
    // A protocol's own waits for a reply (SMTP after the message) are bounded by the same time.
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     std::max(1L, (totalTimeoutMs + 999) / 1000));
    // The goodbye (SMTP's QUIT) is said inside the transfer, under the gate, not when the handle
    // is freed, where only libcurl's own response time-out would bound its wait.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &TTransferGate::Progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &gate);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &TTransferGate::SocketMade);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &gate);
    CURLcode result = curl_easy_perform(easy);
    // The gate is gone after this function: the handle must not call it again.
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, nullptr);
    if (result == CURLE_OK) return result;  // a goodbye cut short takes nothing from a success
    if (transfer && transfer->Cancelled()) throw ETransferCancelled();
    if (gate.TimedOut()) {
        // Whatever libcurl made of its shut connection, the reason is the time.
        result = CURLE_OPERATION_TIMEDOUT;
        if (errbuf)
            std::snprintf(errbuf, CURL_ERROR_SIZE, "Operation timed out after %ld milliseconds",
                          totalTimeoutMs);
    }
    return result;
}

namespace {

std::string Exchange(const std::string& url, const std::vector<std::string>& headers,
                     const std::string* post, const THttpLimits& limits,
                     const TTransfer* transfer) {
    CurlGlobalInit();
    TCurlEasy easy(curl_easy_init());
    if (!easy) throw EHttpError(FailureAt("Cannot start an HTTP client", url), 0);
    Body body;
    body.max = limits.MaxBodyBytes;
    char errbuf[CURL_ERROR_SIZE] = {};
    CURL* c = easy.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, limits.ConnectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &KeepStatus);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &body);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
    // The client names itself as it always has; the servers' logs and filters know it by this.
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Indy Library)");
    TCurlList headerList;
    for (const std::string& h : headers)
        if (!AppendCurlList(headerList, h))
            throw EHttpError(FailureAt("Cannot start an HTTP client", url), 0);
    if (headerList) curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
    if (post) {
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, post->data());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post->size()));
        // Answered only after the body: no round trip spent on asking whether to send it.
        curl_easy_setopt(c, CURLOPT_EXPECT_100_TIMEOUT_MS, 0L);
    }
    const CURLcode result = PerformTransfer(c, limits.TotalTimeoutMs, transfer, errbuf);
    // An error status is the reason, however the answer went on (endless, cut, too slow): the
    // server has said why.
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
        body.status = status;
        throw EHttpError(FailureAt(StatusFailure(body), url), status);
    }
    if (body.tooLarge)
        throw EHttpError(
            FailureAt("The answer is larger than " + std::to_string(limits.MaxBodyBytes) + " bytes",
                      url),
            0);
    if (result != CURLE_OK) {
        std::string detail = errbuf[0] ? errbuf : curl_easy_strerror(result);
        while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r'))
            detail.pop_back();
        throw EHttpError(FailureAt(detail, url), 0);
    }
    return std::move(body.data);
}

}  // namespace

std::string HttpGet(const std::string& url, const std::vector<std::string>& headers,
                    const THttpLimits& limits, const TTransfer* transfer) {
    return Exchange(url, headers, nullptr, limits, transfer);
}

std::string HttpPost(const std::string& url, const std::vector<std::string>& headers,
                     const std::string& body, const THttpLimits& limits,
                     const TTransfer* transfer) {
    return Exchange(url, headers, &body, limits, transfer);
}

std::string Gzip(std::string_view bytes) {
    z_stream z{};
    // 16 + window bits: the gzip wrapper, which any reader of .gz files takes.
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Exception("Cannot compress");
    std::string out(deflateBound(&z, static_cast<uLong>(bytes.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw Exception("Cannot compress");
    return out;
}

bool IsOnline() { return platform::IsOnline(); }

void Autodial() {}

std::string DownloadText(const std::string& url, const std::vector<std::string>& headers,
                         const THttpLimits& limits, const TTransfer* transfer) {
    return ToCrLf(HttpGet(url, headers, limits, transfer));
}

void OpenUrlInBrowser(const std::string& url) {
    if (!platform::ShellOpen(url)) platform::ShowError("Unable to start Browser. Goto\r" + url);
}

}  // namespace zx
