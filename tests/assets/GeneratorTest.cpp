// The generator itself: the same bytes on every run, and a clear failure on a bad sheet list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testsupport/TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::vector<char> Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int RunGenerator(const std::string& list, const fs::path& out, const std::string& extra = "") {
    std::string cmd = std::string("\"") + ZOLVEX_ASSETGEN + "\" --sheets \"" + list +
                      "\" --program-dir \"" + (out / "zolvex").string() + "\" --stage \"" +
                      (out / "stage").string() + "\" " + extra + " > \"" +
                      (out / "log.txt").string() + "\" 2>&1";
    return std::system(cmd.c_str());
}

fs::path Scratch(const char* name) {
    fs::path p = fs::path(zx::test::TempProgramDir()) / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

TEST(Generator, WritesTheSameBytesAsTheBuildDid) {
    // Every job has its own seed, so neither thread timing nor a second run may change a byte.
    fs::path out = Scratch("regen");
    ASSERT_EQ(RunGenerator(ZOLVEX_SHEET_LIST, out), 0);
    size_t compared = 0;
    const std::pair<fs::path, fs::path> roots[] = {{out / "zolvex", zx::test::BuiltProgramDir()},
                                                   {out / "stage", ZOLVEX_RESOURCE_STAGE_DIR}};
    for (const auto& [fresh, built] : roots)
        for (const auto& e : fs::recursive_directory_iterator(fresh)) {
            if (!e.is_regular_file()) continue;
            fs::path rel = fs::relative(e.path(), fresh);
            SCOPED_TRACE(rel.string());
            ASSERT_TRUE(fs::exists(built / rel));
            EXPECT_TRUE(Bytes(e.path()) == Bytes(built / rel));
            ++compared;
        }
    // 44 sheets twice, their masks, 4 pictures, 17 effects, 3 tracks and the cave.
    EXPECT_GT(compared, 44u * 2 + 4 + 17 + 3 + 1);
}

TEST(Generator, RefusesABrokenSheetList) {
    fs::path out = Scratch("broken");
    {
        std::ofstream(out / "bad.txt") << "sperm1 306 55 twelve 1 12 24 mask\n";
        std::ofstream(out / "unknown.txt") << "NoSuchThing 10 10 1 1 1 24 mask\n";
    }
    EXPECT_NE(RunGenerator((out / "bad.txt").string(), out, "--only gfx"), 0);
    EXPECT_NE(RunGenerator((out / "unknown.txt").string(), out, "--only gfx"), 0);
    std::ifstream log(out / "log.txt");
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("NoSuchThing"), std::string::npos) << text;
    EXPECT_NE(RunGenerator(ZOLVEX_SHEET_LIST, out, "--frobnicate"), 0);
}

}  // namespace
