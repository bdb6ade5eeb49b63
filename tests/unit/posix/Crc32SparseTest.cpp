// Native only: a sparse file over 4 GiB. The walk fills about ten seconds of
// page cache with zeros (under Wine as well), too long for every test run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../RQTestTempDir.h"
#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLCrc32Kernel.h"

namespace {

// x^(8n) modulo the polynomial, bit-reflected: what n zero bytes do to a
// running value (multiplication by it). Independent of the kernels.
uint32_t MultModP(uint32_t a, uint32_t b) {
    uint32_t nProduct = 0;
    for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
        if ((a & m) != 0) {
            nProduct ^= b;
        }
        b = (b & 1u) != 0 ? (b >> 1) ^ rqbl::CRC32_POLYNOMIAL : b >> 1;
    }
    return nProduct;
}

uint32_t AfterZeroBytes(uint32_t nRunning, uint64_t nZeros) {
    uint32_t nPower = 1u << 31;   // x^0
    uint32_t nSquare = 1u << 23;  // x^8
    for (; nZeros != 0; nZeros >>= 1) {
        if ((nZeros & 1u) != 0) {
            nPower = MultModP(nSquare, nPower);
        }
        nSquare = MultModP(nSquare, nSquare);
    }
    return MultModP(nPower, nRunning);
}

TEST(Crc32Sparse, FileOver4GiBUsesTheHighPartOfTheOffset) {
    RQTestTempDir dir;
    CRQBLCrc32 crc;
    const std::vector<uint8_t> zeros(1000, 0);
    ASSERT_EQ(AfterZeroBytes(0x12345678u, zeros.size()),
              rqbl::Crc32UpdateBytewise(crc.GetTable(), 0x12345678u, zeros.data(), zeros.size()));

    const std::string strHead = "head of a large file";
    const std::string strTail = "tail beyond four GiB";
    const uint64_t nTailAt = (uint64_t{4} << 30) + 12345;
    {
        std::ofstream out("sparse.dat", std::ios::binary);
        out << strHead;
    }
    std::filesystem::resize_file("sparse.dat", nTailAt);
    {
        std::ofstream out("sparse.dat", std::ios::binary | std::ios::in | std::ios::ate);
        out << strTail;
    }
    ASSERT_EQ(std::filesystem::file_size("sparse.dat"), nTailAt + strTail.size());

    uint32_t nExpected = rqbl::Crc32UpdateBytewise(
        crc.GetTable(), 0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(strHead.data()), strHead.size());
    nExpected = AfterZeroBytes(nExpected, nTailAt - strHead.size());
    nExpected = rqbl::Crc32UpdateBytewise(crc.GetTable(), nExpected,
                                          reinterpret_cast<const uint8_t*>(strTail.data()), strTail.size());
    uint32_t dwCrc = 0;
    EXPECT_TRUE(crc.GetFileCrc(L"sparse.dat", dwCrc));
    EXPECT_EQ(dwCrc, ~nExpected);
}

}  // namespace
