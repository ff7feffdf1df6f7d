#pragma once
// Sprite instances (TBob), the one list that sorts and paints them (TBobs, instance Bobs), and
// the base of every game object (TRBob): up to 50 parts at fixed offsets and a damped spring
// and thrust motion model. World: x right, y down, z depth, negative in front of the viewer;
// projected with D = screen width about the screen centre.
#include <array>
#include <cstdint>
#include <memory>

#include "sprites/Pool.h"

namespace zx {

class TBob {
public:
    TBob(int sprite, int anim);

    float Width = 0, Height = 0;
    bool Visible = true;
    int32_t Sprite = 0, Anim = 0, NextSprite = 0, NextAnim = 0;
    uint16_t FramePos = 0, FrameTicks = 0;
    bool ScreenSpace = false;
    float X = 0, Y = 0, Z = 0;
    int32_t Layer = 0;
    bool ProjectPos = true;
    uint8_t Alpha = 255;

    int CurrentFrame() const;
    void SetSpriteAnimation(int sprite, int anim);
    void RestartAnimation(int anim);
    void SetNextSpriteAnimation(int sprite, int anim);
    void SetNextAnim(int anim);
    void Animate();
    void paint();
};

// The place inside an owner that holds its bob; the list refers to the place, not the bob.
using TBobSlot = TBob*;

class TBobs {
public:
    static constexpr int Places = 1500;  // the last used place + 1 is the sort's exchange cell

    TBobs() = default;
    ~TBobs();
    TBobs(const TBobs&) = delete;
    TBobs& operator=(const TBobs&) = delete;

    // Creates a bob, stores it in slot and appends the slot; refuses a 1500th bob.
    TBob* Add(int sprite, int anim, TBobSlot* slot);
    // Frees the bob of the first place holding slot and closes the gap (order kept); the slot
    // is cleared. A slot not in the list is ignored.
    void Delete(TBobSlot* slot);
    void sortz();
    void paint();

    // The slots in paint order; bobarray.Count() is the number of bobs.
    TPool<TBobSlot*, Places> bobarray;
    int32_t callcounter = 0;
    // Comparisons sortz has made: the work of a sort, counted rather than timed.
    int64_t sortsteps = 0;

private:
    // The list owns every bob; the owners' slots only refer to them.
    TPool<std::unique_ptr<TBob>, Places - 1> bobs_;
};

// Exists from the display set-up to its release.
extern TBobs* Bobs;

struct TBobPart {
    TBobSlot Bob = nullptr;
    float DX = 0, DY = 0, DZ = 0;
};

class TRBob {
public:
    static constexpr int MaxParts = 50;

    TRBob();
    ~TRBob();
    TRBob(const TRBob&) = delete;  // the list holds the addresses of the part slots
    TRBob& operator=(const TRBob&) = delete;

    float X = 0, Y = 0, Z = 0;
    bool Visible = true;
    TPool<TBobPart, MaxParts> Parts;
    float ThrustZ = 0, VelZ = 0, ThrustX = 0, VelX = 0, ThrustY = 0, VelY = 0;
    float TargetX = 0, TargetY = 0, TargetZ = 0;
    float WobbleDiv = 10000.0f;
    float SpringDiv = 10000.0f;
    float MaxThrust = 5.0f;
    float Damping = 1.1f;
    float WobbleX = 0, WobbleY = 0, WobbleZ = 0;
    float WobbleVelX = 0, WobbleVelY = 0, WobbleVelZ = 0;
    float WobbleAccX = 0, WobbleAccY = 0, WobbleAccZ = 0;

    void SetX(float v);
    void SetY(float v);
    void SetZ(float v);
    void SetVisible(bool b);
    // Refuses a 51st part.
    int AddPart(int sprite, int anim, float dx, float dy, float dz);
    int AddPartByName(const char* name, int anim, float dx, float dy, float dz);
    void Animate();
    void ApplySpring();
    void MoveStep();
};

// nint: the nearest integer, halves to the even neighbour.
int32_t Nint(double v);

}  // namespace zx
