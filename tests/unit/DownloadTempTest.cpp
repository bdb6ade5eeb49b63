#include <gtest/gtest.h>

#include "patch/RQReservedNames.h"

TEST(DownloadTemp, NameIsTheDestinationPlusAFixedSuffix) {
    EXPECT_EQ(RQDownloadTempPath(L"./data/a.dat"), L"./data/a.dat.rqpart");
    EXPECT_TRUE(RQIsDownloadTempName(L"a.dat.rqpart"));
    EXPECT_TRUE(RQIsDownloadTempName(L"A.DAT.RQPART"));
    EXPECT_FALSE(RQIsDownloadTempName(L"a.dat.rqpart2"));
    EXPECT_FALSE(RQIsDownloadTempName(L"rqpart"));
    EXPECT_TRUE(RQIsDownloadTempName(L"Launcher.exe.rqold"));
}
