// Native only: zlib's crc32 as an independent reference.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "baselib/RQBLCrc32.h"

TEST(Crc32Zlib, AgreesWithZlibOnRandomBuffers) {
    CRQBLCrc32 crc;
    std::mt19937 rng(7);
    std::vector<uint8_t> data(1 << 20);
    for (auto& b : data) {
        b = static_cast<uint8_t>(rng());
    }
    for (size_t n = 0; n <= 1024; ++n) {
        const uint8_t* p = data.data() + n % 13;
        ASSERT_EQ(~crc.Update(0xFFFFFFFFu, p, n), static_cast<uint32_t>(crc32_z(0, p, n))) << n;
    }
    for (int i = 0; i < 20; ++i) {
        size_t nOffset = rng() % 4096;
        size_t nLen = rng() % (data.size() - nOffset);
        const uint8_t* p = data.data() + nOffset;
        ASSERT_EQ(~crc.Update(0xFFFFFFFFu, p, nLen), static_cast<uint32_t>(crc32_z(0, p, nLen))) << nLen;
    }
}
