#include "tools/autoplay/AutoPlayer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "game/GameGlobals.h"
#include "game/RohrUnit.h"
#include "game/SchussUnit.h"
#include "game/SpermUnit.h"
#include "game/scoreunit.h"
#include "screen/DDrawUnit.h"
#include "sprites/SpriteDefs.h"

namespace zx {

std::optional<TSkill> SkillByName(std::string_view name) {
    if (name == "idle") return TSkill::Idle;
    if (name == "careless") return TSkill::Careless;
    if (name == "good") return TSkill::Good;
    if (name == "human") return TSkill::Human;
    return std::nullopt;
}

const char* SkillName(TSkill skill) {
    switch (skill) {
        case TSkill::Idle: return "idle";
        case TSkill::Careless: return "careless";
        case TSkill::Good: return "good";
        case TSkill::Human: return "human";
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
constexpr int kTitleWait = 40;  // ticks a player looks at the title before clicking
constexpr int kInfoWait = 50;   // and at the info picture before leaving
constexpr int kCrowd = 2;       // viruses in one torpedo band worth a torpedo
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

// The human skill's picture of the game: what it has noticed of each swimmer and what it
// believes about it, what it attends to, and where its hand is.
struct TAutoPlayer::HumanMind {
    struct Seen {
        bool Visible = false;
        float X = 0.0f;
        int64_t NoticeAt = 0;    // tick from which the player knows of this swimmer
        double SpeedBias = 1.0;  // its speed as the player judges it, relative to the true one
        int64_t ShotUntil = -1;  // a shot is on its way: believed taken care of until this tick
        bool Hit = false;        // seen caught by a condom
    };
    std::array<Seen, TSpermien::MaxSperm + 1> Slots{};
    int64_t Now = 0;
    int64_t NextScan = 0;
    int64_t NextClick = 0;
    std::vector<int> Attended;
    // The hand: gliding from one height to another, then waiting to click.
    bool Gliding = false, Ready = false;
    float GlideFrom = 0.0f, GlideTo = 0.0f;
    int GlideTick = 0, GlideTicks = 0;
    int Target = 0;
    bool TorpedoPlanned = false;
    std::vector<int> Band;  // what a torpedo at this height is meant to take
};

TAutoPlayer::TAutoPlayer(TSkill skill, uint32_t seed, std::string name, int games,
                         const THumanLimits& limits)
    : skill_(skill), rng_(seed ^ 0x5bd1e995u), name_(std::move(name)), games_(games),
      limits_(limits), mind_(std::make_unique<HumanMind>()) {}

TAutoPlayer::~TAutoPlayer() = default;

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
    *mind_ = HumanMind{};
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

void TAutoPlayer::Play(TTickInput& in, const TDDFullScreenForm1& /*screen*/) {
    if (skill_ == TSkill::Human) {
        PlayHuman(in);
        return;
    }
    if (cooldown_ > 0) --cooldown_;
    if (Anzeige->Lost || Anzeige->Won || PendingShots > 0 || cooldown_ > 0) return;
    switch (skill_) {
        case TSkill::Idle: break;
        case TSkill::Careless: PlayCareless(in); break;
        case TSkill::Good: PlayGood(in); break;
        case TSkill::Human: break;
    }
}

void TAutoPlayer::LearnShotSizes() {
    if (condomHalf_ != 0.0f) return;
    condomHalf_ = SpriteHeight("schuss") / 2.0f;
    torpedoHalf_ = SpriteHeight("torpedo") / 2.0f * 4.0f;
}

void TAutoPlayer::PlayCareless(TTickInput& in) {
    // Now and then a click wherever the hand happens to be.
    Click(in, std::uniform_int_distribution<int32_t>(20, 580)(rng_));
    cooldown_ = std::uniform_int_distribution<int>(5, 35)(rng_);
}

void TAutoPlayer::PlayGood(TTickInput& in) {
    if (!Spermien || !Schuesse || !Rohre || !Rohre->Cannon) return;
    LearnShotSizes();
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
    std::sort(flying.begin(), flying.end(),
              [](const TSchuss* a, const TSchuss* b) { return a->X < b->X; });
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
        return static_cast<int32_t>(std::lround(std::clamp(y, -kCannonRange, kCannonRange) + off)) +
               300;
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
        return (kEscapeX - a->Front) / std::max(a->V, 0.1f) <
               (kEscapeX - b->Front) / std::max(b->V, 0.1f);
    });

    // A crowd of viruses in one torpedo band is worth a torpedo.
    if (Anzeige->TorpedoesLeft > 0 && static_cast<int>(viruses.size()) >= kCrowd) {
        // The band is tried on every virus and midway between every two.
        std::vector<float> centres;
        for (size_t i = 0; i < viruses.size(); ++i)
            for (size_t j = i; j < viruses.size(); ++j)
                centres.push_back((viruses[i]->Y + viruses[j]->Y) / 2.0f);
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
        const float value =
            static_cast<float>(w.Points + bonus + kCondomShotCost) + 1.0f / static_cast<float>(k);
        if (value > bestValue) best = &w, bestValue = value;
    }
    if (best) Click(in, aim(best->Y));
}

void TAutoPlayer::PlayHuman(TTickInput& in) {
    HumanMind& m = *mind_;
    const THumanLimits& L = limits_;
    ++m.Now;
    if (!Spermien || !Rohre || !Rohre->Cannon) return;
    LearnShotSizes();
    auto ticks = [](double ms) { return static_cast<int64_t>(std::lround(ms / 20.0)); };
    auto normal = [&](double mean, double spread) {
        return std::normal_distribution<double>(mean, spread)(rng_);
    };
    auto chance = [&](double p) {
        return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p;
    };

    // Seeing: a swimmer that shows up (or a slot that starts over at the left edge) is a newcomer,
    // known only after a reaction time, sometimes much later; its speed is judged once, roughly.
    for (int i = 1; i <= Spermien->Sperm.Count(); ++i) {
        const TSperm& s = *Spermien->Sperm[i];
        HumanMind::Seen& seen = m.Slots[static_cast<size_t>(i)];
        if (s.Visible && (!seen.Visible || s.X < seen.X - 50.0f)) {
            double delay = std::max(L.ReactionMinMs, normal(L.ReactionMs, L.ReactionSpreadMs));
            if (chance(L.LateChance))
                delay += std::uniform_real_distribution<double>(L.LateMinMs, L.LateMaxMs)(rng_);
            seen.NoticeAt = m.Now + ticks(delay);
            seen.SpeedBias = std::max(0.5, normal(1.0, L.SpeedJudgement));
            seen.ShotUntil = -1;
        }
        seen.Visible = s.Visible;
        seen.X = s.X;
    }
    // A condom that rolls over a swimmer nobody aimed at was meant for something behind it on
    // the same line: seen a reaction later, that one is wanted again.
    for (int i = 1; i <= Spermien->Sperm.Count(); ++i) {
        const TSperm& s = *Spermien->Sperm[i];
        HumanMind::Seen& seen = m.Slots[static_cast<size_t>(i)];
        const bool caught = s.Visible && s.Hit && !seen.Hit;
        seen.Hit = s.Visible && s.Hit;
        if (!caught || seen.ShotUntil > m.Now) continue;
        const int64_t again =
            m.Now + ticks(std::max(L.ReactionMinMs, normal(L.ReactionMs, L.ReactionSpreadMs)));
        for (int j = 1; j <= Spermien->Sperm.Count(); ++j) {
            HumanMind::Seen& meant = m.Slots[static_cast<size_t>(j)];
            const TSperm& o = *Spermien->Sperm[j];
            if (j != i && meant.ShotUntil > again && !o.Hit && std::fabs(o.Y - s.Y) < condomHalf_)
                meant.ShotUntil = again;
        }
    }
    if (Anzeige->Lost || Anzeige->Won) return;

    const TRohr& cannon = *Rohre->Cannon;
    const float muzzle = cannon.X - cannon.Parts[1].Bob->Width / 2.0f + 10.0f;
    // A shot covers about ten units a frame; the swimmer comes towards it.
    auto judgedMeet = [&](const TSperm& s, const HumanMind::Seen& seen) {
        const float front = s.X + s.BodyWidth() / 2.0f;
        return static_cast<double>(muzzle - front) / (10.0 + s.VelX * seen.SpeedBias);
    };
    auto judgedEscape = [&](const TSperm& s, const HumanMind::Seen& seen) {
        const float front = s.X + s.BodyWidth() / 2.0f;
        return static_cast<double>(kEscapeX - front) / std::max(0.1, s.VelX * seen.SpeedBias);
    };
    // What the player would go for: noticed, still coming, in reach, not already shot at.
    auto candidate = [&](int i) {
        const TSperm& s = *Spermien->Sperm[i];
        const HumanMind::Seen& seen = m.Slots[static_cast<size_t>(i)];
        if (!s.Visible || s.Hit || s.Kind == 0 || m.Now < seen.NoticeAt || seen.ShotUntil > m.Now)
            return false;
        if (s.X + s.BodyWidth() / 2.0f > kEscapeX) return false;
        if (std::fabs(s.Y) >= kCannonRange + condomHalf_) return false;
        // A sperm that looks too close to get is let go; a virus is always worth a try.
        return s.Fatal || judgedEscape(s, seen) > judgedMeet(s, seen) + ticks(L.ReactionMs);
    };
    // Viruses before sperm, the soonest through first, golden sperm before the others.
    auto urgency = [&](int i) {
        const TSperm& s = *Spermien->Sperm[i];
        const double t = judgedEscape(s, m.Slots[static_cast<size_t>(i)]);
        if (s.Fatal) return t;
        return 10000.0 + t - (s.Kind == 3 ? 1000.0 : 0.0);
    };

    // On the way to a sperm, the eyes still look round; a virus seen then is worth changing course.
    if ((m.Gliding || m.Ready) && m.Now >= m.NextScan && !Spermien->Sperm[m.Target]->Fatal) {
        bool virus = false;
        for (int i = 1; i <= Spermien->Sperm.Count() && !virus; ++i)
            virus = Spermien->Sperm[i]->Fatal && candidate(i);
        if (virus) m.Gliding = m.Ready = false;
    }
    // The hand glides to its mark, then clicks when the finger is ready.
    if (m.Gliding) {
        ++m.GlideTick;
        const float u =
            std::min(1.0f, static_cast<float>(m.GlideTick) / static_cast<float>(m.GlideTicks));
        const float shape = u * u * u * (10.0f - 15.0f * u + 6.0f * u * u);  // minimum jerk
        mouseY_ =
            static_cast<int32_t>(std::lround(m.GlideFrom + (m.GlideTo - m.GlideFrom) * shape));
        in.MouseY = mouseY_;
        if (u < 1.0f) return;
        m.Gliding = false;
        m.Ready = true;
    }
    if (m.Ready) {
        const TSperm& t = *Spermien->Sperm[m.Target];
        if (!t.Visible || t.Hit) {
            m.Ready = false;  // gone before the click: look for the next
        } else if (m.Now < m.NextClick) {
            return;
        } else {
            Click(in, mouseY_);
            m.Ready = false;
            m.NextClick =
                m.Now + ticks(std::max(L.ClickGapMinMs, normal(L.ClickGapMs, L.ClickGapSpreadMs)));
            // Believed caught once the shot should have met it, and a reaction later seen not to be.
            for (const int i : m.Band) {
                HumanMind::Seen& seen = m.Slots[static_cast<size_t>(i)];
                const TSperm& s = *Spermien->Sperm[i];
                seen.ShotUntil =
                    m.Now + static_cast<int64_t>(judgedMeet(s, seen)) +
                    ticks(std::max(L.ReactionMinMs, normal(L.ReactionMs, L.ReactionSpreadMs)));
            }
            return;
        }
    }

    // The eyes: what is attended is reconsidered with every fixation; in between, what has been
    // dealt with drops out.
    std::erase_if(m.Attended, [&](int i) { return !candidate(i); });
    if (m.Now >= m.NextScan) {
        m.NextScan = m.Now + ticks(std::max(100.0, normal(L.ScanMs, L.ScanSpreadMs)));
        std::vector<int> all;
        for (int i = 1; i <= Spermien->Sperm.Count(); ++i)
            if (candidate(i)) all.push_back(i);
        std::sort(all.begin(), all.end(), [&](int a, int b) { return urgency(a) < urgency(b); });
        if (static_cast<int>(all.size()) > L.Attention)
            all.resize(static_cast<size_t>(L.Attention));
        m.Attended = std::move(all);
    }
    if (m.Attended.empty()) return;
    const int target = *std::min_element(m.Attended.begin(), m.Attended.end(),
                                         [&](int a, int b) { return urgency(a) < urgency(b); });
    const TSperm& t = *Spermien->Sperm[target];
    float aimY = t.Y;
    float band = condomHalf_;
    m.Band.assign(1, target);
    m.TorpedoPlanned = false;

    // A bunch of viruses in one band: a torpedo, if there is one left.
    if (t.Fatal && Anzeige->TorpedoesLeft > 0) {
        std::vector<int> viruses;
        for (const int i : m.Attended)
            if (Spermien->Sperm[i]->Fatal) viruses.push_back(i);
        const float reach = torpedoHalf_ - 10.0f;
        for (const int other : viruses) {
            const float centre = (t.Y + Spermien->Sperm[other]->Y) / 2.0f;
            std::vector<int> in_band;
            for (const int v : viruses)
                if (std::fabs(Spermien->Sperm[v]->Y - centre) < reach) in_band.push_back(v);
            if (static_cast<int>(in_band.size()) >= L.TorpedoCrowd &&
                in_band.size() > m.Band.size()) {
                m.Band = in_band;
                aimY = centre;
                band = torpedoHalf_;
                m.TorpedoPlanned = true;
            }
        }
    }
    if (m.TorpedoPlanned != Anzeige->TorpedoArmed)
        in.Messages.push_back({TInputMessage::Char, 'T', false});

    // Off to the new height: Fitts' law for the time, and a hand that stops a little off the mark.
    const float to = std::clamp(aimY, -kCannonRange, kCannonRange) + 300.0f +
                     static_cast<float>(normal(0.0, L.AimSpreadPx));
    const double distance = std::fabs(to - static_cast<float>(mouseY_));
    const double bits = std::log2(distance / (2.0 * band) + 1.0);
    m.Target = target;
    m.GlideFrom = static_cast<float>(mouseY_);
    m.GlideTo = to;
    m.GlideTick = 0;
    m.GlideTicks =
        static_cast<int>(std::max<int64_t>(1, ticks(1000.0 * bits / L.FittsBitsPerSecond)));
    m.Gliding = true;
    for (const int i : m.Band) std::erase(m.Attended, i);
}

}  // namespace zx
