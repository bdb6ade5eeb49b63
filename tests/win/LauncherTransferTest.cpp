// The real Launcher.exe and a transfer that breaks off: a launcher killed in
// the middle of a large file leaves its part, and the next start asks only for
// the rest (a Range request, answered 206) and ends with the right file.
// A changed file with a delta release costs only its changes.
// Runs against the in-process server and, in the nginx run, against nginx.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "RQLauncherFixture.h"
#include "RQTestContent.h"
#include "RQTestDeltaRelease.h"
#include "RQTestPatchScript.h"
#include "RQUiProbe.h"

namespace fs = std::filesystem;

namespace {

class LauncherTransfer : public rqtest::CLauncherFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_content.Ready());
        MakeInstall(L"transfer");
        AddGame();
    }
    rqtest::CTestContent m_content;
};

uint64_t FileSize(const fs::path& p) {
    std::error_code ec;
    uint64_t n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

}  // namespace

TEST_F(LauncherTransfer, AKilledDownloadIsResumedWithARangeRequest) {
    const std::string strBig = rqtest::MakeBody(6 << 20, 11);
    std::vector<rqtest::CPatchEntry> entries = {{"data/", "big.pak", strBig}, {"", "small.dat", "small"}};
    for (const auto& e : entries) {
        ASSERT_TRUE(m_content.Put(fs::path(e.strPath + e.strName).wstring(), e.strBody));
    }
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    std::wstring strSlowBase = m_content.BaseUrl();
    if (m_content.IsExternal()) {
        // nginx serves the same files slowly under /slow/.
        strSlowBase.insert(strSlowBase.find(L'/', 8) + 1, L"slow/");
    } else {
        rqtest::CServerBehaviour slow;
        slow.dwSlowDelayMs = 50;
        slow.nSlowChunk = 16384;
        slow.bRanges = true;
        m_content.Server()->SetBehaviour("/data/big.pak", slow);
    }
    const fs::path part = Install() / "data" / "big.pak.rqpart";
    {
        rqui::CChildProcess first;
        ASSERT_TRUE(StartLauncher(first, L"_C " + strSlowBase));
        for (int i = 0; i < 1200 && FileSize(part) < (2u << 20); ++i) {
            Sleep(50);
        }
        ASSERT_GE(FileSize(part), 2u << 20) << "the download did not get far enough";
        first.Kill();  // waits for the process to be gone
    }
    const uint64_t ullKept = FileSize(part);
    EXPECT_TRUE(fs::exists(Install() / "LAUNCHER_RESUME.DAT"));
    if (!m_content.IsExternal()) {
        rqtest::CServerBehaviour ranges;
        ranges.bRanges = true;
        m_content.Server()->SetBehaviour("/data/big.pak", ranges);
    }

    rqui::CChildProcess second;
    ASSERT_TRUE(StartLauncher(second, L"_C " + m_content.BaseUrl()));
    EXPECT_EQ(second.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / "big.pak"), strBig);
    EXPECT_FALSE(fs::exists(part));
    EXPECT_FALSE(fs::exists(Install() / "LAUNCHER_RESUME.DAT"));
    EXPECT_TRUE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
    if (m_content.IsExternal()) {
        // nginx's own log says how the second launcher asked.
        std::string strLog =
            rqtest::ReadBytes(m_content.Root().parent_path().parent_path() / "logs" / "access.log");
        std::string strPath = "/" + m_content.Root().filename().string() + "/data/big.pak HTTP/1.1\" 206 ";
        EXPECT_NE(strLog.find("\"GET " + strPath), std::string::npos) << "no 206 answer for the rest";
    } else {
        bool bRange = false;
        for (const rqtest::CServerRequest& request : m_content.Server()->Requests()) {
            bRange = bRange || (request.strPath == "/data/big.pak" &&
                                request.strRange == "bytes=" + std::to_string(ullKept) + "-");
        }
        EXPECT_TRUE(bRange) << "no request for the rest from byte " << ullKept;
    }
}

// A delta release: the player's old copy of a large file differs in a few
// places, and only those travel (ranges of the pack or the zst, by one request
// each); the file that results is the listed one.
TEST_F(LauncherTransfer, AChangedFileCostsWhatChangedNotItsSize) {
    const std::string strOld = rqtest::MakeBody(4 << 20, 21);
    std::string strNew = strOld;
    strNew.replace(700000, 2000, rqtest::MakeBody(2000, 22));
    strNew.insert(2000000, rqtest::MakeBody(10000, 23));
    strNew.replace(3500000, 500, rqtest::MakeBody(500, 24));
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "data" / "big.pak", strOld));
    const rqtest::CRelease release = rqtest::Publish(std::vector<uint8_t>(strNew.begin(), strNew.end()));
    std::string strScript = rqtest::MakeHashedPatchScript({{"data/", "big.pak", strNew}});
    strScript.insert(strScript.find("\" },"), "\", \"" + RQBLSha256Hex(release.indexHash));
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", strScript));
    ASSERT_TRUE(m_content.Put(L"data/big.pak", strNew));
    for (const auto& object : release.objects) {
        ASSERT_TRUE(m_content.Put(object.first, object.second));
        if (!m_content.IsExternal()) {
            rqtest::CServerBehaviour ranges;
            ranges.bRanges = true;
            m_content.Server()->SetBehaviour("/" + rqtest::Narrow(object.first), ranges);
        }
    }

    rqui::CChildProcess launcher;
    ASSERT_TRUE(StartLauncher(launcher, L"_C " + m_content.BaseUrl()));
    EXPECT_EQ(launcher.Wait(kUiTimeoutMs), 0);
    EXPECT_TRUE(rqtest::ReadBytes(Install() / "data" / "big.pak") == strNew);
    EXPECT_FALSE(fs::exists(Install() / "data" / "big.pak.rqpart"));
    EXPECT_TRUE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
    // What travelled, by the server's own count: the changed chunks and the
    // index, nothing of the whole file.
    uint64_t ullWhole = 0;
    uint64_t ullDelta = 0;
    if (m_content.IsExternal()) {
        const std::string strLog =
            rqtest::ReadBytes(m_content.Root().parent_path().parent_path() / "logs" / "access.log");
        const std::string strRoot = "/" + m_content.Root().filename().string() + "/";
        std::istringstream lines(strLog);
        for (std::string strLine; std::getline(lines, strLine);) {
            // ... "GET <path> HTTP/1.1" <status> <body bytes> ...
            std::istringstream fields(strLine);
            std::vector<std::string> vecFields{std::istream_iterator<std::string>(fields), {}};
            if (vecFields.size() < 10 || vecFields[6].compare(0, strRoot.size(), strRoot) != 0) {
                continue;
            }
            const uint64_t ullBytes = std::strtoull(vecFields[9].c_str(), nullptr, 10);
            const std::string strPath = vecFields[6].substr(strRoot.size());
            ullWhole += strPath == "data/big.pak" ? ullBytes : 0;
            ullDelta += strPath.compare(0, 6, "delta/") == 0 ? ullBytes : 0;
        }
    } else {
        ullWhole = m_content.Server()->SentBodyBytes("/data/big.pak");
        for (const auto& object : release.objects) {
            ullDelta += m_content.Server()->SentBodyBytes("/" + rqtest::Narrow(object.first));
        }
    }
    EXPECT_EQ(ullWhole, 0u);
    EXPECT_GT(ullDelta, 12000u);
    EXPECT_LT(ullDelta, strNew.size() / 20) << "more than the changes travelled";
}
