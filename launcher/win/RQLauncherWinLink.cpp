#include "launcher/win/RQLauncherWinLink.h"

#include "launcher/win/RQAppMessageBox.h"

static_assert(RQ_WM_CLOSE == WM_CLOSE, "the worker's close message is WM_CLOSE");

void CRQLauncherWinLink::SendToMainWindow(uint32_t nMessage, uint64_t wParam, int64_t lParam) {
    // A handle seen here belongs to a live window, or to one being destroyed,
    // to which SendMessageW returns at once.
    HWND hWnd = m_target.Get();
    if (hWnd != nullptr) {
        SendMessageW(hWnd, nMessage, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
    }
}

void CRQLauncherWinLink::ShowMessageBox(const std::wstring& strText) {
    // No owner: an owner window belongs to another thread, which would have to
    // answer while this one waits in the box.
    RQAppMessageBox(nullptr, strText);
}
