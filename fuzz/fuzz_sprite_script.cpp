// The sprite-definition script: any text loads its objects with their sheets, frames, animations
// and sounds, or raises the loader's error.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/Errors.h"
#include "sprites/SpriteDefs.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    fuzz::InitDisplay();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetLog();
    ReleaseSprites();
    try {
        LoadSprites(SplitScriptLines(std::string_view(reinterpret_cast<const char*>(data), size)));
        for (int s = 1; s <= SpriteCount; ++s) {
            (void)FirstFrame(s);
            for (int a = 0; a < AnimCount(s); ++a) {
                int n = 0, t = 0;
                if (AnimTiming(s, a, n, t))
                    for (int p = 0; p < n && p < 64; ++p) (void)FrameOf(s, a, p);
            }
        }
    } catch (const Exception&) {
    }
    ReleaseSprites();
    return 0;
}
