#include "baselib/RQBLFileFacts.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <vector>

#include "baselib/win/RQBLWinHandle.h"

namespace {

int64_t FromFileTime(const FILETIME& ft) {
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

// Names compare as the file system compares them: without regard to case.
std::wstring Upper(std::wstring strName) {
    if (!strName.empty()) {
        ::CharUpperBuffW(strName.data(), static_cast<DWORD>(strName.size()));
    }
    return strName;
}

RQBL_FILE_FACTS FromListing(const FILE_ID_BOTH_DIR_INFO& info, uint64_t ullVolume) {
    RQBL_FILE_FACTS facts;
    facts.ullSize = static_cast<uint64_t>(info.EndOfFile.QuadPart);
    facts.llWriteTime = info.LastWriteTime.QuadPart;
    facts.llCreateTime = info.CreationTime.QuadPart;
    facts.ullFileIndex = static_cast<uint64_t>(info.FileId.QuadPart);
    // Some file systems (network shares among them) report no index.
    facts.bHasIdentity = facts.ullFileIndex != 0;
    facts.ullVolume = ullVolume;
    return facts;
}

using FolderMap = std::map<std::wstring, RQBL_FILE_FACTS>;

// The regular files of one folder, by upper-cased name. Links are left out:
// the system follows them when the file is opened, the listing does not.
bool ListFolder(const std::wstring& strFolder, uint64_t ullVolume, FolderMap& mapFiles) {
    CRQBLHandle folder(::CreateFileW(strFolder.c_str(), FILE_LIST_DIRECTORY,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) {
        return false;
    }
    std::vector<uint64_t> vecBuffer(64 * 1024 / sizeof(uint64_t));  // 8-byte aligned entries
    const DWORD dwBytes = static_cast<DWORD>(vecBuffer.size() * sizeof(uint64_t));
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(folder.Get(), kind, vecBuffer.data(), dwBytes)) {
        kind = FileIdBothDirectoryInfo;
        const auto* p = reinterpret_cast<const uint8_t*>(vecBuffer.data());
        for (;;) {
            const auto& info = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(p);
            const DWORD dwSkip = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
            if ((info.FileAttributes & dwSkip) == 0) {
                std::wstring strName(info.FileName, info.FileNameLength / sizeof(wchar_t));
                mapFiles[Upper(strName)] = FromListing(info, ullVolume);
            }
            if (info.NextEntryOffset == 0) {
                break;
            }
            p += info.NextEntryOffset;
        }
    }
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

// One file asked for by itself: the slow way, for what a listing did not show.
bool AskFile(const std::wstring& strPath, uint64_t ullVolume, RQBL_FILE_FACTS& facts) {
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
    facts.llCreateTime = FromFileTime(info.ftCreationTime);
    facts.ullFileIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    facts.bHasIdentity = facts.ullFileIndex != 0;
    facts.ullVolume = ullVolume;  // the same value as through a listing
    return true;
}

}  // namespace

struct CRQBLFileFactsReader::CState {
    std::mutex mutex;
    bool bHasVolume = false;
    uint64_t ullVolume = 0;
    // By upper-cased folder; an empty map for a folder that could not be listed.
    std::map<std::wstring, FolderMap> mapFolders;

    // The game folder is one volume: its serial is asked for once.
    uint64_t Volume() {
        if (!bHasVolume) {
            bHasVolume = true;
            CRQBLHandle folder(::CreateFileW(L".", FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            DWORD dwSerial = 0;
            if (folder && ::GetVolumeInformationByHandleW(folder.Get(), nullptr, 0, &dwSerial, nullptr,
                                                          nullptr, nullptr, 0)) {
                ullVolume = dwSerial;
            }
        }
        return ullVolume;
    }
};

CRQBLFileFactsReader::CRQBLFileFactsReader() : m_pState(std::make_unique<CState>()) {}
CRQBLFileFactsReader::~CRQBLFileFactsReader() = default;

void CRQBLFileFactsReader::Forget() {
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    m_pState->mapFolders.clear();
}

bool CRQBLFileFactsReader::Get(const std::wstring& strPath, RQBL_FILE_FACTS& facts) {
    const size_t nSlash = strPath.find_last_of(L"\\/");
    const std::wstring strFolder = nSlash == std::wstring::npos ? L"." : strPath.substr(0, nSlash);
    const std::wstring strName = Upper(nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1));
    uint64_t ullVolume = 0;
    {
        std::lock_guard<std::mutex> lock(m_pState->mutex);
        ullVolume = m_pState->Volume();
        const std::wstring strKey = Upper(strFolder);
        auto it = m_pState->mapFolders.find(strKey);
        if (it == m_pState->mapFolders.end()) {
            FolderMap mapFiles;
            if (!ListFolder(strFolder, ullVolume, mapFiles)) {
                mapFiles.clear();
            }
            it = m_pState->mapFolders.emplace(strKey, std::move(mapFiles)).first;
        }
        auto file = it->second.find(strName);
        if (file != it->second.end()) {
            facts = file->second;
            return true;
        }
    }
    // Not in the listing: missing, most likely, but a name the listing spells
    // otherwise (a short name, another case folding) is still found.
    return AskFile(strPath, ullVolume, facts);
}
