#include "launcher/delta/RQDeltaSeeds.h"

#include <algorithm>
#include <functional>
#include <system_error>
#include <thread>

#include "baselib/RQBLFileBlocks.h"
#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLStreamCrc.h"

namespace {

// Old files are read in blocks that stay in the processor's cache until
// they are hashed.
constexpr size_t kReadBlockBytes = 128 * 1024;
// How far a thread reads into the next part for its cuts to meet that part's
// (they meet within a few chunks of the largest size).
constexpr uint64_t kOverlapBytes = 2 * 1024 * 1024;
constexpr unsigned kMostThreads = 8;

using FoundChunks = std::vector<std::pair<RQ_CHUNK_HASH, RQ_SEED_CHUNK>>;

// fnPart(k) for every part k of nParts, each on a thread of its own (the
// first on this one, and any for which no thread is to be had); returns when
// all have ended.
void RunParts(unsigned nParts, const std::function<void(unsigned)>& fnPart) {
    std::vector<std::thread> vecThreads;
    std::vector<unsigned> vecHere = {0};
    for (unsigned k = 1; k < nParts; ++k) {
        try {
            vecThreads.emplace_back(fnPart, k);
        } catch (const std::system_error&) {
            vecHere.push_back(k);
        }
    }
    for (unsigned k : vecHere) {
        fnPart(k);
    }
    for (std::thread& thread : vecThreads) {
        thread.join();
    }
}

// The chunks of [ullFrom, ullFrom + ullBytes) of the file (to its end when
// bToEnd), cut as if a chunk began at ullFrom. A range that stops before the
// end keeps only the cuts that more bytes could not move.
bool CutRange(const std::wstring& strPath, const RQ_CHUNK_PARAMS& params, uint64_t ullFrom, uint64_t ullBytes,
              bool bToEnd, const std::atomic<int64_t>* pStop, FoundChunks& found) {
    CRQBLSha256 sha;
    uint64_t ullOffset = ullFrom;
    bool bHashed = true;
    auto fnChunk = [&](const uint8_t* pData, size_t nBytes) {
        RQ_CHUNK_HASH hash{};
        bHashed = RQChunkHashOf(sha, pData, nBytes, hash) && bHashed;
        found.emplace_back(hash, RQ_SEED_CHUNK{0, ullOffset, static_cast<uint32_t>(nBytes)});
        ullOffset += nBytes;
    };
    CRQChunkStream<decltype(fnChunk)> chunks(params, fnChunk);
    auto fnBlock = [&](const uint8_t* pData, size_t nBytes) { chunks.Feed(pData, nBytes); };
    std::vector<uint8_t> buffer(kReadBlockBytes);
    if (rqbl::ReadFileRange(strPath, ullFrom, bToEnd ? UINT64_MAX : ullBytes, buffer.data(), buffer.size(),
                            pStop, fnBlock) != rqbl::BlockRead::COMPLETE ||
        !bHashed) {
        return false;
    }
    if (bToEnd) {
        chunks.Finish();
    }
    return true;
}

// Joins the next part's chunks to the cut so far where a cut of the one is a
// cut of the other; false when they never meet (the file changed meanwhile,
// or the overlap was too short).
bool Join(FoundChunks& cut, const FoundChunks& next) {
    if (next.empty()) {
        return false;
    }
    const uint64_t ullStart = next.front().second.ullOffset;
    for (size_t i = 0; i < cut.size(); ++i) {
        const uint64_t ullEnd = cut[i].second.ullOffset + cut[i].second.nBytes;
        if (ullEnd < ullStart) {
            continue;
        }
        auto it = std::lower_bound(next.begin(), next.end(), ullEnd, [](const auto& chunk, uint64_t ull) {
            return chunk.second.ullOffset < ull;
        });
        if (it != next.end() && it->second.ullOffset == ullEnd) {
            cut.resize(i + 1);
            cut.insert(cut.end(), it, next.end());
            return true;
        }
    }
    return false;
}

// The whole file cut on nParts threads; false when that did not work out.
bool CutInParts(const std::wstring& strPath, const RQ_CHUNK_PARAMS& params, uint64_t ullSize, unsigned nParts,
                const std::atomic<int64_t>* pStop, FoundChunks& found) {
    std::vector<FoundChunks> vecParts(nParts);
    std::vector<char> vecOk(nParts, 0);
    auto fnCut = [&](unsigned k) {
        const uint64_t ullFrom = ullSize / nParts * k;
        const uint64_t ullTo = ullSize / nParts * (k + 1) + kOverlapBytes;
        vecOk[k] = CutRange(strPath, params, ullFrom, ullTo - ullFrom, k + 1 == nParts, pStop, vecParts[k]);
    };
    RunParts(nParts, fnCut);
    found = std::move(vecParts[0]);
    for (unsigned k = 0; k < nParts; ++k) {
        if (!vecOk[k] || (k > 0 && !Join(found, vecParts[k]))) {
            return false;
        }
    }
    return true;
}

// Hashes the old file at the places of chunks [nFirst, nEnd) of the new
// version (vecOffsets: where each begins) and marks those that are there.
// False when the read failed, or when the chunks not in place grew past an
// edit's size (giveUp is then set for the other threads as well).
bool ProbeRange(const std::wstring& strPath, const RQ_DELTA_INDEX& index,
                const std::vector<uint64_t>& vecOffsets, size_t nFirst, size_t nEnd, uint64_t ullMaxEdit,
                uint64_t ullMaxChanged, const std::atomic<int64_t>* pStop, std::atomic<int64_t>& giveUp,
                std::vector<char>& vecInPlace) {
    if (nFirst >= nEnd) {
        return true;
    }
    CRQBLSha256 sha;
    std::vector<uint8_t> vecChunk;  // a chunk that spans two blocks
    size_t nChunk = nFirst;
    uint64_t ullRun = 0;      // bytes not in place in a row
    uint64_t ullChanged = 0;  // in all (this thread's share of the cap)
    auto fnChunk = [&](const uint8_t* pData, size_t nBytes) {
        // The chunk's CRC-32 where the index has one: a false match costs no
        // more than a failed check of the whole file (fetched whole then),
        // and hashing 256 MiB takes ten times as long.
        RQ_CHUNK_HASH hash{};
        const RQ_DELTA_CHUNK& expected = index.vecChunks[nChunk];
        const bool bThere = index.bChunkCrcs
                                ? CRQBLStreamCrc::Of(pData, nBytes) == expected.dwCrc
                                : RQChunkHashOf(sha, pData, nBytes, hash) && hash == expected.hash;
        vecInPlace[nChunk] = bThere ? 1 : 0;
        ullRun = bThere ? 0 : ullRun + nBytes;
        ullChanged += bThere ? 0 : nBytes;
        if (ullRun > ullMaxEdit || ullChanged > ullMaxChanged) {
            giveUp = 1;
        }
        ++nChunk;
    };
    auto fnBlock = [&](const uint8_t* pData, size_t nBytes) {
        if (pStop != nullptr && pStop->load() != 0) {
            giveUp = 1;
        }
        while (nBytes > 0 && nChunk < nEnd && giveUp.load() == 0) {
            const size_t nWant = index.vecChunks[nChunk].nBytes - vecChunk.size();
            if (vecChunk.empty() && nBytes >= nWant) {
                fnChunk(pData, nWant);  // whole in this block: hashed where it lies
            } else {
                const size_t nTake = std::min(nBytes, nWant);
                vecChunk.insert(vecChunk.end(), pData, pData + nTake);
                if (vecChunk.size() < index.vecChunks[nChunk].nBytes) {
                    return;
                }
                fnChunk(vecChunk.data(), vecChunk.size());
                vecChunk.clear();
                pData += nTake;
                nBytes -= nTake;
                continue;
            }
            pData += nWant;
            nBytes -= nWant;
        }
    };
    std::vector<uint8_t> buffer(kReadBlockBytes);
    const uint64_t ullBytes = vecOffsets[nEnd] - vecOffsets[nFirst];
    const rqbl::BlockRead read = rqbl::ReadFileRange(strPath, vecOffsets[nFirst], ullBytes, buffer.data(),
                                                     buffer.size(), &giveUp, fnBlock);
    return read == rqbl::BlockRead::COMPLETE && giveUp.load() == 0 && nChunk == nEnd;
}

}  // namespace

