#include "server/Submission.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>

namespace zx::server {
namespace {

// The program fills an empty field with one blank before sending.
std::string_view Unfilled(std::string_view field) {
    return field == " " ? std::string_view() : field;
}

// A decimal integer, optionally negative, without blanks or anything after it.
std::optional<int64_t> Number(std::string_view text, bool allowNegative) {
    if (text.empty() || text.size() > 11) return std::nullopt;
    if (text[0] == '-' && !allowNegative) return std::nullopt;
    if (text[0] == '+') return std::nullopt;
    int64_t v = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end) return std::nullopt;
    return v;
}

bool FitsText(std::string_view text, size_t max) {
    if (text.size() > max) return false;
    for (char c : text)
        if (static_cast<unsigned char>(c) < 32)
            return false;  // control bytes have no place in a name
    return true;
}

// A name must show: blanks, no-break spaces, soft hyphens, DEL and the code page's unassigned
// bytes alone leave an empty-looking row on the list.
bool Visible(std::string_view text) {
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b != ' ' && b != 0x7F && b != 0xA0 && b != 0xAD && b != 0x81 && b != 0x8D &&
            b != 0x8F && b != 0x90 && b != 0x9D)
            return true;
    }
    return false;
}

TReadResult Refuse(std::string why) { return {std::nullopt, std::move(why)}; }

}  // namespace

TReadResult ReadSubmission(std::string_view encoded, const TLevelLimits* level) {
    if (encoded.empty()) return Refuse("No score was sent");
    std::string plain;
    try {
        plain = UnscramblePayload(encoded);
    } catch (const PayloadError&) {
        return Refuse("The data cannot be read");
    }
    auto fields = SplitPayload(plain);
    if (!fields) return Refuse("The data cannot be read");
    return SubmissionFromFields(*fields, level);
}

TReadResult SubmissionFromFields(const std::vector<std::string>& f, const TLevelLimits* level) {
    if (f.size() != kPayloadFieldCount)
        return Refuse("The data has " + std::to_string(f.size()) + " fields instead of 14");
    if (f[kFieldMagic] != kPayloadMagic || f[kFieldMagicEnd] != kPayloadMagic)
        return Refuse("The data does not begin and end with ZVX");
    TSubmission s;

    const std::string_view id = Unfilled(f[kFieldPlayerId]);
    if (id.size() > kMaxPlayerId || id.find_first_of(" |") != std::string_view::npos ||
        !FitsText(id, kMaxPlayerId))
        return Refuse("The player identifier is not valid");
    s.PlayerId = std::string(id);

    const auto score = Number(f[kFieldScore], true);
    if (!score || *score < -100000 || *score > 9999999) return Refuse("The score is not a number");
    s.Score = static_cast<int32_t>(*score);

    struct TextField {
        size_t index;
        size_t max;
        std::string* into;
        const char* what;
    };
    for (const TextField& t : {TextField{kFieldName, kMaxName, &s.Name, "The name"},
                               TextField{kFieldCity, kMaxCity, &s.City, "The city"},
                               TextField{kFieldCountry, kMaxCountry, &s.Country, "The country"},
                               TextField{kFieldEmail, kMaxEmail, &s.Email, "The e-mail address"},
                               TextField{kFieldComment, kMaxComment, &s.Comment, "The comment"}}) {
        const std::string_view v = Unfilled(f[t.index]);
        if (!FitsText(v, t.max))
            return Refuse(std::string(t.what) + " is longer than " + std::to_string(t.max) +
                          " characters or holds control characters");
        *t.into = std::string(v);
    }
    if (!Visible(s.Name)) return Refuse("The name is missing");

    const std::string_view age = Unfilled(f[kFieldAge]);
    if (!age.empty()) {
        const auto a = Number(age, false);
        if (!a || *a > kMaxAge) return Refuse("The age is not a number from 0 to 110");
        s.Age = static_cast<int32_t>(*a);
    }

    const std::string& sex = f[kFieldSex];
    if (sex != " " && sex != "f" && sex != "m") return Refuse("The sex is not blank, f or m");
    s.Sex = sex[0];

    const auto started = Number(f[kFieldGamesStarted], false);
    const auto won = Number(f[kFieldGamesWon], false);
    if (!started || *started > INT32_MAX)
        return Refuse("The number of games started is not a number");
    if (!won || *won > INT32_MAX) return Refuse("The number of games won is not a number");
    if (*won > *started) return Refuse("More games were won than started");
    s.GamesStarted = static_cast<int32_t>(*started);
    s.GamesWon = static_cast<int32_t>(*won);

    const std::string_view code = Unfilled(f[kFieldScoreCode]);
    if (code.size() > kMaxScoreCode) return Refuse("The score code is too long");
    auto digits = DecodeScoreCode(code);
    auto stats = digits ? ScoreStatsFromDigits(*digits) : std::nullopt;
    if (!stats) return Refuse("The score code cannot be read");
    if (auto why = WhyScoreUnexplained(s.Score, *stats, level)) return Refuse(*why);
    // The same game sent again under another disguise decodes to the same digits. Two honest
    // games show the same digits only when nothing was caught in them, and such a game scores
    // nothing to gain by: those are told apart by the text as sent.
    bool caught = false;
    for (size_t k = 1; k <= 6; ++k) caught = caught || stats->Caught[k] + stats->CaughtEarly[k] > 0;
    s.ScoreCode = caught ? "=" + *digits : std::string(code);
    return {std::move(s), {}};
}

