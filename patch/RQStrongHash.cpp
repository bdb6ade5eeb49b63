#include "patch/RQStrongHash.h"

#include "baselib/RQBLSha256.h"

namespace {

class CRQSha256Hash : public CRQStrongHash {
public:
    void Update(const uint8_t* pData, size_t nBytes) override { m_sha.Update(pData, nBytes); }
    std::string HexDigest() override {
        RQ_SHA256 digest{};
        // No digest means no match: an empty text equals no script's hash.
        return m_sha.Final(digest) ? RQBLSha256Hex(digest) : std::string();
    }

private:
    CRQBLSha256 m_sha;
};

}  // namespace

std::unique_ptr<CRQStrongHash> RQMakeSha256Hash() {
    return std::make_unique<CRQSha256Hash>();
}
