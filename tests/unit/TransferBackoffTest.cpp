// The pieces a transfer slot consults before each request, with time handed
// in: what Retry-After asks for, how back-off grows and spreads, how a
// server's limit halves and recovers, and when a try is given up.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "launcher/transfer/RQBackoff.h"
#include "launcher/transfer/RQProgressGuard.h"
#include "launcher/transfer/RQRetryAfter.h"
#include "launcher/transfer/RQServerBoard.h"
#include "launcher/transfer/RQServerState.h"

using namespace std::chrono_literals;
using TimePoint = CRQTransferClock::TimePoint;
using Duration = CRQTransferClock::Duration;

namespace {

// 2026-02-01 00:00:00 UTC
constexpr int64_t kFeb1 = 1769904000;

}  // namespace

TEST(RetryAfter, SecondsOrADateMeasuredByTheServersClock) {
    struct Case {
        const char* pszValue;
        const char* pszDate;
        int64_t nNowUtc;  // the player's clock
        bool bValid;
        uint64_t ullSeconds;
    } cases[] = {
        {"120", "", kFeb1, true, 120},
        {" 7 ", "", kFeb1, true, 7},
        {"0", "", kFeb1, true, 0},
        {"99999999999999999999", "", kFeb1, true, 1000000000000ull},
        // The player's clock is an hour off: the server's Date decides.
        {"Sun, 01 Feb 2026 00:02:00 GMT", "Sun, 01 Feb 2026 00:00:00 GMT", kFeb1 + 3600, true, 120},
        {"Sunday, 01-Feb-26 00:02:00 GMT", "Sun, 01 Feb 2026 00:00:00 GMT", 0, true, 120},
        {"Sun Feb  1 00:02:00 2026", "Sun, 01 Feb 2026 00:00:00 GMT", 0, true, 120},
        // Without a usable Date, the player's clock.
        {"Sun, 01 Feb 2026 00:02:00 GMT", "", kFeb1 + 60, true, 60},
        {"Sun, 01 Feb 2026 00:02:00 GMT", "yesterday", kFeb1 + 60, true, 60},
        {"Sun, 01 Feb 2026 00:02:00 GMT", "", kFeb1 + 600, true, 0},  // already past
        {"", "", kFeb1, false, 0},
        {"soon", "", kFeb1, false, 0},
        {"12s", "", kFeb1, false, 0},
        {"-5", "", kFeb1, false, 0},
        {"Sun, 31 Feb 2026 00:00:00 GMT", "", kFeb1, false, 0},
        {"Sun, 01 Feb 2026 24:00:00 GMT", "", kFeb1, false, 0},
        {"Sun, 01 Foo 2026 00:00:00 GMT", "", kFeb1, false, 0},
        {"Sun, 01 Feb 2026 00:00:00 CET", "", kFeb1, false, 0},
    };
    for (const Case& c : cases) {
        uint64_t ullSeconds = 12345;
        EXPECT_EQ(RQParseRetryAfter(c.pszValue, c.pszDate, c.nNowUtc, ullSeconds), c.bValid) << c.pszValue;
        if (c.bValid) {
            EXPECT_EQ(ullSeconds, c.ullSeconds) << c.pszValue << " / " << c.pszDate;
        }
    }
}

TEST(Backoff, RetryAfterIsCappedAndSpreadByATenthAtMost) {
    RQ_BACKOFF backoff;  // at most ten minutes
    struct Case {
        uint64_t ullSeconds;
        double dUnit;
        Duration expected;
    } cases[] = {
        {30, 0.0, 30s},   {30, 0.5, 31500ms}, {30, 0.999999, 33s},    {0, 0.7, 0s},
        {600, 0.0, 600s}, {3600, 0.0, 600s},  {3600, 0.999999, 660s}, {1000000000000ull, 0.0, 600s},
    };
    for (const Case& c : cases) {
        Duration d = RQRetryAfterDelay(backoff, c.ullSeconds, c.dUnit);
        EXPECT_NEAR(std::chrono::duration<double>(d).count(),
                    std::chrono::duration<double>(c.expected).count(), 0.01)
            << c.ullSeconds << " s, draw " << c.dUnit;
    }
}

