#pragma once
// A published score as the server takes it: read from the payload's fields, checked field by
// field, and the score checked against the statistics its score code carries.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload/Payload.h"
#include "rules/Rules.h"
#include "server/LevelLimits.h"

namespace zx::server {

struct TSubmission {
    std::string PlayerId;  // empty for a player who has none yet
    int32_t Score = 0;
    // Texts exactly as sent (Windows-1252 bytes); a field of one blank is empty.
    std::string Name, City, Country, Email, Comment;
    int32_t Age = 0;
    char Sex = ' ';
    int32_t GamesStarted = 0, GamesWon = 0;
    // What publishes a game once: the decoded digits of its score code ("=" and 55 digits), or,
    // for a game without a catch, the code's text as sent.
    std::string ScoreCode;
};

// The longest text each field may hold: what the program's settings record keeps.
inline constexpr size_t kMaxPlayerId = 32, kMaxName = 20, kMaxCity = 20, kMaxCountry = 20,
                        kMaxEmail = 40, kMaxComment = 80, kMaxScoreCode = 100;
inline constexpr int32_t kMaxAge = 110;

// Either the submission or why it is refused (a short English sentence for the "Error" line).
struct TReadResult {
    std::optional<TSubmission> Submission;
    std::string Error;
};

// From the value of "cs=" exactly as it stood in the request line. With a level, the statistics
// are checked against what it can send.
TReadResult ReadSubmission(std::string_view encoded, const TLevelLimits* level = nullptr);
// From the 14 fields of an unscrambled payload.
TReadResult SubmissionFromFields(const std::vector<std::string>& fields,
                                 const TLevelLimits* level = nullptr);

// The game's rules: points per catch of each kind 1..6 and the other amounts.
using rules::kCatchPoints;
using rules::kCondomCost;
using rules::kEarlyBonus;
using rules::kGameSeconds;
using rules::kPauseCost;
using rules::kTorpedoCost;
using rules::kTorpedoesPerGame;
using rules::kWinBonus;

// Why the score cannot come from a game with these statistics (on this level, when given), or
// nothing when it can.
std::optional<std::string> WhyScoreUnexplained(int64_t score, const TScoreStats& stats,
                                               const TLevelLimits* level = nullptr);

}  // namespace zx::server
