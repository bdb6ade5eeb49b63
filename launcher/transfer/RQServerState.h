// What the launcher knows about one content server while it downloads: how
// many requests it may have under way there, and whether the server asked to
// be left alone for a while. Every slot asks before each request, so a 503
// seen by one slot holds back all of them.
//
// The limit adapts as TCP's window does. It starts at two and grows by one
// with every answered request until the first refusal (slow start); a
// refusal halves it (never below one), and from then on each round of
// answers (as many as the limit) raises it by one (additive increase).
// Requests already under way when a refusal came belong to the same round:
// their refusals do not halve again, so eight refusals of one burst cost a
// half, not seven halvings. The level that was refused is remembered: going
// back up to it takes twice as many rounds each time the server refuses it
// again, so a server that takes two at once sees a third request ever more
// rarely, not every few answers. Once the limit passes that level, the
// server took more than before, and it is forgotten.
//
// After a pause only one request goes first; the others follow once the
// server has answered it, instead of a burst of them meeting a server that
// is still busy.
//
// Time is handed in (now): no clock is read here.
#pragma once

#include <cstdint>

#include "launcher/transfer/RQBackoff.h"
#include "launcher/transfer/RQTransferClock.h"

class CRQServerState {
public:
    using TimePoint = CRQTransferClock::TimePoint;

    explicit CRQServerState(unsigned nMostAtOnce);

    bool MayStart(TimePoint now) const;
    bool IsPaused(TimePoint now) const { return now < m_pausedUntil; }
    TimePoint PausedUntil() const { return m_pausedUntil; }
    // A pause the server asked for earlier (in another queue): one request
    // goes first after it.
    void PauseUntil(TimePoint until);

    // A request starts; the round it belongs to comes back with its answer.
    uint64_t Start();
    // The server answered with content: the request counts as a success.
    void Accepted();
    // The server refused (busy): pauses it for the Retry-After it sent
    // (pullRetryAfterSeconds, null when none) or for the back-off, dUnit
    // being the random draw. Ends the request. Returns the pause's end.
    TimePoint Refused(uint64_t nRound, TimePoint now, const uint64_t* pullRetryAfterSeconds,
                      const RQ_BACKOFF& backoff, double dUnit);
    // Any other end of a request; bAnswered: the server answered at all (an
    // error status counts: it is not too busy to answer).
    void Finished(bool bAnswered);

    unsigned Limit() const { return m_nLimit; }
    unsigned UnderWay() const { return m_nUnderWay; }
    unsigned RefusedInARow() const { return m_nRefusedInARow; }

    enum : unsigned {
        FIRST_LIMIT = 2,
        // Going back up to a refused level takes at most this many rounds.
        MOST_ROUNDS_TO_RETRY = 64,
    };

private:
    const unsigned m_nMost;
    unsigned m_nLimit;
    bool m_bSlowStart = true;
    unsigned m_nUnderWay = 0;
    unsigned m_nAnsweredThisRound = 0;
    unsigned m_nRefusedInARow = 0;
    // The limit at which the server last refused (0: none known), and how
    // many rounds the step back up to it takes.
    unsigned m_nRefusedLevel = 0;
    unsigned m_nRoundsToRetry = 1;
    uint64_t m_nRound = 0;
    bool m_bProbing = false;
    TimePoint m_pausedUntil{};
};
