// Delta updates: writing one file's part by its plan (see RQDeltaSeeds.h for
// the whole). The part is written strictly in file order, so that whatever
// stops it (a cut, a kill, a full disk) leaves a prefix of the new version
// that the next run checks and keeps. Fetched chunks are checked by the frame
// reader before they are written. Copied ones are not hashed chunk by chunk:
// whatever changed in the old file since it was cut is found by the whole
// file's size, CRC-32 and SHA-256, taken of every byte as it is written. That
// is as good as hashing the finished part as it lies on the disk, and costs
// no second read of a file that may be gigabytes: the part is held against
// other writers from the moment it is opened (its kept prefix is read back
// through that handle) until the caller has renamed it over the old file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLSealedFile.h"
#include "baselib/RQBLSha256.h"
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
    DONE,          // the part is the listed file, held (Finished)
    FETCH_FAILED,  // a range could not be had (the caller gave up on it)
    DISK_FULL,
    WRITE_FAILED,
    CHECK_FAILED,  // a chunk to copy is gone, or the chunks do not make the listed size
    STOPPED,
};

class CRQDeltaAssembly {
public:
    CRQDeltaAssembly(const RQ_DELTA_INDEX& index, const RQ_DELTA_LAYOUT& layout, const RQ_DELTA_PLAN& plan,
                     const CRQDeltaSeeds& seeds, RQ_DELTA_TARGET target);

    // nTries: tries of a range in a row that bring no frame further before
    // it is given up. pReceived (may be null) counts the bytes that arrived.
    // fnFetch is called on this thread only; the part is written on a thread
    // of the assembly's own, so that the old file is copied while the ranges
    // after it travel.
    RQDeltaAssembled Run(const RQRangeFetchFn& fnFetch, unsigned nTries, const std::atomic<bool>& stop,
                         std::atomic<uint64_t>* pReceived);
    // After DONE: the part, still held, to be renamed over the old file (or
    // closed, and the part removed).
    rqbl::CRQBLSealedFile& Finished() { return m_finished; }

    // Checked chunks that the ranges brought ahead of the writer wait for it
    // in memory up to about this many bytes (then the ranges wait).
    static constexpr size_t AHEAD_BYTES = 8 * 1024 * 1024;

private:
    struct RQ_FETCHED_CHUNK {
        uint32_t nChunk = 0;
        std::vector<uint8_t> vecBytes;
    };

    RQDeltaAssembled KeepPrefix(const std::atomic<bool>& stop);
    // Whether everything written makes the listed file.
    bool WrittenIsListed();
    // The writer's thread: every run in file order. With pFetch (no thread
    // could be started), this thread fetches each run's ranges itself.
    RQDeltaAssembled WriteRuns(const std::atomic<bool>& stop, const RQRangeFetchFn* pFetch = nullptr,
                               unsigned nTries = 0, std::atomic<uint64_t>* pReceived = nullptr);
    RQDeltaAssembled Copy(const RQ_DELTA_RUN& run, const std::atomic<bool>& stop);
    // Writes the run's chunks as the fetching side hands them over.
    RQDeltaAssembled TakeFetched(const RQ_DELTA_RUN& run, const std::atomic<bool>& stop);
    // This thread: one run's ranges.
    RQDeltaAssembled Fetch(const RQ_DELTA_RUN& run, const RQRangeFetchFn& fnFetch, unsigned nTries,
                           const std::atomic<bool>& stop, std::atomic<uint64_t>* pReceived);
    // A checked chunk to the writer, when it is the next one the run needs;
    // false when the writer has given up.
    bool HandOver(uint32_t nChunk, const uint8_t* pData, size_t nBytes, const std::atomic<bool>& stop);
    // Writes chunk nChunk when it is the next one the part needs.
    bool WriteChunk(uint32_t nChunk, const uint8_t* pData, size_t nBytes);
    // Writes the chunks taken so far; false (m_writeError) when that fails.
    bool Flush();
    RQDeltaAssembled WriteFailure() const;

    const RQ_DELTA_INDEX& m_index;
    const RQ_DELTA_LAYOUT& m_layout;
    const RQ_DELTA_PLAN& m_plan;
    const CRQDeltaSeeds& m_seeds;
    const RQ_DELTA_TARGET m_target;
    // The writer's own.
    rqbl::CRQBLOutFile m_file;
    rqbl::FileError m_writeError = rqbl::FileError::NONE;
    // Of every byte in the part, in order: the kept prefix, then each write.
    CRQBLSha256 m_sha;
    CRQBLStreamCrc m_crc;
    uint64_t m_ullWritten = 0;
    std::vector<uint8_t> m_vecPending;  // taken, not yet written
    uint32_t m_nNextChunk = 0;
    // The fetching side's own: the next chunk the current range run hands over.
    uint32_t m_nNextHanded = 0;
    // No writer thread: chunks are written as they are handed over.
    bool m_bInline = false;
    // Between the two.
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<RQ_FETCHED_CHUNK> m_queue;
    size_t m_nQueuedBytes = 0;
    bool m_bWriterEnded = false;
    bool m_bFetchEnded = false;
    RQDeltaAssembled m_fetchResult = RQDeltaAssembled::DONE;
    rqbl::CRQBLSealedFile m_finished;
};
