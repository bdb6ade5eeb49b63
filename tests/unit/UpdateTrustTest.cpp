// The trust decision over a whole update: a root's key list, the timestamp,
// the script's signature and its release, against what the install accepted.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "RQTestSignedUpdate.h"
#include "RQTestTempDir.h"
#include "patch/RQUpdateTrust.h"

using rqtest::Listed;
using rqtest::PublicOf;
using rqtest::SeedKey;

namespace {

constexpr int64_t kNow = 1767225600;  // 2026-01-01 00:00:00 UTC
const std::string kScript = "CODE_TABLE = { { '', 'TOLVANE.EXE', 1, 0, 2, [13] = '' } }\n";

const RQ_SECRET_KEY kRoot = SeedKey(1);
const RQ_SECRET_KEY kSecondRoot = SeedKey(2);
const RQ_SECRET_KEY kFormerRoot = SeedKey(3);  // taken out of this launcher's build
const RQ_SECRET_KEY kRelease = SeedKey(10);
const RQ_SECRET_KEY kOtherRelease = SeedKey(11);
const RQ_SECRET_KEY kStamper = SeedKey(12);
const RQ_SECRET_KEY kLeaked = SeedKey(13);
const RQ_SECRET_KEY kStranger = SeedKey(14);

// How the update on the server is made; each case changes what it is about.
struct Recipe {
    RQ_SECRET_KEY listRoot = kRoot;
    uint64_t ullListVersion = 2;
    uint64_t ullStep = 100;
    std::vector<RQ_LISTED_KEY> vecKeys = {Listed(kRelease, RQKeyRole::RELEASE),
                                          Listed(kOtherRelease, RQKeyRole::RELEASE, "2026-01-01"),
                                          Listed(kStamper, RQKeyRole::TIMESTAMP)};
    std::vector<RQ_PUBLIC_KEY> vecRevoked = {PublicOf(kLeaked)};
    RQ_SECRET_KEY signer = kRelease;
    uint64_t ullRelease = 50;
    std::string strSigExpires;
    RQ_SECRET_KEY stamper = kStamper;
    const char* pszStampExpires = "2026-01-05";
    uint64_t ullStampRelease = 50;
    bool bKeyList = true;
    bool bTimestamp = true;
    // Applied last, to the finished files.
    std::function<void(std::string& strKeyList, std::string& strStamp, std::string& strSig)> fnTamper;
};

struct Case {
    const char* pszName;
    std::function<void(Recipe&)> fnChange;
    RQ_TRUST_STATE stored;
    RQScriptVerdict expected;
};

// An install that took release 40 (signed by kRelease) under key list 2.
RQ_TRUST_STATE Stored(uint64_t ullRelease = 40, const RQ_SECRET_KEY& signer = kRelease,
                      uint64_t ullVersion = 2, const RQ_SECRET_KEY& root = kRoot) {
    RQ_TRUST_STATE state;
    state.ullRelease = ullRelease;
    state.bHasReleaseKey = true;
    state.releaseKey = PublicOf(signer);
    state.ullKeyListVersion = ullVersion;
    state.keyListRoot = PublicOf(root);
    return state;
}

RQ_TRUST_JUDGEMENT Judge(const Recipe& recipe, const RQ_TRUST_STATE& stored) {
    std::string strSig =
        rqtest::SignatureFile(kScript, recipe.signer, recipe.ullRelease, recipe.strSigExpires);
    std::string strKeyList = rqtest::KeyListFile(recipe.listRoot, recipe.ullListVersion, recipe.ullStep,
                                                 recipe.vecKeys, recipe.vecRevoked);
    std::string strStamp = rqtest::TimestampFile(recipe.stamper, recipe.pszStampExpires,
                                                 recipe.ullStampRelease, kScript, strSig, strKeyList);
    if (recipe.fnTamper) {
        recipe.fnTamper(strKeyList, strStamp, strSig);
    }
    RQ_UPDATE_FILES files;
    files.pScript = &kScript;
    files.pSignature = &strSig;
    files.pKeyList = recipe.bKeyList ? &strKeyList : nullptr;
    files.pTimestamp = recipe.bTimestamp ? &strStamp : nullptr;
    return RQJudgeUpdate(files, {PublicOf(kRoot), PublicOf(kSecondRoot)}, stored, kNow);
}

void Replace(std::string& strText, const std::string& strFrom, const std::string& strTo) {
    strText.replace(strText.find(strFrom), strFrom.size(), strTo);
}

}  // namespace

