// Inside the transfer queue: the state its slots share, for the two files
// that implement it (whole files, and files made from their parts). Not for
// anyone else.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "baselib/RQBLTransport.h"
#include "launcher/delta/RQDeltaJob.h"
#include "launcher/delta/RQDeltaSeeds.h"
#include "launcher/transfer/RQBlockWriter.h"
#include "launcher/transfer/RQDownloadSink.h"
#include "launcher/transfer/RQProgressGuard.h"
#include "launcher/transfer/RQRateLimiter.h"
#include "launcher/transfer/RQResumeRecord.h"
#include "launcher/transfer/RQServerBoard.h"
#include "launcher/transfer/RQTransferQueue.h"

namespace rqqueue {

using TimePoint = CRQTransferClock::TimePoint;

inline const wchar_t* const kTag = L"CRQTransferQueue::RunJob";
inline constexpr int kTraceNum = 130021;

const wchar_t* FailureName(RQTransferFailure failure);
// A server that says "later": not a broken file. Only these pause the server
// and leave the file's tries alone; a 500 or a time-out is a try like any.
bool IsBusy(const RQBL_FETCH_RESULT& result);

}  // namespace rqqueue

struct CRQTransferQueue::CState {
    using TimePoint = rqqueue::TimePoint;

    struct CSlot {
        explicit CSlot(const RQ_PROGRESS_RULE& rule) : guard(rule) {}
        std::unique_ptr<CRQBLTransport> pTransport;
        // Its files' larger bodies are written and hashed on this one's thread.
        CRQBlockWriter writer;
        std::thread thread;
        bool bEnded = false;  // under the state's mutex
        std::atomic<bool> bAbort{false};
        std::atomic<bool> bStalled{false};
        std::atomic<bool> bInTry{false};
        std::atomic<uint64_t> ullFileBytes{0};
        std::atomic<uint64_t> ullReceived{0};
        // Under the state's mutex: the try's progress, its room on the disk,
        // its hold on a server, and what it waits for.
        CRQProgressGuard guard;
        uint64_t ullRoomEnd = 0;  // the file's bytes once this try is through
        RQ_SERVER_PERMIT permit;
        bool bHasPermit = false;
        bool bWaitingForServer = false;
        TimePoint lookAgainAt = CRQTransferClock::kNever;
    };

    enum class ServerWait { GOT_ONE, GAVE_UP, STOPPED };

    // A file's waits for busy servers: not tries, until the patience ends.
    struct CBusyWait {
        bool bWaiting = false;
        bool bOnlyRefusals = true;  // every busy answer so far a refused connection
        TimePoint since{};
        RQBL_FETCH_RESULT last;
    };
    class CDeltaSink;

    CState(RQ_TRANSFER_OPTIONS opts, CRQBLLogSink& logSink)
        : options(std::move(opts)),
          log(logSink),
          pClock(options.pClock ? options.pClock : std::make_shared<CRQSteadyClock>()),
          clock(*pClock),
          limiter(options.ullRateLimitBytesPerSec),
          board(std::max<size_t>(1, options.vecBaseUrls.size()), std::max(1u, options.nParallel),
                options.backoff, options.nJitterSeed != 0 ? options.nJitterSeed : std::random_device()()) {}

    const RQ_TRANSFER_OPTIONS options;
    CRQBLLogSink& log;
    const std::shared_ptr<CRQTransferClock> pClock;
    CRQTransferClock& clock;
    TransportFactory fnMakeTransport;
    CRQRateLimiter limiter;
    std::vector<RQ_TRANSFER_JOB> vecJobs;
    std::vector<RQ_TRANSFER_OUTCOME> vecOutcomes;
    std::vector<std::unique_ptr<CSlot>> vecSlots;
    std::thread watchdog;

