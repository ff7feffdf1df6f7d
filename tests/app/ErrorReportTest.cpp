#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Main.h"
#include "app/PublishErrorreportUnit.h"
#include "net/ErrorMail.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "testsupport/Desktop.h"
#include "testsupport/LauncherFixture.h"
#include "testsupport/QtTestSupport.h"
#include "testsupport/SmtpPeer.h"
#include "testsupport/Sockets.h"
#include "testsupport/TestSupport.h"

extern char** environ;

namespace {

using namespace zx;
namespace fs = std::filesystem;

const std::string kOffline = "Operation Failed: Can't connect to the Internet";
const std::string kThanks = "Thanks for your help!";
const std::string kMailbox = "errors@zolvex.test";

bool Accepts(int port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A real SMTP server on 127.0.0.1 that files every mail it accepts into a maildir. Started in
// the constructor, killed in the destructor.
class LocalSmtpServer {
public:
    LocalSmtpServer()
        : dir_(fs::temp_directory_path() / ("zolvex-smtp-" + std::to_string(getpid()))) {
        fs::remove_all(dir_);
        // The maildir itself is made by the server: an existing directory is taken as complete.
        fs::create_directories(dir_);
        Start();
    }
    ~LocalSmtpServer() {
        Stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    LocalSmtpServer(const LocalSmtpServer&) = delete;
    LocalSmtpServer& operator=(const LocalSmtpServer&) = delete;

    void Start() {
        port_ = test::UnusedLocalPort();
        const std::string listen = "127.0.0.1:" + std::to_string(port_);
        const std::string mail = (dir_ / "mail").string();
        const std::string log = (dir_ / "server.log").string();
        std::vector<std::string> args = {
            "/usr/bin/python3",          "-m", "aiosmtpd", "-n", "-l", listen, "-c",
            "aiosmtpd.handlers.Mailbox", mail};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            pid_ = -1;
            ADD_FAILURE() << "cannot start the SMTP server (python3-aiosmtpd)";
            return;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!Accepts(port_)) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_ ||
                std::chrono::steady_clock::now() > until) {
                pid_ = -1;
                ADD_FAILURE() << "the SMTP server did not come up: "
                              << ReadAll(dir_ / "server.log");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    // Every mail received, as stored.
    std::vector<std::string> Mails() const {
        std::vector<std::string> mails;
        for (const char* sub : {"new", "cur"}) {
            const fs::path d = dir_ / "mail" / sub;
            if (!fs::exists(d)) continue;
            for (const auto& e : fs::directory_iterator(d)) mails.push_back(ReadAll(e.path()));
        }
        return mails;
    }

private:
    fs::path dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// --- reading the mail back --------------------------------------------------------------------

struct TMailPart {
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};
struct TMail : TMailPart {
    std::vector<TMailPart> parts;
};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Headers up to the first empty line; line ends already made LF.
TMailPart ParsePart(const std::string& text) {
    TMailPart part;
    size_t pos = 0;
    std::string last;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) break;
        if ((line[0] == ' ' || line[0] == '\t') && !last.empty()) {
            part.headers[last] += line;
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        last = Lower(line.substr(0, colon));
        std::string value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.erase(value.begin());
        part.headers[last] = value;
    }
    part.body = pos < text.size() ? text.substr(pos) : std::string();
    return part;
}

TMail ParseMail(std::string raw) {
    for (size_t at; (at = raw.find("\r\n")) != std::string::npos;) raw.erase(at, 1);
    TMail mail;
    static_cast<TMailPart&>(mail) = ParsePart(raw);
    std::smatch m;
    const std::string type = mail.headers["content-type"];
    if (!std::regex_search(type, m, std::regex(R"re(boundary="?([^";]+)"?)re"))) return mail;
    const std::string delimiter = "\n--" + m[1].str();
    std::string body = "\n" + mail.body;
    size_t at = body.find(delimiter);
    while (at != std::string::npos) {
        size_t from = body.find('\n', at + 1);
        if (from == std::string::npos || body.compare(at + delimiter.size(), 2, "--") == 0) break;
        const size_t next = body.find(delimiter, from);
        mail.parts.push_back(ParsePart(
            body.substr(from + 1, (next == std::string::npos ? body.size() : next) - from - 1)));
        at = next;
    }
    return mail;
}

std::string Base64Decode(const std::string& text) {
    std::string out;
    unsigned int acc = 0;
    int bits = 0;
    for (char ch : text) {
        int v;
        if (ch >= 'A' && ch <= 'Z')
            v = ch - 'A';
        else if (ch >= 'a' && ch <= 'z')
            v = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9')
            v = ch - '0' + 52;
        else if (ch == '+')
            v = 62;
        else if (ch == '/')
            v = 63;
        else
            continue;
        acc = (acc << 6) | static_cast<unsigned int>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xff);
        }
    }
    return out;
}

std::string QuotedPrintableDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;  // soft line break
        } else if (i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

// --- the fixture ------------------------------------------------------------------------------

class ErrorReportTest : public test::LauncherFixture {
protected:
    void SetUp() override {
        SetUpLauncher(true);
        CollectBoxes();
        WriteProgCfg("MailTo", kMailbox);
    }
    void TearDown() override {
        form.reset();
        LauncherFixture::TearDown();
    }
    TPublishErrorreportForm& Open() {
        form = std::make_unique<TPublishErrorreportForm>();
        form->show();
        return *form;
    }
    static void Send(TPublishErrorreportForm& f) { QTest::mouseClick(f.Button1, Qt::LeftButton); }
    static std::string LogBytes() { return "Program Version 1.10\r\n"; }

    std::unique_ptr<TPublishErrorreportForm> form;
};

// A log as the game leaves it: CR LF lines in Windows-1252, with what mail and MIME treat
// specially (a line of one dot, a line that looks like a boundary), ending without "OK".
std::string SampleLog() {
    std::string log =
        "Program Version 1.10\r\nCPUvendor:          GenuineIntel\r\n.\r\n--frontier\r\n";
    log +=
        "Gr\xF6\xDF"
        "e \x80 5\r\n";
    for (int i = 0; i < 60; ++i) log += "InitLevel: " + std::to_string(i) + "\r\n";
    log += "glsLoop: Access violation\r\nERROR\r\n";
    return log;
}

TEST_F(ErrorReportTest, ReportReachesTheMailboxWithTheLogAttachedByteForByte) {
    LocalSmtpServer smtp;
    WriteProgCfg("MailServer", smtp.HostPort());
    WriteProgCfg("PER Name", "player@example.test");
    const std::string log = SampleLog();
    test::WriteText("KVD\\LOG.TXT", log);

    TPublishErrorreportForm& f = Open();
    EXPECT_EQ(f.Edit1->text(), "player@example.test");
    EXPECT_TRUE(f.Memo2->toPlainText().startsWith("Program Version 1.10\nCPUvendor:"));
    EXPECT_TRUE(f.Memo2->toPlainText().contains(QString::fromUtf8("Größe € 5")));
    EXPECT_EQ(f.focusWidget(), f.Memo1);
    // A line of one dot ends a mail on the wire unless the client escapes it.
    QTest::keyClicks(f.Memo1, "The cannon froze.");
    f.Memo1->appendPlainText(QString::fromUtf8(".\nThen it crashed. Grüße"));
    Send(f);

    EXPECT_EQ(messages, std::vector<std::string>{kThanks});
    EXPECT_FALSE(FileExists("KVD\\LOG.TXT"));
    EXPECT_FALSE(f.isVisible());
    const auto mails = smtp.Mails();
    ASSERT_EQ(mails.size(), 1u);
    TMail mail = ParseMail(mails[0]);
    EXPECT_EQ(mail.headers["x-mailfrom"], "player@example.test");
    EXPECT_EQ(mail.headers["x-rcptto"], kMailbox);
    EXPECT_EQ(mail.headers["from"], "player@example.test");
    EXPECT_EQ(mail.headers["to"], kMailbox);
    EXPECT_EQ(mail.headers["subject"], "Fehlermeldung");
    EXPECT_TRUE(std::regex_match(
        mail.headers["date"],
        std::regex(
            R"((Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d [+-]\d{4})")))
        << mail.headers["date"];
    EXPECT_TRUE(
        std::regex_match(mail.headers["message-id"], std::regex(R"(<[^<>@\s]+@example\.test>)")))
        << mail.headers["message-id"];
    ASSERT_EQ(mail.parts.size(), 2u);
    TMailPart& text = mail.parts[0];
    EXPECT_EQ(Lower(text.headers["content-type"]), "text/plain; charset=utf-8");
    // What the player gave as contact is in the text too, whatever form it has.
    EXPECT_EQ(QuotedPrintableDecode(text.body),
              "Contact: player@example.test\n\nThe cannon froze.\n.\nThen it crashed. Grüße");
    TMailPart& attachment = mail.parts[1];
    EXPECT_NE(attachment.headers["content-disposition"].find("attachment"), std::string::npos);
    EXPECT_NE(attachment.headers["content-disposition"].find("filename=\"LOG.TXT\""),
              std::string::npos);
    EXPECT_EQ(Lower(attachment.headers["content-transfer-encoding"]), "base64");
    EXPECT_EQ(Base64Decode(attachment.body), log);
}

TEST_F(ErrorReportTest, WithoutALogTheDialogSaysSoAndTheMailGoesWithoutAttachment) {
    LocalSmtpServer smtp;
    WriteProgCfg("MailServer", smtp.HostPort());
    TPublishErrorreportForm& f = Open();
    const std::string expected =
        "No logfile available (" + ResolvePath(ProgramDir() + "/kvd/log.txt") + ")";
    EXPECT_EQ(f.Memo2->toPlainText().toStdString(), expected);
    EXPECT_NE(expected.find(ProgramDir()), std::string::npos);
    EXPECT_TRUE(f.LogPath.empty());
    f.Memo1->setPlainText("Nothing to see");
    Send(f);
    EXPECT_EQ(messages, std::vector<std::string>{kThanks});
    const auto mails = smtp.Mails();
    ASSERT_EQ(mails.size(), 1u);
    TMail mail = ParseMail(mails[0]);
    ASSERT_EQ(mail.parts.size(), 1u);
    EXPECT_EQ(QuotedPrintableDecode(mail.parts[0].body), "Nothing to see");
}

// A report that could not go must still be there to send again: neither the log nor the dialog
// with the description typed may be lost.
TEST_F(ErrorReportTest, FailedSendKeepsTheLogAndTheDialogForAnotherTry) {
    const std::string log = SampleLog();
    test::WriteText("KVD\\LOG.TXT", log);
    WriteProgCfg("MailServer", "127.0.0.1:" + std::to_string(test::UnusedLocalPort()));
    TPublishErrorreportForm& f = Open();
    f.Memo1->setPlainText("It crashed");

    Send(f);  // nobody listens on that port
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(kinds[0], platform::MessageKind::Error);
    EXPECT_NE(messages[0], kThanks);
    EXPECT_FALSE(messages[0].empty());
    EXPECT_EQ(test::ReadText("KVD\\LOG.TXT"), log);
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.Memo1->toPlainText(), "It crashed");

    messages.clear();
    desktop.Online(false);
    Send(f);
    EXPECT_EQ(messages, std::vector<std::string>{kOffline});
    EXPECT_EQ(test::ReadText("KVD\\LOG.TXT"), log);
    EXPECT_TRUE(f.isVisible());

    // A server that takes the connection and then says nothing is given up on in time.
    messages.clear();
    desktop.Online(true);
    test::SilentPeer silent;
    WriteProgCfg("MailServer", silent.HostPort());
    f.MailLimits = TMailLimits{500, 1000};
    Send(f);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("imed out"), std::string::npos) << messages[0];
    EXPECT_EQ(test::ReadText("KVD\\LOG.TXT"), log);
    EXPECT_TRUE(f.isVisible());

    // With the server back the same dialog sends the same report.
    messages.clear();
    LocalSmtpServer smtp;
    WriteProgCfg("MailServer", smtp.HostPort());
    Send(f);
    EXPECT_EQ(messages, std::vector<std::string>{kThanks});
    EXPECT_FALSE(FileExists("KVD\\LOG.TXT"));
    const auto mails = smtp.Mails();
    ASSERT_EQ(mails.size(), 1u);
    TMail mail = ParseMail(mails[0]);
    ASSERT_EQ(mail.parts.size(), 2u);
    EXPECT_EQ(Base64Decode(mail.parts[1].body), log);
}

TEST_F(ErrorReportTest, ServerStoppedBeforeTheSendRefusesAndKeepsTheLog) {
    test::WriteText("KVD\\LOG.TXT", LogBytes());
    auto smtp = std::make_unique<LocalSmtpServer>();
    WriteProgCfg("MailServer", smtp->HostPort());
    TPublishErrorreportForm& f = Open();
    smtp->Stop();
    Send(f);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(kinds[0], platform::MessageKind::Error);
    EXPECT_TRUE(FileExists("KVD\\LOG.TXT"));
    EXPECT_TRUE(smtp->Mails().empty());
}

TEST_F(ErrorReportTest, OfflineSaysSoAndSendsNothing) {
    LocalSmtpServer smtp;
    WriteProgCfg("MailServer", smtp.HostPort());
    test::WriteText("KVD\\LOG.TXT", LogBytes());
    desktop.Online(false);
    TPublishErrorreportForm& f = Open();
    Send(f);
    EXPECT_EQ(messages, std::vector<std::string>{kOffline});
    EXPECT_TRUE(FileExists("KVD\\LOG.TXT"));
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(smtp.Mails().empty());
}

// What the player types in the address field goes into no header of its own and no second line
// of the configuration file.
TEST_F(ErrorReportTest, AnAddressThatIsNoAddressCannotAddHeadersOrKeys) {
    LocalSmtpServer smtp;
    WriteProgCfg("MailServer", smtp.HostPort());
    TPublishErrorreportForm& f = Open();
    f.Edit1->setText("Hans M\u00fcller\r\nBcc: someone@elsewhere.test");
    f.Memo1->setPlainText("x");
    Send(f);
    EXPECT_EQ(messages, std::vector<std::string>{kThanks});
    const auto mails = smtp.Mails();
    ASSERT_EQ(mails.size(), 1u);
    TMail mail = ParseMail(mails[0]);
    EXPECT_EQ(mail.headers.count("bcc"), 0u);
    EXPECT_EQ(mail.headers["x-rcptto"], kMailbox);
    EXPECT_EQ(mail.headers["x-mailfrom"], "<>");  // the empty reverse path
    EXPECT_EQ(mail.headers["from"], kMailbox);
    EXPECT_EQ(ReadProgCfg("Bcc"), "");
    EXPECT_EQ(ReadProgCfg("PER Name"), "Hans M\u00fcllerBcc: someone@elsewhere.test");
}

TEST_F(ErrorReportTest, TypedAddressIsOfferedAgainNextTime) {
    {
        TPublishErrorreportForm& f = Open();
        EXPECT_EQ(f.Edit1->text(), "");
        QTest::keyClick(f.Memo1, Qt::Key_Tab);  // from the description on to the address
        EXPECT_EQ(f.focusWidget(), f.Edit1);
        EXPECT_TRUE(f.Memo1->toPlainText().isEmpty());
        QTest::keyClicks(f.Edit1, "me@example.test");
        QTest::keyClick(&f, Qt::Key_Escape);  // closing by any way keeps it
        EXPECT_FALSE(f.isVisible());
    }
    // On disk, for the next start of the program.
    EXPECT_NE(test::ReadText("KVD\\prog.cfg").find("PER Name: me@example.test\r\n"),
              std::string::npos);
    TPublishErrorreportForm& again = Open();
    EXPECT_EQ(again.Edit1->text(), "me@example.test");
    again.Edit1->setText("other@example.test");
    again.close();
    EXPECT_EQ(ReadProgCfg("PER Name"), "other@example.test");
}

TEST_F(ErrorReportTest, ClearLogfileDeletesTheLogAndSendsNothing) {
    LocalSmtpServer smtp;
    WriteProgCfg("MailServer", smtp.HostPort());
    test::WriteText("KVD\\LOG.TXT", LogBytes());
    TPublishErrorreportForm& f = Open();
    f.Memo1->setPlainText("never sent");
    QTest::mouseClick(f.Button2, Qt::LeftButton);
    EXPECT_FALSE(FileExists("KVD\\LOG.TXT"));
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(smtp.Mails().empty());
}

// The launcher's menu item opens the dialog modally, with its controls in place.
TEST_F(ErrorReportTest, LauncherOpensTheDialogModally) {
    desktop.Online(false);
    test::WriteText("KVD\\LOG.TXT", LogBytes());
    TForm1 launcher;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        TPublishErrorreportForm* d = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* r = qobject_cast<TPublishErrorreportForm*>(w); r && r->isVisible()) d = r;
        ASSERT_NE(d, nullptr);
        seen = true;
        EXPECT_EQ(QApplication::activeModalWidget(), d);
        EXPECT_EQ(d->windowTitle(), "Send Errorreport");
        EXPECT_EQ(d->size(), QSize(445 - 8, 427 - 27));
        EXPECT_EQ(d->Label2->text(),
                  "Error Description (What happened? How can we reproduce the error?):");
        EXPECT_EQ(d->Label3->text(), "Additionally, this logfile will be attached to your report:");
        EXPECT_TRUE(d->Label4->text().startsWith(
            "Probably we need additional help from you to find and eleminate"));
        EXPECT_TRUE(d->Label4->text().endsWith(
            "We can only get in touch with you if you enter your email here:"));
        EXPECT_TRUE(d->Label4->wordWrap());
        EXPECT_TRUE(d->Memo2->isReadOnly());
        EXPECT_FALSE(d->Memo2->focusPolicy() & Qt::TabFocus);
        EXPECT_EQ(d->Button1->text(), "Send Report to Brightmoor");
        EXPECT_EQ(d->Button2->text(), "Clear Logfile");
        // From top to bottom as listed.
        const QWidget* order[] = {d->Label2, d->Memo1, d->Label3, d->Memo2,
                                  d->Label4, d->Edit1, d->Button2};
        for (size_t i = 1; i < std::size(order); ++i)
            EXPECT_GT(order[i]->y(), order[i - 1]->y()) << i;
        d->close();
    });
    launcher.ActionPublishErrorreport->trigger();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(FileExists("KVD\\LOG.TXT"));
    EXPECT_TRUE(messages.empty());
}

