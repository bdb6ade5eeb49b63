#include "baselib/RQBLEd25519.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace {

struct PKeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;

PKey SecretPKey(const RQ_SECRET_KEY& secret) {
    return PKey(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, secret.data(), secret.size()));
}

}  // namespace

bool RQBLEd25519Verify(const RQ_PUBLIC_KEY& key, const void* pMessage, size_t nSize,
                       const RQ_SIGNATURE& signature) {
    PKey pKey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    MdContext pContext(EVP_MD_CTX_new());
    // Ed25519 hashes internally: no digest is named, and the message goes in whole.
    return pKey && pContext &&
           EVP_DigestVerifyInit(pContext.get(), nullptr, nullptr, nullptr, pKey.get()) == 1 &&
           EVP_DigestVerify(pContext.get(), signature.data(), signature.size(),
                            static_cast<const unsigned char*>(pMessage), nSize) == 1;
}

bool RQBLEd25519Sign(const RQ_SECRET_KEY& secret, const void* pMessage, size_t nSize,
                     RQ_SIGNATURE& signature) {
    PKey pKey = SecretPKey(secret);
    MdContext pContext(EVP_MD_CTX_new());
    size_t nSigSize = signature.size();
    return pKey && pContext &&
           EVP_DigestSignInit(pContext.get(), nullptr, nullptr, nullptr, pKey.get()) == 1 &&
           EVP_DigestSign(pContext.get(), signature.data(), &nSigSize,
                          static_cast<const unsigned char*>(pMessage), nSize) == 1 &&
           nSigSize == signature.size();
}

bool RQBLEd25519PublicKey(const RQ_SECRET_KEY& secret, RQ_PUBLIC_KEY& key) {
    PKey pKey = SecretPKey(secret);
    size_t nSize = key.size();
    return pKey && EVP_PKEY_get_raw_public_key(pKey.get(), key.data(), &nSize) == 1 && nSize == key.size();
}

bool RQBLEd25519NewSecretKey(RQ_SECRET_KEY& secret) {
    // The library's generator, seeded from the operating system's.
    return RAND_priv_bytes(secret.data(), static_cast<int>(secret.size())) == 1;
}

void RQBLWipe(void* pData, size_t nSize) {
    OPENSSL_cleanse(pData, nSize);
}
