// A whole game of the good player on the headless game screen, in 16 bits (display kind 0) and
// in 32 bits (kind 2): the cost of each frame (logic, sprite sort and paint, flip), the logic
// alone, the set-up from InitDDraw to the end of the first frame (the first one of the process,
// then again for each kind), and the peak resident memory.
//   bench_GameBench [seed]
//   bench_GameBench setup      (the first set-up of the process alone, then the end)
// The game is recorded once with the player and then replayed for every measurement, so each
// figure is of the same game and none includes the player's thinking.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/Smoke.h"
#include "platform/DDraw.h"
#include "support/Paths.h"
#include "tools/autoplay/GameDriver.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Figures {
    double median = 0, p99 = 0, max = 0;
};

Figures Of(std::vector<double> v) {
    if (v.empty()) return {};
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[static_cast<size_t>(0.99 * static_cast<double>(v.size() - 1))],
            v.back()};
}

long PeakRssKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const bool setupOnly = argc > 1 && std::string(argv[1]) == "setup";
    const uint32_t seed =
        argc > 1 && !setupOnly ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    char tmpl[] = "/tmp/zolvex-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    zx::PrepareGameDir(ZOLVEX_PROGRAM_DIR_BUILD, dir);
    zx::SetFolders(zx::TFolders::Single(dir));

    std::printf("good player, seed %u, one game each; times in ms\n", seed);
    {
        // The first set-up of a process pays for fresh memory and cold files, as a player's does.
        zx::TAutoPlayer idle(zx::TSkill::Idle, seed, "Bench");
        zx::TPlayOptions opts;
        opts.Kind = 0;
        const auto t0 = Clock::now();
        zx::THeadlessGame game(seed, idle, opts);
        game.Tick();
        std::printf("first set-up in the process (kind 0) to the end of the first frame: %.1f\n",
                    Ms(Clock::now() - t0));
    }
    if (setupOnly) {
        std::filesystem::remove_all(dir);
        return 0;
    }
    for (uint8_t kind : {uint8_t{0}, uint8_t{2}}) {
        zx::TPlayOptions opts;
        opts.Kind = kind;
        // A smoke run plays the first seconds of each game only.
        opts.MaxTicks = zx::bench::Sized<int64_t>(opts.MaxTicks, 300);
        zx::TReplay replay;
        {
            zx::TAutoPlayer player(zx::TSkill::Good, seed, "Bench");
            const zx::TGameResult r = zx::PlayGame(seed, player, opts, &replay);
            if (!r.Finished && !zx::bench::Smoke()) {
                std::fprintf(stderr, "the game did not finish\n");
                return 1;
            }
            std::printf("kind %d: %s\n", kind, zx::FormatResult(1, r).c_str());
        }

        // Whole frames.
        std::vector<double> frame;
        double setup = 0;
        int bits = 0;
        {
            zx::TReplayInput input(replay);
            const auto t0 = Clock::now();
            zx::THeadlessGame game(replay.Seed, input, opts);
            game.Tick();
            setup = Ms(Clock::now() - t0);
            zx::platform::PixelFormat pf{};
            game.Screen().PrimarySurface->GetPixelFormat(pf);
            bits = static_cast<int>(pf.bitCount);
            frame.reserve(replay.Ticks.size());
            for (;;) {
                const auto t = Clock::now();
                if (!game.Tick()) break;
                frame.push_back(Ms(Clock::now() - t));
            }
        }
        // The state procedures alone.
        std::vector<double> logic;
        {
            zx::TReplayInput input(replay);
            zx::THeadlessGame game(replay.Seed, input, opts);
            logic.reserve(replay.Ticks.size());
            for (;;) {
                const auto t = Clock::now();
                if (!game.LogicTick()) break;
                logic.push_back(Ms(Clock::now() - t));
            }
        }
        const Figures f = Of(frame), l = Of(logic);
        std::printf(
            "kind %d (%d bits), %zu frames: frame median %.3f  p99 %.3f  max %.3f | "
            "logic median %.3f  p99 %.3f  max %.3f | set-up again %.1f\n",
            kind, bits, frame.size(), f.median, f.p99, f.max, l.median, l.p99, l.max, setup);
    }
    std::printf("peak resident memory %.1f MB\n", PeakRssKb() / 1024.0);
    std::filesystem::remove_all(dir);
    return 0;
}
