// The game screen in a browser's page: the program folder is the packed one (/zolvex, read from
// the page's data file), what the program writes (settings, highscores, the log, the replays) goes
// to /save, which the page keeps in the browser's storage, and the screen fills the page's canvas.
// After a game that changed place 1, the page asks as the launcher does and publishes through the
// functions below: the payload, the answer and the replay are the launcher's, only the exchange
// itself is the page's (fetch).
#include <SDL.h>
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "game/ReplayStore.h"
#include "payload/Payload.h"
#include "platform/DSound.h"
#include "screen/DDrawUnit.h"
#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"

// In PlayLibrary.js: the records' folder read from (1) or written to (0) the page's storage.
extern "C" void zolvex_sync_storage(int load);

namespace {

// clang-format off
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdollar-in-identifier-extension"

void SyncStorage(bool load) { zolvex_sync_storage(load ? 1 : 0); }

void TellPage(int rc, bool newBest) {
    EM_ASM({
        if (Module.zolvexGameOver) Module.zolvexGameOver($0, !!$1);
    }, rc, newBest ? 1 : 0);
}

#pragma clang diagnostic pop
// clang-format on

// Handed to the page, which copies it at once.
const char* Handed(std::string text) {
    static std::string held;
    held = std::move(text);
    return held.c_str();
}

std::string Value(const zx::TPayloadAnswer& answer, const char* name) {
    auto it = answer.find(name);
    return it == answer.end() ? std::string() : zx::AnsiToUtf8(it->second);
}

std::string WithValue(const char* caption, const std::string& value) {
    return value.empty() ? std::string(caption) : std::string(caption) + " " + value;
}

// What the last publish sent, for the replay that follows it.
std::string lastEncoded;

// What the program has handed to the browser's sound: blocks, the blocks with something to hear
// in them (a sample above -42 dB), and the loudest sample, so that the page (and its tests) can
// tell sound from silence.
struct {
    int64_t blocks = 0, heard = 0;
    int peak = 0;
} handedSound;

}  // namespace

namespace zx::platform {

// On the page's thread, as the browser asks for sound.
void SoundMixed(const uint8_t* stream, int bytes) {
    int peak = 0;
    for (int i = 0; i + 1 < bytes; i += 2) {
        const int v = static_cast<int16_t>(stream[i] | stream[i + 1] << 8);
        peak = std::max(peak, v < 0 ? -v : v);
    }
    ++handedSound.blocks;
    if (peak >= 256) ++handedSound.heard;
    handedSound.peak = std::max(handedSound.peak, peak);
}

}  // namespace zx::platform

