// The base library's buffer-returning utilities of the .log records.
//
// Each function returns a pointer into an output buffer that belongs to the
// calling thread and to that function: it stays valid until the same thread
// calls the same function again. Callers copy what they keep. The buffers only
// grow; bRelease true frees the calling thread's buffer (and returns null).
#pragma once

#include <cstdint>
#include <vector>

class CRQBLUtil {
public:
    // The keyed XOR transform over nLen bytes: bDecode false is the forward
    // transform of the log, true its inverse. Null when pEncryptedBuffer is null,
    // when nLen is negative, or when the key has no words (nothing is logged:
    // the log writer is this function's caller).
    static uint8_t* XORDecrypt(const void* pEncryptedBuffer, int nLen, const std::vector<int32_t>& key,
                               bool bDecode, bool bRelease);

    // SEED-CBC with padding under the record cipher's fixed key and IV: returns
    // *pOutLen = 16 * (nLen / 16 + 1) bytes. Null (and *pOutLen 0) when nLen is
    // 0 or less; null when pData is null.
    static uint8_t* SEEDEncrypt(const void* pData, int nLen, int* pOutLen, bool bRelease);
};
