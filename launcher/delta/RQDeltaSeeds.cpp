#include "launcher/delta/RQDeltaSeeds.h"

#include "baselib/RQBLFileBlocks.h"

namespace {

constexpr size_t kReadBlockBytes = 1024 * 1024;

}  // namespace

bool CRQDeltaSeeds::AddFile(const std::wstring& strPath, const RQ_CHUNK_PARAMS& params,
                            const std::atomic<int64_t>* pStop) {
    if (!params.Valid()) {
        return false;
    }
    std::vector<std::pair<RQ_CHUNK_HASH, RQ_SEED_CHUNK>> vecFound;
    CRQBLSha256 sha;
    uint64_t ullOffset = 0;
    bool bHashed = true;
    auto fnChunk = [&](const uint8_t* pData, size_t nBytes) {
        RQ_CHUNK_HASH hash{};
        bHashed = RQChunkHashOf(sha, pData, nBytes, hash) && bHashed;
        vecFound.emplace_back(hash, RQ_SEED_CHUNK{0, ullOffset, static_cast<uint32_t>(nBytes)});
        ullOffset += nBytes;
    };
    CRQChunkStream<decltype(fnChunk)> chunks(params, fnChunk);
    auto fnBlock = [&](const uint8_t* pData, size_t nBytes) { chunks.Feed(pData, nBytes); };
    std::vector<uint8_t> buffer(kReadBlockBytes);
    if (rqbl::ReadFileBlocks(strPath, buffer.data(), buffer.size(), pStop, fnBlock) !=
            rqbl::BlockRead::COMPLETE ||
        !bHashed) {
        return false;
    }
    chunks.Finish();
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto nFile = static_cast<uint32_t>(m_vecFiles.size());
    m_vecFiles.push_back(strPath);
    m_ullBytesRead += ullOffset;
    for (auto& [hash, chunk] : vecFound) {
        chunk.nFile = nFile;
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
