#pragma once
// The program's one pseudo-random generator. Everything that draws a random number (fillers of
// scrambled lines, swimmers, bubbles, wobble) draws from here, so that a game can be replayed
// from its seed and its input.
#include <cstdint>
#include <optional>

namespace zx {

// Uniform integer in 0 .. n-1; 0 when n <= 0.
int RandInt(int n);
// Uniform real in [0, 1).
double RandReal();

// Seeds from the clock, or from the seed fixed by FixRandomize when there is one.
void Randomize();
// Seeds with a known value.
void RandSeed(uint32_t seed);
// Replays and tests fix the seed that every later Randomize uses; nullopt returns to the clock.
void FixRandomize(std::optional<uint32_t> seed);

}  // namespace zx
