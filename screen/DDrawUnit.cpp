#include "screen/DDrawUnit.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "display/TextUnit.h"
#include "game/BubbleUnit.h"
#include "game/BubblepointUnit.h"
#include "game/FrontUnit.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "game/LevelFile.h"
#include "game/ReplayStore.h"
#include "game/RohrUnit.h"
#include "game/SchussUnit.h"
#include "game/SpermUnit.h"
#include "game/scoreunit.h"
#include "platform/Ticks.h"
#include "rules/Rules.h"
#include "sprites/SpriteDefs.h"
#include "sprites/qvDSound.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"
#include "support/SystemInfo.h"
#include "surface/DDUtils.h"
#include "surface/Resources.h"

namespace zx {

const char* GraphicsSetFolder(int set) { return set == 1 ? "fb" : "sb"; }

namespace {

std::string GfxPath(const char* picture) {
    return std::string("GFX\\") + GraphicsSetFolder(EnvData.GraphicsSet) + "\\" + picture;
}

// The sprite script the game screen reads at every set-up.
std::vector<std::string> SpriteScript() {
    auto res = FindResource("TEXT", "SBMEMO");
    if (!res) throw Exception("Sprite script not found");
    return SplitScriptLines(res->Text());
}

void PlayFromStart(const char* name, bool loop) {
    TqvDSoundFile* f = DSound->FindWave(name);
    f->Loop = loop;
    f->SetPosition(0);
    f->Play();
}

// A level's manager lives in the screen and is reached by the game objects through its
// program-wide pointer.
template <class T>
T& Publish(std::unique_ptr<T>& owner, T*& global) {
    owner = std::make_unique<T>();
    global = owner.get();
    return *owner;
}

// The pointer goes first, so that nothing reaches a manager while it is destroyed.
template <class T>
void Unpublish(std::unique_ptr<T>& owner, T*& global) {
    global = nullptr;
    owner.reset();
}

// The music is made from the MP3 files at each activation of the launcher; where that failed
// (a damaged file, a folder that cannot be written) the game plays without it.
void PlayMusic(const char* name) {
    if (TqvDSoundFile* f = DSound->FindOptionalWave(name)) {
        f->Loop = true;
        f->SetPosition(0);
        f->Play();
    }
}

void StopMusic(const char* name) {
    if (TqvDSoundFile* f = DSound->FindOptionalWave(name)) {
        f->Loop = false;
        f->Stop();
    }
}

void SetMusicVolume(const char* name, int32_t volume) {
    if (TqvDSoundFile* f = DSound->FindOptionalWave(name)) f->SetVolume(volume);
}

}  // namespace

TDDFullScreenForm1::TDDFullScreenForm1() : TDDFullScreenForm("Zolvex!") {
    // Two draws: the generator gives at most 31 bits a draw.
    NextSeed = [] {
        return static_cast<uint32_t>(RandInt(1 << 16)) << 16 |
               static_cast<uint32_t>(RandInt(1 << 16));
    };
    GameRecorded = KeepGameReplay;
    FormCreate();
}

void KeepGameReplay(const TReplay& replay, int place) {
    // A replay that cannot be kept costs the player nothing but the proof of the game: logged,
    // and the screen goes on.
    try {
        const std::string text = replay.ToText();
        if (place > 0) KeepReplay(ScoreCodeAt(place), text);
        KeepLastReplay(text);
    } catch (const Exception& e) {
        WriteLog("Replay not kept: " + e.Message());
    }
}

void TDDFullScreenForm1::BeginRecording() {
    const uint32_t seed = NextSeed ? NextSeed() : 0;
    RandSeed(seed);
    recording_ = TReplay{};
    recording_.Seed = seed;
    recording_.Kind = DisplayKind;
    recording_.TakeSettings();
    recordingOn_ = true;
    gamePlayed_ = false;
    // Clicks left over from the last game's end would fire at this one's start: a game starts
    // from nothing but its replay.
    PendingShots = 0;
}

void TDDFullScreenForm1::EndRecording() {
    if (!recordingOn_) return;
    recordingOn_ = false;
    if (gamePlayed_ && GameRecorded) GameRecorded(recording_, Anzeige ? Anzeige->NewRank : 0);
    gamePlayed_ = false;
}

void TDDFullScreenForm1::TickDone() {
    ++GameTicks;
    if (recordingOn_) {
        if (recording_.Ticks.size() >= kMaxReplayTicks) {
            // Longer than any replay is read: not kept, and no more memory for it.
            recordingOn_ = false;
            recording_.Ticks = {};
        } else {
            // The mouse as the tick's TrackMouse saw it: given back before the tick, the replay
            // makes the same TrackMouse see the same position.
            recording_.Ticks.push_back(TTickInput{MouseX, MouseY, std::move(input_)});
        }
    }
    input_.clear();
}

TDDFullScreenForm1::~TDDFullScreenForm1() { Destroy(); }

// The level's objects own bobs in the sprite list: they go before the display is released, also
// when the screen is torn down without passing glsExit.
void TDDFullScreenForm1::Freeddraw() {
    FreeManagers();
    TDDFullScreenForm::Freeddraw();
}

void TDDFullScreenForm1::FormCreate() {
    Clicked = false;
    PendingShots = 0;
    DD.TransparencyOn = EnvData.Transparency;
    SoundSwitch1 = EnvData.SoundOn;
    SoundSwitch2 = EnvData.SoundMode == 2;
    if (EnvData.BottomBar) DD.HintStripHeight = 12;
}

void TDDFullScreenForm1::InitDDraw() {
    WriteLog("InitDDraw");
    try {
        TDDFullScreenForm::InitDDraw();
        PendingShots = 0;
        WriteLog("1");
        auto lines = SpriteScript();
        WriteLog("Lines: " + std::to_string(lines.size()));
        LoadSprites(lines);
        WriteLog("2");
        DSound->LoadDir(ProgramDir() + "\\snd");
        WriteLog("2a");
        DSound->SetVolumeAll(VolumeFromLevel(EnvData.EffectsVolume));
        WriteLog("2b");
        const int32_t music = VolumeFromLevel(EnvData.MusicVolume);
        SetMusicVolume("back", music);
        WriteLog("2c");
        SetMusicVolume("Track 30", music);
        WriteLog("2d");
        SetMusicVolume("Tr_36_03", music);
        GlsProc = &TDDFullScreenForm1::glsInit;
        WriteLog("3");
        SetFlipping(true);
        WriteLog("4");
    } catch (const std::exception& e) {
        // Not only the program's own errors: running out of memory (a sheet, a sound) is a
        // failure of the set-up like any other, and ends the screen the same way.
        ErrorFlag = true;
        LogQuietly(std::string("Error initiating DirectX: ") + e.what());
        PostClose();
        Closing = true;
    }
}

void TDDFullScreenForm1::Threadnotify(int32_t ticks) {
    TDDFullScreenForm::Threadnotify(ticks);
    RunFrame(ticks, [this] {
        const TStateProc proc = GlsProc;
        if (proc != nullptr) (this->*proc)();
    });
}

// ---- level ----

void TDDFullScreenForm1::InitLevel() {
    WriteLog("InitLevel: Start");
    Closing = false;
    ResultLost = false;
    ResultWon = false;
    GamePlaying = false;
    WriteLog("1");
    auto& swarm = Publish(spermien_, Spermien);
    if (!swarm.HasSwimmers())
        throw Exception("The level file \"" + ResolvePath(LevelFileName()) +
                        "\" holds nothing to play");
    for (int i = 0; i < 50; ++i) swarm.AddSperm();
    WriteLog("2");
    Publish(rohre_, Rohre).AddCannon();
    WriteLog("3");
    auto& bubbles = Publish(bubbles_, Bubbles);
    for (int i = 0; i < 300; ++i) bubbles.AddBubble();
    WriteLog("4");
    auto& indicators = Publish(bubblpoints_, Bubblpoints);
    for (int i = 0; i < 100; ++i) indicators.AddIndicator();
    WriteLog("5");
    auto& shots = Publish(schuesse_, Schuesse);
    for (int i = 0; i < 100; ++i) shots.AddShot();
    WriteLog("6");
    Publish(anzeige_, Anzeige);
    WriteLog("7");
    Publish(front_, Front);
    WriteLog("Initlevel: End");
}

void TDDFullScreenForm1::CloseLevel() {
    WriteLog("CloseLevel: Start");
    GamePlaying = false;
    ObjectsLive = false;
    FreeManagers();
    WriteLog("CloseLevel: End");
}

void TDDFullScreenForm1::FreeManagers() {
    Unpublish(front_, Front);
    Unpublish(anzeige_, Anzeige);
    Unpublish(spermien_, Spermien);
    Unpublish(rohre_, Rohre);
    Unpublish(schuesse_, Schuesse);
    Unpublish(bubbles_, Bubbles);
    Unpublish(bubblpoints_, Bubblpoints);
}

void TDDFullScreenForm1::ClickAction() {
    if (GamePlaying) {
        ++PendingShots;
        if (HelpShown) {
            HelpShown = false;
            Anzeige->ClearHelp();
        }
    } else {
        Clicked = true;
    }
}

// ---- states ----

void TDDFullScreenForm1::glsInit() {
    WriteLog("glsInit: Start");
    if (Closing) {
        WriteLog("glsInit: Close");
        GlsProc = &TDDFullScreenForm1::glsEnd;
        return;
    }
    BeginRecording();
    InitLevel();
    SetBackImage(GfxPath("Back"));
    DrawHintStrip("ESC->zurück zum Menü");
    Clicked = false;
    GlsProc = &TDDFullScreenForm1::glsBegin;
    const std::string caveedit = ReadProgCfgDefault("caveedit", "0");
    if (StrToInt(caveedit) & 0xFF) {
        WriteLog("glsInit: Caveedit on");
        GlsProc = &TDDFullScreenForm1::glsCaveEdit;
        Anzeige->Title->SetVisible(false);
    } else {
        Front->HideAll();
    }
    if (EnvData.MusicOn) {
        WriteLog("glsInit: Music on");
        PlayMusic("Track 30");
    }
    ObjectsLive = true;
    BackScroll = 0;
    LogSystemInfo();
    WriteLog("glsInit: End");
}

void TDDFullScreenForm1::glsBegin() {
    if (Closing) {
        WriteLog("glsBegin: Close");
        GlsProc = &TDDFullScreenForm1::glsExit;
        return;
    }
    auto step = [](int n, auto&& f) {
        try {
            f();
        } catch (...) {
            WriteLog("glsbegin: step(" + std::to_string(n) + ") ;");
            throw;
        }
    };
    step(-1, [] { Anzeige->Step(); });
    step(1, [] { Spermien->Step(); });
    step(2, [] { Bubbles->Step(); });
    if (!Clicked) return;
    GameStartTick = GameTicks;
    gamePlayed_ = true;
    WriteLog("glsBegin: Return");
    Anzeige->StartPlay();
    Spermien->StartPlay();
    HelpShown = true;
    if (EnvData.MusicOn) StopMusic("Track 30");
    PlayFromStart("coming", false);
    TickCounter = rules::kRunInTicks;
    GamePlaying = true;
    Rohre->Show();
    GlsProc = &TDDFullScreenForm1::glsBegin2;
    ++EnvData.GamesStarted;
    Front->ShowAll();
    Front->ScrollPos = -2500;
}

void TDDFullScreenForm1::glsBegin2() {
    if (Closing) {
        WriteLog("glsBegin2: Close");
        GlsProc = &TDDFullScreenForm1::glsExit;
        return;
    }
    TrackMouse();
    Rohre->Step();
    Schuesse->Step();
    Front->Step();
    if (--TickCounter == 0) {
        WriteLog("glsBegin2: Return");
        GlsProc = &TDDFullScreenForm1::glsLoop;
        if (EnvData.MusicOn) PlayMusic("back");
    }
}

void TDDFullScreenForm1::glsLoop() {
    if (Closing) {
        WriteLog("glsLoop: Close");
        if (ResultWon) ++EnvData.GamesWon;
        BackScroll = 0;
        GlsProc = &TDDFullScreenForm1::glsExit;
    } else if (ResultLost && Clicked) {
        WriteLog("glsLoop: Lost");
        BackScroll = 0;
        StopMusic("back");
        GlsProc = &TDDFullScreenForm1::glsExit;
    } else if (ResultWon && Clicked) {
        WriteLog("glsLoop: Won");
        ++EnvData.GamesWon;
        BackScroll = 0;
        StopMusic("back");
        GlsProc = &TDDFullScreenForm1::glsExit;
    } else {
        TrackMouse();
        Spermien->Step();
        Rohre->Step();
        Schuesse->Step();
        Anzeige->Step();
        Bubbles->Step();
        Bubblpoints->Step();
        Front->Step();
        if (Front->ScrollPos > -22500) {
            Front->ScrollPos = std::max(Front->ScrollPos - 5, -22500);
            BackScroll = BackScroll == 799 ? 0 : BackScroll + 1;
        }
    }
}

void TDDFullScreenForm1::glsCaveEdit() {
    if (Closing) {
        // A cave that cannot be saved is logged once; the editor still leaves.
        try {
            Front->Save();
        } catch (const Exception& e) {
            RecordFailure("Exception raised in glsCaveEdit while Front.Save: " + e.Message());
        }
        BackScroll = 0;
        GlsProc = &TDDFullScreenForm1::glsExit;
        return;
    }
    TrackMouse();
    int32_t d = MouseX < 50 ? MouseX - 50 : MouseX > 750 ? MouseX - 750 : 0;
    const int32_t p = Front->ScrollPos;
    if (p + d > 0) d = -p;
    if (p + d < -22500) d = -22500 - p;
    Front->ScrollPos = p + d;
    Front->MoveWithScroll(d);
    BackScroll -= d;
    while (BackScroll < 0) BackScroll += 800;
    BackScroll %= 800;
    Front->Step();
    if (Clicked) {
        Clicked = false;
        Front->SelectOrPlace(MouseX, MouseY, 1);
    }
}

void TDDFullScreenForm1::glsExit() {
    WriteLog("glsExit: Start");
    EndRecording();
    // A failed save must not keep the screen in glsExit: it is logged once and the screen
    // leaves through the info picture, as after any failure.
    try {
        SaveGameData("KVD\\game.dat");
    } catch (const Exception& e) {
        RecordFailure("Exception raised in glsExit while SaveGameData: " + e.Message());
    }
    CloseLevel();
    if (Closing) {
        WriteLog("glsExit: Close1");
        SetBackImage(GfxPath("Info"));
        WriteLog("glsExit: Close2");
        BackImageToSecondarySurface();
        WriteLog("glsExit: Close3");
        Flip(platform::DDFLIP_WAIT);
        WriteLog("glsExit: Close4");
        GlsProc = &TDDFullScreenForm1::glsInfo;
        Clicked = false;
        EscapePressed = false;
        TickCounter = 9000;
    } else {
        WriteLog("glsExit: Play again");
        GlsProc = &TDDFullScreenForm1::glsInit;
    }
    WriteLog("glsExit: End");
}

void TDDFullScreenForm1::glsInfo() {
    if (--TickCounter == 0 || Clicked || EscapePressed || EndRequested) {
        WriteLog("glsInfo: End");
        GlsProc = &TDDFullScreenForm1::glsEnd;
    }
}

void TDDFullScreenForm1::glsEnd() {
    WriteLog("glsEnd: Start");
    Back();
    GlsProc = &TDDFullScreenForm1::glsIdle;
    WriteLog("glsEnd: End");
}

// ---- input ----

void TDDFullScreenForm1::HandleInput(const SDL_Event& e) {
    for (const auto& m : TranslateInput(e)) HandleMessage(m);
}

// A failing handler is a failure of the screen, as in a frame: logged, ERROR at the end and an
// orderly wind-down, never an exception out of the event loop.
void TDDFullScreenForm1::HandleMessage(const TInputMessage& m) {
    input_.push_back(m);
    try {
        DispatchMessage(m);
    } catch (const Exception& e) {
        static constexpr const char* handler[] = {"FormKeyDown", "FormKeyPress", "FormMouseDown",
                                                  "FormMouseUp", "FormMouseWheel"};
        RecordFailure(std::string("Exception raised in ") + handler[static_cast<int>(m.kind)] +
                      ": " + e.Message());
        platform::Beep();
    }
}

void TDDFullScreenForm1::DispatchMessage(const TInputMessage& m) {
    switch (m.kind) {
        case TInputMessage::KeyDown: FormKeyDown(m.code, m.ctrl); break;
        case TInputMessage::Char: FormKeyPress(static_cast<uint8_t>(m.code)); break;
        case TInputMessage::MouseDown:
            if (m.code == SDL_BUTTON_LEFT) ClickAction();
            break;
        case TInputMessage::MouseUp:
            if (ObjectsLive) Front->Release();
            break;
        case TInputMessage::Wheel:
            if (ObjectsLive) Front->ChangeType(m.code < 0 ? -1 : 1);
            break;
    }
}

void TDDFullScreenForm1::FormKeyDown(int32_t key, bool ctrl) {
    if (key == VK_ESCAPE) {
        WriteLog("Formkeydown: Escape");
        Closing = true;
        EscapePressed = true;
    } else if (key == 'P' && ctrl) {
        SaveScreenshot();
    } else if (key == 'P') {
        if (!ObjectsLive || Anzeige->AnyEntryEditing()) return;
        // Timed in the game's ticks, which run on while it is paused: a replay unpauses at
        // the same tick.
        if (!Paused) {
            Paused = true;
            PauseTick = GameTicks;
            Anzeige->ScoreDisplay->Points -= rules::kPauseCost;
        } else if ((GameTicks - PauseTick) * rules::kTickMs > 200) {
            Paused = false;
        }
    } else if (key == VK_DELETE) {
        if (ObjectsLive) Front->DeleteSelected();
    } else if (key == VK_UP || key == VK_DOWN) {
        if (ObjectsLive) Front->Nudge(key == VK_UP ? 1 : -1);
    }
}

void TDDFullScreenForm1::FormKeyPress(uint8_t ch) {
    if (ObjectsLive && Anzeige->AnyEntryEditing()) {
        Anzeige->EntryKey(ch);
        return;
    }
    if (ch == VK_RETURN) {
        ClickAction();
    } else if (std::toupper(ch) == 'T' && GamePlaying) {
        if (Anzeige->TorpedoArmed)
            Anzeige->DisarmTorpedo();
        else
            Anzeige->ArmTorpedo();
    }
}

}  // namespace zx
