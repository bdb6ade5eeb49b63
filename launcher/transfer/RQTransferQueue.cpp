#include "launcher/transfer/RQTransferQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLUtf8.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "launcher/transfer/RQBlockWriter.h"
#include "launcher/transfer/RQDownloadSink.h"
#include "launcher/transfer/RQProgressGuard.h"
#include "launcher/transfer/RQRateLimiter.h"
#include "launcher/transfer/RQResumeRecord.h"
#include "launcher/transfer/RQRetryAfter.h"
#include "launcher/transfer/RQServerBoard.h"
#include "launcher/transfer/RQTransferQueueState.h"
#include "launcher/transfer/RQUrlText.h"

using namespace rqqueue;

const wchar_t* rqqueue::FailureName(RQTransferFailure failure) {
    switch (failure) {
        case RQTransferFailure::NONE:
            return L"none";
        case RQTransferFailure::UNREACHABLE:
            return L"no answer";
        case RQTransferFailure::SERVER_REFUSED:
            return L"refused by the server";
        case RQTransferFailure::INTERRUPTED:
            return L"interrupted";
        case RQTransferFailure::CHECK_FAILED:
            return L"content differs";
        case RQTransferFailure::DISK_FULL:
            return L"disk full";
        case RQTransferFailure::FILE_IN_USE:
            return L"file in use";
        case RQTransferFailure::FOLDER_IN_WAY:
            return L"folder in the way";
        case RQTransferFailure::WRITE_FAILED:
            return L"write failed";
        case RQTransferFailure::STOPPED:
            return L"stopped";
    }
    return L"?";
}

bool rqqueue::IsBusy(const RQBL_FETCH_RESULT& result) {
    return (result.error == RQBLFetchError::STATUS && (result.nStatus == 503 || result.nStatus == 429)) ||
           (result.error == RQBLFetchError::CONNECT && result.bRefused);
}

namespace {

// Small files start over quickly; only larger ones are worth a record entry
// (each entry costs a write of the record).
constexpr uint64_t kResumeRecordMinBytes = 1024 * 1024;
constexpr auto kStopGrace = std::chrono::milliseconds(2000);
// Asking the volume for its free room costs a round trip to the system (a few
// under Wine) per file: an answer this recent serves while what was granted
// since leaves this much to spare.
constexpr auto kFreeRoomAnswerAge = std::chrono::seconds(1);
constexpr uint64_t kFreeRoomMargin = 64ull * 1024 * 1024;

// Trying again cannot help these.
bool IsFinal(RQTransferFailure failure) {
    switch (failure) {
        case RQTransferFailure::DISK_FULL:
        case RQTransferFailure::FILE_IN_USE:
        case RQTransferFailure::FOLDER_IN_WAY:
        case RQTransferFailure::WRITE_FAILED:
        case RQTransferFailure::STOPPED:
            return true;
        default:
            return false;
    }
}

std::wstring BusyName(const RQBL_FETCH_RESULT& result) {
    return result.error == RQBLFetchError::STATUS ? std::to_wstring(result.nStatus)
                                                  : std::wstring(L"connection refused");
}

uint64_t MillisecondsFrom(TimePoint now, TimePoint then) {
    return then > now ? static_cast<uint64_t>(
                            std::chrono::duration_cast<std::chrono::milliseconds>(then - now).count())
                      : 0;
}

}  // namespace

