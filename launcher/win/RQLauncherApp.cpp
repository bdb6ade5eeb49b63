#include "launcher/win/RQLauncherApp.h"

#include <commctrl.h>
#include <ole2.h>

#include "launcher/win/RQLauncherDlg.h"

CRQLauncherApp theApp;

bool CRQLauncherApp::InitInstance() {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);  // 8 bytes
    icc.dwICC = 0xFF;          // every classic control class, the progress bar among them
    InitCommonControlsEx(&icc);

    if (FAILED(OleInitialize(nullptr))) {
        // The resources carry no text for this failure, so the box is empty.
        MessageBoxW(nullptr, L"", GetAppTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    m_bOleStarted = true;

    CRQLauncherDlg dlg;
    dlg.DoModal();

    // A refusal at start-up ends the modal loop through the quit message; its
    // code is the process's exit code.
    MSG msg;
    if (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        m_nExitCode = static_cast<int>(msg.wParam);
    }
    return false;
}

int CRQLauncherApp::ExitInstance() {
    if (m_bOleStarted) {
        OleUninitialize();
        m_bOleStarted = false;
    }
    return m_nExitCode;
}

std::wstring CRQLauncherApp::GetAppTitle() const {
    std::wstring strPath(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, strPath.data(), static_cast<DWORD>(strPath.size()));
        if (n == 0) {
            return L"Launcher";
        }
        if (n < strPath.size()) {
            strPath.resize(n);
            break;
        }
        strPath.resize(strPath.size() * 2);
    }
    size_t nSlash = strPath.find_last_of(L"\\/");
    std::wstring strName = nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1);
    size_t nDot = strName.find_last_of(L'.');
    return nDot == std::wstring::npos ? strName : strName.substr(0, nDot);
}

int CRQLauncherApp::AppMessageBox(HWND hOwner, const std::wstring& strText) const {
    return MessageBoxW(hOwner, strText.c_str(), GetAppTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}
