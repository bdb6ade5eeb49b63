// The crash reporter's own logs.
#include "BTState.h"

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

void Trim(rqbt::CLogFile& log, bool bDropFromFront) {
    while (log.entries.size() > log.dwSizeInEntries) {
        if (bDropFromFront) {
            log.entries.pop_front();
        } else {
            log.entries.pop_back();
        }
    }
}

BOOL AddEntry(INT_PTR iHandle, BUGTRAP_LOGLEVEL eLogLevel, LPCWSTR pszEntry, bool bAtFront) {
    Lock lock(rqbt::State().cs);
    rqbt::CLogFile* pLog = rqbt::FindLog(iHandle);
    if (pLog == nullptr || pszEntry == nullptr) {
        return FALSE;
    }
    if (eLogLevel > pLog->eLevel) {
        return TRUE;  // filtered out, not a failure
    }
    if (bAtFront) {
        pLog->entries.emplace_front(pszEntry);
    } else {
        pLog->entries.emplace_back(pszEntry);
    }
    Trim(*pLog, !bAtFront);
    return pLog->Flush() ? TRUE : FALSE;
}

}  // namespace

extern "C" {

INT_PTR WINAPI BT_OpenLogFile(LPCWSTR pszLogFileName, BUGTRAP_LOGFORMAT eLogFormat) {
    if (pszLogFileName == nullptr || *pszLogFileName == L'\0') {
        return 0;
    }
    auto pLog = std::make_unique<rqbt::CLogFile>();
    pLog->strPath = rqbt::ResolvePath(pszLogFileName);
    pLog->eFormat = eLogFormat;
    pLog->Flush();  // the file exists from now on, empty
    Lock lock(rqbt::State().cs);
    rqbt::State().vecLogs.push_back(std::move(pLog));
    return static_cast<INT_PTR>(rqbt::State().vecLogs.size());
}

BOOL WINAPI BT_CloseLogFile(INT_PTR iHandle) {
    Lock lock(rqbt::State().cs);
    rqbt::CLogFile* pLog = rqbt::FindLog(iHandle);
    if (pLog == nullptr) {
        return FALSE;
    }
    pLog->Flush();
    pLog->bOpen = false;
    return TRUE;
}

LPCWSTR WINAPI BT_GetLogFileName(INT_PTR iHandle) {
    Lock lock(rqbt::State().cs);
    rqbt::CLogFile* pLog = rqbt::FindLog(iHandle);
    return pLog != nullptr ? pLog->strPath.c_str() : nullptr;
}

DWORD WINAPI BT_GetLogSizeInEntries(INT_PTR iHandle) {
    Lock lock(rqbt::State().cs);
    rqbt::CLogFile* pLog = rqbt::FindLog(iHandle);
    return pLog != nullptr ? pLog->dwSizeInEntries : 0;
}

BOOL WINAPI BT_SetLogSizeInEntries(INT_PTR iHandle, DWORD dwLogSizeInEntries) {
    Lock lock(rqbt::State().cs);
    rqbt::CLogFile* pLog = rqbt::FindLog(iHandle);
    if (pLog == nullptr) {
        return FALSE;
    }
    pLog->dwSizeInEntries = dwLogSizeInEntries;
    Trim(*pLog, false);
    return pLog->Flush() ? TRUE : FALSE;
}

BUGTRAP_LOGLEVEL WINAPI BT_GetLogLevel(INT_PTR iHandle) {
    Lock lock(rqbt::State().cs);
    rqbt::CLogFile* pLog = rqbt::FindLog(iHandle);
    return pLog != nullptr ? pLog->eLevel : BTLL_NONE;
}

BOOL WINAPI BT_SetLogLevel(INT_PTR iHandle, BUGTRAP_LOGLEVEL eLogLevel) {
    Lock lock(rqbt::State().cs);
    rqbt::CLogFile* pLog = rqbt::FindLog(iHandle);
    if (pLog == nullptr) {
        return FALSE;
    }
    pLog->eLevel = eLogLevel;
    return TRUE;
}

BOOL WINAPI BT_ClearLog(INT_PTR iHandle) {
    Lock lock(rqbt::State().cs);
    rqbt::CLogFile* pLog = rqbt::FindLog(iHandle);
    if (pLog == nullptr) {
        return FALSE;
    }
    pLog->entries.clear();
    return pLog->Flush() ? TRUE : FALSE;
}

BOOL WINAPI BT_InsLogEntry(INT_PTR iHandle, BUGTRAP_LOGLEVEL eLogLevel, LPCWSTR pszEntry) {
    return AddEntry(iHandle, eLogLevel, pszEntry, true);
}

BOOL WINAPI BT_AppLogEntry(INT_PTR iHandle, BUGTRAP_LOGLEVEL eLogLevel, LPCWSTR pszEntry) {
    return AddEntry(iHandle, eLogLevel, pszEntry, false);
}

}  // extern "C"
