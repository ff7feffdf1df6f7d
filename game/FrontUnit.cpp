#include "game/FrontUnit.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "display/frmDDFullScreen.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "platform/Errors.h"
#include "platform/Ticks.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "support/Paths.h"

namespace zx {

namespace {

const char* const kSpriteNames[kFrontTypes + 1] = {
    nullptr,           "Element_Boden_1", "Element_Boden_2", "Element_Boden_3",
    "Element_Boden_4", "Element_Decke_1", "Element_Decke_2", "Element_Decke_3",
    "Element_Decke_4", "Element_saeule",  "Element_schlange"};

bool ValidType(int type) { return type >= 1 && type <= kFrontTypes; }

int32_t GetI32(std::span<const uint8_t> b, size_t at) {
    return static_cast<int32_t>(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 |
                                uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24);
}

void PutI32(uint8_t* p, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

}  // namespace

const char* FrontSpriteName(int type) { return ValidType(type) ? kSpriteNames[type] : nullptr; }

// ---- TFrontelement ----

TFrontelement::TFrontelement(long double trackX, float y, float z, int type, int32_t scrollPos)
    : TrackX(trackX), ElementType(type) {
    AddPartByName(FrontSpriteName(type), 0, 0, 0, 0);
    TBob* b = Parts[1].Bob;
    b->ScreenSpace = true;
    b->ProjectPos = false;
    SetX(static_cast<float>(trackX - scrollPos));
    SetY(y);
    SetZ(z);
    SetVisible(true);
}

void TFrontelement::SetType(int type) {
    if (!ValidType(type)) return;
    ElementType = type;
    Parts[1].Bob->SetSpriteAnimation(FindSprite(FrontSpriteName(type)), 0);
}

// ---- the file table ----

std::array<uint8_t, kFrontFileSize> FrontTableToBytes(const TFrontTable& table) {
    std::array<uint8_t, kFrontFileSize> out{};
    for (int i = 1; i <= kFrontSlots; ++i) {
        uint8_t* p = out.data() + (i - 1) * kFrontRecordSize;
        const TFrontRecord& r = table[static_cast<size_t>(i)];
        PutI32(p, r.TrackX);
        PutI32(p + 4, r.Y);
        PutI32(p + 8, r.Z);
        PutI32(p + 12, r.Type);
    }
    return out;
}

int FrontTableFromBytes(TFrontTable& table, std::span<const uint8_t> bytes) {
    const int whole =
        static_cast<int>(std::min<size_t>(bytes.size() / kFrontRecordSize, kFrontSlots));
    for (int i = 1; i <= kFrontSlots; ++i) {
        const size_t at = static_cast<size_t>(i - 1) * kFrontRecordSize;
        TFrontRecord& r = table[static_cast<size_t>(i)];
        if (i > whole) {
            r = TFrontRecord{};
            continue;
        }
        r.TrackX = GetI32(bytes, at);
        r.Y = GetI32(bytes, at + 4);
        r.Z = GetI32(bytes, at + 8);
        r.Type = GetI32(bytes, at + 12);
    }
    return whole;
}

// ---- TFront ----

TFront::TFront() {
    if (!EnvData.FrontOn) return;
    TReadError why;
    if (auto bytes = ReadFileBytes(kFrontFile, kRecordFileLimit, &why)) {
        // A cut file still holds a cave: its whole records are played, the damage is logged.
        const int whole = FrontTableFromBytes(Table, *bytes);
        if (bytes->size() < kFrontFileSize)
            WriteLog(ResolvePath(kFrontFile) + " is damaged: " + std::to_string(bytes->size()) +
                     " of " + std::to_string(kFrontFileSize) + " bytes, " + std::to_string(whole) +
                     " whole records used");
    } else if (why.Errno != ENOENT) {
        // Whatever stands in its place (a folder, a FIFO, a file that may not be read) is as
        // damaged as a cut file: logged, and the game plays without the scenery.
        WriteLog("Cannot read " + why.Text() + ": the game plays without the cave scenery");
    }
    for (int i = 1; i <= kFrontSlots; ++i) {
        const TFrontRecord& r = Table[static_cast<size_t>(i)];
        // A record of an unknown type names no sprite: it is passed over like a hole rather
        // than stopping every game on a damaged file.
        if (r.TrackX == -1 || !ValidType(r.Type)) continue;
        const float z = r.Z == -1 ? kFrontDefaultZ : static_cast<float>(r.Z);
        Element[static_cast<size_t>(++Count)] = std::make_unique<TFrontelement>(
            r.TrackX, static_cast<float>(r.Y), z, r.Type, ScrollPos);
    }
}

TFront::~TFront() = default;

TFrontelement* TFront::SelectedElement() const {
    if (Selected < 1 || Selected > kFrontSlots) return nullptr;
    return Element[static_cast<size_t>(Selected)].get();
}

void TFront::Place(TFrontelement& e) const { e.SetX(static_cast<float>(e.TrackX - ScrollPos)); }

void TFront::HideAll() {
    for (auto& e : Element)
        if (e) e->SetVisible(false);
}

void TFront::ShowAll() {
    for (auto& e : Element)
        if (e) {
            e->SetVisible(true);
            Place(*e);
        }
}

void TFront::Step() {
    if (!EnvData.FrontOn) return;
    if (Dragging && GameScreen) {
        if (TFrontelement* e = SelectedElement()) {
            e->TrackX += GameScreen->MouseX - LastMouseX;
            e->SetY(e->Y + static_cast<float>(GameScreen->MouseY - LastMouseY));
        }
        LastMouseX = GameScreen->MouseX;
        LastMouseY = GameScreen->MouseY;
    }
    for (auto& e : Element)
        if (e && e->Visible) Place(*e);
}

void TFront::SelectOrPlace(int32_t mouseX, int32_t mouseY, int type) {
    const long double trackX = static_cast<long double>(mouseX) + ScrollPos;
    for (int i = 1; i <= kFrontSlots; ++i) {
        const TFrontelement* e = Element[static_cast<size_t>(i)].get();
        if (!e) continue;
        const TBob* b = e->Parts[1].Bob;
        const long double hw = b->Width / 2.0L, hh = b->Height / 2.0L;
        if (e->TrackX - hw <= trackX && trackX <= e->TrackX + hw && e->Y - hh <= mouseY &&
            mouseY <= e->Y + hh) {
            Selected = i;
            Dragging = true;
            LastMouseX = mouseX;
            LastMouseY = mouseY;
            return;
        }
    }
    if (!ValidType(type)) return;
    for (int i = 1; i <= kFrontSlots; ++i) {
        auto& slot = Element[static_cast<size_t>(i)];
        if (slot) continue;
        slot = std::make_unique<TFrontelement>(trackX, static_cast<float>(mouseY), kFrontDefaultZ,
                                               type, ScrollPos);
        ++Count;
        return;
    }
    platform::Beep();
    if (GameScreen) GameScreen->ErrorFlag = true;
    WriteLog("Sorry, maximale Anzahl von Frontelementen erreicht");
}

void TFront::Release() { Dragging = false; }

void TFront::ChangeType(int delta) {
    if (!Dragging) return;
    TFrontelement* e = SelectedElement();
    if (!e) return;
    const int t = ((e->ElementType - 1 + delta) % kFrontTypes + kFrontTypes) % kFrontTypes + 1;
    e->SetType(t);
}

void TFront::MoveWithScroll(int32_t delta) {
    if (!Dragging) return;
    if (TFrontelement* e = SelectedElement()) e->TrackX += delta;
}

void TFront::Nudge(int step) {
    if (!Dragging || step == 0) return;
    TFrontelement* e = SelectedElement();
    if (!e) return;
    const bool inRange = step < 0 ? e->Z > kFrontDefaultZ - 0.1f : e->Z < kFrontDefaultZ + 0.1f;
    if (inRange) e->SetZ(e->Z + static_cast<float>(step) / 100.0f);
}

void TFront::DeleteSelected() {
    if (!Dragging) return;
    Dragging = false;
    if (!SelectedElement()) return;
    Element[static_cast<size_t>(Selected)].reset();
    --Count;
    Selected = -1;
}

void TFront::Save() {
    if (!EnvData.FrontOn) return;
    for (int i = 1; i <= kFrontSlots; ++i) {
        TFrontRecord& r = Table[static_cast<size_t>(i)];
        const TFrontelement* e = Element[static_cast<size_t>(i)].get();
        if (!e) {
            r = TFrontRecord{};
            continue;
        }
        r.TrackX = Nint(static_cast<double>(e->TrackX));
        // -1 would read back as a hole and lose the piece: one pixel to the left keeps it.
        if (r.TrackX == -1) r.TrackX = -2;
        r.Y = Nint(e->Y);
        r.Z = Nint(e->Z);
        r.Type = e->ElementType;
    }
    EnterProgramDir();
    EnsureDataDir();
    const auto bytes = FrontTableToBytes(Table);
    ReplaceFileContents(kFrontFile, bytes.data(), bytes.size());
}

}  // namespace zx
