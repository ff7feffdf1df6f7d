#include "display/frmDDFullScreen.h"

#include <algorithm>
#include <cstdio>

#include "display/TextUnit.h"
#include "platform/Dialogs.h"
#include "platform/Ticks.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "surface/DDUtils.h"

namespace zx {

using namespace platform;

namespace {
// The prog.cfg key that keeps the window kind's client size, "800x600".
constexpr const char* kWindowSizeKey = "GameWindowSize";

uint32_t RegisterEvents() {
    static const uint32_t base = SDL_RegisterEvents(3);
    return base;
}
}  // namespace

uint32_t FrameEventType() { return RegisterEvents(); }
uint32_t LoopEndedEventType() { return RegisterEvents() + 1; }
uint32_t CloseEventType() { return RegisterEvents() + 2; }

TDDFullScreenForm::TDDFullScreenForm(const std::string& caption)
    : window_(std::make_unique<GameWindow>(caption)) {
    RegisterEvents();
    DD.TransparencyOn = true;
    DD.HintStripHeight = 0;
}

TDDFullScreenForm::~TDDFullScreenForm() {
    // A derived form runs Destroy itself so that its own overrides take part.
    Destroy();
}

// ---- set-up and release ----

SurfacePtr TDDFullScreenForm::CreatePlainSurface(uint32_t extraCaps) {
    SurfaceDesc d;
    d.caps = DDSCAPS_OFFSCREENPLAIN | extraCaps;
    d.width = ScreenWidth;
    d.height = ScreenHeight;
    SurfacePtr s;
    DDCheckNoLost(DirectDrawObject->CreateSurface(d, s));
    return s;
}

void TDDFullScreenForm::FillBlack(DirectDrawSurface& s) {
    BltFx fx;
    fx.fillColor = 0;
    DDCheck(s.Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx));
}

