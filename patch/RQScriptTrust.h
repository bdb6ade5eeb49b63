// Whether the update worker may run a downloaded patch script: the script's
// signature against a set of trusted keys, and its release against the
// highest this install has accepted. The verdicts of the whole decision
// (patch/RQUpdateTrust.h) are named here too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "baselib/RQBLEd25519.h"

enum class RQScriptVerdict {
    OK,                   // signed by a trusted key, release current, not expired
    NO_KEYS_BUILT_IN,     // this launcher trusts no key: scripts are taken unsigned
    MISSING_SIGNATURE,    // no PATCHER_CODE.LUA.sig
    MALFORMED_SIGNATURE,  // a .sig that is not in the signature file's form
    UNKNOWN_KEY,          // signed by a key this launcher does not trust
    BAD_SIGNATURE,        // the signature does not match the script (or release, or expiry)
    OLDER_RELEASE,        // lower than the highest release this install has accepted
    EXPIRED,              // the release's expiry date has come
    // With a key list:
    KEY_LIST_MISSING,         // the install has accepted a key list; the server has none
    MALFORMED_KEY_LIST,       // a PATCHER_KEYS.txt that is not a key list
    UNKNOWN_ROOT,             // the key list is signed by a key that is not one of this launcher's roots
    BAD_KEY_LIST_SIGNATURE,   // the key list's signature does not match it
    KEY_LIST_ROLLBACK,        // older than the key list this install has accepted
    MISSING_TIMESTAMP,        // no PATCHER_TIMESTAMP.txt
    MALFORMED_TIMESTAMP,      // a PATCHER_TIMESTAMP.txt that is not a timestamp
    UNKNOWN_TIMESTAMP_KEY,    // the timestamp is signed by a key the list does not allow for it
    BAD_TIMESTAMP_SIGNATURE,  // the timestamp's signature does not match it
    STALE_TIMESTAMP,          // the timestamp's expiry date has come: the server's update is not current
    TIMESTAMP_MISMATCH,       // the timestamp names other files than those the server gave
    REVOKED_KEY,              // the key list revokes the script's signer
    KEY_EXPIRED,              // the signer's (or the timestamp signer's) listed expiry has come
    RELEASE_JUMP,             // further above the accepted release than the key list's release-step
    // Found once the script has run:
    SHA256_MISSING,   // a launcher with keys needs every entry's SHA-256
    GAME_NOT_LISTED,  // a launcher with keys starts only a TOLVANE.EXE that the script lists
};

// True for the two verdicts under which the script may run.
inline bool RQScriptMayRun(RQScriptVerdict verdict) {
    return verdict == RQScriptVerdict::OK || verdict == RQScriptVerdict::NO_KEYS_BUILT_IN;
}

// pSigBytes is null when the server had no signature file. The checks run in
// the order of the verdicts above; the release and the expiry are judged only
// once the signature has proved them. ullRelease receives the signed release
// number whenever the signature is good (OK, OLDER_RELEASE, EXPIRED), else 0.
RQScriptVerdict RQCheckScriptSignature(const std::string& strScriptBytes, const std::string* pSigBytes,
                                       const std::vector<RQ_PUBLIC_KEY>& vecTrusted,
                                       uint64_t ullHighestAccepted, int64_t nNowUnixSeconds,
                                       uint64_t& ullRelease);

// The log text for a verdict; for a refusal it names the check that failed.
const wchar_t* RQScriptVerdictText(RQScriptVerdict verdict);

// Keys in their one-line text form, separated by ";" (the form of the build
// setting RQ_TRUSTED_KEYS) or blanks; empty items are ignored. False, with
// vecKeys left alone, when any item is not a key.
bool RQParseTrustedKeys(std::string_view strText, std::vector<RQ_PUBLIC_KEY>& vecKeys);
