#include "launcher/transfer/RQServerBoard.h"

#include <algorithm>

CRQServerBoard::CRQServerBoard(size_t nServers, unsigned nMostAtOnce, const RQ_BACKOFF& backoff,
                               uint32_t nSeed)
    : m_backoff(backoff),
      m_vecServers(std::max<size_t>(1, nServers), CRQServerState(nMostAtOnce)),
      m_random(nSeed == 0 ? 1 : nSeed) {}

RQ_SERVER_PICK CRQServerBoard::Pick(size_t nTurn, TimePoint now) const {
    RQ_SERVER_PICK pick;
    pick.bAllPaused = true;
    const size_t nServers = m_vecServers.size();
    for (size_t i = 0; i < nServers; ++i) {
        const size_t n = (nTurn + i) % nServers;
        const CRQServerState& server = m_vecServers[n];
        if (server.MayStart(now)) {
            pick.bPicked = true;
            pick.nServer = n;
            pick.bAllPaused = false;
            return pick;
        }
        if (server.IsPaused(now)) {
            pick.lookAgainAt = std::min(pick.lookAgainAt, server.PausedUntil());
        } else {
            pick.bAllPaused = false;  // full: it frees up when a request ends
        }
    }
    return pick;
}

RQ_SERVER_PERMIT CRQServerBoard::Start(size_t nServer) {
    RQ_SERVER_PERMIT permit;
    permit.nServer = nServer;
    permit.nRound = m_vecServers[nServer].Start();
    return permit;
}

void CRQServerBoard::Accepted(RQ_SERVER_PERMIT& permit) {
    if (permit.bAccepted) {
        return;
    }
    permit.bAccepted = true;
    m_vecServers[permit.nServer].Accepted();
    ++m_nVersion;  // the limit may have risen, a probe may have passed
}

CRQServerBoard::TimePoint CRQServerBoard::Refused(const RQ_SERVER_PERMIT& permit, TimePoint now,
                                                  const uint64_t* pullRetryAfterSeconds) {
    ++m_nVersion;
    return m_vecServers[permit.nServer].Refused(permit.nRound, now, pullRetryAfterSeconds, m_backoff, Draw());
}

void CRQServerBoard::Finished(const RQ_SERVER_PERMIT& permit, bool bAnswered) {
    ++m_nVersion;
    m_vecServers[permit.nServer].Finished(bAnswered);
}

CRQServerBoard::Duration CRQServerBoard::TryDelay(unsigned nTries) {
    return RQBackoffDelay(m_backoff.first, m_backoff.tryMost, nTries, Draw());
}

double CRQServerBoard::Draw() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(m_random);
}
