// Ed25519 signatures (RFC 8032, the pure variant), computed by OpenSSL. A
// secret key is the 32-byte seed of RFC 8032, from which the public key
// follows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using RQ_PUBLIC_KEY = std::array<uint8_t, 32>;
using RQ_SECRET_KEY = std::array<uint8_t, 32>;
using RQ_SIGNATURE = std::array<uint8_t, 64>;

// True only for a signature made with the secret key of key over exactly
// these bytes.
bool RQBLEd25519Verify(const RQ_PUBLIC_KEY& key, const void* pMessage, size_t nSize,
                       const RQ_SIGNATURE& signature);

bool RQBLEd25519Sign(const RQ_SECRET_KEY& secret, const void* pMessage, size_t nSize,
                     RQ_SIGNATURE& signature);

bool RQBLEd25519PublicKey(const RQ_SECRET_KEY& secret, RQ_PUBLIC_KEY& key);

// A new secret key from the system's random source. False when there is none.
bool RQBLEd25519NewSecretKey(RQ_SECRET_KEY& secret);

// Overwrites secret material in a way the compiler does not optimise away.
void RQBLWipe(void* pData, size_t nSize);
