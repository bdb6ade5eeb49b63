// Delta updates: where the launcher finds the parts of a new file version
// that the player already has, so that only the rest travels.
//
//   seeds     the player's old files, cut into chunks with the index's own
//             parameters: every chunk whose SHA-256 the new version lists is
//             copied instead of fetched, from whichever old file has it
//   plan      the new file in order as runs: kept (a part left by an earlier
//             run), copied, or fetched as one byte range of the pack or the
//             zst, whichever costs fewer bytes
//   assembly  the part written in that order, every chunk checked on its way
//             in, the whole file checked before it replaces the old one
//
// This file: the seeds.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "baselib/RQBLSha256.h"
#include "patch/RQChunker.h"
#include "patch/RQDeltaFrames.h"

struct RQ_SEED_CHUNK {
    uint32_t nFile = 0;  // which seed file
    uint64_t ullOffset = 0;
    uint32_t nBytes = 0;
};

class CRQDeltaSeeds {
public:
    // Cuts a whole old file into chunks and remembers them (the first place
    // of each). Called from several threads at once. False when the file
    // could not be read to its end (it then adds nothing) or pStop was set.
    bool AddFile(const std::wstring& strPath, const RQ_CHUNK_PARAMS& params,
                 const std::atomic<int64_t>* pStop);

    const RQ_SEED_CHUNK* Find(const RQ_CHUNK_HASH& hash) const;
    const std::wstring& FilePath(uint32_t nFile) const { return m_vecFiles[nFile]; }
    uint64_t BytesRead() const { return m_ullBytesRead; }
    size_t ChunkCount() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_mapChunks.size();
    }

private:
    struct CHashOfHash {
        size_t operator()(const RQ_CHUNK_HASH& h) const {
            size_t n = 0;
            for (size_t i = 0; i < sizeof(n); ++i) {
                n = (n << 8) | h[i];
            }
            return n;
        }
    };
    mutable std::mutex m_mutex;
    std::vector<std::wstring> m_vecFiles;
    std::unordered_map<RQ_CHUNK_HASH, RQ_SEED_CHUNK, CHashOfHash> m_mapChunks;
    uint64_t m_ullBytesRead = 0;
};

// How many chunks at the start of a part file (left by an earlier run) are
// already the new version's, checked chunk by chunk against the index; the
// rest of the part is not to be used.
uint32_t RQValidPrefixChunks(const std::wstring& strPart, const RQ_DELTA_INDEX& index,
                             const std::atomic<int64_t>* pStop);
