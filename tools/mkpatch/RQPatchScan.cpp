#include "tools/mkpatch/RQPatchScan.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "baselib/RQBLFileBlocks.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"
#include "baselib/RQBLUtf8.h"
#include "patch/RQChunker.h"
#include "patch/RQPatchPath.h"
#include "patch/RQReservedNames.h"

namespace fs = std::filesystem;

namespace {

// Large reads: a system call each; the block stays in the cache while every
// sum reads it.
constexpr size_t kReadBlockBytes = 1024 * 1024;

// Names at the top of the folder that are no game files: the script, the
// signed files beside it, and an install's records (a game folder copied from
// an install has them; listed, they would overwrite every player's, and the
// launcher refuses a script that names one).
bool IsOwnFile(const std::wstring& strRelative) {
    return strRelative == RQ_SCRIPT_FILE || RQIsLauncherStateFile(strRelative);
}

// Everything the script and the delta objects need of a file, in one pass
// over it: CRC-32, and as asked SHA-256 and the chunks with their hashes.
bool ReadFileSums(const std::wstring& strPath, const RQPatchScanOptions& options, RQPatchFile& file) {
    CRQBLStreamCrc crc;
    CRQBLSha256 sha;
    CRQBLSha256 chunkSha;
    bool bChunkHashOk = true;
    auto fnChunk = [&](const uint8_t* pData, size_t nBytes) {
        RQ_DELTA_CHUNK chunk;
        chunk.nBytes = static_cast<uint32_t>(nBytes);
        bChunkHashOk = RQChunkHashOf(chunkSha, pData, nBytes, chunk.hash) && bChunkHashOk;
        chunk.dwCrc = CRQBLStreamCrc::Of(pData, nBytes);
        file.vecChunks.push_back(chunk);
    };
    const bool bChunks = options.pChunkParams != nullptr;
    const bool bSha256 = options.bSha256 || bChunks;
    if (bChunks) {
        file.chunkParams = RQChunkParamsForFile(file.ullFileSize, *options.pChunkParams);
    }
    CRQChunkStream<decltype(fnChunk)> chunks(file.chunkParams, fnChunk);
    auto fnBlock = [&](const uint8_t* pData, size_t nBytes) {
        crc.Update(pData, nBytes);
        if (bSha256) {
            sha.Update(pData, nBytes);
        }
        if (bChunks) {
            chunks.Feed(pData, nBytes);
        }
    };
    std::vector<uint8_t> buffer(kReadBlockBytes);
    if (rqbl::ReadFileBlocks(strPath, buffer.data(), buffer.size(), nullptr, fnBlock) !=
        rqbl::BlockRead::COMPLETE) {
        return false;
    }
    chunks.Finish();
    file.dwCRC = crc.Value();
    RQ_SHA256 digest{};
    if (bSha256) {
        if (!sha.Final(digest) || !bChunkHashOk) {
            return false;
        }
        file.strSha256 = RQBLSha256Hex(digest);
    }
    return true;
}

}  // namespace

std::wstring RQRelativePathText(const fs::path& relative) {
    std::string strUtf8 = relative.generic_u8string();
    return RQBLUtf8ToWide(strUtf8);
}

bool RQScanGameFolder(const fs::path& folder, const RQPatchProgress& progress, RQPatchScanResult& result,
                      std::wstring& strError, const RQPatchScanOptions& options) {
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

    std::vector<RQPatchFile> vecFiles;
    std::vector<fs::path> vecPaths;
    for (const auto& [strRelative, path] : vecFound) {
        RQ_PATCH_PATH checked;
        if (RQMakePatchPath(strRelative, checked) != RQPatchPathError::NONE) {
            result.vecRefusedNames.push_back(strRelative);
            continue;
        }
        vecFiles.push_back(RQSplitRelativePath(strRelative));
        vecPaths.push_back(path);
    }
    // Several files at once: each is read once, and reading, hashing and
    // cutting one file keeps a core busy.
    std::vector<char> vecRead(vecFiles.size(), 0);
    std::mutex mutex;
    size_t nNext = 0;
    size_t nDone = 0;
    uint64_t ullDoneBytes = 0;
    auto fnWorker = [&] {
        for (;;) {
            size_t i = 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (nNext == vecFiles.size()) {
                    return;
                }
                i = nNext++;
            }
            std::error_code ecSize;
            vecFiles[i].ullFileSize = fs::file_size(vecPaths[i], ecSize);
            vecRead[i] = !ecSize && ReadFileSums(RQRelativePathText(vecPaths[i]), options, vecFiles[i]);
            std::lock_guard<std::mutex> lock(mutex);
            ++nDone;
            ullDoneBytes += vecFiles[i].ullFileSize;
            if (progress) {
                progress(nDone, ullDoneBytes);
            }
        }
    };
    std::vector<std::thread> vecThreads;
    for (unsigned n = 1; n < std::max(1u, options.nThreads); ++n) {
        vecThreads.emplace_back(fnWorker);
    }
    fnWorker();
    for (std::thread& thread : vecThreads) {
        thread.join();
    }
    for (size_t i = 0; i < vecFiles.size(); ++i) {
        if (!vecRead[i]) {
            result.vecUnreadable.push_back(vecFiles[i].strPath + vecFiles[i].strFileName);
            continue;
        }
        result.ullTotalBytes += vecFiles[i].ullFileSize;
        result.vecFiles.push_back(std::move(vecFiles[i]));
    }
    return true;
}
