#pragma once
// The full-screen window base: owns the display (primary with its back buffer, or the window
// kind's two system-memory surfaces, the back image and the blend surface), the sprite list and
// the sound manager; runs frames handed over by the loop thread and winds down through the close
// handshake, writing every step to the log.
#include <SDL.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "display/ThreadUnit.h"
#include "platform/DDraw.h"
#include "platform/DisplayState.h"
#include "platform/Ticks.h"
#include "platform/Window.h"
#include "sprites/BobUnit.h"
#include "sprites/qvDSound.h"

namespace zx {

class TDDFullScreenForm {
public:
    explicit TDDFullScreenForm(const std::string& caption = "");
    virtual ~TDDFullScreenForm();
    TDDFullScreenForm(const TDDFullScreenForm&) = delete;
    TDDFullScreenForm& operator=(const TDDFullScreenForm&) = delete;

    // The four virtual operations.
    virtual void InitDDraw();
    virtual void Freeddraw();
    virtual bool RestoreSurfaces();
    virtual void Threadnotify(int32_t ticks);

    bool RestoreIfLost();
    void SetFlipping(bool on);
    void Back();
    void Flip(uint32_t flags);
    void PresentWindowed();
    void BackImageToSecondarySurface();
    void SetBackImage(const std::string& file);
    void ShowLoadingScreen();
    void TrackMouse();
    void SetDisplayKind(uint8_t kind);
    // The window kind between its window and full screen (Alt+Enter); logged. Nothing in the
    // full-screen kinds. A maximised window comes back maximised; the window's size is logged
    // once the window manager has applied it.
    void ToggleFullscreen();
    // A program that steers the mouse (a replay, the auto-player, a test) hands its position in
    // here, in game-area coordinates; TrackMouse then reads it instead of the desktop's cursor.
    void SetScriptedPointer(int32_t x, int32_t y) {
        scriptedPointer_ = true;
        scriptedX_ = x;
        scriptedY_ = y;
    }

    // Shows the window and runs its own event loop until the window has closed; the window is
    // then destroyed (the form frees itself when closed).
    void ShowModal();
    // Shows the window without entering the loop (ShowModal's first half; tests use it).
    void Show();
    // Asks the window to close, as the close button or Alt+F4 does.
    void Close();
    // Posts a close request that is handled from the event loop.
    void PostClose();
    // The program is asked to end (a logout, a kill): the screen winds down through its states
    // as after Escape, but nobody is left to look at the info picture, so it does not wait there.
    void PostEnd() {
        EndRequested = true;
        PostClose();
    }
    // Runs the destruction sequence (also run by the destructor if nobody did).
    void Destroy();

    // One pass of the event loop: waits at most timeoutMs for an event and handles it. Tests drive
    // the window with it; ShowModal loops on it.
    bool ProcessEvent(int timeoutMs);
    bool IsClosed() const { return closed_; }
    // The first failure to write the log, empty while the log works. Without a log the screen
    // cannot wind down through its states, so it ends at once; the caller shows this.
    const std::string& LogFailure() const { return logFailure_; }
    platform::GameWindow& Window() { return *window_; }

    // Creates the display object at set-up; a test may put a failing one in before Show.
    std::function<platform::HRESULT(platform::GameWindow*, std::unique_ptr<platform::DirectDraw>&)>
        CreateDirectDraw = platform::DirectDrawCreate;

