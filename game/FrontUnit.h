#pragma once
// The cave scenery in front of the action: floor and ceiling pieces, pillars and the snake,
// placed along a long horizontal track and kept against the scroll position. The same manager
// carries the cave editor's operations and reads and writes the cave file KVD\front.dat.
#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "sprites/BobUnit.h"

namespace zx {

inline constexpr int kFrontSlots = 300;
inline constexpr int kFrontTypes = 10;
inline constexpr size_t kFrontRecordSize = 16;
inline constexpr size_t kFrontFileSize = kFrontSlots * kFrontRecordSize;  // 4800
inline constexpr int32_t kScrollEnd = -22500;
// Just in front of the action plane (D = 800).
inline constexpr float kFrontDefaultZ = 100.0f - 800.0f;
inline constexpr const char* kFrontFile = "KVD\\front.dat";

// The sprite name of an element type 1..10; null for any other type.
const char* FrontSpriteName(int type);

// One piece: its part is drawn unscaled at a screen position (X, Y) = (TrackX - ScrollPos, y);
// z only orders it among the other sprites.
class TFrontelement : public TRBob {
public:
    TFrontelement(long double trackX, float y, float z, int type, int32_t scrollPos);

    long double TrackX = 0;
    int32_t ElementType = 1;

    // Shows the sprite of another type (1..10).
    void SetType(int type);
};

// One record of the cave file; -1 in TrackX marks an empty record, -1 in Z the default depth.
struct TFrontRecord {
    int32_t TrackX = -1, Y = -1, Z = -1, Type = -1;
};
using TFrontTable = std::array<TFrontRecord, kFrontSlots + 1>;  // 1-based

// Little-endian images of the table, record i at offset 16 (i - 1).
std::array<uint8_t, kFrontFileSize> FrontTableToBytes(const TFrontTable& table);
// Reads the whole records the bytes hold (further bytes are ignored) and empties the slots a
// short input lacks; returns the number of records read.
int FrontTableFromBytes(TFrontTable& table, std::span<const uint8_t> bytes);

class TFront {
public:
    // Loads the cave when the "Front" setting is on. A missing file gives no scenery; a file
    // that exists but cannot be read whole raises EInOutError.
    TFront();
    ~TFront();
    TFront(const TFront&) = delete;
    TFront& operator=(const TFront&) = delete;

    std::array<std::unique_ptr<TFrontelement>, kFrontSlots + 1> Element;  // 1-based, holes allowed
    int32_t Count = 0;
    int32_t ScrollPos = 0;
    bool Dragging = false;
    int32_t Selected = -1;
    int32_t LastMouseX = 0, LastMouseY = 0;
    TFrontTable Table{};

    void HideAll();
    void ShowAll();
    // The dragged piece follows the mouse of the game screen; every shown piece is placed
    // against the scroll position.
    void Step();

    // Cave editor.
    void SelectOrPlace(int32_t mouseX, int32_t mouseY, int type);
    void Release();
    void ChangeType(int delta);
    void MoveWithScroll(int32_t delta);
    void Nudge(int step);
    void DeleteSelected();
    // Writes the slots as KVD\front.dat (through a temporary file and a rename); raises
    // EInOutError.
    void Save();

private:
    TFrontelement* SelectedElement() const;
    void Place(TFrontelement& e) const;
};

}  // namespace zx
