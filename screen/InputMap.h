#pragma once
// Turns SDL's input events into the game screen's input messages: a key down with the game's
// virtual key code (VK_...), typed characters in Windows-1252 (Backspace, Enter and Escape also
// give the characters 8, 13 and 27), mouse buttons and the wheel. Keeping the game's input in
// these few small messages lets tests feed input without SDL events.
#include <SDL.h>

#include <cstdint>
#include <vector>

namespace zx {

struct TInputMessage {
    enum Kind { KeyDown, Char, MouseDown, MouseUp, Wheel } kind;
    int32_t code =
        0;  // virtual key, character (0..255), button (1 left, 2 middle, 3 right), wheel steps (+ up)
    bool ctrl = false;
};

// Virtual key codes used by the game screen.
constexpr int32_t VK_BACK = 8, VK_RETURN = 13, VK_ESCAPE = 27, VK_DELETE = 46, VK_UP = 38,
                  VK_DOWN = 40;

int32_t VirtualKeyOf(SDL_Keycode key);
// The messages one event gives (none for events that are not input).
std::vector<TInputMessage> TranslateInput(const SDL_Event& e);

}  // namespace zx
