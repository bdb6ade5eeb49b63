// The transfer queue's files made from their parts (see launcher/delta): the
// preparation every slot takes part in before any file is fetched (indexes,
// old files cut into seeds, then one plan per file), and the fetch of a
// planned file's ranges through the slot's server, waits and progress rule.
#include "launcher/transfer/RQTransferQueue.h"

#include <algorithm>
#include <filesystem>
#include <string>

#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLUtf8.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "launcher/delta/RQDeltaAssembly.h"
#include "launcher/transfer/RQTransferQueueState.h"
#include "patch/RQReservedNames.h"

using namespace rqqueue;

namespace {

// Requests for a file's chunk index: one that cannot be had costs only the
// whole file, so it is not worth many tries.
constexpr unsigned kDeltaIndexTries = 3;
// The seeds of the old files are held in memory (about 1 % of their size):
// old files beyond this many chunks (some 3 GiB) are not cut.
constexpr size_t kMaxSeedChunks = 400 * 1000;

RQ_DELTA_FILE DeltaFile(const RQ_TRANSFER_JOB& job) {
    return RQ_DELTA_FILE{job.strLocal, job.ullSize, job.strSha256, job.strDeltaIndex};
}

}  // namespace

class CRQTransferQueue::CState::CDeltaSink : public CRQBLFetchSink {
public:
    CDeltaSink(CState& state, CSlot& slot, CRQBLFetchSink& inner, const RQBL_FETCH_REQUEST& request,
               uint64_t ullBarBytes, bool& bIgnoresRanges)
        : m_state(state),
          m_slot(slot),
          m_inner(inner),
          m_bFromMiddle(request.ullRangeStart > 0),
          m_ullBarBytes(ullBarBytes),
          m_bIgnoresRanges(bIgnoresRanges) {}

    bool OnHead(const RQBL_RESPONSE_HEAD& head) override {
        if (head.nStatus == 200 && m_bFromMiddle) {
            // Every range would cost the object from its start: the file is
            // cheaper whole.
            m_bIgnoresRanges = true;
            return false;
        }
        m_state.ResponseBegan(m_slot);
        return m_inner.OnHead(head);
    }

    bool OnData(const uint8_t* pData, size_t nBytes) override {
        if (m_state.limiter.IsLimited() && !m_state.limiter.WaitToPass(nBytes, &m_slot.bAbort)) {
            return false;
        }
        m_slot.ullReceived += nBytes;
        m_slot.ullFileBytes = std::min(m_ullBarBytes, m_slot.ullFileBytes.load() + nBytes);
        return m_inner.OnData(pData, nBytes);
    }

private:
    CState& m_state;
    CSlot& m_slot;
    CRQBLFetchSink& m_inner;
    const bool m_bFromMiddle;
    const uint64_t m_ullBarBytes;
    bool& m_bIgnoresRanges;
};

CRQTransferClock::TimePoint CRQTransferQueue::CState::BusyGiveUpAt(const CBusyWait& busy) const {
    const auto patience = std::chrono::milliseconds(
        busy.bOnlyRefusals ? std::min(options.dwRefusedPatienceMs, options.dwBusyPatienceMs)
                           : options.dwBusyPatienceMs);
    return busy.bWaiting ? busy.since + patience : CRQTransferClock::kNever;
}

void CRQTransferQueue::CState::BusyAnswer(CBusyWait& busy, const RQBL_FETCH_RESULT& result) {
    if (!busy.bWaiting) {
        busy.bWaiting = true;
        busy.bOnlyRefusals = true;
        busy.since = clock.Now();
    }
    busy.bOnlyRefusals = busy.bOnlyRefusals && result.error == RQBLFetchError::CONNECT;
    busy.last = result;
}

RQRangeFetchFn CRQTransferQueue::CState::ObjectFetch(CSlot& slot, uint64_t ullBarBytes, CBusyWait& busy,
                                                     unsigned& nTries, bool& bIgnoresRanges) {
    // nTurn: the server the file's last request went to; a range after a
    // failed one goes to the next, the others stay where the file gets served.
    return [this, &slot, ullBarBytes, &busy, &nTries, &bIgnoresRanges, nTurn = size_t{0}](
               const RQ_RANGE_REQUEST& range, CRQBLFetchSink& sink, RQBL_FETCH_RESULT& result) mutable {
        if (range.nTry > 0) {
            // The last try failed: the next server in turn, after a wait.
            ++nRetries;
            ++nTurn;
            WaitBeforeTry(range.nTry);
        }
        for (;;) {
            const ServerWait wait = WaitForServer(slot, nTurn, BusyGiveUpAt(busy));
            if (wait == ServerWait::STOPPED || bIgnoresRanges) {
                return false;
            }
            if (wait == ServerWait::GAVE_UP) {
                result = busy.last;  // a fruitless try: the caller gives up soon
                return true;
            }
            const size_t nServer = slot.permit.nServer;
            RQBL_FETCH_REQUEST request;
            request.strUrl = BaseUrl(nServer) + range.strObject;
            request.ullRangeStart = range.ullStart;
            request.ullRangeEnd = range.ullEnd;
            if (limiter.IsLimited()) {
                request.nMaxReadBytes =
                    static_cast<size_t>(std::max<uint64_t>(16 * 1024, limiter.Rate() / 8));
            }
            CDeltaSink counted(*this, slot, sink, request, ullBarBytes, bIgnoresRanges);
            BeginTry(slot);
            result.error = RQBLFetchError::ABORTED;
            if (!bStop) {
                result = slot.pTransport->Fetch(request, counted);
            }
            slot.bInTry = false;
            if (IsBusy(result) && !slot.bStalled && !bStop) {
                BusyAnswer(busy, result);
                ServerRefused(slot, result);
                nTurn = nServer + 1;  // a mirror may serve meanwhile
                continue;
            }
            busy.bWaiting = false;
            ++nTries;
            nTurn = nServer;
            ReleaseServer(slot, result.nStatus != 0);
            return !bStop && !bIgnoresRanges;
        }
    };
}

