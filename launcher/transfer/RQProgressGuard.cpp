#include "launcher/transfer/RQProgressGuard.h"

#include <algorithm>
#include <chrono>

RQ_PROGRESS_RULE RQProgressRuleUnderCap(const RQ_PROGRESS_RULE& rule, uint64_t ullCapBytesPerSec,
                                        unsigned nParallel) {
    RQ_PROGRESS_RULE capped = rule;
    if (ullCapBytesPerSec > 0) {
        const uint64_t ullShare = ullCapBytesPerSec / std::max(1u, nParallel);
        capped.ullMinAverageBytesPerSec = std::min(capped.ullMinAverageBytesPerSec, ullShare / 4);
    }
    return capped;
}

void CRQProgressGuard::Begin(TimePoint now, uint64_t ullBytes) {
    m_marks.clear();
    m_marks.push_back(CMark{now, ullBytes});
    m_nextCheck = now + m_rule.window;
}

bool CRQProgressGuard::Check(TimePoint now, uint64_t ullBytes) {
    if (now < m_nextCheck || m_marks.empty()) {
        return true;
    }
    // A check that comes late judges the longer window it saw: never harder.
    const CMark& last = m_marks.back();
    if (ullBytes - last.ullBytes < m_rule.ullWindowMinBytes) {
        return false;
    }
    m_marks.push_back(CMark{now, ullBytes});
    m_nextCheck = now + m_rule.window;
    if (m_rule.ullMinAverageBytesPerSec == 0 || m_marks.size() <= m_rule.nAverageWindows) {
        return true;
    }
    while (m_marks.size() > m_rule.nAverageWindows + 1) {
        m_marks.pop_front();
    }
    const CMark& first = m_marks.front();
    const double dSeconds = std::chrono::duration<double>(now - first.at).count();
    const double dBytes = static_cast<double>(ullBytes - first.ullBytes);
    return dBytes >= static_cast<double>(m_rule.ullMinAverageBytesPerSec) * dSeconds;
}
