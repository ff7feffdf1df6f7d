// The three music tracks: the title loop, the play loop and the highscore jingle. A tiny step
// sequencer places notes of a few instruments on a 16th grid; loops are mixed into a buffer that
// wraps, and their effects run round the loop twice, so the end flows into the start.
#include <map>
#include <sstream>

#include "Audio.h"
#include "Synth.h"

namespace assetgen {

namespace {

using Mono = std::vector<float>;

int NoteNumber(const std::string& s) {
    static const std::map<char, int> base = {{'C', 0}, {'D', 2}, {'E', 4}, {'F', 5},
                                             {'G', 7}, {'A', 9}, {'B', 11}};
    size_t i = 0;
    int n = base.at(s[i++]);
    if (s[i] == '#') n++, i++;
    if (s[i] == 'b') n--, i++;
    int oct = std::stoi(s.substr(i));
    return 12 * (oct + 1) + n;
}

struct Note {
    double step, len;  // in 16ths
    int midi;
};

// "E5:4 D5:2 - :4" -> notes on the 16th grid, starting at `bar`.
std::vector<Note> Phrase(const std::string& text, int bar) {
    std::vector<Note> out;
    std::istringstream ss(text);
    std::string tok;
    double pos = bar * 16.0;
    while (ss >> tok) {
        if (tok == "|") continue;
        size_t c = tok.find(':');
        double len = std::stod(tok.substr(c + 1));
        std::string name = tok.substr(0, c);
        if (name != "-") out.push_back({pos, len, NoteNumber(name)});
        pos += len;
    }
    return out;
}

// ------------------------------------------------------------------ instruments

Mono Kick(double gain) {
    Mono m(size_t(0.45 * kRate));
    double ph = 0;
    White w(21);
    for (size_t i = 0; i < m.size(); ++i) {
        double t = double(i) / kRate;
        double f = 44 + 120 * std::exp(-t * 28);
        ph += f / kRate;
        double v =
            std::sin(2 * kPi * ph) * std::exp(-t * 6.5) + w.Next() * std::exp(-t * 700) * 0.1;
        m[i] = float(std::tanh(v * 1.2) * gain);
    }
    return m;
}

Mono Snare(double gain, uint64_t seed) {
    Mono m(size_t(0.3 * kRate));
    White w(seed);
    Svf f;
    Osc o;
    for (size_t i = 0; i < m.size(); ++i) {
        double t = double(i) / kRate;
        f.Run(w.Next(), 1900, 0.9);
        double v = o.Sine(190 - 30 * t) * std::exp(-t * 25) * 0.6 +
                   (f.bp * 1.2 + f.hp * 0.1) * std::exp(-t * 15);
        m[i] = float(v * gain);
    }
    return m;
}

Mono Hat(double gain, double decay, uint64_t seed) {
    Mono m(size_t(std::min(0.4, 6 / decay) * kRate));
    White w(seed);
    Svf f;
    for (size_t i = 0; i < m.size(); ++i) {
        double t = double(i) / kRate;
        f.Run(w.Next(), 8000, 0.8);
        m[i] = float(f.hp * std::exp(-t * decay) * gain);
    }
    return m;
}

Mono Bass(double hz, double len) {
    Mono m(size_t((len + 0.08) * kRate));
    Osc a, sub;
    Svf f;
    for (size_t i = 0; i < m.size(); ++i) {
        double t = double(i) / kRate;
        double env = Adsr(t, len, 0.004, 0.15, 0.7, 0.05);
        double x = a.Saw(hz) * 0.6 + sub.Sine(hz) * 0.8;
        f.Run(x, 220 + 1400 * std::exp(-t * 12), 1.4);
        m[i] = float(f.lp * env);
    }
    return m;
}

void Pad(Stereo& s, Stereo& send, double sendGain, long start, double len, int midi, double gain) {
    // Three detuned saws per note, soft attack, spread across the stereo field.
    const double det[3] = {-0.09, 0.0, 0.1};
    const double pans[3] = {-0.6, 0.0, 0.6};
    size_t n = size_t((len + 0.7) * kRate);
    for (int v = 0; v < 3; ++v) {
        Osc o;
        o.phase = 0.31 * v;
        Svf f;
        Mono m(n);
        double hz = MidiHz(midi + det[v]);
        for (size_t i = 0; i < n; ++i) {
            double t = double(i) / kRate;
            double env = Adsr(t, len, 0.25, 0.4, 0.8, 0.6);
            f.Run(o.Saw(hz), 900 + 700 * env, 0.7);
            m[i] = float(f.lp * env);
        }
        s.AddMono(start, m, gain, pans[v]);
        send.AddMono(start, m, gain * sendGain, pans[v]);
    }
}

Mono Pluck(double hz, double len, uint64_t seed) {
    // Karplus-Strong string.
    size_t period = size_t(std::max(2.0, kRate / hz));
    std::vector<double> line(period);
    White w(seed);
    for (auto& v : line) v = w.Next();
    Mono m(size_t((len + 0.3) * kRate));
    size_t p = 0;
    double last = 0;
    for (size_t i = 0; i < m.size(); ++i) {
        double cur = line[p];
        double next = 0.5 * (cur + last) * 0.996;
        last = cur;
        line[p] = next;
        p = (p + 1) % period;
        double t = double(i) / kRate;
        double damp = t > len ? std::exp(-(t - len) * 18) : 1;
        m[i] = float(cur * damp);
    }
    return m;
}

Mono Lead(double hz, double len, double bright) {
    Mono m(size_t((len + 0.15) * kRate));
    Osc a, b, vib;
    Svf f;
    for (size_t i = 0; i < m.size(); ++i) {
        double t = double(i) / kRate;
        double depth = 0.012 * Smooth(0.15, 0.45, t);
        double fr = hz * (1 + depth * vib.Sine(5.5));
        double env = Adsr(t, len, 0.008, 0.2, 0.75, 0.09);
        double x = a.Pulse(fr, 0.35) * 0.5 + b.Saw(fr * 1.003) * 0.5;
        f.Run(x, 1200 + bright * 2600 * env, 1.1);
        m[i] = float(f.lp * env);
    }
    return m;
}

Mono Bell(double hz, double len) {
    Mono m(size_t((len + 1.0) * kRate));
    Osc c, mod;
    for (size_t i = 0; i < m.size(); ++i) {
        double t = double(i) / kRate;
        double idx = 1.8 * std::exp(-t * 4);
        double v = std::sin(2 * kPi * c.phase + idx * std::sin(2 * kPi * mod.phase));
        c.Advance(hz / kRate);
        mod.Advance(hz * 2.0 / kRate);
        double env = std::min(1.0, t / 0.003) * std::exp(-t * 2.2) *
                     (t > len ? std::exp(-(t - len) * 6) : 1);
        m[i] = float(v * env);
    }
    return m;
}

// ------------------------------------------------------------------ effects

struct Comb {
    std::vector<float> buf;
    size_t pos = 0;
    double store = 0;
    explicit Comb(size_t n) : buf(n, 0.f) {}
    double Run(double x, double fb, double damp) {
        double y = buf[pos];
        store = y * (1 - damp) + store * damp;
        buf[pos] = float(x + store * fb);
        pos = (pos + 1) % buf.size();
        return y;
    }
};

struct Allpass {
    std::vector<float> buf;
    size_t pos = 0;
    explicit Allpass(size_t n) : buf(n, 0.f) {}
    double Run(double x) {
        double b = buf[pos];
        buf[pos] = float(x + b * 0.5);
        pos = (pos + 1) % buf.size();
        return b - x;
    }
};

// A small room reverb and a ping-pong delay. On a loop the effect runs over the buffer twice and
// the second pass is kept: what rings out of the end is then already in the beginning.
void Reverb(const Stereo& in, Stereo& out, double wet, bool loop) {
    const size_t tl[4] = {1116, 1188, 1277, 1356}, ta[2] = {556, 441};
    for (int ch = 0; ch < 2; ++ch) {
        std::vector<Comb> combs;
        for (size_t t : tl) combs.emplace_back(t + size_t(ch) * 23);
        std::vector<Allpass> aps;
        for (size_t t : ta) aps.emplace_back(t + size_t(ch) * 23);
        const auto& x = ch == 0 ? in.l : in.r;
        auto& y = ch == 0 ? out.l : out.r;
        int passes = loop ? 2 : 1;
        for (int p = 0; p < passes; ++p)
            for (size_t i = 0; i < x.size(); ++i) {
                double acc = 0;
                for (auto& c : combs) acc += c.Run(x[i] * 0.15, 0.84, 0.25);
                for (auto& a : aps) acc = a.Run(acc);
                if (p == passes - 1) y[i] += float(acc * wet);
            }
    }
}

void Delay(const Stereo& in, Stereo& out, size_t samples, double fb, double wet, bool loop) {
    std::vector<float> dl(samples, 0.f), dr(samples, 0.f);
    size_t pos = 0;
    int passes = loop ? 2 : 1;
    for (int p = 0; p < passes; ++p)
        for (size_t i = 0; i < in.Size(); ++i) {
            double ol = dl[pos], orr = dr[pos];
            // Ping-pong: each repeat crosses to the other side.
            dl[pos] = float(in.l[i] + orr * fb);
            dr[pos] = float(in.r[i] * 0.3 + ol * fb);
            pos = (pos + 1) % samples;
            if (p == passes - 1) {
                out.l[i] += float(ol * wet);
                out.r[i] += float(orr * wet);
            }
        }
}

// ------------------------------------------------------------------ the sequencer

struct Chord {
    int root;                // bass note
    std::vector<int> tones;  // pad voicing
};

const std::map<std::string, Chord>& Chords() {
    static const std::map<std::string, Chord> c = {
        {"Am", {45, {57, 60, 64}}}, {"F", {41, {57, 60, 65}}},  {"C", {48, {55, 60, 64}}},
        {"G", {43, {55, 59, 62}}},  {"E", {40, {56, 59, 64}}},  {"Dm", {38, {57, 62, 65}}},
        {"Bb", {46, {58, 62, 65}}}, {"C2", {36, {55, 60, 64}}},
    };
    return c;
}

class Song {
public:
    Song(double bpm, int bars, bool loop, double tail)
        : step_(kRate * 60.0 / bpm / 4), loop_(loop),
          len_(size_t(std::lround(bars * 16 * step_)) + (loop ? 0 : size_t(tail * kRate))),
          dry_(len_, loop), rev_(len_, loop), dly_(len_, loop) {}

