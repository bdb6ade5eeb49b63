// Delta updates: writing one file's part by its plan (see RQDeltaSeeds.h for
// the whole). The part is written strictly in file order, so that whatever
// stops it (a cut, a kill, a full disk) leaves a prefix of the new version
// that the next run checks and keeps. Copied chunks are read again from the
// old file and checked (it may have changed since it was cut); fetched ones
// are checked by the frame reader before they are written. The whole part is
// checked against the listed size, CRC-32 and SHA-256 at the end; putting it
// in place is the caller's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLStreamCrc.h"
#include "baselib/RQBLTransport.h"
#include "launcher/delta/RQDeltaPlan.h"

struct RQ_DELTA_TARGET {
    std::wstring strPart;  // written here
    uint64_t ullBytes = 0;
    uint32_t dwCrc = 0;
    RQ_SHA256 sha256{};
};

// One request for [ullStart, ullEnd) of an object (its path under the
// content server's base, such as delta/ab/<hash>.pack).
struct RQ_RANGE_REQUEST {
    std::wstring strObject;
    uint64_t ullStart = 0;
    uint64_t ullEnd = 0;
    // 0 for the first request of a run; a later one comes after a try that
    // broke off or failed (the caller pauses first, and may ask another
    // server).
    unsigned nTry = 0;
};

// Makes the request and hands the answer to sink. False when no request was
// made: the launcher is stopping. The caller chooses the server and keeps
// its waits (a busy server) apart from the tries.
using RQRangeFetchFn =
    std::function<bool(const RQ_RANGE_REQUEST& request, CRQBLFetchSink& sink, RQBL_FETCH_RESULT& result)>;

enum class RQDeltaAssembled {
    DONE,          // the part is the listed file
    FETCH_FAILED,  // a range could not be had (the caller gave up on it)
    DISK_FULL,
    WRITE_FAILED,
    CHECK_FAILED,  // the whole part is not the listed file (nothing of it is kept)
    STOPPED,
};

class CRQDeltaAssembly {
public:
    CRQDeltaAssembly(const RQ_DELTA_INDEX& index, const RQ_DELTA_LAYOUT& layout, const RQ_DELTA_PLAN& plan,
                     const CRQDeltaSeeds& seeds, RQ_DELTA_TARGET target);

    // nTries: tries of a range in a row that bring no frame further before
    // it is given up. pReceived (may be null) counts the bytes that arrived.
    RQDeltaAssembled Run(const RQRangeFetchFn& fnFetch, unsigned nTries, const std::atomic<bool>& stop,
                         std::atomic<uint64_t>* pReceived);

private:
    RQDeltaAssembled KeepPrefix();
    RQDeltaAssembled Copy(const RQ_DELTA_RUN& run);
    RQDeltaAssembled Fetch(const RQ_DELTA_RUN& run, const RQRangeFetchFn& fnFetch, unsigned nTries,
                           const std::atomic<bool>& stop, std::atomic<uint64_t>* pReceived);
    // Writes chunk nChunk when it is the next one the part needs.
    bool WriteChunk(uint32_t nChunk, const uint8_t* pData, size_t nBytes);
    // Writes the chunks taken so far; false (m_writeError) when that fails.
    bool Flush();

    const RQ_DELTA_INDEX& m_index;
    const RQ_DELTA_LAYOUT& m_layout;
    const RQ_DELTA_PLAN& m_plan;
    const CRQDeltaSeeds& m_seeds;
    const RQ_DELTA_TARGET m_target;
    rqbl::CRQBLOutFile m_file;
    rqbl::FileError m_writeError = rqbl::FileError::NONE;
    std::vector<uint8_t> m_vecPending;  // taken, not yet written
    uint32_t m_nNextChunk = 0;
    CRQBLStreamCrc m_crc;
    CRQBLSha256 m_sha;
    CRQBLSha256 m_chunkSha;
};
