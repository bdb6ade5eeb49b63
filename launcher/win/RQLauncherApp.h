// The application object: registers the common controls, runs the launcher
// window modally and ends the process when it closes.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

class CRQLauncherDlg;

class CRQLauncherApp {
public:
    CRQLauncherApp() = default;

    // Runs the whole launcher; false so that the process ends afterwards.
    bool InitInstance();
    int ExitInstance();

    // The launcher window while it has a handle, else null. Read by the update
    // worker's thread before each message it sends.
    HWND GetMainWnd() const { return m_hMainWnd.load(); }
    void SetMainWnd(HWND hWnd) { m_hMainWnd.store(hWnd); }

    // Caption of the application's standard message box: the executable's
    // file name without its extension.
    std::wstring GetAppTitle() const;
    // The application's standard box: OK button, exclamation icon. Boxes shown
    // by the update worker pass no owner, since an owner window on another
    // thread would have to answer while the worker waits.
    int AppMessageBox(HWND hOwner, const std::wstring& strText) const;

    int GetExitCode() const { return m_nExitCode; }

private:
    std::atomic<HWND> m_hMainWnd{nullptr};
    bool m_bOleStarted = false;
    int m_nExitCode = 0;
};

extern CRQLauncherApp theApp;
