// Plays games headless with scripted players and prints how each went.
//   autoplay [--games N] [--skill SKILL[,SKILL...]|all] [--seed S] [--kind 0|2] [--name NAME]
//            [--record DIR] [--keep DIR] [--draw] [--quiet]
//   autoplay --replay FILE [--mix SOUND]
// Game i is played from seed S + i - 1 on a fresh game screen with default settings and an empty
// top ten, in a program directory of its own (a temporary copy of this one, or --keep DIR, which
// is kept). Several skills play the same seeds one after the other and end with a table of them.
// Nothing is drawn unless --draw asks for it (the game's course is the same either way); --quiet
// leaves out the line per game. --record writes each game as DIR/game_<i>.replay (with several
// skills, DIR/<skill>_game_<i>.replay); --replay plays such a file again, and --mix writes the
// sound it made, mixed tick by tick (raw 16-bit samples: aplay -f cd SOUND).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/Paths.h"
#include "tools/autoplay/GameDriver.h"

namespace {

int Usage(const char* argv0) {
    std::fprintf(stderr,
                 "usage: %s [--games N] [--skill idle|careless|good|human[,...]|all] [--seed S] "
                 "[--kind 0|2]\n"
                 "          [--name NAME] [--record DIR] [--keep DIR] [--draw] [--quiet]\n"
                 "       %s --replay FILE [--mix SOUND]\n",
                 argv0, argv0);
    return 2;
}

// "all", or skill names separated by commas.
std::optional<std::vector<zx::TSkill>> Skills(const std::string& list) {
    if (list == "all")
        return std::vector{zx::TSkill::Idle, zx::TSkill::Careless, zx::TSkill::Good,
                           zx::TSkill::Human};
    std::vector<zx::TSkill> skills;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        auto s = zx::SkillByName(std::string_view(list).substr(start, comma - start));
        if (!s) return std::nullopt;
        skills.push_back(*s);
        start = comma + 1;
    }
    return skills;
}

}  // namespace

int main(int argc, char** argv) {
    int games = 5;
    std::vector<zx::TSkill> skills{zx::TSkill::Good};
    bool draw = false, quiet = false;
    uint32_t seed = 1;
    int kind = 2;
    std::string name, record, keep, replay, mix;
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!std::strcmp(argv[i], "--games") && more) {
            games = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--skill") && more) {
            auto s = Skills(argv[++i]);
            if (!s) return Usage(argv[0]);
            skills = *s;
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
        } else if (!std::strcmp(argv[i], "--draw")) {
            draw = true;
        } else if (!std::strcmp(argv[i], "--quiet")) {
            quiet = true;
        } else if (!std::strcmp(argv[i], "--replay") && more) {
            replay = argv[++i];
        } else if (!std::strcmp(argv[i], "--mix") && more) {
            mix = argv[++i];
        } else {
            return Usage(argv[0]);
        }
    }
    if (kind != 0 && kind != 2) return Usage(argv[0]);
    if (!mix.empty() && replay.empty()) return Usage(argv[0]);

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
        // Nothing is heard, so music the build has not converted is stood in for.
        zx::PrepareGameDir(zx::ProgramDir(), dir, zx::TMusic::StandIns);
        zx::SetFolders(zx::TFolders::Single(dir));
        if (!replay.empty()) {
            const zx::TReplay r = zx::TReplay::Load(replay);
            zx::TReplayInput input(r);
            zx::TPlayOptions opts;
            opts.Kind = r.Kind;
            opts.Draw = draw;
            opts.Settings = &r;
            zx::platform::MixedSound sound;
            if (!mix.empty()) opts.Mix = &sound;
            const zx::TGameResult result = zx::PlayGame(r.Seed, input, opts);
            if (!mix.empty()) zx::WriteMix(mix, sound);
            std::printf("%s  (seed %u, %zu ticks replayed)\n", zx::FormatResult(1, result).c_str(),
                        r.Seed, r.Ticks.size());
        } else {
            if (!record.empty()) fs::create_directories(record);
            std::vector<std::pair<std::string, std::vector<zx::TGameResult>>> table;
            for (const zx::TSkill skill : skills) {
                const std::string skillName = zx::SkillName(skill);
                std::vector<zx::TGameResult> results;
                for (int i = 1; i <= games; ++i) {
                    const uint32_t s = seed + static_cast<uint32_t>(i - 1);
                    zx::TAutoPlayer player(skill, s, name.empty() ? skillName : name);
                    zx::TReplay rec;
                    zx::TPlayOptions opts;
                    opts.Kind = static_cast<uint8_t>(kind);
                    opts.Draw = draw;
                    results.push_back(
                        zx::PlayGame(s, player, opts, record.empty() ? nullptr : &rec));
                    if (!quiet) {
                        std::printf("%s  seed %u\n", zx::FormatResult(i, results.back()).c_str(),
                                    s);
                        std::fflush(stdout);
                    }
                    if (!record.empty())
                        rec.Save(record + "/" + (skills.size() > 1 ? skillName + "_" : "") +
                                 "game_" + std::to_string(i) + ".replay");
                }
                std::printf("%s: %s\n", skillName.c_str(), zx::FormatSummary(results).c_str());
                std::fflush(stdout);
                table.emplace_back(skillName, std::move(results));
            }
            std::printf("\n%s", zx::FormatTable(table).c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "autoplay: %s\n", e.what());
        if (keep.empty()) fs::remove_all(dir);
        return 1;
    }
    if (keep.empty()) fs::remove_all(dir);
    return 0;
}
