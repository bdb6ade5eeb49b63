#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include "../../../tests/unit/RQTestTempDir.h"
#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLUtf8.h"
#include "patch/RQCodeInfo.h"
#include "patch/RQPatchManifest.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQScriptTrust.h"
#include "patch/RQSecretKeyFile.h"
#include "patch/RQUpdateTrust.h"
#include "script/RQLuaTable.h"
#include "tools/mkpatch/RQPatchScan.h"
#include "tools/mkpatch/RQPatchScript.h"
#include "tools/mkpatch/RQSecretKeyStore.h"
#include "tools/mkpatch/RQTrustFiles.h"

namespace fs = std::filesystem;

namespace {

using CodeMap = std::map<std::wstring, CODE_INFO>;

bool LoadScript(const std::string& strScript, CodeMap& mapCode, CodeMap& mapDelete) {
    RQTestTempDir::WriteAll("PATCHER_CODE.LUA", strScript);
    CRQBLNullLog log;
    // The launcher's limits but the wall clock's, which a sanitizer build on
    // a busy machine reaches with a large script (its whole run has 15 s).
    RQLuaLimits limits = RQLuaLimits::Default();
    limits.dwTimeLimitMs = 10 * 60 * 1000;
    CRQLuaTable lua(log, limits);
    if (!lua.DoFile(L"PATCHER_CODE.LUA")) {
        return false;
    }
    return RQReadCodeTables(&lua, mapCode, mapDelete, log);
}

// The encoding in which this process reads script text back, if any that the
// tool can write: CP932 where the ANSI code page is 932 (a Japanese Windows, or
// Wine started with a Japanese locale), UTF-8 where the C library can use it.
bool PickReadableEncoding(const std::wstring& strSample, RQPatchEncoding& encoding) {
    std::string strBytes;
    if (RQEncodePatchText(strSample, RQPatchEncoding::CP932, strBytes) &&
        rqbl::AnsiToWide(strBytes.data(), strBytes.size()) == strSample) {
        encoding = RQPatchEncoding::CP932;
        return true;
    }
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (RQEncodePatchText(strSample, RQPatchEncoding::UTF8, strBytes) &&
        rqbl::AnsiToWide(strBytes.data(), strBytes.size()) == strSample) {
        encoding = RQPatchEncoding::UTF8;
        return true;
    }
    return false;
}

}  // namespace

class Mkpatch : public ::testing::Test {
protected:
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }
    RQTestTempDir m_dir;
};

TEST_F(Mkpatch, ScriptReadByTheLauncherGivesTheSameEntries) {
    RQTestTempDir::WriteAll("game/TOLVANE.EXE", "MZ fake");
    RQTestTempDir::WriteAll("game/data/world.pak", std::string(300000, 'w'));
    RQTestTempDir::WriteAll("game/data/sub/deep.bin", "deep");
    RQTestTempDir::WriteAll("game/empty.dat", "");
    RQTestTempDir::WriteAll("game/PATCHER_CODE.LUA", "-- an old script: not listed");
    RQTestTempDir::WriteAll("deletions.txt", "# old files\r\nold/removed.dat\r\n\r\n  stale.bin\n");

    RQPatchScanResult scan;
    std::wstring strError;
    ASSERT_TRUE(RQScanGameFolder("game", nullptr, scan, strError));
    ASSERT_EQ(scan.vecFiles.size(), 4u);
    std::vector<RQPatchFile> vecDeletions = {RQSplitRelativePath(L"old/removed.dat"),
                                             RQSplitRelativePath(L"stale.bin")};
    std::string strScript;
    ASSERT_TRUE(RQWritePatchScript(scan.vecFiles, vecDeletions, RQPatchEncoding::CP932, strScript, strError));

    CodeMap mapCode;
    CodeMap mapDelete;
    ASSERT_TRUE(LoadScript(strScript, mapCode, mapDelete));
    ASSERT_EQ(mapCode.size(), 4u);
    for (const RQPatchFile& file : scan.vecFiles) {
        const CODE_INFO& info = mapCode.at(file.strFileName);
        EXPECT_EQ(info.strPath, file.strPath);
        EXPECT_EQ(info.ullFileSize, file.ullFileSize);
        EXPECT_EQ(info.dwCRC, file.dwCRC);
        uint32_t dwCrc = 0;
        CRQBLCrc32().GetFileCrc((L"game/" + file.strPath + file.strFileName).c_str(), dwCrc);
        EXPECT_EQ(info.dwCRC, dwCrc);
    }
    EXPECT_EQ(mapCode.at(L"deep.bin").strPath, L"data/sub/");
    EXPECT_EQ(mapCode.at(L"empty.dat").ullFileSize, 0u);
    EXPECT_EQ(mapCode.at(L"empty.dat").dwCRC, 0u);
    EXPECT_EQ(mapDelete.size(), 2u);
    EXPECT_EQ(mapDelete.count(L"old/removed.dat"), 1u);
}

