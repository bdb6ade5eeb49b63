// The update worker's link to the launcher window on Windows.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "launcher/update/RQLauncherLink.h"

// Posted to the window: the status line has news (read it with TakeStatus),
// or a failure box is about to be shown.
enum : UINT {
    WM_RQ_STATUS = WM_APP + 1,
    WM_RQ_FAILURE = WM_APP + 2,
};

// The window that the worker's messages go to. Owned by the window object,
// which outlives the worker: it is attached when the window has its handle
// and detached before the worker is deleted, so the worker never sends to a
// window that is gone.
class CRQWindowTarget {
public:
    void Attach(HWND hWnd) { m_hWnd.store(hWnd); }
    void Detach() { m_hWnd.store(nullptr); }
    HWND Get() const { return m_hWnd.load(); }

    // The latest status line; the window takes it when it gets to it, so a
    // busy window skips lines rather than falling behind.
    void PutStatus(const std::wstring& strText) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strStatus = strText;
    }
    std::wstring TakeStatus() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_strStatus;
    }

private:
    std::atomic<HWND> m_hWnd{nullptr};
    std::mutex m_mutex;
    std::wstring m_strStatus;
};

class CRQLauncherWinLink : public CRQLauncherLink {
public:
    explicit CRQLauncherWinLink(CRQWindowTarget& target) : m_target(target) {}

    void SendToMainWindow(uint32_t nMessage, uint64_t wParam, int64_t lParam) override;
    void ShowMessageBox(const std::wstring& strText) override;
    void ShowStatus(const std::wstring& strText) override;

private:
    CRQWindowTarget& m_target;
};
