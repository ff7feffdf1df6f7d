// The sound figures: Play retriggered every tick on 100 buffers (time per call and C++
// allocations), and the MP3 conversion speed as a multiple of real time.
//   bench_SoundBench            (runs in a temporary copy of the built program directory)
#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "music/MusicConvert.h"
#include "sprites/qvDSound.h"
#include "support/Paths.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(size_t n) {
    ++allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

int main() {
    namespace fs = std::filesystem;
    using clock = std::chrono::steady_clock;
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const fs::path built = fs::path(ZOLVEX_PROGRAM_DIR_BUILD);
    const fs::path dir = fs::temp_directory_path() / "zolvex-soundbench";
    fs::remove_all(dir);
    fs::create_directories(dir / "snd");
    // Not the waves the game may have converted there already: the conversion is what is timed.
    for (const auto& e : fs::directory_iterator(built / "snd"))
        if (e.path().extension() != ".wav" ||
            !fs::exists(fs::path(e.path()).replace_extension(".mp3")))
            fs::copy_file(e.path(), dir / "snd" / e.path().filename());
    fs::copy_file(built / "libmpegdll.so", dir / "libmpegdll.so");
    zx::SetFolders(zx::TFolders::Single(dir.string()));

    // Conversion speed: the three shipped tracks.
    zx::TConsoleMusicProgress progress;
    auto t0 = clock::now();
    zx::ConvertMusic(&progress);
    double secs = std::chrono::duration<double>(clock::now() - t0).count();
    double music = 0;
    for (const char* n : {"back.wav", "Track 30.wav", "TR_36_03.wav"})
        music += (fs::file_size(dir / "snd" / n) - 44) / 176400.0;
    std::printf("conversion: %.1f s of music in %.3f s = %.0f x real time\n", music, secs,
                music / secs);

    // Retriggering: 100 buffers, each restarted and panned once per tick for 500 ticks.
    zx::TqvDSound sound(nullptr, true, false, 44100, 16, 2);
    sound.LoadDir(dir.string() + "\\snd");
    zx::TqvDSoundFile* src = sound.FindWave("schussab");
    std::vector<std::unique_ptr<zx::TqvDSoundFile>> dups;
    for (int i = 0; i < 100; ++i) dups.push_back(zx::TqvDSoundFile::Duplicate(*src));
    long before = allocations;
    t0 = clock::now();
    for (int tick = 0; tick < 500; ++tick)
        for (auto& d : dups) {
            d->SetPan((tick * 37) % 20001 - 10000);
            d->Play();
        }
    double per = std::chrono::duration<double, std::micro>(clock::now() - t0).count() / 50000;
    std::printf("retrigger: SetPan + Play %.2f us per call, %ld C++ allocations in 50000 calls\n",
                per, allocations - before);
    fs::remove_all(dir);
    return 0;
}
