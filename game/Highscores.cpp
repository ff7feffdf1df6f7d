#include "game/Highscores.h"

#include <stdexcept>

#include "support/Ansi.h"

namespace zx {
namespace {

size_t Index(int place) {
    if (place < 1 || place > kHighscorePlaces)
        throw std::out_of_range("highscore place " + std::to_string(place));
    return static_cast<size_t>(place - 1);
}

}  // namespace

int InsertScore(int32_t score) {
    auto& list = EnvData.Highscores;
    int p = 0;
    for (int place = 1; place <= kHighscorePlaces; ++place) {
        if (list[Index(place)].Score <= score) {
            p = place;
            break;
        }
    }
    if (p == 0) return 0;
    for (int place = kHighscorePlaces - 1; place >= p; --place)
        list[Index(place + 1)] = list[Index(place)];
    list[Index(p)].Score = score;
    list[Index(p)].Name = " ";
    return p;
}

void CutNames() {
    for (THighscore& h : EnvData.Highscores) h.Name = CutText(h.Name, kNameEntryChars);
}

THighscore& HighscoreAt(int place) { return EnvData.Highscores[Index(place)]; }

const std::string& ScoreCodeAt(int place) { return EnvData.ScoreCodes[Index(place)]; }

void SetScoreCode(int place, std::string_view code) {
    EnvData.ScoreCodes[Index(place)] = CutText(code, kScoreCodeChars);
}

void SetHighscoreName(int place, std::string_view name) {
    HighscoreAt(place).Name = CutText(name, kNameChars);
}

void SetLastName(std::string_view name) { EnvData.LastName = CutText(name, kNameChars); }

TPayloadFields PublishedFields() {
    TPayloadFields f;
    f.PlayerId = Utf8ToAnsi(EnvData.PlayerId);
    f.Score = EnvData.Highscores[0].Score;
    f.Name = Utf8ToAnsi(EnvData.PublishName);
    f.City = Utf8ToAnsi(EnvData.City);
    f.Country = Utf8ToAnsi(EnvData.Country);
    f.Email = Utf8ToAnsi(EnvData.Email);
    f.Age = EnvData.Age;
    f.Sex = EnvData.Sex;
    f.Comment = Utf8ToAnsi(EnvData.Comment);
    f.GamesStarted = EnvData.GamesStarted;
    f.GamesWon = EnvData.GamesWon;
    f.ScoreCode = EnvData.ScoreCodes[0];
    return f;
}

}  // namespace zx
