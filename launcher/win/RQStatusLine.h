// The status line: a child control over the picture, just above the bar,
// that shows what the launcher is doing as light text with a dark shadow. It
// is an ordinary static control with its text set (screen readers and UI
// automation read it), drawn by its owner over its own copy of the picture.
#pragma once

#include <windows.h>

#include <string>

#include "baselib/win/RQBLWinHandle.h"

class CRQStatusLine {
public:
    enum : int { HEIGHT = 20, MARGIN = 10 };

    // Over the bottom rows of the picture, nWidth wide, its bottom at nPictureBottom.
    bool Create(HWND hParent, int nControlId, int nWidth, int nPictureBottom);
    void SetText(const std::wstring& strText);
    // WM_DRAWITEM for this control.
    void Draw(const DRAWITEMSTRUCT& item);

private:
    HWND m_hWnd = nullptr;
    RECT m_rcInPicture{};
    CRQBLBitmap m_background;
    CRQBLFont m_font;
};
