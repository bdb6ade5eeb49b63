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
        case RQScriptVerdict::KEY_LIST_MISSING:
            return L"script refused (KEY_LIST_MISSING): this install has accepted a key list, the server "
                   L"has no PATCHER_KEYS.txt";
        case RQScriptVerdict::MALFORMED_KEY_LIST:
            return L"script refused (MALFORMED_KEY_LIST): PATCHER_KEYS.txt is not a key list";
        case RQScriptVerdict::UNKNOWN_ROOT:
            return L"script refused (UNKNOWN_ROOT): the key list is signed by a key that is not a root "
                   L"of this launcher";
        case RQScriptVerdict::BAD_KEY_LIST_SIGNATURE:
            return L"script refused (BAD_KEY_LIST_SIGNATURE): the key list's signature does not match it";
        case RQScriptVerdict::KEY_LIST_ROLLBACK:
            return L"script refused (KEY_LIST_ROLLBACK): older than the key list this install has accepted";
        case RQScriptVerdict::MISSING_TIMESTAMP:
            return L"script refused (MISSING_TIMESTAMP): the server has no PATCHER_TIMESTAMP.txt";
        case RQScriptVerdict::MALFORMED_TIMESTAMP:
            return L"script refused (MALFORMED_TIMESTAMP): PATCHER_TIMESTAMP.txt is not a timestamp";
        case RQScriptVerdict::UNKNOWN_TIMESTAMP_KEY:
            return L"script refused (UNKNOWN_TIMESTAMP_KEY): the timestamp is signed by a key the key "
                   L"list does not allow for it";
        case RQScriptVerdict::BAD_TIMESTAMP_SIGNATURE:
            return L"script refused (BAD_TIMESTAMP_SIGNATURE): the timestamp's signature does not match it";
        case RQScriptVerdict::STALE_TIMESTAMP:
            return L"script refused (STALE_TIMESTAMP): the timestamp has expired, the server's update is not "
                   L"current";
        case RQScriptVerdict::TIMESTAMP_MISMATCH:
            return L"script refused (TIMESTAMP_MISMATCH): the timestamp names other files than the server's";
        case RQScriptVerdict::REVOKED_KEY:
            return L"script refused (REVOKED_KEY): signed with a key that the key list revokes";
        case RQScriptVerdict::KEY_EXPIRED:
            return L"script refused (KEY_EXPIRED): the signing key's time in the key list is over";
        case RQScriptVerdict::RELEASE_JUMP:
            return L"script refused (RELEASE_JUMP): further ahead of the accepted release than the key list "
                   L"allows";
        case RQScriptVerdict::SHA256_MISSING:
            return L"script refused (SHA256_MISSING): an entry has no SHA-256";
        case RQScriptVerdict::GAME_NOT_LISTED:
            return L"script refused (GAME_NOT_LISTED): TOLVANE.EXE is not listed";
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
