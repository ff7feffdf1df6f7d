// Plays a recorded game on the headless game screen and prints what it gave, one fact a line:
//   node zolvex-replay.js PROGRAM_DIR REPLAY [SOUND]
// PROGRAM_DIR holds the built sounds, level and cave; the game runs in a temporary copy of it.
// Built for Node.js, whose file system the program sees as its own: the same replay played here
// and by the desktop build must give the same lines, and SOUND the same mix (autoplay --mix).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "screen/Replay.h"
#include "support/Paths.h"
#include "tools/autoplay/AutoPlayer.h"
#include "tools/autoplay/GameDriver.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s PROGRAM_DIR REPLAY [SOUND]\n", argv[0]);
        return 2;
    }
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / "zolvex-web-replay-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    int rc = 0;
    try {
        zx::PrepareGameDir(argv[1], dir, zx::TMusic::StandIns);
        // The faces the texts are drawn with are the program folder's in the web build.
        fs::copy(fs::path(argv[1]) / "fonts", fs::path(dir) / "fonts", fs::copy_options::recursive);
        zx::SetFolders(zx::TFolders::Single(dir));
        const zx::TReplay replay = zx::TReplay::Load(argv[2]);
        zx::TReplayInput input(replay);
        zx::TPlayOptions options;
        options.Kind = replay.Kind;
        options.Settings = &replay;  // a recording that carries settings was played with them
        options.Draw = false;
        zx::platform::MixedSound sound;
        if (argc == 4) options.Mix = &sound;
        const zx::TGameResult result = zx::PlayGame(replay.Seed, input, options);
        if (argc == 4) zx::WriteMix(argv[3], sound);
        std::fputs(zx::ResultFacts(replay.Seed, result).c_str(), stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolvex-replay: %s\n", e.what());
        // The folder goes with the run: what its log says is told here.
        std::ifstream log(dir + "/KVD/LOG.TXT", std::ios::binary);
        std::fprintf(stderr, "%s", std::string(std::istreambuf_iterator<char>(log), {}).c_str());
        rc = 1;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return rc;
}
