#pragma once
// The sprite definition script and the three tables it fills: sheet surfaces, frames (source
// rectangles on the sheets) and sprites (names, animations and their frame lists). All tables
// are 1-based and program-wide; they live from the display set-up to ReleaseSprites.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "surface/DDUtils.h"

namespace zx {

class TqvDSoundFile;

constexpr int MaxSurfaces = 999;
constexpr int MaxFrames = 2500;
constexpr int MaxSprites = 400;
constexpr int MaxAnims = 101;
constexpr int MaxMovieWords = 1000;
constexpr int MaxSoundTriples = 100;

struct TSurfaceEntry {
    SurfacePtr Surface;
    std::string FileName;       // empty for blank sheets
    std::vector<uint8_t> Mask;  // alpha map, rows top first, width rounded up to 4; empty: none
};

struct TFrame {
    int32_t SurfaceNo = 0;
    bool UseMask = false;
    int32_t SrcX = 0, SrcY = 0, SrcW = 0, SrcH = 0;
};

struct TSoundTriple {
    int32_t FramePos = 0;
    uint8_t Value8 = 0;
    int32_t Value32 = 0;
};

struct TSoundSlot {
    std::string FileName;  // empty: the slot is not used
    int32_t Count = 0;
    std::vector<TSoundTriple> Entries;
    TqvDSoundFile* Sound = nullptr;  // bound by whoever loads the wave; none plays nothing
};

// Slots 1..8 (index 0 unused).
struct AniSoundarray {
    std::array<TSoundSlot, 9> Slots;
};

struct SpriteDef {
    std::string Name;
    std::vector<uint16_t> MovieList;
    int32_t MovieBytes = 0;
    std::array<uint16_t, MaxAnims> AnimStart{};
    int32_t AnimCount = 0;
    std::array<std::unique_ptr<AniSoundarray>, MaxAnims> Sounds;
    uint16_t FrameBase = 0;
};

// Index 0 of each table is unused.
extern std::vector<TSurfaceEntry> Surfaces;
extern std::vector<TFrame> Frames;
extern std::vector<SpriteDef> Sprites;
extern int32_t SurfaceCount, FrameCount, SpriteCount;

// The script as text lines (CR LF or LF ends), e.g. from the TEXT resource "SBMEMO".
std::vector<std::string> SplitScriptLines(std::string_view text);

// Reads the whole script: every header line loads its object. Keeps the lines for the lookups.
void LoadSprites(const std::vector<std::string>& lines);
// 1-based line number after the first line (from start, 0-based) beginning with key.
int FindKeyword(const std::vector<std::string>& lines, const std::string& key, int start);
// Sprite number (kinds 0, 1), first frame (kind 2) or -1 (kind 3 or no kind).
int LoadObject(const std::string& name);
// Makes the sprite entry and its animations from the block of name.
void ParseAnimations(const std::string& name, int images);
// The whole script at once: the same as LoadSprites, for the display set-up.
inline void ParseAnimations(const std::vector<std::string>& lines) { LoadSprites(lines); }
// A sheet: loaded from a picture (fileName) or blank of width x height; returns its number.
int CreateSheet(const std::string& fileName, int width, int height);
void LoadMask(const std::string& fileName, int surfaceNo);

int FindSprite(const std::string& name);
int FirstFrame(int sprite);
// 0 (a frame that draws nothing) for a sprite, animation or position that does not exist.
int FrameOf(int sprite, int anim, int pos);
// n frames, t ticks per frame of an animation; false when it does not exist.
bool AnimTiming(int sprite, int anim, int& n, int& t);
int AnimCount(int sprite);
void StepSounds(int sprite, int anim, int pos);

void Stretchblit(DirectDrawSurface* dest, int32_t cx, int32_t cy, int32_t w, int32_t h, int32_t f,
                 int32_t clipLeft, int32_t clipTop, int32_t clipRight, int32_t clipBottom,
                 int keyFlag, uint8_t alpha);
// clip: inclusive left, top, right, bottom.
void DrawFrame(DirectDrawSurface* dest, int32_t x, int32_t y, int32_t f,
               const platform::Rect& clip);
void ReleaseSprites();

// Parsing pieces, exposed for their tests.
std::vector<int> ParseFrameList(const std::string& text, int images);
// Strict: optional spaces and sign, then only digits within 32 bits; anything else raises.
int StrToInt(const std::string& text);

}  // namespace zx
