#pragma once
// The player's condom cannon at the right edge: it follows the mouse up and down, fires one shot
// per pending click and frame, books the cost of each shot, kicks back on firing and springs
// home. After a lost game a click only clicks.
#include <cstdint>
#include <memory>

#include "rules/Rules.h"
#include "sprites/BobUnit.h"

namespace zx {

class TqvDSoundFile;

inline constexpr float kCannonHomeX = 420.0f;
inline constexpr float kCannonRecoil = 20.0f;
inline constexpr float kCannonRange = 255.0f;
inline constexpr int32_t kCondomShotCost = -rules::kCondomCost;
inline constexpr int32_t kTorpedoShotCost = -rules::kTorpedoCost;

class TRohr : public TRBob {
public:
    // One part, "Rohr" (animations "geladen" 0 and "leer" 1); inactive at (420, 0, -D).
    TRohr();

    // Every frame, after the motion step.
    void Update();

private:
    TqvDSoundFile* emptySound_ = nullptr;
};

class TRohre {
public:
    TRohre() = default;
    ~TRohre();
    TRohre(const TRohre&) = delete;
    TRohre& operator=(const TRohre&) = delete;

    // Creates the one cannon; a second call is ignored.
    void AddCannon();
    void Step();
    void Show();
    void Hide();
    // The "leer" animation from its first frame (the game is lost).
    void ShowEmpty();

    std::unique_ptr<TRohr> Cannon;
};

}  // namespace zx
