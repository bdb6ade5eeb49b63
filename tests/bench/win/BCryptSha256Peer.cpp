#include <windows.h>

#include <bcrypt.h>

#include "../PeerSha256.h"
#include "baselib/win/RQBLWinHandle.h"

namespace {

struct AlgorithmTraits {
    using handle_type = BCRYPT_ALG_HANDLE;
    static BCRYPT_ALG_HANDLE Empty() { return nullptr; }
    static bool IsValid(BCRYPT_ALG_HANDLE h) { return h != nullptr; }
    static void Close(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
    using handle_type = BCRYPT_HASH_HANDLE;
    static BCRYPT_HASH_HANDLE Empty() { return nullptr; }
    static bool IsValid(BCRYPT_HASH_HANDLE h) { return h != nullptr; }
    static void Close(BCRYPT_HASH_HANDLE h) { BCryptDestroyHash(h); }
};

bool CngSha256(const uint8_t* pData, size_t nBytes, size_t nPiece, uint8_t* pDigest32) {
    BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&hAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        return false;
    }
    CRQBLUniqueHandle<AlgorithmTraits> algorithm(hAlgorithm);
    BCRYPT_HASH_HANDLE hHash = nullptr;
    if (BCryptCreateHash(algorithm.Get(), &hHash, nullptr, 0, nullptr, 0, 0) != 0) {
        return false;
    }
    CRQBLUniqueHandle<HashTraits> hash(hHash);
    for (size_t i = 0; i < nBytes; i += nPiece) {
        const size_t n = nBytes - i < nPiece ? nBytes - i : nPiece;
        if (BCryptHashData(hash.Get(), const_cast<PUCHAR>(pData + i), static_cast<ULONG>(n), 0) != 0) {
            return false;
        }
    }
    return BCryptFinishHash(hash.Get(), pDigest32, 32, 0) == 0;
}

}  // namespace

PeerSha256Fn GetPeerSha256() {
    return &CngSha256;
}

const char* PeerSha256Name() {
    return "Windows CNG (BCrypt)";
}
