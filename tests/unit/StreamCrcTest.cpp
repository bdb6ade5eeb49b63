#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "RQTestTempDir.h"
#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLStreamCrc.h"

namespace {

uint32_t BitwiseCrc(const unsigned char* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
    }
    return ~c;
}

}  // namespace

TEST(StreamCrc, KnownValues) {
    EXPECT_EQ(CRQBLStreamCrc::Of("", 0), 0x00000000u);
    EXPECT_EQ(CRQBLStreamCrc::Of("123456789", 9), 0xCBF43926u);
    const char* pszFox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(CRQBLStreamCrc::Of(pszFox, std::strlen(pszFox)), 0x414FA339u);
}

TEST(StreamCrc, AnySplitAndAlignmentGivesTheSameValueAsTheBitwiseForm) {
    std::mt19937 rng(7);
    std::vector<unsigned char> data(4099);
    for (auto& b : data) {
        b = static_cast<unsigned char>(rng());
    }
    for (size_t nOffset = 0; nOffset < 9; ++nOffset) {
        const unsigned char* p = data.data() + nOffset;
        size_t n = data.size() - nOffset;
        uint32_t dwExpected = BitwiseCrc(p, n);
        EXPECT_EQ(CRQBLStreamCrc::Of(p, n), dwExpected);
        CRQBLStreamCrc crc;
        size_t nDone = 0;
        while (nDone < n) {
            size_t nPiece = std::min<size_t>(n - nDone, rng() % 37);
            crc.Update(p + nDone, nPiece);
            nDone += nPiece;
        }
        EXPECT_EQ(crc.Value(), dwExpected);
    }
}

TEST(StreamCrc, LongBuffersAndLargePiecesMatchTheBitwiseForm) {
    std::mt19937 rng(11);
    std::vector<unsigned char> data(300000);
    for (auto& b : data) {
        b = static_cast<unsigned char>(rng());
    }
    for (size_t n : {63, 64, 65, 79, 80, 127, 128, 129, 1000, 4099, 102400, 102405, 300000}) {
        EXPECT_EQ(CRQBLStreamCrc::Of(data.data() + 3, n - 3), BitwiseCrc(data.data() + 3, n - 3)) << n;
    }
    // Pieces of every size around the 16- and 64-byte steps, at odd offsets.
    uint32_t dwExpected = BitwiseCrc(data.data(), data.size());
    CRQBLStreamCrc crc;
    size_t nDone = 0;
    for (size_t nPiece = 1; nDone < data.size(); nPiece = nPiece % 200 + 13) {
        size_t n = std::min(nPiece * 7, data.size() - nDone);
        crc.Update(data.data() + nDone, n);
        nDone += n;
    }
    EXPECT_EQ(crc.Value(), dwExpected);
    std::vector<unsigned char> ones(4096, 0xFF);
    EXPECT_EQ(CRQBLStreamCrc::Of(ones.data(), ones.size()), BitwiseCrc(ones.data(), ones.size()));
}

TEST(StreamCrc, RestartForgetsEarlierData) {
    CRQBLStreamCrc crc;
    crc.Update("xyz", 3);
    crc.Restart();
    crc.Update("123456789", 9);
    EXPECT_EQ(crc.Value(), 0xCBF43926u);
}

TEST(StreamCrc, AgreesWithTheFileChecksumOfTheComparison) {
    // A download is accepted by this checksum and later compared by the
    // file checksum: the two must never disagree.
    RQTestTempDir dir;
    std::mt19937 rng(3);
    std::string strData(1 << 20, '\0');
    for (char& c : strData) {
        c = static_cast<char>(rng());
    }
    RQTestTempDir::WriteAll("f.bin", strData);
    uint32_t dwFile = 0;
    EXPECT_TRUE(CRQBLCrc32().GetFileCrc(L"f.bin", dwFile));
    EXPECT_EQ(CRQBLStreamCrc::Of(strData.data(), strData.size()), dwFile);
}
