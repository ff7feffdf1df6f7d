#include "game/SpermUnit.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "game/BubbleUnit.h"
#include "game/GameGlobals.h"
#include "game/LevelFile.h"
#include "rules/LevelLanguage.h"
#include "rules/Rules.h"
#include "sprites/SpriteDefs.h"
#include "sprites/qvDSound.h"
#include "support/LogFiles.h"
#include "support/Random.h"
#include "surface/DDUtils.h"

#include "game/RohrUnit.h"
#include "game/scoreunit.h"

namespace zx {

namespace {

// A kind of the rules, with how the game shows it.
TSpermKind KindOf(int k, const char* sprite, const char* escapeSound) {
    const rules::TKindRule& r = rules::kKindRules[static_cast<size_t>(k)];
    return {r.ScriptName.data(), sprite, 0, r.PointsCode, r.CatchPoints, r.Fatal, escapeSound};
}

}  // namespace

std::array<TSpermKind, 7> SpermKinds{{
    {"", "", 0, 0, 0, false, nullptr},
    KindOf(1, "sperm1", "spermdurch"),
    KindOf(2, "bubble", nullptr),
    KindOf(3, "sperm3", "spermdurch"),
    KindOf(4, "virus1", nullptr),
    KindOf(5, "virus2", nullptr),
    KindOf(6, "virus3", nullptr),
}};

int CatchPoints(int pointsCode) { return rules::CatchPointsOfCode(pointsCode); }

namespace {

constexpr double kDepth = 800.0;

// The lost state belongs to the HUD and the empty barrel to the cannon; the swarm also runs
// without them (title screen tests, the level check).
bool GameLost(const TAnzeige* hud) { return hud && hud->Lost; }

void LoseGame(TAnzeige* hud, TRohre* cannon) {
    if (hud) {
        hud->Lost = true;
        hud->Won = false;
        if (hud->Gameover) hud->Gameover->Counter = 0;
    }
    if (cannon) cannon->ShowEmpty();
}

void PlayPanned(const char* name, float x, float z) {
    if (!DSound) return;
    TqvDSoundFile* s = DSound->FindWave(name);
    s->SetPan(StereoPan(x, z));
    s->Play();
}

using rules::CellNumber;
using rules::IsBlankLine;
using rules::TOrder;
using rules::TrimLower;

bool UsesKindSprite(int sprite) {
    for (int k = 1; k <= 3; ++k)
        if (SpermKinds[static_cast<size_t>(k)].Sprite == sprite) return true;
    return false;
}

}  // namespace

// ---- TSperm ----

TSperm::TSperm() {
    AddPartByName("sperm1", 0, 0, 0, 0);
    AddPartByName("vantorlogo", 0, -82.0f - Parts[1].Bob->Width / 2, 0, 0);
    ThrustX = ThrustY = ThrustZ = 0;
    VelX = VelY = VelZ = 0;
    SetX(0);
    SetY(0);
    SetZ(static_cast<float>(-kDepth));
    TargetX = X, TargetY = Y, TargetZ = Z;
    SetVisible(false);
}

float TSperm::BodyWidth() const { return Parts[1].Bob->Width; }
float TSperm::BodyHeight() const { return Parts[1].Bob->Height; }

// ---- TSpermien ----

TSpermien::TSpermien() {
    for (int k = 1; k <= 6; ++k) {
        TSpermKind& kind = SpermKinds[static_cast<size_t>(k)];
        kind.Sprite = FindSprite(kind.SpriteName);
    }
    for (int i = 1; i <= 26; ++i) LetterMap[static_cast<size_t>(i)] = i;
    line_.reserve(256);
    LoadLevel(Lines);
}

void TSpermien::AddSperm() {
    if (!Sperm.Full()) Sperm.Add(std::make_unique<TSperm>());
}

void TSpermien::Step() {
    ScriptStep();
    for (auto& s : Sperm) {
        if (s->Visible) s->MoveStep();
        UpdateSperm(*s);
    }
}

void TSpermien::StartPlay() {
    StopAll();
    if (Bubbles) Bubbles->ClearAll();
    Attract = false;
    MainPointer = 0;
}

void TSpermien::StopAll() {
    FormationPointer = -1;
    MainPointer = -1;
    for (auto& s : Sperm) s->SetVisible(false);
}

int TSpermien::FindTarget(float y1, float y2, float x1, float x2) const {
    for (int i = 1; i <= Sperm.Count(); ++i) {
        const TSperm& s = *Sperm[i];
        if (!s.Visible || s.Hit) continue;
        const float front = s.X + s.BodyWidth() / 2;
        if (y1 < s.Y && s.Y < y2 && x1 < front && front < x2) return i;
    }
    return -1;
}

void TSpermien::MarkHit(int index) {
    if (index >= 1 && index <= Sperm.Count()) Sperm[index]->Hit = true;
}

void TSpermien::Bubbleize(int index) {
    if (index >= 1 && index <= Sperm.Count()) Bubbleize(Sperm[index].get());
}

void TSpermien::Bubbleize(TSperm* sperm) {
    if (!sperm) return;
    sperm->SetVisible(false);
    const int w = Nint(sperm->BodyWidth()), h = Nint(sperm->BodyHeight());
    for (int i = 1; i <= w; ++i)
        if (RandReal() < 0.1 && Bubbles)
            Bubbles->Spawn(5, sperm->Z, sperm->Y - static_cast<float>(h / 2 - RandInt(h)),
                           sperm->X - static_cast<float>(w / 2 - i));
}

// ---- the script ----

void TSpermien::ScriptStep() {
    if (FormationPointer != -1) {
        // A Speed of 0 or less reads one row per frame instead of stalling the formation.
        if (RowCountdown > 0) --RowCountdown;
        if (RowCountdown <= 0) ReadRow();
        return;
    }
    if (MainPointer == -1) return;
    const int count = static_cast<int>(Lines.size());
    while (MainPointer < count && IsBlankLine(Lines[static_cast<size_t>(MainPointer)]))
        ++MainPointer;
    if (MainPointer >= count) return;
    TrimLower(Lines[static_cast<size_t>(MainPointer)], line_);
    ++MainPointer;
    RunCommand(line_);
}

void TSpermien::RunCommand(std::string_view line) {
    const rules::TCommand command = rules::ReadCommand(line);
    const rules::TKeyword* key = command.Key;
    if (!key) return;
    const std::string_view value = command.Value, xvalue = command.XValue;
    try {
        switch (key->Kind) {
            case TOrder::Speed: Speed = StrToInt(std::string(value)); break;
            case TOrder::Bob: {
                const int kind = rules::KindOfScriptName(value);
                const int sprite = kind ? SpermKinds[static_cast<size_t>(kind)].Sprite : -1;
                const char letter = xvalue.empty() ? '\0' : xvalue[0];
                if (letter < 'a' || letter > 'z' || sprite == -1) {
                    WriteLog("bob" + std::string(xvalue) + "=" + std::string(value) + " ignoriert");
                    break;
                }
                LetterMap[static_cast<size_t>(letter - 'a' + 1)] = sprite;
                break;
            }
            case TOrder::MiddlePosition: MiddlePosition = ParseFloat(value); break;
            case TOrder::Gap: Gap = ParseFloat(value); break;
            case TOrder::BobSpeed: BobSpeed = ParseFloat(value); break;
            case TOrder::BobSpeedStep: BobSpeedStep = ParseFloat(value); break;
            case TOrder::Formation: StartFormation(StrToInt(std::string(value))); break;
            case TOrder::End: MainPointer = -1; break;
            case TOrder::BobProbability: BobProbability = ParseFloat(value); break;
            case TOrder::BobFreePos: BobFreePos = value == "1"; break;
            case TOrder::BobFuzzyTime: BobFuzzyTime = StrToInt(std::string(value)); break;
        }
    } catch (const Exception& e) {
        throw Exception(e.Message() + "\r\n (mainpointer=" + std::to_string(MainPointer) +
                        ")\r\n (order=" + std::string(key->Text) + ")\r\n (value=" +
                        EscapeText(value) + ")\r\n (xvalue=" + EscapeText(xvalue) + ")\r\n");
    }
}

bool TSpermien::HasSwimmers() const {
    std::string line;
    // The rows of a formation, as ReadRow and ReleaseRow take them.
    auto releases = [&](size_t from) {
        for (size_t r = from; r < Lines.size(); ++r) {
            TrimLower(Lines[r], line);
            if (std::string_view(line).starts_with("end")) return false;
            size_t start = 0;
            int n = 0;
            for (size_t i = 0; i < line.size() && n < rules::kMaxCells; ++i) {
                if (line[i] != ';') continue;
                ++n;
                const size_t len = i - start;
                const char letter = line[start];
                int number = 0;
                if (len >= 2 && letter >= 'a' && letter <= 'z' &&
                    CellNumber(line.data() + start + 1,
                               static_cast<int>(std::min<size_t>(len - 1, 2)), number))
                    return true;
                start = i + 1;
            }
        }
        return false;
    };
    for (const std::string& raw : Lines) {
        if (IsBlankLine(raw)) continue;
        TrimLower(raw, line);
        const rules::TCommand command = rules::ReadCommand(line);
        if (!command.Key) continue;
        if (command.Key->Kind == TOrder::End) break;
        if (command.Key->Kind != TOrder::Formation) continue;
        int n = 0;
        try {
            n = StrToInt(std::string(command.Value));
        } catch (const Exception&) {
            continue;  // play stops there with its own error
        }
        for (size_t i = 0; i < Lines.size(); ++i)
            if (rules::IsFormationMarker(Lines[i], n)) {
                if (releases(i + 1)) return true;
                break;
            }
    }
    return false;
}

void TSpermien::StartFormation(int n) {
    for (size_t i = 0; i < Lines.size(); ++i)
        if (rules::IsFormationMarker(Lines[i], n)) {
            FormationPointer = static_cast<int32_t>(i) + 1;
            RowCountdown = 1;
            return;
        }
    WriteLog("Formation " + std::to_string(n) + " nicht gefunden");
}

void TSpermien::ReadRow() {
    if (FormationPointer < 0 || FormationPointer >= static_cast<int>(Lines.size())) return;
    TrimLower(Lines[static_cast<size_t>(FormationPointer)], line_);
    ++FormationPointer;
    if (std::string_view(line_).starts_with("end")) {
        FormationPointer = -1;
        return;
    }
    ReleaseRow(line_);
    RowCountdown = Speed;
}

void TSpermien::ReleaseRow(std::string_view row) {
    int n = 0;
    size_t start = 0;
    for (size_t i = 0; i < row.size() && n < rules::kMaxCells; ++i) {
        if (row[i] != ';') continue;
        Cell& cell = cells_[static_cast<size_t>(n++)];
        const size_t len = i - start;
        if (len >= 2) {
            cell.Letter = row[start];
            cell.NumberLength = static_cast<int>(std::min<size_t>(len - 1, 2));
            for (int k = 0; k < cell.NumberLength; ++k)
                cell.Number[k] = row[start + 1 + static_cast<size_t>(k)];
        } else {
            cell.Letter = 0;
            cell.NumberLength = 0;
        }
        start = i + 1;
    }
    for (int c = 1; c <= n; ++c) {
        const Cell& cell = cells_[static_cast<size_t>(c - 1)];
        if (cell.NumberLength == 0 || cell.Letter < 'a' || cell.Letter > 'z') continue;
        int number = 0;
        if (!CellNumber(cell.Number, cell.NumberLength, number)) continue;
        // Strictly below, so that a probability of 0 never spawns and 1 always does.
        if (RandReal() < BobProbability) SpawnCell(cell, c, n);
    }
}

void TSpermien::SpawnCell(const Cell& cell, int c, int n) {
    TSperm* free = nullptr;
    for (auto& s : Sperm)
        if (!s->Visible && s->AppearDelay == 0) {
            free = s.get();
            break;
        }
    if (!free) return;
    double y;
    if (BobFreePos) {
        y = RandInt(500) - 250;
    } else {
        y = MiddlePosition - (n / 2) * Gap;
        if (n % 2 == 0) y += Gap / 2;
        y += (c - 1) * Gap;
    }
    int number = 0;
    CellNumber(cell.Number, cell.NumberLength, number);
    SpawnSperm(*free, LetterMap[static_cast<size_t>(cell.Letter - 'a' + 1)], y,
               number * BobSpeedStep + BobSpeed);
    if (BobFuzzyTime > 0) {
        // A delay of 0 would leave the sperm inactive for good (counted, never seen): it
        // appears at once instead.
        const int delay = RandInt(BobFuzzyTime);
        if (delay > 0) {
            free->SetVisible(false);
            free->AppearDelay = delay;
        }
    }
}

void TSpermien::SpawnSperm(TSperm& s, int sprite, double y, double thrust) {
    s.ThrustX = static_cast<float>(thrust);
    for (int i = 0; i < 50; ++i) s.MoveStep();
    TBob* body = s.Parts[1].Bob;
    body->SetSpriteAnimation(sprite, 0);
    body->FramePos = static_cast<uint16_t>(RandInt(12));
    for (int k = 1; k <= 6; ++k) {
        const TSpermKind& kind = SpermKinds[static_cast<size_t>(k)];
        if (kind.Sprite != sprite) continue;
        s.PointsCode = kind.PointsCode;
        s.Fatal = kind.Fatal;
        s.Kind = k;
        ++Spawned[static_cast<size_t>(k)];
        break;
    }
    s.Hit = false;
    s.SetVisible(true);
    const float w = s.BodyWidth();
    if (GameLost(Anzeige) && s.Kind == 1)
        s.Parts[2].DX = -65.0f - w / 2;
    else
        s.Parts[2].Bob->Visible = false;
    s.SetX(-400.0f - w / 2);
    s.SetY(static_cast<float>(y));
    s.SetZ(static_cast<float>(-kDepth));
    s.Escaped = false;
}

void TSpermien::StartSwimmer(TSperm& s) {
    const double r = RandReal();
    const int kind = r < 0.8 ? 1 + RandInt(2) : 4 + RandInt(3);
    s.Parts[1].Bob->SetSpriteAnimation(SpermKinds[static_cast<size_t>(kind)].Sprite, 0);
    s.Hit = false;
    s.SetVisible(true);
    s.Parts[2].Bob->Visible = false;
    const double z = -kDepth / 2 - RandReal() * kDepth;
    const double scale = -kDepth / z;
    const double w = s.BodyWidth();
    s.SetZ(static_cast<float>(z));
    s.SetX(static_cast<float>(-400.0 / scale - (w / 2) * scale));
    s.SetY(static_cast<float>((250 - RandInt(500)) * z / kDepth));
    s.ThrustX = static_cast<float>(0.3 + 0.4 * RandReal());
    s.Escaped = false;
}

void TSpermien::UpdateSperm(TSperm& s) {
    if (!s.Visible) {
        if (s.AppearDelay > 0 && --s.AppearDelay == 0) {
            s.SetVisible(true);
            s.Parts[2].Bob->Visible = false;
        }
        if (!s.Visible && Attract && RandReal() < 0.0005) StartSwimmer(s);
        return;
    }
    const float w = s.BodyWidth();
    if (!s.Escaped && !s.Hit && !Attract && s.X + w / 2 > 400.0f) {
        if (s.Kind >= 1 && s.Kind <= 6) {
            const TSpermKind& kind = SpermKinds[static_cast<size_t>(s.Kind)];
            ++EscapedCount[static_cast<size_t>(s.Kind)];
            if (kind.EscapeSound) PlayPanned(kind.EscapeSound, s.X, s.Z);
        }
        s.Escaped = true;
        if (!GameLost(Anzeige) && s.Fatal) LoseGame(Anzeige, Rohre);
    }
    const double scale = -kDepth / s.Z;
    if (s.X > 400.0 / scale + scale * w / 2) s.SetVisible(false);
    const double trail = UsesKindSprite(s.Parts[1].Bob->Sprite) ? 0.01 : 0.1;
    if (RandReal() < trail && Bubbles) Bubbles->Spawn(5, s.Z, s.Y, s.X);
}

}  // namespace zx
