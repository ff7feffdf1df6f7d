// SaveEnv + LoadEnv: the round trip that runs when a player confirms a name mid-game.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "game/LevelFile.h"
#include "support/Paths.h"

namespace {

struct TempProgramDir {
    std::string dir;
    TempProgramDir() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "zolvex-bench-XXXXXX").string();
        if (mkdtemp(tmpl.data())) dir = tmpl;
        zx::SetFolders(zx::TFolders::Single(dir));
        zx::EnsureDataDir();
    }
    ~TempProgramDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

void FillEnv() {
    zx::SetEnvDefaults();
    for (int i = 1; i <= zx::kHighscorePlaces; ++i) {
        zx::InsertScore(1000 * i);
        zx::SetHighscoreName(1, "Spieler" + std::to_string(i));
        zx::SetScoreCode(1, std::string(55, static_cast<char>('a' + i)));
    }
    zx::EnvData.Comment = "Ein Kommentar mit Ümlauten";
}

void BM_SaveLoadEnv(benchmark::State& state) {
    TempProgramDir tmp;
    FillEnv();
    for (auto _ : state) {
        zx::SaveEnv();
        zx::LoadEnv();
        benchmark::DoNotOptimize(zx::EnvData.Highscores[0].Score);
    }
}
BENCHMARK(BM_SaveLoadEnv)->Unit(benchmark::kMicrosecond);

// The in-memory part alone (serialise, scramble, unscramble, parse), without the disk.
void BM_EnvImageRoundTrip(benchmark::State& state) {
    TempProgramDir tmp;
    FillEnv();
    for (auto _ : state) {
        auto bytes = zx::EnvDataToBytes(zx::EnvData);
        std::string text = zx::UnscrambleLine(zx::ScrambleLine(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
        zx::EnvDataFromBytes(zx::EnvData,
                             std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        benchmark::DoNotOptimize(zx::EnvData.Highscores[0].Score);
    }
}
BENCHMARK(BM_EnvImageRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
