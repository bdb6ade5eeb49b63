#include "baselib/RQBLSealedFile.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "baselib/win/RQBLFileErrorWin.h"

namespace rqbl {

namespace {

constexpr DWORD kBlockBytes = 1024 * 1024;

HANDLE AsHandle(intptr_t nHandle) {
    return reinterpret_cast<HANDLE>(nHandle);
}

bool IsLink(DWORD dwAttributes) {
    return (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::wstring FullPath(const std::wstring& strPath) {
    DWORD n = GetFullPathNameW(strPath.c_str(), 0, nullptr, nullptr);
    if (n == 0) {
        return std::wstring();
    }
    std::wstring strFull(n, L'\0');
    n = GetFullPathNameW(strPath.c_str(), n, strFull.data(), nullptr);
    strFull.resize(n);
    return strFull;
}

}  // namespace

CRQBLSealedFile::~CRQBLSealedFile() {
    Close();
}

FileError CRQBLSealedFile::Open(const std::wstring& strPath) {
    Close();
    const DWORD dwAttributes = GetFileAttributesW(strPath.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && IsLink(dwAttributes)) {
        return FileError::LINK;
    }
    // Readers may share it; writers and deleters may not, for as long as it
    // is held. DELETE is the right to rename it through this handle.
    HANDLE h = CreateFileW(strPath.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return FileErrorFromSystem(GetLastError());
    }
    m_nHandle = reinterpret_cast<intptr_t>(h);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) || IsLink(info.dwFileAttributes) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        const bool bLink = IsLink(info.dwFileAttributes);
        const bool bFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        Close();
        return bLink ? FileError::LINK : (bFolder ? FileError::IS_DIRECTORY : FileError::OTHER);
    }
    m_strPath = strPath;
    return FileError::NONE;
}

FileError CRQBLSealedFile::TakeOver(CRQBLOutFile& file, const std::wstring& strPath) {
    Close();
    // Opened without write or delete sharing, with DELETE: from here on it is
    // held exactly as Open holds a file.
    m_nHandle = file.m_nHandle;
    file.m_nHandle = CRQBLOutFile::kNone;
    m_strPath = strPath;
    return m_nHandle != kNone ? FileError::NONE : FileError::OTHER;
}

bool CRQBLSealedFile::ReadAll(const std::function<void(const uint8_t*, size_t)>& fnBlock,
                              const std::atomic<bool>* pStop) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(AsHandle(m_nHandle), zero, nullptr, FILE_BEGIN)) {
        return false;
    }
    auto pBuffer = std::make_unique<uint8_t[]>(kBlockBytes);
    for (;;) {
        if (pStop != nullptr && pStop->load()) {
            return false;
        }
        DWORD dwRead = 0;
        if (!ReadFile(AsHandle(m_nHandle), pBuffer.get(), kBlockBytes, &dwRead, nullptr)) {
            return false;
        }
        if (dwRead == 0) {
            return true;
        }
        fnBlock(pBuffer.get(), dwRead);
    }
}

FileError CRQBLSealedFile::RenameOver(const std::wstring& strTo) {
    const DWORD dwAttributes = GetFileAttributesW(strTo.c_str());
    const bool bExists = dwAttributes != INVALID_FILE_ATTRIBUTES;
    if (bExists && IsLink(dwAttributes)) {
        return FileError::LINK;
    }
    if (bExists && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return FileError::IS_DIRECTORY;
    }
    const std::wstring strFull = FullPath(strTo);
    if (strFull.empty()) {
        return FileError::OTHER;
    }
    const bool bReadOnly = bExists && (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (bReadOnly) {
        SetFileAttributesW(strTo.c_str(), dwAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    // The name goes after the structure's fixed part, with its terminating zero.
    const size_t nNameBytes = strFull.size() * sizeof(wchar_t);
    std::vector<uint8_t> vecInfo(sizeof(FILE_RENAME_INFO) + nNameBytes);
    auto* pInfo = reinterpret_cast<FILE_RENAME_INFO*>(vecInfo.data());
    pInfo->ReplaceIfExists = TRUE;
    pInfo->RootDirectory = nullptr;
    pInfo->FileNameLength = static_cast<DWORD>(nNameBytes);
    std::copy(strFull.begin(), strFull.end(), pInfo->FileName);
    pInfo->FileName[strFull.size()] = L'\0';
    if (SetFileInformationByHandle(AsHandle(m_nHandle), FileRenameInfo, pInfo,
                                   static_cast<DWORD>(vecInfo.size()))) {
        m_strPath = strTo;
        return FileError::NONE;
    }
    const DWORD dwError = GetLastError();
    if (bReadOnly) {
        SetFileAttributesW(strTo.c_str(), dwAttributes);
    }
    // Replacing a file that another program holds open fails with "access
    // denied" as often as with a sharing violation.
    FileError error = FileErrorFromSystem(dwError);
    return error == FileError::ACCESS_DENIED && bExists ? FileError::IN_USE : error;
}

void CRQBLSealedFile::Close() {
    if (m_nHandle != kNone) {
        CloseHandle(AsHandle(m_nHandle));
        m_nHandle = kNone;
    }
}

}  // namespace rqbl
