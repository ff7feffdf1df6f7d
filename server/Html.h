#pragma once
// Text that players sent, made safe for a page: the bytes are Windows-1252, the page is ASCII
// with character references, so it reads the same whatever encoding the browser assumes.
#include <string>
#include <string_view>
#include <vector>

#include "server/ScoreStore.h"

namespace zx::server {

std::string HtmlText(std::string_view cp1252);

// The highscore page: the overall and the weekly best, names escaped.
std::string HighscorePage(const std::vector<THighscoreRow>& overall,
                          const std::vector<THighscoreRow>& week, std::string_view weekCaption);

// "8 December 2026": the caption of a week's first day.
std::string DayCaption(int64_t unixTime);

}  // namespace zx::server
