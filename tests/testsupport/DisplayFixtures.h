#pragma once
// Pieces of a test fixture that stand in for the display, the sprites and the sound while a test
// runs headless. Each owns what it sets up and takes it down again in its destructor, so a fixture
// declares the ones it needs as members, in the order of the list below: members are destroyed in
// the reverse order, and each piece must go before the ones it stands on.
//
//   Restore<T>       a program-wide value put back as it was
//   HeadlessDisplay  the display object behind DD
//   SpriteSheets     the loaded sprites (SpriteDefs.h)
//   BuiltSounds      the sound manager behind DSound
//   SpriteList       the sprite list behind Bobs
#include <memory>
#include <string>
#include <string_view>

#include "platform/DisplayState.h"
#include "sprites/BobUnit.h"
#include "sprites/qvDSound.h"

namespace zx::platform {
class GameWindow;
}

namespace zx::test {

// SDL's video, which every window needs; throws when there is none.
void StartVideo();

// The pixel format of a test's surfaces in memory: 5-6-5 at 16 bits, a byte per channel otherwise.
inline platform::PixelFormat TestPixelFormat(int bits) {
    platform::PixelFormat f;
    f.bitCount = static_cast<uint32_t>(bits);
    if (bits != 16) f.rMask = 0xFF0000, f.gMask = 0x00FF00, f.bMask = 0x0000FF;
    return f;
}

// Puts a program-wide value back as it was when this was made.
template <class T>
class Restore {
public:
    explicit Restore(T& value) : value_(value), saved_(value) {}
    ~Restore() { value_ = saved_; }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;

private:
    T& value_;
    T saved_;
};

// Whether DD gets the surfaces that painting a frame draws into.
enum class Buffers {
    None,
    // Two 800 x 600 frame buffers (item 1, the back buffer, is the one painted) and the blend
    // surface.
    ForPainting,
};

// A display nobody sees: a window and the display object behind DD, with the game area of a
// started game (800 x 600, no offset, no hint strip, transparency on). At the end the surfaces
// and the display object leave DD; the rest of DD stays as the test left it.
class HeadlessDisplay {
public:
    // On a window of its own.
    explicit HeadlessDisplay(const std::string& caption = "test", Buffers buffers = Buffers::None);
    // On somebody else's window (a game screen's), which must outlive the display.
    explicit HeadlessDisplay(platform::GameWindow& window, Buffers buffers = Buffers::None);
    ~HeadlessDisplay();
    HeadlessDisplay(const HeadlessDisplay&) = delete;
    HeadlessDisplay& operator=(const HeadlessDisplay&) = delete;

private:
    void Start(platform::GameWindow& window, Buffers buffers);
    void Open(platform::GameWindow& window, Buffers buffers);
    void Close();

    std::unique_ptr<platform::GameWindow> window_;
    std::unique_ptr<platform::DirectDraw> dd_;
};

// The shipped sprite script (the SBMEMO resource). Its sheets are compiled in; their masks and
// the files of the animations' sounds are looked up in a program directory at load time.
enum class ShippedSprites {
    // The built one, which holds them all.
    WithBuiltFiles,
    // This process's own, which holds none: the sheets come without masks.
    WithoutFiles,
};

// The sprites of one test: whatever an earlier test left is released at the start, and what the
// test loaded is released at the end.
class SpriteSheets {
public:
    SpriteSheets();
    // A script of the test's own.
    explicit SpriteSheets(std::string_view script);
    explicit SpriteSheets(ShippedSprites shipped);
    ~SpriteSheets();
    SpriteSheets(const SpriteSheets&) = delete;
    SpriteSheets& operator=(const SpriteSheets&) = delete;

    void Load(std::string_view script);
};

// A sound manager with every sound of the built program directory, as DSound while it lives.
class BuiltSounds {
public:
    BuiltSounds();
    ~BuiltSounds();
    BuiltSounds(const BuiltSounds&) = delete;
    BuiltSounds& operator=(const BuiltSounds&) = delete;

    TqvDSound& operator*() { return *sound_; }
    TqvDSound* operator->() { return sound_.get(); }

private:
    std::unique_ptr<TqvDSound> sound_;
};

// Whether the sound's buffer is playing; false for no sound.
bool IsPlaying(TqvDSoundFile* sound);

// An empty sprite list, as Bobs while it lives. Whatever holds bobs of it must go first.
class SpriteList {
public:
    SpriteList();
    ~SpriteList();
    SpriteList(const SpriteList&) = delete;
    SpriteList& operator=(const SpriteList&) = delete;

    TBobs& operator*() { return *bobs_; }
    TBobs* operator->() { return bobs_.get(); }

private:
    std::unique_ptr<TBobs> bobs_;
};

}  // namespace zx::test
