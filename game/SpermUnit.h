#pragma once
// The swarm: six kinds of swimmers (three sperm, three viruses) that enter at the left edge and
// swim right towards the cannon, released by the level's formation script, and random swimmers
// on the title screen (attract mode). Also the per-kind statistics of a game.
//
// The formation script is the level file's lines: a main sequence of commands, read one per
// frame, that sets swim parameters and starts formations ("formation=N" plays the block after
// the line "DefineFormationN" row by row, one row every Speed frames, up to its "end"). A row
// is cells ending in ";": a letter "a".."z" picks the swimmer through the letter map, the one or
// two digits after it add that many BobSpeedStep to its thrust; a shorter cell is a gap.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <memory>

#include "rules/LevelLanguage.h"
#include "sprites/BobUnit.h"
#include "sprites/Pool.h"

namespace zx {

struct TSpermKind {
    const char* ScriptName;  // the word of the "bob" command
    const char* SpriteName;
    int32_t Sprite;  // looked up when the swarm is created
    int32_t PointsCode;
    int32_t CatchPoints;
    bool Fatal;               // an escape loses the game
    const char* EscapeSound;  // nullptr: silent
};

// Kinds 1..6 (index 0 unused): sperm1, sperm2 (drawn as "bubble"), sperm3, virus1..virus3.
extern std::array<TSpermKind, 7> SpermKinds;

// The catch points for a swimmer's points code; 0 for a code of no kind.
int CatchPoints(int pointsCode);

class TSperm : public TRBob {
public:
    // Parts: the body ("sperm1") and the hidden "vantorlogo" beside it. Inactive, no kind yet.
    TSperm();

    float BodyWidth() const;
    float BodyHeight() const;

    bool Hit = false;
    bool Escaped = false;
    int32_t AppearDelay = 0;
    int32_t PointsCode = 0;
    bool Fatal = false;
    int32_t Kind = 0;
};

class TSpermien {
public:
    static constexpr int MaxSperm = 50;
    static constexpr int MaxCells = rules::kMaxCells;

    // Fills the kind table, sets the defaults and loads the current level file (LoadLevel);
    // attract mode on, script idle.
    TSpermien();
    TSpermien(const TSpermien&) = delete;
    TSpermien& operator=(const TSpermien&) = delete;

    // Appends one sperm in the next slot; a full pool ignores the call.
    void AddSperm();
    // One frame: a script step, then every sperm's motion and update.
    void Step();
    // Play begins: everything stops, the bubbles are cleared, the main sequence starts at line 0.
    void StartPlay();
    // End of a game: script stopped, every sperm inactive.
    void StopAll();
    // True when the main sequence, read as play reads it, starts at least one formation with a row
    // that releases a swimmer. A level without one (garbage lines, a damaged file) would make a
    // game without opponents, won by waiting.
    bool HasSwimmers() const;
    // Slot of the first active, unhit sperm with y1 < y < y2 and x1 < front end < x2; -1 if none.
    int FindTarget(float y1, float y2, float x1, float x2) const;
    void MarkHit(int index);
    // Torpedo hit: the sperm disappears in a column of bubbles.
    void Bubbleize(TSperm* sperm);
    void Bubbleize(int index);

    // The script, exposed for tests and the editor: one step of the readers.
    void ScriptStep();

    TPool<std::unique_ptr<TSperm>, MaxSperm> Sperm;

    int32_t Speed = 50;
    std::array<int32_t, 27> LetterMap{};  // 1..26 for "a".."z": sprite number
    double MiddlePosition = 0.0;
    double Gap = 60.0;
    double BobSpeed = 0.3;
    double BobSpeedStep = 0.1;
    double BobProbability = 1.0;
    bool BobFreePos = false;
    int32_t BobFuzzyTime = 0;

    std::vector<std::string> Lines;
    int32_t MainPointer = -1;
    int32_t FormationPointer = -1;
    int32_t RowCountdown = 0;
    bool Attract = true;

    // Statistics of the current game, by kind 1..6.
    int32_t Seconds = 0;
    std::array<int32_t, 7> Spawned{};
    std::array<int32_t, 7> CaughtEarly{};
    std::array<int32_t, 7> Caught{};
    std::array<int32_t, 7> EscapedCount{};
    int32_t CondomShots = 0;
    int32_t Torpedoes = 0;

private:
    struct Cell {
        char Letter = 0;
        char Number[2] = {};
        int NumberLength = 0;  // 0: an empty position
    };

    void RunCommand(std::string_view line);
    void StartFormation(int n);
    void ReadRow();
    void ReleaseRow(std::string_view row);
    void SpawnCell(const Cell& cell, int c, int n);
    void SpawnSperm(TSperm& s, int sprite, double y, double thrust);
    void UpdateSperm(TSperm& s);
    void StartSwimmer(TSperm& s);

    // Working copy of the current line, so that a step allocates nothing.
    std::string line_;
    std::array<Cell, MaxCells> cells_{};
};

}  // namespace zx