    // The display's state: read and set by the game screen, its tests and the loop thread's owner.
    std::unique_ptr<platform::DirectDraw> DirectDrawObject;
    uint32_t CoopLevel =
        platform::DDSCL_FULLSCREEN | platform::DDSCL_ALLOWREBOOT | platform::DDSCL_EXCLUSIVE;
    uint32_t ScreenWidth = 800;
    uint32_t ScreenHeight = 600;
    uint32_t BitDepth = 16;
    uint32_t BackBufferCount = 1;
    uint8_t DisplayKind = 0;
    platform::SurfacePtr PrimarySurface;
    bool LoopRunning = false;
    bool Flipping = false;
    std::unique_ptr<TLoopThread> LoopThread;
    // Where no second thread may be started (a browser's page), the event loop itself runs the
    // frames as their ticks fall due instead of a loop thread handing them over.
    bool FramesOnMainThread = !platform::ThreadsAvailable();
    // A hidden window (a browser's tab in the background) runs no ticks until it is shown again,
    // as a full-screen display does while in the background: its time stands still.
    bool FreezeWhileHidden = false;
    std::string BackImageFile;
    bool ErrorFlag = false;
    bool SoundSwitch1 = false;
    bool SoundSwitch2 = false;
    bool Paused = false;
    bool ObjectsLive = false;
    int32_t MouseX = -1, MouseY = -1;
    int32_t PrevMouseX = -1, PrevMouseY = -1;
    bool Closing = false;
    bool EndRequested = false;
    int32_t BackScroll = 0;

protected:
    // Window events.
    virtual void FormShow();
    virtual void FormActivate();
    virtual void FormPaint();
    // Returns true when the close is accepted.
    virtual bool FormClose();
    virtual void FormDestroy();
    void WMLoopEnded(uint32_t threadId);

    // Input and other events the base does not handle itself (the game screen's keys and mouse).
    virtual void HandleInput(const SDL_Event&) {}

    // The frame of the game screen: back image, the state procedure ticks times, sprites, flip,
    // each stage under its error guard.
    void RunFrame(int32_t ticks, const std::function<void()>& glsproc);
    // After every tick of a frame, also a paused one: the game's own clock and its record.
    virtual void TickDone() {}
    // What a failure caught by the screen does, wherever it was caught: ErrorFlag, the error
    // line, Closing, so the states wind down.
    void RecordFailure(const std::string& line);
    // A log line that must not fail the caller: the screen's own error handling and wind-down.
    void LogQuietly(std::string_view line);

    platform::SurfacePtr CreatePlainSurface(uint32_t extraCaps);
    void FillBlack(platform::DirectDrawSurface& s);

private:
    void HandleFrameEvent(const SDL_Event& e);
    void LoopFrame(int32_t ticks);
    void ReleaseDisplay();
    void LogBroken(const std::string& message);
    // Ends the loop thread, also when it waits for a frame that will not run.
    void StopLoopThread();
    // The window kind's client size: the one the player left last time, or a share of the desktop.
    platform::Size InitialClientSize();
    void RememberClientSize();

    // After Alt+Enter back to the window: logs the window's size once the window manager has
    // settled it, or at the latest after a while.
    void LogWindowWhenSettled(bool sizeEvent);

    std::unique_ptr<platform::GameWindow> window_;
    platform::Size windowedSize_;     // the window's size before Alt+Enter made it full screen
    bool windowedMaximised_ = false;  // and whether it was maximised
    // Maximised as the window manager last said (its events, also for a frame the user clicked).
    bool maximised_ = false;
    bool hidden_ = false;
    // The window's way back from full screen, while its size is not yet logged: when it began,
    // when the last size came, that size, the full screen's size it left, and whether the window
    // manager has answered with another size yet.
    struct TSettling {
        uint32_t since = 0;
        uint32_t lastSizeAt = 0;
        platform::Size size;
        platform::Size fullSize;
        bool answered = false;
    };
    std::optional<TSettling> settling_;
    bool scriptedPointer_ = false;
    int32_t scriptedX_ = 0, scriptedY_ = 0;
    // Owners behind the program-wide Bobs and DSound while the display is set up.
    std::unique_ptr<TBobs> spriteList_;
    std::unique_ptr<TqvDSound> soundManager_;
    bool closed_ = false;
    bool destroyed_ = false;
    bool shown_ = false;
    std::string logFailure_;
    // One click on the close button arrives twice, as the window's close event and as a quit;
    // the quit that follows a close event within a moment is the same request.

    // Hand-over of one frame from the loop thread.
    std::mutex frameMutex_;
    std::condition_variable frameDone_;
    uint64_t framePosted_ = 0;
    uint64_t frameRun_ = 0;
    bool frameWaitEnded_ = false;
};

// SDL event types used for the frame hand-over, the loop's end and posted close requests.
uint32_t FrameEventType();
uint32_t LoopEndedEventType();
uint32_t CloseEventType();

}  // namespace zx
