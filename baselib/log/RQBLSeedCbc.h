// SEED in CBC mode with PKCS #7 padding, as the .log records use it.
//
// Two families of entry points:
// - SeedCbcBegin / SeedCbcEncrypt: the record cipher. They require the key and
//   IV pointers but always run with the program's fixed key and IV
//   (RQBLLogKeys.h), whatever the pointers hold.
// - ...Keyed: the same operations with the key and IV actually given, for the
//   log reader and for checks against other SEED implementations.
// All return 1 on success and 0 on failure.
#pragma once

#include <cstdint>

#include "baselib/log/RQBLSeed.h"

enum : int {
    SEED_DIR_ENCRYPT = 1,  // anything else deciphers
    SEED_DIR_DECRYPT = 0,
};

struct SEED_CBC_CONTEXT {
    int nDirection;
    uint32_t adwChain[4];  // the chaining value as four big-endian words
    uint32_t adwRoundKey[SEED_ROUND_KEY_WORDS];
    uint8_t abyPending[SEED_BLOCK_BYTES];  // enciphering: the tail short of a block
    int nPending;
    uint8_t abyLastOut[SEED_BLOCK_BYTES];  // deciphering: the last plain block
};

int SeedCbcBegin(SEED_CBC_CONTEXT* pCtx, int nDirection, const uint8_t* pKey, const uint8_t* pIV);
int SeedCbcBeginKeyed(SEED_CBC_CONTEXT* pCtx, int nDirection, const uint8_t* pKey, const uint8_t* pIV);

// Processes the whole blocks of pIn into pOut (16 * (nLen / 16) bytes). When
// enciphering, the bytes short of a block replace whatever was pending: they
// are not joined with the next call's data, so every call but the last must
// bring whole blocks.
int SeedCbcUpdate(SEED_CBC_CONTEXT* pCtx, const uint8_t* pIn, int nLen, uint8_t* pOut, int* pOutLen);

// Enciphering: pads the pending bytes to one block and writes it to pOut
// (*pOutLen = 16).
// Deciphering: checks the padding of the last block that SeedCbcUpdate wrote
// and sets *pOutLen to the number of padding bytes, which the caller drops.
// Trap: in this direction pOut must point just PAST the deciphered data; the
// padding bytes before it are cleared.
int SeedCbcFinish(SEED_CBC_CONTEXT* pCtx, uint8_t* pOut, int* pOutLen);

// One-shot enciphering of nLen >= 1 bytes. pOut needs room for nLen + 16
// bytes; *pOutLen becomes 16 * (nLen / 16 + 1). On failure *pOutLen is left
// as it was.
int SeedCbcEncrypt(const uint8_t* pKey, const uint8_t* pIV, const uint8_t* pIn, int nLen, uint8_t* pOut,
                   int* pOutLen);
int SeedCbcEncryptKeyed(const uint8_t* pKey, const uint8_t* pIV, const uint8_t* pIn, int nLen, uint8_t* pOut,
                        int* pOutLen);

// One-shot deciphering of nLen bytes (a positive multiple of 16) into pOut
// (room for nLen bytes); *pOutLen becomes the length without the padding.
// Fails on a length that is not whole blocks and on a padding that is not
// p bytes of value p (1 to 16).
int SeedCbcDecryptKeyed(const uint8_t* pKey, const uint8_t* pIV, const uint8_t* pIn, int nLen, uint8_t* pOut,
                        int* pOutLen);
