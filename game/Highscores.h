#pragma once
// The local top ten in EnvData: places 1 to 10, highest score first.
#include <cstdint>
#include <string>
#include <string_view>

#include "game/GameRecords.h"
#include "payload/Payload.h"

namespace zx {

// Names are cut to this many characters while they are typed; the record holds up to 20.
inline constexpr size_t kNameEntryChars = 10;
inline constexpr size_t kNameChars = 20;
inline constexpr size_t kScoreCodeChars = 100;

// Enters a score: returns its place (1 to 10), or 0 when it does not reach the list. A score
// equal to one on the list goes above it; the entries below move down and place 10 drops out.
// The new entry is named " ".
int InsertScore(int32_t score);
// Cuts every name on the list to its first 10 characters.
void CutNames();

// Place 1 to 10; std::out_of_range otherwise.
THighscore& HighscoreAt(int place);
// The score code stored for a place; it stays with the place when entries move down.
const std::string& ScoreCodeAt(int place);
void SetScoreCode(int place, std::string_view code);  // at most 100 characters
// Stores a typed name as the entry's name (at most 20 characters).
void SetHighscoreName(int place, std::string_view name);
// The name last typed, at most 20 characters.
void SetLastName(std::string_view name);

// The fields of a publication of place 1, from EnvData, as they go on the wire (the launcher's
// dialog and the web page's both send them).
TPayloadFields PublishedFields();

}  // namespace zx