TEST_F(Mkpatch, JapaneseNamesSurviveTheScriptsEncoding) {
    // "ソ" is 0x83 0x5C in CP932: its second byte is a backslash.
    const std::wstring strName = L"ソフト ウェア表.txt";
    RQPatchEncoding encoding;
    if (!PickReadableEncoding(strName, encoding)) {
        GTEST_SKIP() << "this process reads script text in neither CP932 nor UTF-8";
    }
    RQPatchFile file;
    file.strPath = L"マニュアル/";
    file.strFileName = strName;
    file.dwCRC = 0xFFFFFFFFu;
    file.ullFileSize = (uint64_t{1} << 40) + 7;
    std::string strScript;
    std::wstring strError;
    ASSERT_TRUE(RQWritePatchScript({file}, {}, encoding, strScript, strError));
    CodeMap mapCode;
    CodeMap mapDelete;
    ASSERT_TRUE(LoadScript(strScript, mapCode, mapDelete));
    ASSERT_EQ(mapCode.count(strName), 1u);
    EXPECT_EQ(mapCode.at(strName).strPath, L"マニュアル/");
    EXPECT_EQ(mapCode.at(strName).dwCRC, 0xFFFFFFFFu);
    EXPECT_EQ(mapCode.at(strName).ullFileSize, (uint64_t{1} << 40) + 7);
}

TEST_F(Mkpatch, NamesOutsideTheEncodingAreRefused) {
    RQPatchFile file = RQSplitRelativePath(L"data/\U0001F600.txt");
    std::string strScript;
    std::wstring strError;
    EXPECT_FALSE(RQWritePatchScript({file}, {}, RQPatchEncoding::CP932, strScript, strError));
    EXPECT_NE(strError.find(L"data/"), std::wstring::npos);
}

TEST_F(Mkpatch, NamesTheLauncherWouldRefuseAreReported) {
    RQTestTempDir::WriteAll("game/ok.dat", "1");
    // Windows itself refuses some of these names (or drops the dot); only the
    // ones that exist on this system's disk can be listed.
    std::vector<std::wstring> vecRefusable = {L"data/CON.txt", L"left.rqpart", L"trail."};
    for (const std::wstring& strName : vecRefusable) {
        std::ofstream(fs::path(L"game") / fs::path(strName), std::ios::binary) << "x";
    }
    std::vector<std::wstring> vecRefused;
    size_t nFiles = 0;
    for (const auto& entry : fs::recursive_directory_iterator("game")) {
        if (!entry.is_regular_file()) {
            continue;
        }
        ++nFiles;
        std::wstring strRel = RQRelativePathText(fs::relative(entry.path(), "game"));
        if (std::find(vecRefusable.begin(), vecRefusable.end(), strRel) != vecRefusable.end()) {
            vecRefused.push_back(strRel);
        }
    }
    std::sort(vecRefused.begin(), vecRefused.end());
    ASSERT_NE(std::find(vecRefused.begin(), vecRefused.end(), L"left.rqpart"), vecRefused.end());

    RQPatchScanResult scan;
    std::wstring strError;
    ASSERT_TRUE(RQScanGameFolder("game", nullptr, scan, strError));
    EXPECT_EQ(scan.vecRefusedNames, vecRefused);
    EXPECT_EQ(scan.vecFiles.size(), nFiles - vecRefused.size());
}