void TDDFullScreenForm::InitDDraw() {
    WriteLog("InitDDraw (Inherited)");
    DD.DisplayOffsetX = DD.DisplayOffsetY = 0;
    BackScroll = 0;
    SurfaceCount = FrameCount = SpriteCount = 0;
    MouseX = MouseY = -1;
    ObjectsLive = false;
    Paused = false;
    DD.SetGameArea(static_cast<int32_t>(ScreenWidth), static_cast<int32_t>(ScreenHeight));
    LoopRunning = false;
    WriteLog("-1");

    DDCheckNoLost(CreateDirectDraw(window_.get(), DirectDrawObject));
    DD.DirectDraw = DirectDrawObject.get();
    WriteLog("0");
    try {
        if (DisplayKind == 2) {
            DDCheckNoLost(DirectDrawObject->SetCooperativeLevel(DDSCL_NORMAL));
            WriteLog("1");
            window_->SetGameArea(static_cast<int>(ScreenWidth), static_cast<int>(ScreenHeight));
            window_->SetResizable(true);
            const Size client = InitialClientSize();
            window_->SetClientSize(client.w, client.h);
            SurfaceDesc pd;
            pd.caps = DDSCAPS_PRIMARYSURFACE;
            DDCheckNoLost(DirectDrawObject->CreateSurface(pd, PrimarySurface));
            WriteLog("2");
            // The clipper is created, bound to the window and attached in one step here.
            WriteLog("3");
            WriteLog("4");
            DDCheckNoLost(DirectDrawObject->AttachWindowClipper(PrimarySurface.get()));
            WriteLog("5");
            for (uint32_t i = 0; i < BackBufferCount + 1; ++i) {
                auto s = CreatePlainSurface(DDSCAPS_SYSTEMMEMORY);
                WriteLog("6");
                DD.FlipList.push_back(s);
                WriteLog("7");
            }
        } else {
            GameWindow::ShowCursor(false);
            DDCheckNoLost(DirectDrawObject->SetCooperativeLevel(CoopLevel));
            WriteLog("8");
            if (DisplayKind == 1) {
                DisplayMode m;
                DDCheckNoLost(DirectDrawObject->GetDisplayMode(m));
                DD.DisplayOffsetX = static_cast<int32_t>((m.width - ScreenWidth) >> 1);
                DD.DisplayOffsetY = static_cast<int32_t>((m.height - ScreenHeight) >> 1);
                WriteLog("9");
            } else {
                DDCheckNoLost(
                    DirectDrawObject->SetDisplayMode(ScreenWidth, ScreenHeight, BitDepth, 0, 0));
                if (DirectDrawObject->ScaledMode())
                    WriteLog("No display mode " + std::to_string(ScreenWidth) + "x" +
                             std::to_string(ScreenHeight) + ": game area scaled to the desktop");
            }
            WriteLog("10");
            SurfaceDesc pd;
            pd.caps = DDSCAPS_PRIMARYSURFACE;
            if (BackBufferCount > 0) {
                pd.caps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX;
                pd.backBufferCount = BackBufferCount;
            }
            DDCheckNoLost(DirectDrawObject->CreateSurface(pd, PrimarySurface));
            WriteLog("11");
            DD.FlipList.push_back(PrimarySurface);
            WriteLog("12");
            if (BackBufferCount > 0)
                DirectDrawObject->EnumSurfaces([](const SurfacePtr& s) {
                    if (!(s->Caps() & DDSCAPS_PRIMARYSURFACE)) DD.FlipList.push_back(s);
                });
            WriteLog("13");
            if (DisplayKind == 1) {
                WriteLog("14");
                for (auto it = DD.FlipList.rbegin(); it != DD.FlipList.rend(); ++it)
                    FillBlack(**it);
                WriteLog("15");
            }
        }
        DD.BackImage = CreatePlainSurface(0);
        WriteLog("16");
        FillBlack(*DD.BackImage);
        WriteLog("17");
        DD.BlendSurface = CreatePlainSurface(DDSCAPS_SYSTEMMEMORY);
        WriteLog("18");
        ShowLoadingScreen();
        WriteLog("19");
        spriteList_ = std::make_unique<TBobs>();
        Bobs = spriteList_.get();
        WriteLog("20");
        soundManager_ =
            std::make_unique<TqvDSound>(window_.get(), SoundSwitch1, SoundSwitch2, 44100, 16, 2);
        DSound = soundManager_.get();
        WriteLog("InitDDraw (Inherited) OK!");
    } catch (...) {
        ReleaseDisplay();
        throw;
    }
}

void TDDFullScreenForm::ReleaseDisplay() {
    DSound = nullptr;
    soundManager_.reset();
    Bobs = nullptr;
    spriteList_.reset();
    ReleaseSprites();
    DD.FlipList.clear();
    DD.BackImage.reset();
    DD.BlendSurface.reset();
    PrimarySurface.reset();
    if (DirectDrawObject && DisplayKind != 2) DirectDrawObject->RestoreDisplayMode();
    DD.DirectDraw = nullptr;
    DirectDrawObject.reset();
}

void TDDFullScreenForm::Freeddraw() {
    WriteLog("Freeddraw: Start");
    ReleaseDisplay();
    WriteLog("Freeddraw: End");
}

