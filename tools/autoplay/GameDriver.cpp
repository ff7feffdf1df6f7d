#include "tools/autoplay/GameDriver.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/SpermUnit.h"
#include "game/scoreunit.h"
#include "music/MusicConvert.h"
#include "platform/Ticks.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"

namespace zx {

namespace fs = std::filesystem;

TPlayedScreen::TPlayedScreen(IInputSource& input, TReplay* record)
    : input_(input), record_(record) {}

void TPlayedScreen::TakeInput() {
    TTickInput in = input_.Next(*this);
    SetScriptedPointer(in.MouseX, in.MouseY);
    for (const auto& m : in.Messages) HandleMessage(m);
    if (record_) record_->Ticks.push_back(std::move(in));
}

void TPlayedScreen::Threadnotify(int32_t ticks) {
    TakeInput();
    TDDFullScreenForm1::Threadnotify(ticks);
    Observe(ticks);
}

void TPlayedScreen::LogicTick() {
    TakeInput();
    const TStateProc proc = GlsProc;
    if (!Paused && proc) (this->*proc)();
    TickDone();
    Observe(1);
}

bool TPlayedScreen::BackOnTitle() const {
    return !results_.empty() && !inGame_ && GlsProc == &TDDFullScreenForm1::glsBegin;
}

void TPlayedScreen::Observe(int32_t ticks) {
    ticks_ += ticks;
    if (!inGame_) {
        if (!GamePlaying) return;
        inGame_ = true;
        current_ = {};
        watch_.Reset();
        playStart_ = ticks_;
    }
    if (Spermien) watch_.Observe(*Spermien, ticks_ - playStart_);
    if (current_.DecidedTick < 0 && Anzeige && (Anzeige->Won || Anzeige->Lost)) {
        current_.DecidedTick = ticks_ - playStart_;
        if (Anzeige->Lost && !watch_.FatalEscapes().empty())
            current_.LostTo = watch_.FatalEscapes().front();
    }
    if ((ResultWon || ResultLost) && Spermien && Anzeige) {
        // The HUD has ended the game; the swarm still holds its statistics until the level closes.
        auto& r = current_;
        r.Finished = true;
        r.Won = ResultWon;
        r.Score = Anzeige->ScoreDisplay->Points;
        r.Rank = Anzeige->NewRank;
        r.EndTick = ticks_ - playStart_;
        r.Spawned = Spermien->Spawned;
        r.CaughtEarly = Spermien->CaughtEarly;
        r.Caught = Spermien->Caught;
        r.Escaped = Spermien->EscapedCount;
        r.CondomShots = Spermien->CondomShots;
        r.Torpedoes = Spermien->Torpedoes;
        results_.push_back(r);
        inGame_ = false;
    } else if (!GamePlaying) {
        inGame_ = false;  // left with Escape: not a finished game
    }
}

void PrepareGameDir(const std::string& builtDir, const std::string& dir, TMusic music) {
    const fs::path from(builtDir), to(dir);
    fs::create_directories(to / "snd");
    fs::create_directories(to / "KVD");
    const auto opts = fs::copy_options::overwrite_existing;
    for (const auto& e : fs::directory_iterator(from / "snd")) {
        const auto ext = e.path().extension();
        if (ext == ".mp3") fs::copy_file(e.path(), to / "snd" / e.path().filename(), opts);
    }
    // Waves after the MP3s, so that a conversion the built directory already has is up to date.
    for (const auto& e : fs::directory_iterator(from / "snd"))
        if (e.path().extension() == ".wav")
            fs::copy_file(e.path(), to / "snd" / e.path().filename(), opts);
    for (const auto& e : fs::directory_iterator(from / "KVD")) {
        const std::string name = e.path().filename().string();
        if (name.rfind("Level", 0) == 0 || name == "front.dat")
            fs::copy_file(e.path(), to / "KVD" / name, opts);
    }
    if (music == TMusic::StandIns) {
        std::vector<fs::path> waves;
        for (const auto& e : fs::directory_iterator(to / "snd"))
            if (e.path().extension() == ".mp3")
                waves.push_back(fs::path(e.path()).replace_extension(".wav"));
        // Always the stand-in, even where the built directory holds a conversion: a game must load
        // the same sounds (and log the same sizes) wherever it is played.
        for (const auto& wav : waves) fs::copy_file(to / "snd" / "leer.wav", wav, opts);
        return;
    }
    if (fs::exists(from / "libmpegdll.so"))
        fs::copy_file(from / "libmpegdll.so", to / "libmpegdll.so", opts);
    const TFolders saved = Folders();
    SetFolders(TFolders::Single(dir));
    try {
        ConvertMusic(nullptr);
    } catch (...) {
        SetFolders(saved);
        throw;
    }
    SetFolders(saved);
}

THeadlessGame::THeadlessGame(uint32_t seed, IInputSource& input, const TPlayOptions& options,
                             TReplay* record)
    : options_(options) {
    if (!options.KeepSettings) {
        SetEnvDefaults();
        SetGameDataDefaults();
        if (options.Settings) options.Settings->ApplySettings();
    }
    if (record) {
        record->Seed = seed;
        record->Kind = options.Kind;
        record->TakeSettings();
        record->Ticks.clear();
    }
    // Any start will do, as long as every run of the same game starts from it.
    platform::SetManualTicks(1000000u);
    if (options.Mix) platform::SetMixOnDemand(true);
    RandSeed(seed);
    screen_ = std::make_unique<TPlayedScreen>(input, record);
    // Every level the screen sets up starts from the game's seed; the replays are the caller's.
    screen_->NextSeed = [seed] { return seed; };
    screen_->GameRecorded = nullptr;
    GameScreen = screen_.get();
    screen_->SetDisplayKind(options.Kind);
    screen_->Show();
    if (screen_->ErrorFlag) {
        screen_.reset();
        GameScreen = nullptr;
        platform::SetManualTicks(std::nullopt);
        if (options.Mix) platform::SetMixOnDemand(false);
        throw std::runtime_error("the game screen could not be set up; see " + ProgramDir() +
                                 "/KVD/LOG.TXT");
    }
}

THeadlessGame::~THeadlessGame() {
    screen_.reset();
    GameScreen = nullptr;
    platform::SetManualTicks(std::nullopt);
    if (options_.Mix) platform::SetMixOnDemand(false);
}

bool THeadlessGame::Over() const {
    return screen_->BackOnTitle() || screen_->Ticks() >= options_.MaxTicks ||
           screen_->GlsProc == &TDDFullScreenForm1::glsIdle;
}

bool THeadlessGame::Tick() {
    if (Over()) return false;
    platform::AdvanceTicks(20);
    screen_->Threadnotify(1);
    if (options_.Mix) platform::MixOnDemand(*options_.Mix, 20);
    return true;
}

bool THeadlessGame::LogicTick() {
    if (Over()) return false;
    platform::AdvanceTicks(20);
    screen_->LogicTick();
    if (options_.Mix) platform::MixOnDemand(*options_.Mix, 20);
    return true;
}

TGameResult THeadlessGame::Result() const {
    const auto& r = screen_->Results();
    return r.empty() ? TGameResult{} : r.front();
}

TGameResult PlayGame(uint32_t seed, IInputSource& input, const TPlayOptions& options,
                     TReplay* record) {
    THeadlessGame game(seed, input, options, record);
    while (options.Draw ? game.Tick() : game.LogicTick()) {
    }
    return game.Result();
}

void WriteMix(const std::string& path, const platform::MixedSound& mix) {
    static_assert(std::endian::native == std::endian::little, "samples are written as they lie");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(mix.Samples.data()),
              static_cast<std::streamsize>(mix.Samples.size() * sizeof(int16_t)));
    out.close();
    if (!out) throw std::runtime_error("cannot write the sound to " + path);
}

