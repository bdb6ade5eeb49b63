// The real Launcher.exe against a hostile server and a hostile script: none
// of them may keep it running beyond its bounds, move its requests elsewhere
// or make it delete what it did not make. In-process server only (the faults
// are the test server's).
#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "RQLauncherFixture.h"
#include "RQTestContent.h"
#include "RQTestPatchScript.h"
#include "RQUiProbe.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const wchar_t* const kUpdateFailed = L"アップデート失敗。再度お試しください。";

class LauncherHostile : public rqtest::CLauncherFixture {
protected:
    void SetUp() override {
        if (!rqtest::EnvVar(L"RQ_TEST_BASE_URL").empty()) {
            GTEST_SKIP() << "needs the in-process server";
        }
        ASSERT_TRUE(m_content.Ready());
        MakeInstall(L"hostile");
        AddGame();
    }
    void Publish(const std::vector<rqtest::CPatchEntry>& entries) {
        for (const auto& e : entries) {
            ASSERT_TRUE(m_content.Put(fs::path(e.strPath + e.strName).wstring(), e.strBody));
        }
        ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    }
    // Optional download settings, as an operator would write them.
    void Settings(const std::string& strDownload) {
        ASSERT_TRUE(rqtest::WriteBytes(Install() / "LOGIN_ADDRESS.LAD", "[DOWNLOAD]\r\n" + strDownload));
    }
    bool Start(rqui::CChildProcess& proc) { return StartLauncher(proc, L"_C " + m_content.BaseUrl()); }
    int Requests(const std::string& strPath) {
        int n = 0;
        for (const rqtest::CServerRequest& request : m_content.Server()->Requests()) {
            n += request.strPath == strPath ? 1 : 0;
        }
        return n;
    }
    // Escape, once the launcher has asked for strPath: it must be gone
    // within a few seconds, whatever the transfer or the script is doing.
    void ExpectEscapeEndsItSoon(const std::string& strPath, DWORD dwAfterMs) {
        rqui::CChildProcess proc;
        ASSERT_TRUE(Start(proc));
        HWND hWnd = rqui::WaitForWindow(proc.Id(), L"LAUNCHER", kUiTimeoutMs);
        ASSERT_NE(hWnd, nullptr);
        for (int i = 0; i < 1200 && Requests(strPath) == 0; ++i) {
            Sleep(50);
        }
        ASSERT_GT(Requests(strPath), 0) << strPath << " was never asked for";
        Sleep(dwAfterMs);
        auto start = Clock::now();
        PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);  // what Escape does
        EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(8)) << "after Escape, waiting for " << strPath;
        EXPECT_FALSE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
    }
    // The one failure box, naming the file; then the launcher ends without the game.
    void ExpectFailureBoxNaming(rqui::CChildProcess& proc, const std::wstring& strName) {
        rqui::CMessageBoxInfo box;
        ASSERT_TRUE(rqui::WaitForMessageBox(proc.Id(), kUiTimeoutMs, box));
        EXPECT_EQ(box.strText.find(kUpdateFailed), 0u) << rqtest::Narrow(box.strText);
        EXPECT_NE(box.strText.find(strName), std::wstring::npos);
        ASSERT_TRUE(rqui::PressButton(box.hWnd));
        EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
        EXPECT_FALSE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
    }

    rqtest::CTestContent m_content;
};

const char kPatternBomb[] =
    "local s = string.rep('a', 20000)\n"
    "local r = s:find('.-.-.-.-.-.-.-.-b')\n"
    "CODE_TABLE = { { '', 'x.dat', 0, 0, 0 } }\n";

}  // namespace

TEST_F(LauncherHostile, APatternBombEndsAsAScriptThatCannotBeRun) {
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", kPatternBomb));
    rqui::CChildProcess proc;
    auto start = Clock::now();
    ASSERT_TRUE(Start(proc));
    // The time limit ends the run; a script that cannot be run starts the game as it is.
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
    EXPECT_TRUE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
    EXPECT_FALSE(fs::exists(Install() / "x.dat"));
}

TEST_F(LauncherHostile, EscapeEndsThePatternBombAtOnce) {
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", kPatternBomb));
    ExpectEscapeEndsItSoon("/PATCHER_CODE.LUA", 1500);
}

