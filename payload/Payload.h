#pragma once
// What travels to the highscore server: the published score and the player's details as one
// bar-separated text, scrambled block by block with a fresh random transposition and escaped for
// a URL; and the server's answer, CR LF lines of name=value. The launcher builds and sends it, the
// server reads it, both through these functions.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "payload/ScoreCode.h"

namespace zx {

inline constexpr std::string_view kPayloadMagic = "ZVX";
inline constexpr size_t kPayloadFieldCount = 14;
// The 64 characters of the transposition key; character i stands for the number i.
inline constexpr std::string_view kPayloadKeyAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-";

// A published score. Texts are the bytes that go on the wire (Windows-1252).
struct TPayloadFields {
    std::string PlayerId;
    int32_t Score = 0;
    std::string Name, City, Country, Email;
    int32_t Age = 0;  // sent as an empty field when 0
    char Sex = ' ';   // 'f', 'm', or anything else for not given (sent as a blank)
    std::string Comment;
    int32_t GamesStarted = 0, GamesWon = 0;
    std::string ScoreCode;
};

// Field positions (0-based) in the list of 14.
enum PayloadField : size_t {
    kFieldMagic = 0,
    kFieldPlayerId,
    kFieldScore,
    kFieldName,
    kFieldCity,
    kFieldCountry,
    kFieldEmail,
    kFieldAge,
    kFieldSex,
    kFieldComment,
    kFieldGamesStarted,
    kFieldGamesWon,
    kFieldScoreCode,
    kFieldMagicEnd,
};

// The 14 field texts in order, the magic at both ends, empty fields empty. A bar inside a text
// would split it into two fields and the server would refuse the whole score, so it is sent as
// "/" instead.
std::vector<std::string> PayloadFieldList(const TPayloadFields& fields);
// Every field followed by one bar, then every empty field filled with one blank.
std::string JoinPayloadFields(const std::vector<std::string>& fields);
// As long as the text holds "||", a blank goes between the two bars of the first one.
std::string FillEmptyFields(std::string text);
// JoinPayloadFields(PayloadFieldList(fields)): the text ScramblePayload takes.
std::string BuildPayload(const TPayloadFields& fields);
// The fields of an unscrambled text (the blanks that filled its last block are dropped), exactly
// as sent, filling blanks included; nothing when the text does not end in a bar.
std::optional<std::vector<std::string>> SplitPayload(std::string_view plain);

// Thrown by UnscramblePayload with the reason.
struct PayloadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Pads the text with blanks to whole blocks of 64 bytes; each block becomes its 64 key characters
// followed by its bytes moved by a transposition of 1000 random swaps; the whole is URL-escaped
// (letters and digits stay, every other byte becomes %XX).
std::string ScramblePayload(std::string_view text, const RandomIntFn& randInt);
// The inverse, padding blanks included. Throws PayloadError for a text of the wrong length or
// with a character outside the key alphabet. The texts of those errors are shown to the player.
std::string UnscramblePayload(std::string_view encoded);

// Answer names compare without regard to case.
struct AnswerNameLess {
    bool operator()(std::string_view a, std::string_view b) const;
    using is_transparent = void;
};
using TPayloadAnswer = std::map<std::string, std::string, AnswerNameLess>;
// name=value lines (CR LF or LF); the first line of a name counts; lines without "=" are skipped.
TPayloadAnswer ParseAnswer(std::string_view text);
// The server's side: name=value lines, each ended by CR LF.
std::string FormatAnswer(const std::vector<std::pair<std::string, std::string>>& lines);

}  // namespace zx
