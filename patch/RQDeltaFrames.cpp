#include "patch/RQDeltaFrames.h"

#include <algorithm>

RQ_DELTA_LAYOUT RQDeltaLayout(const RQ_DELTA_INDEX& index) {
    RQ_DELTA_LAYOUT layout;
    const size_t nChunks = index.vecChunks.size();
    layout.vecFileOffsets.resize(nChunks + 1);
    layout.vecPackOffsets.resize(nChunks + 1);
    for (size_t i = 0; i < nChunks; ++i) {
        layout.vecFileOffsets[i + 1] = layout.vecFileOffsets[i] + index.vecChunks[i].nBytes;
        layout.vecPackOffsets[i + 1] = layout.vecPackOffsets[i] + index.vecChunks[i].nPackBytes;
    }
    layout.vecZstOffsets.resize(index.vecBlocks.size() + 1);
    layout.vecBlockFirst.resize(index.vecBlocks.size());
    layout.vecBlockOfChunk.resize(nChunks);
    uint32_t nChunk = 0;
    for (size_t b = 0; b < index.vecBlocks.size(); ++b) {
        layout.vecZstOffsets[b + 1] = layout.vecZstOffsets[b] + index.vecBlocks[b].nZstBytes;
        layout.vecBlockFirst[b] = nChunk;
        for (uint32_t i = 0; i < index.vecBlocks[b].nChunks; ++i) {
            layout.vecBlockOfChunk[nChunk++] = static_cast<uint32_t>(b);
        }
    }
    return layout;
}

std::vector<RQ_DELTA_FRAME> RQDeltaPackFrames(const RQ_DELTA_INDEX& index, const RQ_DELTA_LAYOUT& layout,
                                              uint32_t nFirst, uint32_t nCount) {
    std::vector<RQ_DELTA_FRAME> vecFrames;
    for (uint32_t i = nFirst; i < nFirst + nCount; ++i) {
        vecFrames.push_back(RQ_DELTA_FRAME{layout.vecPackOffsets[i], index.vecChunks[i].nPackBytes, i, 1});
    }
    return vecFrames;
}

std::vector<RQ_DELTA_FRAME> RQDeltaZstFrames(const RQ_DELTA_INDEX& index, const RQ_DELTA_LAYOUT& layout,
                                             uint32_t nFirst, uint32_t nCount) {
    std::vector<RQ_DELTA_FRAME> vecFrames;
    for (uint32_t b = nFirst; b < nFirst + nCount; ++b) {
        vecFrames.push_back(RQ_DELTA_FRAME{layout.vecZstOffsets[b], index.vecBlocks[b].nZstBytes,
                                           layout.vecBlockFirst[b], index.vecBlocks[b].nChunks});
    }
    return vecFrames;
}

CRQDeltaFrameReader::CRQDeltaFrameReader(const RQ_DELTA_INDEX& index, std::vector<RQ_DELTA_FRAME> vecFrames,
                                         ChunkFn fnChunk)
    : m_index(index), m_vecFrames(std::move(vecFrames)), m_fnChunk(std::move(fnChunk)) {
    if (m_vecFrames.empty()) {
        m_result = RQDeltaFrameResult::DONE;
    }
}

RQDeltaFrameResult CRQDeltaFrameReader::Feed(const uint8_t* pData, size_t nBytes) {
    while (nBytes > 0 && m_result == RQDeltaFrameResult::MORE) {
        const size_t nWant = m_vecFrames[m_nFrame].nStoredBytes - m_vecStored.size();
        const size_t nTake = std::min(nWant, nBytes);
        m_vecStored.insert(m_vecStored.end(), pData, pData + nTake);
        pData += nTake;
        nBytes -= nTake;
        if (m_vecStored.size() == m_vecFrames[m_nFrame].nStoredBytes) {
            m_result = ReadFrame();
        }
    }
    if (nBytes > 0 && m_result == RQDeltaFrameResult::DONE) {
        m_result = RQDeltaFrameResult::DAMAGED;  // more than the frames hold
    }
    return m_result;
}

RQDeltaFrameResult CRQDeltaFrameReader::ReadFrame() {
    const RQ_DELTA_FRAME& frame = m_vecFrames[m_nFrame];
    size_t nRaw = 0;
    for (uint32_t i = 0; i < frame.nChunks; ++i) {
        nRaw += m_index.vecChunks[frame.nFirstChunk + i].nBytes;
    }
    m_vecRaw.resize(nRaw);
    if (!m_decompressor.DecompressFrame(m_vecStored.data(), m_vecStored.size(), m_vecRaw.data(), nRaw)) {
        return RQDeltaFrameResult::DAMAGED;
    }
    size_t nOffset = 0;
    for (uint32_t i = 0; i < frame.nChunks; ++i) {
        const RQ_DELTA_CHUNK& chunk = m_index.vecChunks[frame.nFirstChunk + i];
        RQ_CHUNK_HASH digest{};
        if (!RQChunkHashOf(m_sha, m_vecRaw.data() + nOffset, chunk.nBytes, digest) || digest != chunk.hash) {
            return RQDeltaFrameResult::MISMATCH;
        }
        if (!m_fnChunk(frame.nFirstChunk + i, m_vecRaw.data() + nOffset, chunk.nBytes)) {
            return RQDeltaFrameResult::REFUSED;
        }
        nOffset += chunk.nBytes;
        ++m_nChunksDone;
    }
    m_vecStored.clear();
    return ++m_nFrame == m_vecFrames.size() ? RQDeltaFrameResult::DONE : RQDeltaFrameResult::MORE;
}
