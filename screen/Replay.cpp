#include "screen/Replay.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace zx {

namespace {

constexpr const char* kHeader = "zolvex replay 1";

// One letter a message kind: K key down, C character, D button down, U button up, W wheel;
// a key down with Ctrl held is written k.
char KindLetter(const TInputMessage& m) {
    switch (m.kind) {
        case TInputMessage::KeyDown: return m.ctrl ? 'k' : 'K';
        case TInputMessage::Char: return 'C';
        case TInputMessage::MouseDown: return 'D';
        case TInputMessage::MouseUp: return 'U';
        case TInputMessage::Wheel: return 'W';
    }
    return '?';
}

bool ParseInt(std::string_view s, int32_t& out) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

[[noreturn]] void Bad(size_t line, const std::string& what) {
    throw TReplayError("replay line " + std::to_string(line) + ": " + what);
}

// The lines of a text, each without its line end; taken one at a time.
class TLineReader {
public:
    explicit TLineReader(std::string_view text) : text_(text) {}
    bool Next(std::string_view& line) {
        if (at_ >= text_.size()) return false;
        size_t end = text_.find('\n', at_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(at_, end - at_);
        at_ = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number_;
        return true;
    }
    size_t Number() const { return number_; }

private:
    std::string_view text_;
    size_t at_ = 0;
    size_t number_ = 0;
};

// The words of a line, separated by blanks.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && line[at] == ' ') ++at;
        const size_t start = at;
        while (at < line.size() && line[at] != ' ') ++at;
        if (at > start) words.push_back(line.substr(start, at - start));
    }
    return words;
}

}  // namespace

bool TTickInput::operator==(const TTickInput& o) const {
    if (MouseX != o.MouseX || MouseY != o.MouseY || Messages.size() != o.Messages.size())
        return false;
    for (size_t i = 0; i < Messages.size(); ++i) {
        const auto &a = Messages[i], &b = o.Messages[i];
        if (a.kind != b.kind || a.code != b.code || a.ctrl != b.ctrl) return false;
    }
    return true;
}

std::array<int32_t, kHighscorePlaces> TReplay::EmptyTopScores() {
    std::array<int32_t, kHighscorePlaces> a{};
    a.fill(kEmptyScore);
    return a;
}

std::string TReplay::ToText() const {
    std::string out = std::string(kHeader) + "\nseed " + std::to_string(Seed) + "\nkind " +
                      std::to_string(Kind) + "\n";
    // Settings as the defaults have them are left out: the scripted players' replays stay as
    // they were.
    if (BubblePercent != 70) out += "bubbles " + std::to_string(BubblePercent) + "\n";
    if (!FrontOn) out += "front 0\n";
    if (TopScores != EmptyTopScores()) {
        out += "top";
        for (const int32_t s : TopScores) out += ' ' + std::to_string(s);
        out += '\n';
    }
    out += "ticks " + std::to_string(Ticks.size()) + "\n";
    for (const auto& t : Ticks) {
        out += std::to_string(t.MouseX) + ' ' + std::to_string(t.MouseY);
        for (const auto& m : t.Messages) {
            out += ' ';
            out += KindLetter(m);
            out += std::to_string(m.code);
        }
        out += '\n';
    }
    return out;
}

