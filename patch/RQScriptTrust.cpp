#include "patch/RQScriptTrust.h"

#include <algorithm>

#include "patch/RQScriptSignature.h"

RQScriptVerdict RQCheckScriptSignature(const std::string& strScriptBytes, const std::string* pSigBytes,
                                       const std::vector<RQ_PUBLIC_KEY>& vecTrusted,
                                       uint64_t ullHighestAccepted, int64_t nNowUnixSeconds,
                                       uint64_t& ullRelease) {
    ullRelease = 0;
    if (vecTrusted.empty()) {
        return RQScriptVerdict::NO_KEYS_BUILT_IN;
    }
    if (pSigBytes == nullptr) {
        return RQScriptVerdict::MISSING_SIGNATURE;
    }
    RQ_SCRIPT_SIGNATURE sig;
    if (!RQParseScriptSignature(*pSigBytes, sig)) {
        return RQScriptVerdict::MALFORMED_SIGNATURE;
    }
    if (std::find(vecTrusted.begin(), vecTrusted.end(), sig.key) == vecTrusted.end()) {
        return RQScriptVerdict::UNKNOWN_KEY;
    }
    const std::string strMessage = RQSignedScriptMessage(strScriptBytes, sig);
    if (!RQBLEd25519Verify(sig.key, strMessage.data(), strMessage.size(), sig.signature)) {
        return RQScriptVerdict::BAD_SIGNATURE;
    }
    ullRelease = sig.ullRelease;
    if (sig.ullRelease < ullHighestAccepted) {
        return RQScriptVerdict::OLDER_RELEASE;
    }
    if (!sig.strExpires.empty() && nNowUnixSeconds >= sig.nExpiresUnix) {
        return RQScriptVerdict::EXPIRED;
    }
    return RQScriptVerdict::OK;
}

const wchar_t* RQScriptVerdictText(RQScriptVerdict verdict) {
    switch (verdict) {
        case RQScriptVerdict::OK:
            return L"script signature OK: trusted key, current release";
        case RQScriptVerdict::NO_KEYS_BUILT_IN:
            return L"script signature not checked: this launcher has no trusted key";
        case RQScriptVerdict::MISSING_SIGNATURE:
            return L"script refused (MISSING_SIGNATURE): the server has no PATCHER_CODE.LUA.sig";
        case RQScriptVerdict::MALFORMED_SIGNATURE:
            return L"script refused (MALFORMED_SIGNATURE): PATCHER_CODE.LUA.sig is not a signature file";
        case RQScriptVerdict::UNKNOWN_KEY:
            return L"script refused (UNKNOWN_KEY): signed with a key this launcher does not trust";
        case RQScriptVerdict::BAD_SIGNATURE:
            return L"script refused (BAD_SIGNATURE): the signature does not match the script";
        case RQScriptVerdict::OLDER_RELEASE:
            return L"script refused (OLDER_RELEASE): older than the release this install has accepted";
        case RQScriptVerdict::EXPIRED:
            return L"script refused (EXPIRED): the release has expired";
    }
    return L"script refused: unknown verdict";
}

bool RQParseTrustedKeys(std::string_view strText, std::vector<RQ_PUBLIC_KEY>& vecKeys) {
    constexpr std::string_view kSeparators = "; \t\r\n";
    std::vector<RQ_PUBLIC_KEY> vecOut;
    for (size_t nStart = strText.find_first_not_of(kSeparators); nStart != std::string_view::npos;
         nStart = strText.find_first_not_of(kSeparators, nStart)) {
        const size_t nEnd = std::min(strText.find_first_of(kSeparators, nStart), strText.size());
        RQ_PUBLIC_KEY key{};
        if (!RQParsePublicKey(strText.substr(nStart, nEnd - nStart), key)) {
            return false;
        }
        vecOut.push_back(key);
        nStart = nEnd;
    }
    vecKeys.swap(vecOut);
    return true;
}
