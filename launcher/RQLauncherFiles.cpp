#include "launcher/RQLauncherFiles.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>

bool RQIsLauncherStateFile(const std::wstring& strLocal) {
    for (const wchar_t* pszName :
         {RQ_RELEASE_STATE_FILE, RQ_RESUME_RECORD_FILE, RQ_VERIFY_RECORD_FILE, RQ_SCRIPT_SIGNATURE_FILE,
          RQ_UNVERIFIED_SCRIPT_FILE, RQ_UNVERIFIED_SIGNATURE_FILE}) {
        const std::wstring strName = pszName;
        if (strLocal.size() == strName.size() &&
            std::equal(strLocal.begin(), strLocal.end(), strName.begin(),
                       [](wchar_t a, wchar_t b) { return std::towupper(a) == std::towupper(b); })) {
            return true;
        }
    }
    return false;
}

bool RQReadFileBytes(const std::wstring& strPath, std::string& strBytes) {
    std::ifstream in(std::filesystem::path(strPath), std::ios::binary);
    if (!in) {
        return false;
    }
    strBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}
