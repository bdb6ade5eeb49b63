// The crash reporter's state, shared by its settings, logs and reports.
#pragma once

#include <BugTrap.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rqbt {

struct CLogFile {
    std::wstring strPath;
    BUGTRAP_LOGFORMAT eFormat = BTLF_TEXT;
    DWORD dwSizeInEntries = 1000;
    BUGTRAP_LOGLEVEL eLevel = BTLL_ALL;
    std::deque<std::wstring> entries;
    bool bOpen = true;

    // Writes the file anew from the entries. False when it cannot be written.
    bool Flush() const;
};

struct CState {
    std::recursive_mutex cs;
    std::wstring strAppName;
    std::wstring strAppVersion;
    std::wstring strBuildTag;
    std::wstring strIntro1;
    std::wstring strIntro2;
    std::wstring strSupportHost;
    SHORT nSupportPort = 80;
    std::wstring strReportPath;
    DWORD dwFlags = BTF_DETAILEDMODE;
    DWORD dwDumpType = 0;  // MiniDumpNormal
    // A handle is the index in this list plus one; closed logs keep their slot.
    std::vector<std::unique_ptr<CLogFile>> vecLogs;
    std::vector<std::wstring> vecReportFiles;
    // Started after a report is written, when set (RQBT_SetReportSender).
    std::wstring strSenderProgram;
    std::wstring strSenderSwitch;
    LPTOP_LEVEL_EXCEPTION_FILTER pfnPrevFilter = nullptr;
};

// Never destroyed: a crash during the process's exit must still find it.
CState& State();

// The log for a handle, or null. Call with State().cs held.
CLogFile* FindLog(INT_PTR iHandle);

// The folder of the program's executable, without a trailing separator.
std::wstring ProgramFolder();
// A relative path taken relative to the program's folder.
std::wstring ResolvePath(const std::wstring& strPath);

std::string ToUtf8(const std::wstring& strText);
bool WriteWholeFile(const std::wstring& strPath, const std::string& strBytes);

}  // namespace rqbt
