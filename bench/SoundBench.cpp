// The sound figures: Play retriggered every tick on 100 buffers (time per call and C++
// allocations), and the MP3 conversion speed as a multiple of real time: the files' own work
// (from the panel's start to its last step), the whole call with the panel's closing hold, and
// the decoder library alone decoding the same files into memory, the peer of the first.
//   bench_SoundBench            (runs in a temporary copy of the built program directory)
#include <SDL.h>
#include <mpg123.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "bench/Smoke.h"
#include "music/MusicConvert.h"
#include "sprites/qvDSound.h"
#include "support/Paths.h"

namespace {
std::atomic<long> allocations{0};

using Clock = std::chrono::steady_clock;

// The moments the conversion reports: the work list is known, the last file is done.
class TTimedProgress : public zx::IMusicProgress {
public:
    void Start(int) override { started = Clock::now(); }
    void Step() override { stepped = Clock::now(); }
    void Finish() override {}
    Clock::time_point started, stepped;
};

// Seconds the decoder library takes for the files, decoding into one reused buffer in the
// format the conversion asks for.
double DecodeAlone(const std::vector<std::string>& files) {
    mpg123_init();
    const auto t0 = Clock::now();
    std::vector<unsigned char> buf(1 << 16);
    size_t total = 0;
    for (const std::string& f : files) {
        mpg123_handle* mh = mpg123_new(nullptr, nullptr);
        mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        long rate = 0;
        int channels = 0, enc = 0;
        if (mpg123_open(mh, f.c_str()) != MPG123_OK ||
            mpg123_getformat(mh, &rate, &channels, &enc) != MPG123_OK) {
            std::fprintf(stderr, "cannot decode %s\n", f.c_str());
            std::exit(1);
        }
        mpg123_format_none(mh);
        mpg123_format(mh, rate, channels, MPG123_ENC_SIGNED_16);
        for (;;) {
            size_t got = 0;
            const int r = mpg123_read(mh, buf.data(), buf.size(), &got);
            total += got;
            if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
        }
        mpg123_close(mh);
        mpg123_delete(mh);
    }
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    mpg123_exit();
    if (total == 0) std::exit(1);
    return secs;
}
}  // namespace

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
    TTimedProgress progress;
    auto t0 = clock::now();
    zx::ConvertMusic(&progress);
    const double whole = std::chrono::duration<double>(clock::now() - t0).count();
    const double secs = std::chrono::duration<double>(progress.stepped - progress.started).count();
    double music = 0;
    std::vector<std::string> mp3s;
    for (const char* n : {"back", "Track 30", "TR_36_03"}) {
        music += (fs::file_size(dir / "snd" / (std::string(n) + ".wav")) - 44) / 176400.0;
        mp3s.push_back((dir / "snd" / (std::string(n) + ".mp3")).string());
    }
    const double alone = DecodeAlone(mp3s);
    std::printf("conversion: %.1f s of music in %.3f s = %.0f x real time\n", music, secs,
                music / secs);
    std::printf("conversion call with the panel's closing hold: %.3f s = %.0f x real time\n", whole,
                music / whole);
    std::printf("decoder library alone: %.3f s = %.0f x real time\n", alone, music / alone);

    // Retriggering: 100 buffers, each restarted and panned once per tick for 500 ticks.
    zx::TqvDSound sound(nullptr, true, false, 44100, 16, 2);
    sound.LoadDir(dir.string() + "\\snd");
    zx::TqvDSoundFile* src = sound.FindWave("schussab");
    std::vector<std::unique_ptr<zx::TqvDSoundFile>> dups;
    for (int i = 0; i < 100; ++i) dups.push_back(zx::TqvDSoundFile::Duplicate(*src));
    long before = allocations;
    t0 = clock::now();
    const int ticks = zx::bench::Sized(500, 5);
    for (int tick = 0; tick < ticks; ++tick)
        for (auto& d : dups) {
            d->SetPan((tick * 37) % 20001 - 10000);
            d->Play();
        }
    double per =
        std::chrono::duration<double, std::micro>(clock::now() - t0).count() / (ticks * 100.0);
    std::printf("retrigger: SetPan + Play %.2f us per call, %ld C++ allocations in %d calls\n", per,
                allocations - before, ticks * 100);
    fs::remove_all(dir);
    return 0;
}
