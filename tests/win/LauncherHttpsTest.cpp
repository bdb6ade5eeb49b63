// The real launcher over https, against nginx with certificates of a test
// authority (scripts/tls-fixture.sh): trusted only while this test has put the
// authority into its own Wine prefix, for the right host, and never handing a
// request on to plain http.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "RQLauncherFixture.h"
#include "RQTestContent.h"
#include "RQTestPatchScript.h"
#include "RQTrustedAuthority.h"
#include "RQUiProbe.h"
#include "baselib/win/RQBLWinHandle.h"

namespace fs = std::filesystem;

namespace {

const wchar_t* const kNotFound = L"アップデートファイルが見つかりませんでした。 PATCHER_CODE.LUA";

class LauncherHttps : public rqtest::CLauncherFixture {
protected:
    void SetUp() override {
        m_strUrl = rqtest::EnvVar(L"RQ_TEST_HTTPS_URL");
        if (m_strUrl.empty()) {
            GTEST_SKIP() << "needs the TLS fixture";
        }
        m_root = fs::path(rqtest::EnvVar(L"RQ_TEST_HTTPS_ROOT"));
        m_strPrefix = L"t" + std::to_wstring(std::random_device()()) + L"/";
        std::vector<rqtest::CPatchEntry> entries = {{"", "a.dat", rqtest::MakeBody(50000, 3)}};
        ASSERT_TRUE(rqtest::WriteBytes(m_root / m_strPrefix / "a.dat", entries[0].strBody));
        ASSERT_TRUE(
            rqtest::WriteBytes(m_root / m_strPrefix / "PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
        MakeInstall(L"https");
        AddGame();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_root / m_strPrefix, ec);
        CLauncherFixture::TearDown();
    }
    void ExpectRefused(const std::wstring& strBase) {
        rqui::CChildProcess proc;
        ASSERT_TRUE(StartLauncher(proc, L"_C " + strBase));
        rqui::CMessageBoxInfo box;
        ASSERT_TRUE(rqui::WaitForMessageBox(proc.Id(), kUiTimeoutMs, box));
        EXPECT_EQ(box.strText.substr(0, box.strText.find(L'\n')), kNotFound) << rqtest::Narrow(box.strText);
        ASSERT_TRUE(rqui::PressButton(box.hWnd));
        EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
        EXPECT_FALSE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
        EXPECT_FALSE(fs::exists(Install() / "a.dat"));
    }

    std::wstring m_strUrl;
    fs::path m_root;
    std::wstring m_strPrefix;
};

}  // namespace

TEST_F(LauncherHttps, TrustedOnlyThroughTheAuthorityAndForTheRightHost) {
    // Before this prefix trusts the authority, its certificate is refused.
    ExpectRefused(m_strUrl + m_strPrefix);

    rqtest::CTrustedAuthority authority;
    ASSERT_TRUE(authority.Add(rqtest::ReadBytes(fs::path(rqtest::EnvVar(L"RQ_TEST_CA_PEM")))));
    ExpectRefused(rqtest::EnvVar(L"RQ_TEST_HTTPS_WRONG_HOST_URL") + m_strPrefix);
    // nginx answers there with a redirect to the same file over plain http.
    ExpectRefused(m_strUrl + L"to-http/" + m_strPrefix);

    rqui::CChildProcess proc;
    ASSERT_TRUE(StartLauncher(proc, L"_C " + m_strUrl + m_strPrefix));
    if (proc.Wait(kUiTimeoutMs) != 0) {
        // Say what held it: a box tells which step failed.
        rqui::CMessageBoxInfo box;
        ADD_FAILURE() << "the trusted update did not end: "
                      << (rqui::WaitForMessageBox(proc.Id(), 1000, box) ? rqtest::Narrow(box.strText)
                                                                        : std::string("no box"));
    }
    EXPECT_EQ(rqtest::ReadBytes(Install() / "a.dat"), rqtest::MakeBody(50000, 3));
    EXPECT_TRUE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
}
