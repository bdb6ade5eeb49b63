#include "baselib/RQBLDownloadTemp.h"

std::wstring RQBLDownloadTempPath(const std::wstring& strDestPath) {
    return strDestPath + RQBL_DOWNLOAD_TEMP_SUFFIX;
}

namespace {

// Without regard to case, as Windows compares names; the suffixes are ASCII.
bool EndsWithSuffix(const std::wstring& strName, const wchar_t* pszSuffix) {
    const size_t nSuffix = std::char_traits<wchar_t>::length(pszSuffix);
    if (strName.size() < nSuffix) {
        return false;
    }
    const size_t nStart = strName.size() - nSuffix;
    for (size_t i = 0; i < nSuffix; ++i) {
        wchar_t c = strName[nStart + i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (c != pszSuffix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool RQBLIsDownloadTempName(const std::wstring& strName) {
    return EndsWithSuffix(strName, RQBL_DOWNLOAD_TEMP_SUFFIX) ||
           EndsWithSuffix(strName, RQBL_REPLACED_SUFFIX);
}