void CRQTransferQueue::CState::SlotMain(std::shared_ptr<CState> pState, size_t nSlot) {
    CSlot& slot = *pState->vecSlots[nSlot];
    pState->PrepareDeltas(slot);
    for (;;) {
        size_t nJob = 0;
        {
            std::lock_guard<std::mutex> lock(pState->mutex);
            if (pState->bStop || pState->nNextJob >= pState->vecJobs.size()) {
                break;
            }
            nJob = pState->nNextJob++;
        }
        RQ_TRANSFER_OUTCOME out = pState->RunAnyJob(slot, nJob);
        std::lock_guard<std::mutex> lock(pState->mutex);
        if (out.bDone) {
            pState->ullDoneBytes += slot.ullFileBytes.load();
        }
        slot.ullFileBytes = 0;
        pState->vecOutcomes[nJob] = out;
        if (++pState->nEndedJobs == pState->vecJobs.size()) {
            pState->cvOwner.notify_all();
        }
    }
    {
        std::lock_guard<std::mutex> lock(pState->mutex);
        slot.bEnded = true;
        if (--pState->nLiveSlots == 0) {
            if (!pState->options.strResumeRecordPath.empty()) {
                pState->record.Save(pState->options.strResumeRecordPath);
            }
            pState->cvOwner.notify_all();
            pState->cvWatchdog.notify_all();
        }
    }
    pState->clock.Leave();
}

