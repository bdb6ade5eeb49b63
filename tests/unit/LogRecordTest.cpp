#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "RQTestTempDir.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/log/RQBLLog.h"
#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLLogReader.h"
#include "baselib/log/RQBLLogRecord.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "baselib/log/RQBLSeedCbc.h"
#include "baselib/log/RQBLUtil.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

const std::vector<int32_t>& FixedKey() {
    static const std::vector<int32_t> s_key(std::begin(RQBL_LOG_KEY), std::end(RQBL_LOG_KEY));
    return s_key;
}

Bytes FileBytes(const fs::path& p) {
    std::vector<char> v = RQTestTempDir::ReadAll(p);
    return Bytes(v.begin(), v.end());
}

// The records of the given lines, as the writer appends them to a file.
Bytes Records(const std::vector<std::wstring>& vecLines, const std::vector<int32_t>& key = FixedKey()) {
    FILE* pFile = std::fopen("records.bin", "wb");
    EXPECT_NE(pFile, nullptr);
    if (pFile == nullptr) {
        return Bytes();
    }
    for (const std::wstring& strLine : vecLines) {
        WriteLogRecordWithKey(pFile, strLine, key);
    }
    std::fclose(pFile);
    return FileBytes("records.bin");
}

std::vector<std::wstring> Lines(const RQBL_LOG_READ_RESULT& result) {
    std::vector<std::wstring> v;
    for (const RQBL_LOG_RECORD& record : result.vecRecords) {
        v.push_back(rqbl::Utf16ToWide(record.strLine));
    }
    return v;
}

std::vector<fs::path> LogFiles() {
    std::vector<fs::path> v;
    for (const auto& e : fs::directory_iterator("Log")) {
        if (e.path().extension() == ".log") {
            v.push_back(e.path());
        }
    }
    return v;
}

class LogRecordTest : public ::testing::Test {
protected:
    RQTestTempDir m_dir;
};

}  // namespace

TEST_F(LogRecordTest, TextBlockLengthFollowsTheLineLength) {
    // 19 characters: L = 38, N = 48. 24 characters: L = 48, N = 64.
    const std::wstring str19 = L"[NTS][09:05:03] 1\r\n";
    const std::wstring str24 = L"[ERR][09:05:03] 130011\r\n";
    ASSERT_EQ(str19.size(), 19u);
    ASSERT_EQ(str24.size(), 24u);
    EXPECT_EQ(Records({str19}).size(), 16u + 48u);
    EXPECT_EQ(Records({str24}).size(), 16u + 64u);
    for (size_t n = 1; n <= 40; ++n) {
        const Bytes record = Records({std::wstring(n, L'x')});
        EXPECT_EQ(record.size(), 16u + 16u * (2 * n / 16 + 1)) << n;
    }
}

TEST_F(LogRecordTest, RecordIsTheEncipheredLengthThenTheEncipheredText) {
    const std::wstring strLine = L"[NTS][09:05:03] 130011 LAUNCHER US_CLOSE\r\n";
    const Bytes record = Records({strLine});

    Bytes text;
    for (wchar_t c : strLine) {
        text.push_back(static_cast<uint8_t>(c & 0xff));
        text.push_back(static_cast<uint8_t>(c >> 8));
    }
    const uint8_t* pXored =
        CRQBLUtil::XORDecrypt(text.data(), static_cast<int>(text.size()), FixedKey(), false, false);
    Bytes textBlock(text.size() + 16);
    int nText = 0;
    ASSERT_EQ(SeedCbcEncryptKeyed(RQBL_SEED_KEY, RQBL_SEED_IV, pXored, static_cast<int>(text.size()),
                                  textBlock.data(), &nText),
              1);
    textBlock.resize(static_cast<size_t>(nText));

    const uint8_t abyN[4] = {static_cast<uint8_t>(nText), static_cast<uint8_t>(nText >> 8), 0, 0};
    pXored = CRQBLUtil::XORDecrypt(abyN, 4, FixedKey(), false, false);
    Bytes lengthBlock(32);
    int nLength = 0;
    ASSERT_EQ(SeedCbcEncryptKeyed(RQBL_SEED_KEY, RQBL_SEED_IV, pXored, 4, lengthBlock.data(), &nLength), 1);
    ASSERT_EQ(nLength, 16);
    lengthBlock.resize(16);

    Bytes expected = lengthBlock;
    expected.insert(expected.end(), textBlock.begin(), textBlock.end());
    EXPECT_EQ(record, expected);
}

