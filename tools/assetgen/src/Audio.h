#pragma once
#include <functional>
#include <string>
#include <vector>

namespace assetgen {

// The 17 sound effects as 16-bit stereo PCM waves at 44100 Hz.
void WriteEffects(const std::string& sndDir);
// One job per music track ("Track 30", "back", "TR_36_03"), each writing an MP3 file.
std::vector<std::function<void()>> MusicJobs(const std::string& sndDir);

}  // namespace assetgen