bool TDDFullScreenForm::RestoreSurfaces() {
    auto fail = [] {
        SleepMs(250);
        return false;
    };
    auto restore = [&](DirectDrawSurface& s) {
        HRESULT lost = s.IsLost();
        if (lost == DD_OK) return 0;
        if (lost != DDERR_SURFACELOST) DDCheckNoLost(lost);
        return s.Restore() == DD_OK ? 1 : -1;
    };
    for (auto& s : DD.FlipList)
        if (restore(*s) < 0) return fail();
    if (DD.BackImage) {
        int r = restore(*DD.BackImage);
        if (r < 0) return fail();
        if (r > 0 && !BackImageFile.empty()) SetBackImage(BackImageFile);
    }
    if (DD.BlendSurface && restore(*DD.BlendSurface) < 0) return fail();
    for (int32_t i = 1; i <= SurfaceCount && i < static_cast<int32_t>(Surfaces.size()); ++i) {
        auto& entry = Surfaces[static_cast<size_t>(i)];
        if (!entry.Surface) continue;
        int r = restore(*entry.Surface);
        if (r < 0) return fail();
        if (r > 0) {
            WriteLog(entry.FileName + " reload");
            if (!entry.FileName.empty()) LoadPictureToSurface(entry.FileName, entry.Surface);
        }
    }
    if (DisplayKind == 1)
        for (auto& s : DD.FlipList) FillBlack(*s);
    DD.SurfacesLost = false;
    return true;
}

bool TDDFullScreenForm::RestoreIfLost() {
    if (!DD.SurfacesLost) return false;
    return !RestoreSurfaces();
}

// ---- the loop ----

void TDDFullScreenForm::SetFlipping(bool on) {
    if (on == Flipping) return;
    Flipping = on;
    if (on) {
        {
            std::lock_guard lock(frameMutex_);
            frameWaitEnded_ = false;
        }
        const uint32_t win = window_->Id();
        LoopThread = std::make_unique<TLoopThread>([this](int32_t ticks) { LoopFrame(ticks); },
                                                   [win](uint32_t id) {
                                                       SDL_Event e{};
                                                       e.type = LoopEndedEventType();
                                                       e.user.windowID = win;
                                                       e.user.code = static_cast<int32_t>(id);
                                                       SDL_PushEvent(&e);
                                                   },
                                                   FramesOnMainThread);
        LoopRunning = true;
        LoopThread->Start();
    } else if (LoopRunning && LoopThread) {
        LoopThread->Terminate();
        std::lock_guard lock(frameMutex_);
        frameWaitEnded_ = true;
        frameDone_.notify_all();
    }
}

// On the loop thread: hand one frame to the main thread and wait until it has run.
void TDDFullScreenForm::LoopFrame(int32_t ticks) {
    std::unique_lock lock(frameMutex_);
    uint64_t seq = ++framePosted_;
    SDL_Event e{};
    e.type = FrameEventType();
    e.user.windowID = window_->Id();
    e.user.code = ticks;
    e.user.data1 = reinterpret_cast<void*>(static_cast<uintptr_t>(seq));
    if (SDL_PushEvent(&e) != 1) return;
    frameDone_.wait(lock, [&] { return frameRun_ >= seq || frameWaitEnded_; });
}

void TDDFullScreenForm::HandleFrameEvent(const SDL_Event& e) {
    auto seq = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(e.user.data1));
    {
        std::lock_guard lock(frameMutex_);
        if (seq != framePosted_ || frameRun_ >= seq) return;  // stale
    }
    // The frame counts as run also when it throws: the loop thread must not wait for it forever.
    auto done = [&] {
        std::lock_guard lock(frameMutex_);
        frameRun_ = seq;
        frameDone_.notify_all();
    };
    try {
        Threadnotify(e.user.code);
    } catch (...) {
        done();
        throw;
    }
    done();
}

void TDDFullScreenForm::WMLoopEnded(uint32_t threadId) {
    if (LoopThread && threadId == LoopThread->ThreadID()) {
        LoopRunning = false;
        LoopThread->WaitFor();
        LoopThread.reset();
        Close();
    }
}

void TDDFullScreenForm::Threadnotify(int32_t) {}

