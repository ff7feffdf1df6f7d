#pragma once
// The HUD: every screen object that is not part of the action (clock, score, game-over sign,
// help box, title screen, congratulation letters, torpedo icons, highscore rows) and the rules
// that end a game: the clock and its bonus, the end sequence, the name entry and the score code.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "rules/Rules.h"
#include "sprites/BobUnit.h"

namespace zx {

class TqvDSoundFile;

// Where the HUD's sounds go: the program-wide sound manager (DSound), while there is one. A
// test puts its own in TAnzeige::Sounds to hear which sounds the HUD asks for.
class THudSounds {
public:
    virtual ~THudSounds() = default;
    virtual void Play(const char* name);
    // The music ("Back") ends at the end of its loop.
    virtual void StopBack();
};

// The key colour the HUD's text surfaces are filled with before drawing (0xRRGGBB); it is then
// turned into the sheets' transparent black.
inline constexpr uint32_t kHudKeyColour = 0xD493C9;

class TScoretime : public TRBob {
public:
    TScoretime();
    // Small digits under "time" while more than 10 seconds remain, the big centred digits
    // from 10 on. Draws nothing while the display is hidden.
    void Redraw();

    int32_t TimeLeft = rules::kGameSeconds;

private:
    int leerzeit_ = 0, zahlen_ = 0, bigtimefeld_ = 0, bignumbers_ = 0;
};

class TScorepoints : public TRBob {
public:
    TScorepoints();
    void Redraw();

    int32_t Points = 0;

private:
    int leerpoints_ = 0, zahlen_ = 0;
};

class TScoreGameover : public TRBob {
public:
    TScoreGameover();
    int32_t Counter = 0;
};

class Thelpfeld : public TRBob {
public:
    static constexpr int MaxQueued = 20;

    Thelpfeld();
    // A message arriving while 20 wait is dropped.
    void Queue(std::string_view text);
    void ClearQueue();
    int QueuedCount() const { return count_; }
    // Fills the box with the message and shows it transparent; the fade brings it in.
    void DrawMessage(const std::string& text);

    int32_t Delay = 0;
    int32_t FadeCounter = 0;

private:
    friend class TAnzeige;
    std::array<std::string, MaxQueued> queue_;
    int head_ = 0, count_ = 0;
    int sprite_ = 0;
};

class Tcongrat : public TRBob {
public:
    Tcongrat();
};

class Tpressbutton : public TRBob {
public:
    Tpressbutton();
};

class TScoreTorpedo : public TRBob {
public:
    explicit TScoreTorpedo(int i);
};

class Ttitle : public TRBob {
public:
    Ttitle();
    int32_t TitleStep = 0;
    int32_t Counter = 0;
};

class THSEntry : public TRBob {
public:
    explicit THSEntry(int n);
    // Rank, name and score of its place in the highscore list.
    void Redraw();

    int32_t Rank;
    bool Editing = false;
    int32_t Cursor = 1;
    int32_t Blink = 0;

private:
    int sprite_ = 0;
};

class TAnzeige {
public:
    TAnzeige();
    ~TAnzeige();
    TAnzeige(const TAnzeige&) = delete;
    TAnzeige& operator=(const TAnzeige&) = delete;

    // Every frame of the title and the play states.
    void Step();
    void StartPlay();
    void ArmTorpedo();
    void DisarmTorpedo();
    void UseTorpedo();
    bool AnyEntryEditing() const;
    // A typed character (Windows-1252; 8 Backspace, 13 Enter, 27 Escape) for the name entry.
    void EntryKey(uint8_t ch);
    void ClearHelp();
    // Books a score change and redraws the score display.
    void AddPoints(int32_t value);

    int32_t ClockFrames = 0;
    int32_t TorpedoesLeft = rules::kTorpedoesPerGame;
    bool TorpedoArmed = false;
    int32_t NewRank = 0;
    bool Won = false, Lost = false;
    int32_t EndCounter = 0;

    std::unique_ptr<TScoretime> TimeDisplay;
    std::unique_ptr<TScorepoints> ScoreDisplay;
    std::unique_ptr<TScoreGameover> Gameover;
    std::unique_ptr<Ttitle> Title;
    std::unique_ptr<Tpressbutton> PressButton;
    std::unique_ptr<Thelpfeld> Help;
    std::array<std::unique_ptr<Tcongrat>, 17> Congrat;           // 1..16
    std::array<std::unique_ptr<TScoreTorpedo>, 11> TorpedoIcon;  // 1..10
    std::array<std::unique_ptr<THSEntry>, 11> Entry;             // 1..10
    std::unique_ptr<THudSounds> Sounds = std::make_unique<THudSounds>();

private:
    void HelpUpdate();
    void GameoverUpdate();
    void TitleUpdate();
    void EntryBlink(THSEntry& e);
    void ClockUpdate();
    void EndSequence();
    void EndFirstFrame();
    void EndStage(int s);
    void EndGame();
    void ShowIcons();
    void Sound(const char* name);
    void StopBack();

    bool ended_ = false;  // the game screen has been told; once per game
};

}  // namespace zx
