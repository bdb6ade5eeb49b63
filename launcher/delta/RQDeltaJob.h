// Delta updates inside the transfer queue (see RQDeltaSeeds.h for the
// whole): what the queue keeps for one file between its preparation (the
// index fetched and checked, the player's old copy cut into seeds) and its
// transfer (the plan made once every seed is known, then the assembly).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "baselib/RQBLTransport.h"
#include "launcher/delta/RQDeltaAssembly.h"
#include "launcher/delta/RQDeltaPlan.h"
#include "patch/RQDeltaIndex.h"

// A file of this size or more is made from what the player has where that
// costs less. A smaller one only when its old copy is there (mkpatch cuts
// small files finely: a few changed bytes in a 16 KiB icon cost a KiB or
// two, and its index a few hundred bytes); without one, its index would cost
// a request for nothing. Below RQ_DELTA_SMALLEST_FILE_BYTES, never.
inline constexpr uint64_t RQ_DELTA_MIN_FILE_BYTES = 64 * 1024;
inline constexpr uint64_t RQ_DELTA_SMALLEST_FILE_BYTES = 4 * 1024;

// Whether a changed file of ullListedBytes, whose old copy has ullOldBytes
// (0: none), is worth fetching its index for.
inline bool RQDeltaWorthIndex(uint64_t ullListedBytes, uint64_t ullOldBytes) {
    return ullListedBytes >= RQ_DELTA_MIN_FILE_BYTES ||
           (ullListedBytes >= RQ_DELTA_SMALLEST_FILE_BYTES && ullOldBytes >= RQ_DELTA_SMALLEST_FILE_BYTES);
}

// The listed file that a delta is for.
struct RQ_DELTA_FILE {
    std::wstring strLocal;  // relative to the game folder
    uint64_t ullBytes = 0;
    std::string strSha256;       // of the file, lower-case hex
    std::string strIndexSha256;  // of its chunk index (slot 14)
};

struct RQ_DELTA_WORK {
    RQ_DELTA_INDEX index;
    RQ_DELTA_LAYOUT layout;
    RQ_DELTA_PLAN plan;
    bool bIndexed = false;  // the index arrived and passed its checks
    bool bUsable = false;   // planned, and cheaper than the whole file
};

// Takes a whole answer into memory, up to a cap enforced against the
// announced length and while the bytes arrive.
class CRQMemorySink : public CRQBLFetchSink {
public:
    explicit CRQMemorySink(uint64_t ullMaxBytes) : m_ullMaxBytes(ullMaxBytes) {}
    bool OnHead(const RQBL_RESPONSE_HEAD& head) override;
    bool OnData(const uint8_t* pData, size_t nBytes) override;
    const std::string& Bytes() const { return m_strBytes; }
    bool OverCap() const { return m_bOverCap; }

private:
    const uint64_t m_ullMaxBytes;
    std::string m_strBytes;
    bool m_bOverCap = false;
};

// The index of a job's file: its SHA-256 must be the one the script names,
// it must describe the listed size and SHA-256, and hold nothing else.
bool RQAcceptDeltaIndex(const std::string& strBytes, const RQ_DELTA_FILE& file, RQ_DELTA_INDEX& index,
                        std::string& strWhy);

// Fetches and checks the job's index (up to nTries requests); false with the
// reason when the file is to be fetched whole.
bool RQFetchDeltaIndex(const RQ_DELTA_FILE& file, const RQRangeFetchFn& fnFetch, unsigned nTries,
                       RQ_DELTA_WORK& work, std::string& strWhy);

// Once every seed is in: the part an earlier run left is checked, the plan
// made, and the file marked usable when its plan costs less than the file.
void RQPlanDeltaWork(const RQ_DELTA_FILE& file, const CRQDeltaSeeds& seeds, const std::atomic<int64_t>* pStop,
                     RQ_DELTA_WORK& work);
