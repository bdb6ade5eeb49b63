#include "baselib/RQBLCrashReport.h"

#include <windows.h>

#include <BugTrap.h>

#include "baselib/win/bugtrap/RQBTExtras.h"

namespace {

// MINIDUMP_TYPE values (dbghelp): data segments and indirectly referenced memory.
constexpr DWORD kMiniDumpWithDataSegs = 0x01;
constexpr DWORD kMiniDumpWithIndirectlyReferencedMemory = 0x40;
constexpr DWORD kCrashLogEntries = 1024;

}  // namespace

void InitCrashReporter(std::wstring strVersion, std::wstring strAppName, std::wstring strServerUrl,
                       uint16_t nPort) {
    BT_InstallSehFilter();
    BT_SetAppVersion(strVersion.c_str());
    BT_SetAppName(strAppName.c_str());
    BT_SetFlags(BTF_DETAILEDMODE | BTF_SCREENCAPTURE);
    BT_SetDumpType(kMiniDumpWithDataSegs | kMiniDumpWithIndirectlyReferencedMemory);
    BT_SetDialogMessage(BTDM_INTRO1, L"An Error has been detected");
    BT_SetDialogMessage(BTDM_INTRO2, L"Please Send Dump Files");
    BT_SetSupportServer(strServerUrl.c_str(), static_cast<SHORT>(nPort));
    RQBT_SetBuildTag(g_strBuildTag.c_str());
}

void InitCrashLog(int32_t nValue1, std::wstring strText1, int32_t nValue2, std::wstring strText2) {
    std::wstring strEntry = BuildCrashLogEntry(nValue1, strText1, nValue2, strText2, g_strBuildTag);
    INT_PTR hLog = BT_OpenLogFile(L"stack.log", BTLF_TEXT);
    BT_SetLogSizeInEntries(hLog, kCrashLogEntries);
    BT_SetLogLevel(hLog, BTLL_INFO);
    LPCWSTR pszLogName = BT_GetLogFileName(hLog);
    if (pszLogName != nullptr) {
        BT_AddLogFile(pszLogName);
    }
    BT_ClearLog(hLog);
    BT_InsLogEntry(hLog, BTLL_INFO, strEntry.c_str());
}

void SetCrashReportBuildTag(const std::wstring& strTag) {
    g_strBuildTag = strTag;
    RQBT_SetBuildTag(g_strBuildTag.c_str());
}

void AddCrashReportFile(const wchar_t* pszPath) {
    if (pszPath != nullptr) {
        BT_AddLogFile(pszPath);
    }
}
