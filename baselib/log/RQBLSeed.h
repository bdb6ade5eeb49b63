// The SEED block cipher (RFC 4269): 128-bit blocks, 128-bit key, 16 rounds.
// The block functions take the round keys, not the key, so that one key
// schedule serves every block of a message.
#pragma once

#include <cstdint>

enum : int {
    SEED_BLOCK_BYTES = 16,
    SEED_KEY_BYTES = 16,
    SEED_ROUND_KEY_WORDS = 32,  // two per round
};

// Fills pdwRoundKey[0..31] from the 16 key bytes.
void SeedKeySchedule(const uint8_t* pKey, uint32_t* pdwRoundKey);

// One 16-byte block, read and written as four big-endian words. pIn and pOut
// may be the same block.
void SeedEncryptBlock(const uint32_t* pdwRoundKey, const uint8_t* pIn, uint8_t* pOut);
void SeedDecryptBlock(const uint32_t* pdwRoundKey, const uint8_t* pIn, uint8_t* pOut);
