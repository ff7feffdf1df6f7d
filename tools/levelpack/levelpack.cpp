// Scrambles a plain level script into the level file the game reads, line by line.
//   levelpack [--optional] <plain script> <level file>
// With --optional a missing script is skipped without failing the build.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "game/LevelFile.h"
#include "platform/Errors.h"
#include "support/Paths.h"
#include "support/Random.h"

namespace {

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    bool optional = !args.empty() && args.front() == "--optional";
    if (optional) args.erase(args.begin());
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: levelpack [--optional] <plain script> <level file>\n");
        return 2;
    }
    const std::string src(args[0]), out(args[1]);
    try {
        if (!zx::FileExists(src)) {
            if (optional) {
                std::printf("levelpack: %s not there yet, level not packed\n", src.c_str());
                return 0;
            }
            std::fprintf(stderr, "levelpack: %s not found\n", src.c_str());
            return 1;
        }
        auto plain = zx::ReadFileBytes(src, zx::kLevelFileLimit);
        if (!plain) throw zx::EInOutError("cannot read " + src);
        std::vector<std::string> lines = zx::SplitLines(Text(*plain));

        // A fixed seed gives the same fillers on every build, so an unchanged script leaves
        // the shipped file (and everything that depends on it) untouched.
        zx::RandSeed(20261208u);
        std::string packed = zx::ScrambleLines(lines);
        if (zx::UnscrambleLines(packed) != lines)
            throw zx::Exception("scrambled level does not read back");

        auto old = zx::ReadFileBytes(out, zx::kLevelFileLimit);
        if (old && Text(*old) == packed) return 0;
        std::string dir =
            out.substr(0, out.find_last_of('/') == std::string::npos ? 0 : out.find_last_of('/'));
        if (!dir.empty() && !zx::CreateDir(dir)) throw zx::EInOutError("cannot create " + dir);
        zx::ReplaceFileContents(out, packed);
        std::printf("levelpack: %s -> %s (%zu lines)\n", src.c_str(), out.c_str(), lines.size());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "levelpack: %s\n", e.what());
        return 1;
    }
}
