// zolvex-verify: plays a replay with the game's own code, headless, and says what the game
// reached.
//   zolvex-verify [--max-ticks N] [--max-bytes N] [--cpu-seconds N] [--data DIR] FILE|-
// Exit 0 with the figures on stdout; 2 with "refused: <reason>" on stderr for a replay it will not
// play; 3 with "refused: limit: <which>" when a limit of the machine ended it; 1 with "error:" when
// the verifier itself cannot run (its game files missing).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/SpermUnit.h"
#include "game/scoreunit.h"
#include "rules/Rules.h"
#include "screen/Replay.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "tools/autoplay/GameDriver.h"
#include "verify/Sandbox.h"
#include "verify/Verify.h"

namespace {

using zx::verify::TRefusal;

// A replay's input, tick by tick, as the game took it. A screenshot (Ctrl+P) is the one input
// that does nothing to the game and would write a file: it is left out.
class TVerifyInput : public zx::IInputSource {
public:
    explicit TVerifyInput(const zx::TReplay& r) : replay_(r) {}
    zx::TTickInput Next(const zx::TDDFullScreenForm1& screen) override {
        if (next_ >= replay_.Ticks.size()) {
            zx::TTickInput still;
            still.MouseX = screen.MouseX;
            still.MouseY = screen.MouseY;
            return still;
        }
        zx::TTickInput t = replay_.Ticks[next_++];
        std::erase_if(t.Messages, [](const zx::TInputMessage& m) {
            return m.kind == zx::TInputMessage::KeyDown && m.ctrl && m.code == 'P';
        });
        return t;
    }
    bool Done() const { return next_ >= replay_.Ticks.size(); }

private:
    const zx::TReplay& replay_;
    size_t next_ = 0;
};

bool Number(const char* text, size_t& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno || end == text || *end || text[0] == '-') return false;
    out = static_cast<size_t>(v);
    return true;
}

// The game's files: beside the program in the build, in share/zolvex-server/verify when
// installed.
std::string GameFolder(const std::string& given) {
    namespace fs = std::filesystem;
    if (!given.empty()) return given;
    const fs::path exe = fs::read_symlink("/proc/self/exe").parent_path();
    if (fs::exists(exe / "KVD")) return exe.string();
    return (exe.parent_path() / "share" / "zolvex-server" / "verify").string();
}