void TDDFullScreenForm::RunFrame(int32_t ticks, const std::function<void()>& glsproc) {
    if (FreezeWhileHidden && hidden_) return;
    try {
        if (RestoreIfLost()) return;
    } catch (const Exception& e) {
        RecordFailure("Exception raised in Threadnotify while trying to restore surfaces: " +
                      e.Message());
        return;
    }
    std::string stage;
    try {
        stage = "BackImageToSecondarySurface";
        BackImageToSecondarySurface();
        stage = "glsproc";
        for (int32_t i = 0; i < ticks; ++i) {
            if (!Paused && glsproc) glsproc();
            TickDone();
        }
        stage = "Bobs.Paint";
        if (ObjectsLive && !Closing && Bobs) Bobs->paint();
        stage = "Flip(DDFLIP_WAIT)";
        if (!Closing) Flip(DDFLIP_WAIT);
    } catch (const EDirectXSurfaceLostError&) {
        // SurfacesLost is set: the next frame restores.
    } catch (const Exception& e) {
        RecordFailure("Exception raised in Threadnotify while " + stage + ": " + e.Message());
        Beep();
    }
}

void TDDFullScreenForm::RecordFailure(const std::string& line) {
    ErrorFlag = true;
    LogQuietly(line);
    Closing = true;
}

void TDDFullScreenForm::LogQuietly(std::string_view line) {
    try {
        WriteLog(line);
    } catch (const Exception& e) {
        LogBroken(e.Message());
    }
}

// The states log every step of the wind-down, so without a log they cannot get there: the
// screen ends at once, with ERROR where the log may still be written, and says why.
void TDDFullScreenForm::LogBroken(const std::string& message) {
    ErrorFlag = true;
    Closing = true;
    if (!logFailure_.empty()) return;
    logFailure_ = "The log cannot be written: " + message;
    std::fprintf(stderr, "%s\n", logFailure_.c_str());
    if (destroyed_ || closed_) return;
    if (Flipping)
        SetFlipping(false);  // the loop's end closes the window
    else
        PostClose();
}

void TDDFullScreenForm::Back() {
    WriteLog("Back: Start");
    if (Flipping) {
        WriteLog("Back: Stop flipping");
        SetFlipping(false);
    } else {
        Close();
    }
    WriteLog("Back: End");
}

// ---- drawing ----

void TDDFullScreenForm::Flip(uint32_t flags) {
    if (DisplayKind == 2) {
        PresentWindowed();
        return;
    }
    DDCheck(DD.FlipList.at(0)->Flip(nullptr, flags));
}

void TDDFullScreenForm::PresentWindowed() {
    if (!PrimarySurface || DD.FlipList.size() < 2) return;
    int ox = 0, oy = 0;
    window_->ClientOrigin(ox, oy);
    Rect dst{ox, oy, ox + static_cast<int32_t>(ScreenWidth),
             oy + static_cast<int32_t>(ScreenHeight)};
    DDCheck(PrimarySurface->Blt(&dst, DD.FlipList[1].get(), nullptr, 16, nullptr));
}

void TDDFullScreenForm::BackImageToSecondarySurface() {
    const int32_t sc = BackScroll, W = static_cast<int32_t>(ScreenWidth),
                  H = static_cast<int32_t>(ScreenHeight);
    auto* back = DD.FlipList.at(1).get();
    if (sc == 0) {
        BlitClipped(DD.BackImage.get(), 0, 0, W, H, back, 0, 0, 0, 0, 0, W - 1, H - 1);
    } else {
        // The picture shows shifted right by the scroll offset and wraps around.
        BlitClipped(DD.BackImage.get(), 0, 0, W - sc, H, back, sc, 0, 0, 0, 0, W - 1, H - 1);
        BlitClipped(DD.BackImage.get(), W - sc, 0, sc, H, back, 0, 0, 0, 0, 0, W - 1, H - 1);
    }
}

void TDDFullScreenForm::SetBackImage(const std::string& file) {
    BackImageFile = file;
    LoadPictureToSurface(file, DD.BackImage);
}

void TDDFullScreenForm::ShowLoadingScreen() {
    FillBlack(*DD.FlipList.at(1));
    FillBlack(*DD.FlipList.at(0));
    PrintText(static_cast<int32_t>(ScreenWidth / 2), static_cast<int32_t>(ScreenHeight / 2),
              "Loading...", 2, 1, 0x000000, 1, TextFontName, 24, fsBold, DD.BackImage.get());
    BackImageToSecondarySurface();
    Flip(DDFLIP_WAIT);
}

