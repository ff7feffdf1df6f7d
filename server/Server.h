#pragma once
// The maker's server: the start page and its pages, the list of known errors, the version file,
// the live highscore page and /score2.php, which takes published scores.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "server/HttpFront.h"
#include "server/Metrics.h"
#include "server/RateLimiter.h"
#include "server/ReplayQueue.h"
#include "server/ScoreStore.h"

namespace zx::server {

struct TServerOptions {
    std::string Host = "127.0.0.1";
    int Port = 8080;  // 0: any free port
    std::string PagesDir;
    // The game for browsers (play.html and the files it loads), served at /play/; empty, or a
    // folder without play.html, leaves /play unanswered.
    std::string PlayDir;
    // Submissions per address: a bucket of `SubmitBurst` refilled at `SubmitPerMinute`; 0 is off.
    double SubmitPerMinute = 6;
    double SubmitBurst = 5;
    // Behind the shipped nginx site every request comes from the proxy; then the address is the
    // one it puts in X-Real-IP.
    bool TrustProxy = false;
    // Workers for the requests that wait on the store; connections themselves hold no thread.
    int Threads = 64;
    // What one client may hold: see THttpLimits. With TrustProxy the limit per address is off
    // (every connection comes from the proxy, which limits its clients itself).
    int HeaderSeconds = 10, IdleSeconds = 5;
    int PerAddress = 32, Connections = 4096;
    bool LogRequests = true;
    // The level the game is played on; without it only what the score code alone allows is
    // checked.
    std::shared_ptr<const TLevelLimits> Level;
    // The data folder, for the size of the write-ahead log in the metrics; empty leaves it out.
    std::string DataDir;
    // Replays (POST /replay.php): kept in this folder until played; empty takes none.
    std::string ReplayDir;
    std::string Verifier;  // the verifier program
    int VerifyWorkers = 1;
    size_t VerifyQueue = 64;  // replays waiting or being played; past it 503 with Retry-After
    int VerifySeconds = 10;   // a verifier still running after this is killed
    // How long a replay's request waits for its verdict before it is answered "pending".
    int ReplayWaitMs = 8000;
};

// The largest replay a request may bring (compressed).
inline constexpr size_t kMaxReplayBytes = 64 * 1024;

// Unix seconds; tests put the server into any week.
using TClock = std::function<int64_t()>;
int64_t SystemClock();

class TZolvexServer {
public:
    TZolvexServer(TServerOptions options, std::shared_ptr<IScoreStore> store,
                  TClock clock = SystemClock);
    ~TZolvexServer();
    TZolvexServer(const TZolvexServer&) = delete;
    TZolvexServer& operator=(const TZolvexServer&) = delete;

    // Binds the listening socket; returns the port (the chosen one for port 0). Throws when the
    // address cannot be bound.
    int Bind();
    // Serves on a socket bound before the store was opened; returns its port.
    int Bind(TListenSocket socket);
    // Serves until Stop; requests under way are finished.
    void Run();
    // From any thread.
    void Stop();
    // Reads the pages folder again (pages, errors.txt, version.txt); throws and keeps serving the
    // pages it had when the folder cannot be read. From any thread.
    void ReloadPages();
    // Blocks until Run is listening.
    void WaitUntilListening();

    // The answer to a /score2.php request line's target from an address, without a socket:
    // status and body.
    std::pair<int, std::string> AnswerSubmission(const std::string& target,
                                                 const std::string& address);

private:
    struct Page {
        std::shared_ptr<const std::string> body;
        // Compressed forms, where they are smaller; and the body's entity tag.
        std::shared_ptr<const std::string> gzip, brotli;
        std::string type, tag;
    };
    struct PlayFiles {
        std::map<std::string, Page> files;
        // Names the set of files the page loads; asked for with ?v= of it, they may be kept.
        std::string version;
    };
    void LoadPages();
    // file: where the body was read, beside which its compressed forms may be stored.
    static Page MakePage(std::string body, const char* type, const std::string& file = "");
    static std::shared_ptr<const PlayFiles> LoadPlay(const std::string& dir);
    void ServePlay(const std::string& name, const THttpRequest& req, THttpAnswer& res) const;
    static void SendWhole(const Page& page, const THttpRequest& req, THttpAnswer& res);
    THttpHandlers Handlers();
    THttpLimits Limits() const;
    void Route(const THttpRequest& req, THttpAnswer& res);
    void ServePage(const std::string& key, const THttpRequest& req, THttpAnswer& res) const;
    void ServeHighscores(THttpAnswer& res);
    static void UnreadableHighscores(THttpAnswer& res);
    std::vector<THighscoreRow> WeekList(int64_t week);
    void ServeMetrics(const THttpRequest& req, THttpAnswer& res);
    std::pair<int, std::string> Submit(const std::string& target, const std::string& address);
    void SubmitReplay(const THttpRequest& req, THttpAnswer& res);
    void Judge(const std::string& code, const TVerifierRun& run);
    int RefusalsOf(const std::string& code);
    void Log(const std::string& line);
    std::string AddressOf(const THttpRequest& req) const;
    void Logged(const THttpRequest& req, const THttpAnswer& res, double ms);

    TServerOptions options_;
    std::shared_ptr<IScoreStore> store_;
    TClock clock_;
    TRateLimiter limiter_;
    TMetrics metrics_;
    std::unique_ptr<TReplayQueue> replays_;  // before the front, which answers from it
    static constexpr int kRefusalsPerScore = 3;
    std::mutex refusalsMutex_;
    std::unordered_map<std::string, int> refusals_;  // by score code, since the start
    std::unique_ptr<THttpFront> http_;
    std::atomic<std::shared_ptr<const std::map<std::string, Page>>> pages_;
    std::atomic<std::shared_ptr<const PlayFiles>> play_;
    // The highscore page is made again only after a new score, a moderation or when the week
    // changes; one request makes it, the others wait for it or take the last one made.
    struct THighscoreCache {
        std::shared_ptr<const std::string> Page;
        uint64_t Version = 0;
        int64_t Moderation = 0, Week = 0, At = 0;
    };
    std::shared_ptr<const THighscoreCache> FreshHighscores(int64_t now) const;
    int64_t CurrentModeration() const;
    std::mutex highscoreMutex_;
    std::atomic<uint64_t> scoresVersion_{1};
    std::atomic<uint64_t> highscoreFailures_{0};
    std::atomic<std::shared_ptr<const THighscoreCache>> highscores_;
    std::mutex logMutex_;
    std::mutex runMutex_;
    std::condition_variable runChanged_;
    bool listening_ = false, stopRequested_ = false;
};

// The raw value of one query parameter, not unescaped; nothing when absent.
std::optional<std::string> RawQueryValue(const std::string& target, const std::string& name);

// Stores the smallest compressed forms of the game's large files beside them, where the server
// takes them instead of compressing at each start, and removes forms of bodies the folder no
// longer holds. Throws std::runtime_error.
void StorePlayForms(const std::string& dir);

}  // namespace zx::server
