#include "tools/autoplay/Replay.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <stdexcept>

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
    throw std::runtime_error("replay line " + std::to_string(line) + ": " + what);
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

std::string TReplay::ToText() const {
    std::string out = std::string(kHeader) + "\nseed " + std::to_string(Seed) + "\nkind " +
                      std::to_string(Kind) + "\nticks " + std::to_string(Ticks.size()) + "\n";
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

TReplay TReplay::FromText(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    size_t n = 0;
    auto next = [&]() -> std::string_view {
        if (!std::getline(in, line)) Bad(n + 1, "the file ends early");
        ++n;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    };
    auto field = [&](std::string_view name) {
        std::string_view l = next();
        int32_t v = 0;
        if (l.substr(0, name.size() + 1) != std::string(name) + " " ||
            !ParseInt(l.substr(name.size() + 1), v) || v < 0)
            Bad(n, "expected \"" + std::string(name) + " N\"");
        return v;
    };
    if (next() != kHeader) Bad(n, "not a replay");
    TReplay r;
    r.Seed = static_cast<uint32_t>(field("seed"));
    const int32_t kind = field("kind");
    if (kind > 2) Bad(n, "no such display kind");
    r.Kind = static_cast<uint8_t>(kind);
    const int32_t count = field("ticks");
    r.Ticks.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        std::istringstream words{std::string(next())};
        std::string w;
        TTickInput t;
        if (!(words >> w) || !ParseInt(w, t.MouseX) || !(words >> w) || !ParseInt(w, t.MouseY))
            Bad(n, "expected the mouse position");
        while (words >> w) {
            TInputMessage m{TInputMessage::KeyDown};
            switch (w[0]) {
                case 'K': m.kind = TInputMessage::KeyDown; break;
                case 'k':
                    m.kind = TInputMessage::KeyDown;
                    m.ctrl = true;
                    break;
                case 'C': m.kind = TInputMessage::Char; break;
                case 'D': m.kind = TInputMessage::MouseDown; break;
                case 'U': m.kind = TInputMessage::MouseUp; break;
                case 'W': m.kind = TInputMessage::Wheel; break;
                default: Bad(n, "unknown message \"" + w + "\"");
            }
            if (!ParseInt(std::string_view(w).substr(1), m.code))
                Bad(n, "unknown message \"" + w + "\"");
            t.Messages.push_back(m);
        }
        r.Ticks.push_back(std::move(t));
    }
    return r;
}

void TReplay::Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << ToText();
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

TReplay TReplay::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    return FromText(ss.str());
}

}  // namespace zx
