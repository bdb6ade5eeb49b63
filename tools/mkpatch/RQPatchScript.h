// Writing the patch script "PATCHER_CODE.LUA" that the launcher runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patch/RQDeltaIndex.h"
#include "tools/mkpatch/RQPatchEncoding.h"

struct RQPatchFile {
    std::wstring strPath;      // folder prefix, "/"-separated, ending with "/" or empty
    std::wstring strFileName;  // file name
    uint32_t dwCRC = 0;
    uint64_t ullFileSize = 0;
    std::string strSha256;  // 64 hexadecimal digits for slot 13, or empty (not hashed)
    // The file's chunks (sizes and hashes) when it was cut for a delta
    // release, and the SHA-256 of its published index for slot 14.
    std::vector<RQ_DELTA_CHUNK> vecChunks;
    RQ_CHUNK_PARAMS chunkParams;  // what it was cut with
    std::string strDeltaIndex;
};

// Entries per Lua function: Lua 5.1 allows at most 262 143 constants in one
// function, and each entry brings up to five.
constexpr size_t kPatchEntriesPerChunk = 4096;

// Splits a "/"-separated relative path into folder prefix and file name.
RQPatchFile RQSplitRelativePath(const std::wstring& strRelativePath);

// Builds the script text. Fails (false, strError set) when a name cannot be
// written in the chosen encoding.
bool RQWritePatchScript(const std::vector<RQPatchFile>& vecFiles,
                        const std::vector<RQPatchFile>& vecDeletions, RQPatchEncoding encoding,
                        std::string& strScript, std::wstring& strError);