namespace {

std::string PerKind(const std::array<int32_t, 7>& a) {
    std::string s;
    for (int k = 1; k <= 6; ++k)
        s += (k > 1 ? "/" : "") + std::to_string(a[static_cast<size_t>(k)]);
    return s;
}

std::array<int32_t, 7> CaughtAll(const TGameResult& r) {
    std::array<int32_t, 7> a{};
    for (size_t k = 1; k <= 6; ++k) a[k] = r.Caught[k] + r.CaughtEarly[k];
    return a;
}

}  // namespace

namespace {
std::string Numbers(const std::array<int32_t, 7>& byKind) {
    std::string s;
    for (size_t k = 1; k <= 6; ++k) s += " " + std::to_string(byKind[k]);
    return s;
}
}  // namespace

std::string ResultFacts(uint32_t seed, const TGameResult& r) {
    std::ostringstream o;
    o << "seed " << seed << "\n"
      << "finished " << r.Finished << "\n"
      << "won " << r.Won << "\n"
      << "score " << r.Score << "\n"
      << "rank " << r.Rank << "\n"
      << "decided at tick " << r.DecidedTick << "\n"
      << "ended at tick " << r.EndTick << "\n"
      << "spawned" << Numbers(r.Spawned) << "\n"
      << "caught early" << Numbers(r.CaughtEarly) << "\n"
      << "caught" << Numbers(r.Caught) << "\n"
      << "escaped" << Numbers(r.Escaped) << "\n"
      << "condom shots " << r.CondomShots << "\n"
      << "torpedoes " << r.Torpedoes << "\n";
    return o.str();
}

