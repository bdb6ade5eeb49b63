#include "baselib/RQBLStreamCrc.h"

#include <array>

namespace {

// Slicing by eight: eight bytes per step through eight tables, about five
// times the speed of the byte-at-a-time loop, which matters for files of
// hundreds of megabytes.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

CrcTables MakeTables() {
    CrcTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        for (size_t s = 1; s < 8; ++s) {
            t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFFu];
        }
    }
    return t;
}

const CrcTables& Tables() {
    static const CrcTables s_tables = MakeTables();
    return s_tables;
}

}  // namespace

void CRQBLStreamCrc::Update(const void* pData, size_t nSize) {
    const CrcTables& t = Tables();
    const auto* p = static_cast<const unsigned char*>(pData);
    uint32_t c = m_dwState;
    while (nSize >= 8) {
        // Assembled byte by byte: no alignment or byte-order assumption.
        uint32_t lo = c ^ (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
        c = t[7][lo & 0xFFu] ^ t[6][(lo >> 8) & 0xFFu] ^ t[5][(lo >> 16) & 0xFFu] ^ t[4][lo >> 24] ^
            t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        nSize -= 8;
    }
    while (nSize-- > 0) {
        c = t[0][(c ^ *p++) & 0xFFu] ^ (c >> 8);
    }
    m_dwState = c;
}

uint32_t CRQBLStreamCrc::Of(const void* pData, size_t nSize) {
    CRQBLStreamCrc crc;
    crc.Update(pData, nSize);
    return crc.Value();
}