// A contact given with a name is the player's address all the same; what was typed is in the
// text for whoever reads the report.
TEST_F(ErrorReportTest, ContactWithANameKeepsTheAddressAndTheName) {
    LocalSmtpServer smtp;
    WriteProgCfg("MailServer", smtp.HostPort());
    TPublishErrorreportForm& f = Open();
    f.Edit1->setText("Hans Tester <hans@example.test>");
    f.Memo1->setPlainText("It froze");
    Send(f);
    EXPECT_EQ(messages, std::vector<std::string>{kThanks});
    const auto mails = smtp.Mails();
    ASSERT_EQ(mails.size(), 1u);
    TMail mail = ParseMail(mails[0]);
    EXPECT_EQ(mail.headers["x-mailfrom"], "hans@example.test");
    EXPECT_EQ(mail.headers["from"], "hans@example.test");
    ASSERT_FALSE(mail.parts.empty());
    EXPECT_EQ(QuotedPrintableDecode(mail.parts[0].body),
              "Contact: Hans Tester <hans@example.test>\n\nIt froze");
}

// The server's own reason for a refusal reaches the player, not only its number.
TEST_F(ErrorReportTest, RefusalShowsTheServersReason) {
    test::WriteText("KVD\\LOG.TXT", LogBytes());
    test::SmtpPeer smtp({{"RCPT TO",
                          {test::SmtpPeer::TAct::Answer,
                           "554 5.7.1 Relaying denied: this mailbox takes no reports today"}}});
    WriteProgCfg("MailServer", smtp.HostPort());
    TPublishErrorreportForm& f = Open();
    f.Memo1->setPlainText("x");
    Send(f);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(kinds[0], platform::MessageKind::Error);
    EXPECT_NE(messages[0].find("Relaying denied: this mailbox takes no reports today"),
              std::string::npos)
        << messages[0];
    EXPECT_TRUE(FileExists("KVD\\LOG.TXT"));
}