unsigned CRQDeltaSeeds::Threads() const {
    return m_cutting.nThreads != 0
               ? m_cutting.nThreads
               : std::min(kMostThreads, std::max(1u, std::thread::hardware_concurrency()));
}

bool CRQDeltaSeeds::AddInPlace(const std::wstring& strPath, const RQ_DELTA_INDEX& index,
                               const std::atomic<int64_t>* pStop) {
    uint64_t ullOld = 0;
    if (!rqbl::GetRegularFileSize(strPath, ullOld) || ullOld == 0) {
        return false;
    }
    // The chunks that lie within the old file; the rest is appended.
    std::vector<uint64_t> vecOffsets{0};
    for (const RQ_DELTA_CHUNK& chunk : index.vecChunks) {
        if (vecOffsets.back() + chunk.nBytes > ullOld) {
            break;
        }
        vecOffsets.push_back(vecOffsets.back() + chunk.nBytes);
    }
    const size_t nChunks = vecOffsets.size() - 1;
    if (nChunks == 0) {
        return false;
    }
    const unsigned nThreads = Threads();
    const auto nParts = static_cast<unsigned>(std::max<uint64_t>(
        1, std::min<uint64_t>(nThreads,
                              vecOffsets.back() / std::max<uint64_t>(1, m_cutting.ullBytesPerThread))));
    const uint64_t ullMaxChanged = vecOffsets.back() / MAX_CHANGED_SHARE / nParts;
    std::vector<char> vecInPlace(nChunks, 0);
    std::vector<char> vecOk(nParts, 0);
    std::atomic<int64_t> giveUp{0};
    auto fnProbe = [&](unsigned k) {
        const size_t nFirst = nChunks / nParts * k;
        const size_t nEnd = k + 1 == nParts ? nChunks : nChunks / nParts * (k + 1);
        vecOk[k] = ProbeRange(strPath, index, vecOffsets, nFirst, nEnd, m_cutting.ullMaxEditBytes,
                              ullMaxChanged, pStop, giveUp, vecInPlace);
    };
    RunParts(nParts, fnProbe);
    if (std::find(vecOk.begin(), vecOk.end(), 0) != vecOk.end()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto nFile = static_cast<uint32_t>(m_vecFiles.size());
    m_vecFiles.push_back(strPath);
    for (size_t i = 0; i < nChunks; ++i) {
        if (vecInPlace[i] != 0) {
            m_ullBytesRead += index.vecChunks[i].nBytes;
            m_mapChunks.emplace(index.vecChunks[i].hash,
                                RQ_SEED_CHUNK{nFile, vecOffsets[i], index.vecChunks[i].nBytes});
        }
    }
    return true;
}

bool CRQDeltaSeeds::AddFile(const std::wstring& strPath, const RQ_CHUNK_PARAMS& params,
                            const std::atomic<int64_t>* pStop) {
    if (!params.Valid()) {
        return false;
    }
    // The size only splits the work: the last part reads to the end, and
    // parts whose cuts do not meet are cut again from the start.
    uint64_t ullSize = 0;
    rqbl::GetRegularFileSize(strPath, ullSize);
    const unsigned nThreads = Threads();
    const auto nParts = static_cast<unsigned>(
        std::min<uint64_t>(nThreads, ullSize / std::max<uint64_t>(1, m_cutting.ullBytesPerThread)));
    FoundChunks vecFound;
    bool bCut = nParts > 1 && CutInParts(strPath, params, ullSize, nParts, pStop, vecFound);
    if (!bCut && (pStop == nullptr || pStop->load() == 0)) {
        vecFound.clear();
        bCut = CutRange(strPath, params, 0, 0, true, pStop, vecFound);
    }
    if (!bCut) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto nFile = static_cast<uint32_t>(m_vecFiles.size());
    m_vecFiles.push_back(strPath);
    for (auto& [hash, chunk] : vecFound) {
        chunk.nFile = nFile;
        m_ullBytesRead += chunk.nBytes;
        m_mapChunks.emplace(hash, chunk);
    }
    return true;
}

const RQ_SEED_CHUNK* CRQDeltaSeeds::Find(const RQ_CHUNK_HASH& hash) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mapChunks.find(hash);
    return it == m_mapChunks.end() ? nullptr : &it->second;
}

