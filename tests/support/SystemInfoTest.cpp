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

TEST(SystemInfoTest, AvailableMemorySaturatesInsteadOfWrapping) {
    test::ResetProgramDir();
    TGameInfo gi;
    gi.AvailPhys = 16ULL << 30;
    gi.TotalVirtual = 1ULL << 47;  // a 64-bit address space: more kilobytes than 32 bits hold
    gi.UsedVirtual = 0;
    EXPECT_EQ(gi.MemoryValue(7), 0xFFFFFFFFu);
    LogSystemInfo(gi);
    EXPECT_EQ(AvailableMemory, 0xFFFFFFFFu);
    EXPECT_EQ(gi.MemoryValue(0), 0u);
    EXPECT_EQ(gi.MemoryValue(8), 0u);
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
}