void TDDFullScreenForm::TrackMouse() {
    PrevMouseX = MouseX;
    PrevMouseY = MouseY;
    if (scriptedPointer_) {
        MouseX = scriptedX_;
        MouseY = scriptedY_;
        return;
    }
    int x = 0, y = 0;
    window_->CursorPos(x, y);
    if (DisplayKind == 2 && !window_->Fullscreen()) {
        int ox = 0, oy = 0;
        window_->ClientOrigin(ox, oy);
        x -= ox;
        y -= oy;
    } else {
        // The centred game area of kind 1 starts at the display offset: the cannon must follow
        // the mouse alike in every kind.
        x -= DD.DisplayOffsetX;
        y -= DD.DisplayOffsetY;
    }
    MouseX = x;
    MouseY = y;
}

Size TDDFullScreenForm::InitialClientSize() {
    const Size desk = window_->UsableDesktop();
    const int gw = static_cast<int>(ScreenWidth), gh = static_cast<int>(ScreenHeight);
    Size kept;
    try {
        const std::string v = ReadProgCfg(kWindowSizeKey);
        char tail = 0;
        if (std::sscanf(v.c_str(), "%dx%d%c", &kept.w, &kept.h, &tail) != 2) kept = {};
    } catch (const Exception&) {
        kept = {};
    }
    // A size kept from a larger desktop, or a damaged entry, gives way to the desktop's share.
    const bool fits = desk.w <= 0 || (kept.w <= desk.w && kept.h <= desk.h);
    if (kept.w >= gw / 4 && kept.h >= gh / 4 && fits) return kept;
    return FirstWindowSize(desk.w, desk.h, gw, gh);
}

void TDDFullScreenForm::RememberClientSize() {
    if (DisplayKind != 2 || !DirectDrawObject || window_->Fullscreen()) return;
    if (SDL_GetWindowFlags(window_->Handle()) & SDL_WINDOW_MAXIMIZED) return;
    const Size s = window_->ClientSize();
    if (s.w <= 0 || s.h <= 0) return;
    try {
        WriteProgCfg(kWindowSizeKey, std::to_string(s.w) + "x" + std::to_string(s.h));
    } catch (const Exception&) {
        // Not kept: the next game starts at the desktop's share.
    }
}

void TDDFullScreenForm::ToggleFullscreen() {
    if (DisplayKind != 2 || !DirectDrawObject) return;
    if (window_->Fullscreen()) {
        const Size full = window_->ClientSize();
        window_->SetFullscreenDesktop(false);
        if (windowedMaximised_) {
            // The desktop gives back the size from before the window was maximised: it was
            // left maximised, so it is maximised again.
            SDL_MaximizeWindow(window_->Handle());
        } else if (windowedSize_.w > 0) {
            // Not every desktop gives the window its size back by itself.
            window_->SetClientSize(windowedSize_.w, windowedSize_.h);
        }
        GameWindow::ShowCursor(true);
        // The window manager answers these requests later, in steps (the old size, then the
        // maximised one): the size is logged once it has settled.
        const uint32_t now = GetTickCount();
        settling_ = TSettling{now, now, window_->ClientSize(), full, false};
    } else {
        RememberClientSize();
        windowedMaximised_ =
            maximised_ || (SDL_GetWindowFlags(window_->Handle()) & SDL_WINDOW_MAXIMIZED) != 0;
        windowedSize_ = windowedMaximised_ ? Size{} : window_->ClientSize();
        settling_.reset();
        if (!window_->SetFullscreenDesktop(true)) {
            WriteLog("Alt+Enter: no full screen");
            return;
        }
        GameWindow::ShowCursor(false);
        WriteLog("Alt+Enter: full screen");
    }
    FormPaint();
}

