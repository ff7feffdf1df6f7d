#pragma once
// What the shipped level allows, read with the game's own level language (rules/).
#include "rules/LevelLimits.h"

namespace zx::server {

using rules::LoadLevelLimits;
using rules::ReadLevelLimits;
using rules::TLevelLimits;

}  // namespace zx::server
