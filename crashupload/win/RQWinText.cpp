#include "crashupload/win/RQWinText.h"

#include <windows.h>

#include "baselib/win/RQBLWinHandle.h"

namespace rqcrash {

std::string ToUtf8(const std::wstring& strText) {
    if (strText.empty()) {
        return std::string();
    }
    int nBytes = WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string strOut(static_cast<size_t>(nBytes > 0 ? nBytes : 0), '\0');
    if (nBytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), strOut.data(),
                            nBytes, nullptr, nullptr);
    }
    return strOut;
}

std::wstring FromUtf8(const std::string& strText) {
    if (strText.empty()) {
        return std::wstring();
    }
    int nChars =
        MultiByteToWideChar(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0);
    std::wstring strOut(static_cast<size_t>(nChars > 0 ? nChars : 0), L'\0');
    if (nChars > 0) {
        MultiByteToWideChar(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), strOut.data(),
                            nChars);
    }
    return strOut;
}

bool ReadFileBytes(const std::wstring& strPath, std::string& strBytes) {
    CRQBLHandle hFile(CreateFileW(strPath.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!hFile || !GetFileSizeEx(hFile.Get(), &size) || size.QuadPart > 0x7FFFFFFF) {
        return false;
    }
    strBytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    size_t nDone = 0;
    while (nDone < strBytes.size()) {
        DWORD dwRead = 0;
        if (!ReadFile(hFile.Get(), strBytes.data() + nDone, static_cast<DWORD>(strBytes.size() - nDone),
                      &dwRead, nullptr) ||
            dwRead == 0) {
            strBytes.resize(nDone);  // shorter than it was: what is there
            return true;
        }
        nDone += dwRead;
    }
    return true;
}

bool WriteFileBytes(const std::wstring& strPath, const std::string& strBytes) {
    CRQBLHandle hFile(CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD dwWritten = 0;
    return hFile &&
           (strBytes.empty() || (WriteFile(hFile.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()),
                                           &dwWritten, nullptr) &&
                                 dwWritten == strBytes.size()));
}

std::wstring ModulePath() {
    std::wstring strPath(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, strPath.data(), static_cast<DWORD>(strPath.size()));
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

std::wstring ProgramFolder() {
    std::wstring strPath = ModulePath();
    size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? L"." : strPath.substr(0, nSlash);
}

}  // namespace rqcrash
