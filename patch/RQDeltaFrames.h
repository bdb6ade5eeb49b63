// Reading the pack or the zst of a delta release as its bytes arrive: a
// byte range of either object is a run of whole zstd frames, each holding
// whole chunks (the pack one each, the zst a block of them). Every frame is
// decompressed into a buffer of the size the index gives, and every chunk in
// it is checked against its SHA-256 before it is handed on: a damaged or
// forged frame never reaches the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "baselib/RQBLSha256.h"
#include "patch/RQDeltaIndex.h"
#include "patch/RQZstdFrames.h"

// One frame of a run: where it lies in its object and which chunks it holds.
struct RQ_DELTA_FRAME {
    uint64_t ullOffset = 0;  // in the pack or the zst
    uint32_t nStoredBytes = 0;
    uint32_t nFirstChunk = 0;
    uint32_t nChunks = 0;
};

// Where each chunk starts in the file and in the pack, and where each block
// starts in the zst and which chunk it begins with; computed once per index.
struct RQ_DELTA_LAYOUT {
    std::vector<uint64_t> vecFileOffsets;   // per chunk, and the file size at the end
    std::vector<uint64_t> vecPackOffsets;   // per chunk, and the pack size at the end
    std::vector<uint64_t> vecZstOffsets;    // per block, and the zst size at the end
    std::vector<uint32_t> vecBlockFirst;    // per block: its first chunk
    std::vector<uint32_t> vecBlockOfChunk;  // per chunk: its block
};
RQ_DELTA_LAYOUT RQDeltaLayout(const RQ_DELTA_INDEX& index);

// The pack's frames for chunks [nFirst, nFirst + nCount); the zst's for
// blocks [nFirst, nFirst + nCount).
std::vector<RQ_DELTA_FRAME> RQDeltaPackFrames(const RQ_DELTA_INDEX& index, const RQ_DELTA_LAYOUT& layout,
                                              uint32_t nFirst, uint32_t nCount);
std::vector<RQ_DELTA_FRAME> RQDeltaZstFrames(const RQ_DELTA_INDEX& index, const RQ_DELTA_LAYOUT& layout,
                                             uint32_t nFirst, uint32_t nCount);

enum class RQDeltaFrameResult {
    MORE,      // all well so far; more bytes are expected
    DONE,      // every frame was read and checked
    DAMAGED,   // a frame did not decompress to its chunks' sizes
    MISMATCH,  // a chunk's bytes do not have the index's hash
    REFUSED,   // the chunk function said no (it could not write, say)
};

class CRQDeltaFrameReader {
public:
    // fnChunk(nChunk, pData, nBytes) for every checked chunk, in order;
    // false stops the reading.
    using ChunkFn = std::function<bool(uint32_t nChunk, const uint8_t* pData, size_t nBytes)>;

    CRQDeltaFrameReader(const RQ_DELTA_INDEX& index, std::vector<RQ_DELTA_FRAME> vecFrames, ChunkFn fnChunk);

    // The bytes of the run, in order, in pieces of any size. Once it is not
    // MORE the reader takes nothing more. Bytes past the last frame are
    // DAMAGED.
    RQDeltaFrameResult Feed(const uint8_t* pData, size_t nBytes);
    RQDeltaFrameResult Result() const { return m_result; }
    // Chunks handed on so far.
    uint32_t ChunksDone() const { return m_nChunksDone; }

private:
    RQDeltaFrameResult ReadFrame();

    const RQ_DELTA_INDEX& m_index;
    const std::vector<RQ_DELTA_FRAME> m_vecFrames;
    const ChunkFn m_fnChunk;
    size_t m_nFrame = 0;
    std::vector<uint8_t> m_vecStored;
    std::vector<uint8_t> m_vecRaw;
    CRQZstdDecompressor m_decompressor;
    CRQBLSha256 m_sha;
    uint32_t m_nChunksDone = 0;
    RQDeltaFrameResult m_result = RQDeltaFrameResult::MORE;
};