// A record written once and kept: every build, on every platform, must make
// the same bytes, or logs from one build become unreadable to another's tools.
TEST_F(LogRecordTest, RecordBytesAreFixedAcrossBuildsAndPlatforms) {
    const char* pszExpected =
        "430e0c33b5017a176d248067357cac10"  // length block
        "97070810e0fe5c262fdf903594c04fd7"  // text block, 64 bytes
        "8a31f0671c28dc33f208505debe8041b"
        "cddbf7fa8dcd4c1591043a231c6746fd"
        "8ab5e6abee36ab1c397354288be8cc11";
    const Bytes record = Records({L"[ERR][09:05:03] 130011 確認\r\n"});
    std::string strHex;
    for (uint8_t b : record) {
        static const char kDigits[] = "0123456789abcdef";
        strHex.push_back(kDigits[b >> 4]);
        strHex.push_back(kDigits[b & 15]);
    }
    EXPECT_EQ(strHex, pszExpected);
}

TEST_F(LogRecordTest, IdenticalLinesGiveIdenticalRecords) {
    const Bytes records = Records({L"[NTS][09:05:03] same\r\n", L"[NTS][09:05:03] same\r\n"});
    ASSERT_EQ(records.size() % 2, 0u);
    const size_t nHalf = records.size() / 2;
    EXPECT_TRUE(std::equal(records.begin(), records.begin() + static_cast<long>(nHalf),
                           records.begin() + static_cast<long>(nHalf)));
}

TEST_F(LogRecordTest, NoKeyNoRecord) {
    FILE* pFile = std::fopen("records.bin", "wb");
    ASSERT_NE(pFile, nullptr);
    EXPECT_FALSE(WriteLogRecordWithKey(pFile, L"[ERR][00:00:00] x\r\n", std::vector<int32_t>()));
    std::fclose(pFile);
    EXPECT_EQ(fs::file_size("records.bin"), 0u);
}

TEST_F(LogRecordTest, ReaderGivesBackEveryLineExactly) {
    const std::vector<std::wstring> vecLines = {
        L"[ERR][09:05:03] 130011 NO CDN\r\n",
        L"[NTS][23:59:59] 130011 確認 パッチの更新を開始します\r\n",
        L"[DBG][00:00:07] \r\n",
        L"",  // an empty text block is still a sound record
        L"[NET][12:00:00] emoji \U0001F600 outside the BMP\r\n",
        std::wstring(L"[NTS][01:02:03] ") + std::wstring(5000, L'長') + L"\r\n",  // far past 4122 bytes
    };
    const Bytes records = Records(vecLines);
    const RQBL_LOG_READ_RESULT result = RQBLReadLogRecords(records.data(), records.size());
    EXPECT_EQ(result.nStatus, LOG_READ_OK) << result.strReason;
    EXPECT_EQ(Lines(result), vecLines);
    ASSERT_EQ(result.vecRecords.size(), vecLines.size());
    EXPECT_EQ(result.vecRecords[0].nOffset, 0u);
    EXPECT_EQ(result.vecRecords[1].nOffset, 16u + 16u * (2 * vecLines[0].size() / 16 + 1));
    // The character beyond the BMP is stored as two UTF-16 units on every platform.
    EXPECT_EQ(RQBLUtf16ToUtf8(result.vecRecords[4].strLine).find("\xF0\x9F\x98\x80"), 22u);
}

TEST_F(LogRecordTest, ATruncatedFileKeepsTheLinesBeforeTheCut) {
    const Bytes records = Records({L"[ERR][09:05:03] first\r\n", L"[NTS][09:05:04] second line\r\n"});
    const size_t nSecond = 16 + 48;  // "first" line: 23 characters, L = 46, N = 48
    ASSERT_GT(records.size(), nSecond + 16);

    for (size_t nCut : {records.size() - 1, nSecond + 16, nSecond + 15, nSecond + 1}) {
        const RQBL_LOG_READ_RESULT result = RQBLReadLogRecords(records.data(), nCut);
        EXPECT_EQ(result.nStatus, LOG_READ_TRUNCATED) << nCut;
        EXPECT_EQ(result.nBadOffset, nSecond) << nCut;
        EXPECT_EQ(Lines(result), std::vector<std::wstring>{L"[ERR][09:05:03] first\r\n"}) << nCut;
    }
    const RQBL_LOG_READ_RESULT whole = RQBLReadLogRecords(records.data(), nSecond);
    EXPECT_EQ(whole.nStatus, LOG_READ_OK);
}

