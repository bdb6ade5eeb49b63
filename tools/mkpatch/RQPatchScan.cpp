#include "tools/mkpatch/RQPatchScan.h"

#include <algorithm>
#include <system_error>

#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLMappedFile.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"
#include "baselib/RQBLUtf8.h"
#include "patch/RQPatchPath.h"
#include "patch/RQReservedNames.h"

namespace fs = std::filesystem;

namespace {

// Names at the top of the folder that are no game files: the script, the
// signed files beside it, and an install's records (a game folder copied from
// an install has them; listed, they would overwrite every player's, and the
// launcher refuses a script that names one).
bool IsOwnFile(const std::wstring& strRelative) {
    return strRelative == RQ_SCRIPT_FILE || RQIsLauncherStateFile(strRelative);
}

// CRC-32 and SHA-256 in one pass over the file.
bool HashFile(const std::wstring& strPath, uint64_t ullSize, RQPatchFile& file) {
    CRQBLStreamCrc crc;
    CRQBLSha256 sha;
    auto both = [&](const uint8_t* pData, size_t nBytes) {
        crc.Update(pData, nBytes);
        sha.Update(pData, nBytes);
    };
    rqbl::MappedWalk walk = rqbl::WalkMappedFile(strPath.c_str(), 10 << 20, both);
    RQ_SHA256 digest{};
    if (!(walk == rqbl::MappedWalk::COMPLETE || (walk == rqbl::MappedWalk::NO_CONTENT && ullSize == 0)) ||
        !sha.Final(digest)) {
        return false;
    }
    file.dwCRC = crc.Value();
    file.strSha256 = RQBLSha256Hex(digest);
    return true;
}

}  // namespace

std::wstring RQRelativePathText(const fs::path& relative) {
    std::string strUtf8 = relative.generic_u8string();
    return RQBLUtf8ToWide(strUtf8);
}

bool RQScanGameFolder(const fs::path& folder, const RQPatchProgress& progress, RQPatchScanResult& result,
                      std::wstring& strError, bool bWithSha256) {
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
        if (IsOwnFile(strRelative)) {
            continue;
        }
        vecFound.emplace_back(strRelative, it->path());
    }
    if (ec) {
        strError = L"cannot walk the folder: " + RQRelativePathText(folder);
        return false;
    }
    std::sort(vecFound.begin(), vecFound.end());

    CRQBLCrc32 crc;
    for (const auto& [strRelative, path] : vecFound) {
        RQ_PATCH_PATH checked;
        if (RQMakePatchPath(strRelative, checked) != RQPatchPathError::NONE) {
            result.vecRefusedNames.push_back(strRelative);
            continue;
        }
        RQPatchFile file = RQSplitRelativePath(strRelative);
        file.ullFileSize = fs::file_size(path, ec);
        std::wstring strFull = RQRelativePathText(path);
        const bool bRead = bWithSha256 ? HashFile(strFull, file.ullFileSize, file)
                                       : crc.GetFileCrc(strFull.c_str(), file.dwCRC);
        if (ec || !bRead) {
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
