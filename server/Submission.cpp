#include "server/Submission.h"

#include <charconv>

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

TReadResult Refuse(std::string why) { return {std::nullopt, std::move(why)}; }

}  // namespace

TReadResult ReadSubmission(std::string_view encoded) {
    if (encoded.empty()) return Refuse("No score was sent");
    std::string plain;
    try {
        plain = UnscramblePayload(encoded);
    } catch (const PayloadError&) {
        return Refuse("The data cannot be read");
    }
    auto fields = SplitPayload(plain);
    if (!fields) return Refuse("The data cannot be read");
    return SubmissionFromFields(*fields);
}

TReadResult SubmissionFromFields(const std::vector<std::string>& f) {
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
    if (s.Name.find_first_not_of(' ') == std::string::npos) return Refuse("The name is missing");

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
    if (auto why = WhyScoreUnexplained(s.Score, *stats)) return Refuse(*why);
    s.ScoreCode = std::string(code);
    return {std::move(s), {}};
}

// The code keeps each count modulo 100 (shots modulo 1000), so the score is bounded, not
// recomputed. Every amount of the rules except the catch points of a single catch is a multiple
// of 100, and so is a whole wrap of any count (100 catches of any kind, 1000 shots): the last two
// digits of the score are therefore fixed by the counts as read, whatever wrapped and however
// often the game was paused. Above, the score can be no more than the catches as read (no kind
// is caught 100 times in one game) less the shots as read (wraps only add shots), plus the win
// bonus where a win is possible.
std::optional<std::string> WhyScoreUnexplained(int64_t score, const TScoreStats& st) {
    if (st.Torpedoes > kTorpedoesPerGame)
        return "The score code shows more torpedoes than a game has";
    int64_t explained =
        -int64_t{kCondomCost} * st.CondomShots - int64_t{kTorpedoCost} * st.Torpedoes;
    for (size_t k = 1; k <= 6; ++k)
        explained += int64_t{kCatchPoints[k]} * (st.Caught[k] + st.CaughtEarly[k]) +
                     int64_t{kEarlyBonus} * st.CaughtEarly[k];
    auto mod100 = [](int64_t v) { return ((v % 100) + 100) % 100; };
    if (mod100(score) != mod100(explained)) return "The score does not match its score code";
    // A virus that gets through loses the game at once; a won game shows none escaped.
    const bool virusEscaped = st.EscapedCount[4] + st.EscapedCount[5] + st.EscapedCount[6] > 0;
    int64_t bonus = 0;
    if (!virusEscaped) {
        // A won game lasts 90 seconds; one that shows fewer went past 100 (the seconds are kept
        // modulo 100), which a pause explains, and a pause costs points.
        bonus = st.Seconds >= kGameSeconds ? kWinBonus : kWinBonus - kPauseCost;
    }
    if (score > explained + bonus) return "The score is higher than its score code explains";
    return std::nullopt;
}

}  // namespace zx::server
