#include "launcher/win/RQStatusLine.h"

#include "res/resource.h"

bool CRQStatusLine::Create(HWND hParent, int nControlId, int nWidth, int nPictureBottom) {
    m_rcInPicture = RECT{0, nPictureBottom - HEIGHT, nWidth, nPictureBottom};
    m_background.Reset(LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BACKGROUND)));
    // A face every Japanese Windows has; others fall back to one with the
    // same characters.
    m_font.Reset(CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, L"Meiryo UI"));
    m_hWnd = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, m_rcInPicture.left,
                             m_rcInPicture.top, nWidth, HEIGHT, hParent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(nControlId)),
                             GetModuleHandleW(nullptr), nullptr);
    if (m_hWnd == nullptr) {
        return false;
    }
    // Above the picture, which must not paint over it.
    SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    HWND hPicture = GetDlgItem(hParent, IDC_BACKGROUND);
    if (hPicture != nullptr) {
        SetWindowLongPtrW(hPicture, GWL_STYLE, GetWindowLongPtrW(hPicture, GWL_STYLE) | WS_CLIPSIBLINGS);
    }
    return true;
}

void CRQStatusLine::SetText(const std::wstring& strText) {
    if (m_hWnd == nullptr) {
        return;
    }
    SetWindowTextW(m_hWnd, strText.c_str());
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CRQStatusLine::Draw(const DRAWITEMSTRUCT& item) {
    const int nWidth = item.rcItem.right - item.rcItem.left;
    const int nHeight = item.rcItem.bottom - item.rcItem.top;
    // Drawn off screen and copied in one go: no flicker however often it changes.
    CRQBLMemoryDc canvas(CreateCompatibleDC(item.hDC));
    CRQBLBitmap canvasBitmap(CreateCompatibleBitmap(item.hDC, nWidth, nHeight));
    if (!canvas || !canvasBitmap) {
        return;
    }
    HGDIOBJ hOldCanvas = SelectObject(canvas.Get(), canvasBitmap.Get());
    CRQBLMemoryDc picture(CreateCompatibleDC(item.hDC));
    if (picture && m_background) {
        HGDIOBJ hOldPicture = SelectObject(picture.Get(), m_background.Get());
        BitBlt(canvas.Get(), 0, 0, nWidth, nHeight, picture.Get(), m_rcInPicture.left, m_rcInPicture.top,
               SRCCOPY);
        SelectObject(picture.Get(), hOldPicture);
    } else {
        FillRect(canvas.Get(), &item.rcItem, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
    int nLength = GetWindowTextLengthW(item.hwndItem);
    std::wstring strText(static_cast<size_t>(nLength) + 1, L'\0');
    GetWindowTextW(item.hwndItem, strText.data(), nLength + 1);
    strText.resize(static_cast<size_t>(nLength));

    HGDIOBJ hOldFont = m_font ? SelectObject(canvas.Get(), m_font.Get()) : nullptr;
    SetBkMode(canvas.Get(), TRANSPARENT);
    RECT rcText{MARGIN, 0, nWidth - MARGIN, nHeight};
    const UINT uFormat = DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;
    RECT rcShadow = rcText;
    OffsetRect(&rcShadow, 1, 1);
    SetTextColor(canvas.Get(), RGB(0, 0, 0));
    DrawTextW(canvas.Get(), strText.c_str(), nLength, &rcShadow, uFormat);
    SetTextColor(canvas.Get(), RGB(250, 246, 230));
    DrawTextW(canvas.Get(), strText.c_str(), nLength, &rcText, uFormat);
    if (hOldFont != nullptr) {
        SelectObject(canvas.Get(), hOldFont);
    }
    BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, nWidth, nHeight, canvas.Get(), 0, 0, SRCCOPY);
    SelectObject(canvas.Get(), hOldCanvas);
}
