#include "server/Html.h"

#include <array>
#include <ctime>

namespace zx::server {
namespace {

// Code points of the bytes 0x80..0x9F; 0 where Windows-1252 leaves the byte unassigned.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void Rows(std::string& out, const std::vector<THighscoreRow>& rows) {
    if (rows.empty()) {
        out += "<tr><td colspan=\"3\"><i>No scores yet: be the first!</i></td></tr>\n";
        return;
    }
    // Equal scores share a place, the next lower one takes its place after all of them: the
    // same ranks the answers to a submission give.
    size_t place = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const THighscoreRow& r = rows[i];
        if (i == 0 || r.Score != rows[i - 1].Score) place = i + 1;
        out += "<tr><td align=\"right\" width=\"24\">" + std::to_string(place) + ".</td><td><b>" +
               HtmlText(r.Name) + "</b>";
        std::string where = r.City;
        if (!r.Country.empty()) where += where.empty() ? r.Country : ", " + r.Country;
        if (!where.empty()) out += " <font color=\"#7a3b6e\">(" + HtmlText(where) + ")</font>";
        // The server played this game's replay and reached the score itself.
        if (r.Verified)
            out += " <span class=\"verified\" title=\"replay verified\">&#10003;</span>";
        out += "</td><td align=\"right\" width=\"60\">" + std::to_string(r.Score) + "</td></tr>\n";
    }
}

}  // namespace

std::string HtmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                if (c < 32 || c == 127) {
                    out += ' ';
                } else if (c < 128) {
                    out += ch;
                } else {
                    const char32_t cp = c < 0xA0 ? kCp1252High[c - 0x80] : c;
                    out += cp ? "&#" + std::to_string(static_cast<uint32_t>(cp)) + ";"
                              : std::string("?");
                }
        }
    }
    return out;
}

std::string DayCaption(int64_t unixTime) {
    static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
    const std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return std::to_string(tm.tm_mday) + " " + kMonths[tm.tm_mon] + " " +
           std::to_string(tm.tm_year + 1900);
}

std::string HighscorePage(const std::vector<THighscoreRow>& overall,
                          const std::vector<THighscoreRow>& week, std::string_view weekCaption) {
    std::string out =
        "<html><head><meta charset=\"utf-8\"><title>Zolvex highscores</title>\n"
        "<style type=\"text/css\">\n"
        "body { font-family: Arial, Helvetica, sans-serif; font-size: 9pt; color: #3a1034; "
        "background-color: #fdeef7; }\n"
        "h3 { font-size: 11pt; color: #8b1e72; margin-top: 4px; margin-bottom: 2px; }\n"
        "a { color: #8b1e72; }\ntd { font-size: 9pt; }\n</style>\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<link rel=\"stylesheet\" href=\"/zvxinternal/site.css\">\n</head>\n"
        "<body bgcolor=\"#fdeef7\" text=\"#3a1034\">\n"
        "<p><a href=\"/zvxinternal\"><img src=\"/zvxinternal/pics/banner.png\" width=\"260\" "
        "height=\"52\" "
        "alt=\"Zolvex\" border=\"0\"></a></p>\n"
        "<p><a href=\"/zvxinternal\">Start</a> | <a href=\"/zvxinternal/howto.htm\">How to "
        "play</a> | "
        "<a href=\"/zvxinternal/highscore.html\">Highscores</a> | <a "
        "href=\"/zvxinternal/prizes.htm\">Prizes</a> | "
        "<a href=\"/zvxinternal/safersex.htm\">Safer sex</a></p>\n"
        "<h3>This week</h3>\n<p>since Monday ";
    out += weekCaption;
    out +=
        ", 00:00 UTC; only games whose replay the server played &#10003;</p>\n<table "
        "cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">\n";
    Rows(out, week);
    out +=
        "</table>\n<h3>All time</h3>\n<table cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">\n";
    Rows(out, overall);
    out +=
        "</table>\n<p><small>Publish your best score from the launcher: <i>Internet, Publish "
        "Highscore</i>.</small></p>\n"
        "</body></html>\n";
    return out;
}

}  // namespace zx::server
