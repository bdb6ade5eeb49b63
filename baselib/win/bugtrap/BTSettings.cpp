// The crash reporter's settings and its unhandled-exception filter.
#include "BTState.h"
#include "baselib/win/bugtrap/RQBTExtras.h"

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

std::wstring Copy(LPCWSTR psz) {
    return psz != nullptr ? std::wstring(psz) : std::wstring();
}

LONG WINAPI ReportUnhandledException(PEXCEPTION_POINTERS pExceptionPointers) {
    BT_SendSnapshotEx(pExceptionPointers);
    return EXCEPTION_EXECUTE_HANDLER;  // the process ends with the exception's code
}

}  // namespace

extern "C" {

LPCWSTR WINAPI BT_GetAppName(void) {
    Lock lock(rqbt::State().cs);
    return rqbt::State().strAppName.c_str();
}

void WINAPI BT_SetAppName(LPCWSTR pszAppName) {
    Lock lock(rqbt::State().cs);
    rqbt::State().strAppName = Copy(pszAppName);
}

LPCWSTR WINAPI BT_GetAppVersion(void) {
    Lock lock(rqbt::State().cs);
    return rqbt::State().strAppVersion.c_str();
}

void WINAPI BT_SetAppVersion(LPCWSTR pszAppVersion) {
    Lock lock(rqbt::State().cs);
    rqbt::State().strAppVersion = Copy(pszAppVersion);
}

DWORD WINAPI BT_GetFlags(void) {
    Lock lock(rqbt::State().cs);
    return rqbt::State().dwFlags;
}

void WINAPI BT_SetFlags(DWORD dwFlags) {
    Lock lock(rqbt::State().cs);
    rqbt::State().dwFlags = dwFlags;
}

DWORD WINAPI BT_GetDumpType(void) {
    Lock lock(rqbt::State().cs);
    return rqbt::State().dwDumpType;
}

void WINAPI BT_SetDumpType(DWORD dwDumpType) {
    Lock lock(rqbt::State().cs);
    rqbt::State().dwDumpType = dwDumpType;
}

LPCWSTR WINAPI BT_GetDialogMessage(BUGTRAP_DIALOGMESSAGE eDialogMessage) {
    Lock lock(rqbt::State().cs);
    switch (eDialogMessage) {
        case BTDM_INTRO1:
            return rqbt::State().strIntro1.c_str();
        case BTDM_INTRO2:
            return rqbt::State().strIntro2.c_str();
        default:
            return nullptr;
    }
}

void WINAPI BT_SetDialogMessage(BUGTRAP_DIALOGMESSAGE eDialogMessage, LPCWSTR pszMessage) {
    Lock lock(rqbt::State().cs);
    if (eDialogMessage == BTDM_INTRO1) {
        rqbt::State().strIntro1 = Copy(pszMessage);
    } else if (eDialogMessage == BTDM_INTRO2) {
        rqbt::State().strIntro2 = Copy(pszMessage);
    }
}

LPCWSTR WINAPI BT_GetSupportHost(void) {
    Lock lock(rqbt::State().cs);
    return rqbt::State().strSupportHost.c_str();
}

SHORT WINAPI BT_GetSupportPort(void) {
    Lock lock(rqbt::State().cs);
    return rqbt::State().nSupportPort;
}

void WINAPI BT_SetSupportServer(LPCWSTR pszSupportHost, SHORT nSupportPort) {
    Lock lock(rqbt::State().cs);
    rqbt::State().strSupportHost = Copy(pszSupportHost);
    rqbt::State().nSupportPort = nSupportPort;
}

LPCWSTR WINAPI BT_GetReportFilePath(void) {
    Lock lock(rqbt::State().cs);
    return rqbt::State().strReportPath.c_str();
}

void WINAPI BT_SetReportFilePath(LPCWSTR pszReportFilePath) {
    Lock lock(rqbt::State().cs);
    rqbt::State().strReportPath = Copy(pszReportFilePath);
}

void WINAPI BT_AddLogFile(LPCWSTR pszLogFile) {
    if (pszLogFile == nullptr || *pszLogFile == L'\0') {
        return;
    }
    std::wstring strPath = rqbt::ResolvePath(pszLogFile);
    Lock lock(rqbt::State().cs);
    std::vector<std::wstring>& vecFiles = rqbt::State().vecReportFiles;
    for (const std::wstring& strKnown : vecFiles) {
        if (_wcsicmp(strKnown.c_str(), strPath.c_str()) == 0) {
            return;
        }
    }
    vecFiles.push_back(strPath);
}

DWORD WINAPI BT_GetLogFilesCount(void) {
    Lock lock(rqbt::State().cs);
    return static_cast<DWORD>(rqbt::State().vecReportFiles.size());
}

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI BT_InstallSehFilter(void) {
    LPTOP_LEVEL_EXCEPTION_FILTER pfnPrev = SetUnhandledExceptionFilter(ReportUnhandledException);
    Lock lock(rqbt::State().cs);
    if (pfnPrev != ReportUnhandledException) {
        rqbt::State().pfnPrevFilter = pfnPrev;
    }
    return pfnPrev;
}

void RQBT_SetBuildTag(const wchar_t* pszBuildTag) {
    Lock lock(rqbt::State().cs);
    rqbt::State().strBuildTag = Copy(pszBuildTag);
}

void RQBT_SetReportSender(const wchar_t* pszProgram, const wchar_t* pszSwitch) {
    Lock lock(rqbt::State().cs);
    rqbt::State().strSenderProgram = Copy(pszProgram);
    rqbt::State().strSenderSwitch = Copy(pszSwitch);
}

}  // extern "C"
