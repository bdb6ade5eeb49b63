// What the update worker needs of the launcher window, kept behind an
// interface so that every path of the worker runs in tests without a window
// and without message boxes.
#pragma once

#include <cstdint>
#include <string>

// Messages from the update worker to the launcher window.
enum : uint32_t {
    RQ_WM_CLOSE = 16,             // WM_CLOSE: a failure that ends the launcher
    WM_RQ_PROGRESS_FULL = 2025,   // fill the bar
    WM_RQ_PROGRESS_RANGE = 2026,  // lParam: the bar's range (0 shows 0..10)
    WM_RQ_PROGRESS_POS = 2027,    // wParam: the bar's position
    WM_RQ_UPDATE_DONE = 2028,     // the update is over: start the game
};

class CRQLauncherLink {
public:
    virtual ~CRQLauncherLink() = default;

    // Sends the message synchronously to the application's main window if
    // there is one and it still has a handle; otherwise does nothing.
    virtual void SendToMainWindow(uint32_t nMessage, uint64_t wParam, int64_t lParam) = 0;
    // The application's standard message box (OK, exclamation icon, the
    // application's title); returns once the player has closed it.
    virtual void ShowMessageBox(const std::wstring& strText) = 0;
    // The status line above the bar; the worker calls it a few times a
    // second at most. It must not wait for the window.
    virtual void ShowStatus(const std::wstring& strText) = 0;
};
