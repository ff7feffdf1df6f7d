#pragma once
// The score code lives in the payload library, which the server shares; the game writes its codes
// with the program's one generator, so that a replayed game writes the same code.
#include "payload/ScoreCode.h"
#include "support/Random.h"

namespace zx {

inline std::string MakeScoreCode(const TScoreStats& stats) { return MakeScoreCode(stats, RandInt); }

}  // namespace zx
