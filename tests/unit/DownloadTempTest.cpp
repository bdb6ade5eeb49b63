#include <gtest/gtest.h>

#include <filesystem>

#include "RQTestTempDir.h"
#include "baselib/RQBLDownloadTemp.h"

namespace fs = std::filesystem;

TEST(DownloadTemp, NameIsTheDestinationPlusAFixedSuffix) {
    EXPECT_EQ(RQBLDownloadTempPath(L"./data/a.dat"), L"./data/a.dat.rqpart");
    EXPECT_TRUE(RQBLIsDownloadTempName(L"a.dat.rqpart"));
    EXPECT_TRUE(RQBLIsDownloadTempName(L"A.DAT.RQPART"));
    EXPECT_FALSE(RQBLIsDownloadTempName(L"a.dat.rqpart2"));
    EXPECT_FALSE(RQBLIsDownloadTempName(L"rqpart"));
}

TEST(DownloadTemp, SweepRemovesLeftoversInEveryFolderAndNothingElse) {
    RQTestTempDir dir;
    RQTestTempDir::WriteAll("a.dat", "keep");
    RQTestTempDir::WriteAll("a.dat.rqpart", "half");
    RQTestTempDir::WriteAll("data/deep/b.pak.RQPART", "half");
    RQTestTempDir::WriteAll("data/deep/b.pak", "keep");
    RQTestTempDir::WriteAll("data/c.rqpart.txt", "keep");
    fs::create_directories("dir.rqpart");  // a folder of that name is not ours
    EXPECT_EQ(RQBLSweepDownloadTemps(L"."), 2u);
    EXPECT_FALSE(fs::exists("a.dat.rqpart"));
    EXPECT_FALSE(fs::exists("data/deep/b.pak.RQPART"));
    EXPECT_TRUE(fs::exists("a.dat"));
    EXPECT_TRUE(fs::exists("data/deep/b.pak"));
    EXPECT_TRUE(fs::exists("data/c.rqpart.txt"));
    EXPECT_TRUE(fs::is_directory("dir.rqpart"));
    EXPECT_EQ(RQBLSweepDownloadTemps(L"."), 0u);
}

TEST(DownloadTemp, SweepOfAMissingFolderDoesNothing) {
    RQTestTempDir dir;
    EXPECT_EQ(RQBLSweepDownloadTemps(L"no-such-folder"), 0u);
}
