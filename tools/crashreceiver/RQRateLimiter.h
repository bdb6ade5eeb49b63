// At most a number of reports per client address in a sliding window.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

class CRQRateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    CRQRateLimiter(size_t nPerWindow, Clock::duration window) : m_nPerWindow(nPerWindow), m_window(window) {}

    // True, and counted, when the address may send one more request at tNow.
    bool Allow(const std::string& strAddress, Clock::time_point tNow);

private:
    size_t m_nPerWindow;
    Clock::duration m_window;
    std::mutex m_cs;
    std::map<std::string, std::deque<Clock::time_point>> m_mapRecent;
};
