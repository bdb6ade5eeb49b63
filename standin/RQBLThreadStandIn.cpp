// TEMPORARY stand-in (see standin/README).
#include <chrono>

#include "baselib/RQBLThread.h"

namespace {
std::atomic<void (*)()> s_pfnPump{nullptr};
}

CRQBLThread::CRQBLThread() = default;

CRQBLThread::~CRQBLThread() {
    ThreadStop(3000);
}

void CRQBLThread::SetWaitPump(void (*pfnPump)()) {
    s_pfnPump = pfnPump;
}

bool CRQBLThread::ThreadBegin(int /*nSleepTime*/) {
    if (m_thread.joinable()) {
        return false;
    }
    m_thread = std::thread([this] {
        while (m_nStopRequested.load() == 0) {
            std::lock_guard<std::recursive_mutex> lock(m_csLoop);
            ThreadLoop(0.0f);
        }
        ThreadExit();
        m_bEnded = true;
    });
    return true;
}

void CRQBLThread::ThreadStop(uint32_t /*dwTimeout*/) {
    m_nStopRequested = 1;
    if (!m_thread.joinable() || m_thread.get_id() == std::this_thread::get_id()) {
        return;
    }
    while (!m_bEnded.load()) {
        if (auto pfn = s_pfnPump.load()) {
            pfn();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m_thread.join();
}
