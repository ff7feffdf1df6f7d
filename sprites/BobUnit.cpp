#include "sprites/BobUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/DisplayState.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "support/Random.h"

namespace zx {

TBobs* Bobs = nullptr;

int32_t Nint(double v) {
    if (!(v > -2147483648.0 && v < 2147483647.0)) return v > 0 ? INT32_MAX : INT32_MIN;
    return static_cast<int32_t>(std::nearbyint(v));
}

namespace {

// A projected position or size far beyond the screen is as good as any other beyond it; kept
// within this range, the blits' own sums (centre minus half the size, position plus size) cannot
// overflow, whatever a level, a cave file or a depth next to the viewer made of it.
constexpr double kScreenCoordLimit = 1 << 24;

int32_t ScreenCoord(double v) {
    if (std::isnan(v)) return static_cast<int32_t>(kScreenCoordLimit);  // nowhere to be seen
    return Nint(std::clamp(v, -kScreenCoordLimit, kScreenCoordLimit));
}

void FirstFrameSize(int sprite, float& w, float& h) {
    const int f = FirstFrame(sprite);
    if (f < 1 || f > FrameCount) {
        w = h = 0;
        return;
    }
    w = static_cast<float>(Frames[static_cast<size_t>(f)].SrcW);
    h = static_cast<float>(Frames[static_cast<size_t>(f)].SrcH);
}

std::string General(float v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", static_cast<double>(v));
    return buf;
}

}  // namespace

// ---- TBob ----

TBob::TBob(int sprite, int anim)
    : Sprite(sprite), Anim(anim), NextSprite(sprite), NextAnim(anim),
      X(static_cast<float>(DD.ScreenW / 2)), Y(static_cast<float>(DD.ScreenH / 2)),
      Z(static_cast<float>(DD.ScreenW)) {
    FirstFrameSize(sprite, Width, Height);
}

int TBob::CurrentFrame() const { return FrameOf(Sprite, Anim, FramePos); }

void TBob::SetSpriteAnimation(int sprite, int anim) {
    Sprite = sprite;
    FirstFrameSize(sprite, Width, Height);
    FramePos = FrameTicks = 0;
    if (anim == -1) {
        Anim = NextAnim = 0;
        Visible = false;
    } else {
        Anim = NextAnim = anim;
    }
    NextSprite = sprite;
}

void TBob::RestartAnimation(int anim) {
    FramePos = FrameTicks = 0;
    if (anim != -1) Anim = NextAnim = anim;
}

void TBob::SetNextSpriteAnimation(int sprite, int anim) {
    NextSprite = sprite;
    NextAnim = anim;
}

void TBob::SetNextAnim(int anim) {
    NextSprite = Sprite;
    NextAnim = anim;
}

void TBob::Animate() {
    int n = 0, t = 0;
    if (!AnimTiming(Sprite, Anim, n, t) || t == 0) return;
    if (FrameTicks == 0 && Visible) StepSounds(Sprite, Anim, FramePos);
    if (++FrameTicks < t) return;
    FrameTicks = 0;
    if (++FramePos < n) return;
    SetSpriteAnimation(NextSprite, NextAnim);
}

void TBob::paint() {
    if (!Visible || !(Z < 0)) return;
    const int f = CurrentFrame();
    if (f < 1 || f > FrameCount) return;
    const TFrame& fr = Frames[static_cast<size_t>(f)];
    const double d = DD.ScreenW;
    const int32_t cx = DD.ScreenW / 2, cy = DD.ScreenH / 2;
    int32_t px, py, w = fr.SrcW, h = fr.SrcH;
    if (ScreenSpace && !ProjectPos) {
        px = ScreenCoord(X), py = ScreenCoord(Y);
    } else {
        px = cx - ScreenCoord(d * X / Z);
        py = cy - ScreenCoord(d * Y / Z);
        if (!ScreenSpace) {
            w = ScreenCoord(std::abs(d * fr.SrcW / Z));
            h = ScreenCoord(std::abs(d * fr.SrcH / Z));
        }
    }
    Stretchblit(BackBuffer(), px, py, w, h, f, 0, 0, DD.ScreenW - 1,
                DD.ScreenH - 1 - DD.HintStripHeight, 1, Alpha);
}

// ---- TBobs ----

TBobs::~TBobs() {
    for (TBobSlot* slot : bobarray) *slot = nullptr;
}

TBob* TBobs::Add(int sprite, int anim, TBobSlot* slot) {
    if (!slot) throw Exception("TBobs.Add: no slot for the bob");
    if (bobarray.Count() + 1 >= Places)
        throw Exception("TBobs.Add: all " + std::to_string(Places - 1) + " places are in use");
    auto bob = std::make_unique<TBob>(sprite, anim);
    TBob* b = bob.get();
    bobs_.Add(std::move(bob));
    bobarray.Add(slot);
    *slot = b;
    return b;
}

void TBobs::Delete(TBobSlot* slot) {
    const int at = bobarray.Find(slot);
    if (at == 0) return;
    for (int i = 1; i <= bobs_.Count(); ++i)
        if (bobs_[i].get() == *slot) {
            bobs_.Remove(i);
            break;
        }
    *slot = nullptr;
    bobarray.Remove(at);
}

// Stable order by layer, then depth (farthest first). Insertion by adjacent exchanges gives the
// exchange sort's result, and a bob that moved far costs one walk instead of one pass per place.
void TBobs::sortz() {
    const int bobn = bobarray.Count();
    if (bobn < 2) return;
    ++callcounter;
    float z1 = 0, z2 = 0;
    try {
        for (int i = 2; i <= bobn; ++i) {
            TBobSlot* moving = bobarray[i];
            const TBob* b = *moving;
            if (!b) throw Exception("empty bob slot");
            int j = i - 1;
            while (j >= 1) {
                const TBob* a = *bobarray[j];
                if (!a) throw Exception("empty bob slot");
                ++sortsteps;
                z1 = a->Z, z2 = b->Z;
                if (!(a->Layer > b->Layer || (a->Layer == b->Layer && a->Z > b->Z))) break;
                bobarray[j + 1] = bobarray[j];
                --j;
            }
            bobarray[j + 1] = moving;
        }
    } catch (const Exception&) {
        WriteLog("TBobs.paint.sortz: callcounter(" + std::to_string(callcounter) + ") bobn(" +
                 std::to_string(bobn) + ") ival(-1) step(-1) ;");
        WriteLog("TBobs.paint.sortz: z1(" + General(z1) + ") z2(" + General(z2) + ") ;");
        throw;
    }
}

void TBobs::paint() {
    // The step is kept as a number and named only for the log: a frame allocates nothing.
    int place = 0;
    try {
        sortz();
        for (place = 1; place <= bobarray.Count(); ++place) (*bobarray[place])->paint();
    } catch (const Exception&) {
        WriteLog("TBobs.paint: " + (place == 0 ? std::string("sortz")
                                               : "bobarray[" + std::to_string(place) + "]^.paint"));
        throw;
    }
}

// ---- TRBob ----

TRBob::TRBob() {
    SetX(static_cast<float>(RandInt(500) - 250));
    TargetX = X;
    SetY(static_cast<float>(RandInt(500) - 250));
    TargetY = Y;
    SetZ(static_cast<float>(-RandInt(1000) - 100));
    TargetZ = Z;
    SetVisible(true);
}

TRBob::~TRBob() {
    if (Bobs)
        for (TBobPart& p : Parts) Bobs->Delete(&p.Bob);
}

void TRBob::SetX(float v) {
    X = v;
    for (const TBobPart& p : Parts)
        if (p.Bob) p.Bob->X = v + p.DX;
}

void TRBob::SetY(float v) {
    Y = v;
    for (const TBobPart& p : Parts)
        if (p.Bob) p.Bob->Y = v + p.DY;
}

void TRBob::SetZ(float v) {
    Z = v;
    for (const TBobPart& p : Parts)
        if (p.Bob) p.Bob->Z = v + p.DZ;
}

void TRBob::SetVisible(bool b) {
    Visible = b;
    for (const TBobPart& p : Parts)
        if (p.Bob) p.Bob->Visible = b;
}

int TRBob::AddPart(int sprite, int anim, float dx, float dy, float dz) {
    if (Parts.Full()) throw Exception("TRBob.AddPart: more than 50 parts");
    if (!Bobs) throw Exception("TRBob.AddPart: no sprite list");
    // The list refers to the part's place, so the part takes its place before its bob is made.
    Parts.Add(TBobPart{nullptr, dx, dy, dz});
    try {
        Bobs->Add(sprite, anim, &Parts[Parts.Count()].Bob);
    } catch (...) {
        Parts.Remove(Parts.Count());
        throw;
    }
    return Parts.Count();
}

int TRBob::AddPartByName(const char* name, int anim, float dx, float dy, float dz) {
    return AddPart(FindSprite(name), anim, dx, dy, dz);
}

void TRBob::Animate() {
    for (const TBobPart& p : Parts)
        if (p.Bob) p.Bob->Animate();
}

void TRBob::ApplySpring() {
    auto thrust = [this](float target, float pos) {
        float t = (target - pos) / SpringDiv;
        if (t > MaxThrust) t = MaxThrust;
        if (t < -MaxThrust) t = -MaxThrust;
        return t;
    };
    ThrustZ = thrust(TargetZ, Z);
    ThrustX = thrust(TargetX, X);
    ThrustY = thrust(TargetY, Y);
    WobbleAccX = -WobbleX / WobbleDiv;
    WobbleAccY = -WobbleY / WobbleDiv;
    WobbleAccZ = -WobbleZ / WobbleDiv;
}

void TRBob::MoveStep() {
    WobbleVelX += WobbleAccX, WobbleX += WobbleVelX;
    WobbleVelY += WobbleAccY, WobbleY += WobbleVelY;
    WobbleVelZ += WobbleAccZ, WobbleZ += WobbleVelZ;
    VelX = (VelX + ThrustX) / Damping;
    SetX(X + VelX + WobbleX);
    VelY = (VelY + ThrustY) / Damping;
    SetY(Y + VelY + WobbleY);
    VelZ = (VelZ + ThrustZ) / Damping;
    SetZ(Z + VelZ + WobbleZ);
}

}  // namespace zx