    // One lock; each kind of waiter has its own condition, woken only when
    // what it waits for may have changed: under Wine every needless wake-up
    // is a few round trips to the Wine server, on every file.
    mutable std::mutex mutex;
    std::condition_variable cvOwner;     // WaitForEnd, Stop
    std::condition_variable cvSlots;     // slots waiting for a server or a try
    std::condition_variable cvWatchdog;  // the watchdog, when it has no try to watch
    uint32_t nWaitingForServer = 0;
    bool bWatchdogIdle = false;
    CRQServerBoard board;
    // Folders made for this queue's files, not asked for again.
    std::set<std::wstring> setFolders;
    // The volume's last answer about free room, and what was granted since.
    bool bHasFreeRoom = false;
    uint64_t ullFreeRoom = 0;
    uint64_t ullGrantedSince = 0;
    TimePoint freeRoomAt{};
    CRQResumeRecord record;
    size_t nNextJob = 0;
    uint32_t nEndedJobs = 0;
    uint32_t nLiveSlots = 0;
    uint32_t nStarted = 0;
    uint32_t nBusyAnswers = 0;
    uint64_t nTriesBegun = 0;   // the watchdog looks again when this changes
    uint64_t ullDoneBytes = 0;  // of the jobs that ended well
    // Files made from the player's old ones: per job (null for the others),
    // the seeds of every old file, and their preparation before any transfer.
    std::vector<std::unique_ptr<RQ_DELTA_WORK>> vecDelta;
    std::vector<size_t> vecDeltaJobs;
    CRQDeltaSeeds seeds;
    size_t nNextPrepare = 0;
    size_t nPrepareEnded = 0;
    bool bPlanning = false;
    bool bPrepared = true;
    std::atomic<int64_t> nStopReads{0};  // for the readers of old files
    std::atomic<uint64_t> ullTotalBytes{0};
    std::atomic<uint32_t> nRetries{0};
    std::atomic<bool> bStop{false};

    void RequestStop() {
        bStop = true;
        nStopReads = 1;
        for (auto& pSlot : vecSlots) {
            pSlot->bAbort = true;
            pSlot->pTransport->Abort();
        }
        std::lock_guard<std::mutex> lock(mutex);
        cvOwner.notify_all();
        cvSlots.notify_all();
        cvWatchdog.notify_all();
    }
    // The board changed: slots waiting for a server look again.
    void ServersChanged() {
        if (nWaitingForServer > 0) {
            cvSlots.notify_all();
        }
    }

    static void SlotMain(std::shared_ptr<CState> pState, size_t nSlot);
    static void WatchdogMain(std::shared_ptr<CState> pState);
    RQ_TRANSFER_OUTCOME RunJob(CSlot& slot, size_t nJob);
    // A file with a usable plan is made from its parts; one that cannot be
    // (its objects cannot be had, a part fails its check) is fetched whole.
    RQ_TRANSFER_OUTCOME RunAnyJob(CSlot& slot, size_t nJob);
    RQ_TRANSFER_OUTCOME RunDeltaJob(CSlot& slot, size_t nJob, RQ_DELTA_WORK& work, bool& bWhole);
    void PrepareDeltas(CSlot& slot);
    void PrepareDelta(CSlot& slot, size_t nJob);
    void PlanDeltas();
    // Requests of a file's objects through this slot: the same servers,
    // waits and progress rule as whole files. bIgnoresRanges is set when a
    // server answers a range with the whole object.
    RQRangeFetchFn ObjectFetch(CSlot& slot, uint64_t ullBarBytes, CBusyWait& busy, unsigned& nTries,
                               bool& bIgnoresRanges);
    TimePoint BusyGiveUpAt(const CBusyWait& busy) const;
    void BusyAnswer(CBusyWait& busy, const RQBL_FETCH_RESULT& result);
    // A response with content began on the slot's server.
    void ResponseBegan(CSlot& slot);
    ServerWait WaitForServer(CSlot& slot, size_t nTurn, TimePoint giveUpAt);
    void BeginTry(CSlot& slot);
    void ServerRefused(CSlot& slot, const RQBL_FETCH_RESULT& result);
    void ReleaseServer(CSlot& slot, bool bAnswered);
    // The growing wait after nTries failed tries (cut short by a stop).
    void WaitBeforeTry(unsigned nTries);
    std::wstring BaseUrl(size_t nServer) const {
        return options.vecBaseUrls.empty() ? std::wstring() : options.vecBaseUrls[nServer];
    }
    bool ReserveRoom(CSlot& slot, uint64_t ullNeeded, uint64_t& ullFree);
    void EnsureFolder(const std::wstring& strFolder);
    void KeepValidator(const RQ_TRANSFER_JOB& job, const std::string& strValidator);
    RQTransferFailure Classify(const RQBL_FETCH_RESULT& result, const CRQDownloadSink& sink,
                               const CSlot& slot, RQ_TRANSFER_OUTCOME& out) const;
};
