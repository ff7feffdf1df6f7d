#include <fontconfig/fontconfig.h>

#include <map>

#include "display/TextUnit.h"

namespace zx {

std::string FontFileFor(const std::string& family, uint8_t style) {
    static std::map<std::pair<std::string, int>, std::string> cache;
    const int key = style & (fsBold | fsItalic);
    auto it = cache.find({family, key});
    if (it != cache.end()) return it->second;
    std::string file;
    // The process's configuration, which the launcher's toolkit has loaded already (a second one
    // would cost the game screen's set-up its loading time and memory). The reference is kept for
    // the run: whatever another user of fontconfig does at exit, nothing is torn down under us.
    static FcConfig* const config = FcConfigReference(nullptr);
    if (config) {
        FcPattern* pat = FcPatternCreate();
        FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
        FcPatternAddInteger(pat, FC_WEIGHT, (style & fsBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pat, FC_SLANT, (style & fsItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(config, pat, FcMatchPattern);
        FcDefaultSubstitute(pat);
        FcResult result;
        FcPattern* match = FcFontMatch(config, pat, &result);
        FcChar8* path = nullptr;
        if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path)
            file = reinterpret_cast<const char*>(path);
        if (match) FcPatternDestroy(match);
        FcPatternDestroy(pat);
    }
    cache[{family, key}] = file;
    return file;
}

}  // namespace zx
