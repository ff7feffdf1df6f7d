// The game for browsers at /play/, and every page, sent compressed as the client allows, tagged,
// and kept by caches only where its address names its version.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "ServerFixtures.h"
#include "server/Encoding.h"

namespace zx {
namespace {

namespace fs = std::filesystem;
using server::TEncoding;

TEST(AcceptEncoding, PrefersBrotliThenGzipAndHonoursRefusals) {
    using server::PreferredEncoding;
    EXPECT_EQ(PreferredEncoding("gzip, deflate, br", true, true), TEncoding::Brotli);
    EXPECT_EQ(PreferredEncoding("gzip, deflate, br", true, false), TEncoding::Gzip);
    EXPECT_EQ(PreferredEncoding("br;q=0, gzip", true, true), TEncoding::Gzip);
    EXPECT_EQ(PreferredEncoding("gzip;q=1.0, br;q=0.5", true, true), TEncoding::Gzip);
    EXPECT_EQ(PreferredEncoding("GZIP", true, true), TEncoding::Gzip);
    EXPECT_EQ(PreferredEncoding("*", true, true), TEncoding::Brotli);
    EXPECT_EQ(PreferredEncoding("*;q=0", true, true), TEncoding::Identity);
    EXPECT_EQ(PreferredEncoding("br;q=0, *", true, true), TEncoding::Gzip);
    EXPECT_EQ(PreferredEncoding("identity", true, true), TEncoding::Identity);
    EXPECT_EQ(PreferredEncoding("", true, true), TEncoding::Identity);
    EXPECT_EQ(PreferredEncoding("gzip;q=0.000", true, true), TEncoding::Identity);
}

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A game folder as the web build leaves it, with things beside it that are not the game's.
class PlayTest : public testing::Test {
protected:
    PlayTest() {
        const fs::path dir = play_.Path();
        Write(dir / "play.html",
              "<html><script src=\"zolvex-play.js?v={version}\"></script>" + Filler(400));
        Write(dir / "zolvex-play.js", "var Module;\n" + Filler(20000));
        Write(dir / "zolvex-play.wasm", std::string("\0asm\1\0\0\0", 8) + Filler(30000));
        Write(dir / "zolvex-play.data", Filler(50000));
        Write(dir / "secret.js", "not the game's");
        fs::create_symlink("/etc/hostname", dir / "zolvex-play.link.js");
        server::TServerOptions o = test::QuietOptions();
        o.PlayDir = dir.string();
        server_ = std::make_unique<test::InProcessServer>(data_.Path(), o);
    }
    static std::string Filler(size_t n) {
        std::string s;
        for (size_t i = 0; s.size() < n; ++i) s += "frame " + std::to_string(i % 97) + ";\n";
        return s;
    }
    httplib::Result Raw(const std::string& path, httplib::Headers h = {}) {
        httplib::Client cli("127.0.0.1", server_->Port());
        cli.set_decompress(false);
        if (!h.count("Accept-Encoding")) h.emplace("Accept-Encoding", "identity");
        return cli.Get(path.c_str(), h);
    }
    std::string Version() {
        auto res = Raw("/play/");
        const std::string& b = res->body;
        const size_t at = b.find("?v=");
        return at == std::string::npos ? std::string() : b.substr(at + 3, 16);
    }
    test::TempFolder data_, play_;
    std::unique_ptr<test::InProcessServer> server_;
};

TEST_F(PlayTest, ThePageIsServedUnderPlayWithTheVersionOfItsFilesAndIsCheckedEachTime) {
    auto moved = Raw("/play");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->status, 301);
    EXPECT_EQ(moved->get_header_value("Location"), "/play/");

