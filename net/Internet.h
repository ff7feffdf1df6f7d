#pragma once
// The launcher's links to the outside: the maker's hosts, the HTTP download every dialog uses,
// and the user's browser.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
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

// A failed HTTP exchange: a status of 400 or more (Status set), a time-out, a refused connection,
// an oversized answer. The message leads with the reason ("HTTP 500 Internal Server Error: " and
// the server's own words, shortened; "The answer is larger than 1048576 bytes"; libcurl's words)
// and names the address on the next line.
class EHttpError : public Exception {
public:
    EHttpError(const std::string& message, long status) : Exception(message), Status(status) {}
    long Status = 0;
};

// A transfer given up because its owner cancelled it.
class ETransferCancelled : public Exception {
public:
    ETransferCancelled() : Exception("Cancelled") {}
};

// Limits of every download: no launcher may freeze forever on a server that does not answer.
struct THttpLimits {
    long ConnectTimeoutMs = 5000;
    long TotalTimeoutMs = 15000;
    size_t MaxBodyBytes = 1 << 20;
};

// One piece of network work running on a thread of its own, so that no window waits for a
// peer. Cancel() makes a running libcurl transfer stop at its next progress call (at least once a
// second, even inside libcurl's own blocking waits) and guarantees that the completion is not
// called once it has returned.
class TTransfer {
public:
    void Cancel();
    bool Cancelled() const;

private:
    friend std::shared_ptr<TTransfer> StartTransfer(std::function<void(const TTransfer&)>,
                                                    std::function<void(std::exception_ptr)>);
    mutable std::mutex mutex_;
    bool cancelled_ = false;
};
// Runs work(transfer) on a new thread; then done(nullptr or what work threw) on that same thread,
// unless cancelled first. The caller brings the result back to its own thread.
std::shared_ptr<TTransfer> StartTransfer(std::function<void(const TTransfer&)> work,
                                         std::function<void(std::exception_ptr)> done);

// Waits up to the given time for the transfers still running to end (a cancelled one ends at its
// next progress call); true when none is left. The program's end calls it before it lets the
// process go, so that no transfer runs while the libraries are taken down.
bool WaitForTransfers(std::chrono::milliseconds bound);

// At most maxChars characters of a peer's text, cut at a character boundary, with "..." when
// cut: what a message box shows of a server's answer.
std::string ShortPeerText(std::string_view text, size_t maxChars = 300);
// An address as a failure names it: a long query (a scrambled payload) cut to its first
// characters, so that it cannot crowd out the reason.
std::string ShortAddress(std::string_view url);
// The message of a failed exchange: the reason first, the address on the next line.
std::string FailureAt(const std::string& reason, std::string_view url);

// GET of the address with extra header lines ("Name: value"); the body as received. Blocks the
// calling thread: call it from a transfer's work. Raises EHttpError or ETransferCancelled.
std::string HttpGet(const std::string& url, const std::vector<std::string>& headers = {},
                    const THttpLimits& limits = {}, const TTransfer* transfer = nullptr);

// POST of the body (the header lines name its type) to the address; otherwise as HttpGet.
std::string HttpPost(const std::string& url, const std::vector<std::string>& headers,
                     const std::string& body, const THttpLimits& limits = {},
                     const TTransfer* transfer = nullptr);
// The bytes compressed in the gzip format.
std::string Gzip(std::string_view bytes);

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

// Runs one libcurl transfer to its end, its total time-out or the transfer's cancel, whichever
// comes first. The time is total: it holds inside libcurl's blocking waits and for the goodbye
// (a mail server quiet after the message is not also awaited for its answer to QUIT). Once the
// time is up or the transfer is cancelled, the connection is shut: nothing more is said on it.
// The connection is closed before this returns; the handle keeps none.
// errbuf (CURL_ERROR_SIZE bytes, or null) is the handle's error buffer, told about a time-out.
CURLcode PerformTransfer(CURL* easy, long totalTimeoutMs, const TTransfer* transfer, char* errbuf);

// Line ends made CR LF, as the launcher's texts are read.
std::string ToCrLf(std::string_view text);
// A GET's body with line ends made CR LF (blocking, like HttpGet).
std::string DownloadText(const std::string& url, const std::vector<std::string>& headers = {},
                         const THttpLimits& limits = {}, const TTransfer* transfer = nullptr);
// The message of every download that finds the computer offline.
inline constexpr std::string_view kOfflineMessage =
    "Operation Failed: Can't connect to the Internet";

bool IsOnline();
// Nothing to dial on this system: a desktop is online or it is not.
void Autodial();
// Opens the address in the user's browser; a browser that cannot be started gives the error box
// "Unable to start Browser. Goto" with the address on the next line.
void OpenUrlInBrowser(const std::string& url);

}  // namespace zx
