// assetgen: writes the game's sprite sheets, pictures, sounds, music and cave layout.
//
//   assetgen --sheets LIST --program-dir DIR --stage DIR [--only gfx|snd|cave]
//   assetgen --review --sheets LIST --program-dir DIR --stage DIR --out contact.png
//
// The work is split into independent jobs that run on all cores; every job has its own seed, so
// the bytes written do not depend on the order the jobs finish in.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Art.h"
#include "Audio.h"
#include "Bmp.h"
#include "Cave.h"
#include "Common.h"
#include "Pictures.h"
#include "Review.h"

namespace fs = std::filesystem;
using namespace assetgen;

namespace {

void WriteSheet(const SheetSpec& s, const std::string& programDir, const std::string& stageDir) {
    cairo_surface_t* sheet = DrawSheet(s);
    Pixels p = FromSurface(sheet, s.mask);
    cairo_surface_destroy(sheet);
    std::string staged = stageDir + "/" + s.name + ".bmp";
    std::string file = programDir + "/gfx/sb/" + s.name + ".bmp";
    if (s.bits == 8)
        WriteBmp8(staged, p);
    else
        WriteBmp24(staged, p);
    fs::copy_file(staged, file, fs::copy_options::overwrite_existing);
    if (s.mask) WriteMaskBmp(programDir + "/gfx/sb/" + s.name + "_mask.bmp", p);
}

void RunJobs(std::vector<std::function<void()>> jobs) {
    std::mutex m;
    size_t next = 0;
    std::string error;
    auto worker = [&] {
        for (;;) {
            std::function<void()> job;
            {
                std::lock_guard<std::mutex> l(m);
                if (next >= jobs.size() || !error.empty()) return;
                job = jobs[next++];
            }
            try {
                job();
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> l(m);
                error = e.what();
            }
        }
    };
    unsigned n = std::max(2u, std::thread::hardware_concurrency());
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < n; ++i) threads.emplace_back(worker);
    for (auto& t : threads) t.join();
    if (!error.empty()) throw std::runtime_error(error);
}

}  // namespace

int main(int argc, char** argv) {
    std::string sheets, programDir, stageDir, out, only;
    bool review = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto val = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--sheets")
            sheets = val();
        else if (a == "--program-dir")
            programDir = val();
        else if (a == "--stage")
            stageDir = val();
        else if (a == "--out")
            out = val();
        else if (a == "--only")
            only = val();
        else if (a == "--review")
            review = true;
        else {
            std::fprintf(stderr, "assetgen: unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (sheets.empty() || programDir.empty() || stageDir.empty()) {
        std::fprintf(
            stderr,
            "usage: assetgen [--review --out FILE] --sheets LIST --program-dir DIR --stage DIR\n");
        return 2;
    }
    try {
        auto list = ReadSheetList(sheets);
        if (review) {
            std::string sheetOut = out.empty() ? "contact.png" : out;
            WriteContactSheet(list, programDir, stageDir, sheetOut);
            // Beside it, two made-up game screens early and late in the track.
            std::string base = sheetOut.substr(0, sheetOut.rfind('.'));
            WriteMockScene(list, programDir, stageDir, base + "_scene1.png", -4400);
            WriteMockScene(list, programDir, stageDir, base + "_scene2.png", -8400);
            return 0;
        }
        auto t0 = std::chrono::steady_clock::now();
        for (const char* d : {"gfx/sb", "snd", "KVD"})
            fs::create_directories(fs::path(programDir) / d);
        fs::create_directories(stageDir);
        std::vector<std::function<void()>> jobs;
        bool all = only.empty();
        // Long jobs first so the cores stay busy to the end.
        if (all || only == "snd") {
            for (auto& j : MusicJobs(programDir + "/snd")) jobs.push_back(j);
        }
        if (all || only == "gfx") {
            jobs.push_back([&] { WritePictures(stageDir); });
            for (const auto& s : list)
                jobs.push_back([&, s] { WriteSheet(s, programDir, stageDir); });
        }
        if (all || only == "snd") jobs.push_back([&] { WriteEffects(programDir + "/snd"); });
        if (all || only == "cave")
            jobs.push_back([&] { WriteFrontDat(programDir + "/KVD/front.dat"); });
        RunJobs(std::move(jobs));
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("assetgen: %zu sheets, pictures, sounds, music and cave written in %.1f s\n",
                    list.size(), secs);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "assetgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
