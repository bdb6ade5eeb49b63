// The running program's own path and folder: the one place that asks the
// system for them. Header-only, so that the crash reporter, which is linked
// below the base library, can use it too.
#pragma once

#include <windows.h>

#include <string>

// Empty when the system cannot say.
inline std::wstring RQBLModulePath() {
    // Paths may exceed MAX_PATH; the buffer grows until the whole path fits.
    std::wstring strPath(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, strPath.data(), static_cast<DWORD>(strPath.size()));
        if (n == 0) {
            return std::wstring();
        }
        if (n < strPath.size()) {
            strPath.resize(n);
            return strPath;
        }
        strPath.resize(strPath.size() * 2);
    }
}

// The folder of the program, without a trailing separator except for a drive
// root ("C:\"); empty when the system cannot say.
inline std::wstring RQBLModuleFolder() {
    std::wstring strFolder = RQBLModulePath();
    size_t nSlash = strFolder.find_last_of(L"\\/");
    if (nSlash == std::wstring::npos) {
        return std::wstring();
    }
    strFolder.resize(nSlash == 2 && strFolder[1] == L':' ? 3 : nSlash);
    return strFolder;
}