// A server that goes quiet once it has the message: the total time-out holds there too, the
// dialog says it is sending meanwhile, and the log stays for another try.
TEST_F(ErrorReportTest, ServerSilentAfterTheMessageGivesUpAtTheTotalTimeOut) {
    const std::string log = SampleLog();
    test::WriteText("KVD\\LOG.TXT", log);
    test::SmtpPeer smtp({{".", {test::SmtpPeer::TAct::Quiet, ""}}});
    WriteProgCfg("MailServer", smtp.HostPort());
    TPublishErrorreportForm& f = Open();
    f.MailLimits = TMailLimits{500, 1500};
    f.Memo1->setPlainText("x");
    QString shownWhileSending;
    bool sendDisabled = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (smtp.Heard(".") && !f.Status->text().isEmpty()) {
            shownWhileSending = f.Status->text();
            sendDisabled = !f.Button1->isEnabled();
            look.stop();
        }
    });
    look.start(20);
    const auto t0 = std::chrono::steady_clock::now();
    Send(f);
    // A bound for a hung test, not a measurement: without the time-out it waits minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
    EXPECT_TRUE(smtp.Heard("."));
    EXPECT_EQ(shownWhileSending, "Sending the report ...");
    EXPECT_TRUE(sendDisabled);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("imed out"), std::string::npos) << messages[0];
    EXPECT_EQ(test::ReadText("KVD\\LOG.TXT"), log);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.Button1->isEnabled());
    EXPECT_TRUE(f.Status->text().isEmpty());
}

