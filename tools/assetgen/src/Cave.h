#pragma once
#include <string>

namespace assetgen {

// The cave layout: 300 records of 16 bytes (track x, screen y, depth, element type).
void WriteFrontDat(const std::string& path);

}  // namespace assetgen
