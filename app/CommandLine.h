#pragma once
// The program's command line: two options, answered before anything needs a display.
#include <optional>
#include <ostream>

namespace zx {

// "--help" and "--version" print to out and give 0; any other argument is refused on err with 2;
// no argument gives nullopt: the launcher starts.
std::optional<int> HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& err);

}  // namespace zx
