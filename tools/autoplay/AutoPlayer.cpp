#include "tools/autoplay/AutoPlayer.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "display/DDrawUnit.h"
#include "game/GameGlobals.h"
#include "game/RohrUnit.h"
#include "game/SchussUnit.h"
#include "game/SpermUnit.h"
#include "game/scoreunit.h"
#include "sprites/SpriteDefs.h"

namespace zx {

std::optional<TSkill> SkillByName(std::string_view name) {
    if (name == "idle") return TSkill::Idle;
    if (name == "careless") return TSkill::Careless;
    if (name == "good") return TSkill::Good;
    return std::nullopt;
}

const char* SkillName(TSkill skill) {
    switch (skill) {
        case TSkill::Idle: return "idle";
        case TSkill::Careless: return "careless";
        case TSkill::Good: return "good";
    }
    return "?";
}

TTickInput TReplayInput::Next(const TDDFullScreenForm1& screen) {
    if (next_ < replay_.Ticks.size()) return replay_.Ticks[next_++];
    TTickInput still;
    still.MouseX = screen.MouseX;
    still.MouseY = screen.MouseY;
    return still;
}

namespace {

// What a person sees of the rules: a front end past x 400 has got through; a shot catches a
// front end up to 100 to its left and within its half-height above or below.
constexpr float kEscapeX = 400.0f;
constexpr float kReach = 100.0f;
// Never count on a catch this close to the edge: the cannon's recoil moves the muzzle.
constexpr float kEscapeMargin = 6.0f;
constexpr int kTitleWait = 40;    // ticks a player looks at the title before clicking
constexpr int kInfoWait = 50;     // and at the info picture before leaving
constexpr int kCrowd = 2;         // viruses in one torpedo band worth a torpedo
// A person's limits: a good player clicks at most ten times a second, notices a newcomer a
// quarter of a second after it swims in, and puts the mouse a few pixels off.
constexpr int kClickGap = 5;
constexpr int kReactionTicks = 12;
constexpr double kAimSpread = 5.0;

float SpriteHeight(const char* name) {
    const int s = FindSprite(name);
    if (s <= 0) return 0.0f;
    return static_cast<float>(Frames[static_cast<size_t>(FirstFrame(s))].SrcH);
}

struct Swimmer {
    int Slot;
    float Front, Y, V;
    bool Fatal;
    int Points;
    bool Covered = false;
};

// Frames until a shot now at x with velocity vel (thrust thrust, the game's damping) meets a
// front end now at f swimming right at v; -1 when it gets through first or the shot is past it.
// Each frame the swimmer moves (and may get through) before the shot moves and looks.
int MeetFrame(float x, float vel, float thrust, float f, float v) {
    for (int k = 1; k <= 200; ++k) {
        const float fk = f + v * static_cast<float>(k);
        if (fk > kEscapeX - kEscapeMargin) return -1;
        vel = (vel + thrust) / 1.1f;
        x += vel;
        if (fk >= x) return -1;
        if (fk > x - kReach) return k;
        if (x < -800.0f) return -1;
    }
    return -1;
}

// The velocity a shot has when it appears: the launch runs twenty motion steps first.
float LaunchVelocity(float thrust) {
    float v = 0.0f;
    for (int i = 0; i < 20; ++i) v = (v + thrust) / 1.1f;
    return v;
}

}  // namespace

TAutoPlayer::TAutoPlayer(TSkill skill, uint32_t seed, std::string name, int games)
    : skill_(skill), rng_(seed ^ 0x5bd1e995u), name_(std::move(name)), games_(games) {}

void TAutoPlayer::Click(TTickInput& in, int32_t y) {
    mouseY_ = y;
    in.MouseY = y;
    in.Messages.push_back({TInputMessage::MouseDown, SDL_BUTTON_LEFT, false});
    in.Messages.push_back({TInputMessage::MouseUp, SDL_BUTTON_LEFT, false});
}

TTickInput TAutoPlayer::Next(const TDDFullScreenForm1& screen) {
    TTickInput in;
    in.MouseX = mouseX_;
    in.MouseY = mouseY_;
    const auto state = screen.GlsProc;
    if (state == &TDDFullScreenForm1::glsInfo) {
        // Leaving: look at the picture a moment, then click it away.
        if (++waited_ == kInfoWait) Click(in, mouseY_);
        return in;
    }
    if (!Anzeige || leaving_) return in;
    if (Anzeige->AnyEntryEditing()) {
        TypeName(in);
        return in;
    }
    typed_ = 0;
    if (state == &TDDFullScreenForm1::glsBegin && !GamePlaying) {
        Title(in);
    } else if (GamePlaying) {
        waited_ = 0;
        Play(in, screen);
    }
    return in;
}

void TAutoPlayer::Title(TTickInput& in) {
    if (++waited_ < kTitleWait) return;
    waited_ = 0;
    if (games_ > 0 && started_ >= games_) {
        leaving_ = true;
        in.Messages.push_back({TInputMessage::KeyDown, VK_ESCAPE, false});
        in.Messages.push_back({TInputMessage::Char, 27, false});
        return;
    }
    ++started_;
    Click(in, mouseY_);
}

void TAutoPlayer::TypeName(TTickInput& in) {
    // One key a tick, as fast as anyone types; then Enter.
    if (typed_ < name_.size()) {
        in.Messages.push_back({TInputMessage::Char, static_cast<uint8_t>(name_[typed_++]), false});
    } else {
        in.Messages.push_back({TInputMessage::KeyDown, VK_RETURN, false});
        in.Messages.push_back({TInputMessage::Char, 13, false});
        typed_ = 0;
    }
}

void TAutoPlayer::Play(TTickInput& in, const TDDFullScreenForm1& screen) {
    if (cooldown_ > 0) --cooldown_;
    if (Anzeige->Lost || Anzeige->Won || screen.PendingShots > 0 || cooldown_ > 0) return;
    switch (skill_) {
        case TSkill::Idle: break;
        case TSkill::Careless: PlayCareless(in); break;
        case TSkill::Good: PlayGood(in); break;
    }
}

void TAutoPlayer::PlayCareless(TTickInput& in) {
    // Now and then a click wherever the hand happens to be.
    Click(in, std::uniform_int_distribution<int32_t>(20, 580)(rng_));
    cooldown_ = std::uniform_int_distribution<int>(5, 35)(rng_);
}

void TAutoPlayer::PlayGood(TTickInput& in) {
    if (!Spermien || !Schuesse || !Rohre || !Rohre->Cannon) return;
    if (condomHalf_ == 0.0f) {
        condomHalf_ = SpriteHeight("schuss") / 2.0f;
        torpedoHalf_ = SpriteHeight("torpedo") / 2.0f * 4.0f;
    }
    const float condomHalf = condomHalf_, torpedoHalf = torpedoHalf_;
    const float condomThrust = -1.0f, torpedoThrust = -2.0f;

    std::vector<Swimmer> swimmers;
    for (int i = 1; i <= Spermien->Sperm.Count(); ++i) {
        const TSperm* s = Spermien->Sperm[i].get();
        if (!s || !s->Visible || s->Hit || s->Kind == 0) continue;
        const float front = s->X + s->BodyWidth() / 2.0f;
        if (front > kEscapeX) continue;
        swimmers.push_back({i, front, s->Y, s->VelX, s->Fatal, CatchPoints(s->PointsCode)});
    }

    // Who is already taken care of: a torpedo meets every swimmer in its band; a condom catches
    // the first one it meets that no condom ahead of it (further left) catches before.
    std::vector<const TSchuss*> flying;
    for (int j = 1; j <= Schuesse->Shot.Count(); ++j) {
        const TSchuss* shot = Schuesse->Shot[j].get();
        if (shot && shot->Visible && shot->Parts[1].Bob->Visible) flying.push_back(shot);
    }
    std::sort(flying.begin(), flying.end(), [](const TSchuss* a, const TSchuss* b) { return a->X < b->X; });
    for (const TSchuss* shot : flying) {
        const float thrust = shot->IsTorpedo ? torpedoThrust : condomThrust;
        Swimmer* first = nullptr;
        int firstK = 0;
        for (auto& w : swimmers) {
            if (std::fabs(w.Y - shot->Y) >= shot->HalfHeight) continue;
            const int k = MeetFrame(shot->X, shot->VelX, thrust, w.Front, w.V);
            if (k < 0) continue;
            if (shot->IsTorpedo) {
                w.Covered = true;
            } else if (!w.Covered && (!first || k < firstK)) {
                first = &w;
                firstK = k;
            }
        }
        if (first) first->Covered = true;
    }

    // The cannon moves to the mouse before it fires, within its range.
    const TRohr& cannon = *Rohre->Cannon;
    const float muzzle = cannon.X - cannon.Parts[1].Bob->Width / 2.0f + 10.0f;
    auto reachable = [&](float y, float half) { return std::fabs(y) < kCannonRange + half; };
    auto aim = [&](float y) {
        cooldown_ = kClickGap;
        const double off = std::normal_distribution<double>(0.0, kAimSpread)(rng_);
        return static_cast<int32_t>(std::lround(std::clamp(y, -kCannonRange, kCannonRange) + off)) + 300;
    };
    // Newcomers are noticed only after a moment.
    auto noticed = [](const Swimmer& w) { return w.Front >= -400.0f + kReactionTicks * w.V; };
    const float condomLaunch = LaunchVelocity(condomThrust);
    const float torpedoLaunch = LaunchVelocity(torpedoThrust);

    // Torpedoes stay armed after a shot: put it away unless another one is meant.
    bool armed = Anzeige->TorpedoArmed;
    auto disarm = [&] {
        if (!armed) return;
        in.Messages.push_back({TInputMessage::Char, 'T', false});
        armed = false;
    };

    // Viruses first, the one nearest to getting through first.
    std::vector<const Swimmer*> viruses;
    for (const auto& w : swimmers)
        if (w.Fatal && !w.Covered && noticed(w) && reachable(w.Y, condomHalf) &&
            MeetFrame(muzzle, condomLaunch, condomThrust, w.Front, w.V) > 0)
            viruses.push_back(&w);
    std::sort(viruses.begin(), viruses.end(), [](const Swimmer* a, const Swimmer* b) {
        return (kEscapeX - a->Front) / std::max(a->V, 0.1f) < (kEscapeX - b->Front) / std::max(b->V, 0.1f);
    });

    // A crowd of viruses in one torpedo band is worth a torpedo.
    if (Anzeige->TorpedoesLeft > 0 && static_cast<int>(viruses.size()) >= kCrowd) {
        // The band is tried on every virus and midway between every two.
        std::vector<float> centres;
        for (size_t i = 0; i < viruses.size(); ++i)
            for (size_t j = i; j < viruses.size(); ++j) centres.push_back((viruses[i]->Y + viruses[j]->Y) / 2.0f);
        float bestY = 0.0f;
        int best = 0;
        for (const float c : centres) {
            const float y = std::clamp(c, -kCannonRange, kCannonRange);
            int n = 0;
            for (const Swimmer* v : viruses)
                if (std::fabs(v->Y - y) < torpedoHalf - 4.0f &&
                    MeetFrame(muzzle, torpedoLaunch, torpedoThrust, v->Front, v->V) > 0)
                    ++n;
            if (n > best) best = n, bestY = y;
        }
        if (best >= kCrowd) {
            if (!armed) in.Messages.push_back({TInputMessage::Char, 'T', false});
            Click(in, aim(bestY));
            return;
        }
    }
    disarm();
    if (!viruses.empty()) {
        Click(in, aim(viruses.front()->Y));
        return;
    }

    // Then the sperm: the most points soonest, the golden ones before all.
    const Swimmer* best = nullptr;
    float bestValue = 0.0f;
    for (const auto& w : swimmers) {
        if (w.Fatal || w.Covered || !noticed(w) || !reachable(w.Y, condomHalf)) continue;
        const int k = MeetFrame(muzzle, condomLaunch, condomThrust, w.Front, w.V);
        if (k < 0) continue;
        // The caught condom sits 120 behind the front end; left of -200 it earns the bonus.
        const float caughtX = w.Front + w.V * static_cast<float>(k) - 120.0f;
        const int bonus = caughtX < kEarlyCatchX ? kEarlyCatchBonus : 0;
        const float value = static_cast<float>(w.Points + bonus + kCondomShotCost) + 1.0f / static_cast<float>(k);
        if (value > bestValue) best = &w, bestValue = value;
    }
    if (best) Click(in, aim(best->Y));
}

}  // namespace zx
