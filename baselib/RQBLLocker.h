// The base library's critical section and the scoped lock taken on it.
#pragma once

#include <mutex>

// Re-entrant for the thread that holds it (a worker that stops itself enters
// its own loop lock a second time). Timed, so that a waiter can do other work,
// such as answering window messages, while it waits.
using CRQBLCriticalSection = std::recursive_timed_mutex;

// Enters the section on construction and leaves it on destruction, unless
// Unlock() has left it already; an exception that passes through the scope
// therefore leaves the section too. A null section is never entered.
class CRQBLLocker {
public:
    explicit CRQBLLocker(CRQBLCriticalSection* pcs) : m_pcs(pcs) {
        if (m_pcs != nullptr) {
            m_pcs->lock();
        }
    }
    // Takes over a section that the caller has entered already.
    CRQBLLocker(CRQBLCriticalSection* pcs, std::adopt_lock_t) : m_pcs(pcs) {}
    virtual ~CRQBLLocker() { Unlock(); }
    CRQBLLocker(const CRQBLLocker&) = delete;
    CRQBLLocker& operator=(const CRQBLLocker&) = delete;

    // Leaves the section now; a second call, and the destructor, do nothing.
    void Unlock() {
        if (m_pcs != nullptr) {
            m_pcs->unlock();
            m_pcs = nullptr;
        }
    }

private:
    CRQBLCriticalSection* m_pcs;
};
