#pragma once
// This test program's own listeners on the mixer (platform/DSound.h): they replace the program's
// empty ones at link time. A test hears what a listener would, or counts the channels in use.
#include <cstdint>
#include <functional>

namespace zx::test {

// For its lifetime listen gets every finished mix (on the audio thread, in the device's format);
// once the destructor has returned it is called no more.
class MixListener {
public:
    explicit MixListener(std::function<void(const uint8_t* stream, int bytes)> listen);
    ~MixListener();
    MixListener(const MixListener&) = delete;
    MixListener& operator=(const MixListener&) = delete;
};

// Mixer channels that sound buffers hold now (0 while no device is open).
int SoundChannelsInUse();

}  // namespace zx::test
