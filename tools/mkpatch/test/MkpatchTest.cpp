#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "../../../tests/unit/RQTestTempDir.h"
#include "baselib/RQBLCodeInfo.h"
#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLPlatform.h"
#include "launcher/RQPatchManifest.h"
#include "script/RQLuaTable.h"
#include "tools/mkpatch/RQPatchScan.h"
#include "tools/mkpatch/RQPatchScript.h"

namespace fs = std::filesystem;

namespace {

using CodeMap = std::map<std::wstring, CODE_INFO>;

bool LoadScript(const std::string& strScript, CodeMap& mapCode, CodeMap& mapDelete) {
    RQTestTempDir::WriteAll("PATCHER_CODE.LUA", strScript);
    CRQLuaTable lua;
    if (!lua.DoFile(L"PATCHER_CODE.LUA")) {
        return false;
    }
    return RQReadCodeTables(&lua, mapCode, mapDelete);
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
        CRQBLCrc32::CreateInstance(false)->GetFileCrc((L"game/" + file.strPath + file.strFileName).c_str(),
                                                      dwCrc);
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
}
