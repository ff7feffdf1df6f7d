#include "sprites/BobUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/DisplayState.h"
#include "sprites/LogFiles.h"
#include "sprites/Random.h"
#include "sprites/SpriteDefs.h"

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
    for (int i = 1; i <= bobn; ++i) {
        delete *bobarray[static_cast<size_t>(i)];
        *bobarray[static_cast<size_t>(i)] = nullptr;
        bobarray[static_cast<size_t>(i)] = nullptr;
    }
    bobn = 0;
}

TBob* TBobs::Add(int sprite, int anim, TBobSlot* slot) {
    if (!slot) throw Exception("TBobs.Add: no slot for the bob");
    if (bobn + 1 >= Places)
        throw Exception("TBobs.Add: all " + std::to_string(Places - 1) + " places are in use");
    TBob* b = new TBob(sprite, anim);
    *slot = b;
    bobarray[static_cast<size_t>(++bobn)] = slot;
    return b;
}

void TBobs::Delete(TBobSlot* slot) {
    int at = 0;
    for (int i = 1; i <= bobn; ++i)
        if (bobarray[static_cast<size_t>(i)] == slot) {
            at = i;
            break;
        }
    if (at == 0) return;
    try {
        delete *slot;
    } catch (const Exception& e) {
        WriteLog(e.Message() + "in TBobs.delete");
        return;
    }
    *slot = nullptr;
    for (int i = at; i < bobn; ++i) bobarray[static_cast<size_t>(i)] = bobarray[static_cast<size_t>(i + 1)];
    bobarray[static_cast<size_t>(bobn)] = nullptr;
    --bobn;
}

// Stable order by layer, then depth (farthest first). Insertion by adjacent exchanges gives the
// exchange sort's result, and a bob that moved far costs one walk instead of one pass per place.
void TBobs::sortz() {
    if (bobn < 2) return;
    ++callcounter;
    float z1 = 0, z2 = 0;
    try {
        for (int i = 2; i <= bobn; ++i) {
            TBobSlot* moving = bobarray[static_cast<size_t>(i)];
            const TBob* b = *moving;
            if (!b) throw Exception("empty bob slot");
            int j = i - 1;
            while (j >= 1) {
                const TBob* a = *bobarray[static_cast<size_t>(j)];
                if (!a) throw Exception("empty bob slot");
                z1 = a->Z, z2 = b->Z;
                if (!(a->Layer > b->Layer || (a->Layer == b->Layer && a->Z > b->Z))) break;
                bobarray[static_cast<size_t>(j + 1)] = bobarray[static_cast<size_t>(j)];
                --j;
            }
            bobarray[static_cast<size_t>(j + 1)] = moving;
        }
    } catch (const Exception&) {
        WriteLog("TBobs.paint.sortz: callcounter(" + std::to_string(callcounter) + ") bobn(" +
                 std::to_string(bobn) + ") ival(-1) step(-1) ;");
        WriteLog("TBobs.paint.sortz: z1(" + General(z1) + ") z2(" + General(z2) + ") ;");
        throw;
    }
    if (bobn + 1 <= Places) bobarray[static_cast<size_t>(bobn + 1)] = nullptr;
}

void TBobs::paint() {
    // The step is kept as a number and named only for the log: a frame allocates nothing.
    int place = 0;
    try {
        sortz();
        for (place = 1; place <= bobn; ++place) (*bobarray[static_cast<size_t>(place)])->paint();
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
        for (int i = 1; i <= PartCount; ++i) Bobs->Delete(&Parts[static_cast<size_t>(i)].Bob);
    PartCount = 0;
}

void TRBob::SetX(float v) {
    X = v;
    for (int i = 1; i <= PartCount; ++i)
        if (TBob* b = Parts[static_cast<size_t>(i)].Bob) b->X = v + Parts[static_cast<size_t>(i)].DX;
}

void TRBob::SetY(float v) {
    Y = v;
    for (int i = 1; i <= PartCount; ++i)
        if (TBob* b = Parts[static_cast<size_t>(i)].Bob) b->Y = v + Parts[static_cast<size_t>(i)].DY;
}

void TRBob::SetZ(float v) {
    Z = v;
    for (int i = 1; i <= PartCount; ++i)
        if (TBob* b = Parts[static_cast<size_t>(i)].Bob) b->Z = v + Parts[static_cast<size_t>(i)].DZ;
}

void TRBob::SetVisible(bool b) {
    Visible = b;
    for (int i = 1; i <= PartCount; ++i)
        if (TBob* bob = Parts[static_cast<size_t>(i)].Bob) bob->Visible = b;
}

int TRBob::AddPart(int sprite, int anim, float dx, float dy, float dz) {
    if (PartCount >= MaxParts) throw Exception("TRBob.AddPart: more than 50 parts");
    if (!Bobs) throw Exception("TRBob.AddPart: no sprite list");
    TBobPart& p = Parts[static_cast<size_t>(PartCount + 1)];
    Bobs->Add(sprite, anim, &p.Bob);
    ++PartCount;
    p.DX = dx, p.DY = dy, p.DZ = dz;
    return PartCount;
}

int TRBob::AddPartByName(const char* name, int anim, float dx, float dy, float dz) {
    return AddPart(FindSprite(name), anim, dx, dy, dz);
}

void TRBob::Animate() {
    for (int i = 1; i <= PartCount; ++i)
        if (TBob* b = Parts[static_cast<size_t>(i)].Bob) b->Animate();
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
