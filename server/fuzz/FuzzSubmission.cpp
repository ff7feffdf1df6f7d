// libFuzzer target for everything a request to /score2.php reaches before the store: the first
// byte chooses whether the rest is taken as the escaped, scrambled value of "cs=" or as an
// already unscrambled payload (which reaches the field and score checks far more often).
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/Submission.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        zx::server::ReadSubmission(text);
    } else if (auto fields = zx::SplitPayload(text)) {
        const zx::server::TReadResult r = zx::server::SubmissionFromFields(*fields);
        // Whatever is taken must fit the record it is shown from.
        if (r.Submission &&
            (r.Submission->Name.size() > zx::server::kMaxName ||
             r.Submission->Comment.size() > zx::server::kMaxComment ||
             r.Submission->PlayerId.size() > zx::server::kMaxPlayerId || r.Submission->Age > 110 ||
             r.Submission->GamesWon > r.Submission->GamesStarted))
            __builtin_trap();
    }
    return 0;
}
