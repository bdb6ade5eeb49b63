#include "patch/RQSecretKeyFile.h"

#include <string_view>

#include "baselib/RQBLHex.h"
#include "patch/RQScriptSignature.h"

namespace {

constexpr std::string_view kMagicLine = "TOLVANE-SECRET-KEY 1\n";
constexpr std::string_view kSecretPrefix = "secret: ed25519:";
constexpr std::string_view kPublicPrefix = "public: ";

}  // namespace

std::string RQFormatSecretKey(const RQ_SECRET_KEY& secret, const RQ_PUBLIC_KEY& key) {
    std::string strText(kMagicLine);
    strText += std::string(kSecretPrefix) + RQBLToHex(secret.data(), secret.size()) + "\n";
    strText += std::string(kPublicPrefix) + RQFormatPublicKey(key) + "\n";
    return strText;
}

bool RQParseSecretKey(const std::string& strText, RQ_SECRET_KEY& secret) {
    std::string_view strRest = strText;
    if (strRest.substr(0, kMagicLine.size()) != kMagicLine) {
        return false;
    }
    strRest.remove_prefix(kMagicLine.size());
    if (strRest.substr(0, kSecretPrefix.size()) != kSecretPrefix) {
        return false;
    }
    strRest.remove_prefix(kSecretPrefix.size());
    RQ_SECRET_KEY out{};
    RQ_PUBLIC_KEY stated{};
    RQ_PUBLIC_KEY derived{};
    const bool bOk = strRest.size() > 64 && strRest[64] == '\n' &&
                     RQBLFromHex(strRest.substr(0, 64), out.data(), out.size()) &&
                     strRest.substr(65, kPublicPrefix.size()) == kPublicPrefix &&
                     RQParsePublicKey(strRest.substr(65 + kPublicPrefix.size()), stated) &&
                     RQBLEd25519PublicKey(out, derived) && derived == stated;
    if (bOk) {
        secret = out;
    }
    RQBLWipe(out.data(), out.size());
    return bOk;
}
