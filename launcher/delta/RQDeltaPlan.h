// Delta updates: the plan for one file (see RQDeltaSeeds.h for the whole).
// The new version is cut into runs of chunks, in file order: the part an
// earlier run left (checked), chunks copied from the player's old files, and
// byte ranges of the pack (a frame per chunk: for scattered changes) or of
// the zst (a frame per block of about 1 MiB: better compressed, for long
// runs), whichever costs fewer bytes block by block. Each range is one
// single-range request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/delta/RQDeltaSeeds.h"
#include "patch/RQDeltaFrames.h"

enum class RQDeltaSource { COPY, PACK, ZST };

struct RQ_DELTA_RUN {
    RQDeltaSource source = RQDeltaSource::COPY;
    // The chunks the run writes (a ZST run's first block may begin before
    // the kept part's end: those chunks are already there and not written).
    uint32_t nFirstChunk = 0;
    uint32_t nChunks = 0;
    // PACK and ZST: the frames of the range, in order.
    std::vector<RQ_DELTA_FRAME> vecFrames;
};

struct RQ_DELTA_PLAN {
    uint32_t nKeptChunks = 0;  // from a part an earlier run left
    uint64_t ullKeptBytes = 0;
    std::vector<RQ_DELTA_RUN> vecRuns;
    uint64_t ullFetchBytes = 0;  // what travels
    uint64_t ullCopyBytes = 0;
    uint32_t nRequests = 0;
};

// A request costs about this many bytes besides its range (the request,
// the answer's headers): two ranges closer than this are fetched as one, and
// it tips the choice between the pack and the zst.
inline constexpr uint64_t RQ_DELTA_REQUEST_BYTES = 1024;

RQ_DELTA_PLAN RQPlanDelta(const RQ_DELTA_INDEX& index, const RQ_DELTA_LAYOUT& layout,
                          const CRQDeltaSeeds& seeds, uint32_t nKeptChunks);

// The range a PACK or ZST run asks for: [first frame's offset, end of its last frame).
inline uint64_t RQDeltaRunStart(const RQ_DELTA_RUN& run) {
    return run.vecFrames.front().ullOffset;
}
inline uint64_t RQDeltaRunEnd(const RQ_DELTA_RUN& run) {
    return run.vecFrames.back().ullOffset + run.vecFrames.back().nStoredBytes;
}