    auto page = Raw("/play/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(page->get_header_value("Cache-Control"), "no-cache");
    EXPECT_EQ(page->body.find("{version}"), std::string::npos);
    const std::string v = Version();
    ASSERT_EQ(v.size(), 16u);
    EXPECT_EQ(v.find_first_not_of("0123456789abcdef"), std::string::npos);

    // The page by its other name is not a second copy of it.
    EXPECT_EQ(Raw("/play/play.html")->status, 404);
}

TEST_F(PlayTest, FilesAskedForByTheCurrentVersionAreKeptAYearOthersAreCheckedEachTime) {
    const std::string v = Version();
    auto js = Raw("/play/zolvex-play.js?v=" + v);
    ASSERT_TRUE(js);
    EXPECT_EQ(js->status, 200);
    EXPECT_EQ(js->get_header_value("Content-Type"), "text/javascript");
    EXPECT_EQ(js->get_header_value("Cache-Control"), "public, max-age=31536000, immutable");
    EXPECT_EQ(js->body.substr(0, 12), "var Module;\n");
    EXPECT_EQ(Raw("/play/zolvex-play.js?v=0000000000000000")->get_header_value("Cache-Control"),
              "no-cache");
    EXPECT_EQ(Raw("/play/zolvex-play.js")->get_header_value("Cache-Control"), "no-cache");

    auto wasm = Raw("/play/zolvex-play.wasm?v=" + v);
    EXPECT_EQ(wasm->get_header_value("Content-Type"), "application/wasm");
    EXPECT_EQ(wasm->body.substr(0, 4), std::string("\0asm", 4));
    EXPECT_EQ(Raw("/play/zolvex-play.data")->get_header_value("Content-Type"),
              "application/octet-stream");

    // Only the game's own files: not what else lies in the folder, nor a link out of it.
    EXPECT_EQ(Raw("/play/secret.js")->status, 404);
    EXPECT_EQ(Raw("/play/zolvex-play.link.js")->status, 404);
    EXPECT_EQ(Raw("/play/../zolvex-play.js")->status, 404);
    EXPECT_EQ(Raw("/play/nothing.wasm")->status, 404);
}

TEST_F(PlayTest, EachFileGoesCompressedAsTheClientAllowsAndATagHeldIsAnsweredWithoutABody) {
    const std::string v = Version();
    const std::string path = "/play/zolvex-play.data?v=" + v;
    auto plain = Raw(path);
    ASSERT_EQ(plain->body.size(), fs::file_size(fs::path(play_.Path()) / "zolvex-play.data"));
    EXPECT_FALSE(plain->has_header("Content-Encoding"));
    EXPECT_EQ(plain->get_header_value("Vary"), "Accept-Encoding");

    auto br = Raw(path, {{"Accept-Encoding", "gzip, deflate, br"}});
    EXPECT_EQ(br->get_header_value("Content-Encoding"), "br");
    EXPECT_LT(br->body.size(), plain->body.size() / 10);
    auto gz = Raw(path, {{"Accept-Encoding", "gzip"}});
    EXPECT_EQ(gz->get_header_value("Content-Encoding"), "gzip");
    EXPECT_LT(gz->body.size(), plain->body.size() / 10);
    EXPECT_EQ(gz->body.substr(0, 2), "\x1f\x8b");

    // Each form has a tag of its own; the client that holds one gets 304 and no body.
    const std::string tag = gz->get_header_value("ETag");
    EXPECT_NE(tag, plain->get_header_value("ETag"));
    EXPECT_NE(tag, br->get_header_value("ETag"));
    auto held = Raw(path, {{"Accept-Encoding", "gzip"}, {"If-None-Match", tag}});
    EXPECT_EQ(held->status, 304);
    EXPECT_TRUE(held->body.empty());
    EXPECT_EQ(Raw(path, {{"Accept-Encoding", "br"}, {"If-None-Match", tag}})->status, 200);

    // A client that decodes gets the very bytes of the file.
    httplib::Client cli("127.0.0.1", server_->Port());
    auto decoded = cli.Get(path.c_str(), {{"Accept-Encoding", "br"}});
    EXPECT_EQ(decoded->body, plain->body);
}

TEST_F(PlayTest, PagesGoCompressedTooButAPartAskedForIsOfThePlainPage) {
    auto plain = Raw("/zvxinternal/zvxrulesengl.htm");
    auto gz = Raw("/zvxinternal/zvxrulesengl.htm", {{"Accept-Encoding", "gzip"}});
    EXPECT_EQ(gz->get_header_value("Content-Encoding"), "gzip");
    EXPECT_LT(gz->body.size(), plain->body.size());
    auto part =
        Raw("/zvxinternal/zvxrulesengl.htm", {{"Accept-Encoding", "gzip"}, {"Range", "bytes=0-9"}});
    EXPECT_EQ(part->status, 206);
    EXPECT_FALSE(part->has_header("Content-Encoding"));
    EXPECT_EQ(part->body, plain->body.substr(0, 10));
    // Pictures are compressed already.
    auto pic = Raw("/zvxinternal/pics/banner.png", {{"Accept-Encoding", "gzip, br"}});
    EXPECT_FALSE(pic->has_header("Content-Encoding"));
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The game's large files are compressed once, after their build: a start sends the forms stored
// for exactly the bodies it reads, and compresses a body itself whose forms are another build's.
TEST(PlayStoredForms, AStartSendsTheFormsStoredForItsBodiesAndNeverThoseOfAnotherBuild) {
    test::TempFolder data, play;
    const fs::path dir = play.Path();
    std::string body;
    for (int i = 0; body.size() < 40000; ++i) body += "cell " + std::to_string(i % 89) + ";\n";
    Write(dir / "play.html", "<html><script src=\"zolvex-play.data?v={version}\"></script>");
    Write(dir / "zolvex-play.data", body);
    Write(dir / "zolvex-play.data.0123456789abcdef.br", "another build's");
    Write(dir / "zolvex-play.data.0123456789abcdef.gz.tmp", "cut off");
    Write(dir / "zolvex-play.data.notes.gz", "not a form");

    server::StorePlayForms(dir.string());
    const std::string tag = server::Fingerprint(body);
    const fs::path gz = dir / ("zolvex-play.data." + tag + ".gz");
    EXPECT_EQ(Slurp(gz), server::GzipBody(body));
    EXPECT_EQ(Slurp(dir / ("zolvex-play.data." + tag + ".br")), server::BrotliBody(body, true));
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{
                         "play.html", "zolvex-play.data", "zolvex-play.data." + tag + ".br",
                         "zolvex-play.data." + tag + ".gz", "zolvex-play.data.notes.gz"}));