    long At(double step) const { return long(std::lround(step * step_)); }
    double Secs(double steps) const { return steps * step_ / kRate; }

    void Drum(const Mono& m, double step, double gain, double pan = 0, double rev = 0.1) {
        dry_.AddMono(At(step), m, gain, pan);
        rev_.AddMono(At(step), m, gain * rev, pan);
    }
    void Add(const Mono& m, double step, double gain, double pan, double rev, double dly) {
        dry_.AddMono(At(step), m, gain, pan);
        if (rev > 0) rev_.AddMono(At(step), m, gain * rev, pan);
        if (dly > 0) dly_.AddMono(At(step), m, gain * dly, pan);
    }
    void PadChord(const std::string& chord, double step, double len16, double gain) {
        for (int n : Chords().at(chord).tones) Pad(dry_, rev_, 0.5, At(step), Secs(len16), n, gain);
    }

    Stereo Mix(double delaySteps) {
        Stereo out = dry_;
        Reverb(rev_, out, 0.9, loop_);
        Stereo d(len_, loop_);
        Delay(dly_, d, size_t(std::lround(delaySteps * step_)), 0.38, 0.55, loop_);
        for (size_t i = 0; i < len_; ++i) {
            out.l[i] += d.l[i];
            out.r[i] += d.r[i];
        }
        for (size_t i = 0; i < len_; ++i) {
            out.l[i] = float(std::tanh(out.l[i] * 0.9));
            out.r[i] = float(std::tanh(out.r[i] * 0.9));
        }
        out.Normalize(0.89);
        if (!loop_) {
            // The jingle fades out over its last half second.
            size_t fade = size_t(0.5 * kRate);
            for (size_t i = 0; i < fade && i < len_; ++i) {
                double g = double(i) / fade;
                out.l[len_ - 1 - i] = float(out.l[len_ - 1 - i] * g);
                out.r[len_ - 1 - i] = float(out.r[len_ - 1 - i] * g);
            }
        }
        return out;
    }

