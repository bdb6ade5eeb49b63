#include "baselib/RQBLDownloadTemp.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

std::wstring RQBLDownloadTempPath(const std::wstring& strDestPath) {
    return strDestPath + RQBL_DOWNLOAD_TEMP_SUFFIX;
}

namespace {

// The suffix is ASCII, so names are compared in whatever character type the
// platform's paths use: a POSIX name that is not valid UTF-8 cannot be turned
// into a wide string, but can still be compared byte by byte.
template <typename CharT>
bool EndsWithTempSuffix(const std::basic_string<CharT>& strName) {
    const wchar_t* pszSuffix = RQBL_DOWNLOAD_TEMP_SUFFIX;
    const size_t nSuffix = std::char_traits<wchar_t>::length(pszSuffix);
    if (strName.size() < nSuffix) {
        return false;
    }
    const size_t nStart = strName.size() - nSuffix;
    for (size_t i = 0; i < nSuffix; ++i) {
        auto c = static_cast<wchar_t>(strName[nStart + i]);
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
    return EndsWithTempSuffix(strName);
}

size_t RQBLSweepDownloadTemps(const std::wstring& strRoot) {
    std::error_code ec;
    fs::recursive_directory_iterator it(fs::path(strRoot), fs::directory_options::skip_permission_denied, ec);
    std::vector<fs::path> vecFound;
    // Collected first: removing entries while iterating a folder is unspecified.
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        std::error_code ecType;
        if (entry.is_regular_file(ecType) && EndsWithTempSuffix(entry.path().filename().native())) {
            vecFound.push_back(entry.path());
        }
    }
    size_t nRemoved = 0;
    for (const fs::path& p : vecFound) {
        std::error_code ecRemove;
        if (fs::remove(p, ecRemove)) {
            ++nRemoved;
        }
    }
    return nRemoved;
}
