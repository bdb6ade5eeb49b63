// A part taken up again by the handle that will write it: its kept prefix is
// cut back and read through that handle, and the read gives way to a stop.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "RQTestTempDir.h"
#include "baselib/RQBLFileOps.h"

TEST(OutFile, AKeptPrefixIsCutBackAndReadThroughTheHandleUnlessStopped) {
    const std::string strPart(3 * 1024 * 1024 + 17, 'p');
    struct Case {
        const char* pszName;
        uint64_t ullKeep;
        bool bStopped;
        rqbl::FileError expected;
        uint64_t ullRead;
    } cases[] = {
        {"kept", 2 * 1024 * 1024 + 5, false, rqbl::FileError::NONE, 2 * 1024 * 1024 + 5},
        {"the player stopped", 2 * 1024 * 1024 + 5, true, rqbl::FileError::OTHER, 0},
        {"shorter than the prefix", strPart.size() + 1, false, rqbl::FileError::SHORT, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        RQTestTempDir dir;
        RQTestTempDir::WriteAll("a.rqpart", strPart);
        rqbl::CRQBLOutFile file;
        ASSERT_EQ(file.Open(L"a.rqpart", false, true), rqbl::FileError::NONE);
        std::atomic<bool> stop{c.bStopped};
        uint64_t ullRead = 0;
        EXPECT_EQ(file.KeepFirst(
                      c.ullKeep, [&](const uint8_t*, size_t nBytes) { ullRead += nBytes; }, &stop),
                  c.expected);
        EXPECT_EQ(ullRead, c.ullRead);
        if (c.expected == rqbl::FileError::NONE) {
            ASSERT_EQ(file.Write("x", 1), rqbl::FileError::NONE);
            file.Close();
            EXPECT_EQ(std::filesystem::file_size("a.rqpart"), c.ullKeep + 1) << "written on after the prefix";
        }
    }
}
