// zolvex-server: the maker's server for the game, its pages and its highscore list.
//   zolvex-server [--listen HOST:PORT] [--data DIR | --store postgresql://...] [--pages DIR]
//                 [--rate PER_MINUTE] [--burst N] [--threads N] [--trust-proxy] [--quiet]
//   zolvex-server migrate --from DIR --to postgresql://...
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <pthread.h>

#include "server/Migrate.h"
#include "server/Server.h"

#ifndef ZOLVEX_DEFAULT_PAGES
#define ZOLVEX_DEFAULT_PAGES "pages"
#endif

namespace {

void Usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s [--listen HOST:PORT] [--data DIR] [--pages DIR] [--rate PER_MINUTE] "
                 "[--burst N]\n"
                 "          [--threads N] [--trust-proxy] [--quiet]\n"
                 "  --listen       address and port to serve on (127.0.0.1:8080)\n"
                 "  --data         folder of the highscore database (./zolvex-data)\n"
                 "  --pages        folder of the pages (%s)\n"
                 "  --rate/--burst scores one address may publish per minute, and at once (6, 5); "
                 "0 is no limit\n"
                 "  --threads      connections served at the same time (64)\n"
                 "  --trust-proxy  take the client's address from X-Real-IP (behind nginx)\n"
                 "  --quiet        no line per request\n",
                 self, ZOLVEX_DEFAULT_PAGES);
    std::fprintf(
        stderr,
        "  --store        a PostgreSQL address (postgresql://...) in place of --data, for "
        "several servers\n"
        "       %s migrate --from DIR --to postgresql://...\n"
        "  copies the database of DIR into an empty PostgreSQL store and checks the counts\n",
        self);
}

bool ParseNumber(const char* s, double& out) {
    char* end = nullptr;
    out = std::strtod(s, &end);
    return end && *end == '\0' && end != s && out >= 0;
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

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && !std::strcmp(argv[1], "migrate")) return Migrate(argc, argv);
    zx::server::TServerOptions options;
    options.PagesDir = ZOLVEX_DEFAULT_PAGES;
    std::string data = "zolvex-data";
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
            options.Port = static_cast<int>(n);
        } else if (!std::strcmp(argv[i], "--data") && more) {
            data = argv[++i];
        } else if (!std::strcmp(argv[i], "--store") && more &&
                   zx::server::IsPgAddress(argv[i + 1])) {
            data = argv[++i];
        } else if (!std::strcmp(argv[i], "--pages") && more) {
            options.PagesDir = argv[++i];
        } else if (!std::strcmp(argv[i], "--rate") && more && ParseNumber(argv[i + 1], n)) {
            options.SubmitPerMinute = n;
            ++i;
        } else if (!std::strcmp(argv[i], "--burst") && more && ParseNumber(argv[i + 1], n) &&
                   n >= 1) {
            options.SubmitBurst = n;
            ++i;
        } else if (!std::strcmp(argv[i], "--threads") && more && ParseNumber(argv[i + 1], n) &&
                   n >= 2 && n <= 4096) {
            options.Threads = static_cast<int>(n);
            ++i;
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
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        auto store = zx::server::OpenScoreStore(data);
        zx::server::TZolvexServer server(options, std::move(store));
        const int port = server.Bind();
        // The password of a database address stays out of the log.
        const std::string shown = zx::server::IsPgAddress(data) ? "postgresql" : data;
        std::fprintf(stderr,
                     "zolvex-server: serving http://%s:%d/zvxinternal (data %s, pages %s)\n",
                     options.Host.c_str(), port, shown.c_str(), options.PagesDir.c_str());
        std::atomic<bool> signalled{false};
        std::thread waiter([&] {
            int sig = 0;
            sigwait(&stopSignals, &sig);
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