TEST_F(LogRecordTest, ADamagedRecordIsReportedAtItsOffset) {
    const std::vector<std::wstring> vecLines = {
        L"[ERR][09:05:03] first\r\n", L"[NTS][09:05:04] second line\r\n", L"[NTS][09:05:05] third\r\n"};
    const Bytes records = Records(vecLines);
    const size_t nSecond = 16 + 48;

    Bytes badLength = records;
    badLength[nSecond + 5] ^= 0x01;
    RQBL_LOG_READ_RESULT result = RQBLReadLogRecords(badLength.data(), badLength.size());
    EXPECT_EQ(result.nStatus, LOG_READ_DAMAGED);
    EXPECT_EQ(result.nBadOffset, nSecond);
    EXPECT_EQ(Lines(result), std::vector<std::wstring>{vecLines[0]});

    Bytes badTextEnd = records;
    const size_t nThird = nSecond + 16 + 16 * (2 * vecLines[1].size() / 16 + 1);
    badTextEnd[nThird - 2] ^= 0x80;  // the last block of the second text block
    result = RQBLReadLogRecords(badTextEnd.data(), badTextEnd.size());
    EXPECT_EQ(result.nStatus, LOG_READ_DAMAGED);
    EXPECT_EQ(result.nBadOffset, nSecond);

    // Bytes that are no record at all.
    const Bytes junk(100, 0x5A);
    result = RQBLReadLogRecords(junk.data(), junk.size());
    EXPECT_EQ(result.nStatus, LOG_READ_DAMAGED);
    EXPECT_EQ(result.nBadOffset, 0u);
    EXPECT_TRUE(result.vecRecords.empty());
}

TEST(LogLineParts, LevelTimeAndText) {
    RQBL_LOG_LINE_PARTS parts;
    EXPECT_TRUE(RQBLSplitLogLine("[ERR][09:05:03] 130011 NO CDN\r\n", parts));
    EXPECT_EQ(parts.strLevel, "ERR");
    EXPECT_EQ(parts.strTime, "09:05:03");
    EXPECT_EQ(parts.strText, "130011 NO CDN");
    EXPECT_TRUE(RQBLSplitLogLine("[DBG][00:00:07] \r\n", parts));
    EXPECT_EQ(parts.strText, "");
    EXPECT_TRUE(RQBLSplitLogLine("[NTS][09:05:03] a\nb\r\n", parts));  // only the final line end goes
    EXPECT_EQ(parts.strText, "a\nb");
    EXPECT_FALSE(RQBLSplitLogLine("[ERR][9:05:03] x\r\n", parts));
    EXPECT_EQ(parts.strLevel, "");
    EXPECT_EQ(parts.strText, "[ERR][9:05:03] x");
    EXPECT_FALSE(RQBLSplitLogLine("", parts));
}

