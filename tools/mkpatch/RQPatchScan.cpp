#include "tools/mkpatch/RQPatchScan.h"

#include <algorithm>
#include <system_error>

#include "baselib/RQBLCrc32.h"
#include "launcher/RQPatchPath.h"

namespace fs = std::filesystem;

namespace {

// Decodes UTF-8 into wide text; invalid bytes become U+FFFD.
std::wstring DecodeUtf8(const std::string& strText) {
    std::wstring strOut;
    for (size_t i = 0; i < strText.size();) {
        auto c = static_cast<unsigned char>(strText[i]);
        int nMore = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (nMore < 0 || i + static_cast<size_t>(nMore) >= strText.size()) {
            strOut.push_back(L'\uFFFD');
            ++i;
            continue;
        }
        uint32_t cp = nMore == 0 ? c : (c & (0x3F >> nMore));
        bool bValid = true;
        for (int k = 1; k <= nMore; ++k) {
            auto cc = static_cast<unsigned char>(strText[i + k]);
            bValid = bValid && (cc & 0xC0) == 0x80;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!bValid) {
            strOut.push_back(L'\uFFFD');
            ++i;
            continue;
        }
        if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
            cp -= 0x10000;
            strOut.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            strOut.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            strOut.push_back(static_cast<wchar_t>(cp));
        }
        i += static_cast<size_t>(nMore) + 1;
    }
    return strOut;
}

}  // namespace

std::wstring RQRelativePathText(const fs::path& relative) {
    return DecodeUtf8(relative.generic_u8string());
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
