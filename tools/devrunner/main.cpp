// Opens a bare game-screen window and runs empty frames until Escape or a close.
//   devrunner [--kind 0|1|2] [--seconds N] [--pattern] [--back]
// With --seconds the runner leaves by itself after N seconds, as Escape would; --pattern puts
// colour bars into the back image and scrolls them, to see the presentation and the wrap-around;
// --back scrolls the game's background picture instead.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/frmDDFullScreen.h"
#include "platform/Ticks.h"
#include "sprites/LogFiles.h"

namespace {

class TRunnerForm : public zx::TDDFullScreenForm {
public:
    TRunnerForm() : TDDFullScreenForm("Zolvex!") {}
    ~TRunnerForm() override { Destroy(); }

    uint32_t LeaveAt = 0;
    long Frames = 0;
    bool Pattern = false;
    bool Picture = false;

    void InitDDraw() override {
        try {
            TDDFullScreenForm::InitDDraw();
            if (Pattern) DrawPattern();
            if (Picture) SetBackImage("GFX\\sb\\Back");
            SetFlipping(true);
        } catch (const zx::Exception& e) {
            ErrorFlag = true;
            zx::WriteLog("Error initiating DirectX: " + e.Message());
            PostClose();
            Closing = true;
        }
    }

    void Threadnotify(int32_t ticks) override {
        ++Frames;
        RunFrame(ticks, [this] {
            if (Pattern || Picture) BackScroll = (BackScroll + 2) % static_cast<int32_t>(ScreenWidth);
            if (LeaveAt && static_cast<int32_t>(zx::platform::GetTickCount() - LeaveAt) >= 0) Leave();
        });
    }

protected:
    void HandleInput(const SDL_Event& e) override {
        if (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE) Leave();
    }

private:
    void DrawPattern() {
        using namespace zx::platform;
        auto& img = *zx::DD.BackImage;
        PixelFormat f;
        img.GetPixelFormat(f);
        const uint32_t bars[] = {0xC03040, 0xE08030, 0xE0D040, 0x40A060, 0x4070C0, 0x8040B0, 0xF0F0F0, 0x303030};
        for (int i = 0; i < 8; ++i) {
            Rect r{i * 100, 0, i * 100 + 100, 600};
            BltFx fx;
            fx.fillColor = PackColour(f, bars[i]);
            zx::DDCheck(img.Blt(&r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx));
        }
    }

    void Leave() {
        if (Closing) return;
        Closing = true;
        Back();
    }
};

}  // namespace

int main(int argc, char** argv) {
    int kind = 2;
    double seconds = 0;
    bool pattern = false;
    bool picture = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--kind") && i + 1 < argc) kind = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--pattern")) pattern = true;
        else if (!std::strcmp(argv[i], "--back")) picture = true;
        else {
            std::fprintf(stderr, "usage: %s [--kind 0|1|2] [--seconds N]\n", argv[0]);
            return 2;
        }
    }
    try {
        TRunnerForm form;
        form.SetDisplayKind(static_cast<uint8_t>(kind));
        form.Pattern = pattern;
        form.Picture = picture;
        if (seconds > 0) form.LeaveAt = zx::platform::GetTickCount() + static_cast<uint32_t>(seconds * 1000);
        form.ShowModal();
        std::printf("frames: %ld, error: %s\n", form.Frames, form.ErrorFlag ? "yes" : "no");
        return form.ErrorFlag ? 1 : 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "devrunner: %s\n", e.what());
        return 1;
    }
}
