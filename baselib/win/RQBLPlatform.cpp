#include "baselib/RQBLPlatform.h"

// windows.h first: mmsystem.h relies on its types.
#include <windows.h>

#include <mmsystem.h>
#include <share.h>

#include <vector>

namespace rqbl {

namespace {

std::wstring MultiByteToWide(UINT nCodePage, const char* pszText, size_t nLen) {
    if (nLen == 0) {
        return std::wstring();
    }
    int nChars = MultiByteToWideChar(nCodePage, 0, pszText, static_cast<int>(nLen), nullptr, 0);
    if (nChars <= 0) {
        return std::wstring(nLen, L'\uFFFD');
    }
    std::wstring strOut(static_cast<size_t>(nChars), L'\0');
    MultiByteToWideChar(nCodePage, 0, pszText, static_cast<int>(nLen), strOut.data(), nChars);
    return strOut;
}

bool WideToMultiByte(UINT nCodePage, const std::wstring& strText, std::string& strOut) {
    if (strText.empty()) {
        strOut.clear();
        return true;
    }
    int nBytes = WideCharToMultiByte(nCodePage, 0, strText.data(), static_cast<int>(strText.size()), nullptr,
                                     0, nullptr, nullptr);
    if (nBytes <= 0) {
        return false;
    }
    std::string out(static_cast<size_t>(nBytes), '\0');
    if (WideCharToMultiByte(nCodePage, 0, strText.data(), static_cast<int>(strText.size()), out.data(),
                            nBytes, nullptr, nullptr) != nBytes) {
        return false;
    }
    strOut.swap(out);
    return true;
}

}  // namespace

std::wstring AnsiToWide(const char* pszText, size_t nLen) {
    return MultiByteToWide(CP_THREAD_ACP, pszText, nLen);
}

bool WideToAnsi(const std::wstring& strText, std::string& strOut) {
    return WideToMultiByte(CP_THREAD_ACP, strText, strOut);
}

bool WideToFileName(const std::wstring& strPath, std::string& strOut) {
    return WideToMultiByte(CP_ACP, strPath, strOut);
}

std::u16string WideToUtf16(const std::wstring& strText) {
    return std::u16string(strText.begin(), strText.end());
}

std::wstring Utf16ToWide(const std::u16string& strText) {
    return std::wstring(strText.begin(), strText.end());
}

std::wstring GetCurrentDir() {
    DWORD nNeeded = GetCurrentDirectoryW(0, nullptr);
    if (nNeeded == 0) {
        return std::wstring();
    }
    std::wstring strDir(nNeeded, L'\0');
    DWORD nLen = GetCurrentDirectoryW(nNeeded, strDir.data());
    strDir.resize(nLen < nNeeded ? nLen : 0);
    return strDir;
}

bool SetCurrentDir(const std::wstring& strPath) {
    return SetCurrentDirectoryW(strPath.c_str()) != FALSE;
}

bool IsDirectory(const std::wstring& strPath) {
    DWORD dwAttr = GetFileAttributesW(strPath.c_str());
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const std::wstring& strPath) {
    return CreateDirectoryW(strPath.c_str(), nullptr) != FALSE ||
           (GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(strPath));
}

FILE* OpenDenyWrite(const std::wstring& strPath) {
    return _wfsopen(strPath.c_str(), L"wb", _SH_DENYWR);
}

RQBL_DATETIME LocalNow() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    RQBL_DATETIME dt;
    dt.wYear = st.wYear;
    dt.byMonth = static_cast<uint8_t>(st.wMonth);
    dt.byDay = static_cast<uint8_t>(st.wDay);
    dt.byHour = static_cast<uint8_t>(st.wHour);
    dt.byMinute = static_cast<uint8_t>(st.wMinute);
    dt.bySecond = static_cast<uint8_t>(st.wSecond);
    return dt;
}

uint32_t TimeGetTime() {
    return timeGetTime();
}

void SleepMs(uint32_t dwMilliseconds) {
    Sleep(dwMilliseconds);
}

void SetConsoleAttribute(int nAttribute) {
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    if (hOut != nullptr && hOut != INVALID_HANDLE_VALUE) {
        SetConsoleTextAttribute(hOut, static_cast<WORD>(nAttribute));
    }
}

}  // namespace rqbl