RQ_TRANSFER_OUTCOME CRQTransferQueue::CState::RunJob(CSlot& slot, size_t nJob) {
    const RQ_TRANSFER_JOB& job = vecJobs[nJob];
    RQ_TRANSFER_OUTCOME out;
    RQ_SINK_LINKS links;
    links.pLimiter = &limiter;
    links.pAbort = &slot.bAbort;
    links.fnReserveRoom = [this, &slot](uint64_t ullNeeded, uint64_t& ullFree) {
        return ReserveRoom(slot, ullNeeded, ullFree);
    };
    links.pFileBytes = &slot.ullFileBytes;
    links.pReceivedBytes = &slot.ullReceived;
    links.pWriter = &slot.writer;
    links.fnEnsureFolder = [this](const std::wstring& strFolder) { EnsureFolder(strFolder); };
    links.fnValidator = [this, &job](const std::string& strValidator) { KeepValidator(job, strValidator); };
    // A file without a listed size counts with the length its answer
    // announces; a later try's answer takes the place of an earlier one's.
    uint64_t ullAnnounced = 0;
    links.fnResponse = [this, &job, &slot, &ullAnnounced](bool bHasLength, uint64_t ullLength) {
        if (!job.bHasCheck) {
            ullTotalBytes += (bHasLength ? ullLength : 0) - ullAnnounced;
            ullAnnounced = bHasLength ? ullLength : 0;
        }
        ResponseBegan(slot);
    };
    CRQDownloadSink sink(job, options, std::move(links), log);

    std::string strValidator;
    bool bRecorded = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const RQ_RESUME_ENTRY* pEntry = record.Find(job.strLocal);
        if (pEntry != nullptr && job.bHasCheck && pEntry->ullSize == job.ullSize &&
            pEntry->dwCrc == job.dwCrc) {
            strValidator = pEntry->strValidator;
            bRecorded = true;
        }
    }
    RQTransferFailure failure = RQTransferFailure::STOPPED;
    size_t nTurn = 0;
    bool bWaitingOnBusy = false;
    bool bOnlyRefusals = true;  // every busy answer so far a refused connection
    TimePoint busySince{};
    while (!bStop && out.nTries < options.nTries) {
        const auto patience = std::chrono::milliseconds(
            bOnlyRefusals ? std::min(options.dwRefusedPatienceMs, options.dwBusyPatienceMs)
                          : options.dwBusyPatienceMs);
        const TimePoint giveUpAt = bWaitingOnBusy ? busySince + patience : CRQTransferClock::kNever;
        const ServerWait wait = WaitForServer(slot, nTurn, giveUpAt);
        if (wait == ServerWait::STOPPED) {
            failure = RQTransferFailure::STOPPED;
            break;
        }
        if (wait == ServerWait::GAVE_UP) {
            RQ_LOG(log, kTag, RQ_LOG_ERR)
                .Trace(kTraceNum, L"TRANSFER FAIL : %ls, servers busy for %u s, %ls", job.strShown.c_str(),
                       static_cast<unsigned>(
                           std::chrono::duration_cast<std::chrono::seconds>(clock.Now() - busySince).count()),
                       FailureName(failure));
            break;
        }
        const size_t nServer = slot.permit.nServer;
        RQBL_FETCH_REQUEST request;
        request.strUrl = BaseUrl(nServer) + job.strUrlPath;
        if (limiter.IsLimited()) {
            // Small pieces under a cap, so that progress and the stall check
            // see a steady flow rather than long waits for one large read.
            request.nMaxReadBytes = static_cast<size_t>(std::max<uint64_t>(16 * 1024, limiter.Rate() / 8));
        }
        sink.PrepareTry(strValidator, bRecorded, request);
        BeginTry(slot);
        RQBL_FETCH_RESULT result;
        result.error = RQBLFetchError::ABORTED;
        if (!bStop) {
            result = slot.pTransport->Fetch(request, sink);
        }
        slot.bInTry = false;
        if (IsBusy(result) && sink.Refusal() == RQTransferFailure::NONE && !slot.bStalled && !bStop) {
            // Not a try: the server asked to be left alone for a while.
            sink.Abandon();
            strValidator = sink.Validator();
            failure = result.error == RQBLFetchError::STATUS ? RQTransferFailure::SERVER_REFUSED
                                                             : RQTransferFailure::UNREACHABLE;
            out.nStatus = result.error == RQBLFetchError::STATUS ? result.nStatus : out.nStatus;
            ++out.nBusyAnswers;
            if (!bWaitingOnBusy) {
                bWaitingOnBusy = true;
                bOnlyRefusals = true;
                busySince = clock.Now();
            }
            bOnlyRefusals = bOnlyRefusals && result.error == RQBLFetchError::CONNECT;
            ServerRefused(slot, result);
            nTurn = nServer + 1;  // a mirror may serve meanwhile
            continue;
        }
        bWaitingOnBusy = false;
        ++out.nTries;
        ReleaseServer(slot, result.nStatus != 0);
        if (result.error == RQBLFetchError::NONE && !bStop) {
            failure = sink.Commit(bStop);
            if (failure == RQTransferFailure::NONE) {
                out.bDone = true;
                std::lock_guard<std::mutex> lock(mutex);
                record.Erase(job.strLocal);
                break;
            }
        } else {
            failure = Classify(result, sink, slot, out);
            sink.Abandon();
        }
        strValidator = sink.Validator();
        RQ_LOG(log, kTag, RQ_LOG_ERR)
            .Trace(kTraceNum, L"TRANSFER FAIL : %ls, try %u of %u, %ls", job.strShown.c_str(), out.nTries,
                   options.nTries, FailureName(failure));
        if (IsFinal(failure) || (job.bMayBeMissing && (out.nStatus == 404 || out.nStatus == 403))) {
            break;
        }
        ++nRetries;
        if (out.nTries < options.nTries) {
            nTurn = nServer + 1;
            WaitBeforeTry(out.nTries);
        }
    }
    if (!out.bDone) {
        out.failure = bStop && failure != RQTransferFailure::DISK_FULL ? RQTransferFailure::STOPPED : failure;
        if (failure == RQTransferFailure::DISK_FULL) {
            out.ullNeeded = sink.Needed();
            out.ullFree = sink.Free();
            // The player has to make room first; the other files would only
            // fill the disk further.
            RequestStop();
        }
    }
    return out;
}

void CRQTransferQueue::CState::ResponseBegan(CSlot& slot) {
    std::lock_guard<std::mutex> lock(mutex);
    // The owner may wait for the first response (the patch script's).
    if (++nStarted == 1) {
        cvOwner.notify_all();
    }
    // The server answered with content: it is taking requests again.
    if (slot.bHasPermit) {
        board.Accepted(slot.permit);
        ServersChanged();
    }
}

