#include "net/Internet.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

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

std::function<void()>& Pump() {
    static std::function<void()> pump;
    return pump;
}

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

struct Body {
    std::string data;
    size_t max = 0;
    bool tooLarge = false;
};

size_t WriteBody(char* ptr, size_t size, size_t nmemb, void* userdata) {
    auto* body = static_cast<Body*>(userdata);
    const size_t n = size * nmemb;
    if (body->data.size() + n > body->max) {
        body->tooLarge = true;
        return 0;  // makes libcurl abort the transfer
    }
    body->data.append(ptr, n);
    return n;
}

struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};

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

__attribute__((weak)) THttpLimits HttpLimits() { return {}; }

void SetDownloadPump(std::function<void()> pump) { Pump() = std::move(pump); }

bool AppendCurlList(TCurlList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    (void)list.release();  // the same list, one line longer
    list.reset(grown);
    return true;
}

CURLcode PerformWithPump(CURL* easy) {
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi) return CURLE_FAILED_INIT;
    curl_multi_add_handle(multi.get(), easy);
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        bool done = false;
        while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                done = true;
            }
        }
        if (done || running == 0) break;
        curl_multi_poll(multi.get(), nullptr, 0, 30, nullptr);
        if (Pump()) Pump()();
    }
    curl_multi_remove_handle(multi.get(), easy);
    return result;
}

std::string HttpGet(const std::string& url, const std::vector<std::string>& headers) {
    CurlGlobalInit();
    const THttpLimits limits = HttpLimits();
    TCurlEasy easy(curl_easy_init());
    if (!easy) throw EHttpError("Cannot start an HTTP client", 0);
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
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, limits.TotalTimeoutMs);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
    // The client names itself as it always has; the servers' logs and filters know it by this.
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Indy Library)");
    TCurlList headerList;
    for (const std::string& h : headers)
        if (!AppendCurlList(headerList, h)) throw EHttpError("Cannot start an HTTP client", 0);
    if (headerList) curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
    const CURLcode result = PerformWithPump(c);
    if (body.tooLarge)
        throw EHttpError("The answer of " + url + " is larger than " +
                             std::to_string(limits.MaxBodyBytes) + " bytes",
                         0);
    if (result != CURLE_OK) {
        std::string detail = errbuf[0] ? errbuf : curl_easy_strerror(result);
        while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r'))
            detail.pop_back();
        throw EHttpError(detail, 0);
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
        const char* reason = status == 404   ? " Not Found"
                             : status == 500 ? " Internal Server Error"
                                             : "";
        throw EHttpError("HTTP " + std::to_string(status) + reason, status);
    }
    return std::move(body.data);
}

bool IsOnline() { return platform::IsOnline(); }

void Autodial() {}

std::string DownloadText(const std::string& url, const std::vector<std::string>& headers) {
    Autodial();
    if (!IsOnline()) {
        platform::ShowMessage("Operation Failed: Can't connect to the Internet");
        return {};
    }
    return ToCrLf(HttpGet(url, headers));
}

void OpenUrlInBrowser(const std::string& url) {
    if (!platform::ShellOpen(url)) platform::ShowError("Unable to start Browser. Goto\r" + url);
}

}  // namespace zx
