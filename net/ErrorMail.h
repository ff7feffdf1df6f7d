#pragma once
// The error report's way to the maker: one mail over SMTP with the player's description and the
// log attached.
#include <string>

#include "platform/Errors.h"

namespace zx {

// A mail that did not get through: refused, timed out, rejected by the server, or an attachment
// that could not be read. The message leads with the reason ("The mail server refused RCPT TO: "
// and its words, "The mail server closed the connection after EHLO") and names the server on the
// next line.
class EMailError : public Exception {
public:
    explicit EMailError(const std::string& message) : Exception(message) {}
};

// A player who waits for a mail server that does not answer must get the dialog back.
struct TMailLimits {
    long ConnectTimeoutMs = 10000;
    long TotalTimeoutMs = 60000;
};

class TTransfer;

// Sends the description (UTF-8) from the sender as the player typed it to the maker's mailbox
// ("MailTo" through "MailServer", port 25 unless "host:port" says otherwise), with the file at
// attachmentPath attached byte for byte when the path is not empty. Blocks the calling thread
// (run it as a transfer's work); whatever stops the mail raises EMailError (ETransferCancelled
// when cancelled). The caller checks that the computer is online.
void SendErrorMail(const std::string& sender, const std::string& body,
                   const std::string& attachmentPath, const TMailLimits& limits = {},
                   const TTransfer* transfer = nullptr);

// The parts of the mail that do not depend on the wire, for the tests.
// "Tue, 08 Dec 2026 10:55:59 +0100": RFC 5322, English names whatever the locale.
std::string MailDate(long long unixTime, long utcOffsetSeconds);
// True for a plain address "local@domain" that can stand in an envelope and a header unchanged.
bool IsPlainMailAddress(const std::string& address);
// The address in what the player typed: the whole text when it is a plain address, the part in
// angle brackets of "Name <local@domain>", else empty.
std::string MailAddressOf(const std::string& typed);
// "smtp://host:25" from "host", "smtp://host:port" from "host:port".
std::string SmtpUrl(const std::string& mailServer);

}  // namespace zx
