#pragma once
// The launcher's links to the outside: the maker's hosts, the HTTP download every dialog uses,
// and the user's browser.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <curl/curl.h>

#include "platform/Errors.h"

namespace zx {

inline constexpr std::string_view kProgramVersion = "1.10";
inline constexpr uint32_t MinimumMemoryKb = 90000;

// The maker's hosts: build settings, each overridable by a key of kvd\prog.cfg ("GameServer",
// "WebSite", "ScoreServer", "MailServer", "MailTo"). A host may carry a port ("host:port").
// The setting "GameServer" (the www form; the bare form drops a leading "www."), "WebSite",
// "ScoreServer", "MailServer" or "MailTo". Only its own key is read: the start page's timer asks
// for the game server every few seconds.
std::string HostSetting(std::string_view key);
// "http://" + the game server (www form when www, else the bare form) + path.
std::string GameServerAddress(bool www, std::string_view path);
// The start page: its address is also the prefix that keeps a navigation inside the launcher.
std::string StartPageAddress();
std::string WebSiteAddress();

// A failed HTTP exchange: a status of 400 or more (Status set), a time-out, a refused
// connection, an oversized answer.
class EHttpError : public Exception {
public:
    EHttpError(const std::string& message, long status) : Exception(message), Status(status) {}
    long Status = 0;
};

// Limits of every download: no launcher may freeze forever on a server that does not answer.
struct THttpLimits {
    long ConnectTimeoutMs = 5000;
    long TotalTimeoutMs = 15000;
    size_t MaxBodyBytes = 1 << 20;
};
// The limits every download keeps: the ones above. A weak symbol: a test program that defines its
// own (short time-outs against a stalled server) gets that at link time.
THttpLimits HttpLimits();

// GET of the address with extra header lines ("Name: value"); the body as received. Raises
// EHttpError.
std::string HttpGet(const std::string& url, const std::vector<std::string>& headers = {});
// The launcher lets its window repaint while a download waits (it runs on the user-interface
// thread); without a pump the download simply blocks.
void SetDownloadPump(std::function<void()> pump);

// libcurl handles owned as values, for the HTTP and the SMTP client alike.
struct CurlEasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct CurlListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using TCurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using TCurlList = std::unique_ptr<curl_slist, CurlListDeleter>;
// Appends a line to the list; false when memory ran out (the list is kept as it was).
bool AppendCurlList(TCurlList& list, const std::string& line);

// Runs one libcurl transfer in short waits, letting the download pump run between them (the
// launcher repaints; input stays queued, so a second click cannot start a second transfer).
CURLcode PerformWithPump(CURL* easy);

// Autodial; when online, the body of a GET with line ends made CR LF; when offline, the message
// "Operation Failed: Can't connect to the Internet" and an empty text. HTTP failures raise.
std::string DownloadText(const std::string& url, const std::vector<std::string>& headers = {});

bool IsOnline();
// Nothing to dial on this system: a desktop is online or it is not.
void Autodial();
// Opens the address in the user's browser; a browser that cannot be started gives the error box
// "Unable to start Browser. Goto" with the address on the next line.
void OpenUrlInBrowser(const std::string& url);

}  // namespace zx
