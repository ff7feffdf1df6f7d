#pragma once
#include <string>

namespace assetgen {

// BACK.jpg, INFO.jpg, MENUE.jpg and MENUE_NET.jpg into the resource staging folder.
void WritePictures(const std::string& stageDir);

}  // namespace assetgen
