// The game screen in a browser's page: the program folder is the packed one (/zolvex, read from
// the page's data file), what the program writes (settings, highscores, the log) goes to /save,
// which the page keeps in the browser's storage, and the screen fills the page's canvas.
#include <emscripten.h>

#include <cstdio>
#include <exception>

#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "screen/DDrawUnit.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"

namespace {

// The page's storage: the records' folder mounted from IndexedDB before the game reads it and
// written back after it; a page without storage (private mode, storage switched off) plays with
// the defaults and keeps nothing.
void SyncStorage(bool load) {
    // clang-format off
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdollar-in-identifier-extension"
    EM_ASM({
        if (!Module.zolvexStorage) return;
        Asyncify.handleSleep(function(wakeUp) {
            FS.syncfs($0, function(err) {
                if (err) console.warn("zolvex: storage", err);
                wakeUp();
            });
        });
    }, load ? 1 : 0);
#pragma clang diagnostic pop
    // clang-format on
}

}  // namespace

int main() {
    try {
        zx::TFolders folders = zx::TFolders::Single("/zolvex");
        folders.Data = folders.Cache = "/save";
        zx::SetFolders(folders);
        SyncStorage(true);
        zx::Randomize();
        zx::EnsureDataDir();
        zx::RemoveSaveLeftovers();
        zx::SetEnvDefaults();
        zx::LoadEnv();
        zx::SetGameDataDefaults();
        zx::LoadGameData("KVD\\game.dat");
        if (zx::LogEndedOK()) zx::ClearLog();
        int rc = 0;
        {
            zx::TDDFullScreenForm1 screen;
            zx::GameScreen = &screen;
            screen.SetDisplayKind(2);
            screen.ShowModal();
            rc = screen.ErrorFlag ? 1 : 0;
        }
        zx::GameScreen = nullptr;
        zx::SaveEnv();
        zx::SaveGameData("KVD\\game.dat");
        SyncStorage(false);
        return rc;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolvex: %s\n", e.what());
        return 1;
    }
}
