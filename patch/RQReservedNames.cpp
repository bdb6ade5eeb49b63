#include "patch/RQReservedNames.h"

#include <algorithm>
#include <cwctype>

namespace {

// Without regard to case, as Windows compares names.
bool SameName(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towupper(x) == std::towupper(y);
           });
}

bool EndsWithSuffix(const std::wstring& strName, const wchar_t* pszSuffix) {
    const std::wstring strSuffix = pszSuffix;
    return strName.size() >= strSuffix.size() &&
           SameName(strName.substr(strName.size() - strSuffix.size()), strSuffix);
}

}  // namespace

std::wstring RQDownloadTempPath(const std::wstring& strDestPath) {
    return strDestPath + RQ_DOWNLOAD_TEMP_SUFFIX;
}

std::wstring RQReplacedPath(const std::wstring& strDestPath) {
    return strDestPath + RQ_REPLACED_SUFFIX;
}

bool RQIsDownloadTempName(const std::wstring& strName) {
    return EndsWithSuffix(strName, RQ_DOWNLOAD_TEMP_SUFFIX) || EndsWithSuffix(strName, RQ_REPLACED_SUFFIX);
}

bool RQIsLauncherStateFile(const std::wstring& strLocal) {
    for (const wchar_t* pszName :
         {RQ_RELEASE_STATE_FILE, RQ_KEY_LIST_STATE_FILE, RQ_RESUME_RECORD_FILE, RQ_VERIFY_RECORD_FILE,
          RQ_SCRIPT_SIGNATURE_FILE, RQ_KEY_LIST_FILE, RQ_TIMESTAMP_FILE, RQ_UNVERIFIED_SCRIPT_FILE,
          RQ_UNVERIFIED_SIGNATURE_FILE, RQ_UNVERIFIED_KEY_LIST_FILE, RQ_UNVERIFIED_TIMESTAMP_FILE,
          RQ_COMPRESSED_SCRIPT_FILE, RQ_UNVERIFIED_COMPRESSED_SCRIPT_FILE}) {
        if (SameName(strLocal, pszName)) {
            return true;
        }
    }
    return false;
}

bool RQIsGameFile(const std::wstring& strLocal) {
    return SameName(strLocal, RQ_GAME_FILE);
}

bool RQIsExecutableName(const std::wstring& strName) {
    return EndsWithSuffix(strName, L".exe") || EndsWithSuffix(strName, L".dll");
}
