#pragma once
#include <string>

namespace assetgen {

// BACK.jpg, INFO.jpg, MENUE.jpg and MENUE_NET.jpg into the resource staging folder, and the
// launcher's two pictures drawn at twice the size for dense desktops (MENUE2X, MENUE_NET2X).
void WritePictures(const std::string& stageDir);

}  // namespace assetgen
