// BMP sheets and masks: a header is judged before decoding, and a sheet file is drawn or refused.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/Errors.h"
#include "surface/BmpCheck.h"
#include "surface/DDUtils.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    fuzz::InitDisplay();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetLog();
    TBmpHeader h;
    const bool ok = CheckBmpHeader(data, size, h).empty();
    if (ok && (h.Width <= 0 || h.Height <= 0 || int64_t{h.Width} * h.Height > kBmpMaxPixels))
        fuzz::Fail("a header passed with a size beyond the bounds");
    const std::vector<uint8_t> bytes(data, data + size);
    for (auto [w, hh] : {std::pair{0, 0}, std::pair{h.Width, h.Height}, std::pair{64, 64}}) {
        try {
            const auto mask = DecodeMask(bytes, w, hh, "fuzz_mask.bmp");
            if (!mask.empty() && w > 0 &&
                mask.size() != static_cast<size_t>((w + 3) & ~3) * static_cast<size_t>(hh))
                fuzz::Fail("a mask of another size than its sheet");
        } catch (const Exception&) {
        }
    }
    fuzz::WriteFile("fuzzsheet.bmp", data, size);
    try {
        SurfacePtr s;
        LoadPictureToSurface("fuzzsheet", s);
    } catch (const Exception&) {
    }
    return 0;
}