TEST_F(Mkpatch, ThreeHundredThousandEntriesLoadThroughTheLauncher) {
    constexpr size_t kEntries = 300000;
    std::vector<RQPatchFile> vecFiles(kEntries);
    for (size_t i = 0; i < kEntries; ++i) {
        vecFiles[i].strPath = L"data/" + std::to_wstring(i % 97) + L"/";
        vecFiles[i].strFileName = L"file" + std::to_wstring(i) + L".bin";
        vecFiles[i].dwCRC = static_cast<uint32_t>(i * 2654435761u);
        vecFiles[i].ullFileSize = i * 1000;
        // A signed script's slot 13, as random as real digests: Lua 5.1 hashes
        // only every third character of such a string, so look-alike test
        // strings would all collide in its string table.
        RQ_SHA256 digest{};
        CRQBLSha256::Of(&i, sizeof(i), digest);
        vecFiles[i].strSha256 = RQBLSha256Hex(digest);
    }
    std::string strScript;
    std::wstring strError;
    ASSERT_TRUE(RQWritePatchScript(vecFiles, {}, RQPatchEncoding::CP932, strScript, strError));

    auto tStart = std::chrono::steady_clock::now();
    CodeMap mapCode;
    CodeMap mapDelete;
    ASSERT_TRUE(LoadScript(strScript, mapCode, mapDelete));
    auto dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    std::printf("[ info ] %zu entries (%zu bytes of script) ran and were read in %.2f s\n", kEntries,
                strScript.size(), dSeconds);
    ASSERT_EQ(mapCode.size(), kEntries);
    EXPECT_EQ(mapCode.at(L"file299999.bin").strPath, L"data/" + std::to_wstring(299999 % 97) + L"/");
    EXPECT_EQ(mapCode.at(L"file299999.bin").ullFileSize, 299999000u);
    EXPECT_EQ(mapCode.at(L"file12345.bin").dwCRC, static_cast<uint32_t>(12345 * 2654435761u));
    const std::string strHash = vecFiles[12345].strSha256;
    EXPECT_EQ(mapCode.at(L"file12345.bin").strSHA256, std::wstring(strHash.begin(), strHash.end()));
}

