#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "RQTestTempDir.h"
#include "patch/RQReleaseState.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQScriptTrust.h"
#include "patch/RQUtcDate.h"

namespace {

const std::string kScript = "CODE_TABLE = { { '', 'TOLVANE.EXE', 1, 0, 2 } }\n";
constexpr int64_t kNow = 1767225600;  // 2026-01-01 00:00:00 UTC

RQ_SECRET_KEY Secret(uint8_t byFill) {
    RQ_SECRET_KEY secret{};
    secret.fill(byFill);
    return secret;
}

RQ_PUBLIC_KEY PublicOf(const RQ_SECRET_KEY& secret) {
    RQ_PUBLIC_KEY key{};
    EXPECT_TRUE(RQBLEd25519PublicKey(secret, key));
    return key;
}

std::string SignatureFile(const std::string& strScript, const RQ_SECRET_KEY& secret, uint64_t ullRelease,
                          const std::string& strExpires = "") {
    RQ_SCRIPT_SIGNATURE sig;
    sig.ullRelease = ullRelease;
    sig.strExpires = strExpires;
    EXPECT_TRUE(RQSignScript(strScript, secret, sig));
    return RQFormatScriptSignature(sig);
}

struct TrustCase {
    const char* pszName;
    std::string strScript;             // what the launcher downloaded
    std::function<std::string()> sig;  // its signature file; null: none
    uint64_t ullHighest;
    RQScriptVerdict expected;
    uint64_t ullExpectedRelease;
};

}  // namespace