    // A stored form is sent as it stands: this one differs from the server's own in its time
    // field only.
    std::string marked = server::GzipBody(body);
    marked[4] = 7;
    Write(gz, marked);
    server::TServerOptions o = test::QuietOptions();
    o.PlayDir = dir.string();
    auto get = [](int port, const char* coding, bool decode) {
        httplib::Client cli("127.0.0.1", port);
        cli.set_decompress(decode);
        return cli.Get("/play/zolvex-play.data", {{"Accept-Encoding", coding}})->body;
    };
    {
        test::InProcessServer server(data.Path(), o);
        EXPECT_EQ(get(server.Port(), "gzip", false), marked);
        EXPECT_EQ(get(server.Port(), "br", true), body);
    }
    // The next build changes the file; its forms are not stored yet.
    const std::string next = body + "one more cell;\n";
    Write(dir / "zolvex-play.data", next);
    test::InProcessServer server(data.Path(), o);
    EXPECT_EQ(get(server.Port(), "gzip", true), next);
    EXPECT_EQ(get(server.Port(), "br", true), next);
}

TEST(PlayMissing, AServerWithoutTheGameAnswersPlayWith404AndServesItsPages) {
    test::TempFolder data, empty;
    server::TServerOptions o = test::QuietOptions();
    o.PlayDir = empty.Path();
    test::InProcessServer server(data.Path(), o);
    httplib::Client cli("127.0.0.1", server.Port());
    EXPECT_EQ(cli.Get("/play/")->status, 404);
    EXPECT_EQ(cli.Get("/play/zolvex-play.js")->status, 404);
    EXPECT_EQ(cli.Get("/zvxinternal")->status, 200);
}

}  // namespace
}  // namespace zx
