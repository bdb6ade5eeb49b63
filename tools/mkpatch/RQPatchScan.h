// Walking a game build folder for the patch script.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tools/mkpatch/RQPatchScript.h"

struct RQPatchScanResult {
    std::vector<RQPatchFile> vecFiles;          // sorted by relative path
    std::vector<std::wstring> vecRefusedNames;  // names the launcher would refuse
    std::vector<std::wstring> vecUnreadable;    // files whose checksum could not be read
    uint64_t ullTotalBytes = 0;
};

// Called after each file with the count done so far and the bytes read.
using RQPatchProgress = std::function<void(size_t nFiles, uint64_t ullBytes)>;

struct RQPatchScanOptions {
    bool bSha256 = false;
    // Set: every file is also cut into chunks (with their hashes) for a delta
    // release; implies bSha256.
    const RQ_CHUNK_PARAMS* pChunkParams = nullptr;
    // Files read at once (each file is read once, start to end).
    unsigned nThreads = 1;
};

// Lists every regular file under folder (but the script, its signature and
// an install's release record at the top), with CRC-32 and size, and what
// the options ask for besides. False when the folder cannot be walked.
bool RQScanGameFolder(const std::filesystem::path& folder, const RQPatchProgress& progress,
                      RQPatchScanResult& result, std::wstring& strError,
                      const RQPatchScanOptions& options = RQPatchScanOptions());

// A relative path as "/"-separated wide text (UTF-8 decoded on every platform).
std::wstring RQRelativePathText(const std::filesystem::path& relative);
