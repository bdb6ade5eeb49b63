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
#include "baselib/win/RQBLWinHandle.h"
#include "patch/RQReservedNames.h"

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
    fs::path temp = Install() / (L"slow.dat" + std::wstring(RQ_DOWNLOAD_TEMP_SUFFIX));
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

TEST_F(LauncherUpdate, TheStatusLineShowsSizesAndMovesOn) {
    std::vector<rqtest::CPatchEntry> entries = {{"", "slow.dat", rqtest::MakeBody(3000000, 5)}};
    ASSERT_TRUE(m_content.Put(L"slow.dat", entries[0].strBody));
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    rqtest::CServerBehaviour slow;
    slow.dwSlowDelayMs = 50;
    slow.nSlowChunk = 32768;
    m_content.Server()->SetBehaviour("/slow.dat", slow);

    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    HWND hWnd = rqui::WaitForWindow(proc.Id(), L"LAUNCHER", kUiTimeoutMs);
    ASSERT_NE(hWnd, nullptr);
    HWND hStatus = GetDlgItem(hWnd, 1002);
    ASSERT_NE(hStatus, nullptr) << "no status line";
    auto Status = [&] { return rqui::WindowText(hStatus); };
    std::wstring strFirst;
    for (int i = 0; i < 600 && strFirst.find(L" MB") == std::wstring::npos; ++i) {
        Sleep(50);
        strFirst = Status();
    }
    ASSERT_NE(strFirst.find(L"ダウンロード中 (0 / 1)"), std::wstring::npos) << rqtest::Narrow(strFirst);
    EXPECT_NE(strFirst.find(L" / 2.9 MB"), std::wstring::npos) << rqtest::Narrow(strFirst);
    std::wstring strLater = strFirst;
    for (int i = 0; i < 100 && strLater == strFirst; ++i) {
        Sleep(100);
        strLater = Status();
    }
    EXPECT_NE(strLater, strFirst) << "the status line did not change during the download";
    PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
}

TEST_F(LauncherUpdate, AStormOf503sIsRiddenOutWithAHandfulOfRequestsAndEndsInTheStartedGame) {
    std::vector<rqtest::CPatchEntry> entries;
    for (int i = 0; i < 6; ++i) {
        entries.push_back(
            {"data/", "f" + std::to_string(i) + ".dat", rqtest::MakeBody(20000 + 100000 * i, 10 + i)});
        ASSERT_TRUE(m_content.Put(L"data/f" + std::to_wstring(i) + L".dat", entries.back().strBody));
    }
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    // From the first request on, five seconds of "later", with Retry-After.
    m_content.Server()->SetStorm(5000, 503, "2");
    AddGame();
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    HWND hWnd = rqui::WaitForWindow(proc.Id(), L"LAUNCHER", kUiTimeoutMs);
    ASSERT_NE(hWnd, nullptr);
    HWND hStatus = GetDlgItem(hWnd, 1002);
    bool bBusyShown = false;
    while (proc.Wait(50) == -1 && !bBusyShown) {
        bBusyShown = rqui::WindowText(hStatus).find(L"サーバーが混雑しています。あと ") != std::wstring::npos;
    }
    EXPECT_TRUE(bBusyShown) << "the player was not told to wait";
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    for (const rqtest::CPatchEntry& e : entries) {
        EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / e.strName), e.strBody) << e.strName;
    }
    EXPECT_TRUE(fs::exists(Install() / "TOLVANE_CMDLINE.txt")) << "the game was not started";
    size_t nInStorm = 0;
    for (const rqtest::CServerRequest& request : m_content.Server()->Requests()) {
        nInStorm += request.bStorm ? 1 : 0;
    }
    // Every two seconds or so for five: a handful, where a request a second
    // from each of eight slots would have made dozens.
    EXPECT_GE(nInStorm, 2u);
    EXPECT_LE(nInStorm, 5u);
}

TEST_F(LauncherUpdate, AFileHeldByAnotherProgramIsNamedAndLeftIntact) {
    std::vector<rqtest::CPatchEntry> entries = {{"data/", "held.pak", rqtest::MakeBody(200000, 6)}};
    ASSERT_TRUE(m_content.Put(L"data/held.pak", entries[0].strBody));
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "data" / "held.pak", "old content"));
    AddGame();
    // Open without any sharing, as some editors and scanners do.
    CRQBLHandle held(CreateFileW((Install() / "data" / "held.pak").c_str(), GENERIC_READ, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    rqui::CMessageBoxInfo box;
    ASSERT_TRUE(rqui::WaitForMessageBox(proc.Id(), kUiTimeoutMs, box));
    EXPECT_NE(box.strText.find(L"data/held.pak"), std::wstring::npos) << rqtest::Narrow(box.strText);
    EXPECT_NE(box.strText.find(L"使用中"), std::wstring::npos) << rqtest::Narrow(box.strText);
    ASSERT_TRUE(rqui::PressButton(box.hWnd));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    held.Close();
    EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / "held.pak"), "old content");
    EXPECT_FALSE(fs::exists(Install() / "data" / "held.pak.rqpart"));
    EXPECT_FALSE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
}