    bool loop() const { return loop_; }

private:
    double step_;
    bool loop_;
    size_t len_;
    Stereo dry_, rev_, dly_;
};

void Beat(Song& s, int bar, int style, uint64_t seed) {
    static const Mono kick = Kick(1.0);
    static const Mono snare = Snare(1.0, 31);
    static const Mono hat = Hat(1.0, 70, 41), open = Hat(1.0, 14, 43);
    double b = bar * 16.0;
    Rng r(seed + uint64_t(bar));
    if (style == 0) {  // driving play groove
        for (double k : {0.0, 6.0, 8.0, 11.0}) s.Drum(kick, b + k, 0.9);
        for (double k : {4.0, 12.0}) s.Drum(snare, b + k, 0.55, 0.05, 0.25);
        for (int k = 0; k < 16; k += 2)
            s.Drum(k == 14 ? open : hat, b + k, k % 4 == 2 ? 0.32 : 0.22, 0.35);
        if (bar % 4 == 3) s.Drum(snare, b + 15, 0.3, -0.1, 0.25);
    } else if (style == 1) {  // busier: sixteenth hats and a ghost note
        for (double k : {0.0, 6.0, 8.0, 10.0, 11.0}) s.Drum(kick, b + k, 0.9);
        for (double k : {4.0, 12.0}) s.Drum(snare, b + k, 0.6, 0.05, 0.25);
        s.Drum(snare, b + 7, 0.18, -0.1, 0.2);
        for (int k = 0; k < 16; ++k)
            s.Drum(k == 14 ? open : hat, b + k, (k % 2 ? 0.12 : 0.24) * r.Range(0.85, 1.1), 0.35);
    } else if (style == 2) {  // laid-back title beat, half time
        s.Drum(kick, b + 0, 0.75);
        s.Drum(kick, b + 10, 0.55);
        s.Drum(snare, b + 8, 0.38, 0.05, 0.45);
        for (int k = 0; k < 16; k += 2) s.Drum(hat, b + k, k % 4 ? 0.1 : 0.16, 0.4);
    } else {  // fanfare drums
        for (double k : {0.0, 4.0, 8.0, 12.0}) s.Drum(kick, b + k, 0.85);
        for (double k : {4.0, 12.0}) s.Drum(snare, b + k, 0.5, 0, 0.3);
        for (int k = 0; k < 16; k += 2) s.Drum(hat, b + k, 0.2, 0.35);
    }
}

void BassLine(Song& s, const std::string& chord, int bar, int style) {
    int root = Chords().at(chord).root;
    double b = bar * 16.0;
    // Steps and octave offsets of each pattern.
    static const std::vector<std::pair<double, int>> drive = {{0, 0}, {2, 0},   {3, 12}, {6, 0},
                                                              {8, 0}, {10, 12}, {11, 0}, {14, 7}};
    static const std::vector<std::pair<double, int>> calm = {{0, 0}, {6, 0}, {8, 7}, {12, 12}};
    const auto& pat = style == 0 ? drive : calm;
    for (size_t i = 0; i < pat.size(); ++i) {
        double next = i + 1 < pat.size() ? pat[i + 1].first : 16;
        double len = std::min(next - pat[i].first, 2.0) * 0.9;
        if (style != 0) len = (next - pat[i].first) * 0.85;
        s.Add(Bass(MidiHz(root + pat[i].second), s.Secs(len)), b + pat[i].first,
              style == 0 ? 0.55 : 0.5, 0, 0, 0);
    }
}

void Arp(Song& s, const std::string& chord, int bar, double gain, uint64_t seed) {
    const auto& t = Chords().at(chord).tones;
    const int order[8] = {0, 1, 2, 1, 0, 2, 1, 2};
    for (int k = 0; k < 8; ++k) {
        int n = t[size_t(order[k])] + 12;
        double pan = (k % 2) ? 0.45 : -0.45;
        s.Add(Pluck(MidiHz(n), s.Secs(1.8), seed + uint64_t(bar * 8 + k)), bar * 16.0 + k * 2, gain,
              pan, 0.35, 0.3);
    }
}

void Melody(Song& s, const std::vector<Note>& notes, double gain, bool bell, double bright = 1.0) {
    for (const Note& n : notes) {
        Mono m = bell ? Bell(MidiHz(n.midi), s.Secs(n.len))
                      : Lead(MidiHz(n.midi), s.Secs(n.len) * 0.95, bright);
        s.Add(m, n.step, gain, 0.1, 0.35, 0.35);
    }
}

std::vector<Note> Phrases(const std::vector<std::string>& bars, int first) {
    std::vector<Note> all;
    for (size_t i = 0; i < bars.size(); ++i) {
        auto p = Phrase(bars[i], first + int(i));
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// The play loop: 32 bars at 120 bpm, A minor, exactly 64 seconds.
Stereo Back() {
    Song s(120, 32, true, 0);
    const std::vector<std::string> p1 = {"Am", "F", "C", "G", "Am", "F", "G", "E"};
    const std::vector<std::string> p2 = {"Dm", "Am", "F", "C", "Dm", "Am", "E", "E"};
    const std::vector<std::string> melA = {"E5:4 D5:2 C5:2 D5:4 E5:4", "F5:6 E5:2 C5:4 A4:4",
                                           "G4:4 C5:2 E5:2 G5:6 E5:2", "D5:8 B4:4 -:4",
                                           "A5:4 G5:2 E5:2 G5:4 A5:4", "C6:6 A5:2 F5:4 A5:4",
                                           "G5:4 F5:2 E5:2 D5:4 B4:4", "G#4:4 B4:4 E5:8"};
    const std::vector<std::string> melB = {"F5:4 E5:4 D5:4 A4:4",           "C5:6 B4:2 A4:8",
                                           "A4:2 C5:2 F5:4 E5:2 F5:2 A5:4", "G5:8 E5:4 C5:4",
                                           "D5:2 F5:2 A5:4 G5:2 F5:2 E5:4", "E5:4 C5:4 A4:8",
                                           "B4:4 D5:2 E5:2 G#5:4 B5:4",     "D5:4 C5:4 B4:4 G#4:4"};
    for (int bar = 0; bar < 32; ++bar) {
        bool b = bar >= 16 && bar < 24;
        const std::string& ch = b ? p2[size_t(bar % 8)] : p1[size_t(bar % 8)];
        Beat(s, bar, bar >= 16 ? 1 : 0, 100);
        BassLine(s, ch, bar, 0);
        s.PadChord(ch, bar * 16.0, 16, bar < 8 ? 0.16 : 0.12);
        if (bar >= 16) Arp(s, ch, bar, 0.22, 500);
    }
    Melody(s, Phrases(melA, 8), 0.3, false);
    Melody(s, Phrases(melB, 16), 0.3, false, 0.7);
    Melody(s, Phrases(melA, 24), 0.26, false, 1.2);
    Melody(s, Phrases(melA, 24), 0.18, true);
    return s.Mix(3);
}

// The title loop: 16 bars at 100 bpm in F major, 38.4 seconds.
Stereo Title() {
    Song s(100, 16, true, 0);
    const std::vector<std::string> prog = {"F", "C2", "Dm", "Bb", "F", "C2", "Bb", "C2"};
    const std::vector<std::string> mel = {
        "A5:6 G5:2 F5:4 C5:4", "E5:6 D5:2 C5:8", "D5:4 F5:4 A5:4 G5:4",  "F5:8 D5:8",
        "A5:4 C6:4 A5:4 F5:4", "G5:6 E5:2 C5:8", "D5:4 F5:4 Bb5:4 A5:4", "G5:12 -:4"};
    for (int bar = 0; bar < 16; ++bar) {
        const std::string& ch = prog[size_t(bar % 8)];
        Beat(s, bar, 2, 200);
        BassLine(s, ch, bar, 1);
        s.PadChord(ch, bar * 16.0, 16, 0.14);
        Arp(s, ch, bar, 0.26, 900);
    }
    Melody(s, Phrases(mel, 8), 0.32, true);
    Melody(s, Phrases(mel, 8), 0.12, false, 0.4);
    return s.Mix(3);
}

// The highscore jingle: four bars of fanfare and a ringing final chord.
Stereo Jingle() {
    Song s(132, 5, false, 1.2);
    const std::vector<std::string> prog = {"C", "F", "G", "C"};
    const std::vector<std::string> mel = {"C5:2 E5:2 G5:4 C6:4 G5:4", "A5:4 F5:2 A5:2 C6:8",
                                          "B5:4 D6:2 B5:2 G5:4 D6:4", "C6:16"};
    for (int bar = 0; bar < 4; ++bar) {
        Beat(s, bar, 3, 300);
        BassLine(s, prog[size_t(bar)], bar, 0);
        s.PadChord(prog[size_t(bar)], bar * 16.0, bar == 3 ? 28 : 16, 0.16);
    }
    Melody(s, Phrases(mel, 0), 0.34, false, 1.3);
    Melody(s, Phrases(mel, 0), 0.2, true);
    static const Mono kick = Kick(1.0);
    s.Drum(kick, 64, 0.9);
    s.Drum(Hat(1.0, 3, 77), 64, 0.35, 0, 0.3);
    return s.Mix(3);
}

}  // namespace

std::vector<std::function<void()>> MusicJobs(const std::string& dir) {
    return {
        [dir] { WriteMp3(dir + "/back.mp3", Back()); },
        [dir] { WriteMp3(dir + "/Track 30.mp3", Title()); },
        [dir] { WriteMp3(dir + "/TR_36_03.mp3", Jingle()); },
    };
}

}  // namespace assetgen
