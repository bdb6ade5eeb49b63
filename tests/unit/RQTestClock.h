// A clock for the transfer tests that moves on by itself, and only when
// nothing else can happen: once every thread it counts (the queue's slots and
// watchdog) waits on it and no waiting thread's condition holds, time jumps
// to the earliest deadline among them. An hour of a slow line, or a
// ten-minute Retry-After, then takes no real time, and what happens at each
// moment does not depend on how loaded the machine is.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "launcher/transfer/RQTransferClock.h"

namespace rqtest {

class CTestClock : public CRQTransferClock {
public:
    // Starts at 2026-01-01 00:00:00 UTC by the calendar.
    static constexpr int64_t kUtcStart = 1767225600;

    CTestClock() : m_advancer([this] { AdvanceLoop(); }) {}
    ~CTestClock() override {
        m_bQuit = true;
        m_advancer.join();
    }
    CTestClock(const CTestClock&) = delete;
    CTestClock& operator=(const CTestClock&) = delete;

    TimePoint Now() override { return TimePoint(Duration(m_nNow.load())); }
    // Time since the clock was made.
    Duration Elapsed() { return Now() - TimePoint(); }

    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline,
                   const std::function<bool()>& fnDone) override {
        if (fnDone() || Now() >= deadline) {
            return fnDone();
        }
        std::list<CWaiter>::iterator it;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            it = m_waiters.insert(m_waiters.end(), CWaiter{lock.mutex(), &cv, &fnDone, deadline});
        }
        // Polled as well: a jump of time is announced, but cheaply missed.
        while (!fnDone() && Now() < deadline) {
            cv.wait_for(lock, std::chrono::milliseconds(5));
        }
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_waiters.erase(it);
        }
        return fnDone();
    }
    void Join() override {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_nThreads;
    }
    void Leave() override {
        std::lock_guard<std::mutex> guard(m_mutex);
        --m_nThreads;
    }
    int64_t UtcSeconds() override {
        return kUtcStart + std::chrono::duration_cast<std::chrono::seconds>(Elapsed()).count();
    }

private:
    struct CWaiter {
        std::mutex* pMutex;
        std::condition_variable* pCv;
        const std::function<bool()>* pfnDone;
        TimePoint deadline;
    };

    void AdvanceLoop() {
        while (!m_bQuit) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_nThreads <= 0 || static_cast<int>(m_waiters.size()) != m_nThreads) {
                continue;
            }
            // Every counted thread waits: do they all wait for time? A waiter
            // cannot leave meanwhile (that takes m_mutex), and one whose lock
            // is taken is busy, so that round is skipped.
            TimePoint next = kNever;
            bool bBlocked = true;
            for (const CWaiter& w : m_waiters) {
                if (!w.pMutex->try_lock()) {
                    bBlocked = false;
                    break;
                }
                const bool bDone = (*w.pfnDone)();
                w.pMutex->unlock();
                if (bDone || w.deadline <= Now()) {
                    bBlocked = false;
                    break;
                }
                next = std::min(next, w.deadline);
            }
            if (!bBlocked || next == kNever) {
                continue;
            }
            m_nNow = next.time_since_epoch().count();
            for (const CWaiter& w : m_waiters) {
                w.pCv->notify_all();
            }
        }
    }

    std::atomic<Duration::rep> m_nNow{0};
    std::atomic<bool> m_bQuit{false};
    std::mutex m_mutex;
    std::list<CWaiter> m_waiters;
    int m_nThreads = 0;
    std::thread m_advancer;
};

}  // namespace rqtest
