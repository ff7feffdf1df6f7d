#pragma once
// The game screen: the window the launcher shows to play. One state procedure runs per logic
// tick; the states create and free the level's managers, start play on a click, run the play
// loop with its scrolling, offer the cave editor, show the info picture when the player leaves
// and hand control back. Input handlers turn keys and the mouse into flags and counters.
#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "display/frmDDFullScreen.h"
#include "game/GameGlobals.h"
#include "screen/InputMap.h"
#include "screen/Replay.h"

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
    int64_t PauseTick = 0;  // GameTicks when the game was paused

    // Every level the screen sets up (the title, then the game) is recorded as a replay from its
    // first tick: the generator is seeded anew there with the seed this gives, by default a fresh
    // one drawn from the program's generator. A replayed game gives the replay's seed.
    std::function<uint32_t()> NextSeed;
    // Called when a recorded game leaves the screen, with its replay and the place its score took
    // in the top ten (0 for none). The program keeps the replay (KeepGameReplay); null keeps
    // nothing.
    std::function<void(const TReplay&, int place)> GameRecorded;
    // The recording so far; empty once it grew beyond kMaxReplayTicks.
    const TReplay& Recording() const { return recording_; }

protected:
    void HandleInput(const SDL_Event& e) override;
    void TickDone() override;

private:
    void FormCreate();
    void FormKeyDown(int32_t key, bool ctrl);
    void FormKeyPress(uint8_t ch);
    void DispatchMessage(const TInputMessage& m);
    void FreeManagers();
    void BeginRecording();
    void EndRecording();

    std::unique_ptr<TSpermien> spermien_;
    std::unique_ptr<TSchuesse> schuesse_;
    std::unique_ptr<TBubbles> bubbles_;
    std::unique_ptr<TBubblpoints> bubblpoints_;
    std::unique_ptr<TRohre> rohre_;
    std::unique_ptr<TFront> front_;
    std::unique_ptr<TAnzeige> anzeige_;

    TReplay recording_;
    bool recordingOn_ = false;
    bool gamePlayed_ = false;
    // Input handled since the last tick: it belongs to the next tick of the recording.
    std::vector<TInputMessage> input_;
};

// What the program does with a recorded game: keeps its replay in the replay store, under the
// score code of its place in the top ten and as the last game played.
void KeepGameReplay(const TReplay& replay, int place);

}  // namespace zx
