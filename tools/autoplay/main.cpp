// Plays games headless with a scripted player and prints how each went.
//   autoplay [--games N] [--skill idle|careless|good] [--seed S] [--kind 0|2] [--name NAME]
//            [--record DIR] [--keep DIR]
//   autoplay --replay FILE
// Game i is played from seed S + i on a fresh game screen with default settings and an empty top
// ten, in a program directory of its own (a temporary copy of this one, or --keep DIR, which
// is kept). --record writes each game as DIR/game_<i>.replay; --replay plays such a file again.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sprites/Paths.h"
#include "tools/autoplay/GameDriver.h"

namespace {

int Usage(const char* argv0) {
    std::fprintf(stderr,
                 "usage: %s [--games N] [--skill idle|careless|good] [--seed S] [--kind 0|2] [--name NAME]\n"
                 "          [--record DIR] [--keep DIR]\n"
                 "       %s --replay FILE\n",
                 argv0, argv0);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int games = 5;
    zx::TSkill skill = zx::TSkill::Good;
    uint32_t seed = 1;
    int kind = 2;
    std::string name, record, keep, replay;
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!std::strcmp(argv[i], "--games") && more) {
            games = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--skill") && more) {
            auto s = zx::SkillByName(argv[++i]);
            if (!s) return Usage(argv[0]);
            skill = *s;
        } else if (!std::strcmp(argv[i], "--seed") && more) {
            seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (!std::strcmp(argv[i], "--kind") && more) {
            kind = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--name") && more) {
            name = argv[++i];
        } else if (!std::strcmp(argv[i], "--record") && more) {
            record = argv[++i];
        } else if (!std::strcmp(argv[i], "--keep") && more) {
            keep = argv[++i];
        } else if (!std::strcmp(argv[i], "--replay") && more) {
            replay = argv[++i];
        } else {
            return Usage(argv[0]);
        }
    }
    if (kind != 0 && kind != 2) return Usage(argv[0]);
    if (name.empty()) name = zx::SkillName(skill);

    // Nobody watches: no window, no sound device.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    namespace fs = std::filesystem;
    std::string dir = keep;
    if (dir.empty()) {
        std::string tmpl = (fs::temp_directory_path() / "zolvex-autoplay-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        dir = tmpl;
    }
    try {
        zx::PrepareGameDir(zx::ProgramDir(), dir);
        zx::SetProgramDirForTesting(dir);
        std::vector<zx::TGameResult> results;
        if (!replay.empty()) {
            const zx::TReplay r = zx::TReplay::Load(replay);
            zx::TReplayInput input(r);
            zx::TPlayOptions opts;
            opts.Kind = r.Kind;
            results.push_back(zx::PlayGame(r.Seed, input, opts));
            std::printf("%s  (seed %u, %zu ticks replayed)\n", zx::FormatResult(1, results.back()).c_str(),
                        r.Seed, r.Ticks.size());
        } else {
            if (!record.empty()) fs::create_directories(record);
            for (int i = 1; i <= games; ++i) {
                const uint32_t s = seed + static_cast<uint32_t>(i - 1);
                zx::TAutoPlayer player(skill, s, name);
                zx::TReplay rec;
                zx::TPlayOptions opts;
                opts.Kind = static_cast<uint8_t>(kind);
                results.push_back(zx::PlayGame(s, player, opts, record.empty() ? nullptr : &rec));
                std::printf("%s  seed %u\n", zx::FormatResult(i, results.back()).c_str(), s);
                std::fflush(stdout);
                if (!record.empty()) rec.Save(record + "/game_" + std::to_string(i) + ".replay");
            }
        }
        std::printf("%s: %s\n", zx::SkillName(skill), zx::FormatSummary(results).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "autoplay: %s\n", e.what());
        if (keep.empty()) fs::remove_all(dir);
        return 1;
    }
    if (keep.empty()) fs::remove_all(dir);
    return 0;
}
