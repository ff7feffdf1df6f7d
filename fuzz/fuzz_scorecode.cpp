// The score code decoder: any text decodes or is refused, and a code made from decoded figures
// decodes to the same digits.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "game/scorecode.h"

using namespace zx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view code(reinterpret_cast<const char*>(data), size);
    auto digits = DecodeScoreCode(code);
    if (!digits) digits = std::string(code);
    const auto stats = ScoreStatsFromDigits(*digits);
    if (!stats) return 0;
    const std::string plain = ScoreCodeDigits(*stats);
    const auto again = DecodeScoreCode(MakeScoreCode(*stats));
    if (!again || *again != plain) fuzz::Fail("a made score code does not decode to its digits");
    return 0;
}