TEST(ErrorMailTest, AddressOfWhatThePlayerTyped) {
    EXPECT_EQ(MailAddressOf("hans@example.test"), "hans@example.test");
    EXPECT_EQ(MailAddressOf("  hans@example.test "), "hans@example.test");
    EXPECT_EQ(MailAddressOf("Hans Tester <hans@example.test>"), "hans@example.test");
    EXPECT_EQ(MailAddressOf("Hans <not an address>"), "");
    EXPECT_EQ(MailAddressOf("Hans"), "");
    EXPECT_EQ(MailAddressOf("<a@b> trailing"), "");
}

TEST(ErrorMailTest, DateIsRfc5322WhateverTheLocale) {
    // 2026-12-08 10:55:59 UTC
    EXPECT_EQ(MailDate(1796727359, 0), "Tue, 08 Dec 2026 10:55:59 +0000");
    EXPECT_EQ(MailDate(1796727359, 3600), "Tue, 08 Dec 2026 11:55:59 +0100");
    EXPECT_EQ(MailDate(1796727359, -(3 * 3600 + 1800)), "Tue, 08 Dec 2026 07:25:59 -0330");
    EXPECT_EQ(MailDate(0, -3600), "Wed, 31 Dec 1969 23:00:00 -0100");
}

TEST(ErrorMailTest, ServerWithoutPortIsAskedOnPort25) {
    EXPECT_EQ(SmtpUrl("mail.example.test"), "smtp://mail.example.test:25");
    EXPECT_EQ(SmtpUrl("127.0.0.1:2525"), "smtp://127.0.0.1:2525");
    EXPECT_EQ(SmtpUrl("[::1]"), "smtp://[::1]:25");
    EXPECT_EQ(SmtpUrl("[::1]:2525"), "smtp://[::1]:2525");
}

TEST(ErrorMailTest, OnlyPlainAddressesGoIntoTheEnvelope) {
    EXPECT_TRUE(IsPlainMailAddress("player@example.test"));
    EXPECT_TRUE(IsPlainMailAddress("a.b+c@x"));
    EXPECT_FALSE(IsPlainMailAddress(""));
    EXPECT_FALSE(IsPlainMailAddress("player"));
    EXPECT_FALSE(IsPlainMailAddress("@example.test"));
    EXPECT_FALSE(IsPlainMailAddress("player@"));
    EXPECT_FALSE(IsPlainMailAddress("a@b@c"));
    EXPECT_FALSE(IsPlainMailAddress("Hans <h@example.test>"));
    EXPECT_FALSE(IsPlainMailAddress("h@example.test\r\nBcc: x@y"));
    EXPECT_FALSE(IsPlainMailAddress("m\xC3\xBCller@example.test"));
}

}  // namespace
