#pragma once
// The replays of the games on the local top ten, beside the settings in KVD\Replays: one file a
// place's score code ("<code in hex>.replay", so that any character of a code is a safe name) and
// the last game played ("last.replay"). The launcher sends the replay of the score it publishes.
// Bounded: a replay of more than kMaxReplayFileBytes is not kept, and a replay whose code has left
// the list is removed whenever another is kept.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zx {

inline constexpr size_t kMaxReplayFileBytes = size_t{1} << 20;

// Keeps the replay of the game whose score code is code (as ScoreCodeAt gives it), replacing
// one kept under it before, and removes the replays of codes no longer on the list. Written
// safely (temporary file, sync, rename); raises EInOutError when it cannot be written.
void KeepReplay(std::string_view code, std::string_view text);
// Keeps the replay of the last game played, whatever its score.
void KeepLastReplay(std::string_view text);
// The replay kept for a score code, or nothing when none is (an empty code, a game played before
// replays were kept, a file that cannot be read).
std::optional<std::string> LoadReplayForCode(std::string_view code);
std::optional<std::string> LoadLastReplay();
// Removes every file of the folder that is neither the last replay nor that of a code on the
// list (also leftovers of an interrupted save).
void PruneReplays();

}  // namespace zx
