// zolvex-server: the maker's server for the game, its pages and its highscore list.
//   zolvex-server [--listen HOST:PORT] [--data DIR | --store postgresql://...] [--pages DIR]
//                 [--level FILE] [--rate PER_MINUTE] [--burst N]
//                 [--threads N] [--header-seconds N] [--idle-seconds N] [--per-address N]
//                 [--connections N] [--trust-proxy] [--quiet]
//   zolvex-server migrate --from DIR --to postgresql://...
//   zolvex-server admin [--data DIR | --store postgresql://...] COMMAND ...
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "server/Migrate.h"
#include "server/Server.h"

#ifndef ZOLVEX_DEFAULT_LEVEL
#define ZOLVEX_DEFAULT_LEVEL "Level1.txt"
#endif
#ifndef ZOLVEX_DEFAULT_PAGES
#define ZOLVEX_DEFAULT_PAGES "pages"
#endif

namespace {

void Usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s [--listen HOST:PORT] [--data DIR] [--pages DIR] [--level FILE]\n"
                 "          [--rate PER_MINUTE] [--burst N]\n"
                 "          [--threads N] [--header-seconds N] [--idle-seconds N]\n"
                 "          [--per-address N] [--connections N] [--trust-proxy] [--quiet]\n"
                 "  --listen       address and port to serve on (127.0.0.1:8080)\n"
                 "  --data         folder of the highscore database (./zolvex-data)\n"
                 "  --pages        folder of the pages (%s)\n"
                 "  --play         folder of the game for browsers, served at /play/ (%s)\n"
                 "  --level        the game's level in plain text, to check scores against (%s)\n"
                 "  --rate/--burst scores one address may publish per minute, and at once (6, 5); "
                 "0 is no limit\n"
                 "  --threads      scores and highscore pages worked on at the same time (64)\n"
                 "  --header-seconds  a request's head must be complete this long after its\n"
                 "                 connection opened (10)\n"
                 "  --idle-seconds a connection with nothing arriving is closed after this (5)\n"
                 "  --per-address  connections at once from one address, 0 no limit (32; off\n"
                 "                 with --trust-proxy)\n"
                 "  --connections  connections at once in all (4096)\n"
                 "  --trust-proxy  take the client's address from X-Real-IP (behind nginx)\n"
                 "  --quiet        no line per request\n"
                 "  --require-replay  rank only scores whose replay the server played (the\n"
                 "                 default of a new data folder; kept with the scores)\n"
                 "  --allow-unverified  rank scores without a verified replay too, marked (the\n"
                 "                 default of a data folder from before replays)\n"
                 "  --verifier     the replay verifier (zolvex-verify beside this program)\n"
                 "  --replays      folder of the replays waiting to be played (DATA/replays;\n"
                 "                 ./zolvex-replays with --store)\n"
                 "  --verify-workers  replays played at once (the processor's cores)\n"
                 "  --verify-queue replays waiting or played at once before 503 (16 per worker)\n"
                 "  --verify-seconds  a replay still playing after this is refused (10)\n"
                 "       %s backup [--data DIR] FILE\n"
                 "  a consistent copy of the live highscore database into FILE\n",
                 self, ZOLVEX_DEFAULT_PAGES, ZOLVEX_DEFAULT_PLAY, ZOLVEX_DEFAULT_LEVEL, self);
    std::fprintf(
        stderr,
        "  --store        a PostgreSQL address (postgresql://...) in place of --data, for "
        "several servers\n"
        "       %s migrate --from DIR --to postgresql://...\n"
        "  copies the database of DIR into an empty PostgreSQL store and checks the counts\n"
        "       %s admin [--data DIR | --store postgresql://...] COMMAND, beside a running "
        "server:\n"
        "  list [NAME-OR-ID]          scores of that player or with that in their name, best "
        "first\n"
        "  hide|restore player ID     every score of a player\n"
        "  hide|restore score NUMBER  one score, by the number that list shows\n"
        "  refuse|allow NAME          scores under that name (any case) are not taken\n"
        "  refused                    the refused names\n"
        "  require-replay on|off      rank only scores whose replay was verified, or all\n"
        "       %s compress-play DIR\n"
        "  stores the smallest compressed forms of the game's files in DIR beside them, so that\n"
        "  a start does not compress them (after each build of the game for browsers)\n",
        self, self, self);
}

