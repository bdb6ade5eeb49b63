#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "RQTestTempDir.h"
#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLCrc32Kernel.h"
#include "baselib/RQBLMappedFile.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t nBytes, unsigned nSeed) {
    std::mt19937 rng(nSeed);
    std::vector<uint8_t> v(nBytes);
    for (auto& b : v) {
        b = static_cast<uint8_t>(rng());
    }
    return v;
}

class Crc32Test : public ::testing::Test {
protected:
    CRQBLCrc32 m_crc;

    uint32_t Reference(const uint8_t* p, size_t n) const {
        return ~rqbl::Crc32UpdateBytewise(m_crc.GetTable(), 0xFFFFFFFFu, p, n);
    }
};

TEST_F(Crc32Test, CheckValuesAndTable) {
    const auto* p = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(~m_crc.Update(0xFFFFFFFFu, p, 9), 0xCBF43926u);
    EXPECT_EQ(Reference(p, 9), 0xCBF43926u);
    EXPECT_EQ(~m_crc.Update(0xFFFFFFFFu, p, 0), 0u);
    ASSERT_NE(m_crc.GetTable(), nullptr);
    EXPECT_EQ(m_crc.GetTable()[1], 0x77073096u);
    EXPECT_EQ(m_crc.GetTable()[128], 0xEDB88320u);
    EXPECT_EQ(m_crc.GetTable()[255], 0x2D02EF8Du);
}

TEST_F(Crc32Test, EveryKernelAgreesWithTheTableAtAllLengthsAndAlignments) {
    const std::vector<uint8_t> data = RandomBytes(4096, 1);
    const bool bClmul = rqbl::Crc32HasClmul();
    for (size_t nOffset = 0; nOffset < 16; ++nOffset) {
        for (size_t n = 0; n <= 600; ++n) {
            const uint8_t* p = data.data() + nOffset;
            const uint32_t dwRef = Reference(p, n);
            ASSERT_EQ(~m_crc.Update(0xFFFFFFFFu, p, n), dwRef) << n << " at " << nOffset;
            ASSERT_EQ(~rqbl::Crc32Update(0xFFFFFFFFu, p, n), dwRef) << n << " at " << nOffset;
            ASSERT_EQ(~rqbl::Crc32UpdateSlicing(0xFFFFFFFFu, p, n), dwRef) << n << " at " << nOffset;
            if (bClmul) {
                ASSERT_EQ(~rqbl::Crc32UpdateClmul(0xFFFFFFFFu, p, n), dwRef) << n << " at " << nOffset;
            }
        }
    }
}

TEST_F(Crc32Test, LargeBuffersInPiecesOfRandomLengths) {
    const std::vector<uint8_t> data = RandomBytes(3 << 20, 2);
    std::mt19937 rng(3);
    for (int nRound = 0; nRound < 8; ++nRound) {
        const size_t nOffset = rng() % 64;
        const size_t nLen = data.size() - nOffset - rng() % 4096;
        const uint32_t dwRef = Reference(data.data() + nOffset, nLen);
        // The running value carries over between pieces of any size.
        uint32_t nRunning = 0xFFFFFFFFu;
        for (size_t nDone = 0; nDone < nLen;) {
            size_t nPiece = std::min<size_t>(nLen - nDone, rng() % (1 << 20));
            nRunning = m_crc.Update(nRunning, data.data() + nOffset + nDone, nPiece);
            nDone += nPiece;
        }
        EXPECT_EQ(~nRunning, dwRef);
    }
}

class Crc32FileTest : public Crc32Test {
protected:
    RQTestTempDir m_dir;
};

TEST_F(Crc32FileTest, FileOf25MiBIsReadInWindowsOf10And10And5MiB) {
    const std::vector<uint8_t> data = RandomBytes(25 << 20, 4);
    RQTestTempDir::WriteAll("big.dat", std::string(data.begin(), data.end()));
    std::vector<size_t> windows;
    uint32_t nRunning = 0xFFFFFFFFu;
    auto fnWindow = [&](const uint8_t* p, size_t n) {
        windows.push_back(n);
        nRunning = rqbl::Crc32UpdateBytewise(m_crc.GetTable(), nRunning, p, n);
    };
    EXPECT_EQ(rqbl::WalkMappedFile(L"big.dat", CRQBLCrc32::FILE_WINDOW_BYTES, fnWindow),
              rqbl::MappedWalk::COMPLETE);
    EXPECT_EQ(windows, (std::vector<size_t>{10 << 20, 10 << 20, 5 << 20}));
    const uint32_t dwRef = Reference(data.data(), data.size());
    EXPECT_EQ(~nRunning, dwRef);
    uint32_t dwCrc = 0;
    EXPECT_TRUE(m_crc.GetFileCrc(L"big.dat", dwCrc));
    EXPECT_EQ(dwCrc, dwRef);
}

TEST_F(Crc32FileTest, SmallFilesByPathRelativeAndAbsolute) {
    RQTestTempDir::WriteAll("check.txt", "123456789");
    uint32_t dwCrc = 0;
    EXPECT_TRUE(m_crc.GetFileCrc(L"check.txt", dwCrc));
    EXPECT_EQ(dwCrc, 0xCBF43926u);
    dwCrc = 0;
    EXPECT_TRUE(m_crc.GetFileCrc((m_dir.Path() / "check.txt").wstring().c_str(), dwCrc));
    EXPECT_EQ(dwCrc, 0xCBF43926u);
}

TEST_F(Crc32FileTest, EmptyMissingAndFolderGiveTheirFixedResults) {
    RQTestTempDir::WriteAll("empty.dat", "");
    uint32_t dwCrc = 5;
    EXPECT_TRUE(m_crc.GetFileCrc(L"empty.dat", dwCrc));
    EXPECT_EQ(dwCrc, 0u);
    EXPECT_FALSE(m_crc.GetFileCrc(L"missing.dat", dwCrc));
    EXPECT_EQ(dwCrc, 0xFFFFFFFFu);
    std::filesystem::create_directory("folder");
    dwCrc = 5;
    EXPECT_FALSE(m_crc.GetFileCrc(L"folder", dwCrc));
    EXPECT_EQ(dwCrc, 0xFFFFFFFFu);
    EXPECT_FALSE(m_crc.GetFileCrc(nullptr, dwCrc));
}

}  // namespace
