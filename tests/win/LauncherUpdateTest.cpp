// The real Launcher.exe in a virtual display, updating from the test server:
// the worker wired into the window, its messages, its boxes and its teardown.
#include <windows.h>
#include <gtest/gtest.h>

#include <commctrl.h>

#include <filesystem>
#include <string>

#include "RQLauncherFixture.h"
#include "RQTestContent.h"
#include "RQTestPatchScript.h"
#include "RQUiProbe.h"
#include "baselib/RQBLDownloadTemp.h"

namespace fs = std::filesystem;

namespace {

class LauncherUpdate : public rqtest::CLauncherFixture {
protected:
    void SetUp() override {
        if (!rqtest::EnvVar(L"RQ_TEST_BASE_URL").empty()) {
            GTEST_SKIP() << "needs the in-process server";
        }
        ASSERT_TRUE(m_content.Ready());
        MakeInstall(L"update");
    }

    bool Start(rqui::CChildProcess& proc) { return StartLauncher(proc, L"_C " + m_content.BaseUrl()); }

    rqtest::CTestContent m_content;
};

}  // namespace

TEST_F(LauncherUpdate, UpdatesTheFolderAndEndsAfterTheStartTimer) {
    std::vector<rqtest::CPatchEntry> entries = {{"", "a.dat", rqtest::MakeBody(300000, 1)},
                                                {"data/", "b.dat", rqtest::MakeBody(1000, 2)}};
    for (const auto& e : entries) {
        ASSERT_TRUE(m_content.Put(fs::path(e.strPath + e.strName).wstring(), e.strBody));
    }
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    // The game it starts at the end: without one, a box would wait for the player.
    AddGame();
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "a.dat"), entries[0].strBody);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / "b.dat"), entries[1].strBody);
    EXPECT_TRUE(fs::exists(Install() / "PATCHER_CODE.LUA"));
}

TEST_F(LauncherUpdate, RefusedScriptShowsTheBoxThenClosesTheWindow) {
    rqtest::CServerBehaviour refuse;
    refuse.nStatus = 404;
    m_content.Server()->SetBehaviour("/PATCHER_CODE.LUA", refuse);
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    rqui::CMessageBoxInfo box;
    ASSERT_TRUE(rqui::WaitForMessageBox(proc.Id(), kUiTimeoutMs, box));
    EXPECT_EQ(box.strCaption, L"Launcher");
    EXPECT_EQ(box.strText, L"アップデートファイルが見つかりませんでした。 PATCHER_CODE.LUA");
    // The window stays until the player has read the box.
    EXPECT_NE(rqui::WaitForWindow(proc.Id(), L"LAUNCHER", 1000), nullptr);
    ASSERT_TRUE(rqui::PressButton(box.hWnd));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
}

TEST_F(LauncherUpdate, EscapeDuringTheDownloadsStopsTheWorkerAndChangesNothing) {
    std::vector<rqtest::CPatchEntry> entries = {{"", "slow.dat", rqtest::MakeBody(4000000, 3)},
                                                {"", "next.dat", rqtest::MakeBody(5000, 4)}};
    for (const auto& e : entries) {
        ASSERT_TRUE(m_content.Put(fs::path(e.strName).wstring(), e.strBody));
    }
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "slow.dat", "old"));
    rqtest::CServerBehaviour slow;
    slow.dwSlowDelayMs = 50;
    slow.nSlowChunk = 32768;
    m_content.Server()->SetBehaviour("/slow.dat", slow);

    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    HWND hWnd = rqui::WaitForWindow(proc.Id(), L"LAUNCHER", kUiTimeoutMs);
    ASSERT_NE(hWnd, nullptr);
    fs::path temp = Install() / (L"slow.dat" + std::wstring(RQBL_DOWNLOAD_TEMP_SUFFIX));
    for (int i = 0; i < 300 && !fs::exists(temp); ++i) {
        Sleep(50);
    }
    ASSERT_TRUE(fs::exists(temp)) << "the download did not start";
    // The bar's range is now the total of the files to fetch, in KiB.
    HWND hBar = GetDlgItem(hWnd, 1001);
    Sleep(300);
    EXPECT_EQ(SendMessageW(hBar, PBM_GETRANGE, FALSE, 0), (4000000 + 5000) >> 10);
    EXPECT_GT(SendMessageW(hBar, PBM_GETPOS, 0, 0), 0);

    PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);  // what Escape does
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "slow.dat"), "old");
    EXPECT_FALSE(fs::exists(temp));
}
