#include <gtest/gtest.h>

#include "baselib/RQBLDownloadTemp.h"

TEST(DownloadTemp, NameIsTheDestinationPlusAFixedSuffix) {
    EXPECT_EQ(RQBLDownloadTempPath(L"./data/a.dat"), L"./data/a.dat.rqpart");
    EXPECT_TRUE(RQBLIsDownloadTempName(L"a.dat.rqpart"));
    EXPECT_TRUE(RQBLIsDownloadTempName(L"A.DAT.RQPART"));
    EXPECT_FALSE(RQBLIsDownloadTempName(L"a.dat.rqpart2"));
    EXPECT_FALSE(RQBLIsDownloadTempName(L"rqpart"));
    EXPECT_TRUE(RQBLIsDownloadTempName(L"Launcher.exe.rqold"));
}
