#include "testsupport/DisplayFixtures.h"

#include <SDL.h>

#include <stdexcept>

#include "platform/Window.h"
#include "sprites/SpriteDefs.h"
#include "support/Paths.h"
#include "surface/DDUtils.h"
#include "surface/Resources.h"
#include "testsupport/TestSupport.h"

namespace zx::test {

void StartVideo() {
    // Counted by SDL and never stopped: the windows of all tests of a process share it.
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        throw std::runtime_error(std::string("SDL video: ") + SDL_GetError());
}

// ---- HeadlessDisplay ----

HeadlessDisplay::HeadlessDisplay(const std::string& caption, Buffers buffers) {
    StartVideo();
    window_ = std::make_unique<platform::GameWindow>(caption);
    Start(*window_, buffers);
}

HeadlessDisplay::HeadlessDisplay(platform::GameWindow& window, Buffers buffers) {
    StartVideo();
    Start(window, buffers);
}

void HeadlessDisplay::Start(platform::GameWindow& window, Buffers buffers) {
    // A constructor that throws runs no destructor: take down here what was set up.
    try {
        Open(window, buffers);
    } catch (...) {
        Close();
        throw;
    }
}

void HeadlessDisplay::Open(platform::GameWindow& window, Buffers buffers) {
    dd_ = std::make_unique<platform::DirectDraw>(&window);
    DD.DirectDraw = dd_.get();
    DD.SetGameArea(800, 600);
    DD.DisplayOffsetX = DD.DisplayOffsetY = 0;
    DD.HintStripHeight = 0;
    DD.TransparencyOn = true;
    if (buffers == Buffers::ForPainting) {
        DD.FlipList = {CreateOffscreenSurface(800, 600, 0), CreateOffscreenSurface(800, 600, 0)};
        DD.BlendSurface = CreateOffscreenSurface(800, 600, platform::DDSCAPS_SYSTEMMEMORY);
    }
}

HeadlessDisplay::~HeadlessDisplay() { Close(); }

void HeadlessDisplay::Close() {
    // The surfaces belong to the display object: they go first, and DD keeps no pointer to it.
    DD.FlipList.clear();
    DD.BackImage.reset();
    DD.BlendSurface.reset();
    DD.DirectDraw = nullptr;
    dd_.reset();
    window_.reset();
}

// ---- SpriteSheets ----

SpriteSheets::SpriteSheets() { ReleaseSprites(); }

SpriteSheets::SpriteSheets(std::string_view script) : SpriteSheets() { Load(script); }

SpriteSheets::SpriteSheets(ShippedSprites shipped) : SpriteSheets() {
    auto script = FindResource("TEXT", "SBMEMO");
    if (!script) throw std::runtime_error("the sprite script SBMEMO is not among the resources");
    if (shipped == ShippedSprites::WithoutFiles) {
        Load(script->Text());
        return;
    }
    SetFolders(TFolders::Single(BuiltProgramDir()));
    try {
        Load(script->Text());
    } catch (...) {
        SetFolders(TFolders::Single(TempProgramDir()));
        throw;
    }
    SetFolders(TFolders::Single(TempProgramDir()));
}

SpriteSheets::~SpriteSheets() { ReleaseSprites(); }

void SpriteSheets::Load(std::string_view script) { LoadSprites(SplitScriptLines(script)); }

// ---- BuiltSounds ----

BuiltSounds::BuiltSounds()
    : sound_(std::make_unique<TqvDSound>(nullptr, true, false, 44100, 16, 2)) {
    sound_->LoadDir(BuiltProgramDir() + "/snd");
    DSound = sound_.get();
}

BuiltSounds::~BuiltSounds() {
    DSound = nullptr;
    sound_.reset();
}

bool IsPlaying(TqvDSoundFile* sound) {
    uint32_t status = 0;
    if (sound && sound->Buffer) sound->Buffer->GetStatus(&status);
    return (status & platform::DSBSTATUS_PLAYING) != 0;
}

// ---- SpriteList ----

SpriteList::SpriteList() : bobs_(std::make_unique<TBobs>()) { Bobs = bobs_.get(); }

SpriteList::~SpriteList() {
    bobs_.reset();
    Bobs = nullptr;
}

}  // namespace zx::test
