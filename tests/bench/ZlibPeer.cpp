#include <zlib.h>

#include "PeerCrc.h"

namespace {
uint32_t ZlibCrc(uint32_t dwCrc, const uint8_t* pData, size_t nBytes) {
    return static_cast<uint32_t>(crc32_z(dwCrc, pData, nBytes));
}
}  // namespace

PeerCrcFn GetPeerCrc() {
    return ZlibCrc;
}