std::string FormatResult(int game, const TGameResult& r) {
    char line[400];
    if (!r.Finished) {
        std::snprintf(line, sizeof line, "game %3d  unfinished", game);
        return line;
    }
    std::snprintf(line, sizeof line,
                  "game %3d  %-4s score %6d  decided at tick %5lld  ended at %5lld  rank %2d  "
                  "caught %s (early %s)  escaped %s  shots %d  torpedoes %d",
                  game, r.Won ? "won" : "lost", r.Score, static_cast<long long>(r.DecidedTick),
                  static_cast<long long>(r.EndTick), r.Rank, PerKind(CaughtAll(r)).c_str(),
                  PerKind(r.CaughtEarly).c_str(), PerKind(r.Escaped).c_str(), r.CondomShots,
                  r.Torpedoes);
    std::string text = line;
    if (!r.Won) text += "  lost to " + r.LostTo.Label() + " row " + std::to_string(r.LostTo.Row);
    return text;
}

std::string FormatSummary(const std::vector<TGameResult>& results) {
    int won = 0, finished = 0;
    long long score = 0, wonScore = 0, shots = 0, torpedoes = 0;
    std::array<long long, 7> caught{}, escaped{}, spawned{};
    for (const auto& r : results) {
        if (!r.Finished) continue;
        ++finished;
        won += r.Won;
        score += r.Score;
        if (r.Won) wonScore += r.Score;
        shots += r.CondomShots;
        torpedoes += r.Torpedoes;
        for (size_t k = 1; k <= 6; ++k) {
            caught[k] += r.Caught[k] + r.CaughtEarly[k];
            escaped[k] += r.Escaped[k];
            spawned[k] += r.Spawned[k];
        }
    }
    auto perKind = [](const std::array<long long, 7>& a) {
        std::string s;
        for (size_t k = 1; k <= 6; ++k) s += (k > 1 ? "/" : "") + std::to_string(a[k]);
        return s;
    };
    char line[600];
    std::snprintf(
        line, sizeof line,
        "%d games (%zu unfinished): won %d, lost %d; mean score %.0f (won games %.0f); "
        "spawned %s, caught %s, escaped %s (kinds sperm1/sperm2/sperm3/virus1/virus2/virus3); "
        "shots %lld, torpedoes %lld",
        finished, results.size() - static_cast<size_t>(finished), won, finished - won,
        finished ? double(score) / finished : 0.0, won ? double(wonScore) / won : 0.0,
        perKind(spawned).c_str(), perKind(caught).c_str(), perKind(escaped).c_str(), shots,
        torpedoes);
    return line;
}

