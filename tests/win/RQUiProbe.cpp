#include "RQUiProbe.h"

#include <shellapi.h>

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
    if (IsRunning()) {
        Kill();
    }
    if (m_pi.hThread != nullptr) {
        CloseHandle(m_pi.hThread);
    }
    if (m_pi.hProcess != nullptr) {
        CloseHandle(m_pi.hProcess);
    }
}

bool CChildProcess::Start(const std::wstring& strProgram, const std::wstring& strCommandLine,
                          const std::wstring& strWorkDir) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    std::wstring strCmd = strCommandLine;
    return CreateProcessW(strProgram.c_str(), strCmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          strWorkDir.empty() ? nullptr : strWorkDir.c_str(), &si, &m_pi) != FALSE;
}

long CChildProcess::Wait(DWORD dwTimeoutMs) {
    if (m_pi.hProcess == nullptr || WaitForSingleObject(m_pi.hProcess, dwTimeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD dwCode = 0;
    GetExitCodeProcess(m_pi.hProcess, &dwCode);
    return static_cast<long>(dwCode);
}

bool CChildProcess::IsRunning() const {
    return m_pi.hProcess != nullptr && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
}

void CChildProcess::Kill() {
    if (m_pi.hProcess != nullptr) {
        TerminateProcess(m_pi.hProcess, 99);
        WaitForSingleObject(m_pi.hProcess, 5000);
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
