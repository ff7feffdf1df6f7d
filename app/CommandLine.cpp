#include "app/CommandLine.h"

#include <string>
#include <string_view>

#include "net/Internet.h"

namespace zx {

std::optional<int> HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& err) {
    if (argc <= 1) return std::nullopt;
    const std::string_view arg = argv[1];
    if (argc == 2 && arg == "--help") {
        out << "Usage: zolvex [--help | --version]\n"
               "Starts the launcher of Zolvex, the arcade shooter of a health-education "
               "campaign.\n"
               "\n"
               "  --help     show this help and exit\n"
               "  --version  show the version and exit\n";
        return 0;
    }
    if (argc == 2 && arg == "--version") {
        out << "zolvex " << kProgramVersion << "\n";
        return 0;
    }
    if (argc > 2)
        err << "zolvex: too many arguments\n";
    else if (arg.starts_with('-'))
        err << "zolvex: unknown option '" << arg << "'\n";
    else
        err << "zolvex: unexpected argument '" << arg << "'\n";
    err << "Try 'zolvex --help'.\n";
    return 2;
}

}  // namespace zx