zx::verify::TReached Play(const zx::TReplay& replay) {
    TVerifyInput input(replay);
    zx::SetEnvDefaults();
    zx::SetGameDataDefaults();
    replay.ApplySettings();
    zx::EnvData.MusicOn = false;  // nobody listens; the game's course does not depend on it
    zx::TPlayOptions options;
    options.Kind = replay.Kind;
    options.MaxTicks = static_cast<int64_t>(replay.Ticks.size());
    options.KeepSettings = true;
    options.Draw = false;
    zx::THeadlessGame game(replay.Seed, input, options);
    std::string why;
    if (!zx::verify::LockDown(&why)) throw std::runtime_error(why);

    auto& screen = game.Screen();
    int64_t playStart = -1;
    while (screen.Results().empty() && !input.Done() && game.LogicTick())
        if (playStart < 0 && zx::GamePlaying) playStart = screen.Ticks();

    zx::verify::TReached r;
    if (!screen.Results().empty()) {
        const zx::TGameResult& g = screen.Results().front();
        r.Finished = true;
        r.Won = g.Won;
        r.Score = g.Score;
        r.Ticks = g.EndTick;
        r.CondomShots = g.CondomShots;
        r.Torpedoes = g.Torpedoes;
        r.Spawned = g.Spawned;
        r.CaughtEarly = g.CaughtEarly;
        r.Caught = g.Caught;
        r.Escaped = g.Escaped;
        r.Seconds = zx::Spermien ? zx::Spermien->Seconds : 0;
        return r;
    }
    if (playStart < 0) return r;  // never left the title
    r.Ticks = screen.Ticks() - playStart;
    r.Seconds =
        static_cast<int32_t>((zx::GameTicks - zx::GameStartTick) / zx::rules::kTicksPerSecond);
    if (zx::Anzeige) {
        r.Won = zx::Anzeige->Won;
        r.Score = zx::Anzeige->ScoreDisplay->Points;
    }
    if (const zx::TSpermien* s = zx::Spermien) {
        r.CondomShots = s->CondomShots;
        r.Torpedoes = s->Torpedoes;
        r.Spawned = s->Spawned;
        r.CaughtEarly = s->CaughtEarly;
        r.Caught = s->Caught;
        r.Escaped = s->EscapedCount;
    }
    return r;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps its configuration for the process's lifetime by design; in the sanitizer build
// the leak check at the end would count it as ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

int main(int argc, char** argv) {
    size_t maxTicks = zx::kMaxReplayTicks, maxBytes = zx::kMaxReplayBytes, cpuSeconds = 10;
    std::string file, data;
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        const std::string a = argv[i];
        if (a == "--max-ticks" && more && Number(argv[i + 1], maxTicks)) {
            ++i;
        } else if (a == "--max-bytes" && more && Number(argv[i + 1], maxBytes)) {
            ++i;
        } else if (a == "--cpu-seconds" && more && Number(argv[i + 1], cpuSeconds) && cpuSeconds) {
            ++i;
        } else if (a == "--data" && more) {
            data = argv[++i];
        } else if (file.empty() && (a == "-" || a[0] != '-')) {
            file = a;
        } else {
            file.clear();
            break;
        }
    }
    if (file.empty()) {
        std::fprintf(stderr,
                     "refused: usage: %s [--max-ticks N] [--max-bytes N] [--cpu-seconds N] "
                     "[--data DIR] FILE|-\n",
                     argv[0]);
        return 2;
    }

    // A caller that never closes its pipe, a machine that stalls: the wall clock ends it too,
    // later than a server lets a verifier that still plays on a loaded machine go on.
    zx::verify::InstallLimitHandlers(static_cast<unsigned>(cpuSeconds * 12 + 10));
    std::string why;
    zx::verify::TLimits limits;
    limits.CpuSeconds = cpuSeconds;
    if (!zx::verify::SetLimits(limits, &why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    zx::KeepLogInMemory(64 << 10);

    zx::TReplay replay;
    try {
        int fd = 0;
        if (file != "-") {
            fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0) throw TRefusal(2, "unreadable: " + file + ": " + std::strerror(errno));
            // Blocking again: a FIFO the caller feeds is read to its end.
            fcntl(fd, F_SETFL, 0);
        }
        std::string text = zx::verify::ReplayText(zx::verify::ReadAll(fd, maxBytes), maxBytes);
        if (fd != 0) close(fd);
        try {
            replay = zx::TReplay::FromText(text, maxTicks);
        } catch (const zx::TReplayTooLong& e) {
            throw TRefusal(2, std::string("too many ticks: ") + e.what());
        } catch (const zx::TReplayError& e) {
            throw TRefusal(2, std::string("unreadable: ") + e.what());
        }
    } catch (const TRefusal& e) {
        std::fprintf(stderr, "refused: %s\n", e.what());
        return e.Status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "refused: limit: memory\n");
        return 3;
    }

    const std::string folder = GameFolder(data);
    if (!std::filesystem::exists(std::filesystem::path(folder) / "KVD")) {
        std::fprintf(stderr, "error: the game's files are not in %s\n", folder.c_str());
        return 1;
    }
    zx::SetFolders(zx::TFolders::Single(folder));
    try {
        const zx::verify::TReached r = Play(replay);
        const std::string out = zx::verify::FormatReached(r);
        std::fwrite(out.data(), 1, out.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "refused: limit: memory\n");
        return 3;
    } catch (const std::exception& e) {
        const std::string log = zx::LogInMemory();
        std::fprintf(stderr, "error: %s\n%s", e.what(), log.c_str());
        return 1;
    }
}
