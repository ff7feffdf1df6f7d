// Opens a bare game-screen window and runs empty frames until Escape or a close.
//   devrunner [--kind 0|1|2] [--seconds N] [--pattern] [--back] [--scene]
// With --seconds the runner leaves by itself after N seconds, as Escape would; --pattern puts
// colour bars into the back image and scrolls them, to see the presentation and the wrap-around;
// --back scrolls the game's background picture instead; --scene adds a few dozen sprites of every
// kind from the shipped sprite script, scaled by depth, some translucent.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <array>

#include "display/frmDDFullScreen.h"
#include "platform/Ticks.h"
#include "sprites/BobUnit.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "support/Random.h"
#include "surface/Resources.h"

namespace {

class TRunnerForm : public zx::TDDFullScreenForm {
public:
    TRunnerForm() : TDDFullScreenForm("Zolvex!") {}
    ~TRunnerForm() override { Destroy(); }

    uint32_t LeaveAt = 0;
    long Frames = 0;
    bool Pattern = false;
    bool Picture = false;
    bool Scene = false;

    void InitDDraw() override {
        try {
            TDDFullScreenForm::InitDDraw();
            if (Pattern) DrawPattern();
            if (Picture || Scene) SetBackImage("GFX\\sb\\Back");
            if (Scene) BuildScene();
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
            if (Scene) StepScene();
            if (Pattern || Picture || Scene)
                BackScroll = (BackScroll + 2) % static_cast<int32_t>(ScreenWidth);
            if (LeaveAt && static_cast<int32_t>(zx::platform::GetTickCount() - LeaveAt) >= 0)
                Leave();
        });
    }

protected:
    void HandleInput(const SDL_Event& e) override {
        if (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE) Leave();
    }

private:
    void BuildScene() {
        auto script = zx::FindResource("TEXT", "SBMEMO");
        if (!script) throw zx::Exception("Sprite script not found");
        zx::LoadSprites(zx::SplitScriptLines(script->Text()));
        const char* kinds[] = {"sperm1",          "sperm3", "virus1",     "virus2",
                               "virus3",          "bubble", "Kondom",     "Torpedo",
                               "Schuss",          "P3",     "P5",         "Element_boden_1",
                               "Element_decke_2", "Rohr",   "Vantorlogo", "Zahlen"};
        zx::RandSeed(7);
        for (size_t i = 0; i < slots_.size(); ++i) {
            int sprite = zx::FindSprite(kinds[i % std::size(kinds)]);
            zx::TBob* b = zx::Bobs->Add(sprite, 0, &slots_[i]);
            b->X = static_cast<float>(zx::RandInt(900) - 450);
            b->Y = static_cast<float>(zx::RandInt(560) - 280);
            b->Z = -static_cast<float>(500 + zx::RandInt(800));
            if (i % 4 == 3) b->Alpha = 165;
        }
        ObjectsLive = true;
    }

    void StepScene() {
        for (auto* b : slots_) {
            if (!b) continue;
            b->Animate();
            b->X += 2.0f;
            if (b->X > 500) b->X = -500;
        }
    }

    std::array<zx::TBobSlot, 48> slots_{};

    void DrawPattern() {
        using namespace zx::platform;
        auto& img = *zx::DD.BackImage;
        PixelFormat f;
        img.GetPixelFormat(f);
        const uint32_t bars[] = {0xC03040, 0xE08030, 0xE0D040, 0x40A060,
                                 0x4070C0, 0x8040B0, 0xF0F0F0, 0x303030};
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
    bool scene = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--kind") && i + 1 < argc)
            kind = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--pattern"))
            pattern = true;
        else if (!std::strcmp(argv[i], "--back"))
            picture = true;
        else if (!std::strcmp(argv[i], "--scene"))
            scene = true;
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
        form.Scene = scene;
        if (seconds > 0)
            form.LeaveAt = zx::platform::GetTickCount() + static_cast<uint32_t>(seconds * 1000);
        form.ShowModal();
        std::printf("frames: %ld, error: %s\n", form.Frames, form.ErrorFlag ? "yes" : "no");
        return form.ErrorFlag ? 1 : 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "devrunner: %s\n", e.what());
        return 1;
    }
}
