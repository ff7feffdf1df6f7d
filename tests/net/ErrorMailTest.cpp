// The error mail's failures against a scripted mail server: each says why first, and the total
// time-out is total.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "net/ErrorMail.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/SmtpPeer.h"
#include "testsupport/TestSupport.h"

namespace {

using namespace zx;
using test::SmtpPeer;
using TAct = SmtpPeer::TAct;

class ErrorMailFailureTest : public testing::Test {
protected:
    void SetUp() override {
        test::ResetProgramDir();
        EnsureDataDir();
        WriteProgCfg("MailTo", "errors@zolvex.test");
    }
    // The message of the failure, or "sent" when the mail went.
    static std::string Send(const SmtpPeer& peer, const TMailLimits& limits = {}) {
        WriteProgCfg("MailServer", peer.HostPort());
        try {
            SendErrorMail("player@example.test", "It froze", "", limits);
        } catch (const EMailError& e) {
            return e.what();
        }
        return "sent";
    }
};

// The server takes the message and then says nothing, not even to QUIT. Once the total time is
// up the client waits for nothing more and says nothing more: the send ends with the time-out,
// and the server never hears a QUIT that it would be waited on to answer.
TEST_F(ErrorMailFailureTest, ServerQuietAfterTheMessageHearsNoQuitOnceTheTimeIsUp) {
    SmtpPeer peer({{".", {TAct::Quiet, ""}}, {"QUIT", {TAct::Quiet, ""}}});
    EXPECT_EQ(Send(peer, TMailLimits{.ConnectTimeoutMs = 1000, .TotalTimeoutMs = 1000}),
              "Operation timed out after 1000 milliseconds\r\nsmtp://" + peer.HostPort());
    const std::vector<std::string> heard = peer.HeardUntilClosed();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "QUIT"), 0) << testing::PrintToString(heard);
}

// The server accepts the message and then leaves QUIT unanswered: the mail went, and the goodbye
// that is never answered neither holds the send past its time nor turns it into a failure.
TEST_F(ErrorMailFailureTest, MessageAcceptedAndQuitUnansweredIsSent) {
    SmtpPeer peer({{"QUIT", {TAct::Quiet, ""}}});
    EXPECT_EQ(Send(peer, TMailLimits{.ConnectTimeoutMs = 1000, .TotalTimeoutMs = 1000}), "sent");
    const std::vector<std::string> heard = peer.HeardUntilClosed();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "."), 1) << testing::PrintToString(heard);
}

// Where the exchange broke, in its own words: no errno of a socket.
TEST_F(ErrorMailFailureTest, EachFailureLeadsWithItsReasonAndNamesTheServerAfterIt) {
    struct TCase {
        std::map<std::string, SmtpPeer::TStep> script;
        std::string reason;
    };
    const TCase cases[] = {
        {{{"CONNECT", {TAct::Close, ""}}},
         "The mail server closed the connection before its greeting"},
        {{{"EHLO", {TAct::Close, ""}}}, "The mail server closed the connection after EHLO"},
        {{{"RCPT TO", {TAct::Close, ""}}}, "The mail server closed the connection after RCPT TO"},
        {{{".", {TAct::Close, ""}}}, "The mail server closed the connection after the message"},
        {{{"RCPT TO", {TAct::Answer, "554 5.7.1 Relaying denied"}}},
         "The mail server refused RCPT TO: 554 5.7.1 Relaying denied"},
        {{{".", {TAct::Answer, "552 5.3.4 Message too big for this mailbox"}}},
         "The mail server refused the message: 552 5.3.4 Message too big for this mailbox"},
    };
    for (const TCase& c : cases) {
        SmtpPeer peer(c.script);
        EXPECT_EQ(Send(peer), c.reason + "\r\nsmtp://" + peer.HostPort());
    }
}

}  // namespace
