#pragma once
// The list of known errors: rules that match lines of the log and name the page that explains
// the error. The launcher fetches the list and asks it about the current log.
#include <string>
#include <string_view>
#include <vector>

namespace zx {

// The verdict of the list of known errors on the current log.
struct TKnownError {
    std::string Page;  // empty: unknown
    bool KeepLog = false;
};
// Tries each rule line of the list against kvd\log.txt in turn; the first rule that names a page
// wins, and the keep-log flag is that of the rule last tried.
TKnownError FindKnownError(std::string_view listText);
// One rule against the given log lines: the page name, or empty.
std::string MatchKnownErrorRule(std::string_view rule, const std::vector<std::string>& logLines);
bool KnownErrorRuleKeepsLog(std::string_view rule);

}  // namespace zx
