#include "patch/RQUpdateTrust.h"

#include <algorithm>

#include "baselib/RQBLSha256.h"
#include "patch/RQKeyList.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQTimestamp.h"

namespace {

RQ_TRUST_JUDGEMENT Verdict(RQScriptVerdict verdict, bool bKeyList, uint64_t ullRelease = 0) {
    RQ_TRUST_JUDGEMENT judgement;
    judgement.verdict = verdict;
    judgement.bKeyList = bKeyList;
    judgement.ullRelease = ullRelease;
    return judgement;
}

bool Contains(const std::vector<RQ_PUBLIC_KEY>& vecKeys, const RQ_PUBLIC_KEY& key) {
    return std::find(vecKeys.begin(), vecKeys.end(), key) != vecKeys.end();
}

bool DigestIs(const std::string& strBytes, const RQ_SHA256& expected) {
    RQ_SHA256 digest{};
    return CRQBLSha256::Of(strBytes.data(), strBytes.size(), digest) && digest == expected;
}

// The state after an accepted release, signed by signer.
RQ_TRUST_STATE Accepted(RQ_TRUST_STATE state, uint64_t ullRelease, const RQ_PUBLIC_KEY& signer) {
    state.ullRelease = ullRelease;
    state.bHasReleaseKey = true;
    state.releaseKey = signer;
    return state;
}

// No key list: the roots sign releases themselves, as before key lists.
RQ_TRUST_JUDGEMENT JudgeByRoots(const RQ_UPDATE_FILES& files, const std::vector<RQ_PUBLIC_KEY>& vecRoots,
                                const RQ_TRUST_STATE& stored, int64_t nNow) {
    RQ_TRUST_JUDGEMENT judgement;
    judgement.verdict = RQCheckScriptSignature(*files.pScript, files.pSignature, vecRoots, stored.ullRelease,
                                               nNow, judgement.ullRelease);
    RQ_SCRIPT_SIGNATURE sig;
    if (judgement.verdict == RQScriptVerdict::OK && RQParseScriptSignature(*files.pSignature, sig)) {
        judgement.nextState = Accepted(stored, sig.ullRelease, sig.key);
    }
    return judgement;
}

}  // namespace

