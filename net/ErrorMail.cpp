#include "net/ErrorMail.h"

#include <curl/curl.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>

#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "support/Paths.h"

namespace zx {
namespace {

struct MimeDeleter {
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};
void Append(TCurlList& list, const std::string& line) {
    if (!AppendCurlList(list, line)) throw EMailError("Out of memory while building the mail");
}

// A header value must stay on its line: a line break in it would start a header of its own.
std::string HeaderSafe(const std::string& s) {
    std::string out;
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) out += c;
    return out;
}

// Mail text lines end in CR LF, whatever the memo used.
std::string ToCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DomainOf(const std::string& address) {
    const size_t at = address.rfind('@');
    return at == std::string::npos ? std::string() : address.substr(at + 1);
}

// Unique enough for a mailbox: 64 random bits and the time, at the sender's domain.
std::string MessageId(long long now, const std::string& domain) {
    std::random_device rd;
    const unsigned long long r = (static_cast<unsigned long long>(rd()) << 32) ^ rd();
    char id[64];
    std::snprintf(id, sizeof id, "%016llx.%lld", r, now);
    return "<" + std::string(id) + "@" + (domain.empty() ? std::string("zolvex.invalid") : domain) +
           ">";
}

// What was said on the connection, so that a failure can say where in the exchange it came: the
// last command sent (its verb), whether the message went, whether the server has said anything,
// and the first refusal (a code of 400 or more), which explains why the mail did not go,
// whatever the goodbye after it says.
struct TSmtpTrace {
    std::string lastCommand;  // "EHLO", "MAIL FROM", "RCPT TO", "DATA", ...
    bool messageSent = false;
    bool serverSpoke = false;
    std::string refusal;
    std::string refusedAt;  // what the refusal answered
    // "after EHLO", "after the message", "before its greeting"
    std::string Where() const {
        if (messageSent) return "after the message";
        if (!lastCommand.empty()) return "after " + lastCommand;
        return serverSpoke ? "after its greeting" : "before its greeting";
    }
};

std::string Verb(std::string_view line) {
    std::string verb;
    for (char c : line.substr(0, line.find_first_of(" \r\n")))
        verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (verb.rfind("MAIL", 0) == 0) return "MAIL FROM";
    if (verb.rfind("RCPT", 0) == 0) return "RCPT TO";
    return verb;
}

// Commands and the message as libcurl sends them (its debug stream; nothing is printed).
int TraceSent(CURL*, curl_infotype type, char* data, size_t size, void* userdata) {
    auto* trace = static_cast<TSmtpTrace*>(userdata);
    if (type == CURLINFO_HEADER_OUT && !trace->messageSent) {
        // The goodbye is tried after a failure too: the failure came after the command before.
        const std::string verb = Verb(std::string_view(data, size));
        if (verb != "QUIT") trace->lastCommand = verb;
    } else if (type == CURLINFO_DATA_OUT) {
        trace->messageSent = true;
    }
    return 0;
}

// Every reply line of the server comes through here.
size_t KeepRefusal(char* data, size_t size, size_t nitems, void* userdata) {
    auto* trace = static_cast<TSmtpTrace*>(userdata);
    trace->serverSpoke = true;
    std::string line(data, size * nitems);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (trace->refusal.empty() && line.size() >= 3 && (line[0] == '4' || line[0] == '5')) {
        trace->refusal = line;
        trace->refusedAt = trace->messageSent ? "the message" : trace->lastCommand;
    }
    return size * nitems;
}

// Why the mail did not go, in the words of the exchange: the server's refusal with its own
// words, the server closing the connection (and after which command), or libcurl's words.
std::string MailFailure(CURLcode result, const char* errbuf, const TSmtpTrace& trace, long reply) {
    if (result != CURLE_OPERATION_TIMEDOUT && !trace.refusal.empty())
        return "The mail server refused " +
               (trace.refusedAt.empty() ? std::string("the mail") : trace.refusedAt) + ": " +
               ShortPeerText(trace.refusal);
    if (result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR || result == CURLE_GOT_NOTHING)
        return "The mail server closed the connection " + trace.Where();
    std::string detail = errbuf[0] ? errbuf : curl_easy_strerror(result);
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) detail.pop_back();
    if (reply >= 400) detail += " (" + std::to_string(reply) + ")";
    return detail;
}

std::string DateNow(long long& unixTime) {
    const std::time_t t = std::time(nullptr);
    unixTime = static_cast<long long>(t);
    std::tm local{};
    localtime_r(&t, &local);
    return MailDate(unixTime, local.tm_gmtoff);
}

}  // namespace