TReplay TReplay::FromText(std::string_view text, size_t maxTicks) {
    TLineReader in(text);
    std::string_view line;
    auto next = [&]() {
        if (!in.Next(line)) Bad(in.Number() + 1, "the file ends early");
        return Words(line);
    };
    auto number = [&](std::string_view w, int32_t min, int32_t max) {
        int32_t v = 0;
        if (!ParseInt(w, v) || v < min || v > max)
            Bad(in.Number(), "\"" + std::string(w) + "\" is out of range");
        return v;
    };
    if (!in.Next(line) || line != kHeader) Bad(1, "not a replay");
    TReplay r;
    std::vector<std::string_view> w = next();
    if (w.size() != 2 || w[0] != "seed") Bad(in.Number(), "expected \"seed N\"");
    {
        uint32_t seed = 0;
        auto res = std::from_chars(w[1].data(), w[1].data() + w[1].size(), seed);
        if (res.ec != std::errc() || res.ptr != w[1].data() + w[1].size())
            Bad(in.Number(), "expected \"seed N\"");
        r.Seed = seed;
    }
    w = next();
    if (w.size() != 2 || w[0] != "kind") Bad(in.Number(), "expected \"kind N\"");
    {
        int32_t kind = 0;
        if (!ParseInt(w[1], kind) || kind < 0) Bad(in.Number(), "expected \"kind N\"");
        if (kind > 2) Bad(in.Number(), "no such display kind");
        r.Kind = static_cast<uint8_t>(kind);
    }
    for (w = next(); !w.empty() && w[0] != "ticks"; w = next()) {
        if (w[0] == "bubbles" && w.size() == 2) {
            r.BubblePercent = number(w[1], 0, 100);
        } else if (w[0] == "front" && w.size() == 2) {
            r.FrontOn = number(w[1], 0, 1) == 1;
        } else if (w[0] == "top" && w.size() == 1 + kHighscorePlaces) {
            for (size_t i = 0; i < kHighscorePlaces; ++i)
                r.TopScores[i] = number(w[i + 1], kEmptyScore, 99999999);
        } else {
            Bad(in.Number(), "unknown setting \"" + std::string(line) + "\"");
        }
    }
    if (w.size() != 2) Bad(in.Number(), "expected \"ticks N\"");
    const int32_t count = number(w[1], 0, INT32_MAX);
    if (static_cast<size_t>(count) > maxTicks)
        throw TReplayTooLong("the replay has " + std::to_string(count) + " ticks, more than " +
                             std::to_string(maxTicks));
    // Each tick takes a line of at least four bytes: a count the text cannot hold is not
    // believed before it is read.
    r.Ticks.reserve(std::min(static_cast<size_t>(count), text.size() / 4));
    for (int32_t i = 0; i < count; ++i) {
        w = next();
        TTickInput t;
        if (w.size() < 2 || !ParseInt(w[0], t.MouseX) || !ParseInt(w[1], t.MouseY))
            Bad(in.Number(), "expected the mouse position");
        for (size_t j = 2; j < w.size(); ++j) {
            const std::string_view word = w[j];
            TInputMessage m{TInputMessage::KeyDown};
            switch (word[0]) {
                case 'K': m.kind = TInputMessage::KeyDown; break;
                case 'k':
                    m.kind = TInputMessage::KeyDown;
                    m.ctrl = true;
                    break;
                case 'C': m.kind = TInputMessage::Char; break;
                case 'D': m.kind = TInputMessage::MouseDown; break;
                case 'U': m.kind = TInputMessage::MouseUp; break;
                case 'W': m.kind = TInputMessage::Wheel; break;
                default: Bad(in.Number(), "unknown message \"" + std::string(word) + "\"");
            }
            if (!ParseInt(word.substr(1), m.code))
                Bad(in.Number(), "unknown message \"" + std::string(word) + "\"");
            t.Messages.push_back(m);
        }
        r.Ticks.push_back(std::move(t));
    }
    return r;
}

void TReplay::TakeSettings() {
    BubblePercent = EnvData.BubblePercent;
    FrontOn = EnvData.FrontOn;
    for (size_t i = 0; i < kHighscorePlaces; ++i) TopScores[i] = EnvData.Highscores[i].Score;
}

void TReplay::ApplySettings() const {
    EnvData.BubblePercent = BubblePercent;
    EnvData.FrontOn = FrontOn;
    for (size_t i = 0; i < kHighscorePlaces; ++i) {
        EnvData.Highscores[i].Score = TopScores[i];
        if (TopScores[i] != kEmptyScore && EnvData.Highscores[i].Name.empty())
            EnvData.Highscores[i].Name = "-";
    }
}

void TReplay::Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << ToText();
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

TReplay TReplay::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TReplayError("cannot read " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    return FromText(ss.str());
}

}  // namespace zx
