#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLLogRecord.h"
#include "tests/unit/RQTestTempDir.h"
#include "tools/logdump/LogDumpApp.h"

namespace fs = std::filesystem;

namespace {

struct DumpResult {
    int nExit;
    std::string strOut;
    std::string strErr;
};

std::string Slurp(const char* pszName) {
    std::vector<char> v = RQTestTempDir::ReadAll(pszName);
    return std::string(v.begin(), v.end());
}

class LogDumpTest : public ::testing::Test {
protected:
    DumpResult Dump(const std::vector<std::string>& vecArgs) {
        FILE* pOut = std::fopen("out.txt", "wb");
        FILE* pErr = std::fopen("err.txt", "wb");
        DumpResult run{-1, "", ""};
        if (pOut != nullptr && pErr != nullptr) {
            run.nExit = RunLogDump(vecArgs, pOut, pErr);
        }
        if (pOut != nullptr) {
            std::fclose(pOut);
        }
        if (pErr != nullptr) {
            std::fclose(pErr);
        }
        run.strOut = Slurp("out.txt");
        run.strErr = Slurp("err.txt");
        return run;
    }

    // Writes the records of the lines to a file named by UTF-8 bytes.
    static void WriteLog(const std::string& strName, const std::vector<std::wstring>& vecLines) {
        FILE* pFile = std::fopen("records.tmp", "wb");
        ASSERT_NE(pFile, nullptr);
        const std::vector<int32_t> key(std::begin(RQBL_LOG_KEY), std::end(RQBL_LOG_KEY));
        for (const std::wstring& strLine : vecLines) {
            WriteLogRecordWithKey(pFile, strLine, key);
        }
        std::fclose(pFile);
        fs::rename("records.tmp", fs::u8path(strName));
    }

    RQTestTempDir m_dir;
};

const std::vector<std::wstring> kLines = {
    L"[ERR][09:05:03] 130011 NO CDN\r\n",
    L"[NTS][09:05:04] 130011 確認 \"quoted\" back\\slash\r\n",
    L"[DBG][09:05:05] two\nrows\r\n",
};

}  // namespace

TEST_F(LogDumpTest, PrintsEveryLineAsUtf8) {
    WriteLog("a.log", kLines);
    const DumpResult run = Dump({"a.log"});
    EXPECT_EQ(run.nExit, LOGDUMP_OK) << run.strErr;
    EXPECT_EQ(run.strOut,
              "[ERR][09:05:03] 130011 NO CDN\n"
              "[NTS][09:05:04] 130011 \xE7\xA2\xBA\xE8\xAA\x8D \"quoted\" back\\slash\n"
              "[DBG][09:05:05] two\nrows\n");
    EXPECT_EQ(run.strErr, "");
}

TEST_F(LogDumpTest, LevelFilterTakesRepeatsAndLists) {
    WriteLog("a.log", kLines);
    EXPECT_EQ(Dump({"--level", "ERR", "a.log"}).strOut, "[ERR][09:05:03] 130011 NO CDN\n");
    const DumpResult both = Dump({"--level", "ERR", "--level=dbg", "a.log"});
    EXPECT_EQ(both.strOut, "[ERR][09:05:03] 130011 NO CDN\n[DBG][09:05:05] two\nrows\n");
    EXPECT_EQ(Dump({"--level", "NET,DBG", "a.log"}).strOut, "[DBG][09:05:05] two\nrows\n");
    EXPECT_EQ(Dump({"--level", "NET", "a.log"}).strOut, "");
}

