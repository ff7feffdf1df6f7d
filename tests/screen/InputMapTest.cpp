#include <gtest/gtest.h>

#include <cstring>

#include "screen/InputMap.h"

using namespace zx;

namespace {
SDL_Event Key(SDL_Keycode k, uint16_t mod = 0, uint8_t repeat = 0) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = k;
    e.key.keysym.mod = mod;
    e.key.repeat = repeat;
    return e;
}
SDL_Event Text(const char* utf8) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    std::strncpy(e.text.text, utf8, sizeof e.text.text - 1);
    return e;
}
}  // namespace

TEST(InputMapTest, KeysGiveVirtualCodesAndControlKeysAlsoGiveTheirCharacter) {
    auto p = TranslateInput(Key(SDLK_p, KMOD_LCTRL));
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].kind, TInputMessage::KeyDown);
    EXPECT_EQ(p[0].code, 80);
    EXPECT_TRUE(p[0].ctrl);
    for (auto [k, vk] : {std::pair{SDLK_RETURN, 13},
                         {SDLK_KP_ENTER, 13},
                         {SDLK_BACKSPACE, 8},
                         {SDLK_ESCAPE, 27}}) {
        auto m = TranslateInput(Key(k, 0, 1));  // repeats too
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[0].kind, TInputMessage::KeyDown);
        EXPECT_EQ(m[0].code, vk);
        EXPECT_EQ(m[1].kind, TInputMessage::Char);
        EXPECT_EQ(m[1].code, vk);
    }
    EXPECT_EQ(TranslateInput(Key(SDLK_DELETE))[0].code, 46);
    EXPECT_EQ(TranslateInput(Key(SDLK_UP))[0].code, 38);
    EXPECT_EQ(TranslateInput(Key(SDLK_DOWN))[0].code, 40);
}

TEST(InputMapTest, TypedTextArrivesAsWindows1252Characters) {
    auto m = TranslateInput(Text("aÖ€"));
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].code, 'a');
    EXPECT_EQ(m[1].code, 0xD6);
    EXPECT_EQ(m[2].code, 0x80);
    EXPECT_EQ(TranslateInput(Text("日"))[0].code, '?');
}

TEST(InputMapTest, MouseButtonsAndWheel) {
    SDL_Event d{};
    d.type = SDL_MOUSEBUTTONDOWN;
    d.button.button = SDL_BUTTON_LEFT;
    EXPECT_EQ(TranslateInput(d)[0].kind, TInputMessage::MouseDown);
    EXPECT_EQ(TranslateInput(d)[0].code, 1);
    SDL_Event w{};
    w.type = SDL_MOUSEWHEEL;
    w.wheel.y = -1;
    EXPECT_EQ(TranslateInput(w)[0].code, -1);
    w.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
    EXPECT_EQ(TranslateInput(w)[0].code, 1);
}
