#pragma once
// The game screen's program-wide values that the game objects read and write: the screen itself
// (the pointer, MouseX and MouseY, is its window's), the player's input as the game takes it, the
// state of the current game, and the level's managers, one instance each from InitLevel to
// CloseLevel.
#include <cstdint>

namespace zx {

class TDDFullScreenForm;
class TSpermien;
class TSchuesse;
class TBubbles;
class TBubblpoints;
class TRohre;
class TFront;
class TAnzeige;

// Set by whoever creates the game screen; null otherwise.
extern TDDFullScreenForm* GameScreen;

// Clicks (and Enter) during play not yet fired by the cannon; a click on a picture that waits for
// one (the end of a game, the info picture). The game screen sets both at its start.
extern int32_t PendingShots;
extern bool Clicked;

extern bool GamePlaying;
extern bool ResultWon;
extern bool ResultLost;
// The game's own time: the logic ticks the game screen has run, paused ones included. A stalled
// machine (a suspend, a stopped process) hands over a few ticks after the stall, not its length,
// so what the game measures is the same however long the stall was, and the same when the game
// is replayed.
extern int64_t GameTicks;
// GameTicks when play began.
extern int64_t GameStartTick;

extern TSpermien* Spermien;
extern TSchuesse* Schuesse;
extern TBubbles* Bubbles;
extern TBubblpoints* Bubblpoints;
extern TRohre* Rohre;
extern TFront* Front;
extern TAnzeige* Anzeige;

}  // namespace zx