CRQTransferQueue::CState::ServerWait CRQTransferQueue::CState::WaitForServer(CSlot& slot, size_t nTurn,
                                                                             TimePoint giveUpAt) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (bStop) {
            slot.bWaitingForServer = false;
            return ServerWait::STOPPED;
        }
        const TimePoint now = clock.Now();
        const RQ_SERVER_PICK pick = board.Pick(nTurn % board.Size(), now);
        if (pick.bPicked) {
            slot.permit = board.Start(pick.nServer);
            slot.bHasPermit = true;
            slot.bWaitingForServer = false;
            return ServerWait::GOT_ONE;
        }
        if (now >= giveUpAt) {
            slot.bWaitingForServer = false;
            return ServerWait::GAVE_UP;
        }
        slot.bWaitingForServer = pick.bAllPaused;
        slot.lookAgainAt = pick.lookAgainAt;
        const uint64_t nVersion = board.Version();
        ++nWaitingForServer;
        clock.WaitUntil(lock, cvSlots, std::min(pick.lookAgainAt, giveUpAt),
                        [this, nVersion] { return bStop.load() || board.Version() != nVersion; });
        --nWaitingForServer;
    }
}

void CRQTransferQueue::CState::BeginTry(CSlot& slot) {
    std::lock_guard<std::mutex> lock(mutex);
    slot.guard.Begin(clock.Now(), slot.ullReceived);
    slot.ullRoomEnd = 0;
    slot.bAbort = false;
    slot.bStalled = false;
    slot.bInTry = true;
    ++nTriesBegun;
    // A watchdog with tries to watch wakes for them anyway, and never later
    // than this one's first check.
    if (bWatchdogIdle) {
        cvWatchdog.notify_all();
    }
}

void CRQTransferQueue::CState::ServerRefused(CSlot& slot, const RQBL_FETCH_RESULT& result) {
    std::lock_guard<std::mutex> lock(mutex);
    const TimePoint now = clock.Now();
    uint64_t ullRetryAfter = 0;
    const bool bRetryAfter =
        result.error == RQBLFetchError::STATUS &&
        RQParseRetryAfter(result.strRetryAfter, result.strDate, clock.UtcSeconds(), ullRetryAfter);
    const TimePoint before = board.Server(slot.permit.nServer).PausedUntil();
    const TimePoint until = board.Refused(slot.permit, now, bRetryAfter ? &ullRetryAfter : nullptr);
    slot.bHasPermit = false;
    ++nBusyAnswers;
    // One line per pause, not per slot that met it.
    if (until > std::max(before, now) + std::chrono::milliseconds(500)) {
        RQ_LOG(log, kTag, RQ_LOG_NTS)
            .Trace(kTraceNum, L"TRANSFER SERVER BUSY : %ls, %ls%ls, next request in %u s, %u at once",
                   RQUrlForLog(BaseUrl(slot.permit.nServer)).c_str(), BusyName(result).c_str(),
                   bRetryAfter ? L" with Retry-After" : L"",
                   static_cast<unsigned>((MillisecondsFrom(now, until) + 999) / 1000),
                   board.Server(slot.permit.nServer).Limit());
    }
    ServersChanged();
}

void CRQTransferQueue::CState::ReleaseServer(CSlot& slot, bool bAnswered) {
    std::lock_guard<std::mutex> lock(mutex);
    if (slot.bHasPermit) {
        board.Finished(slot.permit, bAnswered);
        slot.bHasPermit = false;
        ServersChanged();
    }
}

void CRQTransferQueue::CState::WaitBeforeTry(unsigned nTries) {
    std::unique_lock<std::mutex> lock(mutex);
    const CRQTransferClock::Duration wait = board.TryDelay(nTries);
    clock.WaitUntil(lock, cvSlots, clock.Now() + wait, [this] { return bStop.load(); });
}

