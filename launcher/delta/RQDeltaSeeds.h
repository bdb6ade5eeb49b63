// Delta updates: where the launcher finds the parts of a new file version
// that the player already has, so that only the rest travels.
//
//   seeds     the player's old files, cut into chunks with the index's own
//             parameters: every chunk whose SHA-256 the new version lists is
//             copied instead of fetched, from whichever old file has it
//   plan      the new file in order as runs: kept (a part left by an earlier
//             run), copied, or fetched as one byte range of the pack or the
//             zst, whichever costs fewer bytes
//   assembly  the part written in that order, every fetched chunk checked on
//             its way in, the whole file checked as it lies on the disk before
//             it replaces the old one
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
#include "patch/RQDeltaIndex.h"

struct RQ_SEED_CHUNK {
    uint32_t nFile = 0;  // which seed file
    uint64_t ullOffset = 0;
    uint32_t nBytes = 0;
};

// How an old file is cut: a large one on several threads at once, each from
// its own part of the file (a 2 GiB archive is read at the disk's speed, not
// at one core's). Each thread reads on into the next part until its cuts meet
// that part's, so the chunks are exactly those of one cut from the start.
struct RQ_SEED_CUTTING {
    uint64_t ullBytesPerThread = 32 * 1024 * 1024;  // no thread gets less
    unsigned nThreads = 0;                          // 0: one per core, at most 8
    // AddInPlace: a stretch of chunks not in place longer than this is more
    // than an edit (bytes shifted, and a cut finds them moved).
    uint64_t ullMaxEditBytes = 4 * 1024 * 1024;
};

class CRQDeltaSeeds {
public:
    explicit CRQDeltaSeeds(RQ_SEED_CUTTING cutting = RQ_SEED_CUTTING()) : m_cutting(cutting) {}

    // Cuts a whole old file into chunks and remembers them (the first place
    // of each). Called from several threads at once. False when the file
    // could not be read to its end (it then adds nothing) or pStop was set.
    bool AddFile(const std::wstring& strPath, const RQ_CHUNK_PARAMS& params,
                 const std::atomic<int64_t>* pStop);

    // The usual patch of a game archive rewrites parts of it in place and
    // leaves every other byte where it was, or appends. Then the listed
    // file's own old copy holds the new version's chunks at their new
    // offsets, and hashing those places (one read, no cutting) finds them.
    // True when it did: every chunk not in place lies in a short stretch
    // (an edit) or past the old file's end (an append), and the places are
    // added as seeds. False when the file is to be cut (AddFile): bytes
    // shifted, or too much of it changed; nothing is added then.
    bool AddInPlace(const std::wstring& strPath, const RQ_DELTA_INDEX& index,
                    const std::atomic<int64_t>* pStop);

    const RQ_SEED_CHUNK* Find(const RQ_CHUNK_HASH& hash) const;
    const std::wstring& FilePath(uint32_t nFile) const { return m_vecFiles[nFile]; }
    uint64_t BytesRead() const { return m_ullBytesRead; }
    size_t ChunkCount() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_mapChunks.size();
    }

    // AddInPlace: more chunks not in place than this share of the old file
    // is more than a few edits (the file is cut).
    static constexpr uint64_t MAX_CHANGED_SHARE = 8;  // 1/8

private:
    // How many threads a large file is read on.
    unsigned Threads() const;

    struct CHashOfHash {
        size_t operator()(const RQ_CHUNK_HASH& h) const {
            size_t n = 0;
            for (size_t i = 0; i < sizeof(n); ++i) {
                n = (n << 8) | h[i];
            }
            return n;
        }
    };
    const RQ_SEED_CUTTING m_cutting;
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