uint32_t RQValidPrefixChunks(const std::wstring& strPart, const RQ_DELTA_INDEX& index,
                             const std::atomic<int64_t>* pStop) {
    // The part's bytes are laid against the index's chunks in order; the
    // first chunk that differs (or is cut) ends the prefix.
    uint32_t nValid = 0;
    bool bBroken = false;
    std::vector<uint8_t> vecChunk;
    CRQBLSha256 sha;
    // Reading ends at the first chunk that differs, or at a stop.
    std::atomic<int64_t> enough{0};
    auto fnBlock = [&](const uint8_t* pData, size_t nBytes) {
        if (pStop != nullptr && pStop->load() != 0) {
            enough = 1;
            return;
        }
        while (nBytes > 0 && !bBroken && nValid < index.vecChunks.size()) {
            const RQ_DELTA_CHUNK& chunk = index.vecChunks[nValid];
            const size_t nTake = std::min<size_t>(nBytes, chunk.nBytes - vecChunk.size());
            vecChunk.insert(vecChunk.end(), pData, pData + nTake);
            pData += nTake;
            nBytes -= nTake;
            if (vecChunk.size() == chunk.nBytes) {
                RQ_CHUNK_HASH hash{};
                bBroken = !RQChunkHashOf(sha, vecChunk.data(), vecChunk.size(), hash) || hash != chunk.hash;
                nValid += bBroken ? 0 : 1;
                vecChunk.clear();
            }
        }
        if (bBroken || nValid == index.vecChunks.size()) {
            enough = 1;
        }
    };
    std::vector<uint8_t> buffer(kReadBlockBytes);
    rqbl::ReadFileBlocks(strPart, buffer.data(), buffer.size(), &enough, fnBlock);
    return nValid;
}