RQTransferFailure CRQTransferQueue::CState::Classify(const RQBL_FETCH_RESULT& result,
                                                     const CRQDownloadSink& sink, const CSlot& slot,
                                                     RQ_TRANSFER_OUTCOME& out) const {
    if (sink.Refusal() != RQTransferFailure::NONE) {
        return sink.Refusal();
    }
    if (bStop) {
        return RQTransferFailure::STOPPED;
    }
    if (slot.bStalled) {
        return RQTransferFailure::INTERRUPTED;
    }
    switch (result.error) {
        case RQBLFetchError::CONNECT:
            return RQTransferFailure::UNREACHABLE;
        case RQBLFetchError::STATUS:
            out.nStatus = result.nStatus;
            return RQTransferFailure::SERVER_REFUSED;
        default:
            return RQTransferFailure::INTERRUPTED;
    }
}

bool CRQTransferQueue::CState::ReserveRoom(CSlot& slot, uint64_t ullNeeded, uint64_t& ullFree) {
    std::lock_guard<std::mutex> lock(mutex);
    uint64_t ullOthers = 0;
    for (const auto& pOther : vecSlots) {
        if (pOther.get() != &slot && pOther->bInTry && pOther->ullRoomEnd > pOther->ullFileBytes) {
            ullOthers += pOther->ullRoomEnd - pOther->ullFileBytes;
        }
    }
    slot.ullRoomEnd = slot.ullFileBytes + ullNeeded;
    const TimePoint now = clock.Now();
    if (bHasFreeRoom && now - freeRoomAt < kFreeRoomAnswerAge &&
        ullFreeRoom > ullGrantedSince + ullOthers + ullNeeded + kFreeRoomMargin) {
        ullGrantedSince += ullNeeded;
        ullFree = ullFreeRoom - ullGrantedSince;
        return true;
    }
    // A volume that cannot be asked does not stop the update: writing fails
    // soon enough if the disk really is full.
    if (!rqbl::GetFreeDiskBytes(L".", ullFree)) {
        return true;
    }
    bHasFreeRoom = true;
    ullFreeRoom = ullFree;
    freeRoomAt = now;
    ullGrantedSince = 0;
    if (ullFree > ullOthers && ullFree - ullOthers > ullNeeded) {
        ullGrantedSince = ullNeeded;
        return true;
    }
    RQ_LOG(log, L"CRQBLHttp::DownloadBegin", RQ_LOG_ERR).Trace(11489, L"Disk Free Size Check");
    return false;
}

void CRQTransferQueue::CState::EnsureFolder(const std::wstring& strFolder) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (setFolders.count(strFolder) != 0) {
            return;
        }
    }
    // Two slots may make the same folder at once: making it is harmless twice.
    std::error_code ec;
    std::filesystem::create_directories(strFolder, ec);
    if (!ec) {
        std::lock_guard<std::mutex> lock(mutex);
        setFolders.insert(strFolder);
    }
}

