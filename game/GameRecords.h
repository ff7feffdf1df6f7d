#pragma once
// The two records the program remembers between runs: EnvData (settings, local highscores,
// publishing profile, counters; KVD\env.dat, scrambled) and GameData (the level number;
// KVD\game.dat behind a version header). Both are program-wide and every unit reads and writes
// their fields directly.
//
// On disk they are fixed byte images with little-endian integers, one-byte booleans and
// length-prefixed Windows-1252 texts. In memory the texts are UTF-8. Bytes the layout leaves
// undefined (padding, the unused tail of a text) are kept in Image as last read, so a load and
// a save give back the same bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zx {

inline constexpr size_t kEnvDataSize = 1592;
inline constexpr size_t kGameDataSize = 116;
inline constexpr int kHighscorePlaces = 10;
// The score of an empty place.
inline constexpr int32_t kEmptyScore = -100000;

// One place of the highscore list (28 bytes on disk: string[20] Name, padding, int32 Score).
struct THighscore {
    std::string Name;  // at most 20 characters in the record
    int32_t Score = 0;
};

struct TEnvData {
    uint8_t Reserved0 = 0;
    uint8_t Reserved1 = 0;
    uint8_t SoundMode = 0;
    bool SoundOn = false;
    uint8_t Reserved4 = 0;
    int16_t Reserved6 = 0;
    bool BottomBar = false;
    bool Autostart = false;
    uint8_t Reserved10 = 0;
    bool MusicOn = false;
    int32_t MusicVolume = 0;
    int32_t EffectsVolume = 0;
    uint8_t GraphicsSet = 0;
    int32_t DisplayMode = 0;
    bool Transparency = false;
    std::array<THighscore, kHighscorePlaces> Highscores{};  // place 1 first
    std::string LastName;                                   // string[20]
    std::string PlayerId;                                   // string[32]
    int32_t Reserved368 = 0;
    std::string PublishName;  // string[20]
    std::string City;         // string[20]
    std::string Country;      // string[20]
    std::string Email;        // string[40]
    int32_t Age = 0;
    char Sex = 0;         // ' ', 'f' or 'm'; one Windows-1252 byte
    std::string Comment;  // string[80]
    int32_t GamesStarted = 0;
    int32_t GamesWon = 0;
    bool FrontOn = false;
    int32_t BubblePercent = 0;
    std::array<std::string, kHighscorePlaces> ScoreCodes{};  // string[100] each, by place

    // The bytes behind the fields: padding and text tails as last read, zero from the start.
    std::array<uint8_t, kEnvDataSize> Image{};
};

struct TGameData {
    std::string Header;  // string[40]
    int16_t Level = 0;
    std::string PlayerName;  // string[31]
    int32_t Reserved76 = 0;
    std::string Reserved80;  // string[31]
    int32_t Reserved112 = 0;

    std::array<uint8_t, kGameDataSize> Image{};
};

// The program-wide records, zero-filled until the launcher sets their defaults and loads them.
extern TEnvData EnvData;
extern TGameData GameData;

inline constexpr std::string_view kGameDataHeader = "Game Datafile v2.0";
inline constexpr std::string_view kGameDataFile = "KVD\\game.dat";
inline constexpr std::string_view kEnvDataFile = "KVD\\env.dat";

// Byte images. ToBytes writes every field at its offset over the record's Image; FromBytes
// lays the given bytes (at most the record's size) over the record's current image and reads
// every field back, so bytes a short input does not cover keep the values they had.
std::array<uint8_t, kEnvDataSize> EnvDataToBytes(const TEnvData& env);
void EnvDataFromBytes(TEnvData& env, std::span<const uint8_t> bytes);
std::array<uint8_t, kGameDataSize> GameDataToBytes(const TGameData& game);
void GameDataFromBytes(TGameData& game, std::span<const uint8_t> bytes);

// The first max characters of a UTF-8 text (characters, not bytes).
std::string CutText(std::string_view utf8, size_t max);

// Settings record. SetEnvDefaults reseeds the random generator (after the highscore places).
void SetEnvDefaults();
// Removes the leftovers of interrupted saves, sets the defaults, then reads KVD\env.dat when it
// exists: the plain record of 1592 bytes, or a scrambled one of 9552 bytes or more. A file of
// any other size, or whose record cannot have been written by the program, is kept aside as
// KVD\env.dat.damaged; the last good copy (KVD\env.dat.good) or the defaults take its place, and
// the answer is the note that tells the player so (empty when the file was read). Nothing goes to
// the log: its last line tells how the last game ended, and no game ran. Raises EInOutError when
// the file exists but cannot be read or kept aside.
std::string LoadEnv();
// Writes KVD\env.dat scrambled (9552 bytes), replacing the old file only once the new one is
// complete; the file replaced, when good, stays as the last good copy. Raises EInOutError.
void SaveEnv();

// State record. A valid header loads the record (a short file keeps what it has and says so);
// otherwise the standard file name gets the defaults silently and any other name a message.
void LoadGameData(std::string_view fileName);
// Sets the header and writes the record, replacing the old file only once the new one is
// complete. Raises EInOutError.
void SaveGameData(std::string_view fileName);
void SetGameDataDefaults();

}  // namespace zx
