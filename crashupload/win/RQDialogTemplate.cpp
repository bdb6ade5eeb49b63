#include "crashupload/win/RQDialogTemplate.h"

namespace {

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
// The item count's place in DLGTEMPLATE: after the style and extended style.
constexpr size_t kItemCountWord = 4;

}  // namespace

CRQDialogTemplate::CRQDialogTemplate(const std::wstring& strCaption, short nWidth, short nHeight) {
    AddDword(DS_MODALFRAME | DS_SHELLFONT | DS_CENTER | DS_SETFOREGROUND | WS_POPUP | WS_CAPTION |
             WS_SYSMENU);
    AddDword(WS_EX_TOPMOST);
    m_vecWords.push_back(0);  // items, counted as they are added
    for (short n : {short{0}, short{0}, nWidth, nHeight}) {
        m_vecWords.push_back(static_cast<WORD>(n));
    }
    m_vecWords.push_back(0);  // no menu
    m_vecWords.push_back(0);  // the standard dialog class
    AddText(strCaption);
    m_vecWords.push_back(9);  // point size, then the face that means the system's dialog font
    AddText(L"MS Shell Dlg");
}

void CRQDialogTemplate::AddStatic(WORD wId, const std::wstring& strText, short x, short y, short cx,
                                  short cy) {
    AddItem(WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kStaticAtom, wId, strText, x, y, cx, cy);
}

void CRQDialogTemplate::AddButton(WORD wId, const std::wstring& strText, short x, short y, short cx, short cy,
                                  bool bDefault) {
    AddItem(WS_CHILD | WS_VISIBLE | WS_TABSTOP | (bDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), kButtonAtom,
            wId, strText, x, y, cx, cy);
}

void CRQDialogTemplate::AddItem(DWORD dwStyle, WORD wClassAtom, WORD wId, const std::wstring& strText,
                                short x, short y, short cx, short cy) {
    AlignToDword();
    AddDword(dwStyle);
    AddDword(0);  // extended style
    for (short n : {x, y, cx, cy}) {
        m_vecWords.push_back(static_cast<WORD>(n));
    }
    m_vecWords.push_back(wId);
    m_vecWords.push_back(0xFFFF);  // a predefined class, by its atom
    m_vecWords.push_back(wClassAtom);
    AddText(strText);
    m_vecWords.push_back(0);  // no creation data
    ++m_vecWords[kItemCountWord];
}

void CRQDialogTemplate::AddDword(DWORD dw) {
    m_vecWords.push_back(LOWORD(dw));
    m_vecWords.push_back(HIWORD(dw));
}

void CRQDialogTemplate::AddText(const std::wstring& strText) {
    for (wchar_t ch : strText) {
        m_vecWords.push_back(static_cast<WORD>(ch));
    }
    m_vecWords.push_back(0);
}

void CRQDialogTemplate::AlignToDword() {
    if (m_vecWords.size() % 2 != 0) {
        m_vecWords.push_back(0);
    }
}
