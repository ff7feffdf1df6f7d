#pragma once
// A game as data: the seed of the random generator and, for every logic tick, where the mouse
// was and which input messages arrived before the tick ran. Fed back into the game screen, the
// same replay gives the same game, tick for tick.
#include <cstdint>
#include <string>
#include <vector>

#include "screen/InputMap.h"

namespace zx {

struct TTickInput {
    int32_t MouseX = 400, MouseY = 300;
    std::vector<TInputMessage> Messages;

    bool operator==(const TTickInput& o) const;
};

struct TReplay {
    uint32_t Seed = 0;
    uint8_t Kind = 2;  // display kind the game ran in
    std::vector<TTickInput> Ticks;

    // Text form: a header, then one line per tick ("x y" and the messages).
    std::string ToText() const;
    // Throws std::runtime_error naming the line on anything it cannot read.
    static TReplay FromText(const std::string& text);
    void Save(const std::string& path) const;
    static TReplay Load(const std::string& path);
};

}  // namespace zx
