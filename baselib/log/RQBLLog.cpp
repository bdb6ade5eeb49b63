#include "baselib/log/RQBLLog.h"

#include <array>
#include <cwchar>
#include <iostream>
#include <locale>

#include "baselib/RQBLCrashLink.h"
#include "baselib/log/RQBLLogRecord.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "baselib/log/RQBLWideFormat.h"

namespace {

struct KindForm {
    const wchar_t* pszLogForm;
    const wchar_t* pszHtmForm;
    int nConsoleAttribute;
};

// Indexed by kind (level - 1).
constexpr KindForm kKindForms[4] = {
    {L"[ERR]%ls", L"<font color=red>%ls</font><br>", 12},
    {L"[NTS]%ls", L"<font color=orange>%ls</font><br>", 14},
    {L"[NET]%ls", L"<font color=blue>%ls</font><br>", 10},
    {L"[DBG]%ls", L"<font color=black>%ls</font><br>", 7},
};

// Plain-text sinks get the line in the ANSI code page; a line that cannot be
// converted is skipped rather than written half-converted.
void WriteAnsi(FILE* pStream, const std::wstring& strLine) {
    std::string strBytes;
    if (rqbl::WideToAnsi(strLine, strBytes)) {
        std::fwrite(strBytes.data(), 1, strBytes.size(), pStream);
    }
}

}  // namespace

CRQBLLog::CRQBLLog(std::vector<int32_t> vecKey) : m_vecKey(std::move(vecKey)) {}

CRQBLLog::~CRQBLLog() {
    CloseAll();
}

FILE* CRQBLLog::KindFile(int nKind) const {
    switch (nKind) {
        case 0:
            return m_pErrFile.Get();
        case 1:
            return m_pNtsFile.Get();
        case 3:
            return m_pDbgFile.Get();
        default:
            return nullptr;  // network lines have no file of their own
    }
}

bool CRQBLLog::Write(int nKind, bool bEcho, const wchar_t* pszText, bool bEncrypt) {
    if (nKind < 0 || nKind > 3) {
        return false;
    }
    // The open test is made under the lock: rotation may close and reopen the
    // .log file on another thread at any moment.
    std::lock_guard<std::recursive_mutex> lock(m_cs);
    if (!m_pLogFile) {
        return false;
    }
    RQBL_DATETIME now = rqbl::LocalNow();
    CheckRotation(now);

    const KindForm& form = kKindForms[nKind];
    std::wstring strLine = rqbl::Format(L"[%02d:%02d:%02d] %ls\r\n", now.byHour, now.byMinute, now.bySecond,
                                        pszText != nullptr ? pszText : L"");

    if (FILE* pOwn = KindFile(nKind)) {
        if (!bEncrypt) {
            WriteAnsi(pOwn, strLine);
        }
        std::fflush(pOwn);
    }
    if (m_pLogFile) {
        std::wstring strPrefixed = rqbl::Format(form.pszLogForm, strLine.c_str());
        if (bEncrypt) {
            WriteLogRecordWithKey(m_pLogFile.Get(), strPrefixed, m_vecKey);
        } else {
            WriteAnsi(m_pLogFile.Get(), strPrefixed);
        }
        std::fflush(m_pLogFile.Get());
    }
    if (m_pHtmFile) {
        if (!bEncrypt) {
            WriteAnsi(m_pHtmFile.Get(), rqbl::Format(form.pszHtmForm, strLine.c_str()));
        }
        std::fflush(m_pHtmFile.Get());
    }
    if (!bEncrypt && bEcho) {
        rqbl::SetConsoleAttribute(form.nConsoleAttribute);
        std::wcout << strLine;
        if (std::wcout.fail()) {
            std::wcout.clear();
            std::wcout << L'\n';
            std::wcout.flush();
        }
    }
    return true;
}

void CRQBLLog::TraceLine(const wchar_t* /*pszTag*/, int nLevel, const wchar_t* pszText) {
    // The tag is the caller's, for tests and debuggers; the files show the text.
    Write(CRQBLLogTraceNum::LevelToKind(nLevel), true, pszText, true);
}

