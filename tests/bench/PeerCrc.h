// zlib's crc32 as the benchmark's peer, where the build has zlib.
#pragma once

#include <cstddef>
#include <cstdint>

// Null when there is no zlib. Takes and returns a finished CRC, as zlib does.
using PeerCrcFn = uint32_t (*)(uint32_t dwCrc, const uint8_t* pData, size_t nBytes);
PeerCrcFn GetPeerCrc();