TEST(UpdateTrust, KeyListTimestampSignatureAndRelease) {
    const RQ_TRUST_STATE fresh;
    const std::vector<Case> vecCases = {
        {"current update", nullptr, Stored(), RQScriptVerdict::OK},
        {"fresh install takes any release", [](Recipe& s) { s.ullRelease = s.ullStampRelease = 90000; },
         fresh, RQScriptVerdict::OK},
        {"second root signs the list", [](Recipe& s) { s.listRoot = kSecondRoot; }, Stored(),
         RQScriptVerdict::OK},
        {"timestamp by a release key", [](Recipe& s) { s.stamper = kRelease; }, Stored(),
         RQScriptVerdict::OK},
        {"release exactly a step ahead", [](Recipe& s) { s.ullRelease = s.ullStampRelease = 140; }, Stored(),
         RQScriptVerdict::OK},
        {"list of a former root no longer holds back", [](Recipe& s) { s.ullListVersion = 1; },
         Stored(40, kRelease, 9, kFormerRoot), RQScriptVerdict::OK},
        {"revoking the signer of a leaked jump undoes it",
         [](Recipe& s) { s.ullRelease = s.ullStampRelease = 41; }, Stored(140, kLeaked), RQScriptVerdict::OK},
        // The key list.
        {"list missing after one was accepted", [](Recipe& s) { s.bKeyList = false; }, Stored(),
         RQScriptVerdict::KEY_LIST_MISSING},
        {"list by a stranger", [](Recipe& s) { s.listRoot = kStranger; }, Stored(),
         RQScriptVerdict::UNKNOWN_ROOT},
        {"list by a former root", [](Recipe& s) { s.listRoot = kFormerRoot; }, Stored(),
         RQScriptVerdict::UNKNOWN_ROOT},
        {"list's step raised",
         [](Recipe& s) {
             s.fnTamper = [](std::string& k, std::string&, std::string&) {
                 Replace(k, "step: 100", "step: 900");
             };
         },
         Stored(), RQScriptVerdict::BAD_KEY_LIST_SIGNATURE},
        {"list without release keys", [](Recipe& s) { s.vecKeys = {Listed(kStamper, RQKeyRole::TIMESTAMP)}; },
         Stored(), RQScriptVerdict::MALFORMED_KEY_LIST},
        {"older list", [](Recipe& s) { s.ullListVersion = 1; }, Stored(), RQScriptVerdict::KEY_LIST_ROLLBACK},
        // The timestamp.
        {"timestamp missing", [](Recipe& s) { s.bTimestamp = false; }, Stored(),
         RQScriptVerdict::MISSING_TIMESTAMP},
        {"timestamp of yesterday's day", [](Recipe& s) { s.pszStampExpires = "2026-01-01"; }, Stored(),
         RQScriptVerdict::STALE_TIMESTAMP},
        {"timestamp by a stranger", [](Recipe& s) { s.stamper = kStranger; }, Stored(),
         RQScriptVerdict::UNKNOWN_TIMESTAMP_KEY},
        {"timestamp by a revoked key", [](Recipe& s) { s.stamper = kLeaked; }, Stored(),
         RQScriptVerdict::REVOKED_KEY},
        {"timestamp's life stretched",
         [](Recipe& s) {
             s.fnTamper = [](std::string&, std::string& t, std::string&) {
                 Replace(t, "2026-01-05", "2027-01-05");
             };
         },
         Stored(), RQScriptVerdict::BAD_TIMESTAMP_SIGNATURE},
        {"timestamp names another key list",
         [](Recipe& s) {
             s.fnTamper = [](std::string& k, std::string&, std::string&) {
                 // the list as it was before the leaked key was revoked
                 k = rqtest::KeyListFile(
                     kRoot, 2, 100,
                     {Listed(kRelease, RQKeyRole::RELEASE), Listed(kLeaked, RQKeyRole::RELEASE),
                      Listed(kStamper, RQKeyRole::TIMESTAMP)});
             };
         },
         Stored(), RQScriptVerdict::TIMESTAMP_MISMATCH},
        {"timestamp names another release", [](Recipe& s) { s.ullStampRelease = 49; }, Stored(),
         RQScriptVerdict::TIMESTAMP_MISMATCH},
        {"timestamp key signs the script", [](Recipe& s) { s.signer = kStamper; }, Stored(),
         RQScriptVerdict::UNKNOWN_KEY},
        // The script's signer and release.
        {"signed by a revoked key", [](Recipe& s) { s.signer = kLeaked; }, Stored(),
         RQScriptVerdict::REVOKED_KEY},
        {"signed by a root under a key list", [](Recipe& s) { s.signer = kRoot; }, Stored(),
         RQScriptVerdict::UNKNOWN_KEY},
        {"signer's time is over", [](Recipe& s) { s.signer = kOtherRelease; }, Stored(),
         RQScriptVerdict::KEY_EXPIRED},
        {"signature over another release",
         [](Recipe& s) {
             s.fnTamper = [](std::string&, std::string&, std::string& g) {
                 Replace(g, "release: 50", "release: 51");
             };
         },
         Stored(), RQScriptVerdict::TIMESTAMP_MISMATCH},
        {"older release", nullptr, Stored(51), RQScriptVerdict::OLDER_RELEASE},
        {"leaked key's jump still holds while the key is not revoked",
         [](Recipe& s) {
             s.vecRevoked.clear();
             s.vecKeys.insert(s.vecKeys.begin(), Listed(kLeaked, RQKeyRole::RELEASE));
         },
         Stored(140, kLeaked), RQScriptVerdict::OLDER_RELEASE},
        {"release a step and one ahead", [](Recipe& s) { s.ullRelease = s.ullStampRelease = 141; }, Stored(),
         RQScriptVerdict::RELEASE_JUMP},
        {"release at the end of 64 bits", [](Recipe& s) { s.ullRelease = s.ullStampRelease = UINT64_MAX; },
         Stored(), RQScriptVerdict::RELEASE_JUMP},
        {"release expired", [](Recipe& s) { s.strSigExpires = "2025-12-31"; }, Stored(),
         RQScriptVerdict::EXPIRED},
    };
    for (const Case& c : vecCases) {
        SCOPED_TRACE(c.pszName);
        Recipe recipe;
        if (c.fnChange) {
            c.fnChange(recipe);
        }
        const RQ_TRUST_JUDGEMENT judgement = Judge(recipe, c.stored);
        EXPECT_EQ(judgement.verdict, c.expected) << RQScriptVerdictText(judgement.verdict);
        EXPECT_TRUE(judgement.bKeyList);
        if (c.expected == RQScriptVerdict::OK) {
            EXPECT_EQ(judgement.nextState.ullRelease, recipe.ullRelease);
            EXPECT_EQ(judgement.nextState.releaseKey, PublicOf(recipe.signer));
            EXPECT_EQ(judgement.nextState.ullKeyListVersion, recipe.ullListVersion);
            EXPECT_EQ(judgement.nextState.keyListRoot, PublicOf(recipe.listRoot));
        }
    }
}

