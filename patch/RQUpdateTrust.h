// The whole decision on a downloaded update in a launcher with keys: the key
// list (or the roots alone), the timestamp, the script's signature and its
// release, against what the install has accepted before.
//
// The keys built into a launcher are root keys. A server without a key list
// is read as a key list of those roots as release keys, without expiry, bound
// or timestamp: exactly how launchers read signed scripts before key lists
// existed. Once an install has accepted a key list, the server must always
// have one, so that leaving it out cannot switch the timestamp off.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "baselib/RQBLEd25519.h"
#include "patch/RQReleaseState.h"
#include "patch/RQScriptTrust.h"

// The signed files as the server gave them; null: the server does not have it.
struct RQ_UPDATE_FILES {
    const std::string* pScript = nullptr;  // never null
    const std::string* pSignature = nullptr;
    const std::string* pKeyList = nullptr;
    const std::string* pTimestamp = nullptr;
};

struct RQ_TRUST_JUDGEMENT {
    RQScriptVerdict verdict = RQScriptVerdict::MISSING_SIGNATURE;
    uint64_t ullRelease = 0;   // the signed release (when the signature is good)
    bool bKeyList = false;     // judged under a key list (false: the roots sign releases)
    RQ_TRUST_STATE nextState;  // for OK: what the install keeps from now on
};

// The whole decision: key list (or the roots alone), timestamp, signature,
// release. vecRoots empty: NO_KEYS_BUILT_IN. nNowUnixSeconds: the player's clock.
RQ_TRUST_JUDGEMENT RQJudgeUpdate(const RQ_UPDATE_FILES& files, const std::vector<RQ_PUBLIC_KEY>& vecRoots,
                                 const RQ_TRUST_STATE& stored, int64_t nNowUnixSeconds);
