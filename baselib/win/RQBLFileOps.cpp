#include "baselib/RQBLFileOps.h"

#include <windows.h>

#include <memory>

#include "baselib/win/RQBLFileErrorWin.h"

namespace rqbl {

FileError FileErrorFromSystem(DWORD dwError) {
    switch (dwError) {
        case ERROR_SUCCESS:
            return FileError::NONE;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return FileError::NOT_FOUND;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return FileError::IN_USE;
        case ERROR_ACCESS_DENIED:
            return FileError::ACCESS_DENIED;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return FileError::DISK_FULL;
        default:
            return FileError::OTHER;
    }
}

namespace {

bool IsFolder(const std::wstring& strPath) {
    DWORD dwAttributes = GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(DWORD dwAttributes) {
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

HANDLE AsHandle(intptr_t nHandle) {
    return reinterpret_cast<HANDLE>(nHandle);
}

}  // namespace

CRQBLOutFile::~CRQBLOutFile() {
    Close();
}

FileError CRQBLOutFile::Open(const std::wstring& strPath, bool bTruncate, bool bToSeal) {
    Close();
    // A link there is refused before anything is opened; one put there in
    // between is opened itself (FILE_FLAG_OPEN_REPARSE_POINT), never what it
    // points to, and refused by the handle's attributes.
    if (IsLink(GetFileAttributesW(strPath.c_str()))) {
        return FileError::LINK;
    }
    // To be sealed: reading back, and DELETE, the right to rename it through
    // this handle later.
    const DWORD dwAccess = bToSeal ? GENERIC_READ | GENERIC_WRITE | DELETE : GENERIC_WRITE;
    HANDLE h = CreateFileW(strPath.c_str(), dwAccess, FILE_SHARE_READ, nullptr,
                           bTruncate ? CREATE_ALWAYS : OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        return IsFolder(strPath) ? FileError::IS_DIRECTORY : FileErrorFromSystem(dwError);
    }
    m_nHandle = reinterpret_cast<intptr_t>(h);
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(h, &info) && IsLink(info.dwFileAttributes)) {
        Close();
        return FileError::LINK;
    }
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(h, zero, nullptr, FILE_END)) {
        DWORD dwError = GetLastError();
        Close();
        return FileErrorFromSystem(dwError);
    }
    return FileError::NONE;
}

FileError CRQBLOutFile::Write(const void* pData, size_t nBytes) {
    const auto* p = static_cast<const uint8_t*>(pData);
    while (nBytes > 0) {
        DWORD dwChunk = nBytes > 0x40000000u ? 0x40000000u : static_cast<DWORD>(nBytes);
        DWORD dwWritten = 0;
        if (!WriteFile(AsHandle(m_nHandle), p, dwChunk, &dwWritten, nullptr) || dwWritten == 0) {
            DWORD dwError = GetLastError();
            return dwError == ERROR_SUCCESS ? FileError::OTHER : FileErrorFromSystem(dwError);
        }
        p += dwWritten;
        nBytes -= dwWritten;
    }
    return FileError::NONE;
}

FileError CRQBLOutFile::KeepFirst(uint64_t ullBytes,
                                  const std::function<void(const uint8_t*, size_t)>& fnBlock,
                                  const std::atomic<bool>* pStop) {
    constexpr DWORD kBlockBytes = 1024 * 1024;
    HANDLE h = AsHandle(m_nHandle);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) {
        return FileErrorFromSystem(GetLastError());
    }
    if (static_cast<uint64_t>(size.QuadPart) < ullBytes) {
        return FileError::SHORT;
    }
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(ullBytes);
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h) ||
        !SetFilePointerEx(h, zero, nullptr, FILE_BEGIN)) {
        return FileErrorFromSystem(GetLastError());
    }
    auto pBuffer = std::make_unique<uint8_t[]>(kBlockBytes);
    for (uint64_t ullLeft = ullBytes; ullLeft > 0;) {
        if (pStop != nullptr && pStop->load()) {
            return FileError::OTHER;
        }
        const DWORD dwWant = ullLeft < kBlockBytes ? static_cast<DWORD>(ullLeft) : kBlockBytes;
        DWORD dwRead = 0;
        if (!ReadFile(h, pBuffer.get(), dwWant, &dwRead, nullptr)) {
            return FileErrorFromSystem(GetLastError());
        }
        if (dwRead == 0) {
            return FileError::OTHER;
        }
        fnBlock(pBuffer.get(), dwRead);
        ullLeft -= dwRead;
    }
    return FileError::NONE;  // the position is the end: writing goes on there
}

