// The real Launcher.exe in a virtual display: its start-up refusals.
#include <gtest/gtest.h>

#include "RQLauncherFixture.h"
#include "RQUiProbe.h"
#include "baselib/win/RQBLWinHandle.h"

namespace {

const wchar_t* const kCaption = L"確認";
const wchar_t* const kLauncherRunning =
    L"すでにTOLVANEランチャーが実行されています。LAUNCHERを終了して再度お試しください。";
const wchar_t* const kGameRunning =
    L"すでにTOLVANEパッチャーが実行されています。TOLVANEを終了して再度お試しください。";
// Nothing listens on port 1: a launcher pointed there fails fast and stays local.
const wchar_t* const kDeadServer = L"http://127.0.0.1:1/";
class LauncherStartup : public rqtest::CLauncherFixture {
protected:
    void SetUp() override { MakeInstall(L"startup"); }

    // Expects one refusal box with the given text, presses OK and expects exit code 0.
    void ExpectRefusal(rqui::CChildProcess& proc, const std::wstring& strText) {
        rqui::CMessageBoxInfo box;
        ASSERT_TRUE(rqui::WaitForMessageBox(proc.Id(), kUiTimeoutMs, box));
        EXPECT_EQ(box.strCaption, kCaption);
        EXPECT_EQ(box.strText, strText);
        ASSERT_TRUE(rqui::PressButton(box.hWnd));
        EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    }
};

}  // namespace

TEST_F(LauncherStartup, OneCharacterAddressFileEndsWithNoCdn) {
    ASSERT_TRUE(
        rqui::WriteTextFile(m_strFolder + L"\\LOGIN_ADDRESS.LAD", "[HTTP_SERVER_ADDRESS]\r\nLOGIN_IP=x\r\n"));
    rqui::CChildProcess proc;
    // The address file wins over the command line.
    ASSERT_TRUE(StartLauncher(proc, std::wstring(L"_C ") + kDeadServer));
    ExpectRefusal(proc, L"NO CDN");
}

TEST_F(LauncherStartup, SecondLauncherIsRefusedAndTheFirstGoesOn) {
    rqui::CChildProcess first;
    ASSERT_TRUE(StartLauncher(first, std::wstring(L"_C ") + kDeadServer));
    ASSERT_NE(rqui::WaitForWindow(first.Id(), L"LAUNCHER", kUiTimeoutMs), nullptr);

    rqui::CChildProcess second;
    ASSERT_TRUE(StartLauncher(second, std::wstring(L"_C ") + kDeadServer));
    ExpectRefusal(second, kLauncherRunning);
    EXPECT_TRUE(first.IsRunning());
    first.Kill();
}

TEST_F(LauncherStartup, RunningGameIsRefusedAndLauncherMutexReleased) {
    CRQBLMutex game;
    ASSERT_TRUE(game.CreateOwned(L"TOLVANE"));
    rqui::CChildProcess proc;
    ASSERT_TRUE(StartLauncher(proc, std::wstring(L"_C ") + kDeadServer));
    ExpectRefusal(proc, kGameRunning);
    game.Close();

    CRQBLMutex launcher;
    EXPECT_TRUE(launcher.CreateOwned(L"LAUNCHER")) << "the refused launcher kept its mutex";
}
