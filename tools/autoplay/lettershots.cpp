// Frames of the end of a won game, for looking at the congratulation letters as they fly in:
// the good player plays headless without drawing until its game is decided, then every tick is
// drawn and the frames at the given ticks after the decision are saved as BMP files.
//   lettershots OUTDIR [SEED] [TICK ...]        (ticks default to 40 60 80 100 130)
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "AutoPlayer.h"
#include "GameDriver.h"
#include "game/GameGlobals.h"
#include "game/scoreunit.h"
#include "platform/DDraw.h"
#include "platform/DisplayState.h"
#include "support/Paths.h"

namespace {

bool SaveBackBuffer(const std::string& file) {
    auto& back = *zx::DD.FlipList.at(1);
    const int bits = back.BytesPerPixel() * 8;
    const uint32_t sdlFormat = bits == 16 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_XRGB8888;
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(back.Bits(), back.Width(), back.Height(),
                                                        bits, back.Pitch(), sdlFormat);
    if (!s) return false;
    const bool ok = SDL_SaveBMP(s, file.c_str()) == 0;
    SDL_FreeSurface(s);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR [SEED] [TICK ...]\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const uint32_t seed = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1;
    std::set<int64_t> wanted;
    for (int i = 3; i < argc; ++i) wanted.insert(std::atoll(argv[i]));
    if (wanted.empty()) wanted = {40, 60, 80, 100, 130};
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::filesystem::create_directories(out);
    std::string dir = (std::filesystem::temp_directory_path() / "zolvex-letters-XXXXXX").string();
    if (!mkdtemp(dir.data())) return 1;
    zx::PrepareGameDir(zx::ProgramDir(), dir, zx::TMusic::StandIns);
    zx::SetFolders(zx::TFolders::Single(dir));

    {
        zx::TAutoPlayer player(zx::TSkill::Good, seed, "Letters");
        zx::TPlayOptions opts;
        opts.Kind = 2;
        zx::THeadlessGame game(seed, player, opts);
        // Drawn from the start, so that the screen's pictures are all in place at the end.
        int64_t decided = -1;
        for (int64_t tick = 0; game.Tick(); ++tick) {
            if (decided < 0) {
                if (zx::Anzeige && (zx::Anzeige->Won || zx::Anzeige->Lost)) {
                    decided = tick;
                    std::printf("decided at tick %lld, %s\n", static_cast<long long>(tick),
                                zx::Anzeige->Won ? "won" : "lost");
                }
                continue;
            }
            const int64_t after = tick - decided;
            if (wanted.count(after)) {
                const std::string file = out + "/letters-" + std::to_string(after) + ".bmp";
                std::printf("%s %s\n", file.c_str(), SaveBackBuffer(file) ? "saved" : "not saved");
            }
            if (after >= *wanted.rbegin()) break;
        }
    }
    std::fflush(stdout);
    std::filesystem::remove_all(dir);
    return 0;
}
