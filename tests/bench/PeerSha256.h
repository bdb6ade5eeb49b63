// The system's own SHA-256 as the hash benchmark's peer, where there is one
// (Windows CNG, BCrypt); null elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

// Hashes nBytes in pieces of nPiece bytes; false when the system refused.
using PeerSha256Fn = bool (*)(const uint8_t* pData, size_t nBytes, size_t nPiece, uint8_t* pDigest32);
PeerSha256Fn GetPeerSha256();
const char* PeerSha256Name();