TEST_F(LogDumpTest, JsonLinesCarryFileOffsetLevelTimeAndText) {
    WriteLog("a.log", kLines);
    const DumpResult run = Dump({"--json", "--level", "NTS", "--level", "DBG", "a.log"});
    EXPECT_EQ(run.nExit, LOGDUMP_OK);
    // Record 0: 31 characters, 16 + 64 bytes. Record 1: 47 characters, 16 + 96.
    EXPECT_EQ(run.strOut,
              "{\"file\":\"a.log\",\"offset\":80,\"level\":\"NTS\",\"time\":\"09:05:04\","
              "\"text\":\"130011 \xE7\xA2\xBA\xE8\xAA\x8D \\\"quoted\\\" back\\\\slash\"}\n"
              "{\"file\":\"a.log\",\"offset\":192,\"level\":\"DBG\",\"time\":\"09:05:05\","
              "\"text\":\"two\\nrows\"}\n");
}

TEST_F(LogDumpTest, ACutFileIsReportedWithItsOffsetAfterTheLinesBeforeIt) {
    WriteLog("a.log", kLines);
    fs::resize_file("a.log", fs::file_size("a.log") - 5);
    WriteLog("b.log", {L"[NTS][10:00:00] next file\r\n"});
    const DumpResult run = Dump({"a.log", "b.log"});
    EXPECT_EQ(run.nExit, LOGDUMP_BAD_RECORD);
    EXPECT_EQ(run.strOut,
              "==> a.log <==\n"
              "[ERR][09:05:03] 130011 NO CDN\n"
              "[NTS][09:05:04] 130011 \xE7\xA2\xBA\xE8\xAA\x8D \"quoted\" back\\slash\n"
              "==> b.log <==\n"
              "[NTS][10:00:00] next file\n");
    EXPECT_NE(run.strErr.find("a.log: truncated record at offset 192"), std::string::npos) << run.strErr;
}

TEST_F(LogDumpTest, ADamagedRecordIsReported) {
    WriteLog("a.log", kLines);
    std::string strData = Slurp("a.log");
    strData[80 + 3] = static_cast<char>(strData[80 + 3] ^ 0x10);  // record 1's length block
    RQTestTempDir::WriteAll("a.log", strData);
    const DumpResult run = Dump({"a.log"});
    EXPECT_EQ(run.nExit, LOGDUMP_BAD_RECORD);
    EXPECT_EQ(run.strOut, "[ERR][09:05:03] 130011 NO CDN\n");
    EXPECT_NE(run.strErr.find("damaged record at offset 80"), std::string::npos) << run.strErr;
}

TEST_F(LogDumpTest, FileNamesInUtf8) {
    const std::string strName = "\xE3\x83\xAD\xE3\x82\xB0.log";  // ログ.log
    WriteLog(strName, {L"[NTS][10:00:00] x\r\n"});
    const DumpResult run = Dump({strName});
    EXPECT_EQ(run.nExit, LOGDUMP_OK) << run.strErr;
    EXPECT_EQ(run.strOut, "[NTS][10:00:00] x\n");
}

TEST_F(LogDumpTest, CommandLineErrorsAndHelp) {
    const DumpResult help = Dump({"--help"});
    EXPECT_EQ(help.nExit, LOGDUMP_OK);
    EXPECT_NE(help.strOut.find("Exit codes:"), std::string::npos);
    EXPECT_EQ(Dump({}).nExit, LOGDUMP_USAGE);
    EXPECT_EQ(Dump({"--level"}).nExit, LOGDUMP_USAGE);
    const DumpResult badLevel = Dump({"--level", "WARN", "a.log"});
    EXPECT_EQ(badLevel.nExit, LOGDUMP_USAGE);
    EXPECT_NE(badLevel.strErr.find("unknown level 'WARN'"), std::string::npos);
    EXPECT_EQ(Dump({"--jsonx", "a.log"}).nExit, LOGDUMP_USAGE);
    const DumpResult missing = Dump({"missing.log"});
    EXPECT_EQ(missing.nExit, LOGDUMP_UNREADABLE);
    EXPECT_NE(missing.strErr.find("missing.log: cannot read"), std::string::npos);
    // "--" ends the options: a file may start with a dash.
    WriteLog("-dash.log", {L"[ERR][00:00:00] d\r\n"});
    EXPECT_EQ(Dump({"--", "-dash.log"}).strOut, "[ERR][00:00:00] d\n");
}