TEST_F(Mkpatch, SignedScriptCarriesHashesTheLauncherChecks) {
    RQTestTempDir::WriteAll("game/TOLVANE.EXE", "MZ fake");
    RQTestTempDir::WriteAll("game/data/world.pak", std::string(3 << 20, 'w'));
    RQTestTempDir::WriteAll("game/empty.dat", "");
    // Not game files: the script, its signature and an install's release record.
    RQTestTempDir::WriteAll("game/PATCHER_CODE.LUA.sig", "old");
    RQTestTempDir::WriteAll("game/LAUNCHER_RELEASE.DAT", "TOLVANE-RELEASE 3\n");

    RQPatchScanResult scan;
    std::wstring strError;
    RQPatchScanOptions withSha256;
    withSha256.bSha256 = true;
    ASSERT_TRUE(RQScanGameFolder("game", nullptr, scan, strError, withSha256));
    ASSERT_EQ(scan.vecFiles.size(), 3u);
    std::string strScript;
    ASSERT_TRUE(RQWritePatchScript(scan.vecFiles, {}, RQPatchEncoding::CP932, strScript, strError));
    CodeMap mapCode;
    CodeMap mapDelete;
    ASSERT_TRUE(LoadScript(strScript, mapCode, mapDelete));
    for (const auto& [strName, info] : mapCode) {
        const std::vector<char> vecContent = RQTestTempDir::ReadAll(L"game/" + info.strPath + strName);
        RQ_SHA256 expected{};
        ASSERT_TRUE(CRQBLSha256::Of(vecContent.data(), vecContent.size(), expected));
        const std::string strHex = RQBLSha256Hex(expected);
        EXPECT_EQ(info.strSHA256, std::wstring(strHex.begin(), strHex.end()));
        uint32_t dwCrc = 0;
        CRQBLCrc32().GetFileCrc((L"game/" + info.strPath + strName).c_str(), dwCrc);
        EXPECT_EQ(info.dwCRC, dwCrc);  // the one-pass hashing gives the launcher's CRC-32 too
    }

    RQ_PUBLIC_KEY key{};
    ASSERT_TRUE(RQWriteNewSecretKey("release.key", key, strError));
    RQ_SECRET_KEY secret{};
    ASSERT_TRUE(RQReadSecretKey("release.key", secret, strError));
    RQ_SCRIPT_SIGNATURE sig;
    sig.ullRelease = 7;
    ASSERT_TRUE(RQSignScript(strScript, secret, sig));
    const std::string strSig = RQFormatScriptSignature(sig);
    uint64_t ullRelease = 0;
    EXPECT_EQ(RQCheckScriptSignature(strScript, &strSig, {key}, 7, std::time(nullptr), ullRelease),
              RQScriptVerdict::OK);
    EXPECT_EQ(ullRelease, 7u);
}

