// The transfer queue on a test's clock against a server in memory: a storm of
// 503s ridden out with a handful of requests, a pause that holds back every
// slot, waits that use up no tries, a limit that finds what the server takes,
// tries that end only for lack of progress, and resumes that are safe without
// validators. Virtual time: an hour costs no real hour, and a loaded machine
// changes nothing that is measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "RQTestClock.h"
#include "RQTestTempDir.h"
#include "RQTestTransport.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"
#include "launcher/transfer/RQTransferQueue.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Duration = CRQTransferClock::Duration;
using TimePoint = CRQTransferClock::TimePoint;

namespace {

const std::wstring kServer = L"http://cdn.test/";
const std::wstring kMirror = L"http://mirror.test/";

std::string Body(size_t n, unsigned nSeed) {
    std::string s(n, '\0');
    uint32_t x = nSeed * 2654435761u + 7;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

RQ_TRANSFER_JOB Job(const std::wstring& strName, const std::string& strBody, bool bSha256 = false) {
    RQ_TRANSFER_JOB job;
    job.strShown = strName;
    job.strUrlPath = strName;
    job.strLocal = strName;
    job.bHasCheck = true;
    job.ullSize = strBody.size();
    job.dwCrc = CRQBLStreamCrc::Of(strBody.data(), strBody.size());
    RQ_SHA256 digest{};
    if (bSha256 && CRQBLSha256::Of(strBody.data(), strBody.size(), digest)) {
        job.strSha256 = RQBLSha256Hex(digest);
    }
    return job;
}

double Seconds(Duration d) {
    return std::chrono::duration<double>(d).count();
}

class TransferTime : public ::testing::Test {
protected:
    // A fresh clock and server (for each case of a table).
    void Reset() {
        m_pClock = std::make_shared<rqtest::CTestClock>();
        m_pServer = std::make_shared<rqtest::CFakeServer>();
        m_pServer->pClock = m_pClock;
    }
    void SetUp() override { Reset(); }

    RQ_TRANSFER_OPTIONS Options() const {
        RQ_TRANSFER_OPTIONS options;
        options.vecBaseUrls = {kServer};
        options.nParallel = 4;
        options.nTries = 3;
        options.strResumeRecordPath = L"resume.dat";
        options.dwInUseWaitMs = 0;
        options.pClock = m_pClock;
        options.nJitterSeed = 7;
        return options;
    }
    std::vector<RQ_TRANSFER_OUTCOME> Run(std::vector<RQ_TRANSFER_JOB> jobs, RQ_TRANSFER_OPTIONS options) {
        CRQTransferQueue queue(std::move(options), rqtest::FakeTransports(m_pServer), m_log);
        queue.Start(std::move(jobs));
        while (!queue.WaitForEnd(50)) {
        }
        m_progress = queue.Progress();
        return queue.Outcomes();
    }
    // Serves count files of n bytes; their jobs.
    std::vector<RQ_TRANSFER_JOB> Files(const std::wstring& strBase, unsigned nCount, size_t n) {
        std::vector<RQ_TRANSFER_JOB> jobs;
        for (unsigned i = 0; i < nCount; ++i) {
            const std::wstring strName = L"f" + std::to_wstring(i) + L".dat";
            jobs.push_back(Job(strName, m_pServer->Put(strBase + strName, Body(n, i)).strBody));
        }
        return jobs;
    }
    static std::string Local(const std::wstring& strName) {
        std::vector<char> v = RQTestTempDir::ReadAll(fs::path(strName));
        return std::string(v.begin(), v.end());
    }

    RQTestTempDir m_dir;
    CRQBLNullLog m_log;
    std::shared_ptr<rqtest::CTestClock> m_pClock;
    std::shared_ptr<rqtest::CFakeServer> m_pServer;
    RQ_TRANSFER_PROGRESS m_progress;
};

}  // namespace

TEST_F(TransferTime, AStormOf503sIsRiddenOutWithAHandfulOfRequestsAndNoTries) {
    struct Case {
        const char* pszName;
        const char* pszRetryAfter;
        const char* pszDate;
        Duration storm;
        Duration firstPauseMin, firstPauseMax;  // from the first wave to the next request
        size_t nMaxInStorm;
    } cases[] = {
        {"Retry-After in seconds", "30", "", 45s, 30s, 33s, 5},
        {"Retry-After as a date", "Thu, 01 Jan 2026 00:00:30 GMT", "Thu, 01 Jan 2026 00:00:00 GMT", 45s, 30s,
         33s, 5},
        {"a Retry-After beyond the cap", "3600", "", 700s, 600s, 660s, 5},
        {"no Retry-After: the back-off", "", "", 45s, 0s, 1s, 16},
    };
    for (const Case& c : cases) {
        Reset();
        RQTestTempDir dir;
        m_pServer->stormUntil = TimePoint(c.storm);
        m_pServer->strStormRetryAfter = c.pszRetryAfter;
        m_pServer->strStormDate = c.pszDate;
        RQ_TRANSFER_OPTIONS options = Options();
        options.nTries = 1;  // a wait that used a try would fail the file
        options.dwBusyPatienceMs = 60 * 60 * 1000;
        std::vector<RQ_TRANSFER_JOB> jobs = Files(kServer, 6, 100000);
        std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run(jobs, options);
        for (size_t i = 0; i < jobs.size(); ++i) {
            EXPECT_TRUE(outcomes[i].bDone) << c.pszName << ", file " << i;
            EXPECT_EQ(outcomes[i].nTries, 1u) << c.pszName << ", file " << i;
        }
        std::vector<rqtest::CFetchCall> calls = m_pServer->Calls();
        const auto nInStorm = static_cast<size_t>(
            std::count_if(calls.begin(), calls.end(),
                          [&](const rqtest::CFetchCall& call) { return call.at < TimePoint(c.storm); }));
        // The first wave: the slots that started together; then the whole
        // server waits, and one request goes first after each pause.
        ASSERT_GE(calls.size(), 5u);
        size_t nWave = 0;
        while (nWave < calls.size() && calls[nWave].at == TimePoint()) {
            ++nWave;
        }
        EXPECT_LE(nWave, 4u) << c.pszName;
        const Duration firstPause = calls[nWave].at - TimePoint();
        EXPECT_GE(firstPause, c.firstPauseMin) << c.pszName;
        EXPECT_LE(firstPause, c.firstPauseMax) << c.pszName;
        EXPECT_LE(nInStorm, c.nMaxInStorm) << c.pszName;
        EXPECT_EQ(calls.size(), nInStorm + jobs.size()) << c.pszName << ": after the storm, no refusal";
        for (size_t i = nWave + 1; i < nInStorm; ++i) {
            EXPECT_GT(calls[i].at, calls[i - 1].at) << c.pszName << ": one request per pause";
        }
    }
}

TEST_F(TransferTime, AMirrorServesWhileTheServerIsPaused) {
    m_pServer->stormUntil = CRQTransferClock::kNever;
    m_pServer->strStormPrefix = kServer;
    m_pServer->strStormRetryAfter = "600";
    std::vector<RQ_TRANSFER_JOB> jobs = Files(kServer, 6, 50000);
    Files(kMirror, 6, 50000);
    RQ_TRANSFER_OPTIONS options = Options();
    options.vecBaseUrls = {kServer, kMirror};
    std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run(jobs, options);
    for (size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_TRUE(outcomes[i].bDone) << i;
        EXPECT_TRUE(Local(jobs[i].strLocal) == Body(50000, static_cast<unsigned>(i))) << i;
    }
    EXPECT_LT(m_pClock->Elapsed(), 1s) << "nobody waited for the paused server";
    size_t nToServer = 0;
    for (const rqtest::CFetchCall& call : m_pServer->Calls()) {
        nToServer += call.strUrl.compare(0, kServer.size(), kServer) == 0 ? 1 : 0;
    }
    EXPECT_GE(nToServer, 1u);
    EXPECT_LE(nToServer, 4u) << "only the requests sent before its first answer";
}

TEST_F(TransferTime, BusyServersAreWaitedForAsLongAsThePatienceAllows) {
    struct Case {
        int nStatus;
        RQTransferFailure expected;
        int nExpectedStatus;
        Duration patience;
    } cases[] = {
        {503, RQTransferFailure::SERVER_REFUSED, 503, 10min},
        {429, RQTransferFailure::SERVER_REFUSED, 429, 10min},
        // Only refused connections: more likely a server that is down.
        {-2, RQTransferFailure::UNREACHABLE, 0, 2min},
    };
    for (const Case& c : cases) {
        Reset();
        RQTestTempDir dir;
        m_pServer->stormUntil = CRQTransferClock::kNever;
        m_pServer->nStormStatus = c.nStatus;
        RQ_TRANSFER_OPTIONS options = Options();
        options.dwBusyPatienceMs = 10 * 60 * 1000;
        std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run(Files(kServer, 1, 1000), options);
        EXPECT_FALSE(outcomes[0].bDone) << c.nStatus;
        EXPECT_EQ(outcomes[0].failure, c.expected) << c.nStatus;
        EXPECT_EQ(outcomes[0].nStatus, c.nExpectedStatus) << c.nStatus;
        EXPECT_EQ(outcomes[0].nTries, 0u) << c.nStatus;
        EXPECT_GE(m_pClock->Elapsed(), c.patience) << c.nStatus;
        EXPECT_LT(m_pClock->Elapsed(), c.patience + 1min) << c.nStatus;
        // Pauses of up to a minute: a request or so a minute, not one a second.
        EXPECT_LT(outcomes[0].nBusyAnswers, 25u) << c.nStatus;
        EXPECT_FALSE(fs::exists("f0.dat")) << c.nStatus;
    }
}

TEST_F(TransferTime, TheLimitFindsWhatTheServerTakesAndKeepsItBusy) {
    struct Case {
        int nMostAtOnce;
        size_t nMaxRefused;
    } cases[] = {{1, 16}, {2, 16}, {4, 16}};  // (a busy machine's thread timing adds a few)
    for (const Case& c : cases) {
        Reset();
        RQTestTempDir dir;
        m_pServer->nMostAtOnce = c.nMostAtOnce;
        // Each file takes 0.4 s to send: sixty of them keep the server busy
        // for 24 s / nMostAtOnce at best.
        std::vector<RQ_TRANSFER_JOB> jobs = Files(kServer, 60, 256 * 1024);
        for (const RQ_TRANSFER_JOB& job : jobs) {
            m_pServer->mapFiles[kServer + job.strUrlPath].delayPerChunk = 100ms;
        }
        RQ_TRANSFER_OPTIONS options = Options();
        options.nParallel = 8;
        std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run(jobs, options);
        for (size_t i = 0; i < jobs.size(); ++i) {
            EXPECT_TRUE(outcomes[i].bDone) << c.nMostAtOnce << ", file " << i;
        }
        std::vector<rqtest::CFetchCall> calls = m_pServer->Calls();
        const auto nRefused = static_cast<size_t>(std::count_if(
            calls.begin(), calls.end(), [](const rqtest::CFetchCall& call) { return call.nAnswer == 503; }));
        EXPECT_LE(nRefused, c.nMaxRefused) << c.nMostAtOnce << " at once";
        const double dIdeal = 60 * 0.4 / c.nMostAtOnce;
        EXPECT_LT(Seconds(m_pClock->Elapsed()), 1.4 * dIdeal) << c.nMostAtOnce << " at once";
    }
}

TEST_F(TransferTime, ATryEndsForLackOfProgressNeverForItsLength) {
    struct Case {
        const char* pszName;
        size_t nSize;
        size_t nChunk;
        Duration delay;
        std::vector<size_t> vecStallAt;
        bool bDone;
        Duration endMin, endMax;
    } cases[] = {
        {"2 KiB a second for two hours", 900 * 16384, 16384, 8s, {}, true, 7200s, 7201s},
        {"1100 bytes every 29 s: each window passes, the average does not",
         1 << 20,
         1100,
         29s,
         {},
         false,
         120s,
         150s},
        {"nothing more after 64 KiB", 1 << 20, 16384, 0s, {65536}, false, 30s, 60s},
    };
    for (const Case& c : cases) {
        Reset();
        RQTestTempDir dir;
        rqtest::CFakeFile& file = m_pServer->Put(kServer + L"slow.pak", Body(c.nSize, 3));
        file.nChunkBytes = c.nChunk;
        file.delayPerChunk = std::chrono::duration_cast<std::chrono::milliseconds>(c.delay);
        file.vecStallAt = c.vecStallAt;
        RQ_TRANSFER_OPTIONS options = Options();
        options.nTries = 1;
        std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({Job(L"slow.pak", file.strBody)}, options);
        EXPECT_EQ(outcomes[0].bDone, c.bDone) << c.pszName;
        EXPECT_EQ(outcomes[0].failure, c.bDone ? RQTransferFailure::NONE : RQTransferFailure::INTERRUPTED)
            << c.pszName;
        EXPECT_GE(m_pClock->Elapsed(), c.endMin) << c.pszName;
        EXPECT_LE(m_pClock->Elapsed(), c.endMax) << c.pszName;
    }
}

TEST_F(TransferTime, AFileWithoutValidatorsIsResumedWhenItsStrongHashCanTellASplice) {
    const std::string strOld = Body(1500000, 20);
    const std::string strNew = Body(1500000, 21);  // the listed one
    struct Case {
        const char* pszName;
        bool bSha256;
        bool bChangesMeanwhile;
        std::vector<uint64_t> vecRanges;  // of the requests after the cut
    } cases[] = {
        {"a strong hash: the rest is asked for", true, false, {600000}},
        {"no strong hash: started over", false, false, {0}},
        {"changed meanwhile: the hash fails the splice, then it starts over", true, true, {600000, 0}},
    };
    for (const Case& c : cases) {
        Reset();
        RQTestTempDir dir;
        rqtest::CFakeFile& file = m_pServer->Put(kServer + L"a.pak", c.bChangesMeanwhile ? strOld : strNew);
        file.strETag.clear();
        file.vecCutAt = {600000};
        const RQ_TRANSFER_JOB job = Job(L"a.pak", strNew, c.bSha256);
        RQ_TRANSFER_OPTIONS first = Options();
        first.nTries = 1;
        EXPECT_FALSE(Run({job}, first)[0].bDone) << c.pszName;
        file.strBody = strNew;
        // A later run: the part and its record entry are what the cut left.
        std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({job}, Options());
        EXPECT_TRUE(outcomes[0].bDone) << c.pszName;
        EXPECT_TRUE(Local(L"a.pak") == strNew) << c.pszName;
        std::vector<rqtest::CFetchCall> calls = m_pServer->Calls();
        std::vector<uint64_t> vecRanges;
        for (size_t i = 1; i < calls.size(); ++i) {
            vecRanges.push_back(calls[i].ullRangeStart);
            EXPECT_EQ(calls[i].strIfRange, "") << c.pszName;
        }
        EXPECT_EQ(vecRanges, c.vecRanges) << c.pszName;
    }
}

TEST_F(TransferTime, ARangeAnsweredFromElsewhereIsRefusedAndThePartKept) {
    const std::string strBody = Body(1500000, 30);
    rqtest::CFakeFile& file = m_pServer->Put(kServer + L"a.pak", strBody);
    file.vecCutAt = {600000};
    RQ_TRANSFER_OPTIONS one = Options();
    one.nTries = 1;
    ASSERT_FALSE(Run({Job(L"a.pak", strBody)}, one)[0].bDone);
    ASSERT_TRUE(Local(L"a.pak.rqpart") == strBody.substr(0, 600000));
    // The server answers the range with bytes from another place.
    file.nRangeStartsEarlier = 1000;
    std::vector<RQ_TRANSFER_OUTCOME> outcomes = Run({Job(L"a.pak", strBody)}, one);
    EXPECT_EQ(outcomes[0].failure, RQTransferFailure::INTERRUPTED);
    EXPECT_TRUE(Local(L"a.pak.rqpart") == strBody.substr(0, 600000)) << "the part is kept as it was";
    EXPECT_FALSE(fs::exists("a.pak"));
    // Once the server answers right, the rest is all that is fetched.
    file.nRangeStartsEarlier = 0;
    const uint64_t ullSentBefore = m_pServer->ullBytesSent;
    ASSERT_TRUE(Run({Job(L"a.pak", strBody)}, one)[0].bDone);
    EXPECT_TRUE(Local(L"a.pak") == strBody);
    EXPECT_EQ(m_pServer->Calls().back().ullRangeStart, 600000u);
    EXPECT_EQ(m_pServer->ullBytesSent - ullSentBefore, strBody.size() - 600000);
}
