// The transfer queue against a server in memory: parallel files, resumed
// cuts, stalls, mirrors, stops, and what a changed file may never become.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "RQTestTempDir.h"
#include "RQTestTransport.h"
#include "baselib/RQBLStreamCrc.h"
#include "launcher/transfer/RQRateLimiter.h"
#include "launcher/transfer/RQResumeRecord.h"
#include "launcher/transfer/RQTransferQueue.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::wstring kServer = L"http://cdn.test/";
const std::wstring kMirror = L"http://mirror.test/";

std::string Body(size_t n, unsigned nSeed) {
    std::string s(n, '\0');
    uint32_t x = nSeed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

RQ_TRANSFER_JOB Job(const std::wstring& strName, const std::string& strBody) {
    RQ_TRANSFER_JOB job;
    job.strShown = strName;
    job.strUrlPath = strName;
    job.strLocal = strName;
    job.bHasCheck = true;
    job.ullSize = strBody.size();
    job.dwCrc = CRQBLStreamCrc::Of(strBody.data(), strBody.size());
    return job;
}

class TransferQueue : public ::testing::Test {
protected:
    RQ_TRANSFER_OPTIONS Options() const {
        RQ_TRANSFER_OPTIONS options;
        options.vecBaseUrls = {kServer};
        options.nParallel = 4;
        options.nTries = 3;
        options.backoff.first = 0ms;
        options.progress.window = 300ms;
        options.strResumeRecordPath = L"resume.dat";
        options.dwInUseWaitMs = 0;
        return options;
    }
    // Runs the jobs to their end (or a stop); the outcomes.
    std::vector<RQ_TRANSFER_OUTCOME> Run(std::vector<RQ_TRANSFER_JOB> jobs, RQ_TRANSFER_OPTIONS options) {
        CRQTransferQueue queue(std::move(options), rqtest::FakeTransports(m_pServer), m_log);
        queue.Start(std::move(jobs));
        while (!queue.WaitForEnd(50)) {
        }
        m_progress = queue.Progress();
        return queue.Outcomes();
    }
    static std::string Local(const std::wstring& strName) {
        std::vector<char> v = RQTestTempDir::ReadAll(fs::path(strName));
        return std::string(v.begin(), v.end());
    }

    RQTestTempDir m_dir;
    CRQBLNullLog m_log;
    std::shared_ptr<rqtest::CFakeServer> m_pServer = std::make_shared<rqtest::CFakeServer>();
    RQ_TRANSFER_PROGRESS m_progress;
};

}  // namespace

TEST_F(TransferQueue, ParallelFilesEndIdenticalWhateverOrderTheyFinishIn) {
    std::vector<RQ_TRANSFER_JOB> jobs;
    for (unsigned i = 0; i < 12; ++i) {
        std::wstring strName = L"f" + std::to_wstring(i) + L".dat";
        // Later files are shorter and faster: they finish before earlier ones.
        rqtest::CFakeFile& file = m_pServer->Put(kServer + strName, Body(300000 - i * 20000, i));
        file.delayPerChunk = std::chrono::milliseconds(12 - i);
        jobs.push_back(Job(strName, file.strBody));
    }
    RQTestTempDir::WriteAll("f0.dat", "old");
    std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run(jobs, Options());
    for (unsigned i = 0; i < 12; ++i) {
        EXPECT_TRUE(outcomes[i].bDone) << i;
        EXPECT_EQ(Local(jobs[i].strLocal), Body(300000 - i * 20000, i)) << i;
        EXPECT_FALSE(fs::exists(jobs[i].strLocal + L".rqpart"));
    }
    EXPECT_EQ(m_pServer->nMostActive, 4);
    EXPECT_EQ(m_progress.ullDoneBytes, m_progress.ullTotalBytes);
    EXPECT_EQ(m_progress.nFilesDone, 12u);
}

TEST_F(TransferQueue, ACutTransferResumesWithARangeGuardedByItsValidator) {
    const std::string strBody = Body(1000000, 1);
    m_pServer->Put(kServer + L"a.dat", strBody).vecCutAt = {600000};
    std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({Job(L"a.dat", strBody)}, Options());
    ASSERT_TRUE(outcomes[0].bDone);
    EXPECT_EQ(outcomes[0].nTries, 2u);
    EXPECT_EQ(Local(L"a.dat"), strBody);
    std::vector<rqtest::CFetchCall> calls = m_pServer->Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].ullRangeStart, 600000u);
    EXPECT_EQ(calls[1].strIfRange, "\"v1\"");
    EXPECT_EQ(m_pServer->ullBytesSent, strBody.size());
}

