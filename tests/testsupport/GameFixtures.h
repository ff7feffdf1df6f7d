#pragma once
// Pieces of a game-object test fixture, after those of DisplayFixtures.h: the game screen the
// objects read their input from, and the level's managers. Declared as members after the display
// pieces: a ScreenForm before the HeadlessDisplay (whose window it may lend), LevelObjects after
// the SpriteList (the managers hold bobs of it).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "display/frmDDFullScreen.h"
#include "game/BubbleUnit.h"
#include "game/BubblepointUnit.h"
#include "game/GameGlobals.h"
#include "game/RohrUnit.h"
#include "game/SchussUnit.h"
#include "game/SpermUnit.h"
#include "game/scoreunit.h"
#include "testsupport/DisplayFixtures.h"

namespace zx::test {

// A game screen that is never shown, as GameScreen while it lives. Destroying a form releases
// the whole display (DSound, Bobs, the sprites, DD's surfaces), so all other pieces but a Restore
// have to go before it.
class ScreenForm {
public:
    explicit ScreenForm(const std::string& caption = "test");
    ~ScreenForm();
    ScreenForm(const ScreenForm&) = delete;
    ScreenForm& operator=(const ScreenForm&) = delete;

    TDDFullScreenForm& operator*() { return *form_; }
    TDDFullScreenForm* operator->() { return form_.get(); }
    platform::GameWindow& Window() { return form_->Window(); }

private:
    std::unique_ptr<TDDFullScreenForm> form_;
};

// The level's managers as the game screen makes them, each in the pool size it gives it and
// published through its program-wide pointer (GameGlobals.h). Adding one that is there already
// replaces it. At the end every pointer is cleared before its manager goes.
class LevelObjects {
public:
    LevelObjects() = default;
    ~LevelObjects();
    LevelObjects(const LevelObjects&) = delete;
    LevelObjects& operator=(const LevelObjects&) = delete;

    TSpermien& AddSwarm();          // Spermien, 50 swimmers
    TBubbles& AddBubbles();         // Bubbles, 300 (none when EnvData.BubblePercent is 0)
    TBubblpoints& AddIndicators();  // Bubblpoints, 100
    TSchuesse& AddShots();          // Schuesse, 100
    TRohre& AddCannon();            // Rohre, its one cannon
    TAnzeige& AddHud();             // Anzeige

private:
    std::unique_ptr<TSpermien> swarm_;
    std::unique_ptr<TBubbles> bubbles_;
    std::unique_ptr<TBubblpoints> indicators_;
    std::unique_ptr<TSchuesse> shots_;
    std::unique_ptr<TRohre> cannon_;
    std::unique_ptr<TAnzeige> hud_;
};

// A fixture base for the level's managers among each other: a game screen whose window carries a
// display ready to paint, the shipped sprites with the built files and the built sounds. The
// fixture adds the managers it tests to level_.
class ShippedGameTest : public testing::Test {
protected:
    ScreenForm screen_;
    HeadlessDisplay display_{screen_.Window(), Buffers::ForPainting};
    SpriteSheets sprites_{ShippedSprites::WithBuiltFiles};
    BuiltSounds sound_;
    SpriteList bobs_;
    LevelObjects level_;
};

// A fixture base for the HUD and the managers that play with it: a game screen, beside it a
// display of its own ready to paint, and the shipped sprites without the built files (the sheets
// have no masks). DD is put back as it was. The fixture adds the managers to level_.
class ShippedHudTest : public testing::Test {
protected:
    Restore<TDisplayState> savedDisplay_{DD};
    ScreenForm screen_;
    HeadlessDisplay display_{"test", Buffers::ForPainting};
    SpriteSheets sprites_{ShippedSprites::WithoutFiles};
    SpriteList bobs_;
    LevelObjects level_;
};

}  // namespace zx::test
