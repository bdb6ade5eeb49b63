// Bytes made to pass a CRC-32 check: what a hostile server or a local user
// can do in four bytes, and what only a strong hash tells apart.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "baselib/RQBLStreamCrc.h"

namespace rqtest {

// Other bytes of the same length (at least 5) and CRC-32 as strBody.
inline std::string ForgeSameCrc(const std::string& strBody) {
    // The reflected CRC-32 over the last four bytes is a bijection of the
    // register: run it backwards from the wanted value, and the bytes are what
    // the register before them must be crossed with.
    std::array<uint32_t, 256> table{};
    std::array<uint8_t, 256> byTop{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        table[n] = c;
        byTop[c >> 24] = static_cast<uint8_t>(n);
    }
    std::string strForged = strBody;
    strForged[0] = static_cast<char>(strForged[0] ^ 0x5A);  // other bytes
    const size_t nPrefix = strForged.size() - 4;
    const uint32_t dwPrefixState = ~CRQBLStreamCrc::Of(strForged.data(), nPrefix);
    uint32_t dwState = ~CRQBLStreamCrc::Of(strBody.data(), strBody.size());
    for (int i = 0; i < 4; ++i) {
        uint8_t k = byTop[dwState >> 24];
        dwState = ((dwState ^ table[k]) << 8) | k;
    }
    const uint32_t dwBytes = dwState ^ dwPrefixState;
    for (int i = 0; i < 4; ++i) {
        strForged[nPrefix + i] = static_cast<char>((dwBytes >> (8 * i)) & 0xFF);
    }
    return strForged;
}

}  // namespace rqtest
