// The crash reporter behind the BT_ calls, in this process: the settings that
// crash reporting makes, its log, and a report written on request.
#include <windows.h>
#include <gtest/gtest.h>

#include <BugTrap.h>

#include <fstream>
#include <iterator>
#include <string>

#include "RQUiProbe.h"
#include "baselib/RQBLCrashReport.h"
#include "baselib/win/RQBLWinHandle.h"
#include "baselib/win/bugtrap/RQBTExtras.h"

namespace {

std::string ReadFile(const std::wstring& strPath) {
    std::ifstream in(strPath.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class BugTrapTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_strFolder = rqui::MakeTempFolder(L"bt");
        ASSERT_FALSE(m_strFolder.empty());
    }
    void TearDown() override {
        BT_SetReportFilePath(L"");
        rqui::RemoveFolderTree(m_strFolder);
    }
    std::wstring m_strFolder;
};

}  // namespace

TEST_F(BugTrapTest, CrashReporterSetUpMakesTheFixedSettings) {
    InitCrashReporter(L"ver 0.9a", L"PXPatcher", L"http://report.example:8080/reception_jpn/Default.aspx",
                      80);
    EXPECT_STREQ(BT_GetAppVersion(), L"ver 0.9a");
    EXPECT_STREQ(BT_GetAppName(), L"PXPatcher");
    EXPECT_EQ(BT_GetFlags(), 0x21u);
    EXPECT_EQ(BT_GetDumpType(), 0x41u);
    EXPECT_STREQ(BT_GetDialogMessage(BTDM_INTRO1), L"An Error has been detected");
    EXPECT_STREQ(BT_GetDialogMessage(BTDM_INTRO2), L"Please Send Dump Files");
    EXPECT_STREQ(BT_GetSupportHost(), L"http://report.example:8080/reception_jpn/Default.aspx");
    EXPECT_EQ(BT_GetSupportPort(), 80);
}

TEST_F(BugTrapTest, LogKeepsItsLevelAndCapacity) {
    std::wstring strPath = m_strFolder + L"\\kept.log";
    INT_PTR hLog = BT_OpenLogFile(strPath.c_str(), BTLF_TEXT);
    ASSERT_NE(hLog, 0);
    EXPECT_STREQ(BT_GetLogFileName(hLog), strPath.c_str());
    ASSERT_TRUE(BT_SetLogSizeInEntries(hLog, 3));
    ASSERT_TRUE(BT_SetLogLevel(hLog, BTLL_INFO));
    for (const wchar_t* psz : {L"a", L"b", L"c", L"d"}) {
        ASSERT_TRUE(BT_InsLogEntry(hLog, BTLL_INFO, psz));
    }
    EXPECT_EQ(ReadFile(strPath), "d\r\nc\r\nb\r\n");  // newest first, the oldest dropped
    EXPECT_TRUE(BT_InsLogEntry(hLog, BTLL_VERBOSE, L"too detailed"));
    EXPECT_EQ(ReadFile(strPath), "d\r\nc\r\nb\r\n");
    ASSERT_TRUE(BT_AppLogEntry(hLog, BTLL_ERROR, L"確認"));
    EXPECT_EQ(ReadFile(strPath), "c\r\nb\r\n\xE7\xA2\xBA\xE8\xAA\x8D\r\n");
    ASSERT_TRUE(BT_ClearLog(hLog));
    EXPECT_EQ(ReadFile(strPath), "");
    ASSERT_TRUE(BT_CloseLogFile(hLog));
    EXPECT_EQ(BT_GetLogFileName(hLog), nullptr);
    EXPECT_FALSE(BT_InsLogEntry(hLog, BTLL_INFO, L"closed"));
}

TEST_F(BugTrapTest, RelativeLogNamesRestOnTheProgramFolder) {
    INT_PTR hLog = BT_OpenLogFile(L"rq_bt_relative.log", BTLF_TEXT);
    ASSERT_NE(hLog, 0);
    std::wstring strExpected = rqui::ProgramFolder() + L"\\rq_bt_relative.log";
    EXPECT_STREQ(BT_GetLogFileName(hLog), strExpected.c_str());
    BT_CloseLogFile(hLog);
    DeleteFileW(strExpected.c_str());
}

TEST_F(BugTrapTest, SnapshotWritesDumpReportAndCopiesOfFilesStillOpen) {
    BT_SetReportFilePath(m_strFolder.c_str());
    BT_SetAppName(L"PXPatcher");
    RQBT_SetBuildTag(L"RELEASE_TEST_1");

    // A log that its writer still holds open, as the log object does.
    std::wstring strHeld = m_strFolder + L"\\HELD.log";
    CRQBLHandle hHeld(CreateFileW(strHeld.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hHeld);
    DWORD dwWritten = 0;
    ASSERT_TRUE(WriteFile(hHeld.Get(), "held\r\n", 6, &dwWritten, nullptr));
    DWORD dwCount = BT_GetLogFilesCount();
    BT_AddLogFile(strHeld.c_str());
    BT_AddLogFile(strHeld.c_str());
    EXPECT_EQ(BT_GetLogFilesCount(), dwCount + 1);

    ASSERT_TRUE(BT_SendSnapshot());
    WIN32_FIND_DATAW fd{};
    HANDLE hFind = FindFirstFileW((m_strFolder + L"\\CrashReport_*").c_str(), &fd);
    ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
    FindClose(hFind);
    std::wstring strReport = m_strFolder + L"\\" + fd.cFileName;
    EXPECT_EQ(ReadFile(strReport + L"\\crash.dmp").substr(0, 4), "MDMP");
    EXPECT_EQ(ReadFile(strReport + L"\\HELD.log"), "held\r\n");
    std::string strText = ReadFile(strReport + L"\\report.txt");
    EXPECT_NE(strText.find("Application: PXPatcher\r\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("Build: RELEASE_TEST_1\r\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("Exception code: 0x00000000\r\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("HELD.log"), std::string::npos) << strText;
}
