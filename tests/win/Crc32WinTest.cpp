// Windows sharing rules around the file checksum.
#include <windows.h>
#include <gtest/gtest.h>

#include "../unit/RQTestTempDir.h"
#include "baselib/RQBLCrc32.h"
#include "baselib/win/RQBLWinHandle.h"

namespace {

CRQBLHandle OpenHeld(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare) {
    return CRQBLHandle(
        ::CreateFileW(pszPath, dwAccess, dwShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(Crc32Sharing, FileHeldWithoutReadSharingCannotBeChecked) {
    RQTestTempDir dir;
    RQTestTempDir::WriteAll("held.dat", "123456789");
    CRQBLCrc32 crc;
    {
        CRQBLHandle held = OpenHeld(L"held.dat", GENERIC_READ, 0);
        ASSERT_TRUE(held);
        uint32_t dwCrc = 0;
        EXPECT_FALSE(crc.GetFileCrc(L"held.dat", dwCrc));
        EXPECT_EQ(dwCrc, 0xFFFFFFFFu);
    }
    {
        // Someone writing: sharing read only, our open must not succeed.
        CRQBLHandle held = OpenHeld(L"held.dat", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(held);
        uint32_t dwCrc = 0;
        EXPECT_FALSE(crc.GetFileCrc(L"held.dat", dwCrc));
        EXPECT_EQ(dwCrc, 0xFFFFFFFFu);
    }
    {
        // Another reader that shares reading is no obstacle.
        CRQBLHandle held = OpenHeld(L"held.dat", GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(held);
        uint32_t dwCrc = 0;
        EXPECT_TRUE(crc.GetFileCrc(L"held.dat", dwCrc));
        EXPECT_EQ(dwCrc, 0xCBF43926u);
    }
    uint32_t dwCrc = 0;
    EXPECT_TRUE(crc.GetFileCrc(L"held.dat", dwCrc));
    EXPECT_EQ(dwCrc, 0xCBF43926u);
}

}  // namespace