TEST_F(LauncherHostile, ARedirectLoopIsAFailedTryNotAnEndlessOne) {
    Publish({{"", "loop.dat", "never"}});
    rqtest::CServerBehaviour loop;
    loop.nStatus = 302;
    loop.strLocation = rqtest::Narrow(m_content.BaseUrl()) + "loop.dat";
    m_content.Server()->SetBehaviour("/loop.dat", loop);
    Settings("TRIES=2\r\n");
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    ExpectFailureBoxNaming(proc, L"loop.dat");
    // Each try follows a handful of redirects, then gives up.
    EXPECT_LE(Requests("/loop.dat"), 2 * 6);
}

TEST_F(LauncherHostile, ADrippingServerIsAStallNotAWait) {
    Publish({{"", "drip.dat", rqtest::MakeBody(100000, 3)}});
    rqtest::CServerBehaviour drip;
    drip.dwSlowDelayMs = 500;
    drip.nSlowChunk = 1;
    m_content.Server()->SetBehaviour("/drip.dat", drip);
    Settings("TRIES=2\r\nSTALL_SECONDS=3\r\n");
    rqui::CChildProcess proc;
    auto start = Clock::now();
    ASSERT_TRUE(Start(proc));
    ExpectFailureBoxNaming(proc, L"drip.dat");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
}

TEST_F(LauncherHostile, EscapeEndsADripAndASilentServerAtOnce) {
    Publish({{"", "drip.dat", rqtest::MakeBody(100000, 3)}, {"", "silent.dat", rqtest::MakeBody(1000, 4)}});
    rqtest::CServerBehaviour drip;
    drip.dwSlowDelayMs = 1000;
    drip.nSlowChunk = 1;
    m_content.Server()->SetBehaviour("/drip.dat", drip);
    rqtest::CServerBehaviour silent;
    silent.bNoResponse = true;  // not even headers: a network call that Wine will not cut short
    m_content.Server()->SetBehaviour("/silent.dat", silent);
    ExpectEscapeEndsItSoon("/silent.dat", 1000);
}

TEST_F(LauncherHostile, ARedirectedScriptLeavesLaterRequestsAtTheBaseAddress) {
    std::vector<rqtest::CPatchEntry> entries = {{"", "a.dat", "aaa"}, {"data/", "b.dat", "bbb"}};
    Publish(entries);
    rqtest::CRQTestHttpServer other;
    fs::path otherRoot =
        fs::path(m_strFolder).parent_path() / (fs::path(m_strFolder).filename().wstring() + L"_b");
    ASSERT_TRUE(
        rqtest::WriteBytes(otherRoot / "moved" / "PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    ASSERT_TRUE(other.Start(otherRoot.wstring()));
    rqtest::CServerBehaviour moved;
    moved.nStatus = 301;
    moved.strLocation = rqtest::Narrow(other.BaseUrl()) + "moved/PATCHER_CODE.LUA";
    m_content.Server()->SetBehaviour("/PATCHER_CODE.LUA", moved);
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "a.dat"), "aaa");
    EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / "b.dat"), "bbb");
    EXPECT_EQ(other.Requests().size(), 1u);
    EXPECT_EQ(Requests("/a.dat"), 1);
    other.Stop();
    fs::remove_all(otherRoot);
}

TEST_F(LauncherHostile, FilesItDidNotMakeSurviveStartUp) {
    Publish({{"", "a.dat", "aaa"}});
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "save" / "slot1.rqpart", "the player's"));
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "notes.rqpart", "the player's"));
    fs::path outside =
        fs::path(m_strFolder).parent_path() / (fs::path(m_strFolder).filename().wstring() + L"_out");
    ASSERT_TRUE(rqtest::WriteBytes(outside / "victim.rqpart", "not the launcher's"));
    bool bLinked = CreateSymbolicLinkW((Install() / "linkdir").c_str(), outside.c_str(),
                                       SYMBOLIC_LINK_FLAG_DIRECTORY) != FALSE;
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "save" / "slot1.rqpart"), "the player's");
    EXPECT_EQ(rqtest::ReadBytes(Install() / "notes.rqpart"), "the player's");
    EXPECT_EQ(rqtest::ReadBytes(outside / "victim.rqpart"), "not the launcher's") << "linked: " << bLinked;
    if (bLinked) {
        RemoveDirectoryW((Install() / "linkdir").c_str());
    }
    fs::remove_all(outside);
}
