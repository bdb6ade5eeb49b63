#include "baselib/RQBLCrc32Kernel.h"

#include <cstring>

namespace rqbl {

namespace {

struct RQBLCrc32Tables {
    // aSlice[k][b]: the running value that byte b followed by k zero bytes
    // leaves, starting from 0. aSlice[0] is the classic byte-wise table.
    uint32_t aSlice[16][256];
};

constexpr RQBLCrc32Tables MakeCrc32Tables() {
    RQBLCrc32Tables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) != 0 ? (c >> 1) ^ CRC32_POLYNOMIAL : c >> 1;
        }
        tables.aSlice[0][n] = c;
    }
    for (int k = 1; k < 16; ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = tables.aSlice[k - 1][n];
            tables.aSlice[k][n] = (c >> 8) ^ tables.aSlice[0][c & 0xFFu];
        }
    }
    return tables;
}

constexpr RQBLCrc32Tables kCrc32Tables = MakeCrc32Tables();

inline uint32_t LoadLE32(const uint8_t* p) {
    // Little-endian targets only (x86-64 Windows and the native test build).
    uint32_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

}  // namespace

uint32_t Crc32UpdateBytewise(const uint32_t* pTable, uint32_t nRunning, const uint8_t* pData, size_t nBytes) {
    for (size_t i = 0; i < nBytes; ++i) {
        nRunning = (nRunning >> 8) ^ pTable[(nRunning ^ pData[i]) & 0xFFu];
    }
    return nRunning;
}

uint32_t Crc32UpdateSlicing(uint32_t nRunning, const uint8_t* pData, size_t nBytes) {
    const auto& t = kCrc32Tables.aSlice;
    while (nBytes >= 16) {
        uint32_t a = LoadLE32(pData) ^ nRunning;
        uint32_t b = LoadLE32(pData + 4);
        uint32_t c = LoadLE32(pData + 8);
        uint32_t d = LoadLE32(pData + 12);
        nRunning = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
                   t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
                   t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
                   t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
        pData += 16;
        nBytes -= 16;
    }
    return Crc32UpdateBytewise(t[0], nRunning, pData, nBytes);
}

uint32_t Crc32Update(uint32_t nRunning, const uint8_t* pData, size_t nBytes) {
    static const bool s_bClmul = Crc32HasClmul();
    // Below 64 bytes the folding kernel's set-up costs more than it saves.
    if (s_bClmul && nBytes >= 64) {
        return Crc32UpdateClmul(nRunning, pData, nBytes);
    }
    return Crc32UpdateSlicing(nRunning, pData, nBytes);
}

}  // namespace rqbl
