// The error mail against a scripted mail server: its total time-out is total.
#include <gtest/gtest.h>

#include <algorithm>
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
              "Operation timed out after 1000 milliseconds");
    const std::vector<std::string> heard = peer.HeardUntilClosed();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "QUIT"), 0) << testing::PrintToString(heard);
}

}  // namespace
