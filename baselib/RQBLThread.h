// The base library's worker thread: one operating-system thread per object
// that runs a tick loop and calls the virtual slots of a derived class.
//
//   class CMyWorker : public CRQBLThread {
//   public:
//       ~CMyWorker() override { ThreadStop(3000); }   // first thing: see below
//   protected:
//       bool ThreadLoop(float fElapsed) override;     // one step of work per call
//   };
//
// Each tick, with the loop lock held: ThreadInit (first tick only), every
// queued message in order (ThreadMessage), then ThreadLoop with the seconds
// since the previous tick, then the optional sleep. A stop request is checked
// between ticks; it ends the loop and ThreadExit runs.
//
// Stopping from another thread (the owner) never returns while the worker can
// still run code of the object: after the time-out it goes on waiting until
// the worker has ended, so a derived destructor that calls ThreadStop first may
// destroy its members safely. Long work inside ThreadLoop must test
// m_nStopRequested and give up when it is set, or the owner waits for it.
// The worker may stop itself from inside a tick; that call lasts its whole
// time-out (a thread cannot see its own end), and the loop ends after the tick.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "baselib/RQBLLocker.h"
#include "baselib/log/RQBLLogSink.h"

// One queued message, copied by value.
struct RQBL_THREAD_MESSAGE {
    uint32_t nMessage = 0;
    uint64_t nParam1 = 0;
    uint64_t nParam2 = 0;
};

class CRQBLThread {
public:
    // log: where a thread that cannot be started is reported.
    explicit CRQBLThread(CRQBLLogSink& log);
    // Stops the thread (ThreadStop(3000)). A derived class must stop it in its
    // own destructor already: by the time this one runs, the derived part of
    // the object is gone while the worker could still call into it.
    virtual ~CRQBLThread();
    CRQBLThread(const CRQBLThread&) = delete;
    CRQBLThread& operator=(const CRQBLThread&) = delete;

    // Starts the worker. nSleepTime: milliseconds to sleep at the end of each
    // tick, negative for none; stored even when the call fails. False when a
    // thread is still owned (running, or ended but not stopped) or cannot start.
    bool ThreadBegin(int nSleepTime);

    // Asks the worker to stop and waits for it: see the notes at the top.
    void ThreadStop(uint32_t dwTimeout);

    // Queues a message for the worker, handled before its next ThreadLoop.
    // False once a stop has been requested (the message would never be seen).
    bool ThreadPost(uint32_t nMessage, uint64_t nParam1, uint64_t nParam2);

    // A function that ThreadStop calls every few milliseconds while a thread
    // other than the worker waits for the loop lock or for the worker's end.
    // A window thread that stops the worker sets one that answers messages
    // sent to its windows: a worker blocked in a synchronous send to that
    // window would otherwise never finish its tick. Null removes it.
    void SetWaitPump(void (*pfnPump)()) { m_pfnWaitPump.store(pfnPump); }

protected:
    // Called once, at the first tick, before queued messages. Result ignored.
    virtual bool ThreadInit();
    // Called once per tick; false ends the thread at once, without ThreadExit.
    virtual bool ThreadLoop(float fElapsed);
    // Called once per queued message, in queue order. Result ignored.
    virtual bool ThreadMessage(uint32_t nMessage, uint64_t nParam1, uint64_t nParam2);
    // Called once when a stop ends the loop. Result ignored.
    virtual bool ThreadExit();

    // The thread procedure: runs the tick loop of the object pParam; returns 1.
    static unsigned ThreadEntry(void* pParam);

    // 0, or 1 once a stop has been requested; never reset. Read it without a
    // lock to abandon long work.
    std::atomic<int64_t> m_nStopRequested;
    // Milliseconds of sleep at the end of each tick; negative for none.
    std::atomic<int32_t> m_nSleepTime;

private:
    void WorkerMain();
    // Runs the work of one tick; false when ThreadLoop asked to end.
    bool RunTick();
    void DrainMessages();
    // Reads and clears the stop signal (an auto-reset event).
    bool TakeStopSignal();
    bool IsWorkerThread();
    void StopFromWorker(uint32_t dwTimeout);
    void StopFromOtherThread(uint32_t dwTimeout);
    void EnterLoopLockPumping();
    void LetStopperIn();
    // Waits for the worker's end, until dwTimeout ms have passed unless
    // bForever; true when it has ended.
    bool WaitForWorkerEnd(uint32_t dwTimeout, bool bForever);

    CRQBLLogSink& m_log;
    std::atomic<void (*)()> m_pfnWaitPump{nullptr};

    // The millisecond counter at the previous and at the current tick. The
    // elapsed time is taken from their 32-bit difference: seconds since boot
    // as a float lose milliseconds after a few hours of uptime.
    uint32_t m_dwPrevTime = 0;
    uint32_t m_dwCurTime = 0;
    bool m_bInitDone = false;

    CRQBLCriticalSection m_csQueue;
    // Held by the worker for the whole of each tick, its sleep included.
    CRQBLCriticalSection m_csLoop;
    // Threads other than the worker waiting to enter m_csLoop.
    std::atomic<int> m_nLoopLockWaiters{0};
    std::deque<RQBL_THREAD_MESSAGE> m_queMessages;

    // Guards the thread's ownership, the stop signal and the end flag.
    std::mutex m_csState;
    std::condition_variable m_cvState;
    std::thread m_thread;
    std::thread::id m_idWorker;
    // The thread handle of the stop logic: set by ThreadBegin, cleared by the
    // first ThreadStop. The std::thread itself is kept until it is joined.
    bool m_bThreadHandle = false;
    bool m_bStopSignalled = false;
    bool m_bWorkerEnded = true;
};