TEST_F(TransferQueue, AFileChangedBetweenTriesIsNeverSplicedOntoOldBytes) {
    // Large enough for its part to be resumed by a later run.
    const std::string strOld = Body(1500000, 2);
    const std::string strNew = Body(1500000, 3);  // the listed one
    struct Case {
        const char* pszName;
        bool bIgnoresIfRange;
        size_t nExpectedCalls;
    } cases[] = {
        {"the server answers a stale If-Range with the whole file", false, 2},
        {"a server that ignores If-Range: the check catches the splice", true, 3},
    };
    for (const Case& c : cases) {
        RQTestTempDir dir;
        m_pServer = std::make_shared<rqtest::CFakeServer>();
        rqtest::CFakeFile& file = m_pServer->Put(kServer + L"a.dat", strOld);
        file.vecCutAt = {600000};
        {
            // The first try sees the old file; then it changes on the server.
            RQ_TRANSFER_OPTIONS one = Options();
            one.nTries = 1;
            CRQTransferQueue first(one, rqtest::FakeTransports(m_pServer), m_log);
            first.Start({Job(L"a.dat", strNew)});
            while (!first.WaitForEnd(50)) {
            }
        }
        file.strBody = strNew;
        file.strETag = "\"v2\"";
        file.bIgnoresIfRange = c.bIgnoresIfRange;
        std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({Job(L"a.dat", strNew)}, Options());
        EXPECT_TRUE(outcomes[0].bDone) << c.pszName;
        EXPECT_EQ(Local(L"a.dat"), strNew) << c.pszName;
        EXPECT_EQ(m_pServer->Calls().size(), c.nExpectedCalls) << c.pszName;
    }
}

TEST_F(TransferQueue, StallsAndDripsAreCutOffAndResumed) {
    const std::string strBody = Body(400000, 4);
    struct Case {
        const char* pszName;
        std::vector<size_t> vecStallAt;
        std::chrono::milliseconds delay;
        uint64_t ullMinAverageBytesPerSec;
    } cases[] = {
        {"a try that delivers nothing more", {100000}, 0ms, 256},
        {"a try slower than the least average rate", {}, 40ms, 4 << 20},
    };
    for (const Case& c : cases) {
        RQTestTempDir dir;
        m_pServer = std::make_shared<rqtest::CFakeServer>();
        rqtest::CFakeFile& file = m_pServer->Put(kServer + L"a.dat", strBody);
        file.vecStallAt = c.vecStallAt;
        file.delayPerChunk = c.delay;
        RQ_TRANSFER_OPTIONS options = Options();
        options.progress.window = 100ms;
        options.progress.nAverageWindows = 2;
        options.progress.ullMinAverageBytesPerSec = c.ullMinAverageBytesPerSec;
        options.nTries = 10;
        auto start = std::chrono::steady_clock::now();
        std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({Job(L"a.dat", strBody)}, options);
        EXPECT_TRUE(outcomes[0].bDone) << c.pszName;
        EXPECT_GE(outcomes[0].nTries, 2u) << c.pszName;
        EXPECT_EQ(Local(L"a.dat"), strBody) << c.pszName;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << c.pszName;
        EXPECT_GT(m_pServer->Calls().back().ullRangeStart, 0u)
            << c.pszName << ": the rest, not again from zero";
    }
}

TEST_F(TransferQueue, EachTryGoesToTheNextServer) {
    const std::string strBody = Body(5000, 5);
    m_pServer->Put(kServer + L"a.dat", strBody).vecStatuses = {503};
    m_pServer->Put(kMirror + L"a.dat", strBody).vecStatuses = {-1, 0};
    RQ_TRANSFER_OPTIONS options = Options();
    options.vecBaseUrls = {kServer, kMirror};
    options.nTries = 4;
    std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({Job(L"a.dat", strBody)}, options);
    EXPECT_TRUE(outcomes[0].bDone);
    EXPECT_EQ(m_pServer->Urls(), (std::vector<std::wstring>{kServer + L"a.dat", kMirror + L"a.dat",
                                                            kServer + L"a.dat", kMirror + L"a.dat"}));
}

TEST_F(TransferQueue, TheLastTrysFailureIsKeptAndNothingIsLeftHalfDone) {
    struct Case {
        const char* pszName;
        std::vector<int> vecStatuses;
        bool bWrongBody;
        RQTransferFailure expected;
        int nStatus;
    } cases[] = {
        {"no server answers", {-1}, false, RQTransferFailure::UNREACHABLE, 0},
        {"an error page", {403}, false, RQTransferFailure::SERVER_REFUSED, 403},
        {"another file under that name", {}, true, RQTransferFailure::CHECK_FAILED, 0},
    };
    for (const Case& c : cases) {
        RQTestTempDir dir;
        m_pServer = std::make_shared<rqtest::CFakeServer>();
        const std::string strListed = Body(200000, 6);
        m_pServer->Put(kServer + L"a.dat", c.bWrongBody ? Body(200000, 7) : strListed).vecStatuses =
            c.vecStatuses;
        RQTestTempDir::WriteAll("a.dat", "old");
        std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({Job(L"a.dat", strListed)}, Options());
        EXPECT_FALSE(outcomes[0].bDone) << c.pszName;
        EXPECT_EQ(outcomes[0].failure, c.expected) << c.pszName;
        EXPECT_EQ(outcomes[0].nStatus, c.nStatus) << c.pszName;
        EXPECT_EQ(outcomes[0].nTries, 3u) << c.pszName;
        EXPECT_EQ(Local(L"a.dat"), "old") << c.pszName;
        EXPECT_FALSE(fs::exists("a.dat.rqpart")) << c.pszName;
    }
}

