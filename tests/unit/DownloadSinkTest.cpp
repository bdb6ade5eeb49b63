// What may become a file of the game: the size caps of the files without a
// listed size, the SHA-256 of the part as it lies on the disk, and links in
// the game folder that would lead a write elsewhere.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "RQTestCrcForge.h"
#include "RQTestTempDir.h"
#include "RQTestTransport.h"
#include "baselib/RQBLSealedFile.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"
#include "launcher/transfer/RQDownloadSink.h"
#include "launcher/transfer/RQTransferQueue.h"

namespace fs = std::filesystem;

namespace {

const std::wstring kServer = L"http://cdn.test/";

std::string Body(size_t n, unsigned nSeed) {
    std::string s(n, '\0');
    uint32_t x = nSeed * 2654435761u + 7;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

// A listed file with its SHA-256, as a launcher with keys fetches it.
RQ_TRANSFER_JOB SignedJob(const std::wstring& strName, const std::string& strBody) {
    RQ_TRANSFER_JOB job;
    job.strShown = strName;
    job.strUrlPath = strName;
    job.strLocal = strName;
    job.bHasCheck = true;
    job.ullSize = strBody.size();
    job.dwCrc = CRQBLStreamCrc::Of(strBody.data(), strBody.size());
    RQ_SHA256 digest{};
    CRQBLSha256::Of(strBody.data(), strBody.size(), digest);
    job.strSha256 = RQBLSha256Hex(digest);
    return job;
}

class DownloadSink : public ::testing::Test {
protected:
    RQ_TRANSFER_OUTCOME RunOne(const RQ_TRANSFER_JOB& job) {
        RQ_TRANSFER_OPTIONS options;
        options.vecBaseUrls = {kServer};
        options.nTries = 2;
        options.backoff.first = std::chrono::milliseconds(1);
        options.dwInUseWaitMs = 0;
        CRQTransferQueue queue(options, rqtest::FakeTransports(m_pServer), m_log);
        queue.Start({job});
        while (!queue.WaitForEnd(50)) {
        }
        return queue.Outcomes()[0];
    }
    static std::string Local(const fs::path& file) {
        std::vector<char> v = RQTestTempDir::ReadAll(file);
        return std::string(v.begin(), v.end());
    }
    // A symbolic link, where the system makes one (Wine's is a no-op).
    static bool Link(const fs::path& target, const fs::path& link, bool bFolder) {
        std::error_code ec;
        bFolder ? fs::create_directory_symlink(target, link, ec) : fs::create_symlink(target, link, ec);
        return !ec && fs::is_symlink(fs::symlink_status(link, ec));
    }

    RQTestTempDir m_dir;
    CRQBLNullLog m_log;
    std::shared_ptr<rqtest::CFakeServer> m_pServer = std::make_shared<rqtest::CFakeServer>();
};

}  // namespace

// Size and CRC-32 are four chosen bytes away from any content: only the
// SHA-256 keeps a forged file out.
TEST_F(DownloadSink, ABodyWithTheListedSizeAndCrcButAnotherSha256IsNeverPutInPlace) {
    const std::string strReal = Body(200000, 1);
    const std::string strForged = rqtest::ForgeSameCrc(strReal);
    ASSERT_EQ(CRQBLStreamCrc::Of(strForged.data(), strForged.size()),
              CRQBLStreamCrc::Of(strReal.data(), strReal.size()));
    m_pServer->Put(kServer + L"game.dll", strForged);
    RQTestTempDir::WriteAll("game.dll", "the old one");
    const RQ_TRANSFER_OUTCOME out = RunOne(SignedJob(L"game.dll", strReal));
    EXPECT_FALSE(out.bDone);
    EXPECT_EQ(out.failure, RQTransferFailure::CHECK_FAILED);
    EXPECT_EQ(out.nTries, 2u);
    EXPECT_EQ(Local("game.dll"), "the old one");
    EXPECT_FALSE(fs::exists("game.dll.rqpart"));

    m_pServer->Put(kServer + L"game.dll", strReal);
    EXPECT_TRUE(RunOne(SignedJob(L"game.dll", strReal)).bDone);
    EXPECT_EQ(Local("game.dll"), strReal);
}

// The hash is of the part that takes the destination's name, not of the bytes
// as they streamed in: a part changed after it was written is never put in place.
TEST_F(DownloadSink, APartChangedAfterItWasWrittenIsNeverPutInPlace) {
    const std::string strReal = Body(100000, 2);
    const RQ_TRANSFER_JOB job = SignedJob(L"game.exe", strReal);
    RQ_TRANSFER_OPTIONS options;
    options.dwInUseWaitMs = 0;
    RQTestTempDir::WriteAll("game.exe", "the old one");
    CRQDownloadSink sink(job, options, RQ_SINK_LINKS{}, m_log);
    RQBL_FETCH_REQUEST request;
    sink.PrepareTry(std::string(), false, request);
    RQBL_RESPONSE_HEAD head;
    head.nStatus = 200;
    head.bHasLength = true;
    head.ullLength = strReal.size();
    ASSERT_TRUE(sink.OnHead(head));
    ASSERT_TRUE(sink.OnData(reinterpret_cast<const uint8_t*>(strReal.data()), strReal.size()));
    // Someone who can write the game folder changes the part in place.
    const std::string strForged = rqtest::ForgeSameCrc(strReal);
    {
        std::fstream part("game.exe.rqpart", std::ios::in | std::ios::out | std::ios::binary);
        if (!part.is_open()) {
#ifdef _WIN32
            // The writer's handle keeps every other writer out: nothing to change.
            std::atomic<bool> stop{false};
            EXPECT_EQ(sink.Commit(stop), RQTransferFailure::NONE);
            return;
#else
            FAIL() << "the part could not be opened";
#endif
        }
        part.write(strForged.data(), static_cast<std::streamsize>(strForged.size()));
    }
    std::atomic<bool> stop{false};
    EXPECT_EQ(sink.Commit(stop), RQTransferFailure::CHECK_FAILED);
    EXPECT_EQ(Local("game.exe"), "the old one");
    EXPECT_FALSE(fs::exists("game.exe.rqpart"));
}

// A part that another writer made (from the player's old files) and checked
// as it wrote is held from its first byte until it is renamed: what was
// checked is what takes the file's name. Windows refuses the change outright;
// POSIX, without sharing modes, finds it by the file's change time.
TEST_F(DownloadSink, AHeldPartReplacesTheFileUnlessItChangedSinceItWasWritten) {
    const std::string strReal = Body(70000, 3);
    RQ_TRANSFER_OPTIONS options;
    options.dwInUseWaitMs = 0;
    for (const bool bTamper : {false, true}) {
        SCOPED_TRACE(bTamper ? "written to by another program" : "untouched");
        RQTestTempDir::WriteAll("data.pak", "the old one");
        rqbl::CRQBLOutFile out;
        ASSERT_EQ(out.Open(L"data.pak.rqpart", true, true), rqbl::FileError::NONE);
        ASSERT_EQ(out.Write(strReal.data(), strReal.size()), rqbl::FileError::NONE);
        rqbl::CRQBLSealedFile held;
        ASSERT_EQ(held.TakeOver(out, L"data.pak.rqpart"), rqbl::FileError::NONE);
        EXPECT_FALSE(out.IsOpen());
        bool bChanged = false;
        if (bTamper) {
            // Past the coarse clock tick that stamps change times.
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            std::fstream other("data.pak.rqpart", std::ios::binary | std::ios::in | std::ios::out);
            if (other.is_open()) {
                other.seekp(10);
                other.put('X');
                other.close();
                bChanged = !other.fail();
            }
        }
        CRQDownloadSink sink(SignedJob(L"data.pak", strReal), options, RQ_SINK_LINKS{}, m_log);
        std::atomic<bool> stop{false};
        EXPECT_EQ(sink.CommitPart(held, stop) == RQTransferFailure::NONE, !bChanged);
        EXPECT_FALSE(held.IsOpen());
        EXPECT_EQ(Local("data.pak"), bChanged ? "the old one" : strReal);
        EXPECT_FALSE(fs::exists("data.pak.rqpart"));
    }
}

// The script and the signed files beside it have no listed size: their caps
// hold against the announced length and while the bytes arrive.
TEST_F(DownloadSink, CapsHoldWhileTheBytesArrive) {
    constexpr uint64_t kCap = 4096;
    struct Case {
        const char* pszName;
        size_t nBytes;
        bool bNoLength;
        bool bDone;
    } cases[] = {
        {"at the cap", kCap, false, true},
        {"one byte over, announced", kCap + 1, false, false},
        {"megabytes over, announced", 8 << 20, false, false},
        {"at the cap, unannounced", kCap, true, true},
        {"megabytes over, unannounced", 8 << 20, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_pServer = std::make_shared<rqtest::CFakeServer>();
        m_pServer->Put(kServer + L"PATCHER_CODE.LUA.sig", Body(c.nBytes, 3)).bNoLength = c.bNoLength;
        RQ_TRANSFER_JOB job;
        job.strShown = job.strUrlPath = job.strLocal = L"PATCHER_CODE.LUA.sig";
        job.ullMaxBytes = kCap;
        const RQ_TRANSFER_OUTCOME out = RunOne(job);
        EXPECT_EQ(out.bDone, c.bDone);
        EXPECT_EQ(fs::exists("PATCHER_CODE.LUA.sig"), c.bDone);
        EXPECT_FALSE(fs::exists("PATCHER_CODE.LUA.sig.rqpart"));
        if (!c.bDone) {
            EXPECT_EQ(out.failure, RQTransferFailure::CHECK_FAILED);
            // Cut at the cap: no more than the piece that crossed it was taken.
            EXPECT_EQ(m_pServer->ullBytesSent, 0u);
        }
        std::error_code ec;
        fs::remove("PATCHER_CODE.LUA.sig", ec);
    }
}

// A folder of the game that leads elsewhere, or a part that is a link: the
// launcher, an administrator, must not write there.
TEST_F(DownloadSink, NothingIsWrittenThroughALink) {
    fs::create_directories("outside");
    RQTestTempDir::WriteAll("outside/a.dat", "not the game's");
    RQTestTempDir::WriteAll("outside/victim", "not the game's");
    if (!Link(fs::absolute("outside"), "data", true) ||
        !Link(fs::absolute("outside/victim"), "b.dat.rqpart", false)) {
        GTEST_SKIP() << "no symbolic links on this system";
    }
    const std::string strBody = Body(5000, 4);
    m_pServer->Put(kServer + L"data/a.dat", strBody);
    m_pServer->Put(kServer + L"b.dat", strBody);
    for (const wchar_t* pszName : {L"data/a.dat", L"b.dat"}) {
        RQ_TRANSFER_JOB job = SignedJob(pszName, strBody);
        job.strUrlPath = pszName;
        const RQ_TRANSFER_OUTCOME out = RunOne(job);
        EXPECT_FALSE(out.bDone);
        EXPECT_EQ(out.failure, RQTransferFailure::WRITE_FAILED);
    }
    EXPECT_EQ(Local("outside/a.dat"), "not the game's");
    EXPECT_EQ(Local("outside/victim"), "not the game's");
    EXPECT_FALSE(fs::exists("outside/a.dat.rqpart"));
    EXPECT_FALSE(fs::exists("b.dat"));
    // The install's own records alike.
    ASSERT_TRUE(Link(fs::absolute("outside/victim"), "LAUNCHER_RELEASE.DAT.rqpart", false));
    rqbl::FileError error = rqbl::FileError::NONE;
    EXPECT_FALSE(rqbl::WriteFileAtomically(L"LAUNCHER_RELEASE.DAT", "TOLVANE-RELEASE 9\n", &error));
    EXPECT_EQ(error, rqbl::FileError::LINK);
    EXPECT_EQ(Local("outside/victim"), "not the game's");
}
