#pragma once
// Where the launcher finds the recorded game behind a local highscore.
#include <optional>
#include <string>
#include <string_view>

namespace zx {

// The replay kept for the game that wrote this score code; nothing when none was kept.
std::optional<std::string> LoadReplayForCode(std::string_view code);

}  // namespace zx
