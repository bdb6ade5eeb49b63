// The launcher's only window: a borderless picture with a progress bar. It
// takes the single-instance mutexes, owns the update worker and shows its
// progress, and starts the game when the worker says the update is over.
#pragma once

#include <windows.h>

#include <memory>

#include "baselib/log/RQBLLogSink.h"
#include "baselib/win/RQBLWinHandle.h"
#include "launcher/startup/RQLauncherSettings.h"
#include "launcher/transfer/RQTransferQueue.h"
#include "launcher/win/RQLauncherWinLink.h"
#include "launcher/win/RQStatusLine.h"
#include "launcher/win/RQTaskbarProgress.h"

class CRQLauncherThread;

class CRQLauncherDlg {
public:
    // log: for the start-up refusals and the worker; it outlives the window.
    CRQLauncherDlg(const RQ_LAUNCHER_SETTINGS& settings, CRQBLLogSink& log);
    ~CRQLauncherDlg();
    CRQLauncherDlg(const CRQLauncherDlg&) = delete;
    CRQLauncherDlg& operator=(const CRQLauncherDlg&) = delete;

    INT_PTR DoModal();

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

    // The picture's size; the window and the bar are fitted to it.
    SIZE SizeToBackground();
    bool TakeMutexesAndStartWorker();
    CRQTransferQueue::TransportFactory MakeTransportFactory() const;
    void Refuse(const wchar_t* pszText);

    const RQ_LAUNCHER_SETTINGS m_settings;
    CRQBLLogSink& m_log;
    HWND m_hWnd = nullptr;
    CRQBLIcon m_hIcon;
    HWND m_ctrlProgress = nullptr;
    CRQStatusLine m_statusLine;
    CRQTaskbarProgress m_taskbar;
    // Held from start-up until the game is started or start-up fails.
    CRQBLMutex m_launcherMutex;
    // Declared before the worker, so that it outlives the worker's link.
    CRQWindowTarget m_windowTarget;
    std::unique_ptr<CRQLauncherThread> m_pLauncherThread;
};
