#include "baselib/RQBLFileFacts.h"

#include <windows.h>

#include "baselib/win/RQBLWinHandle.h"

namespace {

int64_t FromFileTime(const FILETIME& ft) {
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

}  // namespace

namespace rqbl {

bool GetFileFacts(const std::wstring& strPath, RQBL_FILE_FACTS& facts) {
    // Opened for its attributes only: no sharing conflict with a program that
    // holds the file open, even without read sharing.
    CRQBLHandle file(::CreateFileW(strPath.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    facts = RQBL_FILE_FACTS();
    facts.ullSize = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts.llWriteTime = FromFileTime(info.ftLastWriteTime);
    const uint64_t ullIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    // Some file systems (network shares among them) report no index.
    facts.bHasIdentity = ullIndex != 0;
    facts.ullVolume = info.dwVolumeSerialNumber;
    facts.ullFileIndex = ullIndex;
    facts.llCreateTime = FromFileTime(info.ftCreationTime);
    return true;
}

}  // namespace rqbl