RQ_TRUST_JUDGEMENT RQJudgeUpdate(const RQ_UPDATE_FILES& files, const std::vector<RQ_PUBLIC_KEY>& vecRoots,
                                 const RQ_TRUST_STATE& stored, int64_t nNow) {
    if (vecRoots.empty()) {
        return Verdict(RQScriptVerdict::NO_KEYS_BUILT_IN, false);
    }
    // A version signed by a root this launcher no longer has (one taken out
    // of a new build after it leaked) holds nothing back.
    const uint64_t ullAcceptedVersion =
        stored.ullKeyListVersion > 0 && Contains(vecRoots, stored.keyListRoot) ? stored.ullKeyListVersion : 0;
    if (files.pKeyList == nullptr) {
        return ullAcceptedVersion > 0 ? Verdict(RQScriptVerdict::KEY_LIST_MISSING, true)
                                      : JudgeByRoots(files, vecRoots, stored, nNow);
    }

    // The key list: a root's, and not older than the one accepted.
    RQ_KEY_LIST list;
    if (!RQParseKeyList(*files.pKeyList, true, list)) {
        return Verdict(RQScriptVerdict::MALFORMED_KEY_LIST, true);
    }
    if (!Contains(vecRoots, list.root)) {
        return Verdict(RQScriptVerdict::UNKNOWN_ROOT, true);
    }
    if (!RQVerifyKeyList(list)) {
        return Verdict(RQScriptVerdict::BAD_KEY_LIST_SIGNATURE, true);
    }
    if (list.ullVersion < ullAcceptedVersion) {
        return Verdict(RQScriptVerdict::KEY_LIST_ROLLBACK, true);
    }

    // The timestamp: by a key the list allows for it, current, and naming
    // exactly the files at hand.
    RQ_TIMESTAMP stamp;
    if (files.pTimestamp == nullptr) {
        return Verdict(RQScriptVerdict::MISSING_TIMESTAMP, true);
    }
    if (!RQParseTimestamp(*files.pTimestamp, stamp)) {
        return Verdict(RQScriptVerdict::MALFORMED_TIMESTAMP, true);
    }
    if (RQIsRevoked(list, stamp.key)) {
        return Verdict(RQScriptVerdict::REVOKED_KEY, true);
    }
    const RQ_LISTED_KEY* pStamper = RQFindListedKey(list, stamp.key, RQKeyRole::TIMESTAMP);
    if (pStamper == nullptr) {
        return Verdict(RQScriptVerdict::UNKNOWN_TIMESTAMP_KEY, true);
    }
    if (nNow >= pStamper->nExpiresUnix) {
        return Verdict(RQScriptVerdict::KEY_EXPIRED, true);
    }
    if (!RQVerifyTimestamp(stamp)) {
        return Verdict(RQScriptVerdict::BAD_TIMESTAMP_SIGNATURE, true);
    }
    if (nNow >= stamp.nExpiresUnix) {
        return Verdict(RQScriptVerdict::STALE_TIMESTAMP, true);
    }
    if (files.pSignature == nullptr) {
        return Verdict(RQScriptVerdict::MISSING_SIGNATURE, true);
    }
    if (!DigestIs(*files.pKeyList, stamp.keyList) || !DigestIs(*files.pScript, stamp.script) ||
        !DigestIs(*files.pSignature, stamp.scriptSignature)) {
        return Verdict(RQScriptVerdict::TIMESTAMP_MISMATCH, true);
    }

    // The script: signed by a listed release key that is neither revoked nor expired.
    RQ_SCRIPT_SIGNATURE sig;
    if (!RQParseScriptSignature(*files.pSignature, sig)) {
        return Verdict(RQScriptVerdict::MALFORMED_SIGNATURE, true);
    }
    if (RQIsRevoked(list, sig.key)) {
        return Verdict(RQScriptVerdict::REVOKED_KEY, true);
    }
    const RQ_LISTED_KEY* pSigner = RQFindListedKey(list, sig.key, RQKeyRole::RELEASE);
    if (pSigner == nullptr) {
        return Verdict(RQScriptVerdict::UNKNOWN_KEY, true);
    }
    if (nNow >= pSigner->nExpiresUnix) {
        return Verdict(RQScriptVerdict::KEY_EXPIRED, true);
    }
    const std::string strMessage = RQSignedScriptMessage(*files.pScript, sig);
    if (!RQBLEd25519Verify(sig.key, strMessage.data(), strMessage.size(), sig.signature)) {
        return Verdict(RQScriptVerdict::BAD_SIGNATURE, true);
    }
    if (stamp.ullRelease != sig.ullRelease) {
        return Verdict(RQScriptVerdict::TIMESTAMP_MISMATCH, true, sig.ullRelease);
    }

    // The release: not older, not too far ahead. A release signed by a key
    // that this list revokes no longer holds the install back, so that a
    // leaked key's jump ahead is undone by revoking the key.
    const uint64_t ullFloor =
        stored.bHasReleaseKey && RQIsRevoked(list, stored.releaseKey) ? 0 : stored.ullRelease;
    if (sig.ullRelease < ullFloor) {
        return Verdict(RQScriptVerdict::OLDER_RELEASE, true, sig.ullRelease);
    }
    if (ullFloor > 0 && sig.ullRelease - ullFloor > list.ullReleaseStep) {
        return Verdict(RQScriptVerdict::RELEASE_JUMP, true, sig.ullRelease);
    }
    if (!sig.strExpires.empty() && nNow >= sig.nExpiresUnix) {
        return Verdict(RQScriptVerdict::EXPIRED, true, sig.ullRelease);
    }
    RQ_TRUST_JUDGEMENT judgement = Verdict(RQScriptVerdict::OK, true, sig.ullRelease);
    judgement.nextState = Accepted(stored, sig.ullRelease, sig.key);
    judgement.nextState.ullKeyListVersion = list.ullVersion;
    judgement.nextState.keyListRoot = list.root;
    return judgement;
}
