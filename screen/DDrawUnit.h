#pragma once
// The game screen: the window the launcher shows to play. One state procedure runs per logic
// tick; the states create and free the level's managers, start play on a click, run the play
// loop with its scrolling, offer the cave editor, show the info picture when the player leaves
// and hand control back. Input handlers turn keys and the mouse into flags and counters.
#include <SDL.h>

#include <cstdint>
#include <memory>
#include <string>

#include "display/frmDDFullScreen.h"
#include "game/GameGlobals.h"
#include "screen/InputMap.h"

namespace zx {

// Graphics set folders, indexed by EnvData.GraphicsSet.
const char* GraphicsSetFolder(int set);

class TDDFullScreenForm1 : public TDDFullScreenForm {
public:
    using TStateProc = void (TDDFullScreenForm1::*)();

    TDDFullScreenForm1();
    ~TDDFullScreenForm1() override;

    void InitDDraw() override;
    void Freeddraw() override;
    void Threadnotify(int32_t ticks) override;

    // The states.
    void glsInit();
    void glsBegin();
    void glsBegin2();
    void glsLoop();
    void glsCaveEdit();
    void glsExit();
    void glsInfo();
    void glsEnd();
    void glsIdle() {}

    void InitLevel();
    void CloseLevel();
    void ClickAction();

    // One input message, as TranslateInput makes them from SDL's events (tests feed these directly).
    void HandleMessage(const TInputMessage& m);

    TStateProc GlsProc = nullptr;
    int32_t TickCounter = 0;
    bool EscapePressed = false;
    bool HelpShown = false;
    uint32_t PauseTick = 0;

protected:
    void HandleInput(const SDL_Event& e) override;

private:
    void FormCreate();
    void FormKeyDown(int32_t key, bool ctrl);
    void FormKeyPress(uint8_t ch);
    void DispatchMessage(const TInputMessage& m);
    void FreeManagers();

    std::unique_ptr<TSpermien> spermien_;
    std::unique_ptr<TSchuesse> schuesse_;
    std::unique_ptr<TBubbles> bubbles_;
    std::unique_ptr<TBubblpoints> bubblpoints_;
    std::unique_ptr<TRohre> rohre_;
    std::unique_ptr<TFront> front_;
    std::unique_ptr<TAnzeige> anzeige_;
};

}  // namespace zx
