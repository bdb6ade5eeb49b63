#include "RQUiProbe.h"

#include <shellapi.h>

#include <cstdio>

namespace rqui {

namespace {

struct EnumState {
    DWORD dwProcessId;
    std::vector<HWND> vecWindows;
};

BOOL CALLBACK CollectProcessWindow(HWND hWnd, LPARAM lParam) {
    auto* pState = reinterpret_cast<EnumState*>(lParam);
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid == pState->dwProcessId && IsWindowVisible(hWnd)) {
        pState->vecWindows.push_back(hWnd);
    }
    return TRUE;
}

std::wstring ClassName(HWND hWnd) {
    wchar_t szClass[64] = {};
    GetClassNameW(hWnd, szClass, 64);
    return szClass;
}

struct BoxParts {
    std::wstring strText;
    int nButtons = 0;
    bool bHasLauncherControls = false;
};

BOOL CALLBACK CollectBoxPart(HWND hChild, LPARAM lParam) {
    auto* pParts = reinterpret_cast<BoxParts*>(lParam);
    std::wstring strClass = ClassName(hChild);
    int nId = GetDlgCtrlID(hChild);
    if (nId == 1000 || nId == 1001) {
        pParts->bHasLauncherControls = true;
    }
    if (_wcsicmp(strClass.c_str(), L"Button") == 0) {
        ++pParts->nButtons;
    } else if (_wcsicmp(strClass.c_str(), L"Static") == 0) {
        LONG_PTR style = GetWindowLongPtrW(hChild, GWL_STYLE);
        bool bIcon = (style & SS_TYPEMASK) == SS_ICON;
        std::wstring strText = WindowText(hChild);
        if (!bIcon && !strText.empty()) {
            pParts->strText += strText;
        }
    }
    return TRUE;
}

}  // namespace

CChildProcess::~CChildProcess() {
    if (m_hProcess) {
        Kill();
    }
}

bool CChildProcess::Start(const std::wstring& strProgram, const std::wstring& strCommandLine,
                          const std::wstring& strWorkDir) {
    m_hJob.Reset(CreateJobObjectW(nullptr, nullptr));
    if (m_hJob) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(m_hJob.Get(), JobObjectExtendedLimitInformation, &limits,
                                     sizeof(limits))) {
            m_hJob.Close();
        }
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring strCmd = strCommandLine;
    // Suspended until it is in the job, so that nothing it starts escapes it.
    if (!CreateProcessW(strProgram.c_str(), strCmd.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        strWorkDir.empty() ? nullptr : strWorkDir.c_str(), &si, &pi)) {
        return false;
    }
    CRQBLHandle hThread(pi.hThread);
    m_hProcess.Reset(pi.hProcess);
    m_dwProcessId = pi.dwProcessId;
    if (m_hJob && !AssignProcessToJobObject(m_hJob.Get(), m_hProcess.Get())) {
        m_hJob.Close();
    }
    ResumeThread(hThread.Get());
    return true;
}

long CChildProcess::Wait(DWORD dwTimeoutMs) {
    if (!m_hProcess || WaitForSingleObject(m_hProcess.Get(), dwTimeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD dwCode = 0;
    GetExitCodeProcess(m_hProcess.Get(), &dwCode);
    return static_cast<long>(dwCode);
}

bool CChildProcess::IsRunning() const {
    return m_hProcess && WaitForSingleObject(m_hProcess.Get(), 0) == WAIT_TIMEOUT;
}

bool CChildProcess::Kill() {
    if (!m_hProcess) {
        return true;
    }
    // Generous: ending a process under Wine on a loaded machine can take seconds.
    constexpr DWORD kGoneTimeoutMs = 60000;
    if (m_hJob) {
        TerminateJobObject(m_hJob.Get(), 99);
    } else {
        TerminateProcess(m_hProcess.Get(), 99);
    }
    bool bGone = WaitForSingleObject(m_hProcess.Get(), kGoneTimeoutMs) == WAIT_OBJECT_0 &&
                 WaitUntilJobEmpty(kGoneTimeoutMs);
    if (!bGone) {
        std::fprintf(stderr, "rqui: process %lu (or one it started) still runs %lu s after it was ended\n",
                     m_dwProcessId, kGoneTimeoutMs / 1000);
    }
    return bGone;
}

bool CChildProcess::WaitUntilJobEmpty(DWORD dwTimeoutMs) const {
    if (!m_hJob) {
        return true;
    }
    DWORD dwStart = GetTickCount();
    for (;;) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        if (!QueryInformationJobObject(m_hJob.Get(), JobObjectBasicAccountingInformation, &info, sizeof(info),
                                       nullptr) ||
            info.ActiveProcesses == 0) {
            return true;
        }
        if (GetTickCount() - dwStart >= dwTimeoutMs) {
            return false;
        }
        Sleep(20);
    }
}

std::vector<HWND> ProcessWindows(DWORD dwProcessId) {
    EnumState state{dwProcessId, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&state));
    return state.vecWindows;
}

