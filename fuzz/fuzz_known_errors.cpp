// The list of known errors against a log: any rule text and any log lines are judged without a
// crash, a hang or a read outside the log, whatever the rule's line count says.
#include <string>
#include <vector>

#include "app/KnownErrors.h"
#include "fuzz/FuzzSupport.h"
#include "game/LevelFile.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    return 0;
}

// The input is a rule list and a log, split at the first NUL byte.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t cut = all.find('\0');
    const std::string_view rules = all.substr(0, cut);
    const std::string_view log =
        cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
    const std::vector<std::string> logLines = SplitLines(log);
    for (const std::string& rule : SplitLines(rules)) {
        (void)MatchKnownErrorRule(rule, logLines);
        (void)KnownErrorRuleKeepsLog(rule);
    }
    fuzz::WriteFile("kvd\\log.txt", reinterpret_cast<const uint8_t*>(log.data()), log.size());
    (void)FindKnownError(rules);
    return 0;
}