std::string MailDate(long long unixTime, long utcOffsetSeconds) {
    static constexpr std::array<const char*, 7> days = {"Sun", "Mon", "Tue", "Wed",
                                                        "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // The wall clock of the sender's zone, taken apart without the locale that the library
    // functions would bring in.
    const std::time_t wall = static_cast<std::time_t>(unixTime + utcOffsetSeconds);
    std::tm tm{};
    gmtime_r(&wall, &tm);
    const long offsetMinutes = (utcOffsetSeconds < 0 ? -utcOffsetSeconds : utcOffsetSeconds) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  days[static_cast<size_t>(tm.tm_wday)], tm.tm_mday,
                  months[static_cast<size_t>(tm.tm_mon)], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec, utcOffsetSeconds < 0 ? '-' : '+', offsetMinutes / 60,
                  offsetMinutes % 60);
    return text;
}

bool IsPlainMailAddress(const std::string& address) {
    const size_t at = address.find('@');
    if (at == std::string::npos || at == 0 || at + 1 >= address.size()) return false;
    if (address.find('@', at + 1) != std::string::npos) return false;
    for (char ch : address) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7f) return false;
        if (std::string_view("<>()[]\\,;:\"").find(ch) != std::string_view::npos) return false;
    }
    return true;
}

std::string MailAddressOf(const std::string& typed) {
    std::string t = typed;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.erase(t.begin());
    if (IsPlainMailAddress(t)) return t;
    const size_t open = t.rfind('<');
    if (open == std::string::npos || t.empty() || t.back() != '>') return {};
    const std::string inner = t.substr(open + 1, t.size() - open - 2);
    return IsPlainMailAddress(inner) ? inner : std::string();
}

std::string SmtpUrl(const std::string& mailServer) {
    // A colon after the last ']' (an IPv6 literal) names the port.
    const size_t bracket = mailServer.rfind(']');
    const size_t colon = mailServer.rfind(':');
    const bool hasPort =
        colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
    return "smtp://" + mailServer + (hasPort ? "" : ":25");
}

void SendErrorMail(const std::string& sender, const std::string& body,
                   const std::string& attachmentPath, const TMailLimits& limits,
                   const TTransfer* transfer) {
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    const std::string mailbox = HeaderSafe(HostSetting("MailTo"));
    // "Hans Tester <hans@example.test>" is as good a contact as the bare address: the address
    // goes into the envelope and the From line, and what the player typed always into the text.
    // Only what holds no address is left out of the envelope, where a server would refuse the
    // whole mail for it.
    const std::string from = MailAddressOf(HeaderSafe(sender));
    const bool senderUsable = !from.empty();
    const std::string typed = HeaderSafe(sender);

    // Declared before the client, so that the client is freed while the message it sent still
    // exists.
    std::unique_ptr<curl_mime, MimeDeleter> mime;
    TCurlList headers;
    TCurlList recipients;
    TCurlEasy easy(curl_easy_init());
    if (!easy) throw EMailError("Cannot start an SMTP client");
    CURL* c = easy.get();
    mime.reset(curl_mime_init(c));
    if (!mime) throw EMailError("Out of memory while building the mail");

    curl_mimepart* text = curl_mime_addpart(mime.get());
    const std::string bodyText = ToCrLf(typed.empty() ? body : "Contact: " + typed + "\n\n" + body);
    curl_mime_data(text, bodyText.data(), bodyText.size());
    curl_mime_type(text, "text/plain; charset=UTF-8");
    curl_mime_encoder(text, "quoted-printable");

    if (!attachmentPath.empty()) {
        // Read now, whole: the file attached is the file the player saw, byte for byte.
        TReadError why;
        const auto bytes = ReadFileBytes(attachmentPath, kLogFileLimit, &why);
        if (!bytes) throw EMailError("Cannot open file \"" + attachmentPath + "\": " + why.Reason);
        curl_mimepart* file = curl_mime_addpart(mime.get());
        curl_mime_data(file, reinterpret_cast<const char*>(bytes->data()), bytes->size());
        curl_mime_filename(file, BaseName(attachmentPath).c_str());
        curl_mime_type(file, "text/plain; charset=windows-1252");
        curl_mime_encoder(file, "base64");
    }

    long long now = 0;
    const std::string date = DateNow(now);
    Append(headers, "Date: " + date);
    Append(headers, "From: " + (senderUsable ? from : mailbox));
    Append(headers, "To: " + mailbox);
    Append(headers, "Subject: Fehlermeldung");
    Append(headers, "Message-ID: " + MessageId(now, DomainOf(senderUsable ? from : mailbox)));
    Append(recipients, "<" + mailbox + ">");

    const std::string url = SmtpUrl(HeaderSafe(HostSetting("MailServer")));
    char errbuf[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, limits.ConnectTimeoutMs);
    // An empty reverse path ("<>") when the player gave no usable address.
    const std::string envelopeFrom = senderUsable ? "<" + from + ">" : std::string("<>");
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, envelopeFrom.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_MIMEPOST, mime.get());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
    TSmtpTrace trace;
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &KeepRefusal);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &trace);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &TraceSent);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &trace);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);

    const CURLcode result = PerformTransfer(c, limits.TotalTimeoutMs, transfer, errbuf);
    if (result != CURLE_OK) {
        long reply = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply);
        throw EMailError(FailureAt(MailFailure(result, errbuf, trace, reply), url));
    }
}

}  // namespace zx
