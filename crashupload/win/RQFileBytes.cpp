#include "crashupload/win/RQFileBytes.h"

#include <windows.h>

#include "baselib/win/RQBLWinHandle.h"

namespace rqcrash {

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

}  // namespace rqcrash