// A server without a key list, an install that never took one: the roots
// sign scripts as the plain key lists of earlier launchers did.
TEST(UpdateTrust, WithoutAKeyListTheRootsSignAsBefore) {
    RQ_TRUST_STATE stored;
    stored.ullRelease = 7;
    const std::string strByRoot = rqtest::SignatureFile(kScript, kSecondRoot, 8);
    const std::string strByRelease = rqtest::SignatureFile(kScript, kRelease, 8);
    RQ_UPDATE_FILES files;
    files.pScript = &kScript;
    files.pSignature = &strByRoot;
    const std::vector<RQ_PUBLIC_KEY> vecRoots = {PublicOf(kRoot), PublicOf(kSecondRoot)};
    RQ_TRUST_JUDGEMENT judgement = RQJudgeUpdate(files, vecRoots, stored, kNow);
    EXPECT_EQ(judgement.verdict, RQScriptVerdict::OK);
    EXPECT_FALSE(judgement.bKeyList);
    EXPECT_EQ(judgement.nextState.ullRelease, 8u);
    EXPECT_EQ(judgement.nextState.releaseKey, PublicOf(kSecondRoot));
    EXPECT_EQ(judgement.nextState.ullKeyListVersion, 0u);

    files.pSignature = &strByRelease;  // a release key needs a key list naming it
    EXPECT_EQ(RQJudgeUpdate(files, vecRoots, stored, kNow).verdict, RQScriptVerdict::UNKNOWN_KEY);
    EXPECT_EQ(RQJudgeUpdate(files, {}, stored, kNow).verdict, RQScriptVerdict::NO_KEYS_BUILT_IN);
}

