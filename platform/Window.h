#pragma once
// The game screen's window: an SDL window that starts hidden and borderless, so that nothing
// shows before the display is set up, and that reports the cursor in the game's display
// coordinates, whatever the display kind and scaling.
#include <SDL.h>

#include <cstdint>
#include <string>

#include "platform/Presentation.h"

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
    // Sets the client area's size and centres the window on its display.
    void SetClientSize(int width, int height);
    Size ClientSize() const;
    // The window kind's frame can be resized and maximised; its picture follows the client area.
    void SetResizable(bool resizable);
    // The usable area of the desktop the window is on (without panels), in window points.
    Size UsableDesktop() const;
    // The size of the game's display shown in the window kind (the primary's size there).
    void SetGameArea(int width, int height);
    Size GameArea() const { return {gameW_, gameH_}; }
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

    // The cursor in screen coordinates of the game's display: in full screen the coordinates of
    // the shown display (mapped back through any scaling); in a window the client origin plus
    // the game point under the pointer, so that subtracting the origin gives the game point at
    // any window size.
    void CursorPos(int& x, int& y) const;
    // The presenter tells how the game's display (gameW x gameH) is laid onto the window's
    // output of outW x outH pixels; pointer positions are mapped back through it.
    void SetPresentation(const Presentation& p, int gameW, int gameH, int outW, int outH);
    bool Fullscreen() const;

    static void ShowCursor(bool show);

private:
    // The desktop's frame around the client area; zeros where there is none or it is not known.
    void FrameBorders(int& top, int& left, int& bottom, int& right) const;

    SDL_Window* window_ = nullptr;
    Presentation pres_;
    int presGameW_ = 0, presGameH_ = 0, presOutW_ = 0, presOutH_ = 0;
    int gameW_ = 800, gameH_ = 600;
};

// Starts SDL's video (and events) once for the process; false when no display can be had.
bool InitVideo();

}  // namespace zx::platform