void CRQTransferQueue::CState::PrepareDeltas(CSlot& slot) {
    for (;;) {
        size_t nJob = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (bStop || nNextPrepare >= vecDeltaJobs.size()) {
                break;
            }
            nJob = vecDeltaJobs[nNextPrepare++];
        }
        PrepareDelta(slot, nJob);
        std::lock_guard<std::mutex> lock(mutex);
        ++nPrepareEnded;
    }
    // Every plan needs every seed: the last slot to finish plans them all,
    // the others wait for it (the bar's total is known from then on).
    std::unique_lock<std::mutex> lock(mutex);
    if (bPrepared || bStop) {
        return;
    }
    if (nPrepareEnded == vecDeltaJobs.size() && !bPlanning) {
        bPlanning = true;
        lock.unlock();
        PlanDeltas();
        lock.lock();
        bPrepared = true;
        cvSlots.notify_all();
        return;
    }
    clock.WaitUntil(lock, cvSlots, CRQTransferClock::kNever, [this] { return bStop.load() || bPrepared; });
}

void CRQTransferQueue::CState::PrepareDelta(CSlot& slot, size_t nJob) {
    const RQ_TRANSFER_JOB& job = vecJobs[nJob];
    RQ_DELTA_WORK& work = *vecDelta[nJob];
    CBusyWait busy;
    unsigned nTries = 0;
    bool bIgnoresRanges = false;
    std::string strWhy;
    if (!RQFetchDeltaIndex(DeltaFile(job), ObjectFetch(slot, 0, busy, nTries, bIgnoresRanges),
                           kDeltaIndexTries, work, strWhy)) {
        if (!bStop) {
            RQ_LOG(log, kTag, RQ_LOG_ERR)
                .Trace(kTraceNum, L"TRANSFER DELTA INDEX FAIL : %ls, %ls, fetched whole",
                       job.strShown.c_str(), RQBLUtf8ToWide(strWhy).c_str());
        }
        return;
    }
    // The player's old copy: whatever of it the new version still holds is
    // copied, by this file or any other of the update. Where the new version
    // only rewrote parts of it in place, the places are hashed and the cut
    // (which costs as much again) is skipped; the rewritten parts of the old
    // copy then seed no other file, a small loss beside the time.
    uint64_t ullOld = 0;
    if (seeds.ChunkCount() < kMaxSeedChunks && rqbl::GetRegularFileSize(job.strLocal, ullOld) && ullOld > 0 &&
        rqbl::CheckNoLinkOnPath(job.strLocal) == rqbl::FileError::NONE &&
        !seeds.AddInPlace(job.strLocal, work.index, &nStopReads)) {
        seeds.AddFile(job.strLocal, work.index.params, &nStopReads);
    }
}

void CRQTransferQueue::CState::PlanDeltas() {
    for (size_t nJob : vecDeltaJobs) {
        const RQ_TRANSFER_JOB& job = vecJobs[nJob];
        RQ_DELTA_WORK& work = *vecDelta[nJob];
        if (bStop || !work.bIndexed) {
            continue;
        }
        RQPlanDeltaWork(DeltaFile(job), seeds, &nStopReads, work);
        if (!work.bUsable) {
            work = RQ_DELTA_WORK();
            continue;
        }
        ullTotalBytes -= job.ullSize - work.plan.ullFetchBytes;
        RQ_LOG(log, kTag, RQ_LOG_NTS)
            .Trace(kTraceNum, L"TRANSFER DELTA : %ls, %ls of %ls bytes to fetch, %ls copied, %ls kept",
                   job.strShown.c_str(), std::to_wstring(work.plan.ullFetchBytes).c_str(),
                   std::to_wstring(job.ullSize).c_str(), std::to_wstring(work.plan.ullCopyBytes).c_str(),
                   std::to_wstring(work.plan.ullKeptBytes).c_str());
    }
}

