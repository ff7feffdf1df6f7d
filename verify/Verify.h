#pragma once
// The verifier's work apart from the game: reading a replay as it is sent (plain or gzip, always
// bounded) and saying what the game reached.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zx::verify {

// Why a replay is not played, with the exit status that says so: 2 for the replay, 3 for a
// limit of the machine.
struct TRefusal : std::runtime_error {
    TRefusal(int status, const std::string& reason) : std::runtime_error(reason), Status(status) {}
    int Status;
};

// Everything from the descriptor up to its end; refused ("too big") past maxBytes.
std::string ReadAll(int fd, size_t maxBytes);
// The text itself, or the gzip stream inflated, refused ("too big") past maxBytes of text and
// ("unreadable") when the stream is damaged or cut.
std::string ReplayText(std::string bytes, size_t maxBytes);

// What the game reached, from its own counters.
struct TReached {
    bool Finished = false, Won = false;
    int32_t Score = 0;
    int64_t Ticks = 0;  // ticks of play, from the click that started it
    int32_t Seconds = 0;
    int32_t CondomShots = 0, Torpedoes = 0;
    std::array<int32_t, 7> Spawned{}, CaughtEarly{}, Caught{}, Escaped{};  // kinds 1..6
};

// The verifier's answer, one "name values" line each.
std::string FormatReached(const TReached& r);

}  // namespace zx::verify
