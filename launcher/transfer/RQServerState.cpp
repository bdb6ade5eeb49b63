#include "launcher/transfer/RQServerState.h"

#include <algorithm>

CRQServerState::CRQServerState(unsigned nMostAtOnce)
    : m_nMost(std::max(1u, nMostAtOnce)), m_nLimit(std::min<unsigned>(FIRST_LIMIT, m_nMost)) {}

bool CRQServerState::MayStart(TimePoint now) const {
    if (IsPaused(now)) {
        return false;
    }
    return m_nUnderWay < (m_bProbing ? 1u : m_nLimit);
}

void CRQServerState::PauseUntil(TimePoint until) {
    if (until > m_pausedUntil) {
        m_pausedUntil = until;
        m_bProbing = true;
    }
}

uint64_t CRQServerState::Start() {
    ++m_nUnderWay;
    return m_nRound;
}

void CRQServerState::Accepted() {
    m_bProbing = false;
    m_nRefusedInARow = 0;
    if (m_nLimit >= m_nMost) {
        return;
    }
    if (m_bSlowStart) {
        ++m_nLimit;
        return;
    }
    const bool bToRefusedLevel = m_nRefusedLevel != 0 && m_nLimit + 1 >= m_nRefusedLevel;
    if (++m_nAnsweredThisRound < m_nLimit * (bToRefusedLevel ? m_nRoundsToRetry : 1)) {
        return;
    }
    m_nAnsweredThisRound = 0;
    ++m_nLimit;
    if (m_nRefusedLevel != 0 && m_nLimit > m_nRefusedLevel) {
        m_nRefusedLevel = 0;  // the server takes more now than when it refused
        m_nRoundsToRetry = 1;
    }
}

CRQServerState::TimePoint CRQServerState::Refused(uint64_t nRound, TimePoint now,
                                                  const uint64_t* pullRetryAfterSeconds,
                                                  const RQ_BACKOFF& backoff, double dUnit) {
    m_nUnderWay -= m_nUnderWay > 0 ? 1 : 0;
    const bool bNewRound = nRound == m_nRound;
    if (bNewRound) {
        ++m_nRound;
        if (m_nRefusedLevel != 0 && m_nLimit >= m_nRefusedLevel) {
            m_nRoundsToRetry = std::min<unsigned>(m_nRoundsToRetry * 2, MOST_ROUNDS_TO_RETRY);
        }
        m_nRefusedLevel = m_nLimit;
        m_bSlowStart = false;
        m_nLimit = std::max(1u, m_nLimit / 2);
        m_nAnsweredThisRound = 0;
        m_nRefusedInARow = std::min(m_nRefusedInARow + 1, 64u);
        m_bProbing = true;
    }
    // A Retry-After is the server's own word and holds for every refusal
    // that carries one; the back-off is drawn once per round.
    CRQTransferClock::Duration wait{};
    if (pullRetryAfterSeconds != nullptr) {
        wait = RQRetryAfterDelay(backoff, *pullRetryAfterSeconds, dUnit);
    } else if (bNewRound) {
        wait = RQBackoffDelay(backoff.first, backoff.most, m_nRefusedInARow, dUnit);
    } else {
        return m_pausedUntil;
    }
    m_pausedUntil = std::max(m_pausedUntil, now + wait);
    return m_pausedUntil;
}

void CRQServerState::Finished(bool bAnswered) {
    m_nUnderWay -= m_nUnderWay > 0 ? 1 : 0;
    if (bAnswered) {
        m_bProbing = false;
    }
}
