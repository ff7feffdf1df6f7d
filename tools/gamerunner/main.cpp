// Plays on the game screen without the launcher: loads the settings and the state file, converts
// the music, shows the game screen in the chosen display kind and saves the settings afterwards.
//   gamerunner [--kind 0|1|2] [--autoplay idle|careless|good|human [--games N]]
// With --autoplay a scripted player plays in real time instead of the mouse (N games, 1 unless
// given, then it leaves the screen); each game's outcome and the CPU time used per second of
// the screen's life are printed at the end.
#include <SDL.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "music/MusicConvert.h"
#include "platform/Window.h"
#include "screen/DDrawUnit.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"
#include "tools/autoplay/GameDriver.h"

namespace {

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

int Usage(const char* argv0) {
    std::fprintf(stderr,
                 "usage: %s [--kind 0|1|2] [--autoplay idle|careless|good|human [--games N]]\n",
                 argv0);
    return 2;
}

// Without a display SDL falls back to a driver that shows nothing: the games would play unseen
// and the run would end as if all were well. Playing unseen has to be asked for.
bool HaveDisplay() {
    if (!zx::platform::InitVideo()) {
        std::fprintf(stderr, "gamerunner: cannot start the display: %s\n", SDL_GetError());
        return false;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    if (driver && (!std::strcmp(driver, "offscreen") || !std::strcmp(driver, "dummy")) &&
        !(asked && *asked)) {
        std::fprintf(stderr,
                     "gamerunner: no display to show the game on (SDL's video driver is \"%s\"); "
                     "set DISPLAY, or SDL_VIDEODRIVER=%s to play unseen\n",
                     driver, driver);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int kind = 2;
    int games = 1;
    std::optional<zx::TSkill> skill;
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!std::strcmp(argv[i], "--kind") && more) {
            kind = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--autoplay") && more) {
            skill = zx::SkillByName(argv[++i]);
            if (!skill) return Usage(argv[0]);
        } else if (!std::strcmp(argv[i], "--games") && more) {
            games = std::atoi(argv[++i]);
        } else {
            return Usage(argv[0]);
        }
    }
    if (!HaveDisplay()) return 1;
    try {
        zx::Randomize();
        zx::EnsureDataDir();
        zx::RemoveSaveLeftovers();
        zx::SetEnvDefaults();
        zx::LoadEnv();
        zx::SetGameDataDefaults();
        zx::LoadGameData("KVD\\game.dat");
        if (zx::LogEndedOK()) zx::ClearLog();
        zx::TConsoleMusicProgress progress;
        zx::ConvertMusic(&progress);
        int rc = 0;
        if (skill) {
            const auto seed =
                static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
            zx::TAutoPlayer player(*skill, seed, "Auto", games);
            std::vector<zx::TGameResult> results;
            const double cpu0 = CpuSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            {
                zx::TPlayedScreen screen(player);
                zx::GameScreen = &screen;
                screen.SetDisplayKind(static_cast<uint8_t>(kind));
                screen.ShowModal();
                rc = screen.ErrorFlag ? 1 : 0;
                results = screen.Results();
            }
            const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const double cpu = CpuSeconds() - cpu0;
            for (size_t i = 0; i < results.size(); ++i)
                std::printf("%s\n", zx::FormatResult(static_cast<int>(i + 1), results[i]).c_str());
            std::printf("%s\n", zx::FormatSummary(results).c_str());
            std::printf("screen shown %.1f s, CPU %.2f s: %.1f %% of one core\n", wall, cpu,
                        100.0 * cpu / wall);
        } else {
            zx::TDDFullScreenForm1 screen;
            zx::GameScreen = &screen;
            screen.SetDisplayKind(static_cast<uint8_t>(kind));
            screen.ShowModal();
            rc = screen.ErrorFlag ? 1 : 0;
        }
        zx::GameScreen = nullptr;
        zx::SaveEnv();
        zx::SaveGameData("KVD\\game.dat");
        return rc;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gamerunner: %s\n", e.what());
        return 1;
    }
}