TEST(Backoff, CeilingsDoubleFromTheFirstToTheMostAndDrawsFallBelowThem) {
    const Duration first = 1s;
    const Duration most = 60s;
    const Duration ceilings[] = {1s, 2s, 4s, 8s, 16s, 32s, 60s, 60s, 60s};
    for (unsigned n = 1; n <= 9; ++n) {
        const Duration ceiling = ceilings[n - 1];
        EXPECT_EQ(RQBackoffDelay(first, most, n, 0.0), Duration::zero()) << n;
        EXPECT_EQ(RQBackoffDelay(first, most, n, 0.5), ceiling / 2) << n;
        EXPECT_LT(RQBackoffDelay(first, most, n, 0.999999), ceiling) << n;
        EXPECT_GT(RQBackoffDelay(first, most, n, 0.999999), ceiling * 99 / 100) << n;
    }
    EXPECT_EQ(RQBackoffDelay(first, most, 1000, 0.5), 30s) << "no overflow however many in a row";
    // The board's draws: spread over the whole range, never above it.
    RQ_BACKOFF backoff;
    CRQServerBoard board(1, 8, backoff, 42);
    std::set<int64_t> tenths;
    for (int i = 0; i < 200; ++i) {
        Duration d = board.TryDelay(3);
        EXPECT_GE(d, Duration::zero());
        EXPECT_LT(d, 4s);
        tenths.insert(std::chrono::duration_cast<std::chrono::milliseconds>(d).count() / 400);
    }
    EXPECT_EQ(tenths.size(), 10u) << "full jitter: every tenth of the range is drawn";
    EXPECT_LE(board.TryDelay(100), backoff.tryMost);
}

// The server's limit through a patch day: one step per line, the limit, the
// requests under way and whether one more may start after it.
TEST(ServerState, TheLimitStartsSmallHalvesOncePerRoundAndClimbsBackWarily) {
    enum Step { START, ACCEPT, FINISH, REFUSE_NEW, REFUSE_OLD, WAIT_PAUSE };
    struct Line {
        Step step;
        unsigned nLimit;
        unsigned nUnderWay;
        bool bMayStart;
    };
    const std::vector<Line> lines = {
        // Slow start: two, then one more per answer.
        {START, 2, 1, true},
        {START, 2, 2, false},
        {ACCEPT, 3, 2, true},
        {ACCEPT, 4, 2, true},
        {START, 4, 3, true},
        {START, 4, 4, false},
        // Four under way; the first refusal halves, the others belong to
        // its round.
        {REFUSE_NEW, 2, 3, false},
        {REFUSE_OLD, 2, 2, false},
        {REFUSE_OLD, 2, 1, false},
        {REFUSE_OLD, 2, 0, false},
        // After the pause one goes first.
        {WAIT_PAUSE, 2, 0, true},
        {START, 2, 1, false},
        {REFUSE_NEW, 1, 0, false},
        {WAIT_PAUSE, 1, 0, true},
        // Answered: the server takes requests again; back up to the refused
        // level takes one round the first time...
        {START, 1, 1, false},
        {ACCEPT, 2, 1, true},
        {START, 2, 2, false},
        {REFUSE_NEW, 1, 1, false},
        {WAIT_PAUSE, 1, 1, false},
        {FINISH, 1, 0, true},
        // ... two rounds once it was refused there again.
        {START, 1, 1, false},
        {ACCEPT, 1, 1, false},
        {FINISH, 1, 0, true},
        {START, 1, 1, false},
        {ACCEPT, 2, 1, true},
        {FINISH, 2, 0, true},
    };
    RQ_BACKOFF backoff;
    CRQServerState server(8);
    TimePoint now{};
    std::vector<uint64_t> rounds;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        switch (line.step) {
            case START:
                rounds.push_back(server.Start());
                break;
            case ACCEPT:
                server.Accepted();
                break;
            case FINISH:
                server.Finished(true);
                break;
            case REFUSE_NEW:  // the newest request's refusal
                server.Refused(rounds.back(), now, nullptr, backoff, 0.5);
                rounds.pop_back();
                break;
            case REFUSE_OLD:  // one sent before the last halving
                server.Refused(rounds.front(), now, nullptr, backoff, 0.5);
                rounds.erase(rounds.begin());
                break;
            case WAIT_PAUSE:
                EXPECT_FALSE(server.MayStart(now)) << "line " << i << ": paused";
                now = server.PausedUntil();
                break;
        }
        EXPECT_EQ(server.Limit(), line.nLimit) << "line " << i;
        EXPECT_EQ(server.UnderWay(), line.nUnderWay) << "line " << i;
        EXPECT_EQ(server.MayStart(now), line.bMayStart) << "line " << i;
    }
    // Past the refused level it is forgotten: back at full strength after
    // enough answers, never beyond.
    for (int i = 0; i < 100; ++i) {
        server.Start();
        server.Accepted();
        server.Finished(true);
    }
    EXPECT_EQ(server.Limit(), 8u);
}

