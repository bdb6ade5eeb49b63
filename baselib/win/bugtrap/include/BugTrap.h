// The crash reporter's interface: the BT_ calls of the BugTrap library that
// the launcher uses, with BugTrap's names, argument types and values, so that
// a build can link BugTrap itself instead (CMake option RQ_USE_BUGTRAP).
//
// This implementation is the project's own. It keeps the settings, keeps text
// logs, and BT_SendSnapshotEx writes a report folder beside the program: a
// minidump, a short text report, copies of the logs and what the sending step
// needs (report.ini). The crashed process does no more than that: it starts
// the program named by RQBT_SetReportSender (RQBTExtras.h), which captures the
// screen, asks the player and sends the report (crashupload/), and waits for
// it to end.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum BUGTRAP_FLAGS_tag {
    BTF_NONE = 0x000,
    BTF_DETAILEDMODE = 0x001,
    BTF_SCREENCAPTURE = 0x020,
} BUGTRAP_FLAGS;

typedef enum BUGTRAP_LOGLEVEL_tag {
    BTLL_NONE = 0,
    BTLL_ERROR = 1,
    BTLL_WARNING = 2,
    BTLL_IMPORTANT = 3,
    BTLL_INFO = 4,
    BTLL_VERBOSE = 5,
    BTLL_ALL = BTLL_INFO,
} BUGTRAP_LOGLEVEL;

typedef enum BUGTRAP_LOGFORMAT_tag {
    BTLF_XML = 1,
    BTLF_TEXT = 2,
    BTLF_STREAM = 3,
} BUGTRAP_LOGFORMAT;

typedef enum BUGTRAP_DIALOGMESSAGE_tag {
    BTDM_INTRO1 = 1,
    BTDM_INTRO2 = 2,
} BUGTRAP_DIALOGMESSAGE;

// Settings. Strings are copied; getters return the library's copy.
LPCWSTR WINAPI BT_GetAppName(void);
void WINAPI BT_SetAppName(LPCWSTR pszAppName);
LPCWSTR WINAPI BT_GetAppVersion(void);
void WINAPI BT_SetAppVersion(LPCWSTR pszAppVersion);
DWORD WINAPI BT_GetFlags(void);
void WINAPI BT_SetFlags(DWORD dwFlags);
// A MINIDUMP_TYPE combination used for the report's minidump.
DWORD WINAPI BT_GetDumpType(void);
void WINAPI BT_SetDumpType(DWORD dwDumpType);
LPCWSTR WINAPI BT_GetDialogMessage(BUGTRAP_DIALOGMESSAGE eDialogMessage);
void WINAPI BT_SetDialogMessage(BUGTRAP_DIALOGMESSAGE eDialogMessage, LPCWSTR pszMessage);
LPCWSTR WINAPI BT_GetSupportHost(void);
SHORT WINAPI BT_GetSupportPort(void);
void WINAPI BT_SetSupportServer(LPCWSTR pszSupportHost, SHORT nSupportPort);
// The folder under which report folders are made; empty means the program's
// own folder.
LPCWSTR WINAPI BT_GetReportFilePath(void);
void WINAPI BT_SetReportFilePath(LPCWSTR pszReportFilePath);

// Files copied into every report. Adding a file twice keeps one entry.
void WINAPI BT_AddLogFile(LPCWSTR pszLogFile);
DWORD WINAPI BT_GetLogFilesCount(void);

// Logs kept by the library. A relative file name is taken relative to the
// program's folder. The file is rewritten after every change, one entry per
// line (UTF-8), so that it is complete whenever a report copies it.
INT_PTR WINAPI BT_OpenLogFile(LPCWSTR pszLogFileName, BUGTRAP_LOGFORMAT eLogFormat);
BOOL WINAPI BT_CloseLogFile(INT_PTR iHandle);
LPCWSTR WINAPI BT_GetLogFileName(INT_PTR iHandle);
DWORD WINAPI BT_GetLogSizeInEntries(INT_PTR iHandle);
BOOL WINAPI BT_SetLogSizeInEntries(INT_PTR iHandle, DWORD dwLogSizeInEntries);
BUGTRAP_LOGLEVEL WINAPI BT_GetLogLevel(INT_PTR iHandle);
// Entries of a level above this one are dropped.
BOOL WINAPI BT_SetLogLevel(INT_PTR iHandle, BUGTRAP_LOGLEVEL eLogLevel);
BOOL WINAPI BT_ClearLog(INT_PTR iHandle);
// Inserts at the beginning; when the log is full the last entry goes.
BOOL WINAPI BT_InsLogEntry(INT_PTR iHandle, BUGTRAP_LOGLEVEL eLogLevel, LPCWSTR pszEntry);
// Appends at the end; when the log is full the first entry goes.
BOOL WINAPI BT_AppLogEntry(INT_PTR iHandle, BUGTRAP_LOGLEVEL eLogLevel, LPCWSTR pszEntry);

// Installs the library's unhandled-exception filter, which writes a report
// and lets the process end; returns the filter it replaced.
LPTOP_LEVEL_EXCEPTION_FILTER WINAPI BT_InstallSehFilter(void);

// Writes a report for the given exception, or for the calling point when it is
// null. TRUE when the report folder was made.
BOOL WINAPI BT_SendSnapshotEx(PEXCEPTION_POINTERS pExceptionPointers);
BOOL WINAPI BT_SendSnapshot(void);

#ifdef __cplusplus
}
#endif
