// Level files: any bytes unscramble into lines, and scrambling is undone exactly.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "game/LevelFile.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (UnscrambleLine(ScrambleLine(bytes)) != bytes) fuzz::Fail("scrambling is not undone");
    const auto lines = UnscrambleLines(bytes);
    (void)ScrambleLines(lines);
    (void)SplitLines(bytes);
    return 0;
}
