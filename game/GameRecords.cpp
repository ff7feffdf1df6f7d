#include "game/GameRecords.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "game/LevelFile.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"

namespace zx {

TEnvData EnvData;
TGameData GameData;

namespace {

// Field access on a byte image. Every access is bounds-checked, so a wrong offset fails loudly
// instead of writing past the image.
template <size_t Size>
class Image {
public:
    explicit Image(std::array<uint8_t, Size>& bytes) : b_(bytes) {}

    void PutByte(size_t off, uint8_t v) { b_.at(off) = v; }
    void PutBool(size_t off, bool v) { b_.at(off) = v ? 1 : 0; }
    void PutInt16(size_t off, int16_t v) { PutLE(off, static_cast<uint16_t>(v), 2); }
    void PutInt32(size_t off, int32_t v) { PutLE(off, static_cast<uint32_t>(v), 4); }
    // string[max]: the length byte, then the Windows-1252 characters; the tail stays as it is.
    void PutText(size_t off, size_t max, std::string_view utf8) {
        std::string ansi = Utf8ToAnsi(utf8);
        if (ansi.size() > max) ansi.resize(max);
        b_.at(off) = static_cast<uint8_t>(ansi.size());
        if (!ansi.empty()) std::memcpy(&b_.at(off + 1), ansi.data(), ansi.size());
    }

