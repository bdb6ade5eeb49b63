#include "launcher/delta/RQDeltaPlan.h"

namespace {

// How each remaining chunk comes in, before the runs are formed.
enum class Way : uint8_t { KEPT, COPY, PACK, ZST };

}  // namespace

RQ_DELTA_PLAN RQPlanDelta(const RQ_DELTA_INDEX& index, const RQ_DELTA_LAYOUT& layout,
                          const CRQDeltaSeeds& seeds, uint32_t nKeptChunks) {
    RQ_DELTA_PLAN plan;
    const auto nChunks = static_cast<uint32_t>(index.vecChunks.size());
    plan.nKeptChunks = std::min(nKeptChunks, nChunks);
    plan.ullKeptBytes = layout.vecFileOffsets[plan.nKeptChunks];
    std::vector<Way> vecWay(nChunks, Way::KEPT);
    for (uint32_t i = plan.nKeptChunks; i < nChunks; ++i) {
        vecWay[i] = seeds.Find(index.vecChunks[i].hash) != nullptr ? Way::COPY : Way::PACK;
    }
    // Block by block: the zst's frame when it costs no more than the pack's
    // frames of the chunks the block lacks (a run of them a request each).
    for (size_t b = 0; b < index.vecBlocks.size(); ++b) {
        const uint32_t nFirst = layout.vecBlockFirst[b];
        const uint32_t nEnd = nFirst + index.vecBlocks[b].nChunks;
        uint64_t ullPack = 0;
        bool bInRun = false;
        for (uint32_t i = nFirst; i < nEnd; ++i) {
            const bool bNeed = vecWay[i] == Way::PACK;
            ullPack += bNeed ? index.vecChunks[i].nPackBytes : 0;
            ullPack += bNeed && !bInRun ? RQ_DELTA_REQUEST_BYTES : 0;
            bInRun = bNeed;
        }
        if (ullPack > 0 && index.vecBlocks[b].nZstBytes + RQ_DELTA_REQUEST_BYTES <= ullPack) {
            for (uint32_t i = std::max(nFirst, plan.nKeptChunks); i < nEnd; ++i) {
                vecWay[i] = Way::ZST;
            }
        }
    }
    // A short stretch of copies between two pack ranges is cheaper fetched
    // than paid for with a request of its own.
    for (uint32_t i = plan.nKeptChunks; i < nChunks;) {
        if (vecWay[i] != Way::COPY) {
            ++i;
            continue;
        }
        uint32_t nEnd = i;
        uint64_t ullGap = 0;
        while (nEnd < nChunks && vecWay[nEnd] == Way::COPY) {
            ullGap += index.vecChunks[nEnd].nPackBytes;
            ++nEnd;
        }
        if (i > plan.nKeptChunks && vecWay[i - 1] == Way::PACK && nEnd < nChunks &&
            vecWay[nEnd] == Way::PACK && ullGap < RQ_DELTA_REQUEST_BYTES) {
            for (uint32_t k = i; k < nEnd; ++k) {
                vecWay[k] = Way::PACK;
            }
        }
        i = nEnd;
    }
    // The runs, in file order.
    for (uint32_t i = plan.nKeptChunks; i < nChunks;) {
        const Way way = vecWay[i];
        uint32_t nEnd = i;
        while (nEnd < nChunks && vecWay[nEnd] == way) {
            ++nEnd;
        }
        RQ_DELTA_RUN run;
        run.nFirstChunk = i;
        run.nChunks = nEnd - i;
        if (way == Way::COPY) {
            run.source = RQDeltaSource::COPY;
            plan.ullCopyBytes += layout.vecFileOffsets[nEnd] - layout.vecFileOffsets[i];
        } else if (way == Way::PACK) {
            run.source = RQDeltaSource::PACK;
            run.vecFrames = RQDeltaPackFrames(index, layout, i, nEnd - i);
        } else {
            // Whole blocks: the first may hold kept chunks, which are skipped.
            run.source = RQDeltaSource::ZST;
            const uint32_t nFirstBlock = layout.vecBlockOfChunk[i];
            const uint32_t nLastBlock = layout.vecBlockOfChunk[nEnd - 1];
            run.vecFrames = RQDeltaZstFrames(index, layout, nFirstBlock, nLastBlock - nFirstBlock + 1);
            run.nFirstChunk = layout.vecBlockFirst[nFirstBlock];
            run.nChunks = nEnd - run.nFirstChunk;
        }
        if (!run.vecFrames.empty()) {
            plan.ullFetchBytes += RQDeltaRunEnd(run) - RQDeltaRunStart(run);
            ++plan.nRequests;
        }
        plan.vecRuns.push_back(std::move(run));
        i = nEnd;
    }
    return plan;
}
