#include "baselib/log/RQBLSeedCbc.h"

#include <cstring>

#include "baselib/log/RQBLLogKeys.h"

namespace {

enum : int { FEED_BYTES = 32 };  // the one-shot feeds the cipher in pieces of this size

uint32_t LoadBE(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void XorChain(const uint32_t* pdwChain, const uint8_t* pIn, uint8_t* pOut) {
    for (int w = 0; w < 4; ++w) {
        const uint32_t v = LoadBE(pIn + 4 * w) ^ pdwChain[w];
        pOut[4 * w] = static_cast<uint8_t>(v >> 24);
        pOut[4 * w + 1] = static_cast<uint8_t>(v >> 16);
        pOut[4 * w + 2] = static_cast<uint8_t>(v >> 8);
        pOut[4 * w + 3] = static_cast<uint8_t>(v);
    }
}

void SetChain(uint32_t* pdwChain, const uint8_t* pBlock) {
    for (int w = 0; w < 4; ++w) {
        pdwChain[w] = LoadBE(pBlock + 4 * w);
    }
}

// The one-shot body, on a context already begun for enciphering.
int EncryptBegun(SEED_CBC_CONTEXT* pCtx, const uint8_t* pIn, int nLen, uint8_t* pOut, int* pOutLen) {
    if (pIn == nullptr || pOut == nullptr || pOutLen == nullptr || nLen < 1) {
        return 0;  // with nothing to feed, the last piece below would read 32 bytes
    }
    int nTotal = 0;
    int nFed = 0;
    int nPiece = 0;
    // Whole 32-byte pieces while more than 32 bytes remain; then the rest
    // (a full 32 when the length is a multiple of 32) as the last piece.
    while (nLen - nFed > FEED_BYTES) {
        if (SeedCbcUpdate(pCtx, pIn + nFed, FEED_BYTES, pOut + nTotal, &nPiece) != 1) {
            return 0;
        }
        nFed += FEED_BYTES;
        nTotal += nPiece;
    }
    if (SeedCbcUpdate(pCtx, pIn + nFed, nLen - nFed, pOut + nTotal, &nPiece) != 1) {
        return 0;
    }
    nTotal += nPiece;
    if (SeedCbcFinish(pCtx, pOut + nTotal, &nPiece) != 1) {
        return 0;
    }
    *pOutLen = nTotal + nPiece;
    return 1;
}

}  // namespace

int SeedCbcBeginKeyed(SEED_CBC_CONTEXT* pCtx, int nDirection, const uint8_t* pKey, const uint8_t* pIV) {
    if (pCtx == nullptr || pKey == nullptr || pIV == nullptr) {
        return 0;
    }
    std::memset(pCtx, 0, sizeof(*pCtx));
    pCtx->nDirection = nDirection;
    SetChain(pCtx->adwChain, pIV);
    SeedKeySchedule(pKey, pCtx->adwRoundKey);
    return 1;
}

int SeedCbcBegin(SEED_CBC_CONTEXT* pCtx, int nDirection, const uint8_t* pKey, const uint8_t* pIV) {
    if (pKey == nullptr || pIV == nullptr) {
        return 0;
    }
    return SeedCbcBeginKeyed(pCtx, nDirection, RQBL_SEED_KEY, RQBL_SEED_IV);
}

int SeedCbcUpdate(SEED_CBC_CONTEXT* pCtx, const uint8_t* pIn, int nLen, uint8_t* pOut, int* pOutLen) {
    if (pCtx == nullptr || pIn == nullptr || pOut == nullptr || pOutLen == nullptr || nLen < 0) {
        return 0;
    }
    const int nBlocks = nLen / SEED_BLOCK_BYTES;
    uint8_t abyBlock[SEED_BLOCK_BYTES];
    for (int i = 0; i < nBlocks; ++i) {
        const uint8_t* pSrc = pIn + SEED_BLOCK_BYTES * i;
        uint8_t* pDst = pOut + SEED_BLOCK_BYTES * i;
        if (pCtx->nDirection == SEED_DIR_ENCRYPT) {
            XorChain(pCtx->adwChain, pSrc, abyBlock);
            SeedEncryptBlock(pCtx->adwRoundKey, abyBlock, pDst);
            SetChain(pCtx->adwChain, pDst);
        } else {
            // Copied first, so that deciphering in place still chains on the
            // cipher block.
            uint8_t abyCipher[SEED_BLOCK_BYTES];
            std::memcpy(abyCipher, pSrc, SEED_BLOCK_BYTES);
            SeedDecryptBlock(pCtx->adwRoundKey, abyCipher, abyBlock);
            XorChain(pCtx->adwChain, abyBlock, pDst);
            SetChain(pCtx->adwChain, abyCipher);
            std::memcpy(pCtx->abyLastOut, pDst, SEED_BLOCK_BYTES);
        }
    }
    const int nRest = nLen - SEED_BLOCK_BYTES * nBlocks;
    std::memcpy(pCtx->abyPending, pIn + SEED_BLOCK_BYTES * nBlocks, static_cast<size_t>(nRest));
    pCtx->nPending = nRest;
    *pOutLen = SEED_BLOCK_BYTES * nBlocks;
    return 1;
}

int SeedCbcFinish(SEED_CBC_CONTEXT* pCtx, uint8_t* pOut, int* pOutLen) {
    if (pOutLen == nullptr) {
        return 0;
    }
    *pOutLen = 0;
    if (pCtx == nullptr || pOut == nullptr) {
        return 0;
    }
    if (pCtx->nDirection == SEED_DIR_ENCRYPT) {
        const int nPad = SEED_BLOCK_BYTES - pCtx->nPending;  // 1 to 16
        std::memset(pCtx->abyPending + pCtx->nPending, nPad, static_cast<size_t>(nPad));
        uint8_t abyBlock[SEED_BLOCK_BYTES];
        XorChain(pCtx->adwChain, pCtx->abyPending, abyBlock);
        SeedEncryptBlock(pCtx->adwRoundKey, abyBlock, pOut);
        SetChain(pCtx->adwChain, pOut);
        *pOutLen = SEED_BLOCK_BYTES;
        return 1;
    }
    // Cipher text is whole blocks; a tail means the data was cut.
    if (pCtx->nPending != 0) {
        return 0;
    }
    const int nPad = pCtx->abyLastOut[SEED_BLOCK_BYTES - 1];
    if (nPad == 0 || nPad > SEED_BLOCK_BYTES) {
        return 0;  // also the case when no block was deciphered at all
    }
    // Every padding byte must carry the padding length: a damaged last block
    // rarely passes this, while the last byte alone passes one time in sixteen.
    for (int i = SEED_BLOCK_BYTES - nPad; i < SEED_BLOCK_BYTES; ++i) {
        if (pCtx->abyLastOut[i] != nPad) {
            return 0;
        }
    }
    std::memset(pOut - nPad, 0, static_cast<size_t>(nPad));
    *pOutLen = nPad;
    return 1;
}

int SeedCbcEncrypt(const uint8_t* pKey, const uint8_t* pIV, const uint8_t* pIn, int nLen, uint8_t* pOut,
                   int* pOutLen) {
    SEED_CBC_CONTEXT ctx;
    if (SeedCbcBegin(&ctx, SEED_DIR_ENCRYPT, pKey, pIV) != 1) {
        return 0;
    }
    return EncryptBegun(&ctx, pIn, nLen, pOut, pOutLen);
}

int SeedCbcEncryptKeyed(const uint8_t* pKey, const uint8_t* pIV, const uint8_t* pIn, int nLen, uint8_t* pOut,
                        int* pOutLen) {
    SEED_CBC_CONTEXT ctx;
    if (SeedCbcBeginKeyed(&ctx, SEED_DIR_ENCRYPT, pKey, pIV) != 1) {
        return 0;
    }
    return EncryptBegun(&ctx, pIn, nLen, pOut, pOutLen);
}

int SeedCbcDecryptKeyed(const uint8_t* pKey, const uint8_t* pIV, const uint8_t* pIn, int nLen, uint8_t* pOut,
                        int* pOutLen) {
    if (pIn == nullptr || pOut == nullptr || pOutLen == nullptr || nLen < SEED_BLOCK_BYTES ||
        nLen % SEED_BLOCK_BYTES != 0) {
        return 0;
    }
    SEED_CBC_CONTEXT ctx;
    int nPlain = 0;
    int nPad = 0;
    if (SeedCbcBeginKeyed(&ctx, SEED_DIR_DECRYPT, pKey, pIV) != 1 ||
        SeedCbcUpdate(&ctx, pIn, nLen, pOut, &nPlain) != 1 ||
        SeedCbcFinish(&ctx, pOut + nPlain, &nPad) != 1) {
        return 0;
    }
    *pOutLen = nPlain - nPad;
    return 1;
}