void CRQTransferQueue::CState::KeepValidator(const RQ_TRANSFER_JOB& job, const std::string& strValidator) {
    if (job.ullSize < kResumeRecordMinBytes || options.strResumeRecordPath.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    const RQ_RESUME_ENTRY* pEntry = record.Find(job.strLocal);
    if (pEntry != nullptr && pEntry->strValidator == strValidator && pEntry->ullSize == job.ullSize &&
        pEntry->dwCrc == job.dwCrc) {
        return;
    }
    // Written at once: the run may be killed before it ends.
    if (record.Put(job.strLocal, RQ_RESUME_ENTRY{job.ullSize, job.dwCrc, strValidator})) {
        record.Save(options.strResumeRecordPath);
    }
}

void CRQTransferQueue::CState::WatchdogMain(std::shared_ptr<CState> pState) {
    CState& state = *pState;
    {
        std::unique_lock<std::mutex> lock(state.mutex);
        while (!state.bStop && state.nLiveSlots > 0) {
            const TimePoint now = state.clock.Now();
            TimePoint next = CRQTransferClock::kNever;
            for (auto& pSlot : state.vecSlots) {
                CSlot& slot = *pSlot;
                if (!slot.bInTry || slot.bAbort) {
                    continue;
                }
                if (slot.guard.Check(now, slot.ullReceived)) {
                    next = std::min(next, slot.guard.NextCheck());
                    continue;
                }
                slot.bStalled = true;
                slot.bAbort = true;
                slot.pTransport->Abort();
            }
            const uint64_t nTries = state.nTriesBegun;
            state.bWatchdogIdle = next == CRQTransferClock::kNever;
            state.clock.WaitUntil(lock, state.cvWatchdog, next, [&state, nTries] {
                return state.bStop.load() || state.nLiveSlots == 0 || state.nTriesBegun != nTries;
            });
            state.bWatchdogIdle = false;
        }
    }
    state.clock.Leave();
}

CRQTransferQueue::CRQTransferQueue(RQ_TRANSFER_OPTIONS options, TransportFactory fnMakeTransport,
                                   CRQBLLogSink& log)
    : m_pState(std::make_shared<CState>(std::move(options), log)) {
    m_pState->fnMakeTransport = std::move(fnMakeTransport);
    const std::vector<TimePoint>& vecPaused = m_pState->options.vecPausedUntil;
    for (size_t n = 0; n < vecPaused.size() && n < m_pState->board.Size(); ++n) {
        m_pState->board.PauseUntil(n, vecPaused[n]);
    }
}

CRQTransferQueue::~CRQTransferQueue() {
    Stop();
}

void CRQTransferQueue::Start(std::vector<RQ_TRANSFER_JOB> vecJobs) {
    CState& state = *m_pState;
    uint64_t ullTotal = 0;
    for (const RQ_TRANSFER_JOB& job : vecJobs) {
        ullTotal += job.bHasCheck ? job.ullSize : 0;
    }
    state.ullTotalBytes = ullTotal;
    // A job that a stop keeps from running ends as stopped.
    RQ_TRANSFER_OUTCOME notRun;
    notRun.failure = RQTransferFailure::STOPPED;
    state.vecOutcomes.assign(vecJobs.size(), notRun);
    state.vecJobs = std::move(vecJobs);
    state.vecDelta.resize(state.vecJobs.size());
    for (size_t n = 0; n < state.vecJobs.size(); ++n) {
        const RQ_TRANSFER_JOB& job = state.vecJobs[n];
        // Only a file that pays for its index (a small one needs its old copy).
        uint64_t ullOld = 0;
        if (!job.strDeltaIndex.empty() && job.ullSize < RQ_DELTA_MIN_FILE_BYTES) {
            rqbl::GetRegularFileSize(job.strLocal, ullOld);
        }
        if (!job.strDeltaIndex.empty() && !job.strSha256.empty() && job.bHasCheck &&
            RQDeltaWorthIndex(job.ullSize, ullOld)) {
            state.vecDelta[n] = std::make_unique<RQ_DELTA_WORK>();
            state.vecDeltaJobs.push_back(n);
        }
    }
    state.bPrepared = state.vecDeltaJobs.empty();
    if (!state.options.strResumeRecordPath.empty()) {
        state.record.Load(state.options.strResumeRecordPath);
    }
    size_t nSlots = std::min<size_t>(std::max(1u, state.options.nParallel), state.vecJobs.size());
    for (size_t i = 0; i < nSlots; ++i) {
        auto pSlot = std::make_unique<CState::CSlot>(RQProgressRuleUnderCap(
            state.options.progress, state.options.ullRateLimitBytesPerSec, state.options.nParallel));
        pSlot->pTransport = state.fnMakeTransport();
        state.vecSlots.push_back(std::move(pSlot));
    }
    state.nLiveSlots = static_cast<uint32_t>(nSlots);
    // The threads share the state with this object: a slot left running by a
    // stop keeps what it uses alive. Each is counted by the clock before it
    // starts, and leaves it at its end.
    for (size_t i = 0; i < nSlots; ++i) {
        state.clock.Join();
        state.vecSlots[i]->thread = std::thread(&CState::SlotMain, m_pState, i);
    }
    if (nSlots > 0) {
        state.clock.Join();
        state.watchdog = std::thread(&CState::WatchdogMain, m_pState);
    }
}

bool CRQTransferQueue::WaitForEnd(uint32_t dwMilliseconds) {
    CState& state = *m_pState;
    std::unique_lock<std::mutex> lock(state.mutex);
    return state.cvOwner.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), [&state] {
        return state.nEndedJobs == state.vecJobs.size() || state.nLiveSlots == 0;
    });
}

