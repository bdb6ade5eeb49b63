#include "crashupload/win/RQCrashReportFolder.h"

#include <windows.h>

#include "baselib/RQBLCrashReportNames.h"
#include "baselib/RQBLUtf8.h"
#include "baselib/win/RQBLWinHandle.h"
#include "crashupload/win/RQFileBytes.h"

namespace rqcrash {

namespace {

std::wstring Child(const std::wstring& strFolder, const char* pszName) {
    return strFolder + L"\\" + RQBLUtf8ToWide(pszName);
}

// Entries of the folder that match the pattern, with their attributes.
std::vector<WIN32_FIND_DATAW> Find(const std::wstring& strPattern) {
    std::vector<WIN32_FIND_DATAW> vecFound;
    WIN32_FIND_DATAW fd{};
    CRQBLFindHandle hFind(FindFirstFileW(strPattern.c_str(), &fd));
    if (!hFind) {
        return vecFound;
    }
    do {
        if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0) {
            vecFound.push_back(fd);
        }
    } while (FindNextFileW(hFind.Get(), &fd));
    return vecFound;
}

}  // namespace

std::vector<std::wstring> ListFileNames(const std::wstring& strFolder) {
    std::vector<std::wstring> vecNames;
    for (const WIN32_FIND_DATAW& fd : Find(strFolder + L"\\*")) {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            vecNames.emplace_back(fd.cFileName);
        }
    }
    return vecNames;
}

bool IsReportFolder(const std::wstring& strFolder) {
    size_t nSlash = strFolder.find_last_of(L"\\/");
    std::wstring strName = nSlash == std::wstring::npos ? strFolder : strFolder.substr(nSlash + 1);
    std::wstring strPrefix = RQBLUtf8ToWide(kReportFolderPrefix);
    DWORD dwAttributes = GetFileAttributesW(Child(strFolder, kReportInfoFile).c_str());
    return strName.compare(0, strPrefix.size(), strPrefix) == 0 && dwAttributes != INVALID_FILE_ATTRIBUTES &&
           (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ReadReportInfo(const std::wstring& strFolder, CRQCrashReportInfo& info) {
    std::string strText;
    return ReadFileBytes(Child(strFolder, kReportInfoFile), strText) && ParseCrashReportInfo(strText, info);
}

bool HasConsent(const std::wstring& strFolder) {
    return GetFileAttributesW(Child(strFolder, kConsentFile).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RecordConsent(const std::wstring& strFolder) {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    wchar_t szTime[64];
    swprintf(szTime, 64, L"%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
             st.wSecond);
    return WriteFileBytes(Child(strFolder, kConsentFile), "The player agreed to send this report at " +
                                                              RQBLWideToUtf8(szTime) + " (local time).\r\n");
}

void WithdrawConsent(const std::wstring& strFolder) {
    DeleteFileW(Child(strFolder, kConsentFile).c_str());
}

std::vector<CRQWaitingReport> ListReports(const std::wstring& strReportsFolder) {
    std::vector<CRQWaitingReport> vecReports;
    for (const WIN32_FIND_DATAW& fd :
         Find(strReportsFolder + L"\\" + RQBLUtf8ToWide(kReportFolderPrefix) + L"*")) {
        std::wstring strFolder = strReportsFolder + L"\\" + fd.cFileName;
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && IsReportFolder(strFolder)) {
            vecReports.push_back({RQBLWideToUtf8(fd.cFileName), HasConsent(strFolder)});
        }
    }
    return vecReports;
}

bool RemoveReportFolder(const std::wstring& strFolder) {
    // The consent goes first: should anything stay behind, it is not sent again.
    WithdrawConsent(strFolder);
    for (const std::wstring& strName : ListFileNames(strFolder)) {
        DeleteFileW((strFolder + L"\\" + strName).c_str());
    }
    return RemoveDirectoryW(strFolder.c_str()) != FALSE;
}

bool CRQSendLock::Take(const std::wstring& strFolder) {
    m_hFile.Reset(CreateFileW(Child(strFolder, kSendLockFile).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return static_cast<bool>(m_hFile);
}

}  // namespace rqcrash