namespace {

double ClockSeconds(int64_t tick) {
    return static_cast<double>(tick - kRunInTicks) / kTicksPerSecond;
}

}  // namespace

std::string FormatTable(
    const std::vector<std::pair<std::string, std::vector<TGameResult>>>& bySkill) {
    std::string out =
        "skill     games   won   win %  mean score   lost games decided at tick (mean) = clock s "
        "(mean, earliest, latest)\n";
    std::string notes;
    for (const auto& [skill, results] : bySkill) {
        int games = 0, won = 0;
        double score = 0.0;
        std::vector<double> lostAt;
        // Fatal escapes by formation start, and within it by row.
        std::map<std::pair<int64_t, int>, std::pair<TSwimmerOrigin, std::map<int, int>>> origins;
        for (const auto& r : results) {
            if (!r.Finished) continue;
            ++games;
            won += r.Won;
            score += r.Score;
            if (r.Won) continue;
            lostAt.push_back(ClockSeconds(r.DecidedTick));
            auto& o = origins[{r.LostTo.StartTick, r.LostTo.Formation}];
            o.first = r.LostTo;
            ++o.second[r.LostTo.Row];
        }
        char line[300];
        std::snprintf(line, sizeof line, "%-8s %6d %5d %5.0f %% %11.0f", skill.c_str(), games, won,
                      games ? 100.0 * won / games : 0.0, games ? score / games : 0.0);
        out += line;
        if (!lostAt.empty()) {
            double sum = 0.0;
            for (const double t : lostAt) sum += t;
            const double mean = sum / static_cast<double>(lostAt.size());
            std::snprintf(line, sizeof line, "   %5.0f = %5.1f  %5.1f  %5.1f",
                          mean * kTicksPerSecond + static_cast<double>(kRunInTicks), mean,
                          *std::min_element(lostAt.begin(), lostAt.end()),
                          *std::max_element(lostAt.begin(), lostAt.end()));
            out += line;
        }
        out += "\n";
        if (lostAt.empty()) continue;

        notes += skill + ": fatal escapes from";
        std::vector<std::pair<int, std::string>> ranked;
        for (const auto& [key, o] : origins) {
            int n = 0;
            std::string rows;
            for (const auto& [row, count] : o.second) {
                n += count;
                rows += (rows.empty() ? "" : ", ") + std::string("row ") + std::to_string(row) +
                        " x" + std::to_string(count);
            }
            ranked.push_back({n, o.first.Label() + " " + std::to_string(n) + " (" + rows + ")"});
        }
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (size_t i = 0; i < ranked.size(); ++i) notes += (i ? "; " : " ") + ranked[i].second;
        notes += "\n";

        // Losses over the clock, and the chance per second of losing among the games still on.
        const double edges[] = {0.0, 30.0, 50.0, 70.0, 90.1};
        notes += skill + ": losses by clock time";
        std::string rates;
        for (size_t b = 0; b + 1 < std::size(edges); ++b) {
            int lost = 0, alive = 0;
            for (const auto& r : results) {
                if (!r.Finished) continue;
                const double t = r.Won ? 1e9 : ClockSeconds(r.DecidedTick);
                if (t >= edges[b]) ++alive;
                if (!r.Won && t >= edges[b] && t < edges[b + 1]) ++lost;
            }
            const double span = std::min(edges[b + 1], 90.0) - edges[b];
            std::snprintf(line, sizeof line, "%s %.0f-%.0f s %d", b ? "," : "", edges[b],
                          std::min(edges[b + 1], 90.0), lost);
            notes += line;
            std::snprintf(line, sizeof line, "%s %.2f", b ? "," : "",
                          alive ? 100.0 * lost / alive / span : 0.0);
            rates += line;
        }
        notes += "; per second among the games still on (%):" + rates + "\n";
    }
    return out + notes;
}

}  // namespace zx