bool CRQBLLog::Start(const wchar_t* pszFolder, const wchar_t* pszPrefix, int nRotateHours) {
    try {
        std::wcout.imbue(std::locale(""));
    } catch (const std::exception&) {
        // An unknown user locale leaves the console stream in the classic one.
    }
    if (pszFolder == nullptr || std::wcslen(pszFolder) >= FOLDER_CHARS) {
        return false;
    }
    m_szFolder = pszFolder;
    if (!rqbl::IsDirectory(m_szFolder) && !rqbl::MakeDirectory(m_szFolder)) {
        return false;
    }
    const wchar_t* pszUsedPrefix = pszPrefix != nullptr ? pszPrefix : L"Log";
    if (BuildBaseName(pszUsedPrefix, RQBL_DATETIME{}).empty()) {
        return false;  // prefix and time stamp would not fit the name buffer
    }
    m_szPrefix = pszUsedPrefix;
    m_nRotateHours = nRotateHours;
    m_FileTime = rqbl::LocalNow();
    for (int nAttempt = 1;; ++nAttempt) {
        if (OpenAll(m_FileTime, true)) {
            return true;
        }
        CloseAll();
        if (nAttempt == START_ATTEMPTS) {
            return false;
        }
        rqbl::SleepMs(m_dwStartRetryMs);
        m_FileTime = rqbl::LocalNow();
    }
}

std::array<CRQBLLog::FileSlot, 5> CRQBLLog::OpenOrder() {
    return {{{&m_pErrFile, L".err"},
             {&m_pNtsFile, L".nts"},
             {&m_pLogFile, L".log"},
             {&m_pDbgFile, L".dbg"},
             {&m_pHtmFile, L".htm"}}};
}

bool CRQBLLog::OpenAll(const RQBL_DATETIME& dt, bool bStopAtFailure) {
    bool bAll = true;
    for (const FileSlot& slot : OpenOrder()) {
        if (!OpenLogFile(dt, *slot.pStream, slot.pszExt)) {
            bAll = false;
            if (bStopAtFailure) {
                break;
            }
        }
    }
    return bAll;
}

std::wstring CRQBLLog::BuildBaseName(const wchar_t* pszPrefix, const RQBL_DATETIME& dt) {
    wchar_t szBase[BASE_NAME_CHARS];
    int n = std::swprintf(szBase, BASE_NAME_CHARS, L"%ls%04d%02d%02d_%02d%02d%02d", pszPrefix, dt.wYear,
                          dt.byMonth, dt.byDay, dt.byHour, dt.byMinute, dt.bySecond);
    if (n < 0 || n >= BASE_NAME_CHARS) {
        return std::wstring();
    }
    return std::wstring(szBase, static_cast<size_t>(n));
}

std::wstring CRQBLLog::BuildLogFilePath(const RQBL_DATETIME& dt, const wchar_t* pszExt) const {
    std::wstring strBase = BuildBaseName(m_szPrefix.c_str(), dt);
    if (strBase.empty()) {
        return std::wstring();
    }
    // Built without a fixed buffer: a deep folder makes the open fail, never
    // an overrun.
    const wchar_t sep = rqbl::PathSeparator();
    return rqbl::GetCurrentDir() + sep + m_szFolder + sep + strBase + pszExt;
}

bool CRQBLLog::OpenLogFile(const RQBL_DATETIME& dt, CRQBLFile& stream, const wchar_t* pszExt) {
    std::wstring strPath = BuildLogFilePath(dt, pszExt);
    {
        std::lock_guard<std::recursive_mutex> lock(m_cs);
        stream.Reset(strPath.empty() ? nullptr : rqbl::OpenDenyWrite(strPath));
    }
    if (!stream) {
        return false;
    }
    if (std::wcscmp(pszExt, L".log") == 0) {
        RQBLAddCrashLogFile(strPath.c_str());
    }
    return true;
}

bool CRQBLLog::CheckRotation(const RQBL_DATETIME& now) {
    bool bKeep = m_nRotateHours == 0 ||
                 (now.byDay == m_FileTime.byDay && m_FileTime.byHour + m_nRotateHours > now.byHour);
    if (bKeep) {
        // Reopen, with the current time stamp, any file whose earlier open failed.
        for (const FileSlot& slot : OpenOrder()) {
            if (!*slot.pStream) {
                OpenLogFile(now, *slot.pStream, slot.pszExt);
            }
        }
        return true;
    }
    m_FileTime = now;
    CloseAll();
    OpenAll(now, false);
    return true;
}

void CRQBLLog::CloseAll() {
    for (CRQBLFile* pStream : {&m_pErrFile, &m_pNtsFile, &m_pDbgFile, &m_pLogFile, &m_pHtmFile}) {
        pStream->Close();
    }
}
