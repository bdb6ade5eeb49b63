// The real launcher built to trust the committed test key (LauncherKeyed.exe):
// it runs only scripts signed with that key, for a release no older than the
// one it accepted last, and puts no file in place whose SHA-256 differs. The
// launcher without keys still refuses error pages for the script.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "RQLauncherFixture.h"
#include "RQSignedContent.h"
#include "RQTestContent.h"
#include "RQUiProbe.h"
#include "patch/RQReleaseState.h"

namespace fs = std::filesystem;

namespace {

const wchar_t* const kNotVerified =
    L"アップデートデータを確認できませんでした。しばらくしてから再度お試しください。";
const wchar_t* const kNotFound = L"アップデートファイルが見つかりませんでした。 PATCHER_CODE.LUA";

class LauncherTrust : public rqtest::CLauncherFixture {
protected:
    void SetUp() override {
        if (!rqtest::EnvVar(L"RQ_TEST_BASE_URL").empty()) {
            GTEST_SKIP() << "needs the in-process server";
        }
        ASSERT_TRUE(m_content.Ready());
    }
    void Setup(const wchar_t* pszBuilt) {
        MakeInstall(L"trust", pszBuilt);
        AddGame();
    }
    // Publishes the entries with a script signed as asked (an empty signature: none).
    void Publish(const std::vector<rqtest::CPatchEntry>& entries, const std::string& strScript,
                 const std::string& strSignature) {
        for (const auto& e : entries) {
            ASSERT_TRUE(m_content.Put(fs::path(e.strPath + e.strName).wstring(), e.strBody));
        }
        ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA", strScript));
        if (!strSignature.empty()) {
            ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA.sig", strSignature));
        }
    }
    bool Start(rqui::CChildProcess& proc) { return StartLauncher(proc, L"_C " + m_content.BaseUrl()); }
    // The box that ends the launcher, then no game.
    void ExpectBoxAndNoGame(const std::wstring& strFirstLine) {
        rqui::CChildProcess proc;
        ASSERT_TRUE(Start(proc));
        rqui::CMessageBoxInfo box;
        ASSERT_TRUE(rqui::WaitForMessageBox(proc.Id(), kUiTimeoutMs, box));
        EXPECT_EQ(box.strText.substr(0, box.strText.find(L'\n')), strFirstLine)
            << rqtest::Narrow(box.strText);
        ASSERT_TRUE(rqui::PressButton(box.hWnd));
        EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
        EXPECT_FALSE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
    }
    // The install holds nothing but what the test put there and the logs.
    void ExpectNothingWritten() {
        for (const auto& entry : fs::directory_iterator(Install())) {
            std::wstring strName = entry.path().filename().wstring();
            EXPECT_TRUE(strName == L"Launcher.exe" || strName == L"TOLVANE.exe" || strName == L"Log" ||
                        strName == L"LAUNCHER_RELEASE.DAT" || strName == L"stack.log")
                << "written: " << rqtest::Narrow(strName);
        }
    }

    rqtest::CTestContent m_content;
};

const std::vector<rqtest::CPatchEntry> kEntries = {{"", "a.dat", rqtest::MakeBody(70000, 1)},
                                                   {"data/", "b.dat", rqtest::MakeBody(3000, 2)}};

}  // namespace

TEST_F(LauncherTrust, ASignedUpdateRuns) {
    Setup(L"LauncherKeyed.exe");
    const std::string strScript = rqtest::MakeHashedPatchScript(kEntries);
    Publish(kEntries, strScript, rqtest::SignScript(strScript, L"test-release", 5));
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "a.dat"), kEntries[0].strBody);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / "b.dat"), kEntries[1].strBody);
    EXPECT_TRUE(fs::exists(Install() / "PATCHER_CODE.LUA.sig"));
    EXPECT_TRUE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
    EXPECT_FALSE(rqtest::ReadBytes(Install() / "LAUNCHER_RELEASE.DAT").empty());
}

TEST_F(LauncherTrust, UnverifiedScriptsWriteNothingAndStartNoGame) {
    const std::string strScript = rqtest::MakeHashedPatchScript(kEntries);
    std::string strTampered = strScript;
    strTampered[strTampered.find("a.dat")] = 'A';
    struct Case {
        const char* pszName;
        std::string strScript;
        std::string strSignature;
        uint64_t ullAcceptedBefore;
    } cases[] = {
        {"a changed byte", strTampered, rqtest::SignScript(strScript, L"test-release", 5), 0},
        {"another key", strScript, rqtest::SignScript(strScript, L"test-other", 5), 0},
        {"an older release", strScript, rqtest::SignScript(strScript, L"test-release", 5), 6},
        {"no signature", strScript, "", 0},
        {"an expired release", strScript, rqtest::SignScript(strScript, L"test-release", 5, "2020-01-01"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::error_code ec;
        fs::remove(m_content.Root() / "PATCHER_CODE.LUA.sig", ec);
        Setup(L"LauncherKeyed.exe");
        if (c.ullAcceptedBefore > 0) {
            // What an earlier, newer release left: it must not be undone.
            ASSERT_TRUE(
                RQSaveHighestRelease((Install() / "LAUNCHER_RELEASE.DAT").wstring(), c.ullAcceptedBefore));
        }
        Publish(kEntries, c.strScript, c.strSignature);
        ExpectBoxAndNoGame(kNotVerified);
        ExpectNothingWritten();
        TearDown();
    }
}

TEST_F(LauncherTrust, AFileForgedToItsSizeAndCrcIsRefused) {
    Setup(L"LauncherKeyed.exe");
    const std::string strScript = rqtest::MakeHashedPatchScript(kEntries);
    Publish(kEntries, strScript, rqtest::SignScript(strScript, L"test-release", 5));
    ASSERT_TRUE(m_content.Put(L"a.dat", rqtest::ForgeSameCrc(kEntries[0].strBody)));
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "a.dat", "the old a"));
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "LOGIN_ADDRESS.LAD", "[DOWNLOAD]\r\nTRIES=2\r\n"));
    ExpectBoxAndNoGame(L"アップデート失敗。再度お試しください。 a.dat");
    EXPECT_EQ(rqtest::ReadBytes(Install() / "a.dat"), "the old a");
    EXPECT_FALSE(fs::exists(Install() / "a.dat.rqpart"));
}

TEST_F(LauncherTrust, AnErrorPageIsNeverTakenForTheScript) {
    for (int nStatus : {403, 503}) {
        SCOPED_TRACE(nStatus);
        Setup(L"Launcher.exe");
        Publish(kEntries, rqtest::MakeHashedPatchScript(kEntries), "");
        rqtest::CServerBehaviour page;
        page.nStatus = nStatus;
        m_content.Server()->SetBehaviour("/PATCHER_CODE.LUA", page);
        ExpectBoxAndNoGame(kNotFound);
        EXPECT_FALSE(fs::exists(Install() / "PATCHER_CODE.LUA"));
        m_content.Server()->ClearBehaviours();
        TearDown();
    }
}
