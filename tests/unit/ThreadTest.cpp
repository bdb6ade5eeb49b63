#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "baselib/RQBLLocker.h"
#include "baselib/RQBLThread.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void SleepMs(int nMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

// Waits (bounded) until pred holds.
bool WaitUntil(const std::function<bool()>& pred, int nTimeoutMs = 10000) {
    Clock::time_point start = Clock::now();
    while (!pred()) {
        if (MsSince(start) > nTimeoutMs) {
            return false;
        }
        SleepMs(1);
    }
    return true;
}

// What a worker did, in order; shared with the test so that it outlives the worker.
struct Journal {
    std::mutex cs;
    std::vector<std::string> vecEvents;
    std::atomic<int> nInits{0};
    std::atomic<int> nLoops{0};
    std::atomic<int> nExits{0};
    std::atomic<bool> bOwnerGone{false};
    std::atomic<int> nTouchedAfterOwnerGone{0};

    void Add(const std::string& strEvent) {
        std::lock_guard<std::mutex> lock(cs);
        vecEvents.push_back(strEvent);
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(cs);
        return vecEvents;
    }
};

// The workers here have nothing to log worth seeing.
CRQBLNullLog g_log;

class CTestWorker : public CRQBLThread {
public:
    explicit CTestWorker(std::shared_ptr<Journal> pJournal, uint32_t dwStopTimeout = 3000)
        : CRQBLThread(g_log), m_pJournal(std::move(pJournal)), m_dwStopTimeout(dwStopTimeout) {}
    // As every derived worker must: stop first, then let the members go.
    ~CTestWorker() override {
        ThreadStop(m_dwStopTimeout);
        m_pJournal->bOwnerGone = true;
    }

    std::function<bool(CTestWorker&, float)> fnLoop;
    std::function<void()> fnInit;
    std::function<void()> fnExit;

    using CRQBLThread::m_nSleepTime;
    using CRQBLThread::m_nStopRequested;
    using CRQBLThread::ThreadStop;

protected:
    bool ThreadInit() override {
        Touch();
        ++m_pJournal->nInits;
        m_pJournal->Add("init");
        if (fnInit) {
            fnInit();
        }
        return true;
    }
    bool ThreadLoop(float fElapsed) override {
        Touch();
        int nLoop = ++m_pJournal->nLoops;
        m_pJournal->Add("loop" + std::to_string(nLoop));
        bool bGoOn = fnLoop ? fnLoop(*this, fElapsed) : true;
        Touch();
        return bGoOn;
    }
    bool ThreadMessage(uint32_t nMessage, uint64_t nParam1, uint64_t nParam2) override {
        Touch();
        m_pJournal->Add("msg" + std::to_string(nMessage) + ":" + std::to_string(nParam1) + ":" +
                        std::to_string(nParam2));
        return true;
    }
    bool ThreadExit() override {
        Touch();
        ++m_pJournal->nExits;
        m_pJournal->Add("exit");
        if (fnExit) {
            fnExit();
        }
        Touch();
        return true;
    }

private:
    // Derived code running after the owner's destructor has finished is the
    // fault under test; count it (ASan also sees the member read).
    void Touch() {
        if (m_pJournal->bOwnerGone) {
            ++m_pJournal->nTouchedAfterOwnerGone;
        }
    }

    std::shared_ptr<Journal> m_pJournal;
    uint32_t m_dwStopTimeout;
};

}  // namespace

TEST(ThreadStart, SecondBeginStartsNothingButTakesTheSleepTime) {
    auto pJournal = std::make_shared<Journal>();
    CTestWorker worker(pJournal);
    ASSERT_TRUE(worker.ThreadBegin(-1));
    EXPECT_FALSE(worker.ThreadBegin(7));
    EXPECT_EQ(worker.m_nSleepTime.load(), 7);
    ASSERT_TRUE(WaitUntil([&] { return pJournal->nLoops >= 3; }));
    EXPECT_EQ(pJournal->nInits.load(), 1);
}

TEST(ThreadStart, NeverStartedObjectIsDestroyedWithoutWaiting) {
    auto pJournal = std::make_shared<Journal>();
    Clock::time_point start = Clock::now();
    {
        CTestWorker worker(pJournal);  // ThreadStop(3000) on destruction
    }
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(pJournal->nExits.load(), 0);
    EXPECT_EQ(pJournal->nInits.load(), 0);
}

TEST(ThreadStop, FromTheOwnerEndsTheLoopWithOneThreadExit) {
    auto pJournal = std::make_shared<Journal>();
    auto pWorker = std::make_unique<CTestWorker>(pJournal);
    ASSERT_TRUE(pWorker->ThreadBegin(1));
    ASSERT_TRUE(WaitUntil([&] { return pJournal->nLoops >= 3; }));
    pWorker->ThreadStop(3000);
    EXPECT_EQ(pWorker->m_nStopRequested.load(), 1);
    EXPECT_EQ(pJournal->nExits.load(), 1);
    int nLoops = pJournal->nLoops;
    SleepMs(30);
    EXPECT_EQ(pJournal->nLoops.load(), nLoops) << "a tick ran after ThreadStop returned";
    EXPECT_FALSE(pWorker->ThreadPost(1, 2, 3)) << "a message posted after the stop is never handled";
    pWorker.reset();
    EXPECT_EQ(pJournal->nExits.load(), 1);
    EXPECT_EQ(pJournal->Events().back(), "exit");
}

