#include "baselib/log/RQBLUtil.h"

#include <algorithm>
#include <cstring>

#include "baselib/RQBLThreadScratch.h"

#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLSeedCbc.h"

namespace {

// One function's output buffer on one thread: room for nLen bytes plus a
// cipher block, all of it zero (also what a longer earlier call left behind
// it: no bytes of an earlier record stay in the buffer).
uint8_t* Prepare(CRQBLThreadScratch& scratch, int nLen) {
    uint8_t* p = scratch.Get(static_cast<size_t>(nLen) + SEED_BLOCK_BYTES);
    if (p != nullptr) {
        std::memset(p, 0, scratch.Size());
    }
    return p;
}

CRQBLThreadScratch& XorScratch() {
    static CRQBLThreadScratch& s_scratch = CRQBLThreadScratch::Make();
    return s_scratch;
}

CRQBLThreadScratch& SeedScratch() {
    static CRQBLThreadScratch& s_scratch = CRQBLThreadScratch::Make();
    return s_scratch;
}

}  // namespace

uint8_t* CRQBLUtil::XORDecrypt(const void* pEncryptedBuffer, int nLen, const std::vector<int32_t>& key,
                               bool bDecode, bool bRelease) {
    if (bRelease) {
        XorScratch().Release();
        return nullptr;
    }
    // No log line here: the log writer itself calls this function, and a line
    // about its own failure would come straight back. A null result is the
    // error; the caller decides what to say.
    if (pEncryptedBuffer == nullptr || nLen < 0 || key.empty()) {
        return nullptr;
    }
    const auto* pIn = static_cast<const uint8_t*>(pEncryptedBuffer);
    uint8_t* pOut = Prepare(XorScratch(), nLen);
    if (pOut == nullptr) {
        return nullptr;
    }
    const size_t nWords = key.size();
    size_t k = 0;  // the walk starts at word 0 on every call
    int i = 0;
    for (; nLen - i >= 4; i += 4, ++k) {
        const auto w = static_cast<uint32_t>(key[k % nWords]);
        const uint8_t* s = pIn + i;
        uint8_t* d = pOut + i;
        if (!bDecode) {
            // XOR the little-endian word, then exchange its first and last bytes.
            const uint32_t v =
                (uint32_t{s[0]} | (uint32_t{s[1]} << 8) | (uint32_t{s[2]} << 16) | (uint32_t{s[3]} << 24)) ^
                w;
            d[0] = static_cast<uint8_t>(v >> 24);
            d[1] = static_cast<uint8_t>(v >> 8);
            d[2] = static_cast<uint8_t>(v >> 16);
            d[3] = static_cast<uint8_t>(v);
        } else {
            // Exchange the first and last bytes back, then XOR.
            const uint32_t v =
                (uint32_t{s[3]} | (uint32_t{s[1]} << 8) | (uint32_t{s[2]} << 16) | (uint32_t{s[0]} << 24)) ^
                w;
            d[0] = static_cast<uint8_t>(v);
            d[1] = static_cast<uint8_t>(v >> 8);
            d[2] = static_cast<uint8_t>(v >> 16);
            d[3] = static_cast<uint8_t>(v >> 24);
        }
    }
    if (i < nLen) {
        // A tail of 1 to 3 bytes takes the low bytes of its key word, unexchanged.
        const auto w = static_cast<uint32_t>(key[k % nWords]);
        for (int b = 0; i + b < nLen; ++b) {
            pOut[i + b] = static_cast<uint8_t>(pIn[i + b] ^ static_cast<uint8_t>(w >> (8 * b)));
        }
    }
    return pOut;
}

uint8_t* CRQBLUtil::SEEDEncrypt(const void* pData, int nLen, int* pOutLen, bool bRelease) {
    if (bRelease) {
        SeedScratch().Release();
        return nullptr;
    }
    if (pOutLen == nullptr) {
        return nullptr;
    }
    if (nLen <= 0) {
        *pOutLen = 0;
        return nullptr;
    }
    uint8_t* pOut = Prepare(SeedScratch(), nLen);
    if (pOut == nullptr) {
        return nullptr;
    }
    *pOutLen = 0;
    if (SeedCbcEncrypt(RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV, static_cast<const uint8_t*>(pData), nLen, pOut,
                       pOutLen) != 1) {
        return nullptr;
    }
    return pOut;
}