TEST(ScriptTrust, SignatureAndReleaseRules) {
    const RQ_SECRET_KEY trusted = Secret(1);
    const RQ_SECRET_KEY rotated = Secret(2);  // the second key of a launcher during a rotation
    const RQ_SECRET_KEY stranger = Secret(3);
    const std::vector<RQ_PUBLIC_KEY> vecTrusted = {PublicOf(trusted), PublicOf(rotated)};
    std::string strTampered = kScript;
    strTampered[20] ^= 0x01;
    auto good = [&] { return SignatureFile(kScript, trusted, 42); };
    auto replace = [&](std::string strFrom, std::string strTo) {
        return [=] {
            std::string strSig = good();
            strSig.replace(strSig.find(strFrom), strFrom.size(), strTo);
            return strSig;
        };
    };

    const std::vector<TrustCase> vecCases = {
        {"good", kScript, good, 41, RQScriptVerdict::OK, 42},
        {"same release again", kScript, good, 42, RQScriptVerdict::OK, 42},
        {"second trusted key", kScript, [&] { return SignatureFile(kScript, rotated, 43); }, 42,
         RQScriptVerdict::OK, 43},
        {"expires tomorrow", kScript, [&] { return SignatureFile(kScript, trusted, 42, "2026-01-02"); }, 0,
         RQScriptVerdict::OK, 42},
        {"windows line ends", kScript,
         [&] {
             std::string strSig = good();
             for (size_t i = strSig.find('\n'); i != std::string::npos; i = strSig.find('\n', i + 2)) {
                 strSig.insert(i, "\r");
             }
             return strSig;
         },
         0, RQScriptVerdict::OK, 42},
        {"tampered byte", strTampered, good, 0, RQScriptVerdict::BAD_SIGNATURE, 0},
        {"byte appended", kScript + " ", good, 0, RQScriptVerdict::BAD_SIGNATURE, 0},
        {"other key", kScript, [&] { return SignatureFile(kScript, stranger, 42); }, 0,
         RQScriptVerdict::UNKNOWN_KEY, 0},
        {"other key named as trusted", kScript,
         [&] {
             std::string strSig = SignatureFile(kScript, stranger, 42);
             const std::string strStranger = RQFormatPublicKey(PublicOf(stranger));
             strSig.replace(strSig.find(strStranger), strStranger.size(), RQFormatPublicKey(vecTrusted[0]));
             return strSig;
         },
         0, RQScriptVerdict::BAD_SIGNATURE, 0},
        {"release raised", kScript, replace("release: 42", "release: 99"), 0, RQScriptVerdict::BAD_SIGNATURE,
         0},
        {"expiry removed", kScript,
         [&] {
             std::string strSig = SignatureFile(kScript, trusted, 42, "2026-01-02");
             strSig.replace(strSig.find("2026-01-02"), 10, "never");
             return strSig;
         },
         0, RQScriptVerdict::BAD_SIGNATURE, 0},
        {"older release", kScript, good, 43, RQScriptVerdict::OLDER_RELEASE, 42},
        {"expired at midnight", kScript, [&] { return SignatureFile(kScript, trusted, 42, "2026-01-01"); }, 0,
         RQScriptVerdict::EXPIRED, 42},
        {"missing .sig", kScript, nullptr, 0, RQScriptVerdict::MISSING_SIGNATURE, 0},
        {"empty .sig", kScript, [] { return std::string(); }, 0, RQScriptVerdict::MALFORMED_SIGNATURE, 0},
        {"an error page", kScript, [] { return std::string("<html>403 Forbidden</html>"); }, 0,
         RQScriptVerdict::MALFORMED_SIGNATURE, 0},
        {"short signature", kScript, replace("\nsignature: ", "\nsignature: 00"), 0,
         RQScriptVerdict::MALFORMED_SIGNATURE, 0},
        {"leading zero release", kScript, replace("release: 42", "release: 042"), 0,
         RQScriptVerdict::MALFORMED_SIGNATURE, 0},
        {"release too large", kScript, replace("release: 42", "release: 18446744073709551616"), 0,
         RQScriptVerdict::MALFORMED_SIGNATURE, 0},
        {"no such day", kScript, replace("expires: never", "expires: 2026-02-29"), 0,
         RQScriptVerdict::MALFORMED_SIGNATURE, 0},
        {"field missing", kScript, replace("expires: never\n", ""), 0, RQScriptVerdict::MALFORMED_SIGNATURE,
         0},
        {"extra line", kScript, [&] { return good() + "comment: hello\n"; }, 0,
         RQScriptVerdict::MALFORMED_SIGNATURE, 0},
        {"other version", kScript, replace("SIGNATURE 1", "SIGNATURE 2"), 0,
         RQScriptVerdict::MALFORMED_SIGNATURE, 0},
        {"huge", kScript, [&] { return good() + std::string(RQ_SCRIPT_SIGNATURE_MAX_BYTES, '\n'); }, 0,
         RQScriptVerdict::MALFORMED_SIGNATURE, 0},
    };
    for (const TrustCase& c : vecCases) {
        SCOPED_TRACE(c.pszName);
        const std::string strSig = c.sig ? c.sig() : std::string();
        uint64_t ullRelease = 12345;
        EXPECT_EQ(RQCheckScriptSignature(c.strScript, c.sig ? &strSig : nullptr, vecTrusted, c.ullHighest,
                                         kNow, ullRelease),
                  c.expected);
        EXPECT_EQ(ullRelease, c.ullExpectedRelease);
        EXPECT_EQ(RQScriptMayRun(c.expected), c.expected == RQScriptVerdict::OK);
    }
}

TEST(ScriptTrust, WithoutKeysEverythingRunsAsBefore) {
    uint64_t ullRelease = 1;
    const std::string strJunk = "junk";
    for (const std::string* pSig : {static_cast<const std::string*>(nullptr), &strJunk}) {
        RQScriptVerdict verdict = RQCheckScriptSignature(kScript, pSig, {}, 7, kNow, ullRelease);
        EXPECT_EQ(verdict, RQScriptVerdict::NO_KEYS_BUILT_IN);
        EXPECT_TRUE(RQScriptMayRun(verdict));
        EXPECT_EQ(ullRelease, 0u);
    }
}

TEST(ScriptTrust, EveryRefusalNamesItsCheck) {
    const std::vector<std::pair<RQScriptVerdict, std::wstring>> vecNames = {
        {RQScriptVerdict::MISSING_SIGNATURE, L"MISSING_SIGNATURE"},
        {RQScriptVerdict::MALFORMED_SIGNATURE, L"MALFORMED_SIGNATURE"},
        {RQScriptVerdict::UNKNOWN_KEY, L"UNKNOWN_KEY"},
        {RQScriptVerdict::BAD_SIGNATURE, L"BAD_SIGNATURE"},
        {RQScriptVerdict::OLDER_RELEASE, L"OLDER_RELEASE"},
        {RQScriptVerdict::EXPIRED, L"EXPIRED"},
    };
    for (const auto& [verdict, strName] : vecNames) {
        EXPECT_NE(std::wstring(RQScriptVerdictText(verdict)).find(strName), std::wstring::npos) << strName;
        EXPECT_FALSE(RQScriptMayRun(verdict));
    }
}

