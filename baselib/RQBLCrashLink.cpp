#include "baselib/RQBLCrashLink.h"

#include <mutex>

#include "baselib/RQBLCrashReport.h"

namespace {
std::mutex g_csCrashFiles;
std::vector<std::wstring>& CrashFiles() {
    static std::vector<std::wstring> s_files;
    return s_files;
}
}  // namespace

void RQBLAddCrashLogFile(const wchar_t* pszPath) {
    if (pszPath == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(g_csCrashFiles);
        CrashFiles().emplace_back(pszPath);
    }
    AddCrashReportFile(pszPath);
}

std::vector<std::wstring> RQBLCrashLogFiles() {
    std::lock_guard<std::mutex> lock(g_csCrashFiles);
    return CrashFiles();
}