TEST(LogLineParts, Utf8OfUtf16) {
    EXPECT_EQ(RQBLUtf16ToUtf8(u"a\u00e9\u78ba"), "a\xC3\xA9\xE7\xA2\xBA");
    EXPECT_EQ(RQBLUtf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    const std::u16string strLone = {u'x', static_cast<char16_t>(0xD800), u'y', static_cast<char16_t>(0xDC00)};
    EXPECT_EQ(RQBLUtf16ToUtf8(strLone), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

// The whole road: the log object enciphers, the reader deciphers.
TEST_F(LogRecordTest, LogObjectLinesComeBackFromTheLogFile) {
    const std::wstring strLong(4095, L'a');
    {
        CRQBLLog log(RQBLLogKey());
        ASSERT_TRUE(log.Start(L"Log", L"LAUNCHER_", 0));
        ASSERT_TRUE(log.Write(0, true, L"130011 NO CDN", true));
        ASSERT_TRUE(log.Write(1, true, L"130011 確認: ゲームを更新しています", true));
        ASSERT_TRUE(log.Write(2, true, L"net", true));
        ASSERT_TRUE(log.Write(3, true, strLong.c_str(), true));
    }
    const std::vector<fs::path> vecFiles = LogFiles();
    ASSERT_EQ(vecFiles.size(), 1u);
    const Bytes data = FileBytes(vecFiles[0]);
    const RQBL_LOG_READ_RESULT result = RQBLReadLogRecords(data.data(), data.size());
    ASSERT_EQ(result.nStatus, LOG_READ_OK) << result.strReason;
    ASSERT_EQ(result.vecRecords.size(), 4u);

    const char* const apszLevels[] = {"ERR", "NTS", "NET", "DBG"};
    const std::string astrTexts[] = {"130011 NO CDN",
                                     "130011 \xE7\xA2\xBA\xE8\xAA\x8D: \xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0"
                                     "\xE3\x82\x92\xE6\x9B\xB4\xE6\x96\xB0\xE3\x81\x97\xE3\x81\xA6"
                                     "\xE3\x81\x84\xE3\x81\xBE\xE3\x81\x99",
                                     "net", std::string(4095, 'a')};
    for (size_t i = 0; i < 4; ++i) {
        const std::string strLine = RQBLUtf16ToUtf8(result.vecRecords[i].strLine);
        ASSERT_GE(strLine.size(), 2u);
        EXPECT_EQ(strLine.substr(strLine.size() - 2), "\r\n");
        RQBL_LOG_LINE_PARTS parts;
        ASSERT_TRUE(RQBLSplitLogLine(strLine, parts)) << strLine.substr(0, 40);
        EXPECT_EQ(parts.strLevel, apszLevels[i]);
        EXPECT_TRUE(std::regex_match(parts.strTime, std::regex("\\d\\d:\\d\\d:\\d\\d")));
        EXPECT_EQ(parts.strText, astrTexts[i]) << i;
    }
    // The long line: "[DBG][hh:mm:ss] " + 4095 + CR LF = 4113 characters.
    EXPECT_EQ(result.vecRecords[3].strLine.size(), 4113u);
}

// The cipher helper reports a null buffer by its result only: the log writer
// is its caller, and a line about its own failure would come straight back.
TEST_F(LogRecordTest, ATracedLineReachesTheLogFileAndTheNullBufferOnlyFails) {
    CRQBLLog log(RQBLLogKey());
    ASSERT_TRUE(log.Start(L"Log", L"T_", 0));
    RQ_LOG(log, L"CRQLauncherThread::ThreadLoop", RQ_LOG_NTS).Trace(130011, L"LAUNCHER US_CLOSE");
    EXPECT_EQ(CRQBLUtil::XORDecrypt(nullptr, 4, RQBLLogKey(), false, false), nullptr);
    log.CloseAll();

    const std::vector<fs::path> vecFiles = LogFiles();
    ASSERT_EQ(vecFiles.size(), 1u);
    const Bytes data = FileBytes(vecFiles[0]);
    const RQBL_LOG_READ_RESULT result = RQBLReadLogRecords(data.data(), data.size());
    ASSERT_EQ(result.nStatus, LOG_READ_OK) << result.strReason;
    ASSERT_EQ(result.vecRecords.size(), 1u);
    RQBL_LOG_LINE_PARTS parts;
    ASSERT_TRUE(RQBLSplitLogLine(RQBLUtf16ToUtf8(result.vecRecords[0].strLine), parts));
    EXPECT_EQ(parts.strLevel, "NTS");
    EXPECT_EQ(parts.strText, "130011 LAUNCHER US_CLOSE");
}

TEST_F(LogRecordTest, ACutLogFileIsReportedAtTheLastRecord) {
    {
        CRQBLLog log(RQBLLogKey());
        ASSERT_TRUE(log.Start(L"Log", L"C_", 0));
        ASSERT_TRUE(log.Write(1, true, L"one", true));
        ASSERT_TRUE(log.Write(1, true, L"two", true));
    }
    const fs::path file = LogFiles().at(0);
    const Bytes data = FileBytes(file);
    // "[NTS][hh:mm:ss] one\r\n" is 21 characters: L = 42, N = 48.
    ASSERT_EQ(data.size(), 2u * (16 + 48));
    const RQBL_LOG_READ_RESULT result = RQBLReadLogRecords(data.data(), data.size() - 10);
    EXPECT_EQ(result.nStatus, LOG_READ_TRUNCATED);
    EXPECT_EQ(result.nBadOffset, 64u);
    ASSERT_EQ(result.vecRecords.size(), 1u);
}
