// One bandwidth cap shared by all transfers: a token bucket filled at the
// cap's rate that holds at most half a second of it. Over any window of T
// seconds, at most (T + 0.5) seconds' worth passes, so a 10-second window
// stays within 5 % of the cap.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

class CRQRateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    // 0: no cap.
    explicit CRQRateLimiter(uint64_t ullBytesPerSecond) : m_ullRate(ullBytesPerSecond) {}

    bool IsLimited() const { return m_ullRate != 0; }
    uint64_t Rate() const { return m_ullRate; }

    // Takes nBytes from the bucket and says how long the caller must wait
    // before it passes them on (zero when there was enough). The bucket may
    // go into debt: later callers then wait for it to be paid.
    Clock::duration Take(uint64_t nBytes, Clock::time_point now);

    // Takes nBytes and waits as long as Take says, in short steps; false
    // when pAbort (may be null) was set meanwhile.
    bool WaitToPass(uint64_t nBytes, const std::atomic<bool>* pAbort);

private:
    const uint64_t m_ullRate;
    std::mutex m_mutex;
    bool m_bStarted = false;
    double m_dTokens = 0;
    Clock::time_point m_last;
};
