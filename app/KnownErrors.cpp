#include "app/KnownErrors.h"

#include <cctype>
#include <exception>

#include "game/LevelFile.h"
#include "platform/Errors.h"
#include "sprites/SpriteDefs.h"
#include "support/Ansi.h"
#include "support/Paths.h"

namespace zx {

namespace {

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool ValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t extra = c < 0x80         ? 0
                             : (c >> 5) == 6  ? 1
                             : (c >> 4) == 14 ? 2
                             : (c >> 3) == 30 ? 3
                                              : 4;
        if (extra == 4 || i + extra >= s.size() + (extra == 0)) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += extra + 1;
    }
    return true;
}

// A value tag "<name=value>": found in the lower-cased line, read from the line as it is.
std::string TagValue(std::string_view line, const std::string& lower, std::string_view name) {
    const std::string key = "<" + std::string(name) + "=";
    const size_t at = lower.find(key);
    if (at == std::string::npos) return {};
    const size_t from = at + key.size();
    const size_t end = line.find('>', from);
    return std::string(
        line.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
}

bool HasFlag(const std::string& lower, std::string_view name) {
    return lower.find("<" + AsciiLower(name)) != std::string::npos;
}

}  // namespace

bool KnownErrorRuleKeepsLog(std::string_view rule) { return HasFlag(AsciiLower(rule), "S"); }

std::string MatchKnownErrorRule(std::string_view rule, const std::vector<std::string>& logLines) {
    const std::string lower = AsciiLower(rule);
    long long n = 0;
    try {
        n = StrToInt(TagValue(rule, lower, "zn"));
    } catch (const Exception&) {
        return {};  // a count that is not a number makes the rule yield nothing
    }
    if (n < 1) return {};
    // A rule for more lines than the log has cannot match; checking first keeps a hostile line
    // count from costing anything.
    if (static_cast<unsigned long long>(n) > logLines.size()) return {};
    const size_t count = static_cast<size_t>(n);
    // Only the lines a rule names cost a comparison: a line without text matches any line, so a
    // rule of thousands of lines and a handful of texts costs a handful of passes over the log,
    // not lines times lines.
    std::vector<std::pair<size_t, std::string>> texts;
    for (size_t i = 0; i < count; ++i) {
        std::string text = TagValue(rule, lower, "z" + std::to_string(i + 1));
        if (!text.empty()) texts.emplace_back(i, std::move(text));
    }
    const bool lastLines = HasFlag(lower, "zl");
    const auto matchesAt = [&](size_t s) {
        for (const auto& [i, text] : texts)
            if (logLines[s + i].find(text) == std::string::npos) return false;
        return true;
    };
    const size_t lastStart = logLines.size() - count;
    if (lastLines) return matchesAt(lastStart) ? TagValue(rule, lower, "w") : std::string();
    if (texts.empty()) return TagValue(rule, lower, "w");
    // Starts are the places of the first text; the others are checked only there.
    const auto& [firstAt, firstText] = texts.front();
    for (size_t line = firstAt; line <= lastStart + firstAt; ++line)
        if (logLines[line].find(firstText) != std::string::npos && matchesAt(line - firstAt))
            return TagValue(rule, lower, "w");
    return {};
}

TKnownError FindKnownError(std::string_view listText) {
    TKnownError result;
    const std::string text = ValidUtf8(listText) ? std::string(listText) : AnsiToUtf8(listText);
    std::vector<std::string> log;
    bool haveLog = false;
    try {
        if (auto bytes = ReadFileBytes("kvd\\log.txt", kLogFileLimit)) {
            haveLog = true;
            for (auto& line : SplitLines(std::string(bytes->begin(), bytes->end())))
                log.push_back(AnsiToUtf8(line));
        }
    } catch (const std::exception&) {
        haveLog = false;
    }
    for (const std::string& rule : SplitLines(text)) {
        result.KeepLog = KnownErrorRuleKeepsLog(rule);
        if (!haveLog) continue;
        std::string page = MatchKnownErrorRule(rule, log);
        if (!page.empty()) {
            result.Page = std::move(page);
            break;
        }
    }
    return result;
}

}  // namespace zx
