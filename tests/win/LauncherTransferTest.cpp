// The real Launcher.exe and a transfer that breaks off: a launcher killed in
// the middle of a large file leaves its part, and the next start asks only for
// the rest (a Range request, answered 206) and ends with the right file.
// Runs against the in-process server and, in the nginx run, against nginx.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "RQLauncherFixture.h"
#include "RQTestContent.h"
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