    uint8_t Byte(size_t off) const { return b_.at(off); }
    bool Bool(size_t off) const { return b_.at(off) != 0; }
    int16_t Int16(size_t off) const { return static_cast<int16_t>(GetLE(off, 2)); }
    int32_t Int32(size_t off) const { return static_cast<int32_t>(GetLE(off, 4)); }
    // A length byte beyond the text's room (a damaged file) is read as the room.
    std::string Text(size_t off, size_t max) const {
        size_t len = std::min<size_t>(b_.at(off), max);
        (void)b_.at(off + max);
        return AnsiToUtf8(
            std::string_view(reinterpret_cast<const char*>(b_.data()) + off + 1, len));
    }

private:
    void PutLE(size_t off, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b_.at(off + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (8 * i));
    }
    uint32_t GetLE(size_t off, int n) const {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= static_cast<uint32_t>(b_.at(off + static_cast<size_t>(i))) << (8 * i);
        return v;
    }
    std::array<uint8_t, Size>& b_;
};

// EnvData offsets.
constexpr size_t kHighscoresAt = 32, kHighscoreSize = 28, kScoreAt = 24;
constexpr size_t kScoreCodesAt = 580, kScoreCodeMax = 100;

// GameData offsets.
constexpr size_t kHeaderAt = 0, kHeaderMax = 40;

// Whether the file starts with this version's header: the length byte 18, then the text.
bool HeaderValid(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 1 + kGameDataHeader.size()) return false;
    if (bytes[0] != kGameDataHeader.size()) return false;
    return std::equal(kGameDataHeader.begin(), kGameDataHeader.end(), bytes.begin() + 1,
                      [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

// Where a damaged settings file is kept aside, and the copy of the last good one.
constexpr std::string_view kEnvDamagedFile = "KVD\\env.dat.damaged";
constexpr std::string_view kEnvGoodCopyFile = "KVD\\env.dat.good";

// The settings record in a file's bytes, when the file can be one: the plain record of exactly
// 1592 bytes, or a scrambled text of at least 9552 bytes in whole characters (a longer record of
// another version begins with this one). Half a scrambled file or a cut plain one is neither.
std::optional<std::array<uint8_t, kEnvDataSize>> EnvRecordOfFile(
    const std::vector<uint8_t>& bytes) {
    std::string text(bytes.begin(), bytes.end());
    if (text.size() == kEnvDataSize) {
        // plain
    } else if (text.size() >= 6 * kEnvDataSize && text.size() % 6 == 0) {
        text = UnscrambleLine(text);
        if (text.size() < kEnvDataSize) return std::nullopt;
    } else {
        return std::nullopt;
    }
    std::array<uint8_t, kEnvDataSize> record{};
    std::memcpy(record.data(), text.data(), kEnvDataSize);
    return record;
}

// Whether a record can have been written by the program: every text within its room, the
// highscore list in order and the settings within the options' ranges. Garbage fails this.
bool EnvRecordPlausible(const std::array<uint8_t, kEnvDataSize>& r) {
    auto i32 = [&](size_t at) {
        return static_cast<int32_t>(uint32_t(r[at]) | uint32_t(r[at + 1]) << 8 |
                                    uint32_t(r[at + 2]) << 16 | uint32_t(r[at + 3]) << 24);
    };
    const std::pair<size_t, size_t> texts[] = {{312, 20}, {333, 32}, {372, 20}, {393, 20},
                                               {414, 20}, {435, 40}, {481, 80}};
    for (auto [at, max] : texts)
        if (r[at] > max) return false;
    for (size_t i = 0; i < kHighscorePlaces; ++i) {
        const size_t at = kHighscoresAt + i * kHighscoreSize;
        if (r[at] > 20) return false;
        if (i > 0 && i32(at + kScoreAt) > i32(at - kHighscoreSize + kScoreAt)) return false;
    }
    for (size_t i = 0; i < kHighscorePlaces; ++i)
        if (r[kScoreCodesAt + i * (kScoreCodeMax + 1)] > kScoreCodeMax) return false;
    auto within = [&](size_t at, int32_t lo, int32_t hi) { return i32(at) >= lo && i32(at) <= hi; };
    return within(12, 0, 127) && within(16, 0, 127) && within(24, 0, 2) && within(476, 0, 110) &&
           within(576, 0, 100);
}

bool IsStandardGameDataFile(std::string_view fileName) {
    std::string n(fileName);
    std::replace(n.begin(), n.end(), '/', '\\');
    return SameTextIgnoreCase(n, kGameDataFile);
}

}  // namespace

std::array<uint8_t, kEnvDataSize> EnvDataToBytes(const TEnvData& env) {
    std::array<uint8_t, kEnvDataSize> bytes = env.Image;
    Image img(bytes);
    img.PutByte(0, env.Reserved0);
    img.PutByte(1, env.Reserved1);
    img.PutByte(2, env.SoundMode);
    img.PutBool(3, env.SoundOn);
    img.PutByte(4, env.Reserved4);
    img.PutInt16(6, env.Reserved6);
    img.PutBool(8, env.BottomBar);
    img.PutBool(9, env.Autostart);
    img.PutByte(10, env.Reserved10);
    img.PutBool(11, env.MusicOn);
    img.PutInt32(12, env.MusicVolume);
    img.PutInt32(16, env.EffectsVolume);
    img.PutByte(20, env.GraphicsSet);
    img.PutInt32(24, env.DisplayMode);
    img.PutBool(28, env.Transparency);
    for (size_t i = 0; i < env.Highscores.size(); ++i) {
        size_t at = kHighscoresAt + i * kHighscoreSize;
        img.PutText(at, 20, env.Highscores[i].Name);
        img.PutInt32(at + kScoreAt, env.Highscores[i].Score);
    }
    img.PutText(312, 20, env.LastName);
    img.PutText(333, 32, env.PlayerId);
    img.PutInt32(368, env.Reserved368);
    img.PutText(372, 20, env.PublishName);
    img.PutText(393, 20, env.City);
    img.PutText(414, 20, env.Country);
    img.PutText(435, 40, env.Email);
    img.PutInt32(476, env.Age);
    img.PutByte(480, static_cast<uint8_t>(env.Sex));
    img.PutText(481, 80, env.Comment);
    img.PutInt32(564, env.GamesStarted);
    img.PutInt32(568, env.GamesWon);
    img.PutBool(572, env.FrontOn);
    img.PutInt32(576, env.BubblePercent);
    for (size_t i = 0; i < env.ScoreCodes.size(); ++i)
        img.PutText(kScoreCodesAt + i * (kScoreCodeMax + 1), kScoreCodeMax, env.ScoreCodes[i]);
    return bytes;
}

void EnvDataFromBytes(TEnvData& env, std::span<const uint8_t> bytes) {
    std::array<uint8_t, kEnvDataSize> all = EnvDataToBytes(env);
    std::copy_n(bytes.begin(), std::min(bytes.size(), all.size()), all.begin());
    env.Image = all;
    Image img(all);
    env.Reserved0 = img.Byte(0);
    env.Reserved1 = img.Byte(1);
    env.SoundMode = img.Byte(2);
    env.SoundOn = img.Bool(3);
    env.Reserved4 = img.Byte(4);
    env.Reserved6 = img.Int16(6);
    env.BottomBar = img.Bool(8);
    env.Autostart = img.Bool(9);
    env.Reserved10 = img.Byte(10);
    env.MusicOn = img.Bool(11);
    env.MusicVolume = img.Int32(12);
    env.EffectsVolume = img.Int32(16);
    env.GraphicsSet = img.Byte(20);
    env.DisplayMode = img.Int32(24);
    env.Transparency = img.Bool(28);
    for (size_t i = 0; i < env.Highscores.size(); ++i) {
        size_t at = kHighscoresAt + i * kHighscoreSize;
        env.Highscores[i].Name = img.Text(at, 20);
        env.Highscores[i].Score = img.Int32(at + kScoreAt);
    }
    env.LastName = img.Text(312, 20);
    env.PlayerId = img.Text(333, 32);
    env.Reserved368 = img.Int32(368);
    env.PublishName = img.Text(372, 20);
    env.City = img.Text(393, 20);
    env.Country = img.Text(414, 20);
    env.Email = img.Text(435, 40);
    env.Age = img.Int32(476);
    env.Sex = static_cast<char>(img.Byte(480));
    env.Comment = img.Text(481, 80);
    env.GamesStarted = img.Int32(564);
    env.GamesWon = img.Int32(568);
    env.FrontOn = img.Bool(572);
    env.BubblePercent = img.Int32(576);
    for (size_t i = 0; i < env.ScoreCodes.size(); ++i)
        env.ScoreCodes[i] = img.Text(kScoreCodesAt + i * (kScoreCodeMax + 1), kScoreCodeMax);
}

std::array<uint8_t, kGameDataSize> GameDataToBytes(const TGameData& game) {
    std::array<uint8_t, kGameDataSize> bytes = game.Image;
    Image img(bytes);
    img.PutText(kHeaderAt, kHeaderMax, game.Header);
    img.PutInt16(42, game.Level);
    img.PutText(44, 31, game.PlayerName);
    img.PutInt32(76, game.Reserved76);
    img.PutText(80, 31, game.Reserved80);
    img.PutInt32(112, game.Reserved112);
    return bytes;
}

void GameDataFromBytes(TGameData& game, std::span<const uint8_t> bytes) {
    std::array<uint8_t, kGameDataSize> all = GameDataToBytes(game);
    std::copy_n(bytes.begin(), std::min(bytes.size(), all.size()), all.begin());
    game.Image = all;
    Image img(all);
    game.Header = img.Text(kHeaderAt, kHeaderMax);
    game.Level = img.Int16(42);
    game.PlayerName = img.Text(44, 31);
    game.Reserved76 = img.Int32(76);
    game.Reserved80 = img.Text(80, 31);
    game.Reserved112 = img.Int32(112);
}

std::string CutText(std::string_view utf8, size_t max) {
    size_t chars = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        // A byte that does not continue a sequence starts a character.
        if ((static_cast<uint8_t>(utf8[i]) & 0xC0) != 0x80) {
            if (chars == max) return std::string(utf8.substr(0, i));
            ++chars;
        }
    }
    return std::string(utf8);
}

void SetEnvDefaults() {
    TEnvData& e = EnvData;
    e.Reserved0 = 0;
    e.Reserved1 = 1;
    e.SoundMode = 1;
    e.SoundOn = true;
    e.Reserved4 = 0;
    e.Reserved6 = 2;
    e.BottomBar = false;
    e.Autostart = true;
    e.Reserved10 = 0;
    e.MusicOn = true;
    e.MusicVolume = 100;
    e.EffectsVolume = 100;
    e.GraphicsSet = 0;
    e.DisplayMode = 0;
    e.Transparency = true;
    for (THighscore& h : e.Highscores) {
        h.Name.clear();
        h.Score = kEmptyScore;
    }
    Randomize();
    e.LastName.clear();
    e.PlayerId.clear();
    e.Reserved368 = 0;
    e.PublishName.clear();
    e.City.clear();
    e.Country = "Schweiz";
    e.Email.clear();
    e.Age = 0;
    e.Sex = ' ';
    e.Comment.clear();
    e.GamesStarted = 0;
    e.GamesWon = 0;
    e.FrontOn = true;
    e.BubblePercent = 70;
    for (std::string& code : e.ScoreCodes) code.clear();
}

std::string LoadEnv() {
    SetEnvDefaults();
    TReadError why;
    auto bytes = ReadFileBytes(kEnvDataFile, kRecordFileLimit, &why);
    if (!bytes && why.Errno == ENOENT) return {};
    if (!bytes) throw EInOutError("Cannot read " + why.Text());
    auto record = EnvRecordOfFile(*bytes);
    if (record && EnvRecordPlausible(*record)) {
        EnvDataFromBytes(EnvData, *record);
        return {};
    }
    // A damaged file must never pass for the player's highscores, nor be saved back over them at
    // exit: it is kept aside for a look, and the last good copy (or the defaults) takes its place.
    EnterProgramDir();
    const std::string original = ResolvePath(kEnvDataFile);
    const std::string damaged = ResolveWritePath(kEnvDamagedFile);
    if (std::rename(original.c_str(), damaged.c_str()) != 0)
        throw EInOutError("Cannot keep the damaged " + original + " aside");
    std::optional<std::array<uint8_t, kEnvDataSize>> good;
    if (auto copy = ReadFileBytes(kEnvGoodCopyFile, kRecordFileLimit))
        good = EnvRecordOfFile(*copy);
    if (good && !EnvRecordPlausible(*good)) good.reset();
    if (good) EnvDataFromBytes(EnvData, *good);
    return "The settings file " + original + " was damaged (" + std::to_string(bytes->size()) +
           " bytes) and has been kept as " + damaged + ". " +
           (good ? "The settings as they were saved before are used."
                 : "The settings, highscores and player details were reset to their defaults.");
}

void SaveEnv() {
    auto bytes = EnvDataToBytes(EnvData);
    std::string scrambled =
        ScrambleLine(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    EnterProgramDir();
    // The file about to be replaced is the last good copy if it reads as one: kept through a
    // second name of the same file, so keeping it costs no write.
    if (auto old = ReadFileBytes(kEnvDataFile, kRecordFileLimit)) {
        auto record = EnvRecordOfFile(*old);
        if (record && EnvRecordPlausible(*record)) LinkFile(kEnvDataFile, kEnvGoodCopyFile);
    }
    ReplaceFileContents(kEnvDataFile, scrambled);
}

void LoadGameData(std::string_view fileName) {
    EnterProgramDir();
    std::optional<std::vector<uint8_t>> bytes;
    if (FileExists(fileName)) bytes = ReadFileBytes(fileName, kRecordFileLimit);
    bool valid = bytes && HeaderValid(*bytes);
    if (valid) {
        size_t n = std::min(bytes->size(), kGameDataSize);
        GameDataFromBytes(GameData, std::span(bytes->data(), n));
        if (n < kGameDataSize)
            platform::ShowMessage(
                "Spielstandfile und Spielstandvariable haben unterschiedliche Größen!");
    } else if (IsStandardGameDataFile(fileName)) {
        SetGameDataDefaults();
    } else if (bytes) {
        platform::ShowMessage(std::string(fileName) + ": Kein Spielstanddatei oder alte Version!");
    } else {
        platform::ShowMessage(std::string(fileName) + ": File nicht gefunden!");
    }
}

void SaveGameData(std::string_view fileName) {
    EnterProgramDir();
    GameData.Header = std::string(kGameDataHeader);
    auto bytes = GameDataToBytes(GameData);
    ReplaceFileContents(fileName, bytes.data(), bytes.size());
}

void SetGameDataDefaults() {
    GameData.Level = 1;
    GameData.PlayerName = "Spieler1";
    GameData.Reserved76 = 0;
    GameData.Reserved80.clear();
    GameData.Reserved112 = 0;
}

}  // namespace zx
