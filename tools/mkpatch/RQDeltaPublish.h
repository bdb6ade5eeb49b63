// Publishing a file of a release for delta updates: its chunks compressed
// into the pack (a frame per chunk) and the zst (a frame per block of about
// 1 MiB), and the index that describes both, in the content folder's delta/
// folder under names of their own SHA-256. A file published before with the
// same parameters is found in the folder's cache list and not compressed
// again: later releases reuse what is there.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "patch/RQChunker.h"
#include "tools/mkpatch/RQPatchScript.h"

struct RQ_DELTA_PUBLISH_OPTIONS {
    RQ_CHUNK_PARAMS params;
    // The zst's level; the pack's frames (single chunks, whose ratio hardly
    // gains from a higher level) use at most 3.
    int nLevel = 12;
    unsigned nThreads = 1;
};

// What earlier runs published into a content folder: which index belongs to
// which file version and parameters. Kept in delta/mkpatch-cache.txt.
class CRQDeltaCache {
public:
    void Load(const std::filesystem::path& contentFolder);
    bool Save(const std::filesystem::path& contentFolder) const;
    // The index hash published for this file and these options, if any.
    const std::string* Find(const RQPatchFile& file, const RQ_DELTA_PUBLISH_OPTIONS& options) const;
    void Put(const RQPatchFile& file, const RQ_DELTA_PUBLISH_OPTIONS& options,
             const std::string& strIndexSha256);

private:
    static std::string Key(const RQPatchFile& file, const RQ_DELTA_PUBLISH_OPTIONS& options);
    std::map<std::string, std::string> m_mapIndex;
};

// The compression statistics of a run, for mkpatch's closing line.
struct RQ_DELTA_PUBLISH_STATS {
    uint64_t ullFiles = 0;
    uint64_t ullReused = 0;
    uint64_t ullBytesIn = 0;
    uint64_t ullZstBytes = 0;
    uint64_t ullPackBytes = 0;
};

// Publishes source (the file as scanned into file, with its chunks) into
// contentFolder and sets file.strDeltaIndex. False with strError when
// something could not be read or written.
bool RQPublishDeltaFile(const std::filesystem::path& source, RQPatchFile& file,
                        const std::filesystem::path& contentFolder, const RQ_DELTA_PUBLISH_OPTIONS& options,
                        CRQDeltaCache& cache, RQ_DELTA_PUBLISH_STATS& stats, std::wstring& strError);