TEST(ThreadStop, FromInsideTheLoopLastsItsWholeWaitThenExits) {
    auto pJournal = std::make_shared<Journal>();
    auto pWorker = std::make_unique<CTestWorker>(pJournal);
    std::atomic<long long> nSelfStopMs{-1};
    pWorker->fnLoop = [&](CTestWorker& self, float) {
        if (pJournal->nLoops == 2) {
            Clock::time_point start = Clock::now();
            self.ThreadStop(300);
            nSelfStopMs = MsSince(start);
        }
        return true;
    };
    ASSERT_TRUE(pWorker->ThreadBegin(-1));
    ASSERT_TRUE(WaitUntil([&] { return pJournal->nExits == 1; }));
    EXPECT_GE(nSelfStopMs.load(), 250);
    EXPECT_EQ(pJournal->nLoops.load(), 2) << "the tick that stopped itself is the last";
    pWorker.reset();  // the owner's stop finds the thread ended
    EXPECT_EQ(pJournal->nExits.load(), 1);
    EXPECT_EQ(pJournal->nTouchedAfterOwnerGone.load(), 0);
}

// The launcher's own end: the worker stops itself, and the window deletes it
// while that stop is still waiting.
TEST(ThreadStop, OwnerDeletingDuringASelfStopWaitsForTheWorker) {
    auto pJournal = std::make_shared<Journal>();
    auto pWorker = std::make_unique<CTestWorker>(pJournal);
    std::atomic<bool> bSelfStopping{false};
    pWorker->fnLoop = [&](CTestWorker& self, float) {
        bSelfStopping = true;
        self.ThreadStop(400);
        return true;
    };
    ASSERT_TRUE(pWorker->ThreadBegin(-1));
    ASSERT_TRUE(WaitUntil([&] { return bSelfStopping.load(); }));
    pWorker.reset();
    EXPECT_EQ(pJournal->nExits.load(), 1) << "deleted before the worker had left";
    EXPECT_EQ(pJournal->nTouchedAfterOwnerGone.load(), 0);
}

TEST(ThreadStop, TickOutlastingTheStopsWaitNeverTouchesTheDestroyedOwner) {
    auto pJournal = std::make_shared<Journal>();
    auto pWorker = std::make_unique<CTestWorker>(pJournal, 50);  // stop waits only 50 ms
    std::atomic<bool> bInTick{false};
    pWorker->fnLoop = [&](CTestWorker&, float) {
        bInTick = true;
        SleepMs(400);  // ignores m_nStopRequested: a badly behaved tick
        return true;
    };
    ASSERT_TRUE(pWorker->ThreadBegin(-1));
    ASSERT_TRUE(WaitUntil([&] { return bInTick.load(); }));
    pWorker.reset();
    EXPECT_EQ(pJournal->nExits.load(), 1);
    SleepMs(450);  // long enough for a worker left behind to wake up and show itself
    EXPECT_EQ(pJournal->nTouchedAfterOwnerGone.load(), 0);
}

TEST(ThreadStop, SlowThreadExitOutlastingTheStopsWaitIsWaitedFor) {
    auto pJournal = std::make_shared<Journal>();
    auto pWorker = std::make_unique<CTestWorker>(pJournal, 50);
    pWorker->fnExit = [] { SleepMs(400); };
    ASSERT_TRUE(pWorker->ThreadBegin(-1));
    ASSERT_TRUE(WaitUntil([&] { return pJournal->nLoops >= 1; }));
    pWorker.reset();
    SleepMs(450);
    EXPECT_EQ(pJournal->nTouchedAfterOwnerGone.load(), 0);
}

TEST(ThreadStop, StoppingABusyLoopEndsWithTheWorkerNotTheTimeout) {
    // A stop that takes the loop lock just as the worker found no stop signal
    // used to leave the worker blocked on the lock until the wait ran out.
    for (int i = 0; i < 40; ++i) {
        auto pJournal = std::make_shared<Journal>();
        CTestWorker worker(pJournal);
        ASSERT_TRUE(worker.ThreadBegin(-1));
        ASSERT_TRUE(WaitUntil([&] { return pJournal->nLoops >= 1 + i % 3; }));
        Clock::time_point start = Clock::now();
        worker.ThreadStop(30000);
        ASSERT_LT(MsSince(start), 10000) << "iteration " << i;
        ASSERT_EQ(pJournal->nExits.load(), 1);
    }
}