FileError CRQBLOutFile::Close() {
    if (m_nHandle == kNone) {
        return FileError::NONE;
    }
    BOOL bClosed = CloseHandle(AsHandle(m_nHandle));
    m_nHandle = kNone;
    return bClosed ? FileError::NONE : FileErrorFromSystem(GetLastError());
}

FileError ReplaceAtomically(const std::wstring& strFrom, const std::wstring& strTo) {
    constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    // The move first: a download puts thousands of files in place, and asking
    // about the destination beforehand costs a lookup each (a slow one under
    // Wine). Only a move that failed is looked into.
    if (MoveFileExW(strFrom.c_str(), strTo.c_str(), kMoveFlags)) {
        return FileError::NONE;
    }
    DWORD dwError = GetLastError();
    const DWORD dwAttributes = GetFileAttributesW(strTo.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return FileError::IS_DIRECTORY;
    }
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(strTo.c_str(), dwAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
        if (MoveFileExW(strFrom.c_str(), strTo.c_str(), kMoveFlags)) {
            return FileError::NONE;
        }
        dwError = GetLastError();
        SetFileAttributesW(strTo.c_str(), dwAttributes);
    }
    // Replacing a file that another program holds open fails with "access
    // denied" as often as with a sharing violation.
    FileError error = FileErrorFromSystem(dwError);
    return error == FileError::ACCESS_DENIED && dwAttributes != INVALID_FILE_ATTRIBUTES ? FileError::IN_USE
                                                                                        : error;
}

FileError RenameFile(const std::wstring& strFrom, const std::wstring& strTo) {
    return MoveFileExW(strFrom.c_str(), strTo.c_str(), MOVEFILE_WRITE_THROUGH)
               ? FileError::NONE
               : FileErrorFromSystem(GetLastError());
}

FileError RemoveFile(const std::wstring& strPath) {
    if (DeleteFileW(strPath.c_str())) {
        return FileError::NONE;
    }
    DWORD dwError = GetLastError();
    DWORD dwAttributes = GetFileAttributesW(strPath.c_str());
    if (dwError == ERROR_ACCESS_DENIED && dwAttributes != INVALID_FILE_ATTRIBUTES &&
        (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(strPath.c_str(), dwAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
        if (DeleteFileW(strPath.c_str())) {
            return FileError::NONE;
        }
        dwError = GetLastError();
    }
    return FileErrorFromSystem(dwError);
}

FileError CheckNoLinkOnPath(const std::wstring& strPath) {
    for (size_t nEnd = strPath.find_first_of(L"\\/", 1);; nEnd = strPath.find_first_of(L"\\/", nEnd + 1)) {
        const DWORD dwAttributes = GetFileAttributesW(strPath.substr(0, nEnd).c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
            return FileError::NONE;  // not there yet: nor is anything below it
        }
        if (IsLink(dwAttributes)) {
            return FileError::LINK;
        }
        if (nEnd == std::wstring::npos) {
            return FileError::NONE;
        }
    }
}

bool GetRegularFileSize(const std::wstring& strPath, uint64_t& ullSize) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    ullSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool GetFreeDiskBytes(const std::wstring& strPath, uint64_t& ullFree) {
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    if (!GetDiskFreeSpaceExW(strPath.c_str(), &available, &total, &totalFree)) {
        return false;
    }
    ullFree = totalFree.QuadPart;
    return true;
}

std::wstring GetVolumeName(const std::wstring& strPath) {
    wchar_t szVolume[MAX_PATH] = {};
    std::wstring strFull(MAX_PATH, L'\0');
    DWORD n = GetFullPathNameW(strPath.c_str(), static_cast<DWORD>(strFull.size()), strFull.data(), nullptr);
    if (n == 0 || n >= strFull.size() || !GetVolumePathNameW(strFull.c_str(), szVolume, MAX_PATH)) {
        return std::wstring();
    }
    return szVolume;
}

}  // namespace rqbl