void TDDFullScreenForm::LogWindowWhenSettled(bool sizeEvent) {
    if (!settling_) return;
    // A window manager answers within a few frames, in steps; a busy one may take longer than
    // those frames before its first step, so the quiet time counts only once it has given the
    // window a size other than the full screen's. One that does not answer at all (none running,
    // or a request it ignores) leaves the size as it is.
    constexpr uint32_t kQuietMs = 250, kLatestMs = 2000;
    const uint32_t now = GetTickCount();
    if (sizeEvent) {
        settling_->lastSizeAt = now;
        const Size s = settling_->size, f = settling_->fullSize;
        if (s.w != f.w || s.h != f.h) settling_->answered = true;
        return;
    }
    const bool quiet = settling_->answered && now - settling_->lastSizeAt >= kQuietMs;
    if (!quiet && now - settling_->since < kLatestMs) return;
    const Size s = settling_->size;
    settling_.reset();
    WriteLog("Alt+Enter: window " + std::to_string(s.w) + "x" + std::to_string(s.h) +
             (maximised_ ? " maximised" : ""));
}

void TDDFullScreenForm::SetDisplayKind(uint8_t kind) {
    if (DirectDrawObject) return;
    DisplayKind = kind;
    if (kind == 2) {
        window_->SetBordered(true);
        // Sized before it is first shown, so that the desktop places it at that size.
        window_->SetResizable(true);
        const Size client = InitialClientSize();
        window_->SetClientSize(client.w, client.h);
    }
}

// ---- window events ----

void TDDFullScreenForm::FormShow() {
    WriteLog("Formshow: Start");
    if (DisplayKind == 1) {
        SDL_DisplayMode dm{};
        if (SDL_GetDesktopDisplayMode(0, &dm) == 0 &&
            (dm.w < static_cast<int>(ScreenWidth) || dm.h < static_cast<int>(ScreenHeight)))
            DisplayKind = 0;
    }
    if (!DirectDrawObject) InitDDraw();
    WriteLog("Formshow: End");
}

void TDDFullScreenForm::FormActivate() {
    WriteLog("FormActivate: Start");
    try {
        if (DSound) DSound->RestoreAll();
    } catch (const Exception& e) {
        WriteLog("Error while restoring soundbuffers: " + e.Message());
    }
    WriteLog("FormActivate: End");
}

void TDDFullScreenForm::FormPaint() {
    if (DisplayKind != 2 || !DirectDrawObject) return;
    try {
        PresentWindowed();
    } catch (const Exception&) {
        // A paint that fails is repeated by the next frame.
    }
}

bool TDDFullScreenForm::FormClose() {
    LogQuietly("FormClose: Start");
    if (!Closing) {
        LogQuietly("FormClose: Reclose");
        Closing = true;
        return false;
    }
    RememberClientSize();
    GameWindow::ShowCursor(true);
    LogQuietly("FormClose: End");
    LogQuietly(ErrorFlag ? "ERROR" : "OK");
    return true;
}

void TDDFullScreenForm::Close() {
    if (closed_) return;
    if (FormClose()) {
        closed_ = true;
        window_->Hide();
    }
}

void TDDFullScreenForm::PostClose() {
    SDL_Event e{};
    e.type = CloseEventType();
    e.user.windowID = window_->Id();
    SDL_PushEvent(&e);
}

void TDDFullScreenForm::FormDestroy() {
    LogQuietly("Formdestroy: Start");
    if (LoopRunning && LoopThread) {
        LogQuietly("Formdestroy: Terminate Loop");
        SetFlipping(false);
        StopLoopThread();
        LoopRunning = false;
    }
    LoopThread.reset();
    DD.FlipList.clear();
    Freeddraw();
    LogQuietly("Formdestroy: End");
    LogQuietly(ErrorFlag ? "ERROR" : "OK");
}