TEST(ThreadLoopResult, FalseEndsTheThreadWithoutThreadExit) {
    auto pJournal = std::make_shared<Journal>();
    auto pWorker = std::make_unique<CTestWorker>(pJournal);
    pWorker->fnLoop = [](CTestWorker&, float) { return false; };
    ASSERT_TRUE(pWorker->ThreadBegin(-1));
    ASSERT_TRUE(WaitUntil([&] { return pJournal->nLoops == 1; }));
    SleepMs(20);
    EXPECT_FALSE(pWorker->ThreadBegin(-1)) << "the ended thread is still owned";
    Clock::time_point start = Clock::now();
    pWorker->ThreadStop(3000);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(pJournal->nExits.load(), 0);
    EXPECT_EQ(pJournal->nLoops.load(), 1);
}

TEST(ThreadTicks, FirstElapsedTimeIncludesThreadInit) {
    auto pJournal = std::make_shared<Journal>();
    CTestWorker worker(pJournal);
    std::vector<float> vecElapsed;
    std::mutex cs;
    worker.fnInit = [] { SleepMs(200); };
    worker.fnLoop = [&](CTestWorker&, float fElapsed) {
        std::lock_guard<std::mutex> lock(cs);
        vecElapsed.push_back(fElapsed);
        return vecElapsed.size() < 2;
    };
    ASSERT_TRUE(worker.ThreadBegin(-1));
    ASSERT_TRUE(WaitUntil([&] { return pJournal->nLoops == 2; }));
    worker.ThreadStop(3000);
    std::lock_guard<std::mutex> lock(cs);
    ASSERT_EQ(vecElapsed.size(), 2u);
    EXPECT_GE(vecElapsed[0], 0.19f);
    EXPECT_LT(vecElapsed[1], vecElapsed[0]);
    EXPECT_GE(vecElapsed[1], 0.0f);
}

TEST(ThreadTicks, SleepTimeSeparatesTicks) {
    auto pJournal = std::make_shared<Journal>();
    CTestWorker worker(pJournal);
    std::atomic<float> fSecond{-1.0f};
    worker.fnLoop = [&](CTestWorker&, float fElapsed) {
        if (pJournal->nLoops == 2) {
            fSecond = fElapsed;
        }
        return true;
    };
    ASSERT_TRUE(worker.ThreadBegin(60));
    ASSERT_TRUE(WaitUntil([&] { return fSecond.load() >= 0.0f; }));
    worker.ThreadStop(3000);
    EXPECT_GE(fSecond.load(), 0.055f);
}

TEST(ThreadMessages, QueuedMessagesRunInOrderBeforeEachTick) {
    auto pJournal = std::make_shared<Journal>();
    CTestWorker worker(pJournal);
    ASSERT_TRUE(worker.ThreadPost(1, 10, 100));
    ASSERT_TRUE(worker.ThreadPost(2, 20, 0xFFFFFFFFFFFFFFFFull));
    worker.fnLoop = [](CTestWorker& self, float) {
        if (self.m_nStopRequested == 0) {
            self.ThreadPost(3, 30, 300);
            self.ThreadPost(4, 40, 400);
        }
        return true;
    };
    ASSERT_TRUE(worker.ThreadBegin(-1));
    ASSERT_TRUE(WaitUntil([&] { return pJournal->nLoops >= 2; }));
    worker.ThreadStop(3000);
    std::vector<std::string> vecEvents = pJournal->Events();
    ASSERT_GE(vecEvents.size(), 7u);
    std::vector<std::string> vecFirst(vecEvents.begin(), vecEvents.begin() + 7);
    EXPECT_EQ(vecFirst, (std::vector<std::string>{"init", "msg1:10:100", "msg2:20:18446744073709551615",
                                                  "loop1", "msg3:30:300", "msg4:40:400", "loop2"}));
}

TEST(ThreadLocker, EarlyUnlockIsNotLeftTwice) {
    CRQBLCriticalSection cs;
    {
        CRQBLLocker outer(&cs);
        {
            CRQBLLocker inner(&cs);  // re-entered by the same thread
            inner.Unlock();
            inner.Unlock();
        }
        bool bOtherGot = true;
        std::thread([&] { bOtherGot = cs.try_lock(); }).join();
        EXPECT_FALSE(bOtherGot) << "the outer lock was left by the inner one";
    }
    bool bOtherGot = false;
    std::thread([&] {
        bOtherGot = cs.try_lock();
        if (bOtherGot) {
            cs.unlock();
        }
    }).join();
    EXPECT_TRUE(bOtherGot);
}

TEST(ThreadLocker, AnExceptionLeavesTheSection) {
    CRQBLCriticalSection cs;
    try {
        CRQBLLocker lock(&cs);
        throw 1;
    } catch (int) {
    }
    bool bOtherGot = false;
    std::thread([&] {
        bOtherGot = cs.try_lock();
        if (bOtherGot) {
            cs.unlock();
        }
    }).join();
    EXPECT_TRUE(bOtherGot);
    CRQBLLocker nothing(nullptr);  // a null section is never entered
    nothing.Unlock();
}
