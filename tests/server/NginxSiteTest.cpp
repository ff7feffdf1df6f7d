// The shipped nginx site, as an operator installs it: checked with `nginx -t` before and after the
// certificate exists, then run in front of a real server with a self-signed certificate, pages
// and a submission sent through it. Paths and ports of the site are moved into a temporary
// folder and free loopback ports; nothing else of it is changed.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>
#include <sstream>

#include "ServerFixtures.h"

namespace zx {
namespace {

const char* const kNginx = "/usr/sbin/nginx";
const std::string kDeploy = std::string(ZOLVEX_SOURCE_DIR) + "/server/deploy/";

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

class NginxSite : public testing::Test {
protected:
    void SetUp() override {
        if (access(kNginx, X_OK) != 0) GTEST_SKIP() << "nginx is not installed";
        const std::string dir = folder_.Path();
        ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + dir +
                               "/key.pem -out " + dir +
                               "/cert.pem -days 2 -subj /CN=zolvex-game.example 2>/dev/null")
                                  .c_str()),
                  0);
        for (const char* name : {"nginx-zolvex.conf", "nginx-zolvex-tls.conf",
                                 "zolvex_locations.conf", "zolvex_proxy.conf"}) {
            std::ifstream in(kDeploy + name);
            std::ostringstream text;
            text << in.rdbuf();
            std::string t = text.str();
            Replace(t, "/etc/nginx/zolvex_", dir + "/zolvex_");
            Replace(t, "/usr/local/share/zolvex-server/pages", ZOLVEX_SERVER_PAGES);
            Replace(t, "127.0.0.1:8080", "127.0.0.1:" + std::to_string(server_.Port()));
            Replace(t, "/etc/letsencrypt/live/zolvex-game.example/fullchain.pem",
                    dir + "/cert.pem");
            Replace(t, "/etc/letsencrypt/live/zolvex-game.example/privkey.pem", dir + "/key.pem");
            Replace(t, "listen [::]:80;", "");
            Replace(t, "listen [::]:443 ssl http2;", "");
            Replace(t, "listen 80;", "listen 127.0.0.1:" + std::to_string(http_) + ";");
            Replace(t, "listen 443 ssl", "listen 127.0.0.1:" + std::to_string(https_) + " ssl");
            std::ofstream(dir + "/" + name) << t;
        }
    }
    void TearDown() override {
        if (nginx_ > 0) {
            kill(nginx_, SIGTERM);
            waitpid(nginx_, nullptr, 0);
        }
    }

    // The machine's nginx.conf stands in as a small wrapper around the site files.
    std::string Wrapper(bool withTls) {
        const std::string dir = folder_.Path();
        const std::string path = dir + (withTls ? "/nginx-both.conf" : "/nginx-first.conf");
        std::ofstream out(path);
        out << "user root;\ndaemon off;\npid " << dir << "/nginx.pid;\nerror_log " << dir
            << "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
            << "  include /etc/nginx/mime.types;\n  access_log off;\n";
        for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            out << "  " << t << "_temp_path " << dir << "/" << t << ";\n";
        out << "  include " << dir << "/nginx-zolvex.conf;\n";
        if (withTls) out << "  include " << dir << "/nginx-zolvex-tls.conf;\n";
        out << "}\n";
        return path;
    }
    int Check(const std::string& conf) {
        return std::system(("/usr/sbin/nginx -t -q -p " + folder_.Path() + " -c " + conf + " 2>" +
                            folder_.Path() + "/check.log")
                               .c_str());
    }
    void Start(const std::string& conf) {
        nginx_ = fork();
        if (nginx_ == 0) {
            execl(kNginx, kNginx, "-p", folder_.Path().c_str(), "-c", conf.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        // Up when it answers; a few seconds on a slow machine, the bound only for a broken one.
        for (int i = 0; i < 6000; ++i) {
            httplib::Client cli("127.0.0.1", http_);
            if (cli.Get("/zvxinternal")) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    test::TempFolder folder_, data_;
    test::ChildServer server_{data_.Path(), {"--trust-proxy"}};
    int http_ = FreePort(), https_ = FreePort();
    pid_t nginx_ = -1;
};

TEST_F(NginxSite, PassesNginxTestBeforeAndAfterTheCertificateAndServesThroughIt) {
    EXPECT_EQ(Check(Wrapper(false)), 0) << "the first step needs no certificate";
    const std::string both = Wrapper(true);
    ASSERT_EQ(Check(both), 0);
    Start(both);

    httplib::Client cli("127.0.0.1", http_);
    const httplib::Headers host = {{"Host", "www.zolvex-game.example"}};
    auto start = cli.Get("/zvxinternal", host);
    ASSERT_TRUE(start);
    EXPECT_EQ(start->status, 200);
    std::ifstream index(std::string(ZOLVEX_SERVER_PAGES) + "/index.html", std::ios::binary);
    std::ostringstream indexText;
    indexText << index.rdbuf();
    EXPECT_EQ(start->body, indexText.str());

    auto version = cli.Get("/zvxinternal/version.txt", host);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->status, 200);
    EXPECT_NE(version->body.find("www.zolvex-game.example"), std::string::npos) << version->body;

    std::string ranges = "bytes=0-0";
    for (int i = 1; i < 880; ++i) ranges += "," + std::to_string(i) + "-" + std::to_string(i);
    auto many = cli.Get("/zvxinternal/index.html", {{"Range", ranges}});
    ASSERT_TRUE(many);
    EXPECT_LE(many->body.size(), indexText.str().size());

    TPayloadFields f;
    f.Name = "Proxied";
    f.Score = 0;
    f.GamesStarted = 1;
    TScoreStats st;
    st.Seconds = 20;
    st.Spawned[1] = st.EscapedCount[1] = 7;
    st.Spawned[4] = st.EscapedCount[4] = 1;
    f.ScoreCode = MakeScoreCode(st, test::TestRandom(3));
    const test::Answer a = test::Publish(http_, f);
    EXPECT_TRUE(a.Lines.count("Rang")) << a.Status << " " << a.Body;
    auto page = cli.Get("/zvxinternal/highscore.html", host);
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("Proxied"), std::string::npos);

    httplib::SSLClient tls("127.0.0.1", https_);
    tls.enable_server_certificate_verification(false);
    auto secure = tls.Get("/zvxinternal", host);
    ASSERT_TRUE(secure);
    EXPECT_EQ(secure->status, 200);
    EXPECT_EQ(secure->body, indexText.str());
}

}  // namespace
}  // namespace zx
