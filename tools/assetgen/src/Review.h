#pragma once
#include <string>
#include <vector>

#include "Common.h"

namespace assetgen {

// One PNG with every frame of every sheet as the game will show it: the written sheet with its
// mask applied, on a checkerboard. Prints a line for any visible pixel that would become the
// colour key at 16 bits.
void WriteContactSheet(const std::vector<SheetSpec>& list, const std::string& programDir,
                       const std::string& stageDir, const std::string& out);

// A made-up game screen at one scroll position, to judge the art together.
void WriteMockScene(const std::vector<SheetSpec>& list, const std::string& programDir,
                    const std::string& stageDir, const std::string& out, int scrollPos);

}  // namespace assetgen