extern "C" {

// The best score and the details the page's form starts with, one a line: score, name, city,
// country, age, sex, email.
EMSCRIPTEN_KEEPALIVE const char* zolvex_best() {
    const zx::THighscore& best = zx::EnvData.Highscores[0];
    const std::string sex(1,
                          zx::EnvData.Sex == 'f' || zx::EnvData.Sex == 'm' ? zx::EnvData.Sex : ' ');
    return Handed(std::to_string(best.Score) + "\n" + best.Name + "\n" + zx::EnvData.City + "\n" +
                  zx::EnvData.Country + "\n" + std::to_string(zx::EnvData.Age) + "\n" + sex + "\n" +
                  zx::EnvData.Email);
}

// Takes the form's details as the launcher's form does and gives the address's cs= value; an
// empty text with nothing to publish, "!" and the message for a name left out.
static const char* Publish(const char* name, const char* city, const char* country, int age,
                           const char* sex, const char* email, const char* comment) {
    using namespace zx;
    if (EnvData.Highscores[0].Score == kEmptyScore)
        return Handed("!Sorry, you don't have a entry in your highscore list right now");
    EnvData.PublishName = CutText(name, 20);
    EnvData.City = CutText(city, 20);
    EnvData.Country = CutText(country, 20);
    EnvData.Age = age < 0 ? 0 : age > 110 ? 110 : age;
    EnvData.Sex = sex[0] == 'f' || sex[0] == 'm' ? sex[0] : ' ';
    EnvData.Email = CutText(email, 40);
    EnvData.Comment = CutText(comment, 80);
    SaveEnv();
    if (Trim(EnvData.PublishName).empty())
        return Handed("!Please enter a name before you upload your score.");
    const TPayloadFields f = PublishedFields();
    try {
        const std::string encoded =
            ScramblePayload(BuildPayload(f), [](int n) { return RandInt(n); });
        (void)UnscramblePayload(encoded);  // nothing is sent that the server cannot read
        lastEncoded = encoded;
        return Handed(encoded);
    } catch (const std::exception& e) {
        return Handed(std::string("!Could not publish Highscore: ") + e.what());
    }
}

// The server's answer to a score: the lines the launcher's result shows, the first "ok"; or
// "!" and the message when the score was not taken.
static const char* Answer(const char* text) {
    using namespace zx;
    const TPayloadAnswer answer = ParseAnswer(text);
    if (auto id = answer.find("ID"); id != answer.end() && !id->second.empty()) {
        EnvData.PlayerId = CutText(AnsiToUtf8(id->second), 32);
        SaveEnv();
    }
    if (auto rang = answer.find("Rang"); rang == answer.end() || rang->second.empty()) {
        const std::string error = Value(answer, "Error");
        return Handed("!Could not publish Highscore: " +
                      (error.empty() ? std::string("Unknown result") : error));
    }
    const std::string points = " points";
    return Handed(std::string("ok\n") + "Your score has been successfuly uploaded!\n" +
                  "Overall Ranking List\n" + WithValue("Your ranking:", Value(answer, "Rang")) +
                  "\n" + WithValue("Your old ranking:", Value(answer, "Alterrang")) + "\n" +
                  "Top of the list: " + Value(answer, "Platz1") + points + "\n" +
                  "Weekly Ranking List\n" + WithValue("Your ranking:", Value(answer, "wRang")) +
                  "\n" + WithValue("Your old ranking:", Value(answer, "wAlterrang")) + "\n" +
                  "Top of the list: " + Value(answer, "wPlatz1") + points);
}

// A failure (the records cannot be written, say) is told by the page, not thrown into it.
EMSCRIPTEN_KEEPALIVE const char* zolvex_publish(const char* name, const char* city,
                                                const char* country, int age, const char* sex,
                                                const char* email, const char* comment) {
    try {
        return Publish(name, city, country, age, sex, email, comment);
    } catch (const std::exception& e) {
        return Handed(std::string("!Could not publish Highscore: ") + e.what());
    }
}

EMSCRIPTEN_KEEPALIVE const char* zolvex_answer(const char* text) {
    try {
        return Answer(text);
    } catch (const std::exception& e) {
        return Handed(std::string("!Could not publish Highscore: ") + e.what());
    }
}

// The replay of the published score, as kept by the game (the page compresses and sends it);
// empty when none was kept.
EMSCRIPTEN_KEEPALIVE const char* zolvex_replay() {
    const std::optional<std::string> replay = zx::LoadReplayForCode(zx::EnvData.ScoreCodes[0]);
    return Handed(replay ? *replay : std::string());
}

EMSCRIPTEN_KEEPALIVE int zolvex_replay_size() {
    const std::optional<std::string> replay = zx::LoadReplayForCode(zx::EnvData.ScoreCodes[0]);
    return replay ? static_cast<int>(replay->size()) : -1;
}

// "blocks heard peak" of the sound handed to the browser so far.
EMSCRIPTEN_KEEPALIVE const char* zolvex_sound() {
    return Handed(std::to_string(handedSound.blocks) + " " + std::to_string(handedSound.heard) +
                  " " + std::to_string(handedSound.peak));
}

// The page's close button: the screen ends as when its window is closed on the desktop.
EMSCRIPTEN_KEEPALIVE void zolvex_end() {
    if (zx::GameScreen) zx::GameScreen->PostEnd();
}

// The launcher's words for the replay's verdict: status 0 when it could not be sent.
EMSCRIPTEN_KEEPALIVE const char* zolvex_verdict(int status, const char* text) {
    using namespace zx;
    if (status == 503)
        return Handed(
            "The server is busy checking other games: your score stays unverified for now.");
    const TPayloadAnswer answer = ParseAnswer(text);
    const std::string verdict = Value(answer, "Replay");
    if (verdict == "verified")
        return Handed("The server played your game again: your score is verified.");
    if (verdict == "refused")
        return Handed("The server could not verify your game: " + Value(answer, "Error"));
    if (verdict == "pending") return Handed("The server will check your game shortly.");
    if (status == 0 || status >= 400)
        return Handed("The record of your game could not be sent: " +
                      (Value(answer, "Error").empty() ? "HTTP " + std::to_string(status)
                                                      : Value(answer, "Error")));
    return Handed("The server gave no verdict on your game: " + AnsiToUtf8(text).substr(0, 200));
}

}  // extern "C"

int main() {
    // Keys go to the game while its picture has the focus, and to the page's forms otherwise.
    SDL_SetHint(SDL_HINT_EMSCRIPTEN_KEYBOARD_ELEMENT, "#canvas");
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
        const int32_t topBefore = zx::EnvData.Highscores[0].Score;
        int rc = 0;
        {
            zx::TDDFullScreenForm1 screen;
            zx::GameScreen = &screen;
            screen.SetDisplayKind(2);
            screen.FreezeWhileHidden = true;
            screen.ShowModal();
            rc = screen.ErrorFlag ? 1 : 0;
        }
        zx::GameScreen = nullptr;
        zx::SaveEnv();
        zx::SaveGameData("KVD\\game.dat");
        SyncStorage(false);
        TellPage(rc, zx::EnvData.Highscores[0].Score != topBefore);
        return rc;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolvex: %s\n", e.what());
        TellPage(1, false);
        return 1;
    }
}
