#include "game/scoreunit.h"

#include <algorithm>
#include <string_view>

#include "display/TextUnit.h"
#include "display/frmDDFullScreen.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "game/scorecode.h"
#include "platform/Errors.h"
#include "platform/Ticks.h"
#include "sprites/SpriteDefs.h"
#include "sprites/qvDSound.h"
#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Random.h"

#include "game/RohrUnit.h"
#include "game/SchussUnit.h"
#include "game/SpermUnit.h"

namespace zx {

namespace {

constexpr float kD = 800.0f;
constexpr uint32_t kWhite = 0x00FFFFFF;  // colour references 0x00BBGGRR
constexpr uint32_t kYellow = 0x0000FFFF;
constexpr int kFontSize = 24;

DirectDrawSurface* SheetOf(int sprite) {
    const int f = FirstFrame(sprite);
    if (f < 1 || f > FrameCount)
        throw Exception("HUD: sprite " + std::to_string(sprite) + " has no frame");
    return Surfaces[static_cast<size_t>(Frames[static_cast<size_t>(f)].SurfaceNo)].Surface.get();
}

void PlaceAt(TRBob& b, float x, float y, float z) { b.SetX(x), b.SetY(y), b.SetZ(z); }

void SpringTo(TRBob& b, float x, float y, float z) { b.TargetX = x, b.TargetY = y, b.TargetZ = z; }

// Start position, spring target there, the HUD's spring constants, all parts shown or not.
void Setup(TRBob& b, float x, float y, float z, bool visible) {
    PlaceAt(b, x, y, z);
    SpringTo(b, x, y, z);
    b.SpringDiv = 200.0f;
    b.Damping = 1.1f;
    b.SetVisible(visible);
}

TBob& Part(TRBob& b, int i) { return *b.Parts[static_cast<size_t>(i)].Bob; }

float EntryRowY(int n) { return 33.0f * static_cast<float>(n) - 143.0f; }

// The managers may be absent (the HUD alone in a test): what is not there is skipped.
void StopSwarm(TSpermien* s) {
    if (!s) return;
    s->StopAll();
    s->Attract = true;
}

TScoreStats StatsOf(TSpermien* s, int32_t seconds) {
    TScoreStats st;
    st.Seconds = seconds;
    if (!s) return st;
    s->Seconds = seconds;
    st.CondomShots = static_cast<int32_t>(s->CondomShots);
    st.Torpedoes = static_cast<int32_t>(s->Torpedoes);
    for (int k = 1; k <= 6; ++k) {
        st.Spawned[static_cast<size_t>(k)] = static_cast<int32_t>(s->Spawned[k]);
        st.CaughtEarly[static_cast<size_t>(k)] = static_cast<int32_t>(s->CaughtEarly[k]);
        st.Caught[static_cast<size_t>(k)] = static_cast<int32_t>(s->Caught[k]);
        st.EscapedCount[static_cast<size_t>(k)] = static_cast<int32_t>(s->EscapedCount[k]);
    }
    return st;
}

}  // namespace

// ---- display objects ----

TScoretime::TScoretime() {
    AddPartByName("time", 0, 0, 0, 0);
    AddPartByName("LeerZeit", 0, 0, 900, 0);
    AddPartByName("bigtimefeld", 0, 6000, 5500, 0);
    for (int i = 1; i <= 3; ++i) Part(*this, i).ScreenSpace = true;
    Part(*this, 1).Layer = 1;
    Part(*this, 2).Layer = 1;
    leerzeit_ = FindSprite("leerzeit");
    zahlen_ = FindSprite("zahlen");
    bigtimefeld_ = FindSprite("bigtimefeld");
    bignumbers_ = FindSprite("bignumbers");
    Setup(*this, -6000, -5500, -20 * kD, false);
}

void TScoretime::Redraw() {
    if (!Visible) return;
    const bool big = TimeLeft <= 10;
    Part(*this, 1).Visible = !big;
    Part(*this, 2).Visible = !big;
    Part(*this, 3).Visible = big;
    if (big)
        Paintnumbertosurface(TimeLeft, 0, bigtimefeld_, bignumbers_, 2);
    else
        Paintnumbertosurface(TimeLeft, 0, leerzeit_, zahlen_, 2);
}

TScorepoints::TScorepoints() {
    AddPartByName("score", 0, 0, 0, 0);
    AddPartByName("LeerPoints", 0, 0, 900, 0);
    for (int i = 1; i <= 2; ++i) {
        Part(*this, i).ScreenSpace = true;
        Part(*this, i).Layer = 1;
    }
    leerpoints_ = FindSprite("leerPoints");
    zahlen_ = FindSprite("zahlen");
    Setup(*this, 5000, -5500, -20 * kD, false);
}

void TScorepoints::Redraw() { Paintnumbertosurface(Points, 0, leerpoints_, zahlen_, 2); }

TScoreGameover::TScoreGameover() {
    AddPartByName("Gameover", 0, 0, 0, 0);
    Setup(*this, 0, 0, 0, false);
    SpringTo(*this, 0, 0, -kD - 20);
}

Thelpfeld::Thelpfeld() {
    AddPartByName("helpfeld", 0, 0, 0, 0);
    Part(*this, 1).Layer = 1;
    sprite_ = FindSprite("helpfeld");
    // Messages are short: their room is taken once, so queueing allocates nothing in play.
    for (std::string& s : queue_) s.reserve(64);
    Setup(*this, 0, 220, -kD, false);
}

void Thelpfeld::Queue(std::string_view text) {
    if (count_ >= MaxQueued) return;
    queue_[static_cast<size_t>((head_ + count_) % MaxQueued)].assign(text);
    ++count_;
}

void Thelpfeld::ClearQueue() { head_ = count_ = 0; }

void Thelpfeld::DrawMessage(const std::string& text) {
    DirectDrawSurface* s = SheetOf(sprite_);
    ColorFill(s, 0, 0, 700, 50, kHudKeyColour);
    PrintText(350, 0, text, 2, 0, kWhite, 1, TextFontName, kFontSize, fsBold, s);
    ReplaceColour(s, kHudKeyColour, 0);
    SetVisible(true);
    Part(*this, 1).Alpha = 0;
}

Tcongrat::Tcongrat() {
    AddPartByName("Congratulations", 0, 0, 0, 0);
    Setup(*this, 0, 0, -kD / 10, false);
}

Tpressbutton::Tpressbutton() {
    AddPartByName("buttontostart", 0, 0, 0, 0);
    Part(*this, 1).ScreenSpace = true;
    Setup(*this, 0, 0, -2 * kD, false);
}

TScoreTorpedo::TScoreTorpedo(int i) {
    AddPartByName("torpedoscore", 0, 0, 0, 0);
    Setup(*this, 15.0f * static_cast<float>(i) - 75, -275, -kD, false);
}

Ttitle::Ttitle() {
    AddPartByName("playandwin", 0, 0, -2460, 0);
    AddPartByName("zolvex", 0, 0, -1860, 0);
    AddPartByName("titlevantor", 0, -2690, 2720, 0);
    AddPartByName("qvchlogo", 0, 2520, 2640, 0);
    AddPartByName("orbelu", 0, -2930, -2580, 0);
    for (int i = 1; i <= 5; ++i) Part(*this, i).ScreenSpace = true;
    Setup(*this, 0, 0, -10 * kD, true);
}

THSEntry::THSEntry(int n) : Rank(n) {
    const std::string name = "hsleerfeld" + std::to_string(n);
    AddPartByName(name.c_str(), 0, 0, 0, 0);
    Part(*this, 1).Layer = 1;
    sprite_ = FindSprite(name);
    Setup(*this, 0, 0, -kD / 10, false);
    Redraw();
}

void THSEntry::Redraw() {
    DirectDrawSurface* s = SheetOf(sprite_);
    const THighscore& h = HighscoreAt(Rank);
    const uint32_t colour = Editing ? kYellow : kWhite;
    ColorFill(s, 0, 0, 350, 50, kHudKeyColour);
    PrintText(45, 0, std::to_string(Rank), 1, 0, colour, 1, TextFontName, kFontSize, fsBold, s);
    // The name may take the row less the room of the rank and the score.
    Printtosurface(55, 0, 0, 100, 0, 0, h.Name, 0, 0, colour, 1, TextFontName, kFontSize, fsBold,
                   s);
    if (h.Score >= -99999)
        PrintText(350, 0, ZeroPadInt(h.Score, 4), 1, 0, colour, 1, TextFontName, kFontSize, fsBold,
                  s);
    ReplaceColour(s, kHudKeyColour, 0);
}

// ---- TAnzeige ----

TAnzeige::TAnzeige() {
    TimeDisplay = std::make_unique<TScoretime>();
    ScoreDisplay = std::make_unique<TScorepoints>();
    Gameover = std::make_unique<TScoreGameover>();
    Title = std::make_unique<Ttitle>();
    PressButton = std::make_unique<Tpressbutton>();
    Help = std::make_unique<Thelpfeld>();
    for (int i = 1; i <= 16; ++i) Congrat[static_cast<size_t>(i)] = std::make_unique<Tcongrat>();
    for (int i = 1; i <= 10; ++i)
        TorpedoIcon[static_cast<size_t>(i)] = std::make_unique<TScoreTorpedo>(i);
    for (int n = 1; n <= 10; ++n) Entry[static_cast<size_t>(n)] = std::make_unique<THSEntry>(n);
}

TAnzeige::~TAnzeige() = default;

void THudSounds::Play(const char* name) {
    if (!DSound) return;
    // The new-highscore fanfare is music, converted from an MP3 like the background: without it
    // the name entry goes on in silence.
    const bool music = std::string_view(name) == "TR_36_03";
    if (TqvDSoundFile* f = music ? DSound->FindOptionalWave(name) : DSound->FindWave(name))
        f->Play();
}

void THudSounds::StopBack() {
    // The music may be missing (not converted, damaged, a folder that cannot be written): the
    // game then plays and ends without it.
    if (TqvDSoundFile* f = DSound ? DSound->FindOptionalWave("Back") : nullptr) {
        f->Loop = false;
        f->Stop();
    }
}

void TAnzeige::Sound(const char* name) { Sounds->Play(name); }

void TAnzeige::StopBack() { Sounds->StopBack(); }

void TAnzeige::AddPoints(int32_t value) {
    ScoreDisplay->Points += value;
    ScoreDisplay->Redraw();
}

void TAnzeige::StartPlay() {
    ClearHelp();
    Help->Delay = 100;
    Help->Queue("Left click on your mouse to shoot");
    Help->Queue("Slide the condom canon up and down with your mouse");
    TimeDisplay->SetVisible(true);
    TimeDisplay->Redraw();
    ScoreDisplay->SetVisible(true);
    ScoreDisplay->Redraw();
    Title->SetVisible(false);
    PressButton->SetVisible(false);
    for (int n = 1; n <= 10; ++n) Entry[static_cast<size_t>(n)]->SetVisible(false);
}

void TAnzeige::ShowIcons() {
    for (int i = 1; i <= 10; ++i)
        TorpedoIcon[static_cast<size_t>(i)]->SetVisible(i <= TorpedoesLeft);
}

void TAnzeige::ArmTorpedo() {
    if (TorpedoesLeft <= 0) {
        Sound("TR_50_08");
        return;
    }
    TorpedoArmed = true;
    ShowIcons();
    Sound("TR_50_07");
}

void TAnzeige::DisarmTorpedo() {
    TorpedoArmed = false;
    for (int i = 1; i <= 10; ++i) TorpedoIcon[static_cast<size_t>(i)]->SetVisible(false);
    Sound("TR_50_08");
}

void TAnzeige::UseTorpedo() {
    if (TorpedoesLeft <= 0) return;  // never below none
    if (TorpedoesLeft == 1) TorpedoArmed = false;
    --TorpedoesLeft;
    ShowIcons();
}

bool TAnzeige::AnyEntryEditing() const {
    for (int n = 1; n <= 10; ++n)
        if (Entry[static_cast<size_t>(n)]->Editing) return true;
    return false;
}

void TAnzeige::ClearHelp() {
    Help->ClearQueue();
    Help->SetVisible(false);
    Help->Delay = 0;
    // A box cut off mid-fade must not hand its fade to the next message.
    Help->FadeCounter = 0;
}

void TAnzeige::Step() {
    int stage = -1;
    try {
        HelpUpdate();
        stage = 1;
        GameoverUpdate();
        stage = 2;
        TitleUpdate();
        stage = 3;
        if (PressButton->Visible) {
            PressButton->ApplySpring();
            stage = 4;
            PressButton->MoveStep();
            stage = 5;
        }
        for (int s = 1; s <= 16; ++s) {
            Tcongrat& c = *Congrat[static_cast<size_t>(s)];
            if (!c.Visible) continue;
            c.ApplySpring();
            stage = 6;
            c.MoveStep();
        }
        stage = 7;
        for (int n = 1; n <= 10; ++n) {
            THSEntry& e = *Entry[static_cast<size_t>(n)];
            if (!e.Visible) continue;
            e.ApplySpring();
            stage = 8;
            e.MoveStep();
            stage = 9;
            if (e.Editing) EntryBlink(e);
        }
        ClockUpdate();
        if (Won || (Lost && Gameover->Counter > rules::kLostEndTicks)) EndSequence();
    } catch (...) {
        WriteLog("anzeige.animate: step(" + std::to_string(stage) + ") ;");
        throw;
    }
}

void TAnzeige::HelpUpdate() {
    Thelpfeld& h = *Help;
    if (h.Delay > 0) {
        --h.Delay;
    } else if (h.Visible) {
        const int f = ++h.FadeCounter;
        TBob& b = Part(h, 1);
        if (f >= 1 && f <= 85)
            b.Alpha = static_cast<uint8_t>(3 * f);
        else if (f >= 86 && f <= 300)
            b.Alpha = 255;
        else if (f >= 301 && f <= 386)
            b.Alpha = static_cast<uint8_t>(255 - 3 * (f - 301));
        if (f >= 500) {
            h.SetVisible(false);
            h.FadeCounter = 0;
        }
    } else if (h.count_ > 0) {
        const std::string& text = h.queue_[static_cast<size_t>(h.head_)];
        h.DrawMessage(text);
        h.head_ = (h.head_ + 1) % Thelpfeld::MaxQueued;
        --h.count_;
    }
}

void TAnzeige::GameoverUpdate() {
    TScoreGameover& g = *Gameover;
    if (g.Visible) {
        g.ApplySpring();
        g.MoveStep();
    }
    if (!Lost) return;
    ++g.Counter;
    if (g.Counter == 1) {
        // From the viewer's eye into the picture.
        g.VelX = g.VelY = g.VelZ = 0;
        PlaceAt(g, 0, 0, 0);
        g.SetVisible(true);
        StopBack();
        Sound("TR_66_02");
    } else if (g.Counter == 50) {
        ClearHelp();
        Help->Queue("Protect well, better, best");
    }
}

void TAnzeige::TitleUpdate() {
    Ttitle& t = *Title;
    if (!t.Visible) return;
    Tpressbutton& pb = *PressButton;
    const float pw = Part(pb, 1).Width;
    switch (t.TitleStep) {
        case 0:
            PlaceAt(pb, 2 * (-400 - pw / 2), 0, -2 * kD);
            SpringTo(pb, 0, 0, -2 * kD);
            pb.VelX = pb.VelY = pb.VelZ = 0;
            pb.SetVisible(true);
            t.Counter = 150;
            t.TitleStep = 1;
            break;
        case 1:
        case 3:
        case 5:
        case 7:
            if (--t.Counter > 0) break;
            if (t.TitleStep == 3) {
                for (int n = 1; n <= 10; ++n) {
                    THSEntry& e = *Entry[static_cast<size_t>(n)];
                    e.Redraw();
                    const float w = Part(e, 1).Width;
                    PlaceAt(e, -400 - w / 2, EntryRowY(n), -kD);
                    SpringTo(e, 0, EntryRowY(n), -kD);
                    e.VelX = e.VelY = e.VelZ = 0;
                    e.SetVisible(false);
                }
            } else if (t.TitleStep == 7) {
                for (int n = 1; n <= 10; ++n) Entry[static_cast<size_t>(n)]->SetVisible(false);
            }
            t.Counter = 0;
            t.TitleStep = (t.TitleStep + 1) % 8;
            break;
        case 2:
            pb.TargetX = 2 * (pw / 2 + 1400);
            t.Counter = 50;
            t.TitleStep = 3;
            break;
        case 4:
        case 6:
            ++t.Counter;
            if (t.Counter % 6 == 0) {
                const int n = t.Counter / 6;
                THSEntry& e = *Entry[static_cast<size_t>(n)];
                if (t.TitleStep == 4)
                    e.SetVisible(true);
                else
                    e.TargetX = Part(e, 1).Width / 2 + 1400;
                if (n == 10) {
                    t.Counter = t.TitleStep == 4 ? 250 : 50;
                    t.TitleStep += 1;
                }
            }
            break;
        default: t.TitleStep = 0; break;
    }
}

void TAnzeige::EntryBlink(THSEntry& e) {
    std::string name = Utf8ToAnsi(HighscoreAt(e.Rank).Name);
    const size_t cursor = static_cast<size_t>(e.Cursor);
    const bool grown = name.size() < cursor && name.size() < kNameChars;
    if (grown) name.push_back(' ');
    if (++e.Blink >= 100) e.Blink = 0;
    if (e.Blink != 0 && e.Blink != 50) {
        if (grown) SetHighscoreName(e.Rank, AnsiToUtf8(name));
        return;
    }
    if (cursor >= 1 && cursor <= name.size()) name[cursor - 1] = e.Blink == 0 ? ' ' : '_';
    SetHighscoreName(e.Rank, AnsiToUtf8(name));
    CutNames();
    e.Redraw();
}

void TAnzeige::EntryKey(uint8_t ch) {
    THSEntry* ep = nullptr;
    for (int n = 1; n <= 10 && !ep; ++n)
        if (Entry[static_cast<size_t>(n)]->Editing) ep = Entry[static_cast<size_t>(n)].get();
    if (!ep) return;
    THSEntry& e = *ep;
    std::string name = Utf8ToAnsi(HighscoreAt(e.Rank).Name);
    bool finished = false;
    if (ch == 8) {
        if (e.Cursor > 1) {
            --e.Cursor;
            name.resize(static_cast<size_t>(e.Cursor), ' ');
            name.back() = '_';
        }
        Sound("TR_50_08");
    } else if (ch == 13 || ch == 27) {
        name = Trim(name);
        if (!name.empty() && name.back() == '_') name.pop_back();
        name = Trim(name);
        SetLastName(AnsiToUtf8(name));
        finished = true;
    } else if (ch < 32) {
        return;  // other control characters have no place in a name
    } else {
        const size_t cursor = static_cast<size_t>(e.Cursor);
        if (name.size() < cursor) name.resize(cursor, ' ');
        name[cursor - 1] = static_cast<char>(ch);
        name.push_back('_');
        ++e.Cursor;
        Sound("TR_50_07");
    }
    SetHighscoreName(e.Rank, AnsiToUtf8(name));
    CutNames();
    if (e.Cursor > 11) e.Cursor = 11;
    if (finished) e.Editing = false;
    e.Redraw();
    if (finished) {
        // The game ends before the save: a disk that refuses the file must not keep the
        // screen waiting for a name that has already been taken.
        EndGame();
        SaveEnv();
    }
}

void TAnzeige::ClockUpdate() {
    if (!GamePlaying || Lost) return;
    if (++ClockFrames < rules::kTicksPerSecond) return;
    ClockFrames = 0;
    TScoretime& t = *TimeDisplay;
    if (t.TimeLeft > 0) {
        --t.TimeLeft;
        if (t.TimeLeft <= 10) Sound("bigtime");
        if (t.TimeLeft == 0) {
            Won = true;
            AddPoints(rules::kWinBonus);
            ClearHelp();
            Help->Queue("Protect to prevail");
        }
    }
    t.Redraw();
}

void TAnzeige::EndFirstFrame() {
    TimeDisplay->SetVisible(false);
    Gameover->SetVisible(false);
    StopSwarm(Spermien);
    if (Rohre) Rohre->Hide();
    if (Schuesse) Schuesse->HideAll();
    NewRank = InsertScore(ScoreDisplay->Points);
    if (NewRank > 0) {
        SetHighscoreName(NewRank, EnvData.LastName);
        const int32_t seconds =
            static_cast<int32_t>((GameTicks - GameStartTick) / rules::kTicksPerSecond);
        SetScoreCode(NewRank, MakeScoreCode(StatsOf(Spermien, seconds)));
    }
    StopBack();
}

void TAnzeige::EndSequence() {
    if (ended_) return;
    if (EndCounter == 0) EndFirstFrame();
    ++EndCounter;
    int p;
    if (Won)
        p = EndCounter - 25;
    else if (NewRank > 0)
        p = EndCounter + 221;  // no banner: the table starts at once
    else {
        EndGame();
        return;
    }
    if (p > 0 && p % 6 == 0) EndStage(p / 6);
}

void TAnzeige::EndStage(int s) {
    if (s >= 1 && s <= 16) {
        Tcongrat& c = *Congrat[static_cast<size_t>(s)];
        Part(c, 1).RestartAnimation(s - 1);
        SpringTo(c, 40.0f * static_cast<float>(s - 1) - 300, 0, -kD + 101);
        c.SetVisible(true);
        if (s == 1) Sound("TR_06_03");
    } else if (s >= 21 && s <= 36) {
        Tcongrat& c = *Congrat[static_cast<size_t>(s - 20)];
        c.TargetY = -200;
        c.WobbleX = static_cast<float>((RandReal() - 0.5) * 0.1);
        c.WobbleY = static_cast<float>((RandReal() - 0.5) * 0.1);
        c.WobbleVelX = static_cast<float>((RandReal() - 0.5) * 0.01);
        c.WobbleVelY = static_cast<float>((RandReal() - 0.5) * 0.01);
        if (s == 36) ScoreDisplay->SetVisible(false);
    } else if (s >= 37 && s <= 46) {
        const int n = s - 36;
        THSEntry& e = *Entry[static_cast<size_t>(n)];
        if (n == NewRank) {
            e.Editing = true;
            // A remembered name may be longer than an entry takes.
            CutNames();
            e.Cursor = std::min<int32_t>(
                static_cast<int32_t>(Utf8ToAnsi(HighscoreAt(n).Name).size()) + 1, 11);
        }
        e.Redraw();
        PlaceAt(e, 0, 0, -kD / 10);
        SpringTo(e, 0, EntryRowY(n), -kD);
        e.VelX = e.VelY = e.VelZ = 0;
        e.SetVisible(true);
        Sound("bigtime");
        if (n == 1 && NewRank > 0) Sound("TR_36_03");
        if (n == 10 && NewRank == 0) EndGame();
    }
}

void TAnzeige::EndGame() {
    if (ended_) return;
    ended_ = true;
    GamePlaying = false;
    ResultWon = Won;
    ResultLost = !Won;
    if (GameScreen) Clicked = true;
}

}  // namespace zx