TEST(ScriptTrust, KeyListsAsTheBuildSettingHoldsThem) {
    const std::string strA = RQFormatPublicKey(PublicOf(Secret(1)));
    const std::string strB = RQFormatPublicKey(PublicOf(Secret(2)));
    std::vector<RQ_PUBLIC_KEY> vecKeys;
    ASSERT_TRUE(RQParseTrustedKeys(" " + strA + " ; ;\t" + strB + ";", vecKeys));
    ASSERT_EQ(vecKeys.size(), 2u);
    EXPECT_EQ(RQFormatPublicKey(vecKeys[0]), strA);
    EXPECT_EQ(RQFormatPublicKey(vecKeys[1]), strB);
    ASSERT_TRUE(RQParseTrustedKeys("", vecKeys));
    EXPECT_TRUE(vecKeys.empty());

    // One bad item spoils the list: a launcher must not quietly trust fewer keys.
    vecKeys.assign(1, RQ_PUBLIC_KEY{});
    for (const std::string& strBad : {strA + ";" + strB.substr(0, 70), strA + "," + strB, strA + strB,
                                      "ed25519:" + strA, strA.substr(8)}) {
        EXPECT_FALSE(RQParseTrustedKeys(strBad, vecKeys)) << strBad;
        EXPECT_EQ(vecKeys.size(), 1u);
    }
}

TEST(ScriptTrust, ExpiryDatesAreUtcDays) {
    const std::vector<std::pair<const char*, int64_t>> vecGood = {{"1970-01-01", 0},
                                                                  {"2026-01-01", kNow},
                                                                  {"2024-02-29", 1709164800},
                                                                  {"2000-02-29", 951782400},
                                                                  {"9999-12-31", 253402214400}};
    for (const auto& [pszDate, nExpected] : vecGood) {
        int64_t nUnix = -1;
        EXPECT_TRUE(RQParseUtcDate(pszDate, nUnix)) << pszDate;
        EXPECT_EQ(nUnix, nExpected) << pszDate;
    }
    for (const char* pszBad : {"2025-02-29", "1900-02-29", "2026-13-01", "2026-00-10", "2026-04-31",
                               "1969-12-31", "2026-1-01", "2026/01/01", "20260101", "2026-01-01 "}) {
        int64_t nUnix = -1;
        EXPECT_FALSE(RQParseUtcDate(pszBad, nUnix)) << pszBad;
    }
}

TEST(ReleaseState, SavedLoadedAndDamagedMeansZero) {
    RQTestTempDir dir;
    const std::wstring strPath = RQ_RELEASE_STATE_FILE;
    EXPECT_EQ(RQLoadHighestRelease(strPath), 0u);  // missing
    ASSERT_TRUE(RQSaveHighestRelease(strPath, 42));
    EXPECT_EQ(RQLoadHighestRelease(strPath), 42u);
    ASSERT_TRUE(RQSaveHighestRelease(strPath, UINT64_MAX));  // replaces the old file
    EXPECT_EQ(RQLoadHighestRelease(strPath), UINT64_MAX);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(strPath + L".tmp")));

    for (const std::string& strDamaged :
         {std::string(), std::string("TOLVANE-RELEASE 42"), std::string("TOLVANE-RELEASE \n"),
          std::string("TOLVANE-RELEASE 4x2\n"), std::string("TOLVANE-RELEASE 042\n"),
          std::string("tolvane-release 42\n"), std::string("TOLVANE-RELEASE 42\n\n"),
          std::string(4096, '\xFF'), std::string("TOLVANE-RELEASE 99999999999999999999999\n")}) {
        RQTestTempDir::WriteAll(std::filesystem::path(strPath), strDamaged);
        EXPECT_EQ(RQLoadHighestRelease(strPath), 0u) << strDamaged.substr(0, 40);
    }
    std::filesystem::remove(std::filesystem::path(strPath));
    std::filesystem::create_directory(std::filesystem::path(strPath));  // a folder in its place
    EXPECT_EQ(RQLoadHighestRelease(strPath), 0u);
    EXPECT_FALSE(RQSaveHighestRelease(strPath, 7));
}