namespace {

// One reading of the statistics with every count at a value it may truly have had.
struct TReading {
    std::array<int64_t, 7> Caught{}, Early{};
    int64_t Shots = 0;
};

// Why a reading cannot be the game.
enum class TStage { CatchesAboveShots, ScoreDigits, ScoreAbove, TooFewSeconds, Fits };

}  // namespace

// The code keeps each count modulo 100 (shots modulo 1000). Every amount of the rules except
// the catch points of a single catch is a multiple of 100, and so is a whole wrap of any count
// (100 catches of any kind, 1000 shots), so the last two digits of the score are fixed by the
// counts as read. A count can only have wrapped where the level sends 100 or more of that kind,
// and shots only by whole thousands; each way the counts may have wrapped is tried. What the
// score lacks from the catches less the costs and the win bonus must be whole pauses, and a game
// without a pause cannot show fewer seconds than the level needed to send its swimmers.
std::optional<std::string> WhyScoreUnexplained(int64_t score, const TScoreStats& st,
                                               const TLevelLimits* level) {
    if (st.Torpedoes > kTorpedoesPerGame)
        return "The score code shows more torpedoes than a game has";
    static const char* const kKindNames[7] = {"",       "sperm1", "sperm2", "sperm3",
                                              "virus1", "virus2", "virus3"};
    // Without the level, no count is taken to have wrapped: no kind comes 100 times.
    std::array<int64_t, 7> maxSpawned{};
    for (size_t k = 1; k <= 6; ++k) {
        maxSpawned[k] = level ? level->MaxSpawned(k) : 99;
        const int64_t sent = st.Spawned[k];
        if (sent > maxSpawned[k])
            return "The score code shows " + std::to_string(sent) + " " + kKindNames[k] +
                   " arrived, the level sends at most " + std::to_string(maxSpawned[k]);
        // The most that may have arrived, and the fewest caught or escaped.
        const int64_t most = sent + (maxSpawned[k] - sent) / 100 * 100;
        if (int64_t{st.Caught[k]} + st.CaughtEarly[k] + st.EscapedCount[k] > most)
            return "The score code shows more " + std::string(kKindNames[k]) +
                   " caught or escaped than arrived";
    }
    if (level && score > level->MaxScore())
        return "The score is higher than the level allows (" + std::to_string(level->MaxScore()) +
               ")";

    // A virus that gets through loses the game at once; any other game that ends was won.
    const bool won = st.EscapedCount[4] + st.EscapedCount[5] + st.EscapedCount[6] == 0;
    int32_t neededTicks = won ? kGameSeconds * 50 : 0;
    if (level) {
        for (size_t k = 1; k <= 6; ++k)
            neededTicks = std::max(neededTicks, level->ArrivalOf(k, st.Spawned[k]));
        if (!won) {
            // Clicks stop with the loss, the game goes on for 350 ticks before its end.
            int32_t firstLoss = INT32_MAX;
            for (size_t k = 4; k <= 6; ++k)
                if (st.EscapedCount[k] > 0) firstLoss = std::min(firstLoss, level->ArrivalOf(k, 1));
            neededTicks = std::max(neededTicks, firstLoss + 350);
        }
    }
    // A second of slack for the tick count's rounding.
    const int64_t neededSeconds = won ? kGameSeconds : std::max(0, neededTicks / 50 - 1);

    // Every reading the wraps allow: per kind a catch count may be 100 more where the level
    // leaves room, shots any thousand more up to a shot every tick.
    std::vector<TReading> readings;
    TReading base;
    base.Shots = st.CondomShots;
    for (size_t k = 1; k <= 6; ++k) {
        base.Caught[k] = st.Caught[k];
        base.Early[k] = st.CaughtEarly[k];
    }
    readings.push_back(base);
    for (size_t k = 1; k <= 6; ++k) {
        const int64_t room =
            maxSpawned[k] - (int64_t{st.Caught[k]} + st.CaughtEarly[k] + st.EscapedCount[k]);
        if (room < 100) continue;
        const size_t n = readings.size();
        for (size_t i = 0; i < n; ++i) {
            TReading r = readings[i];
            r.Caught[k] += 100;
            readings.push_back(r);
            r = readings[i];
            r.Early[k] += 100;
            readings.push_back(r);
        }
    }
    {
        const size_t n = readings.size();
        for (int64_t wraps = 1; wraps * 1000 <= 50 * (kGameSeconds + 10); ++wraps)
            for (size_t i = 0; i < n; ++i) {
                TReading r = readings[i];
                r.Shots += 1000 * wraps;
                readings.push_back(r);
            }
    }

    // The reason told is the one of the counts as read, without wraps.
    std::optional<TStage> asRead;
    for (const TReading& r : readings) {
        int64_t catches = 0,
                explained = -int64_t{kCondomCost} * r.Shots - int64_t{kTorpedoCost} * st.Torpedoes;
        for (size_t k = 1; k <= 6; ++k) {
            catches += r.Caught[k] + r.Early[k];
            explained += int64_t{kCatchPoints[k]} * (r.Caught[k] + r.Early[k]) +
                         int64_t{kEarlyBonus} * r.Early[k];
        }
        if (won) explained += kWinBonus;
        TStage stage = TStage::Fits;
        // A condom catches one swimmer; only a torpedo catches several.
        if (st.Torpedoes == 0 && catches > r.Shots)
            stage = TStage::CatchesAboveShots;
        else if (((explained - score) % 100 + 100) % 100 != 0)
            stage = TStage::ScoreDigits;
        else if (score > explained)
            stage = TStage::ScoreAbove;
        else if (score == explained && st.Seconds < neededSeconds)
            // No pause, so the seconds did not wrap either.
            stage = TStage::TooFewSeconds;
        if (stage == TStage::Fits) return std::nullopt;
        if (!asRead) asRead = stage;
    }
    switch (*asRead) {
        case TStage::CatchesAboveShots: return "More swimmers were caught than shots were fired";
        case TStage::ScoreDigits: return "The score does not match its score code";
        case TStage::ScoreAbove: return "The score is higher than its score code explains";
        case TStage::TooFewSeconds:
            return won ? "A won game lasts the whole level"
                       : "The game shows fewer seconds than its swimmers needed to arrive";
        case TStage::Fits: break;
    }
    return std::nullopt;
}

}  // namespace zx::server
