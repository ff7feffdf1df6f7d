#include <sys/stat.h>

#include "display/TextUnit.h"
#include "support/Paths.h"

namespace zx {

// A browser has no font configuration to ask: the build puts the faces the game's texts use in
// the program's fonts/ folder, and every family is drawn with them (the desktop's configuration
// gives the same faces for the family the game names).
std::string FontFileFor(const std::string& family, uint8_t style) {
    (void)family;
    const bool bold = style & fsBold, italic = style & fsItalic;
    const char* face = bold && italic ? "BoldItalic"
                       : bold         ? "Bold"
                       : italic       ? "Italic"
                                      : "Regular";
    std::string file = ProgramDir() + "/fonts/LiberationSans-" + face + ".ttf";
    struct stat st {};
    return stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? file : std::string();
}

}  // namespace zx
