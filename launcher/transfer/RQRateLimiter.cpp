#include "launcher/transfer/RQRateLimiter.h"

#include <algorithm>
#include <thread>

CRQRateLimiter::Clock::duration CRQRateLimiter::Take(uint64_t nBytes, Clock::time_point now) {
    if (m_ullRate == 0) {
        return Clock::duration::zero();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const double dRate = static_cast<double>(m_ullRate);
    const double dCapacity = dRate / 2;
    if (!m_bStarted) {
        m_bStarted = true;
        m_dTokens = dCapacity;
        m_last = now;
    }
    if (now > m_last) {
        double dSeconds = std::chrono::duration<double>(now - m_last).count();
        m_dTokens = std::min(dCapacity, m_dTokens + dSeconds * dRate);
        m_last = now;
    }
    m_dTokens -= static_cast<double>(nBytes);
    if (m_dTokens >= 0) {
        return Clock::duration::zero();
    }
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(-m_dTokens / dRate));
}

bool CRQRateLimiter::WaitToPass(uint64_t nBytes, const std::atomic<bool>* pAbort) {
    // Short steps: a stop must not wait for a long debt to be paid.
    constexpr auto kWaitStep = std::chrono::milliseconds(50);
    const Clock::time_point until = Clock::now() + Take(nBytes, Clock::now());
    while (Clock::now() < until) {
        if (pAbort != nullptr && pAbort->load()) {
            return false;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kWaitStep, until - Clock::now()));
    }
    return true;
}
