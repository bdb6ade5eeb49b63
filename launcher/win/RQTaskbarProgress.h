// The launcher's taskbar button shows the bar's progress, and turns to the
// error state while a failure box waits for the player. Where the system has
// no such taskbar, nothing happens.
#pragma once

#include <windows.h>

#include <shobjidl.h>

#include "baselib/win/RQBLWinHandle.h"

class CRQTaskbarProgress {
public:
    // Needs COM on the calling thread (the window's).
    void Attach(HWND hWnd);
    void SetRange(int nHigh);
    void SetPos(int nPos);
    void SetError();

private:
    void Show();

    HWND m_hWnd = nullptr;
    CRQBLComPtr<ITaskbarList3> m_pTaskbar;
    int m_nHigh = 1;
    int m_nPos = 0;
};