TEST_F(Mkpatch, SecretKeyFilesAreNewOwnerOnlyAndChecked) {
    RQ_PUBLIC_KEY key{};
    std::wstring strError;
    ASSERT_TRUE(RQWriteNewSecretKey("k.key", key, strError));
    const std::vector<char> vecFile = RQTestTempDir::ReadAll("k.key");
#ifndef _WIN32
    EXPECT_EQ(fs::status("k.key").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif
    RQ_PUBLIC_KEY again{};
    EXPECT_FALSE(RQWriteNewSecretKey("k.key", again, strError));
    EXPECT_NE(strError.find(L"not overwritten"), std::wstring::npos);
    EXPECT_EQ(RQTestTempDir::ReadAll("k.key"), vecFile);

    RQ_SECRET_KEY secret{};
    RQ_PUBLIC_KEY derived{};
    ASSERT_TRUE(RQReadSecretKey("k.key", secret, strError));
    ASSERT_TRUE(RQBLEd25519PublicKey(secret, derived));
    EXPECT_EQ(derived, key);
    EXPECT_NE(std::string(vecFile.begin(), vecFile.end()).find(RQFormatPublicKey(key)), std::string::npos);

    // A changed digit of the secret no longer matches the public line; a
    // missing file and some other file are no keys either.
    std::string strDamaged(vecFile.begin(), vecFile.end());
    const size_t nDigit = strDamaged.find("ed25519:") + 8;
    strDamaged[nDigit] = strDamaged[nDigit] == '0' ? '1' : '0';
    RQTestTempDir::WriteAll("damaged.key", strDamaged);
    RQTestTempDir::WriteAll("other.key", RQFormatPublicKey(key) + "\n");
    for (const char* pszFile : {"damaged.key", "other.key", "missing.key"}) {
        RQ_SECRET_KEY untouched{};
        EXPECT_FALSE(RQReadSecretKey(pszFile, untouched, strError)) << pszFile;
        EXPECT_EQ(untouched, RQ_SECRET_KEY{});
    }
}

// What mkpatch makes of a key list and an update, the launcher's trust
// decision takes; what the launcher would refuse, mkpatch refuses first.
TEST_F(Mkpatch, KeyListsAndTimestampsAreWhatTheLauncherTakes) {
    RQ_SECRET_KEY root{};
    RQ_SECRET_KEY release{};
    root.fill(1);
    release.fill(2);
    RQ_PUBLIC_KEY rootKey{};
    RQ_PUBLIC_KEY releaseKey{};
    ASSERT_TRUE(RQBLEd25519PublicKey(root, rootKey));
    ASSERT_TRUE(RQBLEd25519PublicKey(release, releaseKey));
    const int64_t nNow = 1767225600;  // 2026-01-01
    const std::string strDraft = "TOLVANE-KEY-LIST 1\r\nversion: 1\r\nrelease-step: 100\r\nrelease-key: " +
                                 RQFormatPublicKey(releaseKey) + " expires 2026-01-20\r\n";
    std::string strKeyList;
    std::wstring strError;
    std::vector<std::wstring> vecNotes;
    ASSERT_TRUE(RQMakeKeyList(strDraft, "", root, nNow, strKeyList, strError, vecNotes))
        << RQBLWideToUtf8(strError);
    ASSERT_EQ(vecNotes.size(), 1u);  // the key expires within 30 days
    // Signing again what was signed gives the same list; a change needs a new version.
    std::string strAgain;
    ASSERT_TRUE(RQMakeKeyList(strKeyList, strKeyList, root, nNow, strAgain, strError, vecNotes));
    EXPECT_EQ(strAgain, strKeyList);
    std::string strChanged = strKeyList;
    strChanged.replace(strChanged.find("step: 100"), 9, "step: 200");
    EXPECT_FALSE(RQMakeKeyList(strChanged, strKeyList, root, nNow, strAgain, strError, vecNotes));
    EXPECT_NE(strError.find(L"higher version"), std::wstring::npos);
    EXPECT_FALSE(
        RQMakeKeyList("TOLVANE-KEY-LIST 1\nversion: 1\n", "", root, nNow, strAgain, strError, vecNotes));
    EXPECT_NE(strError.find(L"line 3"), std::wstring::npos);

    const std::string strScript = "CODE_TABLE = {}\n";
    RQ_SCRIPT_SIGNATURE sig;
    sig.ullRelease = 9;
    ASSERT_TRUE(RQSignScript(strScript, release, sig));
    const std::string strSig = RQFormatScriptSignature(sig);
    std::string strStamp;
    EXPECT_FALSE(RQMakeTimestamp(strScript, strSig, strKeyList, root, 7, nNow, strStamp, strError))
        << "a root is no timestamp key";
    EXPECT_FALSE(RQMakeTimestamp(strScript + " ", strSig, strKeyList, release, 7, nNow, strStamp, strError));
    ASSERT_TRUE(RQMakeTimestamp(strScript, strSig, strKeyList, release, 7, nNow, strStamp, strError))
        << RQBLWideToUtf8(strError);
    EXPECT_NE(strStamp.find("expires: 2026-01-08\n"), std::string::npos);

    RQ_UPDATE_FILES files;
    files.pScript = &strScript;
    files.pSignature = &strSig;
    files.pKeyList = &strKeyList;
    files.pTimestamp = &strStamp;
    EXPECT_EQ(RQJudgeUpdate(files, {rootKey}, RQ_TRUST_STATE{}, nNow).verdict, RQScriptVerdict::OK);
    EXPECT_EQ(RQJudgeUpdate(files, {rootKey}, RQ_TRUST_STATE{}, nNow + 7 * 86400).verdict,
              RQScriptVerdict::STALE_TIMESTAMP);
    EXPECT_FALSE(RQCheckSigningKey(strKeyList, rootKey, RQKeyRole::RELEASE, nNow, strError));
    EXPECT_FALSE(RQCheckSigningKey(strKeyList, releaseKey, RQKeyRole::RELEASE, nNow + 30 * 86400, strError));
}
