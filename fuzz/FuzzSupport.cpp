#include "fuzz/FuzzSupport.h"

#include <SDL.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/DDraw.h"
#include "platform/Dialogs.h"
#include "platform/DisplayState.h"
#include "platform/Window.h"
#include "sprites/BobUnit.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "surface/DDUtils.h"
#include "surface/Resources.h"

namespace zx::fuzz {

void InitProgramDir() {
    static bool done = false;
    if (done) return;
    done = true;
    // In memory where there is such a folder: the saves sync every file they write.
    std::error_code ec;
    const auto base = std::filesystem::is_directory("/dev/shm", ec)
                          ? std::filesystem::path("/dev/shm")
                          : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "zolvex-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) Fail("no temporary directory");
    SetFolders(TFolders::Single(tmpl));
    EnsureDataDir();
    platform::SetMessageHook([](platform::MessageKind, const std::string&) { return false; });
    // The directory goes with the process.
    static const std::string dir = tmpl;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    });
}

void WriteFile(std::string_view relPath, const uint8_t* data, size_t size) {
    const std::string full = ResolvePath(relPath);
    std::FILE* f = std::fopen(full.c_str(), "wb");
    if (!f) Fail("cannot write a file of the program directory");
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

void InitDisplay() {
    static std::unique_ptr<platform::GameWindow> window;
    static std::unique_ptr<platform::DirectDraw> dd;
    if (dd) return;
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) Fail("no SDL video");
    window = std::make_unique<platform::GameWindow>("fuzz");
    dd = std::make_unique<platform::DirectDraw>(window.get());
    DD.DirectDraw = dd.get();
    DD.SetGameArea(800, 600);
    DD.FlipList = {CreateOffscreenSurface(800, 600, 0), CreateOffscreenSurface(800, 600, 0)};
    DD.BlendSurface = CreateOffscreenSurface(800, 600, platform::DDSCAPS_SYSTEMMEMORY);
    DD.BackImage = CreateOffscreenSurface(800, 600, 0);
}

void InitSprites() {
    static std::unique_ptr<TBobs> bobs;
    if (bobs) return;
    InitDisplay();
    auto script = FindResource("TEXT", "SBMEMO");
    if (!script) Fail("no sprite script");
    LoadSprites(SplitScriptLines(script->Text()));
    bobs = std::make_unique<TBobs>();
    Bobs = bobs.get();
}

void ResetLog() { ClearLog(); }

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz property failed: %s\n", what);
    std::abort();
}

}  // namespace zx::fuzz
