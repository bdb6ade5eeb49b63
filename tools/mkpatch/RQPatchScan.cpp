#include "tools/mkpatch/RQPatchScan.h"

#include <algorithm>
#include <system_error>

#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLUtf8.h"
#include "launcher/RQPatchPath.h"

namespace fs = std::filesystem;

std::wstring RQRelativePathText(const fs::path& relative) {
    std::string strUtf8 = relative.generic_u8string();
    return RQBLUtf8ToWide(strUtf8);
}

bool RQScanGameFolder(const fs::path& folder, const RQPatchProgress& progress, RQPatchScanResult& result,
                      std::wstring& strError) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        strError = L"not a folder: " + RQRelativePathText(folder);
        return false;
    }
    std::vector<std::pair<std::wstring, fs::path>> vecFound;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) {
            continue;
        }
        std::wstring strRelative = RQRelativePathText(fs::relative(it->path(), folder, ec));
        if (strRelative == L"PATCHER_CODE.LUA") {
            continue;  // the script does not list itself
        }
        vecFound.emplace_back(strRelative, it->path());
    }
    if (ec) {
        strError = L"cannot walk the folder: " + RQRelativePathText(folder);
        return false;
    }
    std::sort(vecFound.begin(), vecFound.end());

    CRQBLCrc32* pCrc = CRQBLCrc32::CreateInstance(false);
    for (const auto& [strRelative, path] : vecFound) {
        RQ_PATCH_PATH checked;
        if (RQMakePatchPath(strRelative, checked) != RQPatchPathError::NONE) {
            result.vecRefusedNames.push_back(strRelative);
            continue;
        }
        RQPatchFile file = RQSplitRelativePath(strRelative);
        file.ullFileSize = fs::file_size(path, ec);
        std::wstring strFull = RQRelativePathText(path);
        if (ec || !pCrc->GetFileCrc(strFull.c_str(), file.dwCRC)) {
            result.vecUnreadable.push_back(strRelative);
            continue;
        }
        result.ullTotalBytes += file.ullFileSize;
        result.vecFiles.push_back(file);
        if (progress) {
            progress(result.vecFiles.size(), result.ullTotalBytes);
        }
    }
    return true;
}
