// The sound effects. Each is a short mono gesture rendered at 44100 Hz, then spread a little
// across the stereo field and written as 16-bit PCM.
#include <functional>

#include "Audio.h"
#include "Synth.h"

namespace assetgen {

namespace {

using Mono = std::vector<float>;

Mono Make(double seconds, const std::function<double(double t, size_t i)>& f) {
    Mono m(size_t(seconds * kRate));
    for (size_t i = 0; i < m.size(); ++i) m[i] = float(f(double(i) / kRate, i));
    // A few milliseconds of fade at both ends keep every effect free of clicks.
    size_t fade = std::min(m.size() / 4, size_t(kRate * 0.004));
    for (size_t i = 0; i < fade; ++i) {
        double g = double(i) / fade;
        m[i] = float(m[i] * g);
        m[m.size() - 1 - i] = float(m[m.size() - 1 - i] * g);
    }
    return m;
}

// A single bubble: a sine whose pitch rises as the bubble closes.
void AddBlip(Mono& m, double at, double f0, double f1, double len, double gain) {
    Osc o;
    size_t s = size_t(at * kRate), n = size_t(len * kRate);
    for (size_t i = 0; i < n && s + i < m.size(); ++i) {
        double t = double(i) / kRate, u = t / len;
        double f = f0 * std::pow(f1 / f0, std::sqrt(u));
        double env = std::sin(kPi * std::min(1.0, t / 0.003) / 2) * std::exp(-u * 4) * (1 - u);
        m[s + i] += float(o.Sine(f) * env * gain);
    }
}

Mono Schussab() {
    // Soft plop: a falling sine with a puff of filtered air.
    Osc o;
    White w(1);
    Svf f;
    return Make(0.16, [&](double t, size_t) {
        double freq = 110 + 420 * std::exp(-t * 45);
        f.Run(w.Next(), 900, 0.7);
        return o.Sine(freq) * std::exp(-t * 28) * 0.9 + f.lp * std::exp(-t * 60) * 0.6;
    });
}

Mono Abroll() {
    // Squelchy roll: resonant noise swept up and down, wobbling like wet latex.
    White w(2);
    Svf f;
    Osc wob;
    return Make(0.5, [&](double t, size_t) {
        double u = t / 0.5;
        double sweep = 350 + 1600 * std::sin(kPi * u) * (0.7 + 0.3 * wob.Sine(14));
        f.Run(w.Next(), sweep, 6);
        double env = std::sin(kPi * std::min(1.0, u * 1.2)) * (1 - 0.4 * u);
        return std::tanh(f.bp * 2.5) * env * 0.8;
    });
}

Mono Bubble() {
    Mono m(size_t(0.22 * kRate));
    AddBlip(m, 0.0, 520, 1300, 0.09, 0.8);
    AddBlip(m, 0.085, 700, 1650, 0.07, 0.5);
    return m;
}

Mono Bubbleize() {
    // A burst of bubbles of every size.
    Mono m(size_t(0.75 * kRate));
    Rng r(5);
    for (int i = 0; i < 16; ++i) {
        double at = 0.55 * std::pow(r.Real(), 1.4);
        double f0 = r.Range(350, 1100);
        AddBlip(m, at, f0, f0 * r.Range(2.0, 2.8), r.Range(0.04, 0.1), r.Range(0.3, 0.6));
    }
    return m;
}

Mono Torpedo() {
    // Rising whoosh: band-passed noise climbing, with a motor hum underneath.
    White w(3);
    Svf f;
    Osc hum;
    return Make(0.95, [&](double t, size_t) {
        double u = t / 0.95;
        double fc = 300 * std::pow(12.0, u);
        f.Run(w.Next(), fc, 2.5);
        double env = std::pow(std::sin(kPi * std::min(1.0, u * 1.15)), 0.7);
        double motor = hum.Pulse(70 + 260 * u, 0.3) * 0.18;
        return (f.bp * 1.4 + motor) * env;
    });
}

Mono Leer() {
    // Dry click of an empty barrel.
    White w(4);
    Svf f;
    Osc o;
    return Make(0.05, [&](double t, size_t) {
        f.Run(w.Next(), 3200, 3);
        return f.bp * std::exp(-t * 350) * 1.4 + o.Sine(1800) * std::exp(-t * 180) * 0.4;
    });
}

Mono Coming() {
    // Warning: three rising two-tone calls.
    Osc a, b;
    Svf f;
    return Make(0.95, [&](double t, size_t) {
        int k = int(t / 0.3);
        double lt = t - k * 0.3;
        double hz = MidiHz(72 + k * 3 + (lt > 0.12 ? 4 : 0));
        double env = lt > 0.24 ? 0.0 : std::min(1.0, lt / 0.01) * std::min(1.0, (0.24 - lt) / 0.02);
        // Soft enough not to hurt, bright enough to cut through the music.
        f.Run((a.Pulse(hz, 0.3) * 0.35 + b.Tri(hz * 2) * 0.3) * env, 3200, 0.8);
        return f.lp;
    });
}

Mono Spermdurch() {
    // Something got through: a falling buzz.
    Osc a, b;
    Svf f;
    return Make(0.55, [&](double t, size_t) {
        double fr = 520 * std::pow(0.35, t / 0.55);
        f.Run(a.Saw(fr) + b.Saw(fr * 1.01), 2000 - 2500 * t, 2);
        double env = std::min(1.0, t / 0.01) * std::exp(-t * 2.5);
        return f.lp * env * 0.6;
    });
}

// A brass-like note: detuned saws through a filter that opens on the attack.
void AddBrass(Mono& m, double at, double len, double note, double gain) {
    Osc o1, o2, o3;
    Svf f;
    double hz = MidiHz(note);
    size_t s = size_t(at * kRate), n = size_t((len + 0.25) * kRate);
    for (size_t i = 0; i < n && s + i < m.size(); ++i) {
        double t = double(i) / kRate;
        double env = Adsr(t, len, 0.02, 0.12, 0.75, 0.2);
        double x = o1.Saw(hz) + o2.Saw(hz * 1.004) + 0.5 * o3.Saw(hz * 0.5);
        f.Run(x, 600 + 3000 * env, 1.2);
        m[s + i] += float(f.lp * env * gain);
    }
}

Mono Fanfare() {
    Mono m(size_t(1.9 * kRate));
    const double n[] = {60, 64, 67};
    for (int i = 0; i < 3; ++i) AddBrass(m, i * 0.12, 0.1, n[i], 0.25);
    for (double k : {60.0, 64.0, 67.0, 72.0}) AddBrass(m, 0.38, 1.1, k, 0.18);
    return m;
}

Mono Sad() {
    // The descending "wah wah wah waaah".
    Mono m(size_t(2.4 * kRate));
    const double notes[] = {67, 66, 65, 64};
    for (int i = 0; i < 4; ++i) {
        double at = i * 0.42, len = i == 3 ? 1.3 : 0.34;
        Osc o1, o2;
        Osc lfo;
        Svf f;
        size_t s = size_t(at * kRate), cnt = size_t((len + 0.2) * kRate);
        for (size_t j = 0; j < cnt && s + j < m.size(); ++j) {
            double t = double(j) / kRate;
            double bend = i == 3 ? -0.6 * std::min(1.0, t / 1.2) : 0;
            double hz = MidiHz(notes[i] - 12 + bend + (i == 3 ? 0.15 * lfo.Sine(5) : 0));
            double env = Adsr(t, len, 0.03, 0.1, 0.8, 0.2);
            double wah = 400 + 1500 * std::sin(kPi * std::min(1.0, t / std::max(0.2, len)));
            f.Run(o1.Saw(hz) + o2.Pulse(hz, 0.4) * 0.5, wah, 4);
            m[s + j] += float(f.bp * env * 0.5);
        }
    }
    return m;
}

Mono Blip(double n0, double n1) {
    Osc o;
    return Make(0.1, [&](double t, size_t) {
        double hz = MidiHz(t < 0.045 ? n0 : n1);
        return o.Tri(hz) * 0.8 * std::exp(-std::fmod(t, 0.045) * 40);
    });
}

Mono Bigtime() {
    // Countdown tick: a hollow wood block.
    Osc a, b;
    return Make(0.09, [&](double t, size_t) {
        return (a.Sine(1250) * 0.8 + b.Sine(2630) * 0.3) * std::exp(-t * 70);
    });
}

Mono CatchSperm3() {
    // The golden catch: a sparkling bell arpeggio.
    Mono m(size_t(0.9 * kRate));
    const double notes[] = {84, 88, 91, 96};
    for (int k = 0; k < 4; ++k) {
        Osc c, mod;
        size_t s = size_t(k * 0.07 * kRate);
        for (size_t i = 0; s + i < m.size(); ++i) {
            double t = double(i) / kRate, hz = MidiHz(notes[k]);
            double idx = 2.5 * std::exp(-t * 8);
            double v = std::sin(2 * kPi * c.phase + idx * std::sin(2 * kPi * mod.phase));
            c.Advance(hz / kRate);
            mod.Advance(hz * 3.5 / kRate);
            m[s + i] += float(v * std::exp(-t * 6) * 0.28);
        }
    }
    return m;
}

Mono CatchVirus1() {
    // Zap: a fast FM sweep downwards.
    Osc c, mod;
    return Make(0.3, [&](double t, size_t) {
        double hz = 1800 * std::exp(-t * 12) + 90;
        double v = std::sin(2 * kPi * c.phase + 3 * std::sin(2 * kPi * mod.phase));
        c.Advance(hz / kRate);
        mod.Advance(hz * 1.5 / kRate);
        return v * std::exp(-t * 9) * 0.8;
    });
}

Mono CatchVirus2() {
    // Squish: low resonant gulp with bubbles.
    White w(9);
    Svf f;
    Mono m = Make(0.35, [&](double t, size_t) {
        f.Run(w.Next(), 200 + 900 * std::exp(-t * 10), 8);
        return std::tanh(f.bp * 3) * std::exp(-t * 9) * 0.7;
    });
    AddBlip(m, 0.12, 400, 1000, 0.08, 0.4);
    return m;
}

Mono CatchVirus3() {
    // Crunchy pop with a metallic ring.
    White w(10);
    Svf f;
    Osc a, b;
    return Make(0.4, [&](double t, size_t) {
        f.Run(w.Next(), 2500, 1);
        double crunch = f.bp * std::exp(-t * 40) * 1.2;
        double ring = (a.Sine(880) + b.Sine(1397)) * 0.25 * std::exp(-t * 8);
        return crunch + ring;
    });
}

void WriteEffect(const std::string& path, const Mono& m, uint64_t seed) {
    // A touch of width: the right channel a few samples late, so mono effects feel less flat.
    Stereo s(m.size() + 40);
    int delay = 8 + int(seed % 12);
    for (size_t i = 0; i < m.size(); ++i) {
        s.l[i] += m[i];
        s.r[i + size_t(delay)] += m[i] * 0.92f;
    }
    s.Normalize(0.85);
    WriteWav(path, s);
}

}  // namespace

void WriteEffects(const std::string& dir) {
    struct Item {
        const char* name;
        std::function<Mono()> make;
    };
    const Item items[] = {
        {"schussab", Schussab},
        {"abroll", Abroll},
        {"bubble", Bubble},
        {"bubbleize", Bubbleize},
        {"Torpedo", Torpedo},
        {"leer", Leer},
        {"coming", Coming},
        {"spermdurch", Spermdurch},
        {"TR_06_03", Fanfare},
        {"TR_66_02", Sad},
        {"TR_50_07", [] { return Blip(79, 84); }},
        {"TR_50_08", [] { return Blip(84, 79); }},
        {"bigtime", Bigtime},
        {"sperm3", CatchSperm3},
        {"virus1", CatchVirus1},
        {"virus2", CatchVirus2},
        {"virus3", CatchVirus3},
    };
    uint64_t seed = 0;
    for (const Item& it : items) WriteEffect(dir + "/" + it.name + ".wav", it.make(), seed++);
}

}  // namespace assetgen
