#include "platform/Window.h"

#include <csignal>
#include <cstring>

#include "platform/Errors.h"

namespace zx::platform {
namespace {

// A changed display mode must not outlive the program, whatever way it ends.
SDL_Window* fullscreenWindow = nullptr;
// Termination requests are left to SDL, which turns them into an orderly quit event.
constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};

void RestoreModeOnSignal(int sig) {
    if (fullscreenWindow) SDL_SetWindowFullscreen(fullscreenWindow, 0);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void InstallModeGuard(SDL_Window* w) {
    fullscreenWindow = w;
    for (int sig : kFatalSignals) std::signal(sig, RestoreModeOnSignal);
}

void RemoveModeGuard() {
    fullscreenWindow = nullptr;
    for (int sig : kFatalSignals) std::signal(sig, SIG_DFL);
}

// The display that holds the pointer, where the player just clicked to start: the window opens
// there. The first display where the pointer's place is not known.
int PointerDisplay() {
    int x = 0, y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    const SDL_Point at{x, y};
    for (int i = 0, n = SDL_GetNumVideoDisplays(); i < n; ++i) {
        SDL_Rect b{};
        if (SDL_GetDisplayBounds(i, &b) == 0 && SDL_PointInRect(&at, &b)) return i;
    }
    return 0;
}

}  // namespace

bool InitVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    // A full-screen game screen gets out of the way when the user switches to another program.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "1");
    // A click on the close button is one request to close: without this SDL follows the window's
    // close event with a quit event of its own, and the game screen would take it as a second.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    return SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
}

GameWindow::GameWindow(const std::string& caption) {
    if (!InitVideo()) throw Exception(std::string("Cannot start the display: ") + SDL_GetError());
    const int display = PointerDisplay();
    window_ = SDL_CreateWindow(caption.c_str(), SDL_WINDOWPOS_CENTERED_DISPLAY(display),
                               SDL_WINDOWPOS_CENTERED_DISPLAY(display), 800, 600,
                               SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
    if (!window_) throw Exception(std::string("Cannot create the window: ") + SDL_GetError());
}

GameWindow::~GameWindow() {
    LeaveFullscreen();
    SDL_DestroyWindow(window_);
}

void GameWindow::SetCaption(const std::string& caption) {
    SDL_SetWindowTitle(window_, caption.c_str());
}
void GameWindow::SetBordered(bool bordered) {
    SDL_SetWindowBordered(window_, bordered ? SDL_TRUE : SDL_FALSE);
}

void GameWindow::SetClientSize(int width, int height) {
    SDL_SetWindowSize(window_, width, height);
    // Centred on the usable area from the new size: SDL's own centring may still see the old
    // size while the window manager has not answered the resize.
    int display = SDL_GetWindowDisplayIndex(window_);
    if (display < 0) display = 0;
    SDL_Rect b{};
    if (SDL_GetDisplayUsableBounds(display, &b) == 0 && b.w > 0 && b.h > 0) {
        // The frame is centred where the desktop has told its size (once the window is shown),
        // else the client area.
        int top = 0, left = 0, bottom = 0, right = 0;
        FrameBorders(top, left, bottom, right);
        const int frameW = width + left + right, frameH = height + top + bottom;
        SDL_SetWindowPosition(window_, b.x + (b.w - frameW) / 2 + left,
                              b.y + (b.h > frameH ? (b.h - frameH) / 2 : 0) + top);
    } else {
        SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    }
}

void GameWindow::FrameBorders(int& top, int& left, int& bottom, int& right) const {
    top = left = bottom = right = 0;
    if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0) {
        top = left = bottom = right = 0;
        return;  // the video driver does not know frames
    }
    if (!Visible() || top || left || bottom || right) return;
    // A desktop tells the frame's size a moment after the window is shown (a window just made,
    // or made anew for a renderer). Waiting up to a tenth of a second once, while the screen
    // is set up, centres the frame instead of the client area, which would sit half a title
    // bar low; a desktop without frames costs that tenth.
    for (int i = 0; i < 10 && !(top || left || bottom || right); ++i) {
        SDL_Delay(10);
        SDL_PumpEvents();
        if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0) {
            top = left = bottom = right = 0;
            return;
        }
    }
}

