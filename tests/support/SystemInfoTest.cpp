#include <gtest/gtest.h>

#include "platform/GameInfo.h"
#include "support/SystemInfo.h"
#include "testsupport/TestSupport.h"

using namespace zx;

TEST(SystemInfoTest, ReportHasEveryLabelPaddedAndTheLastOneBare) {
    test::ResetProgramDir();
    TGameInfo gi;
    gi.CPUvendor = "GenuineIntel";
    gi.OSVersion = "6.1 (0.18-amd64)";
    gi.TotalPhys = 8ULL << 30;
    gi.AvailPhys = 2ULL << 30;
    gi.PageSize = 4096;
    LogSystemInfo(gi);
    auto lines = test::LogLines();
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[0], "OSVersion:          6.1 (0.18-amd64)");
    EXPECT_EQ(lines[5], "CPUvendor:          GenuineIntel") << "ten blanks after the label";
    EXPECT_EQ(lines[6], "MemoryLoad:         75");
    EXPECT_EQ(lines[7], "TotalPhys:          8388608");
    EXPECT_EQ(lines[13], "PageSize:           4096");
    EXPECT_EQ(lines[14].substr(0, 20), "AtiveProcessorMask: ");
    EXPECT_EQ(lines[17], "AllocationGranularity:4096");
    for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i][19], ' ') << lines[i];
}

// Available memory is what the kernel says is available, not that plus the free address space
// of a 64-bit process (which saturated the figure and so never let the low-memory question ask).
TEST(SystemInfoTest, AvailableMemoryIsTheKernelsAvailableFigureAlone) {
    test::ResetProgramDir();
    TGameInfo gi;
    gi.TotalPhys = 4ULL << 30;
    gi.AvailPhys = 80000ULL * 1024;  // below the 90000 Kb a game asks for
    gi.TotalVirtual = 1ULL << 47;
    gi.UsedVirtual = 0;
    EXPECT_EQ(gi.MemoryValue(7), 0xFFFFFFFFu) << "the address space still saturates its line";
    LogSystemInfo(gi);
    EXPECT_EQ(AvailableMemory, 80000u);
    EXPECT_EQ(gi.MemoryValue(0), 0u);
    EXPECT_EQ(gi.MemoryValue(8), 0u);
    // The Info box's figure on this machine: what the kernel has available, within the physical
    // memory, never the saturated address space.
    const uint32_t infoBox = AvailableMemoryKb();
    EXPECT_GT(infoBox, 0u);
    EXPECT_LE(infoBox, TGameInfo().MemoryValue(2));
}

TEST(SystemInfoTest, RealMachineGivesPlausibleFigures) {
    test::ResetProgramDir();
    TGameInfo gi;
    EXPECT_GT(gi.MemoryValue(2), 0u);
    EXPECT_LE(gi.MemoryValue(3), gi.MemoryValue(2));
    EXPECT_LE(gi.MemoryValue(1), 100u);
    EXPECT_GE(gi.SystemValue(3), 1u);
    EXPECT_NE(gi.SystemValue(2), 0u);
    LogSystemInfo();
    auto lines = test::LogLines();
    ASSERT_EQ(lines.size(), 19u);
    EXPECT_EQ(lines[0], "Retreiving system information...");
    EXPECT_GT(AvailableMemoryKb(), 0u);
    EXPECT_LE(AvailableMemoryKb(), gi.MemoryValue(2)) << "never more than the machine has";
}
