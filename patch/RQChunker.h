// Content-defined chunking (FastCDC with normalized chunking): cuts a byte
// stream where its own content says so, so that bytes inserted or removed in
// the middle of a file shift only the chunks around them, and every later
// chunk is found again unchanged. mkpatch cuts each file of a release this
// way; the launcher cuts the player's old files with the same parameters and
// the same gear table, and reuses every chunk whose hash matches.
//
// A cut comes after at least nMinBytes and at most nMaxBytes; between them the
// rolling "gear" fingerprint of the last 64 bytes decides: before nAvgBytes a
// harder condition (nNormalization more bits must be zero), after it an
// easier one (as many fewer), which keeps chunk sizes close to the average.
// The higher the level, the narrower the sizes, but the later the cuts after
// a change meet the old ones again: at level 1 an edit in a large file costs
// about 16 KiB around it, at level 2 about 21.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

struct RQ_CHUNK_PARAMS {
    uint32_t nMinBytes = 2 * 1024;
    uint32_t nAvgBytes = 8 * 1024;  // a power of two
    uint32_t nMaxBytes = 64 * 1024;
    // Not written in an index: its format implies it (1 from format 3 on).
    uint32_t nNormalization = 1;

    // Sane for both sides: the launcher takes them from an index it fetched.
    bool Valid() const;
};

// Files below this size are cut finer: a change then costs the kilobyte or
// two around it rather than whole 8 KiB chunks, and the index of such a file
// stays under a KiB. (Launchers fetch the index of a file this small only
// when its old copy is there; a larger new file's index, fetched to learn
// whether it compresses, stays at about 0.3 % of it with the usual chunks.)
inline constexpr uint64_t RQ_FINE_CHUNKS_BELOW = 64 * 1024;
inline constexpr RQ_CHUNK_PARAMS RQ_FINE_CHUNK_PARAMS{256, 1024, 8 * 1024, 1};

// The parameters mkpatch cuts a file of this size with (params for all
// larger files); the index names them, so launchers only follow.
inline RQ_CHUNK_PARAMS RQChunkParamsForFile(uint64_t ullFileBytes, const RQ_CHUNK_PARAMS& params) {
    return ullFileBytes < RQ_FINE_CHUNKS_BELOW ? RQ_FINE_CHUNK_PARAMS : params;
}

class CRQChunker {
public:
    explicit CRQChunker(const RQ_CHUNK_PARAMS& params);

    // Where the next chunk of pData (nBytes, which start a new chunk) ends:
    // the length of that chunk. The answer is final when at least nMaxBytes
    // are offered, or the rest of the stream: a chunk never spans more than
    // nMaxBytes. Offered fewer bytes without a cut among them, it answers
    // nBytes (the stream's last chunk, if the stream ends there).
    size_t NextCut(const uint8_t* pData, size_t nBytes) const;

private:
    RQ_CHUNK_PARAMS m_params;
    uint64_t m_ullMaskHard = 0;
    uint64_t m_ullMaskEasy = 0;
};

// Calls fnChunk(offset, pData, nBytes) for every chunk of a buffer held whole.
template <typename Fn>
void RQForEachChunk(const CRQChunker& chunker, const uint8_t* pData, size_t nBytes, Fn&& fnChunk) {
    size_t nOffset = 0;
    while (nOffset < nBytes) {
        const size_t nCut = chunker.NextCut(pData + nOffset, nBytes - nOffset);
        fnChunk(nOffset, pData + nOffset, nCut);
        nOffset += nCut;
    }
}

// Cuts a stream that arrives in pieces of any size: fnChunk(pData, nBytes)
// is called for every chunk in order (the bytes are valid during the call
// only). Holds at most one largest chunk of carry-over.
template <typename Fn>
class CRQChunkStream {
public:
    CRQChunkStream(const RQ_CHUNK_PARAMS& params, Fn fnChunk)
        : m_chunker(params), m_nMax(params.nMaxBytes), m_fnChunk(std::move(fnChunk)) {}

    void Feed(const uint8_t* pData, size_t nBytes) {
        while (nBytes > 0) {
            if (m_vecCarry.empty()) {
                // Straight from the caller's bytes while a cut is sure to be final.
                while (nBytes >= m_nMax) {
                    const size_t nCut = m_chunker.NextCut(pData, nBytes);
                    m_fnChunk(pData, nCut);
                    pData += nCut;
                    nBytes -= nCut;
                }
                m_vecCarry.assign(pData, pData + nBytes);
                return;
            }
            const size_t nTake = std::min(nBytes, m_nMax - m_vecCarry.size());
            m_vecCarry.insert(m_vecCarry.end(), pData, pData + nTake);
            pData += nTake;
            nBytes -= nTake;
            if (m_vecCarry.size() < m_nMax) {
                return;
            }
            const size_t nCut = m_chunker.NextCut(m_vecCarry.data(), m_vecCarry.size());
            m_fnChunk(m_vecCarry.data(), nCut);
            m_vecCarry.erase(m_vecCarry.begin(), m_vecCarry.begin() + static_cast<std::ptrdiff_t>(nCut));
            if (!m_vecCarry.empty() && nBytes == 0) {
                // What is left waits for more, or for Finish.
                return;
            }
            if (!m_vecCarry.empty()) {
                // Put the rest of the carry ahead of the remaining input.
                continue;
            }
        }
    }

    // The stream has ended: its last chunks.
    void Finish() {
        size_t nOffset = 0;
        while (nOffset < m_vecCarry.size()) {
            const size_t nCut = m_chunker.NextCut(m_vecCarry.data() + nOffset, m_vecCarry.size() - nOffset);
            m_fnChunk(m_vecCarry.data() + nOffset, nCut);
            nOffset += nCut;
        }
        m_vecCarry.clear();
    }

private:
    CRQChunker m_chunker;
    size_t m_nMax;
    Fn m_fnChunk;
    std::vector<uint8_t> m_vecCarry;
};
