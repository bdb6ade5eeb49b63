// The launcher's only window: a borderless picture with a progress bar.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CRQLauncherThread;

class CRQLauncherDlg {
public:
    CRQLauncherDlg();
    ~CRQLauncherDlg();
    CRQLauncherDlg(const CRQLauncherDlg&) = delete;
    CRQLauncherDlg& operator=(const CRQLauncherDlg&) = delete;

    INT_PTR DoModal();
    HWND GetSafeHwnd() const { return m_hWnd; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    // Thin dispatcher: every handler below does one thing.
    INT_PTR WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    void PostNcDestroy();
    // The update worker's messages (2025 to 2028).
    void OnWorkerMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    void OnPaint();
    HCURSOR OnQueryDragIcon() const;

    void SizeToBackground();
    bool EnterProgramFolder();
    void ReadAddressFile();
    bool TakeMutexesAndStartWorker();
    void Refuse(const wchar_t* pszText);

    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;
    HWND m_ctrlProgress = nullptr;
    CRQLauncherThread* m_pLauncherThread = nullptr;
};

// The process's arguments as CommandLineToArgvW splits them.
std::vector<std::wstring> RQGetCommandLineArgs();
