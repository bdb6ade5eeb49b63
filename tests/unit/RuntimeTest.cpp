#include <gtest/gtest.h>

#include <string>

#include "baselib/RQBLCrashReport.h"
#include "baselib/RQBLMain.h"

TEST(RuntimeObject, ConstructionSetsTheNationAndTheBuildTag) {
    CRQBLNullLog log;
    CRQBLMain runtime(log);
    EXPECT_EQ(runtime.GetNationName(), L"JPN");
    EXPECT_EQ(g_strBuildTag, L"RELEASE_JPN_555");
}

TEST(RuntimeObject, NationNames) {
    EXPECT_EQ(CRQBLMain::NationName(2), L"KOR");
    EXPECT_EQ(CRQBLMain::NationName(3), L"USA");
    EXPECT_EQ(CRQBLMain::NationName(4), L"JPN");
    EXPECT_EQ(CRQBLMain::NationName(5), L"CHN");
    EXPECT_EQ(CRQBLMain::NationName(6), L"TWN");
    for (int32_t n : {0, 1, 7, -4, 1000}) {
        EXPECT_EQ(CRQBLMain::NationName(n), L"NONE") << n;
    }
}

TEST(MemoryReport, LineFormat) {
    EXPECT_EQ(CRQBLMain::FormatMemInfo(L"CRQBLMain()", 12, 12, 0.0f), L"[CRQBLMain()]-[12Mb/12Mb, 0.00sec]");
    EXPECT_EQ(CRQBLMain::FormatMemInfo(L"x", 0, 4294, 1.5f), L"[x]-[0Mb/4294Mb, 1.50sec]");
    EXPECT_EQ(CRQBLMain::FormatMemInfo(L"", 1, 2, 12.345f), L"[]-[1Mb/2Mb, 12.35sec]");
}

TEST(MemoryReport, FirstReportShowsZeroSecondsAndTheWorkingSetTwice) {
    uint32_t dwLastUsage = 0;
    uint32_t dwLastTime = 0;
    rqbl::RQBL_MEMORY_COUNTERS counters;
    counters.nWorkingSetSize = 12999999;  // decimal megabytes, rounded down
    counters.nPagefileUsage = 20000000;
    std::wstring strLine;
    EXPECT_EQ(CRQBLMain::ComputeMemReport(dwLastUsage, dwLastTime, L"CRQBLMain()", counters, 5000, strLine),
              20000000u);
    EXPECT_EQ(strLine, L"[CRQBLMain()]-[12Mb/12Mb, 0.00sec]");
    EXPECT_EQ(dwLastUsage, 20000000u);
    EXPECT_EQ(dwLastTime, 5000u);
}

TEST(MemoryReport, LaterReportsShowGrowthAndElapsedTime) {
    uint32_t dwLastUsage = 20000000;
    uint32_t dwLastTime = 5000;
    rqbl::RQBL_MEMORY_COUNTERS counters;
    counters.nWorkingSetSize = 30000000;
    counters.nPagefileUsage = 25000000;
    std::wstring strLine;
    EXPECT_EQ(CRQBLMain::ComputeMemReport(dwLastUsage, dwLastTime, L"L", counters, 6500, strLine), 5000000u);
    EXPECT_EQ(strLine, L"[L]-[10Mb/30Mb, 1.50sec]");

    // Usage went down: the last usage follows it and the growth is 0, also for
    // a working set below the last usage.
    counters.nWorkingSetSize = 9000000;
    counters.nPagefileUsage = 10000000;
    EXPECT_EQ(CRQBLMain::ComputeMemReport(dwLastUsage, dwLastTime, L"L", counters, 7000, strLine), 0u);
    EXPECT_EQ(strLine, L"[L]-[0Mb/9Mb, 0.50sec]");
    EXPECT_EQ(dwLastUsage, 10000000u);

    // The millisecond counter wrapped between the two reports.
    dwLastTime = 0xFFFFFF00u;
    EXPECT_EQ(CRQBLMain::ComputeMemReport(dwLastUsage, dwLastTime, L"L", counters, 0x100u, strLine), 0u);
    EXPECT_EQ(strLine, L"[L]-[0Mb/9Mb, 0.51sec]");
}

TEST(CrashLogEntry, JoinsTheValuesAndTheBuildTag) {
    EXPECT_EQ(BuildCrashLogEntry(0, L"__PATCHER__", 0, L"__PATCHER__", L"Not Initialized"),
              L"0,__PATCHER__,0,__PATCHER__,Not Initialized");
    EXPECT_EQ(BuildCrashLogEntry(-12, L"", 2147483647, L"b", L"RELEASE_JPN_555"),
              L"-12,,2147483647,b,RELEASE_JPN_555");
}
