#include "baselib/RQBLSha256.h"

#include <openssl/evp.h>

#include "baselib/RQBLHex.h"

namespace {

// Fetched once per process: an explicit fetch spares every new object the
// library's implicit look-up. Never freed, as the library itself ends.
const EVP_MD* Sha256Method() {
    static const EVP_MD* s_pMethod = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return s_pMethod;
}

}  // namespace

CRQBLSha256::CRQBLSha256() : m_pContext(EVP_MD_CTX_new()) {
    Start();
}

CRQBLSha256::~CRQBLSha256() {
    EVP_MD_CTX_free(m_pContext);
}

void CRQBLSha256::Start() {
    m_bFailed = m_pContext == nullptr || Sha256Method() == nullptr ||
                EVP_DigestInit_ex2(m_pContext, Sha256Method(), nullptr) != 1;
}

void CRQBLSha256::Update(const void* pData, size_t nSize) {
    if (!m_bFailed && nSize > 0 && EVP_DigestUpdate(m_pContext, pData, nSize) != 1) {
        m_bFailed = true;
    }
}

bool CRQBLSha256::Final(RQ_SHA256& digest) {
    RQ_SHA256 out{};
    unsigned int nLen = 0;
    bool bOk = !m_bFailed && EVP_DigestFinal_ex(m_pContext, out.data(), &nLen) == 1 && nLen == out.size();
    Start();
    if (bOk) {
        digest = out;
    }
    return bOk;
}

bool CRQBLSha256::Of(const void* pData, size_t nSize, RQ_SHA256& digest) {
    CRQBLSha256 sha;
    sha.Update(pData, nSize);
    return sha.Final(digest);
}

std::string RQBLSha256Hex(const RQ_SHA256& digest) {
    return RQBLToHex(digest.data(), digest.size());
}

bool RQBLParseSha256Hex(const std::wstring& strHex, RQ_SHA256& digest) {
    return RQBLFromHex(std::wstring_view(strHex), digest.data(), digest.size());
}

bool RQBLParseSha256Hex(const std::string& strHex, RQ_SHA256& digest) {
    return RQBLFromHex(std::string_view(strHex), digest.data(), digest.size());
}
