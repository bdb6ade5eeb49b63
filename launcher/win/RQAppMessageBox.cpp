#include "launcher/win/RQAppMessageBox.h"

#include "baselib/win/RQBLModulePath.h"

std::wstring RQAppTitle() {
    std::wstring strPath = RQBLModulePath();
    if (strPath.empty()) {
        return L"Launcher";
    }
    size_t nSlash = strPath.find_last_of(L"\\/");
    std::wstring strName = nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1);
    size_t nDot = strName.find_last_of(L'.');
    return nDot == std::wstring::npos ? strName : strName.substr(0, nDot);
}

int RQAppMessageBox(HWND hOwner, const std::wstring& strText) {
    return MessageBoxW(hOwner, strText.c_str(), RQAppTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}