TEST(UpdateTrust, KeyListsAreReadStrictly) {
    const std::string strGood = rqtest::KeyListFile(
        kRoot, 3, 10, {Listed(kRelease, RQKeyRole::RELEASE), Listed(kStamper, RQKeyRole::TIMESTAMP)},
        {PublicOf(kLeaked)});
    RQ_KEY_LIST list;
    ASSERT_TRUE(RQParseKeyList(strGood, true, list));
    EXPECT_TRUE(RQVerifyKeyList(list));
    EXPECT_EQ(RQFormatKeyList(list), strGood);
    const std::string strRelease = RQFormatPublicKey(PublicOf(kRelease));
    const std::vector<std::pair<const char*, std::function<std::string()>>> vecBad = {
        {"a line added", [&] { return strGood + "comment: x\n"; }},
        {"version with a leading zero",
         [&] {
             std::string s = strGood;
             Replace(s, "version: 3", "version: 03");
             return s;
         }},
        {"version 0",
         [&] {
             std::string s = strGood;
             Replace(s, "version: 3", "version: 0");
             return s;
         }},
        {"step 0",
         [&] {
             std::string s = strGood;
             Replace(s, "step: 10", "step: 0");
             return s;
         }},
        {"no expiry",
         [&] {
             std::string s = strGood;
             Replace(s, " expires 2099-01-01\ntimestamp", "\ntimestamp");
             return s;
         }},
        {"no such day",
         [&] {
             std::string s = strGood;
             Replace(s, "2099-01-01", "2099-02-30");
             return s;
         }},
        {"a key twice",
         [&] {
             std::string s = strGood;
             Replace(s, "revoked: " + RQFormatPublicKey(PublicOf(kLeaked)), "revoked: " + strRelease);
             return s;
         }},
        {"revoked before the keys",
         [&] {
             std::string s = strGood;
             const size_t nRevoked = s.find("revoked: ");
             const std::string strLine = s.substr(nRevoked, s.find('\n', nRevoked) + 1 - nRevoked);
             s.erase(nRevoked, strLine.size());
             s.insert(s.find("release-key: "), strLine);
             return s;
         }},
        {"upper-case key",
         [&] {
             std::string s = strGood;
             Replace(s, strRelease, "ED25519:" + strRelease.substr(8));
             return s;
         }},
        {"other version",
         [&] {
             std::string s = strGood;
             Replace(s, "LIST 1", "LIST 2");
             return s;
         }},
        {"huge", [&] { return strGood + std::string(RQ_KEY_LIST_MAX_BYTES, '\n'); }},
    };
    for (const auto& [pszName, fnMake] : vecBad) {
        EXPECT_FALSE(RQParseKeyList(fnMake(), true, list)) << pszName;
    }
    std::string strCrLf = strGood;
    for (size_t i = strCrLf.find('\n'); i != std::string::npos; i = strCrLf.find('\n', i + 2)) {
        strCrLf.insert(i, "\r");
    }
    EXPECT_TRUE(RQParseKeyList(strCrLf, true, list));
    EXPECT_TRUE(RQVerifyKeyList(list));
}

TEST(UpdateTrust, TheInstallKeepsWhatItAcceptedAndWhoSignedIt) {
    RQTestTempDir dir;
    const std::wstring strRelease = RQ_RELEASE_STATE_FILE;
    const std::wstring strKeys = RQ_KEY_LIST_STATE_FILE;
    const RQ_TRUST_STATE none;
    EXPECT_EQ(RQLoadTrustState(strRelease, strKeys), none);
    const RQ_TRUST_STATE accepted = Stored(41, kRelease, 3, kSecondRoot);
    ASSERT_EQ(RQSaveTrustState(strRelease, strKeys, none, accepted), rqbl::FileError::NONE);
    EXPECT_EQ(RQLoadTrustState(strRelease, strKeys), accepted);
    EXPECT_EQ(RQLoadHighestRelease(strRelease), 41u);
    // A record of an earlier launcher: a release without its signer.
    RQTestTempDir::WriteAll(std::filesystem::path(strRelease), "TOLVANE-RELEASE 7\n");
    RQ_TRUST_STATE old = RQLoadTrustState(strRelease, strKeys);
    EXPECT_EQ(old.ullRelease, 7u);
    EXPECT_FALSE(old.bHasReleaseKey);
    EXPECT_EQ(old.ullKeyListVersion, 3u);
    // Damaged: as if nothing had been accepted.
    const std::string strKeyLine = "key: " + RQFormatPublicKey(PublicOf(kRelease)) + "\n";
    for (const std::string& strDamaged :
         {"TOLVANE-RELEASE 7\n" + strKeyLine + "\n", std::string("TOLVANE-RELEASE 7\nkey: ed25519:00\n"),
          "TOLVANE-RELEASE 7\r\n" + strKeyLine, "TOLVANE-RELEASE 7\nroot: " + strKeyLine.substr(5)}) {
        RQTestTempDir::WriteAll(std::filesystem::path(strRelease), strDamaged);
        EXPECT_EQ(RQLoadTrustState(strRelease, strKeys).ullRelease, 0u) << strDamaged;
    }
    RQTestTempDir::WriteAll(std::filesystem::path(strKeys), "TOLVANE-KEYS 3\n");  // its root is required
    EXPECT_EQ(RQLoadTrustState(strRelease, strKeys).ullKeyListVersion, 0u);

    // A record that cannot be written says which, and why.
    std::filesystem::remove(std::filesystem::path(strRelease));
    std::filesystem::create_directory(std::filesystem::path(strRelease));
    std::wstring strFailed;
    EXPECT_EQ(RQSaveTrustState(strRelease, strKeys, none, accepted, &strFailed),
              rqbl::FileError::IS_DIRECTORY);
    EXPECT_EQ(strFailed, strRelease);
}
