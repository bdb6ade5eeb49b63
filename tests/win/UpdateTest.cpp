// A whole update on its own thread: the update worker with the real WinINet
// transport against a real server (the test server, or nginx in the nginx
// run), reporting to a recording link instead of a window.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RQTestContent.h"
#include "RQTestPatchScript.h"
#include "RQTestTempDir.h"
#include "RQTestWorkerKit.h"
#include "baselib/win/RQBLWinInetTransport.h"
#include "patch/RQReservedNames.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxWaitMs = 60000;

// Files of the install and of the content, relative path -> bytes.
std::map<std::wstring, std::string> Snapshot(const fs::path& root) {
    std::map<std::wstring, std::string> files;
    for (const std::wstring& strName : rqtest::ListTree(root)) {
        files[strName] = rqtest::ReadBytes(root / strName);
    }
    return files;
}

class WholeUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_content.Ready());
        m_pRecord = std::make_shared<rqtest::CLinkRecord>();
    }

    void Publish(const std::vector<rqtest::CPatchEntry>& entries) {
        for (const rqtest::CPatchEntry& e : entries) {
            ASSERT_TRUE(m_content.Put(fs::path(e.strPath + e.strName).wstring(), e.strBody));
        }
        ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    }

    // Runs the worker on its thread until it reports the end (2028); false
    // when it does not within the time limit.
    bool RunWorker() {
        RQ_UPDATE_SETTINGS settings;
        settings.strCdnAddress = m_content.BaseUrl();
        settings.dwRetryPauseMs = 50;
        auto pSession = std::make_shared<CRQBLInternetSession>(10000, settings.nParallel + 1);
        auto pWorker = std::make_unique<rqtest::CTestWorker>(
            settings, [pSession] { return std::make_unique<CRQBLWinInetTransport>(pSession); },
            std::make_unique<rqtest::CRecordingLink>(m_pRecord), m_log);
        if (!pWorker->ThreadBegin(-1)) {
            return false;
        }
        bool bDone = false;
        for (int nWaited = 0; nWaited < kMaxWaitMs && !bDone; nWaited += 20) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            for (uint32_t n : m_pRecord->Messages()) {
                bDone = bDone || n == WM_RQ_UPDATE_DONE || n == RQ_WM_CLOSE;
            }
        }
        pWorker.reset();  // stops the thread
        return bDone;
    }

    RQTestTempDir m_install;
    CRQBLNullLog m_log;
    rqtest::CTestContent m_content;
    std::shared_ptr<rqtest::CLinkRecord> m_pRecord;
};

}  // namespace

TEST_F(WholeUpdate, MissingStaleAndCurrentFilesEndIdenticalToTheContent) {
    std::vector<rqtest::CPatchEntry> entries = {
        {"", "TOLVANE.EXE", rqtest::MakeBody(700000, 1)},           // missing
        {"data/", "world.pak", rqtest::MakeBody(1500000, 2)},       // stale, same size
        {"data/", "ui.pak", rqtest::MakeBody(300000, 3)},           // current
        {"data/sound/", "bgm 01.ogg", rqtest::MakeBody(90000, 4)},  // missing, in a missing folder
        {"config/", "default.ini", "[GRAPHIC]\r\nWIDTH=1280\r\n"},  // stale, other size
        {"config/", "empty.dat", ""},                               // current, empty
        {"", "readonly.dat", "new"},                                // stale and read-only
    };
    Publish(entries);
    const fs::path& dir = m_install.Path();
    ASSERT_TRUE(rqtest::WriteBytes(dir / "data/world.pak", rqtest::MakeBody(1500000, 99)));
    ASSERT_TRUE(rqtest::WriteBytes(dir / "data/ui.pak", rqtest::MakeBody(300000, 3)));
    ASSERT_TRUE(rqtest::WriteBytes(dir / "config/default.ini", "[GRAPHIC]\r\nWIDTH=800\r\n"));
    ASSERT_TRUE(rqtest::WriteBytes(dir / "config/empty.dat", ""));
    ASSERT_TRUE(rqtest::WriteBytes(dir / "readonly.dat", "old"));
    ASSERT_TRUE(SetFileAttributesW((dir / "readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(rqtest::WriteBytes(dir / "data/world.pak.rqpart", "left by a killed run"));

    ASSERT_TRUE(RunWorker());
    // The record of what was verified is the launcher's own, not content.
    EXPECT_TRUE(fs::remove(dir / "LAUNCHER_VERIFIED.DAT"));
    EXPECT_EQ(Snapshot(dir), Snapshot(m_content.Root()));
    EXPECT_TRUE(m_pRecord->Boxes().empty());
    std::vector<uint32_t> messages = m_pRecord->Messages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[messages.size() - 2], static_cast<uint32_t>(WM_RQ_PROGRESS_FULL));
    EXPECT_EQ(messages.back(), static_cast<uint32_t>(WM_RQ_UPDATE_DONE));
}

TEST_F(WholeUpdate, FilesThatDoNotMatchTheirEntryLeaveTheOldOnes) {
    if (m_content.IsExternal()) {
        GTEST_SKIP() << "needs the in-process server";
    }
    // The server's file differs from what its entry says; another is cut short.
    Publish({{"", "a.dat", "the entry's content"},
             {"", "b.dat", rqtest::MakeBody(200000, 5)},
             {"", "c.dat", "ok"}});
    ASSERT_TRUE(m_content.Put(L"a.dat", "something else entirely"));
    rqtest::CServerBehaviour cut;
    cut.nCutAfter = 150000;
    m_content.Server()->SetBehaviour("/b.dat", cut);
    const fs::path& dir = m_install.Path();
    ASSERT_TRUE(rqtest::WriteBytes(dir / "a.dat", "old a"));
    ASSERT_TRUE(rqtest::WriteBytes(dir / "b.dat", "old b"));

    ASSERT_TRUE(RunWorker());
    EXPECT_EQ(rqtest::ReadBytes(dir / "a.dat"), "old a");
    EXPECT_EQ(rqtest::ReadBytes(dir / "b.dat"), "old b");
    EXPECT_EQ(rqtest::ReadBytes(dir / "c.dat"), "ok");
    for (const std::wstring& strName : rqtest::ListTree(dir)) {
        EXPECT_FALSE(RQIsDownloadTempName(strName));
    }
}
