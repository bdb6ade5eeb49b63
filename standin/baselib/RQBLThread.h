// TEMPORARY stand-in (see standin/README).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class CRQBLThread {
public:
    CRQBLThread();
    virtual ~CRQBLThread();
    CRQBLThread(const CRQBLThread&) = delete;
    CRQBLThread& operator=(const CRQBLThread&) = delete;
    bool ThreadBegin(int nSleepTime);
    void ThreadStop(uint32_t dwTimeout);
    bool ThreadPost(uint32_t, uint64_t, uint64_t) { return false; }
    static void SetWaitPump(void (*pfnPump)());

protected:
    virtual bool ThreadInit() { return true; }
    virtual bool ThreadLoop(float) { return true; }
    virtual bool ThreadMessage(uint32_t, uint64_t, uint64_t) { return false; }
    virtual bool ThreadExit() { return true; }
    std::atomic<int64_t> m_nStopRequested{0};

private:
    std::recursive_mutex m_csLoop;
    std::thread m_thread;
    std::atomic<bool> m_bEnded{false};
};
