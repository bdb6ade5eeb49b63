// SHA-256 (FIPS 180-4) of data that arrives in pieces, so that a download is
// hashed while it is received. The work is OpenSSL's, which uses the
// processor's SHA extensions where there are any. Objects share no state: each
// transfer, on whatever thread, has its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using RQ_SHA256 = std::array<uint8_t, 32>;

struct evp_md_ctx_st;  // OpenSSL's EVP_MD_CTX

class CRQBLSha256 {
public:
    CRQBLSha256();
    ~CRQBLSha256();
    CRQBLSha256(const CRQBLSha256&) = delete;
    CRQBLSha256& operator=(const CRQBLSha256&) = delete;

    void Update(const void* pData, size_t nSize);
    // The digest of everything given since construction or the last Final;
    // the object then starts over. False when the library failed at any point
    // (out of memory): no digest is had then, and none must be assumed.
    bool Final(RQ_SHA256& digest);

    // The digest of one buffer.
    static bool Of(const void* pData, size_t nSize, RQ_SHA256& digest);

private:
    void Start();

    evp_md_ctx_st* m_pContext = nullptr;
    bool m_bFailed = false;
};

// 64 lower-case hexadecimal digits.
std::string RQBLSha256Hex(const RQ_SHA256& digest);
// 64 hexadecimal digits in either case; false for anything else.
bool RQBLParseSha256Hex(const std::wstring& strHex, RQ_SHA256& digest);
bool RQBLParseSha256Hex(const std::string& strHex, RQ_SHA256& digest);