RQ_TRANSFER_PROGRESS CRQTransferQueue::Progress() const {
    CState& state = *m_pState;
    RQ_TRANSFER_PROGRESS progress;
    std::lock_guard<std::mutex> lock(state.mutex);
    const TimePoint now = state.clock.Now();
    progress.ullDoneBytes = state.ullDoneBytes;
    TimePoint nextRequest = CRQTransferClock::kNever;
    bool bAnyWaiting = false;
    for (const auto& pSlot : state.vecSlots) {
        progress.ullDoneBytes += pSlot->ullFileBytes;
        progress.ullReceivedBytes += pSlot->ullReceived;
        progress.nActive += pSlot->bInTry ? 1 : 0;
        if (pSlot->bWaitingForServer && !pSlot->bEnded) {
            bAnyWaiting = true;
            nextRequest = std::min(nextRequest, pSlot->lookAgainAt);
        }
    }
    progress.ullTotalBytes = state.ullTotalBytes;
    progress.nFilesDone = state.nEndedJobs;
    progress.nFilesTotal = static_cast<uint32_t>(state.vecJobs.size());
    progress.nStarted = state.nStarted;
    progress.nRetries = state.nRetries;
    progress.nBusyAnswers = state.nBusyAnswers;
    progress.bPrepared = state.bPrepared;
    progress.bEnded = state.nEndedJobs == state.vecJobs.size() || state.nLiveSlots == 0;
    progress.bWaitingForServer = bAnyWaiting && progress.nActive == 0 && !progress.bEnded;
    progress.ullRetryInMs = progress.bWaitingForServer && nextRequest != CRQTransferClock::kNever
                                ? MillisecondsFrom(now, nextRequest)
                                : 0;
    return progress;
}

std::vector<CRQTransferClock::TimePoint> CRQTransferQueue::PausedUntil() const {
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    std::vector<CRQTransferClock::TimePoint> vecUntil;
    for (size_t n = 0; n < m_pState->board.Size(); ++n) {
        vecUntil.push_back(m_pState->board.Server(n).PausedUntil());
    }
    return vecUntil;
}

std::vector<RQ_TRANSFER_OUTCOME> CRQTransferQueue::Outcomes() const {
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    return m_pState->vecOutcomes;
}

void CRQTransferQueue::Stop() {
    CState& state = *m_pState;
    if (state.vecSlots.empty()) {
        return;
    }
    if (!state.bStop) {
        state.RequestStop();
    }
    {
        std::unique_lock<std::mutex> lock(state.mutex);
        state.cvOwner.wait_for(lock, kStopGrace, [&state] { return state.nLiveSlots == 0; });
    }
    if (state.watchdog.joinable()) {
        state.watchdog.join();
    }
    for (auto& pSlot : state.vecSlots) {
        if (!pSlot->thread.joinable()) {
            continue;
        }
        bool bEnded = false;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            bEnded = pSlot->bEnded;
        }
        if (bEnded) {
            pSlot->thread.join();
        } else {
            // Caught in a network call that the system does not let us
            // interrupt: it ends by its own time-out, on the shared state.
            pSlot->thread.detach();
        }
    }
}

// What a request for part of an object delivers: counted for the speed, the
// progress rule and the bar (up to the file's planned bytes), paced by the
// bandwidth cap, and handed on.