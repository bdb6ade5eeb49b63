#include "baselib/RQBLThread.h"

#include <chrono>
#include <system_error>

#include "baselib/RQBLPlatform.h"
#include "baselib/log/RQBLLogTraceNum.h"

namespace {

// How often a waiting thread calls the wait pump.
constexpr std::chrono::milliseconds kPumpInterval(5);

}  // namespace

CRQBLThread::CRQBLThread(CRQBLLogSink& log) : m_nStopRequested(0), m_nSleepTime(-1), m_log(log) {}

CRQBLThread::~CRQBLThread() {
    ThreadStop(3000);
    // Only a worker that destroys its own object gets here with the thread
    // still owned; it cannot join itself.
    if (m_thread.joinable()) {
        m_thread.detach();
    }
}

bool CRQBLThread::ThreadInit() {
    return true;
}

bool CRQBLThread::ThreadLoop(float /*fElapsed*/) {
    return true;
}

bool CRQBLThread::ThreadMessage(uint32_t /*nMessage*/, uint64_t /*nParam1*/, uint64_t /*nParam2*/) {
    return false;
}

bool CRQBLThread::ThreadExit() {
    return true;
}

bool CRQBLThread::ThreadBegin(int nSleepTime) {
    m_nSleepTime.store(nSleepTime);
    std::unique_lock<std::mutex> lock(m_csState);
    // A worker that ended by itself is still owned until a ThreadStop joins it.
    if (m_bThreadHandle || m_thread.joinable()) {
        return false;
    }
    m_bStopSignalled = false;
    m_bWorkerEnded = false;
    try {
        // The worker's first use of m_idWorker goes through m_csState, which
        // this thread holds until both are set.
        m_thread = std::thread(&CRQBLThread::WorkerMain, this);
    } catch (const std::system_error&) {
        m_bWorkerEnded = true;
        lock.unlock();
        RQ_LOG(m_log, L"CRQBLThread::ThreadBegin", RQ_LOG_NTS).Trace(130000, L"INVALID_HANDLE_VALUE");
        return false;
    }
    m_idWorker = m_thread.get_id();
    m_bThreadHandle = true;
    return true;
}

bool CRQBLThread::ThreadPost(uint32_t nMessage, uint64_t nParam1, uint64_t nParam2) {
    if (m_nStopRequested.load() != 0) {
        return false;
    }
    CRQBLLocker lock(&m_csQueue);
    m_queMessages.push_back(RQBL_THREAD_MESSAGE{nMessage, nParam1, nParam2});
    return true;
}

void CRQBLThread::WorkerMain() {
    ThreadEntry(this);
    std::lock_guard<std::mutex> lock(m_csState);
    m_bWorkerEnded = true;
    m_cvState.notify_all();
}

unsigned CRQBLThread::ThreadEntry(void* pParam) {
    auto* pThis = static_cast<CRQBLThread*>(pParam);
    pThis->m_dwCurTime = rqbl::TimeGetTime();
    while (!pThis->TakeStopSignal()) {
        CRQBLLocker lock(&pThis->m_csLoop);
        // A stop from another thread signals while it holds the loop lock. If
        // it came while this thread waited for the lock, the tick must not run:
        // the stopper has let the lock go and may be destroying the object.
        if (pThis->TakeStopSignal()) {
            break;
        }
        if (!pThis->RunTick()) {
            return 1;
        }
        int32_t nSleepTime = pThis->m_nSleepTime.load();
        if (nSleepTime >= 0) {
            rqbl::SleepMs(static_cast<uint32_t>(nSleepTime));
        }
        lock.Unlock();
        pThis->LetStopperIn();
    }
    pThis->ThreadExit();
    return 1;
}

