// Plays on the game screen without the launcher: loads the settings and the state file, converts
// the music, shows the game screen in the chosen display kind and saves the settings afterwards.
//   gamerunner [--kind 0|1|2]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/MusicConvert.h"
#include "display/DDrawUnit.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "sprites/LogFiles.h"
#include "sprites/Paths.h"
#include "sprites/Random.h"

int main(int argc, char** argv) {
    int kind = 2;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--kind") && i + 1 < argc) {
            kind = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--kind 0|1|2]\n", argv[0]);
            return 2;
        }
    }
    try {
        zx::Randomize();
        zx::EnsureDataDir();
        zx::SetEnvDefaults();
        zx::LoadEnv();
        zx::SetGameDataDefaults();
        zx::LoadGameData("KVD\\game.dat");
        if (zx::LogEndedOK()) zx::ClearLog();
        zx::TConsoleMusicProgress progress;
        zx::ConvertMusic(&progress);
        int rc = 0;
        {
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
