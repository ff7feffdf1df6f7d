#pragma once
// The cannon's shots: a condom catches the first swimmer it meets, rolls itself over it and rides
// along with it; a torpedo turns every swimmer it meets into bubbles and flies on. Each catch
// books its points (with a bonus far to the left) and counts in the game's statistics.
#include <array>
#include <cstdint>
#include <memory>

#include "rules/Rules.h"
#include "sprites/BobUnit.h"
#include "sprites/Pool.h"

namespace zx {

class TqvDSoundFile;

inline constexpr int kShotSlots = 100;
inline constexpr int32_t kEarlyCatchBonus = rules::kEarlyBonus;
// A catch left of this x is an early one.
inline constexpr float kEarlyCatchX = -200.0f;

class TSchuss : public TRBob {
public:
    // Parts "Schuss" (the projectile), "Abroll" and "Kondom"; inactive at z = -D.
    TSchuss();
    ~TSchuss();

    // Launches from (x, y, z) as a condom, or as a torpedo when the HUD has one armed.
    void Launch(float z, float y, float x);
    // Every frame, after the motion step.
    void Update();

    bool IsTorpedo = false;
    float HalfHeight = 0;
    int32_t CaughtIndex = -1;
    // A copy of "abroll" of its own, so that several catches can sound at once.
    std::unique_ptr<TqvDSoundFile> RollSound;

private:
    void Catch(int32_t index);

    int schuss_ = 0, torpedo_ = 0, abroll_ = 0, kondom_ = 0;
    TqvDSoundFile* launchSound_ = nullptr;
    TqvDSoundFile* torpedoSound_ = nullptr;
    TqvDSoundFile* bubbleizeSound_ = nullptr;
    // By swimmer kind 2..6: "bubble", "sperm3", "virus1", "virus2", "virus3".
    std::array<TqvDSoundFile*, 7> kindSound_{};
};

class TSchuesse {
public:
    TSchuesse() = default;
    ~TSchuesse();
    TSchuesse(const TSchuesse&) = delete;
    TSchuesse& operator=(const TSchuesse&) = delete;

    // One shot in the next slot; a full pool ignores the call.
    void AddShot();
    // Launches the first inactive shot; with all in flight nothing is launched.
    void Fire(float z, float y, float x);
    void Step();
    void HideAll();
    int ActiveCount() const;

    TPool<std::unique_ptr<TSchuss>, kShotSlots> Shot;
};

}  // namespace zx
