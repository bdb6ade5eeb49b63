// Signed updates for tests, from keys made of a repeated byte: the script's
// signature, a root's key list and a timestamp naming exactly the files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "baselib/RQBLSha256.h"
#include "patch/RQKeyList.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQTimestamp.h"

namespace rqtest {

inline RQ_SECRET_KEY SeedKey(uint8_t byFill) {
    RQ_SECRET_KEY secret{};
    secret.fill(byFill);
    return secret;
}

inline RQ_PUBLIC_KEY PublicOf(const RQ_SECRET_KEY& secret) {
    RQ_PUBLIC_KEY key{};
    RQBLEd25519PublicKey(secret, key);
    return key;
}

inline std::string SignatureFile(const std::string& strScript, const RQ_SECRET_KEY& secret,
                                 uint64_t ullRelease, const std::string& strExpires = std::string()) {
    RQ_SCRIPT_SIGNATURE sig;
    sig.ullRelease = ullRelease;
    sig.strExpires = strExpires;
    RQSignScript(strScript, secret, sig);
    return RQFormatScriptSignature(sig);
}

inline RQ_LISTED_KEY Listed(const RQ_SECRET_KEY& secret, RQKeyRole role,
                            const char* pszExpires = "2099-01-01") {
    RQ_LISTED_KEY listed;
    listed.key = PublicOf(secret);
    listed.role = role;
    listed.strExpires = pszExpires;
    return listed;
}

inline std::string KeyListFile(const RQ_SECRET_KEY& root, uint64_t ullVersion, uint64_t ullStep,
                               const std::vector<RQ_LISTED_KEY>& vecKeys,
                               const std::vector<RQ_PUBLIC_KEY>& vecRevoked = {}) {
    RQ_KEY_LIST list;
    list.ullVersion = ullVersion;
    list.ullReleaseStep = ullStep;
    list.vecKeys = vecKeys;
    list.vecRevoked = vecRevoked;
    RQSignKeyList(list, root);
    return RQFormatKeyList(list);
}

inline RQ_SHA256 Digest(const std::string& strBytes) {
    RQ_SHA256 digest{};
    CRQBLSha256::Of(strBytes.data(), strBytes.size(), digest);
    return digest;
}

inline std::string TimestampFile(const RQ_SECRET_KEY& secret, const char* pszExpires, uint64_t ullRelease,
                                 const std::string& strScript, const std::string& strSignature,
                                 const std::string& strKeyList) {
    RQ_TIMESTAMP stamp;
    stamp.strExpires = pszExpires;
    stamp.ullRelease = ullRelease;
    stamp.script = Digest(strScript);
    stamp.scriptSignature = Digest(strSignature);
    stamp.keyList = Digest(strKeyList);
    RQSignTimestamp(stamp, secret);
    return RQFormatTimestamp(stamp);
}

}  // namespace rqtest
