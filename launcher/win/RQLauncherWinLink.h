// The update worker's link to the launcher window on Windows.
#pragma once

#include <windows.h>

#include <atomic>

#include "launcher/RQLauncherLink.h"

// The window that the worker's messages go to. Owned by the window object,
// which outlives the worker: it is attached when the window has its handle
// and detached before the worker is deleted, so the worker never sends to a
// window that is gone.
class CRQWindowTarget {
public:
    void Attach(HWND hWnd) { m_hWnd.store(hWnd); }
    void Detach() { m_hWnd.store(nullptr); }
    HWND Get() const { return m_hWnd.load(); }

private:
    std::atomic<HWND> m_hWnd{nullptr};
};

class CRQLauncherWinLink : public CRQLauncherLink {
public:
    explicit CRQLauncherWinLink(const CRQWindowTarget& target) : m_target(target) {}

    void SendToMainWindow(uint32_t nMessage, uint64_t wParam, int64_t lParam) override;
    void ShowMessageBox(const std::wstring& strText) override;

private:
    const CRQWindowTarget& m_target;
};
