// Helper of the server's load run (loadrun.sh):
//   bench_serverload requests N FILE   writes N distinct valid /score2.php request targets
//   bench_serverload replays N DIR     writes N distinct valid games: DIR/targets.txt (one payload
//                                      a line) and DIR/N.report, what a verifier prints for each
//   bench_serverload count STORE       prints the number of scores stored in STORE (a data folder
//                                      or a postgresql:// address)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "payload/Payload.h"
#include "server/ScoreStore.h"
#include "server/Submission.h"

namespace {

// A game as a player of middling skill plays it: won or lost, some catches of every kind.
zx::TPayloadFields RandomGame(std::mt19937& gen, const zx::RandomIntFn& rand,
                              zx::TScoreStats* stats = nullptr) {
    auto n = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); };
    zx::TScoreStats s;
    const bool won = n(0, 2) > 0;
    // Within what the shipped level sends of each kind, so that the server takes them all.
    static const int kMostOf[7] = {0, 60, 48, 6, 47, 19, 18};
    s.Seconds = won ? n(92, 95) : n(91, 99);
    s.CondomShots = n(20, 150);
    s.Torpedoes = n(1, 10);
    int64_t score = won ? zx::server::kWinBonus : 0;
    for (size_t k = 1; k <= 6; ++k) {
        s.Spawned[k] = n(std::min(5, kMostOf[k]), kMostOf[k]);
        s.CaughtEarly[k] = n(0, s.Spawned[k] / 4);
        s.Caught[k] = n(0, s.Spawned[k] - s.CaughtEarly[k]);
        // A lost game lets at least one virus through.
        if (!won && k == 4 && s.Caught[k] + s.CaughtEarly[k] >= s.Spawned[k])
            s.Caught[k] = s.Spawned[k] - s.CaughtEarly[k] - 1;
        s.EscapedCount[k] = (won && k >= 4) ? 0 : s.Spawned[k] - s.Caught[k] - s.CaughtEarly[k];
        score += zx::server::kCatchPoints[k] * (s.Caught[k] + s.CaughtEarly[k]) +
                 zx::server::kEarlyBonus * s.CaughtEarly[k];
    }
    if (!won && s.EscapedCount[4] + s.EscapedCount[5] + s.EscapedCount[6] == 0)
        s.EscapedCount[4] = 1;
    score -= zx::server::kCondomCost * s.CondomShots + zx::server::kTorpedoCost * s.Torpedoes;
    zx::TPayloadFields f;
    f.Score = static_cast<int32_t>(score);
    f.Name = "Player" + std::to_string(n(1, 99999));
    f.City = "Bern";
    f.Country = "CH";
    f.Age = n(0, 60);
    f.Sex = " fm"[n(0, 2)];
    f.GamesStarted = n(1, 200);
    f.GamesWon = n(0, f.GamesStarted);
    f.ScoreCode = zx::MakeScoreCode(s, rand);
    if (stats) *stats = s;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !std::strcmp(argv[1], "requests")) {
        const long count = std::atol(argv[2]);
        std::ofstream out(argv[3]);
        std::mt19937 gen(20261208);
        const zx::RandomIntFn rand = [&gen](int n) {
            return std::uniform_int_distribution<int>(0, n - 1)(gen);
        };
        for (long i = 0; i < count; ++i)
            out << "/score2.php?cs="
                << zx::ScramblePayload(zx::BuildPayload(RandomGame(gen, rand)), rand) << '\n';
        return out ? 0 : 1;
    }
    if (argc == 4 && !std::strcmp(argv[1], "replays")) {
        const long count = std::atol(argv[2]);
        const std::string dir = argv[3];
        std::ofstream targets(dir + "/targets.txt");
        std::mt19937 gen(20261209);
        const zx::RandomIntFn rand = [&gen](int n) {
            return std::uniform_int_distribution<int>(0, n - 1)(gen);
        };
        for (long i = 0; i < count; ++i) {
            zx::TScoreStats s;
            const zx::TPayloadFields f = RandomGame(gen, rand, &s);
            targets << zx::ScramblePayload(zx::BuildPayload(f), rand) << '\n';
            std::ofstream(dir + "/" + std::to_string(i) + ".report")
                << "finished 1\nwon 0\nscore " << f.Score << "\nticks 4500\ndigits "
                << zx::ScoreCodeDigits(s) << '\n';
        }
        return targets ? 0 : 1;
    }
    if (argc == 3 && !std::strcmp(argv[1], "count")) {
        std::printf("%lld\n",
                    static_cast<long long>(zx::server::OpenScoreStore(argv[2])->SubmissionCount()));
        return 0;
    }
    std::fprintf(stderr, "usage: %s requests N FILE | replays N DIR | count STORE\n", argv[0]);
    return 2;
}
