#include "screen/InputMap.h"

#include <string>

#include "support/Ansi.h"

namespace zx {

int32_t VirtualKeyOf(SDL_Keycode k) {
    if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
    if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
    if (k >= SDLK_F1 && k <= SDLK_F12) return 112 + (k - SDLK_F1);
    switch (k) {
        case SDLK_BACKSPACE: return VK_BACK;
        case SDLK_TAB: return 9;
        case SDLK_RETURN:
        case SDLK_KP_ENTER: return VK_RETURN;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return 16;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return 17;
        case SDLK_LALT:
        case SDLK_RALT: return 18;
        case SDLK_PAUSE: return 19;
        case SDLK_ESCAPE: return VK_ESCAPE;
        case SDLK_SPACE: return 32;
        case SDLK_PAGEUP: return 33;
        case SDLK_PAGEDOWN: return 34;
        case SDLK_END: return 35;
        case SDLK_HOME: return 36;
        case SDLK_LEFT: return 37;
        case SDLK_UP: return VK_UP;
        case SDLK_RIGHT: return 39;
        case SDLK_DOWN: return VK_DOWN;
        case SDLK_INSERT: return 45;
        case SDLK_DELETE: return VK_DELETE;
        default: return 0;
    }
}

std::vector<TInputMessage> TranslateInput(const SDL_Event& e) {
    std::vector<TInputMessage> out;
    switch (e.type) {
        case SDL_KEYDOWN: {
            int32_t vk = VirtualKeyOf(e.key.keysym.sym);
            bool ctrl = (e.key.keysym.mod & KMOD_CTRL) != 0;
            if (vk) out.push_back({TInputMessage::KeyDown, vk, ctrl});
            // These keys give a character as well, and SDL has no text event for them.
            if (vk == VK_BACK || vk == VK_RETURN || vk == VK_ESCAPE)
                out.push_back({TInputMessage::Char, vk, ctrl});
            break;
        }
        case SDL_TEXTINPUT: {
            std::string ansi = Utf8ToAnsi(e.text.text);
            for (char c : ansi)
                out.push_back({TInputMessage::Char, static_cast<uint8_t>(c), false});
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
            out.push_back({TInputMessage::MouseDown, e.button.button, false});
            break;
        case SDL_MOUSEBUTTONUP:
            out.push_back({TInputMessage::MouseUp, e.button.button, false});
            break;
        case SDL_MOUSEWHEEL: {
            int32_t y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
            if (y) out.push_back({TInputMessage::Wheel, y, false});
            break;
        }
        default: break;
    }
    return out;
}

}  // namespace zx