void TDDFullScreenForm::StopLoopThread() {
    if (!LoopThread) return;
    LoopThread->Terminate();
    {
        std::lock_guard lock(frameMutex_);
        frameWaitEnded_ = true;
        frameDone_.notify_all();
    }
    LoopThread->WaitFor();
}

void TDDFullScreenForm::Destroy() {
    if (destroyed_) return;
    destroyed_ = true;
    if (shown_) {
        try {
            FormDestroy();
        } catch (const Exception&) {
            // The log itself failed: nothing else to tell it.
        }
    }
    StopLoopThread();
    LoopThread.reset();
    ReleaseDisplay();
}

bool TDDFullScreenForm::ProcessEvent(int timeoutMs) {
    if (LoopRunning && LoopThread && LoopThread->OnMainThread()) {
        const int32_t due = LoopThread->Pass(platform::GetTickCount());
        if (due > 0) {
            Threadnotify(due);
            return true;
        }
        timeoutMs = std::clamp(LoopThread->Account().MsUntilNextTick(), 0, timeoutMs);
    }
    SDL_Event e;
    const bool got = SDL_WaitEventTimeout(&e, timeoutMs) != 0;
    if (settling_) LogWindowWhenSettled(false);
    if (!got) return false;
    const uint32_t win = window_->Id();
    if (e.type == FrameEventType()) {
        if (e.user.windowID == win) HandleFrameEvent(e);
    } else if (e.type == LoopEndedEventType()) {
        if (e.user.windowID == win) WMLoopEnded(static_cast<uint32_t>(e.user.code));
    } else if (e.type == CloseEventType()) {
        if (e.user.windowID == win) Close();
    } else if (e.type == SDL_QUIT) {
        Close();
    } else if (e.type == SDL_WINDOWEVENT && e.window.windowID == win) {
        switch (e.window.event) {
            case SDL_WINDOWEVENT_CLOSE: Close(); break;
            case SDL_WINDOWEVENT_FOCUS_GAINED:
                if (DirectDrawObject) DirectDrawObject->SetFocus(true);
                FormActivate();
                break;
            case SDL_WINDOWEVENT_FOCUS_LOST:
                if (DirectDrawObject) DirectDrawObject->SetFocus(false);
                break;
            case SDL_WINDOWEVENT_HIDDEN: hidden_ = true; break;
            case SDL_WINDOWEVENT_SHOWN: hidden_ = false; break;
            case SDL_WINDOWEVENT_MAXIMIZED: maximised_ = true; break;
            case SDL_WINDOWEVENT_RESTORED: maximised_ = false; break;
            case SDL_WINDOWEVENT_SIZE_CHANGED:
                if (settling_) {
                    settling_->size = {e.window.data1, e.window.data2};
                    LogWindowWhenSettled(true);
                }
                [[fallthrough]];
            case SDL_WINDOWEVENT_EXPOSED:
                // Uncovered or resized, in any kind: the bars beside the picture, which frames
                // leave alone, are sent again with the next one.
                if (DirectDrawObject) DirectDrawObject->SendWholeWindow();
                FormPaint();
                break;
            default: break;
        }
    } else if (e.type == SDL_KEYDOWN && e.key.windowID == win &&
               (e.key.keysym.sym == SDLK_RETURN || e.key.keysym.sym == SDLK_KP_ENTER) &&
               (e.key.keysym.mod & KMOD_ALT) && DisplayKind == 2) {
        // The display's own key: the game never sees it, so a name entry takes no Enter from it.
        if (!e.key.repeat) ToggleFullscreen();
    } else {
        HandleInput(e);
    }
    return true;
}

void TDDFullScreenForm::Show() {
    shown_ = true;
    window_->Show();
    FormShow();
}

void TDDFullScreenForm::ShowModal() {
    Show();
    while (!closed_) ProcessEvent(100);
    if (!logFailure_.empty()) ShowError(logFailure_);
}

}  // namespace zx