TEST_F(TransferQueue, AFolderInTheWayEndsThatFileAtOnce) {
    const std::string strBody = Body(1000, 8);
    m_pServer->Put(kServer + L"a.dat", strBody);
    fs::create_directories("a.dat/inside");
    std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({Job(L"a.dat", strBody)}, Options());
    EXPECT_EQ(outcomes[0].failure, RQTransferFailure::FOLDER_IN_WAY);
    EXPECT_EQ(outcomes[0].nTries, 1u);
    EXPECT_TRUE(fs::is_directory("a.dat/inside"));
    EXPECT_FALSE(fs::exists("a.dat.rqpart"));
}

TEST_F(TransferQueue, AStopEndsParallelTransfersAtOnceAndKeepsTheirParts) {
    std::vector<RQ_TRANSFER_JOB> jobs;
    for (unsigned i = 0; i < 6; ++i) {
        std::wstring strName = L"s" + std::to_wstring(i) + L".dat";
        rqtest::CFakeFile& file = m_pServer->Put(kServer + strName, Body(4 << 20, i));
        file.vecStallAt = {1 << 20};
        jobs.push_back(Job(strName, file.strBody));
    }
    // Every try stalls at 1 MiB: with few tries, a loaded machine lets the
    // first files give up before the last reach that point.
    RQ_TRANSFER_OPTIONS options = Options();
    options.nTries = 1000;
    CRQTransferQueue queue(options, rqtest::FakeTransports(m_pServer), m_log);
    queue.Start(jobs);
    while (queue.Progress().ullDoneBytes < 4u << 20) {
        std::this_thread::sleep_for(10ms);
    }
    auto start = std::chrono::steady_clock::now();
    queue.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    for (size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_EQ(queue.Outcomes()[i].failure, RQTransferFailure::STOPPED) << i;
        EXPECT_FALSE(fs::exists(jobs[i].strLocal)) << i;
    }
    EXPECT_TRUE(fs::exists(L"s0.dat.rqpart"));  // resumable next time
}

TEST_F(TransferQueue, AStopEndsAWaitForABusyServerAtOnce) {
    m_pServer->Put(kServer + L"a.dat", Body(1000, 10)).vecStatuses = {503};
    m_pServer->mapFiles[kServer + L"a.dat"].strRetryAfter = "600";
    RQ_TRANSFER_OPTIONS options = Options();
    CRQTransferQueue queue(options, rqtest::FakeTransports(m_pServer), m_log);
    queue.Start({Job(L"a.dat", Body(1000, 10))});
    while (!queue.Progress().bWaitingForServer) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GT(queue.Progress().ullRetryInMs, 590000u);
    auto start = std::chrono::steady_clock::now();
    queue.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(queue.Outcomes()[0].failure, RQTransferFailure::STOPPED);
    EXPECT_EQ(m_pServer->Calls().size(), 1u);
}

TEST_F(TransferQueue, APartLeftByAKilledRunIsResumedNotSwept) {
    const std::string strBody = Body(3 << 20, 9);
    m_pServer->Put(kServer + L"big.pak", strBody);
    RQTestTempDir::WriteAll("big.pak.rqpart", strBody.substr(0, 1 << 20));
    RQTestTempDir::WriteAll("other.rqpart", "not this update's");
    RQ_TRANSFER_JOB job = Job(L"big.pak", strBody);
    CRQResumeRecord record;
    ASSERT_TRUE(record.Put(L"big.pak", RQ_RESUME_ENTRY{job.ullSize, job.dwCrc, "\"v1\""}));
    ASSERT_TRUE(record.Save(L"resume.dat"));
    std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({job}, Options());
    ASSERT_TRUE(outcomes[0].bDone);
    EXPECT_EQ(Local(L"big.pak"), strBody);
    EXPECT_EQ(m_pServer->Calls()[0].ullRangeStart, 1u << 20);
    EXPECT_EQ(m_pServer->ullBytesSent, strBody.size() - (1 << 20));
    EXPECT_EQ(Local(L"other.rqpart"), "not this update's");
    EXPECT_FALSE(fs::exists("resume.dat")) << "nothing is left to resume";
}

TEST(RateLimiter, HoldsTheCapOverAnyTenSecondWindow) {
    const uint64_t kRate = 100000;
    CRQRateLimiter limiter(kRate);
    auto t = CRQRateLimiter::Clock::time_point();
    uint64_t ullPassed = 0;
    // Takers asking for more than the cap: each waits as it is told.
    while (t < CRQRateLimiter::Clock::time_point() + 10s) {
        auto wait = limiter.Take(32768, t);
        t += wait;
        ullPassed += 32768;
    }
    EXPECT_LE(static_cast<double>(ullPassed), 1.1 * 10 * kRate);
    EXPECT_GE(static_cast<double>(ullPassed), 0.95 * 10 * kRate);
    EXPECT_EQ(CRQRateLimiter(0).Take(1u << 30, t), CRQRateLimiter::Clock::duration::zero());
}