Size GameWindow::ClientSize() const {
    Size s;
    SDL_GetWindowSize(window_, &s.w, &s.h);
    return s;
}

void GameWindow::SetResizable(bool resizable) {
    SDL_SetWindowResizable(window_, resizable ? SDL_TRUE : SDL_FALSE);
}

Size GameWindow::UsableDesktop() const {
    int display = SDL_GetWindowDisplayIndex(window_);
    if (display < 0) display = 0;
    SDL_Rect r{};
    if (SDL_GetDisplayUsableBounds(display, &r) != 0 || r.w <= 0 || r.h <= 0) {
        SDL_DisplayMode dm{};
        if (SDL_GetDesktopDisplayMode(display, &dm) != 0) return {};
        return {dm.w, dm.h};
    }
    return {r.w, r.h};
}

void GameWindow::SetGameArea(int width, int height) {
    gameW_ = width;
    gameH_ = height;
}

void GameWindow::Show() {
    SDL_ShowWindow(window_);
    SDL_RaiseWindow(window_);
}
void GameWindow::Hide() { SDL_HideWindow(window_); }
bool GameWindow::Visible() const { return (SDL_GetWindowFlags(window_) & SDL_WINDOW_SHOWN) != 0; }

void GameWindow::ClientOrigin(int& x, int& y) const { SDL_GetWindowPosition(window_, &x, &y); }

bool GameWindow::SetFullscreenDesktop(bool on) {
    if (!on) {
        LeaveFullscreen();
        return true;
    }
    bool ok = SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0;
    if (ok) InstallModeGuard(window_);
    return ok;
}

bool GameWindow::SetFullscreenMode(int width, int height) {
    // Wayland gives no real mode changes; a display without the mode neither.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && std::strcmp(driver, "wayland") == 0) return false;
    int display = SDL_GetWindowDisplayIndex(window_);
    if (display < 0) display = 0;
    int n = SDL_GetNumDisplayModes(display);
    for (int i = 0; i < n; ++i) {
        SDL_DisplayMode m{};
        if (SDL_GetDisplayMode(display, i, &m) != 0 || m.w != width || m.h != height) continue;
        if (SDL_SetWindowDisplayMode(window_, &m) != 0) return false;
        SDL_SetWindowSize(window_, width, height);
        if (SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN) != 0) return false;
        InstallModeGuard(window_);
        return true;
    }
    return false;
}

void GameWindow::LeaveFullscreen() {
    if (window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP))
        SDL_SetWindowFullscreen(window_, 0);
    if (fullscreenWindow == window_) RemoveModeGuard();
}

bool GameWindow::Fullscreen() const {
    return (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
}

void GameWindow::SetPresentation(const Presentation& p, int gameW, int gameH, int outW, int outH) {
    pres_ = p;
    presGameW_ = gameW, presGameH_ = gameH;
    presOutW_ = outW, presOutH_ = outH;
}

void GameWindow::CursorPos(int& x, int& y) const {
    // The pointer relative to the window, in window points.
    int wx = 0, wy = 0, ox = 0, oy = 0;
    const bool full = Fullscreen();
    if (full) {
        SDL_GetMouseState(&wx, &wy);
    } else {
        // Read globally, so that the cannon follows a pointer that has left the window.
        SDL_GetGlobalMouseState(&wx, &wy);
        ClientOrigin(ox, oy);
        wx -= ox, wy -= oy;
    }
    if (presOutW_ > 0 && presOutH_ > 0) {
        // Points to output pixels (they differ on a desktop with a scale), then to the game.
        int ww = 0, wh = 0;
        SDL_GetWindowSize(window_, &ww, &wh);
        if (ww > 0 && wh > 0 && (ww != presOutW_ || wh != presOutH_)) {
            wx = static_cast<int>(static_cast<long long>(wx) * presOutW_ / ww);
            wy = static_cast<int>(static_cast<long long>(wy) * presOutH_ / wh);
        }
        OutputToGame(pres_, presGameW_, presGameH_, wx, wy, wx, wy);
    }
    x = wx + ox;
    y = wy + oy;
}

void GameWindow::ShowCursor(bool show) { SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE); }

}  // namespace zx::platform
