#include "game/GameGlobals.h"

namespace zx {

TDDFullScreenForm* GameScreen = nullptr;
int32_t PendingShots = 0;
bool Clicked = false;
bool GamePlaying = false;
bool ResultWon = false;
bool ResultLost = false;
int64_t GameTicks = 0;
int64_t GameStartTick = 0;
TSpermien* Spermien = nullptr;
TSchuesse* Schuesse = nullptr;
TBubbles* Bubbles = nullptr;
TBubblpoints* Bubblpoints = nullptr;
TRohre* Rohre = nullptr;
TFront* Front = nullptr;
TAnzeige* Anzeige = nullptr;

}  // namespace zx
