#include "tools/crashreceiver/RQRateLimiter.h"

bool CRQRateLimiter::Allow(const std::string& strAddress, Clock::time_point tNow) {
    std::lock_guard<std::mutex> lock(m_cs);
    // Forget addresses whose window has passed, so that the map stays as small
    // as the set of recent clients.
    for (auto it = m_mapRecent.begin(); it != m_mapRecent.end();) {
        while (!it->second.empty() && tNow - it->second.front() >= m_window) {
            it->second.pop_front();
        }
        it = it->second.empty() ? m_mapRecent.erase(it) : std::next(it);
    }
    std::deque<Clock::time_point>& recent = m_mapRecent[strAddress];
    if (recent.size() >= m_nPerWindow) {
        return false;
    }
    recent.push_back(tNow);
    return true;
}