TEST(ServerState, PausesGrowWithRefusalsInARowAndRetryAfterWins) {
    RQ_BACKOFF backoff;
    CRQServerState server(4);
    TimePoint now{};
    // Drawn at the middle: half of each ceiling, 0.5 s, 1 s, 2 s, ...
    const Duration expected[] = {500ms, 1s, 2s, 4s, 8s, 16s, 30s, 30s};
    for (Duration pause : expected) {
        const TimePoint until = server.Refused(server.Start(), now, nullptr, backoff, 0.5);
        EXPECT_EQ(until - now, pause);
        now = until;
    }
    // A Retry-After holds even for a refusal of an older round, and a
    // longer one from the same burst extends the pause.
    const uint64_t nOld = server.Start();
    const uint64_t nNewer = server.Start();
    const uint64_t ullShort = 5;
    const uint64_t ullLong = 90;
    EXPECT_EQ(server.Refused(nNewer, now, &ullShort, backoff, 0.0) - now, 5s);
    EXPECT_EQ(server.Refused(nOld, now, &ullLong, backoff, 0.0) - now, 90s);
    // An answer ends the run of refusals: the next pause starts small again.
    now += 90s;
    server.Start();
    server.Accepted();
    server.Finished(true);
    EXPECT_EQ(server.Refused(server.Start(), now, nullptr, backoff, 0.5) - now, 500ms);
}

TEST(ProgressGuard, ABandwidthCapLowersTheLeastAverageRateToAQuarterOfEachTrysShare) {
    RQ_PROGRESS_RULE rule;
    struct Case {
        uint64_t ullCap;
        unsigned nParallel;
        uint64_t ullExpected;
    } cases[] = {{0, 8, 256},    {1024 * 1024, 8, 256}, {8192, 8, 256},
                 {4096, 8, 128}, {1024, 8, 32},         {600, 4, 37}};
    for (const Case& c : cases) {
        EXPECT_EQ(RQProgressRuleUnderCap(rule, c.ullCap, c.nParallel).ullMinAverageBytesPerSec, c.ullExpected)
            << c.ullCap << " B/s over " << c.nParallel;
    }
}

TEST(ProgressGuard, ATryEndsOnlyForLackOfProgress) {
    RQ_PROGRESS_RULE rule;  // 30 s windows, 1 KiB each, 256 B/s over four
    struct Case {
        const char* pszName;
        Duration step;  // how often bytes arrive
        uint64_t ullBytesPerStep;
        Duration lasting;      // how long they keep coming (then nothing)
        Duration expectedEnd;  // zero: never within three hours
    } cases[] = {
        {"a slow line, 300 bytes a second, for hours", 1s, 300, 3h, 0s},
        {"a modem's trickle per slot: 1 KiB every 3 s", 3s, 1024, 3h, 0s},
        {"a server that stops after a minute", 1s, 100000, 60s, 90s},
        {"a drip that passes every window", 29s, 1100, 3h, 120s},
        {"nothing from the start", 1s, 0, 0s, 30s},
    };
    for (const Case& c : cases) {
        CRQProgressGuard guard(rule);
        TimePoint start{};
        guard.Begin(start, 5000);
        uint64_t ullBytes = 5000;
        Duration ended = 0s;
        for (TimePoint t = start + 1s; t <= start + 3h; t += 1s) {
            if (t - start <= c.lasting && (t - start) % c.step == Duration::zero()) {
                ullBytes += c.ullBytesPerStep;
            }
            if (!guard.Check(t, ullBytes)) {
                ended = t - start;
                break;
            }
            EXPECT_GT(guard.NextCheck(), t);
        }
        EXPECT_EQ(ended, c.expectedEnd) << c.pszName;
    }
}
