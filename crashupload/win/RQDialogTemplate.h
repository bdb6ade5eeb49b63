// A dialog template built in memory, for a dialog that must show without any
// resource of the program that hosts it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CRQDialogTemplate {
public:
    // Sizes in dialog units; the dialog uses the system's dialog font.
    CRQDialogTemplate(const std::wstring& strCaption, short nWidth, short nHeight);

    void AddStatic(WORD wId, const std::wstring& strText, short x, short y, short cx, short cy);
    void AddButton(WORD wId, const std::wstring& strText, short x, short y, short cx, short cy,
                   bool bDefault);

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_vecWords.data()); }

private:
    void AddItem(DWORD dwStyle, WORD wClassAtom, WORD wId, const std::wstring& strText, short x, short y,
                 short cx, short cy);
    void AddDword(DWORD dw);
    void AddText(const std::wstring& strText);
    void AlignToDword();

    std::vector<WORD> m_vecWords;  // WORD-aligned, as templates must be
};
