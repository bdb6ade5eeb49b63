// The content server and its mirrors, as the transfers see them: which one a
// request goes to, and what its answer teaches about that server. A slot
// picks before each request and reports the answer after it; a request that
// finds every server paused or full waits, and that wait is no try of the
// file: a server that says "later" is not a file that is broken.
//
// Not thread-safe: the transfer queue calls it under its own lock, and
// wakes its waiting slots whenever Version() changes.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "launcher/transfer/RQBackoff.h"
#include "launcher/transfer/RQServerState.h"
#include "launcher/transfer/RQTransferClock.h"

struct RQ_SERVER_PICK {
    bool bPicked = false;
    size_t nServer = 0;
    // Not picked: when to look again (the earliest end of a pause), or
    // kNever when the servers only wait for requests under way to end.
    CRQTransferClock::TimePoint lookAgainAt = CRQTransferClock::kNever;
    // Not picked, and every server is paused: the player is told to wait.
    bool bAllPaused = false;
};

// One request's hold on a server, from Start to its end.
struct RQ_SERVER_PERMIT {
    size_t nServer = 0;
    uint64_t nRound = 0;
    bool bAccepted = false;
};

class CRQServerBoard {
public:
    using TimePoint = CRQTransferClock::TimePoint;
    using Duration = CRQTransferClock::Duration;

    // nSeed: the draws of the jitter (a test gives a fixed one).
    CRQServerBoard(size_t nServers, unsigned nMostAtOnce, const RQ_BACKOFF& backoff, uint32_t nSeed);

    // The first server from nTurn on (in turn, wrapping) that may take a
    // request now.
    RQ_SERVER_PICK Pick(size_t nTurn, TimePoint now) const;
    RQ_SERVER_PERMIT Start(size_t nServer);
    // The server's answer began with content (at most once per permit).
    void Accepted(RQ_SERVER_PERMIT& permit);
    // The server refused: it is paused; returns until when.
    TimePoint Refused(const RQ_SERVER_PERMIT& permit, TimePoint now, const uint64_t* pullRetryAfterSeconds);
    void Finished(const RQ_SERVER_PERMIT& permit, bool bAnswered);
    void PauseUntil(size_t nServer, TimePoint until) { m_vecServers[nServer].PauseUntil(until); }
    // The wait before a file's next try after nTries tries that failed for
    // other reasons than a busy server.
    Duration TryDelay(unsigned nTries);

    size_t Size() const { return m_vecServers.size(); }
    const CRQServerState& Server(size_t n) const { return m_vecServers[n]; }
    // Changes whenever a request ends or a limit changes.
    uint64_t Version() const { return m_nVersion; }

private:
    double Draw();

    const RQ_BACKOFF m_backoff;
    std::vector<CRQServerState> m_vecServers;
    std::minstd_rand m_random;
    uint64_t m_nVersion = 0;
};