RQ_TRANSFER_OUTCOME CRQTransferQueue::CState::RunAnyJob(CSlot& slot, size_t nJob) {
    RQ_DELTA_WORK* pWork = vecDelta[nJob].get();
    if (pWork != nullptr && pWork->bUsable) {
        bool bWhole = false;
        RQ_TRANSFER_OUTCOME out = RunDeltaJob(slot, nJob, *pWork, bWhole);
        const uint64_t ullPlanned = pWork->plan.ullFetchBytes;
        vecDelta[nJob].reset();  // the index and the plan are done with
        if (!bWhole) {
            return out;
        }
        // Counted whole from here on.
        ullTotalBytes += vecJobs[nJob].ullSize - ullPlanned;
        slot.ullFileBytes = 0;
    }
    return RunJob(slot, nJob);
}

RQ_TRANSFER_OUTCOME CRQTransferQueue::CState::RunDeltaJob(CSlot& slot, size_t nJob, RQ_DELTA_WORK& work,
                                                          bool& bWhole) {
    const RQ_TRANSFER_JOB& job = vecJobs[nJob];
    RQ_TRANSFER_OUTCOME out;
    const std::wstring strPart = RQDownloadTempPath(job.strLocal);
    RQ_DELTA_TARGET target;
    target.strPart = strPart;
    target.ullBytes = job.ullSize;
    target.dwCrc = job.dwCrc;
    // A link on the way: the whole-file path refuses it, with its log line.
    if (!RQBLParseSha256Hex(job.strSha256, target.sha256) ||
        rqbl::CheckNoLinkOnPath(strPart) != rqbl::FileError::NONE) {
        bWhole = true;
        return out;
    }
    const std::wstring strFolder = std::filesystem::path(job.strLocal).parent_path().wstring();
    if (!strFolder.empty()) {
        EnsureFolder(strFolder);
    }
    if (!ReserveRoom(slot, job.ullSize - work.plan.ullKeptBytes, out.ullFree)) {
        out.failure = RQTransferFailure::DISK_FULL;
        out.ullNeeded = job.ullSize - work.plan.ullKeptBytes;
        RequestStop();
        return out;
    }
    // Known to the resume record: a part the next run does not want is removed.
    KeepValidator(job, std::string());
    CBusyWait busy;
    bool bIgnoresRanges = false;
    CRQDeltaAssembly assembly(work.index, work.layout, work.plan, seeds, target);
    const RQDeltaAssembled assembled =
        assembly.Run(ObjectFetch(slot, work.plan.ullFetchBytes, busy, out.nTries, bIgnoresRanges),
                     options.nTries, bStop, nullptr);
    RQTransferFailure failure = RQTransferFailure::STOPPED;
    switch (assembled) {
        case RQDeltaAssembled::DONE: {
            CRQDownloadSink sink(job, options, RQ_SINK_LINKS{}, log);
            failure = sink.CommitPart(assembly.Finished(), bStop);
            bWhole = failure == RQTransferFailure::CHECK_FAILED;
            break;
        }
        case RQDeltaAssembled::FETCH_FAILED:
            if (busy.bWaiting && clock.Now() >= BusyGiveUpAt(busy)) {
                // The servers stayed busy for all the patience there is: the
                // whole file would only wait as long again.
                failure = busy.last.error == RQBLFetchError::STATUS ? RQTransferFailure::SERVER_REFUSED
                                                                    : RQTransferFailure::UNREACHABLE;
                out.nStatus = busy.last.nStatus;
                break;
            }
            failure = RQTransferFailure::CHECK_FAILED;
            bWhole = true;
            break;
        case RQDeltaAssembled::CHECK_FAILED:
            failure = RQTransferFailure::CHECK_FAILED;
            bWhole = true;
            break;
        case RQDeltaAssembled::DISK_FULL:
            failure = RQTransferFailure::DISK_FULL;
            break;
        case RQDeltaAssembled::WRITE_FAILED:
            failure = RQTransferFailure::WRITE_FAILED;
            break;
        case RQDeltaAssembled::STOPPED:
            failure = RQTransferFailure::STOPPED;
            bWhole = bIgnoresRanges && !bStop;
            break;
    }
    if (failure == RQTransferFailure::NONE) {
        out.bDone = true;
        slot.ullFileBytes = work.plan.ullFetchBytes;
        std::lock_guard<std::mutex> lock(mutex);
        record.Erase(job.strLocal);
        return out;
    }
    if (bWhole) {
        RQ_LOG(log, kTag, RQ_LOG_ERR)
            .Trace(kTraceNum, L"TRANSFER DELTA FAIL : %ls, %ls, fetched whole", job.strShown.c_str(),
                   bIgnoresRanges ? L"a server without ranges" : FailureName(failure));
        return out;
    }
    out.failure = bStop && failure != RQTransferFailure::DISK_FULL ? RQTransferFailure::STOPPED : failure;
    if (!bStop) {
        RQ_LOG(log, kTag, RQ_LOG_ERR)
            .Trace(kTraceNum, L"TRANSFER FAIL : %ls, delta, %ls", job.strShown.c_str(), FailureName(failure));
    }
    if (failure == RQTransferFailure::DISK_FULL) {
        uint64_t ullPart = 0;
        rqbl::GetRegularFileSize(strPart, ullPart);
        out.ullNeeded = job.ullSize - std::min(job.ullSize, ullPart);
        rqbl::GetFreeDiskBytes(L".", out.ullFree);
        RequestStop();
    }
    return out;
}
