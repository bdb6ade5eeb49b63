#include "tools/mkpatch/RQTrustFiles.h"

#include "baselib/RQBLSha256.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQTimestamp.h"
#include "patch/RQUtcDate.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// Keys that expire sooner than this are worth a word to the operator.
constexpr int64_t kSoonSeconds = 30 * kSecondsPerDay;

std::wstring Wide(const std::string& strText) {
    return std::wstring(strText.begin(), strText.end());  // ASCII: keys and dates
}

}  // namespace

bool RQMakeKeyList(const std::string& strDraft, const std::string& strPublished, const RQ_SECRET_KEY& root,
                   int64_t nNow, std::string& strKeyList, std::wstring& strError,
                   std::vector<std::wstring>& vecNotes) {
    RQ_KEY_LIST list;
    size_t nBadLine = 0;
    if (!RQParseKeyList(strDraft, true, list) && !RQParseKeyList(strDraft, false, list, &nBadLine)) {
        strError = L"not a key list (line " + std::to_wstring(nBadLine) +
                   L"): TOLVANE-KEY-LIST 1, version, release-step, release-key lines, then timestamp-key "
                   L"and revoked lines";
        return false;
    }
    RQ_KEY_LIST published;
    if (!strPublished.empty() && RQParseKeyList(strPublished, true, published) &&
        RQKeyListBody(published) != RQKeyListBody(list) && list.ullVersion <= published.ullVersion) {
        strError = L"the published key list has version " + std::to_wstring(published.ullVersion) +
                   L": a changed list needs a higher version, or launchers keep the old one";
        return false;
    }
    for (const RQ_LISTED_KEY& listed : list.vecKeys) {
        if (listed.nExpiresUnix <= nNow) {
            vecNotes.push_back(L"expired already, signs nothing: " + Wide(RQFormatPublicKey(listed.key)));
        } else if (listed.nExpiresUnix - nNow < kSoonSeconds) {
            vecNotes.push_back(L"expires within 30 days (" + Wide(listed.strExpires) + L"): " +
                               Wide(RQFormatPublicKey(listed.key)));
        }
    }
    if (!RQSignKeyList(list, root)) {
        strError = L"the key list could not be signed";
        return false;
    }
    strKeyList = RQFormatKeyList(list);
    return true;
}

bool RQCheckSigningKey(const std::string& strKeyList, const RQ_PUBLIC_KEY& key, RQKeyRole role, int64_t nNow,
                       std::wstring& strError) {
    if (strKeyList.empty()) {
        return true;
    }
    RQ_KEY_LIST list;
    if (!RQParseKeyList(strKeyList, true, list) || !RQVerifyKeyList(list)) {
        strError = L"the content folder's PATCHER_KEYS.txt is not a signed key list";
        return false;
    }
    const std::wstring strKey = Wide(RQFormatPublicKey(key));
    if (RQIsRevoked(list, key)) {
        strError = L"the key list revokes this key: " + strKey;
        return false;
    }
    const RQ_LISTED_KEY* pListed = RQFindListedKey(list, key, role);
    if (pListed == nullptr) {
        strError =
            std::wstring(role == RQKeyRole::RELEASE ? L"the key list names no such release key: "
                                                    : L"the key list names no such key for timestamps: ") +
            strKey;
        return false;
    }
    if (pListed->nExpiresUnix <= nNow) {
        strError = L"this key's time in the key list ended on " + Wide(pListed->strExpires) + L": " + strKey;
        return false;
    }
    return true;
}

bool RQMakeTimestamp(const std::string& strScript, const std::string& strSignature,
                     const std::string& strKeyList, const RQ_SECRET_KEY& secret, int nDays, int64_t nNow,
                     std::string& strTimestamp, std::wstring& strError) {
    RQ_SCRIPT_SIGNATURE sig;
    if (!RQParseScriptSignature(strSignature, sig)) {
        strError = L"PATCHER_CODE.LUA.sig is not a signature file";
        return false;
    }
    const std::string strMessage = RQSignedScriptMessage(strScript, sig);
    if (!RQBLEd25519Verify(sig.key, strMessage.data(), strMessage.size(), sig.signature)) {
        strError = L"PATCHER_CODE.LUA.sig does not sign this PATCHER_CODE.LUA";
        return false;
    }
    RQ_PUBLIC_KEY stamper{};
    if (!RQCheckSigningKey(strKeyList, sig.key, RQKeyRole::RELEASE, nNow, strError) ||
        !RQBLEd25519PublicKey(secret, stamper) ||
        !RQCheckSigningKey(strKeyList, stamper, RQKeyRole::TIMESTAMP, nNow, strError)) {
        return false;
    }
    if (nDays < 1 || nDays > RQ_TIMESTAMP_MAX_DAYS) {
        strError = L"a timestamp lives 1 to " + std::to_wstring(RQ_TIMESTAMP_MAX_DAYS) + L" days";
        return false;
    }
    RQ_TIMESTAMP stamp;
    stamp.strExpires = RQFormatUtcDate(nNow + nDays * kSecondsPerDay);
    stamp.ullRelease = sig.ullRelease;
    if (!CRQBLSha256::Of(strScript.data(), strScript.size(), stamp.script) ||
        !CRQBLSha256::Of(strSignature.data(), strSignature.size(), stamp.scriptSignature) ||
        !CRQBLSha256::Of(strKeyList.data(), strKeyList.size(), stamp.keyList) ||
        !RQSignTimestamp(stamp, secret)) {
        strError = L"the timestamp could not be signed";
        return false;
    }
    strTimestamp = RQFormatTimestamp(stamp);
    return true;
}