void CRQBLThread::LetStopperIn() {
    // Locks are not fair: a loop without sleep re-enters the loop lock at once
    // and could keep a stopping thread out for many ticks. Stand back until a
    // waiting stopper has taken the lock and signalled; the signal is seen next.
    while (m_nLoopLockWaiters.load() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool CRQBLThread::RunTick() {
    if (!m_bInitDone) {
        ThreadInit();
        m_bInitDone = true;
    }
    DrainMessages();
    m_dwPrevTime = m_dwCurTime;
    m_dwCurTime = rqbl::TimeGetTime();
    // Unsigned difference: correct across the counter's wrap as well.
    float fElapsed = static_cast<float>(m_dwCurTime - m_dwPrevTime) / 1000.0f;
    return ThreadLoop(fElapsed);
}

void CRQBLThread::DrainMessages() {
    for (;;) {
        RQBL_THREAD_MESSAGE msg;
        {
            CRQBLLocker lock(&m_csQueue);
            if (m_queMessages.empty()) {
                return;
            }
            msg = m_queMessages.front();
            m_queMessages.pop_front();
        }
        // Not under m_csQueue: the handler may post further messages.
        ThreadMessage(msg.nMessage, msg.nParam1, msg.nParam2);
    }
}

bool CRQBLThread::TakeStopSignal() {
    std::lock_guard<std::mutex> lock(m_csState);
    bool bSignalled = m_bStopSignalled;
    m_bStopSignalled = false;
    return bSignalled;
}

bool CRQBLThread::IsWorkerThread() {
    std::lock_guard<std::mutex> lock(m_csState);
    return m_thread.joinable() && m_idWorker == std::this_thread::get_id();
}

void CRQBLThread::ThreadStop(uint32_t dwTimeout) {
    if (m_nStopRequested.load() == 0) {
        m_nStopRequested.exchange(1);
    }
    if (IsWorkerThread()) {
        StopFromWorker(dwTimeout);
    } else {
        StopFromOtherThread(dwTimeout);
    }
}

void CRQBLThread::StopFromWorker(uint32_t dwTimeout) {
    // Re-enters the loop lock that the current tick holds.
    CRQBLLocker lock(&m_csLoop);
    {
        std::lock_guard<std::mutex> state(m_csState);
        if (!m_bThreadHandle) {
            return;
        }
        m_bStopSignalled = true;
    }
    // The wait for the own thread's end cannot succeed: it lasts the whole
    // time-out. The thread stays owned; the owner's stop joins it later.
    rqbl::SleepMs(dwTimeout);
    std::lock_guard<std::mutex> state(m_csState);
    m_bThreadHandle = false;
}

void CRQBLThread::StopFromOtherThread(uint32_t dwTimeout) {
    // Waits for the current tick, its sleep included, to end. The worker
    // stands back between ticks while the count is up (LetStopperIn).
    ++m_nLoopLockWaiters;
    EnterLoopLockPumping();
    bool bHandle = false;
    {
        std::lock_guard<std::mutex> state(m_csState);
        bHandle = m_bThreadHandle;
        if (bHandle) {
            m_bStopSignalled = true;
        }
    }
    --m_nLoopLockWaiters;
    // The lock is left before the wait: a worker that is waiting for it must
    // get it to see the stop and end. Holding it would let the wait run out
    // and the worker start one more tick after this call had returned.
    m_csLoop.unlock();

    if (bHandle) {
        WaitForWorkerEnd(dwTimeout, false);
        std::lock_guard<std::mutex> state(m_csState);
        m_bThreadHandle = false;
    }
    // After a time-out, or after a stop from the worker itself, the worker
    // may still be in its tick or in ThreadExit: the caller may be about to
    // destroy what that code uses, so wait for its end whatever the time-out.
    WaitForWorkerEnd(0, true);
    std::lock_guard<std::mutex> state(m_csState);
    if (m_thread.joinable()) {
        m_thread.join();  // ended already: returns at once
        m_idWorker = std::thread::id();
    }
}

void CRQBLThread::EnterLoopLockPumping() {
    void (*pfnPump)() = m_pfnWaitPump.load();
    if (pfnPump == nullptr) {
        m_csLoop.lock();
        return;
    }
    while (!m_csLoop.try_lock_for(kPumpInterval)) {
        pfnPump();
    }
}

bool CRQBLThread::WaitForWorkerEnd(uint32_t dwTimeout, bool bForever) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(dwTimeout);
    void (*pfnPump)() = m_pfnWaitPump.load();
    std::unique_lock<std::mutex> lock(m_csState);
    for (;;) {
        if (m_bWorkerEnded) {
            return true;
        }
        Clock::time_point now = Clock::now();
        if (!bForever && now >= deadline) {
            return false;
        }
        Clock::time_point until = now + kPumpInterval;
        if (!bForever && until > deadline) {
            until = deadline;
        }
        m_cvState.wait_until(lock, until);
        if (pfnPump != nullptr && !m_bWorkerEnded) {
            // The pump may dispatch window messages that call back into this
            // object; never hold the state lock across it.
            lock.unlock();
            pfnPump();
            lock.lock();
        }
    }
}
