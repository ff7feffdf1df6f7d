#include "testsupport/Mixer.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "platform/DSound.h"

namespace zx {
namespace {

// Held while a mix is handed over, so a listener that goes away waits for the call under way.
std::mutex listenMutex;
std::function<void(const uint8_t*, int)> listener;
std::atomic<int> channelsInUse{0};

}  // namespace

namespace platform {

void SoundMixed(const uint8_t* stream, int bytes) {
    std::lock_guard lock(listenMutex);
    if (listener) listener(stream, bytes);
}

void SoundChannelsChanged(int inUse) { channelsInUse = inUse; }

}  // namespace platform

namespace test {

MixListener::MixListener(std::function<void(const uint8_t*, int)> listen) {
    std::lock_guard lock(listenMutex);
    listener = std::move(listen);
}

MixListener::~MixListener() {
    std::lock_guard lock(listenMutex);
    listener = nullptr;
}

int SoundChannelsInUse() { return channelsInUse.load(); }

}  // namespace test
}  // namespace zx
