#include <gtest/gtest.h>

#include <filesystem>

#include "support/Paths.h"
#include "testsupport/TestSupport.h"

// fontconfig keeps its caches for the life of the process; text drawing brings them in. They are
// not leaks of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// Every test process works in a program directory of its own, removed at the end.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    zx::SetFolders(zx::TFolders::Single(zx::test::TempProgramDir()));
    int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(zx::test::TempProgramDir(), ec);
    return rc;
}
