// The pictures of the game shown in the software centres (AppStream screenshots): the good player
// plays one game headless and the back buffer is saved as PNG at two moments, in the middle of
// play and after the congratulations have flown in.
//   gameshots OUTDIR [SEED]          -> OUTDIR/game.png, OUTDIR/won.png (800x600)
// The same seed gives the same pictures: the game runs on the replay's clock.
#include <SDL.h>
#include <cairo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "AutoPlayer.h"
#include "GameDriver.h"
#include "game/GameGlobals.h"
#include "game/scoreunit.h"
#include "platform/DDraw.h"
#include "platform/DisplayState.h"
#include "support/Paths.h"

namespace {

// A tick well into the game (20 s of play after the run-in), when the cave is full of swimmers.
constexpr int64_t kPlayTick = zx::kRunInTicks + 1000;
// Ticks after a won game is decided, when the letters stand still.
constexpr int64_t kWonAfter = 220;

bool SavePng(const std::string& file) {
    auto& back = *zx::DD.FlipList.at(1);
    const int bits = back.BytesPerPixel() * 8;
    const uint32_t format = bits == 16 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_XRGB8888;
    SDL_Surface* from = SDL_CreateRGBSurfaceWithFormatFrom(back.Bits(), back.Width(), back.Height(),
                                                           bits, back.Pitch(), format);
    if (!from) return false;
    // Cairo's RGB24 is SDL's XRGB8888 on a little-endian machine.
    SDL_Surface* rgb = SDL_ConvertSurfaceFormat(from, SDL_PIXELFORMAT_XRGB8888, 0);
    SDL_FreeSurface(from);
    if (!rgb) return false;
    cairo_surface_t* s = cairo_image_surface_create_for_data(
        static_cast<unsigned char*>(rgb->pixels), CAIRO_FORMAT_RGB24, rgb->w, rgb->h, rgb->pitch);
    const bool ok = cairo_surface_write_to_png(s, file.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    SDL_FreeSurface(rgb);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR [SEED]\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const uint32_t seed = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 11;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::filesystem::create_directories(out);
    std::string dir = (std::filesystem::temp_directory_path() / "zolvex-shots-XXXXXX").string();
    if (!mkdtemp(dir.data())) return 1;
    zx::PrepareGameDir(zx::ProgramDir(), dir, zx::TMusic::StandIns);
    zx::SetFolders(zx::TFolders::Single(dir));

    int saved = 0;
    {
        zx::TAutoPlayer player(zx::TSkill::Good, seed, "Shots");
        zx::TPlayOptions opts;
        opts.Kind = 2;
        zx::THeadlessGame game(seed, player, opts);
        int64_t decided = -1;
        for (int64_t tick = 0; game.Tick(); ++tick) {
            if (tick == kPlayTick) saved += SavePng(out + "/game.png");
            if (decided < 0 && zx::Anzeige && zx::Anzeige->Won) decided = tick;
            if (decided >= 0 && tick - decided == kWonAfter) {
                saved += SavePng(out + "/won.png");
                break;
            }
        }
    }
    std::filesystem::remove_all(dir);
    if (saved != 2) {
        std::fprintf(stderr, "gameshots: %d of 2 pictures made (seed %u: is it a won game?)\n",
                     saved, seed);
        return 1;
    }
    return 0;
}
