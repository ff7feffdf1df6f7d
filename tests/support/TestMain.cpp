#include <gtest/gtest.h>

#include <filesystem>

#include "sprites/Paths.h"
#include "support/TestSupport.h"

// Every test process works in a program directory of its own, removed at the end.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    zx::SetProgramDirForTesting(zx::test::TempProgramDir());
    int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(zx::test::TempProgramDir(), ec);
    return rc;
}
