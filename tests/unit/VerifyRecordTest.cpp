// The verification record on disk: what is saved is what is loaded, and a
// damaged, truncated or foreign file gives an empty record instead of entries
// that nothing vouches for.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "RQTestTempDir.h"
#include "launcher/check/RQVerifyRecord.h"

namespace fs = std::filesystem;

namespace {

CRQVerifyRecord SampleRecord() {
    CRQVerifyRecord record;
    RQ_VERIFY_ENTRY entry;
    entry.facts.ullSize = 5000000000ull;
    entry.facts.llWriteTime = -12345678901234ll;  // any value the system gives
    entry.facts.bHasIdentity = true;
    entry.facts.ullVolume = 0xFEDCBA98u;
    entry.facts.ullFileIndex = 0x0123456789ABCDEFull;
    entry.dwCrc = 0xCBF43926u;
    record.Put(L"data/world.pak", entry);
    entry.facts.bHasIdentity = false;
    entry.facts.llCreateTime = 132000000000000000ll;
    entry.strSha256 = std::string(64, 'a');
    record.Put(L"データ/はじめに.txt", entry);
    return record;
}

}  // namespace

TEST(VerifyRecord, WhatIsSavedIsLoadedAndTheTemporaryFileIsGone) {
    RQTestTempDir dir;
    const CRQVerifyRecord saved = SampleRecord();
    ASSERT_TRUE(saved.Save(L"LAUNCHER_VERIFIED.DAT"));
    EXPECT_FALSE(fs::exists("LAUNCHER_VERIFIED.DAT.rqpart"));
    CRQVerifyRecord loaded;
    ASSERT_EQ(loaded.Load(L"LAUNCHER_VERIFIED.DAT"), RQVerifyLoad::LOADED);
    ASSERT_EQ(loaded.Size(), 2u);
    for (const wchar_t* pszPath : {L"data/world.pak", L"データ/はじめに.txt"}) {
        const RQ_VERIFY_ENTRY* pSaved = saved.Find(pszPath);
        const RQ_VERIFY_ENTRY* pLoaded = loaded.Find(pszPath);
        ASSERT_NE(pLoaded, nullptr);
        EXPECT_EQ(pLoaded->facts, pSaved->facts);
        EXPECT_EQ(pLoaded->facts.llCreateTime, pSaved->facts.llCreateTime);
        EXPECT_EQ(pLoaded->facts.llWriteTime, pSaved->facts.llWriteTime);
        EXPECT_EQ(pLoaded->dwCrc, pSaved->dwCrc);
        EXPECT_EQ(pLoaded->strSha256, pSaved->strSha256);
    }
    EXPECT_EQ(loaded.Find(L"data/other.pak"), nullptr);
    // Saving again replaces the file whole.
    ASSERT_TRUE(CRQVerifyRecord().Save(L"LAUNCHER_VERIFIED.DAT"));
    EXPECT_EQ(loaded.Load(L"LAUNCHER_VERIFIED.DAT"), RQVerifyLoad::LOADED);
    EXPECT_EQ(loaded.Size(), 0u);
}

TEST(VerifyRecord, DamagedTruncatedAndForeignFilesGiveAnEmptyRecord) {
    const std::string strGood = SampleRecord().Serialize();
    std::string strFlipped = strGood;
    strFlipped[strGood.size() / 2] ^= 0x01;
    std::string strOtherVersion = strGood;
    strOtherVersion[8] = 2;
    std::string strCountTooHigh = strGood;
    strCountTooHigh[12] = 3;
    const struct {
        const char* pszName;
        std::string strBytes;
        RQVerifyLoad expected;
    } cases[] = {
        {"empty", "", RQVerifyLoad::FOREIGN},
        {"a text file", "[HTTP_SERVER_ADDRESS]\r\nLOGIN_IP=x\r\n", RQVerifyLoad::FOREIGN},
        {"another version", strOtherVersion, RQVerifyLoad::FOREIGN},
        {"header only", strGood.substr(0, 16), RQVerifyLoad::DAMAGED},
        {"cut in an entry", strGood.substr(0, strGood.size() - 30), RQVerifyLoad::DAMAGED},
        {"cut before the checksum", strGood.substr(0, strGood.size() - 2), RQVerifyLoad::DAMAGED},
        {"one bit flipped", strFlipped, RQVerifyLoad::DAMAGED},
        {"count says more than there are", strCountTooHigh, RQVerifyLoad::DAMAGED},
        {"zeros where the end was", strGood.substr(0, strGood.size() - 40) + std::string(40, '\0'),
         RQVerifyLoad::DAMAGED},
        {"garbage after it", strGood + "x", RQVerifyLoad::DAMAGED},
    };
    RQTestTempDir dir;
    for (const auto& c : cases) {
        RQTestTempDir::WriteAll("LAUNCHER_VERIFIED.DAT", c.strBytes);
        CRQVerifyRecord record = SampleRecord();
        EXPECT_EQ(record.Load(L"LAUNCHER_VERIFIED.DAT"), c.expected) << c.pszName;
        EXPECT_EQ(record.Size(), 0u) << c.pszName;
    }
    CRQVerifyRecord record = SampleRecord();
    EXPECT_EQ(record.Load(L"NO_SUCH_FILE.DAT"), RQVerifyLoad::MISSING);
    EXPECT_EQ(record.Size(), 0u);
}