std::wstring WindowText(HWND hWnd) {
    int nLen = GetWindowTextLengthW(hWnd);
    std::wstring strText(static_cast<size_t>(nLen) + 1, L'\0');
    int nGot = GetWindowTextW(hWnd, strText.data(), nLen + 1);
    strText.resize(static_cast<size_t>(nGot > 0 ? nGot : 0));
    return strText;
}

HWND WaitForWindow(DWORD dwProcessId, const std::wstring& strTitle, DWORD dwTimeoutMs) {
    DWORD dwStart = GetTickCount();
    do {
        for (HWND hWnd : ProcessWindows(dwProcessId)) {
            if (WindowText(hWnd) == strTitle) {
                return hWnd;
            }
        }
        Sleep(50);
    } while (GetTickCount() - dwStart < dwTimeoutMs);
    return nullptr;
}

bool WaitForMessageBox(DWORD dwProcessId, DWORD dwTimeoutMs, CMessageBoxInfo& info) {
    DWORD dwStart = GetTickCount();
    do {
        for (HWND hWnd : ProcessWindows(dwProcessId)) {
            if (ClassName(hWnd) != L"#32770") {
                continue;
            }
            BoxParts parts;
            EnumChildWindows(hWnd, CollectBoxPart, reinterpret_cast<LPARAM>(&parts));
            if (parts.nButtons > 0 && !parts.bHasLauncherControls) {
                info.hWnd = hWnd;
                info.strCaption = WindowText(hWnd);
                info.strText = parts.strText;
                return true;
            }
        }
        Sleep(50);
    } while (GetTickCount() - dwStart < dwTimeoutMs);
    return false;
}

bool PressButton(HWND hBox, int nId) {
    HWND hButton = GetDlgItem(hBox, nId);
    return PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), reinterpret_cast<LPARAM>(hButton)) !=
           FALSE;
}

std::wstring ProgramFolder() {
    wchar_t szPath[MAX_PATH * 4] = {};
    DWORD n = GetModuleFileNameW(nullptr, szPath, MAX_PATH * 4);
    std::wstring strPath(szPath, n);
    return strPath.substr(0, strPath.find_last_of(L"\\/"));
}

std::wstring MakeTempFolder(const wchar_t* pszTag) {
    wchar_t szTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szTemp);
    for (unsigned n = GetTickCount() ^ GetCurrentProcessId();; ++n) {
        std::wstring strFolder = std::wstring(szTemp) + L"rq_" + pszTag + L"_" + std::to_wstring(n);
        if (CreateDirectoryW(strFolder.c_str(), nullptr)) {
            return strFolder;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::wstring();
        }
    }
}

bool RemoveFolderTree(const std::wstring& strFolder) {
    std::wstring strFrom = strFolder + L'\0';  // double-terminated list
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = strFrom.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    return SHFileOperationW(&op) == 0;
}

bool CopyInto(const std::wstring& strFile, const std::wstring& strFolder) {
    std::wstring strName = strFile.substr(strFile.find_last_of(L"\\/") + 1);
    return CopyFileW(strFile.c_str(), (strFolder + L"\\" + strName).c_str(), FALSE) != FALSE;
}

bool WriteTextFile(const std::wstring& strPath, const std::string& strText) {
    HANDLE h = CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD dwWritten = 0;
    BOOL bOk = WriteFile(h, strText.data(), static_cast<DWORD>(strText.size()), &dwWritten, nullptr);
    CloseHandle(h);
    return bOk && dwWritten == strText.size();
}

}  // namespace rqui
