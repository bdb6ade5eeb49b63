#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

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

TEST(StreamCrc, RestartForgetsEarlierData) {
    CRQBLStreamCrc crc;
    crc.Update("xyz", 3);
    crc.Restart();
    crc.Update("123456789", 9);
    EXPECT_EQ(crc.Value(), 0xCBF43926u);
}
