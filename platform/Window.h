#pragma once
// The game screen's window: an SDL window that starts hidden and borderless, so that nothing
// shows before the display is set up, and that reports the cursor in the game's display
// coordinates, whatever the display kind and scaling.
#include <SDL.h>

#include <cstdint>
#include <string>

namespace zx::platform {

class GameWindow {
public:
    explicit GameWindow(const std::string& caption);
    ~GameWindow();
    GameWindow(const GameWindow&) = delete;
    GameWindow& operator=(const GameWindow&) = delete;

    SDL_Window* Handle() const { return window_; }
    uint32_t Id() const { return SDL_GetWindowID(window_); }
    void SetCaption(const std::string& caption);
    void SetBordered(bool bordered);
    void SetClientSize(int width, int height);
    void Show();
    void Hide();
    bool Visible() const;
    // Position of the client area on the desktop.
    void ClientOrigin(int& x, int& y) const;

    // Full screen at the desktop's mode (true) or back to a window (false).
    bool SetFullscreenDesktop(bool on);
    // Full screen with a real mode change; false when the display has no such mode.
    bool SetFullscreenMode(int width, int height);
    void LeaveFullscreen();

    // The cursor in screen coordinates of the game's display: in a full-screen kind the
    // coordinates of the shown display mode (mapped back through any scaling), in the window
    // kind the desktop's.
    void CursorPos(int& x, int& y) const;
    // The presenter tells how the game's display is laid onto the window (scaled kind 0).
    void SetPresentation(int offsetX, int offsetY, double scale);
    bool Fullscreen() const;

    static void ShowCursor(bool show);

private:
    SDL_Window* window_ = nullptr;
    int presOffsetX_ = 0, presOffsetY_ = 0;
    double presScale_ = 1.0;
};

// Starts SDL's video (and events) once for the process; false when no display can be had.
bool InitVideo();

}  // namespace zx::platform
