// The publishing payload and the server's answer: any request value unscrambles or is refused with
// its message, any answer text parses, and a payload scrambled again reads back the same.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "payload/Payload.h"

using namespace zx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)ParseAnswer(text);
    std::string plain;
    try {
        plain = UnscramblePayload(text);
    } catch (const PayloadError&) {
        return 0;
    }
    (void)SplitPayload(plain);
    uint32_t state = static_cast<uint32_t>(size) * 2654435761u + 1;
    const RandomIntFn rand = [&state](int n) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 8) % static_cast<uint32_t>(n));
    };
    const std::string again = UnscramblePayload(ScramblePayload(plain, rand));
    if (again.compare(0, plain.size(), plain) != 0)
        fuzz::Fail("a scrambled payload does not read back");
    return 0;
}