// A copy of the live database, taken while the server runs: one read transaction, so the copy is
// consistent, written beside the target and renamed over it once complete and on disk.
int Backup(const std::string& data, const std::string& target) {
    const std::string source = (std::filesystem::path(data) / "scores.db").string();
    const std::string temp = target + ".part";
    sqlite3* from = nullptr;
    sqlite3* to = nullptr;
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "zolvex-server: backup failed: %s\n", why.c_str());
        sqlite3_close(from);
        sqlite3_close(to);
        std::remove(temp.c_str());
        return 1;
    };
    if (sqlite3_open_v2(source.c_str(), &from, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return fail("cannot open " + source);
    sqlite3_busy_timeout(from, 10000);
    std::remove(temp.c_str());
    if (sqlite3_open_v2(temp.c_str(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        return fail("cannot create " + temp);
    sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
    if (!b) return fail(sqlite3_errmsg(to));
    int rc;
    while ((rc = sqlite3_backup_step(b, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED)
        sqlite3_sleep(50);
    sqlite3_backup_finish(b);
    if (rc != SQLITE_DONE) return fail(sqlite3_errstr(rc));
    if (sqlite3_close(to) != SQLITE_OK) return fail("cannot close " + temp);
    to = nullptr;
    const int fd = open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) return fail("cannot sync " + temp);
    close(fd);
    if (std::rename(temp.c_str(), target.c_str()) != 0) return fail("cannot rename to " + target);
    sqlite3_close(from);
    std::printf("zolvex-server: backup of %s written to %s\n", source.c_str(), target.c_str());
    return 0;
}

bool ParseNumber(const char* s, double& out) {
    char* end = nullptr;
    out = std::strtod(s, &end);
    return end && *end == '\0' && end != s && out >= 0;
}

// "NAME N" at argv[i] with N from lo to hi: stores N and steps past it.
bool Count(int argc, char** argv, int& i, const char* name, double lo, double hi, int& out) {
    double n = 0;
    if (std::strcmp(argv[i], name) != 0 || i + 1 >= argc || !ParseNumber(argv[i + 1], n) ||
        n < lo || n > hi)
        return false;
    out = static_cast<int>(n);
    ++i;
    return true;
}

int Migrate(int argc, char** argv) {
    std::string from, to;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--from"))
            from = argv[i + 1];
        else if (!std::strcmp(argv[i], "--to"))
            to = argv[i + 1];
        else
            from.clear(), to.clear(), i = argc;
    }
    if (argc % 2 || from.empty() || !zx::server::IsPgAddress(to)) {
        Usage(argv[0]);
        return 2;
    }
    try {
        const auto n = zx::server::MigrateSqliteToPg(from, to);
        std::printf("copied %lld submissions, %lld players, %lld week bests; the counts match\n",
                    static_cast<long long>(n.Submissions), static_cast<long long>(n.Players),
                    static_cast<long long>(n.WeekBests));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolvex-server: migrate: %s\n", e.what());
        return 1;
    }
    return 0;
}

// Names as sent may hold any bytes; a control character must not reach the operator's terminal.
std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 32 || c == 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int Admin(int argc, char** argv) {
    std::string where = "zolvex-data";
    int at = 2;
    if (at + 1 < argc &&
        (!std::strcmp(argv[at], "--data") ||
         (!std::strcmp(argv[at], "--store") && zx::server::IsPgAddress(argv[at + 1])))) {
        where = argv[at + 1];
        at += 2;
    }
    const std::vector<std::string> args(argv + std::min(at, argc), argv + argc);
    const auto is = [&](size_t n, const char* command) {
        return args.size() == n && args[0] == command;
    };
    const bool hide = !args.empty() && args[0] == "hide";
    int64_t number = 0;
    const bool scoreCommand = (is(3, "hide") || is(3, "restore")) && args[1] == "score";
    if (scoreCommand) {
        char* end = nullptr;
        number = std::strtoll(args[2].c_str(), &end, 10);
        if (!end || *end || args[2].empty()) number = 0;
    }
    const bool playerCommand = (is(3, "hide") || is(3, "restore")) && args[1] == "player";
    const bool modeCommand = is(2, "require-replay") && (args[1] == "on" || args[1] == "off");
    if (!(is(1, "list") || is(2, "list") || is(1, "refused") || is(2, "refuse") || is(2, "allow") ||
          modeCommand || playerCommand || (scoreCommand && number > 0))) {
        Usage(argv[0]);
        return 2;
    }
    // A mistyped folder must not become a new, empty store.
    if (!zx::server::IsPgAddress(where) &&
        !std::filesystem::is_regular_file(std::filesystem::path(where) / "scores.db")) {
        std::fprintf(stderr, "zolvex-server: admin: no scores in %s\n", where.c_str());
        return 1;
    }
    try {
        auto store = zx::server::OpenScoreStoreForModeration(where);
        if (args[0] == "list") {
            const auto rows = store->FindScores(args.size() > 1 ? args[1] : std::string(), 1000);
            std::printf("number\tplayer\tscore\tname\tcity\ttime (UTC)\tstate\treplay\n");
            for (const auto& r : rows) {
                const time_t t = static_cast<time_t>(r.Time);
                char when[32] = "";
                std::tm tm{};
                if (gmtime_r(&t, &tm)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
                std::string replay = zx::server::ReplayStateName(r.Replay);
                if (!r.ReplayReason.empty()) replay += ": " + Printable(r.ReplayReason);
                std::printf("%lld\t%s\t%lld\t%s\t%s\t%s\t%s\t%s\n",
                            static_cast<long long>(r.Submission), r.Player.c_str(),
                            static_cast<long long>(r.Score), Printable(r.Name).c_str(),
                            Printable(r.City).c_str(), when,
                            r.PlayerHidden ? "player hidden"
                            : r.Hidden     ? "hidden"
                                           : "shown",
                            replay.c_str());
            }
        } else if (modeCommand) {
            // The running server ranks under the new mode from its next score on.
            store->SetRequiresReplay(args[1] == "on");
            std::printf("%s\n", args[1] == "on" ? "only verified scores are ranked"
                                                : "unverified scores are ranked too");
        } else if (args[0] == "refused") {
            for (const auto& name : store->RefusedNames())
                std::printf("%s\n", Printable(name).c_str());
        } else if (args[0] == "refuse" || args[0] == "allow") {
            store->SetNameRefused(args[1], args[0] == "refuse");
            std::printf("%s %s\n", args[0] == "refuse" ? "refused" : "allowed",
                        Printable(args[1]).c_str());
        } else {
            const bool found = playerCommand ? store->SetPlayerHidden(args[2], hide)
                                             : store->SetScoreHidden(number, hide);
            if (!found) {
                std::fprintf(stderr, "zolvex-server: admin: no %s %s\n", args[1].c_str(),
                             args[2].c_str());
                return 1;
            }
            std::printf("%s %s %s\n", hide ? "hid" : "restored", args[1].c_str(), args[2].c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolvex-server: admin: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && !std::strcmp(argv[1], "migrate")) return Migrate(argc, argv);
    if (argc > 1 && !std::strcmp(argv[1], "admin")) return Admin(argc, argv);
    if (argc == 3 && !std::strcmp(argv[1], "compress-play")) {
        try {
            zx::server::StorePlayForms(argv[2]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zolvex-server: compress-play: %s\n", e.what());
            return 1;
        }
        return 0;
    }
    // zolvex-server backup [--data DIR] FILE
    if (argc >= 3 && !std::strcmp(argv[1], "backup")) {
        std::string data = "zolvex-data";
        int at = 2;
        if (argc == 5 && !std::strcmp(argv[2], "--data")) {
            data = argv[3];
            at = 4;
        }
        if (at != argc - 1) {
            Usage(argv[0]);
            return 2;
        }
        return Backup(data, argv[at]);
    }
    zx::server::TServerOptions options;
    options.PagesDir = ZOLVEX_DEFAULT_PAGES;
    options.PlayDir = ZOLVEX_DEFAULT_PLAY;
    std::string data = "zolvex-data";
    std::string level = ZOLVEX_DEFAULT_LEVEL;
    std::optional<bool> requireReplay;
    int verifyQueue = 0;
    std::string replayDir;
    options.VerifyWorkers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    {
        // The verifier is installed beside the server.
        std::error_code ec;
        const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
        const std::filesystem::path bin =
            (ec ? std::filesystem::path(argv[0]) : self).parent_path();
        options.Verifier = bin / "zolvex-verify";
        // Installed, the pages, the game and the level lie in share/ beside bin/; the build's own
        // folders are on the machine that built it only.
        const std::filesystem::path share = bin.parent_path() / "share" / "zolvex-server";
        if (std::filesystem::is_directory(share / "pages", ec)) {
            options.PagesDir = (share / "pages").string();
            options.PlayDir = (share / "play").string();
            level = (share / "Level1.txt").string();
        }
    }
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        double n = 0;
        if (!std::strcmp(argv[i], "--listen") && more) {
            const std::string v = argv[++i];
            const size_t colon = v.rfind(':');
            if (colon == std::string::npos || !ParseNumber(v.c_str() + colon + 1, n) || n > 65535) {
                Usage(argv[0]);
                return 2;
            }
            options.Host = v.substr(0, colon);
            // An IPv6 address is written in brackets, as in a URL.
            if (options.Host.size() > 2 && options.Host.front() == '[' &&
                options.Host.back() == ']')
                options.Host = options.Host.substr(1, options.Host.size() - 2);
            options.Port = static_cast<int>(n);
        } else if (!std::strcmp(argv[i], "--data") && more) {
            data = argv[++i];
        } else if (!std::strcmp(argv[i], "--store") && more &&
                   zx::server::IsPgAddress(argv[i + 1])) {
            data = argv[++i];
        } else if (!std::strcmp(argv[i], "--level") && more) {
            level = argv[++i];
        } else if (!std::strcmp(argv[i], "--pages") && more) {
            options.PagesDir = argv[++i];
        } else if (!std::strcmp(argv[i], "--play") && more) {
            options.PlayDir = argv[++i];
        } else if (!std::strcmp(argv[i], "--rate") && more && ParseNumber(argv[i + 1], n)) {
            options.SubmitPerMinute = n;
            ++i;
        } else if (!std::strcmp(argv[i], "--burst") && more && ParseNumber(argv[i + 1], n) &&
                   n >= 1) {
            options.SubmitBurst = n;
            ++i;
        } else if (Count(argc, argv, i, "--threads", 2, 4096, options.Threads) ||
                   Count(argc, argv, i, "--header-seconds", 1, 3600, options.HeaderSeconds) ||
                   Count(argc, argv, i, "--idle-seconds", 1, 3600, options.IdleSeconds) ||
                   Count(argc, argv, i, "--per-address", 0, 1000000, options.PerAddress) ||
                   Count(argc, argv, i, "--connections", 1, 1000000, options.Connections)) {
        } else if (Count(argc, argv, i, "--verify-workers", 1, 1024, options.VerifyWorkers) ||
                   Count(argc, argv, i, "--verify-queue", 1, 1000000, verifyQueue) ||
                   Count(argc, argv, i, "--verify-seconds", 1, 3600, options.VerifySeconds)) {
        } else if (!std::strcmp(argv[i], "--replays") && more) {
            replayDir = argv[++i];
        } else if (!std::strcmp(argv[i], "--verifier") && more) {
            options.Verifier = argv[++i];
        } else if (!std::strcmp(argv[i], "--require-replay")) {
            requireReplay = true;
        } else if (!std::strcmp(argv[i], "--allow-unverified")) {
            requireReplay = false;
        } else if (!std::strcmp(argv[i], "--trust-proxy")) {
            options.TrustProxy = true;
        } else if (!std::strcmp(argv[i], "--quiet")) {
            options.LogRequests = false;
        } else {
            Usage(argv[0]);
            return 2;
        }
    }

    // The signals are taken by one thread of our own, which stops the server in an orderly way;
    // every thread started after this inherits the blocked mask.
    // A signal ignored by the parent (a background job of a shell) would be dropped before
    // sigwait sees it, so both get a handler of their own first.
    struct sigaction act {};
    act.sa_handler = [](int) {};
    sigaction(SIGINT, &act, nullptr);
    sigaction(SIGTERM, &act, nullptr);
    sigaction(SIGHUP, &act, nullptr);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        options.Level =
            std::make_shared<const zx::server::TLevelLimits>(zx::server::LoadLevelLimits(level));
        // The port first: a server refused for it leaves no folder and no store behind.
        zx::server::TListenSocket listener(options.Host, options.Port);
        const bool shared = zx::server::IsPgAddress(data);
        if (!shared) {
            // One server per data folder: a second one would keep ranks of its own beside the
            // first.
            std::filesystem::create_directories(data);
            const std::string lockPath =
                (std::filesystem::path(data) / "zolvex-server.lock").string();
            const int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            if (lockFd < 0 || flock(lockFd, LOCK_EX | LOCK_NB) != 0)
                throw std::runtime_error("the data folder " + data +
                                         " is in use by another zolvex-server");
            options.DataDir = data;
        }
        options.ReplayDir = !replayDir.empty() ? replayDir
                            : shared           ? std::string("zolvex-replays")
                                               : (std::filesystem::path(data) / "replays").string();
        options.VerifyQueue = verifyQueue > 0 ? static_cast<size_t>(verifyQueue)
                                              : static_cast<size_t>(16 * options.VerifyWorkers);
        auto store = zx::server::OpenScoreStore(data);
        // A new store ranks only verified games; one from before replays keeps ranking every
        // score until the operator says otherwise. The choice is kept with the scores.
        const std::optional<bool> mode = store->RequiresReplay();
        const bool wanted = requireReplay.value_or(mode.value_or(store->SubmissionCount() == 0));
        if (mode != wanted) store->SetRequiresReplay(wanted);
        zx::server::TZolvexServer server(options, std::move(store));
        const int port = server.Bind(std::move(listener));
        const bool v6 = options.Host.find(':') != std::string::npos;
        // The password of a database address stays out of the log.
        const std::string shown = shared ? "postgresql" : data;
        std::fprintf(stderr,
                     "zolvex-server: serving http://%s%s%s:%d/zvxinternal (data %s, pages %s; "
                     "ranked: %s)\n",
                     v6 ? "[" : "", options.Host.c_str(), v6 ? "]" : "", port, shown.c_str(),
                     options.PagesDir.c_str(),
                     wanted ? "verified scores only" : "unverified scores too");
        std::atomic<bool> signalled{false};
        std::thread waiter([&] {
            int sig = 0;
            // SIGHUP: the pages, errors.txt and version.txt are read again.
            while (sigwait(&stopSignals, &sig) == 0 && sig == SIGHUP) {
                try {
                    server.ReloadPages();
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "zolvex-server: pages not read again: %s\n", e.what());
                }
            }
            signalled = true;
            std::fprintf(stderr, "zolvex-server: %s, stopping\n",
                         sig == SIGINT ? "interrupted" : "terminated");
            server.Stop();
        });
        server.Run();
        // Run also returns when listening fails; the waiter must then be woken by hand.
        if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolvex-server: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "zolvex-server: stopped\n");
    return 0;
}
