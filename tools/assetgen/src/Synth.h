#pragma once
// A small synthesiser: oscillators, filters, envelopes and a stereo mix buffer that can wrap
// around, so that a loop's ringing tails land in its own beginning and the loop joins seamlessly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "Common.h"

namespace assetgen {

constexpr int kRate = 44100;

inline double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Band-limited step correction for saw and pulse waves.
inline double PolyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1;
    }
    if (t > 1 - dt) {
        t = (t - 1) / dt;
        return t * t + t + t + 1;
    }
    return 0;
}

struct Osc {
    double phase = 0;
    double Saw(double hz) {
        double dt = hz / kRate;
        double v = 2 * phase - 1 - PolyBlep(phase, dt);
        Advance(dt);
        return v;
    }
    double Pulse(double hz, double width) {
        double dt = hz / kRate;
        double v = phase < width ? 1 : -1;
        v += PolyBlep(phase, dt);
        double t2 = phase - width;
        if (t2 < 0) t2 += 1;
        v -= PolyBlep(t2, dt);
        Advance(dt);
        return v;
    }
    double Sine(double hz) {
        double v = std::sin(2 * kPi * phase);
        Advance(hz / kRate);
        return v;
    }
    double Tri(double hz) {
        double v = phase < 0.5 ? 4 * phase - 1 : 3 - 4 * phase;
        Advance(hz / kRate);
        return v;
    }
    void Advance(double dt) {
        phase += dt;
        phase -= std::floor(phase);
    }
};

// Trapezoidal state-variable filter (stable under fast cutoff changes).
struct Svf {
    double ic1 = 0, ic2 = 0;
    double lp = 0, bp = 0, hp = 0;
    double lastHz = -1, lastQ = -1, g = 0, k = 0, a1 = 0, a2 = 0, a3 = 0;
    void Run(double x, double hz, double q) {
        hz = std::clamp(hz, 10.0, kRate * 0.45);
        // The coefficients only change when the cutoff moves audibly: tan() is the costly part.
        if (std::fabs(hz - lastHz) > lastHz * 0.002 || q != lastQ) {
            lastHz = hz;
            lastQ = q;
            g = std::tan(kPi * hz / kRate);
            k = 1.0 / std::max(0.5, q);
            a1 = 1 / (1 + g * (g + k));
            a2 = g * a1;
            a3 = g * a2;
        }
        double v3 = x - ic2, v1 = a1 * ic1 + a2 * v3, v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        lp = v2;
        bp = v1;
        hp = x - k * v1 - v2;
    }
};

struct White {
    Rng rng;
    explicit White(uint64_t seed) : rng(seed) {}
    double Next() { return rng.Real() * 2 - 1; }
};

// Attack/decay/sustain/release by time since note start, for a note of length `len` seconds.
inline double Adsr(double t, double len, double a, double d, double s, double r) {
    double v;
    if (t < a)
        v = t / a;
    else if (t < a + d)
        v = 1 - (1 - s) * (t - a) / d;
    else
        v = s;
    if (t > len) v *= std::exp(-(t - len) / std::max(1e-4, r / 5));
    return v;
}

struct Stereo {
    std::vector<float> l, r;
    bool wrap = false;
    explicit Stereo(size_t n, bool loop = false) : l(n, 0.f), r(n, 0.f), wrap(loop) {}
    size_t Size() const { return l.size(); }
    void Add(long i, double vl, double vr) {
        long n = long(l.size());
        if (wrap) {
            i %= n;
            if (i < 0) i += n;
        } else if (i < 0 || i >= n) {
            return;
        }
        l[size_t(i)] += float(vl);
        r[size_t(i)] += float(vr);
    }
    // Adds a mono signal at `start`, panned (-1 left .. 1 right) with equal power.
    void AddMono(long start, const std::vector<float>& x, double gain, double pan) {
        double gl = gain * std::cos((pan + 1) * kPi / 4), gr = gain * std::sin((pan + 1) * kPi / 4);
        for (size_t i = 0; i < x.size(); ++i) Add(start + long(i), x[i] * gl, x[i] * gr);
    }
    void Normalize(double peak) {
        double m = 1e-9;
        for (size_t i = 0; i < l.size(); ++i)
            m = std::max({m, double(std::fabs(l[i])), double(std::fabs(r[i]))});
        double g = peak / m;
        for (size_t i = 0; i < l.size(); ++i) {
            l[i] = float(l[i] * g);
            r[i] = float(r[i] * g);
        }
    }
};

void WriteWav(const std::string& path, const Stereo& s);
void WriteMp3(const std::string& path, const Stereo& s);

}  // namespace assetgen
