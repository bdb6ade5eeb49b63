// The real Launcher.exe in a virtual display: the game start at the end of
// an update, the log it leaves, and the window's geometry and look.
#include <windows.h>
#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "RQLauncherFixture.h"
#include "RQTestContent.h"
#include "RQTestPatchScript.h"
#include "RQUiProbe.h"
#include "baselib/log/RQBLLogReader.h"
#include "baselib/win/RQBLWinHandle.h"

namespace fs = std::filesystem;

namespace {

std::wstring Wide(const char* pszAscii) {
    return std::wstring(pszAscii, pszAscii + std::strlen(pszAscii));
}

std::string Utf8(const std::wstring& strText) {
    int n = WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

class LauncherGame : public rqtest::CLauncherFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_content.Ready());
        // Against nginx the served folder is shared with other test programs
        // running at the same time: each test publishes in a folder of its own.
        if (m_content.IsExternal()) {
            m_strPrefix = L"launcher_game/" +
                          Wide(::testing::UnitTest::GetInstance()->current_test_info()->name()) + L"/";
        }
        MakeInstall(L"game");
        m_strGame = rqtest::ReadBytes(fs::path(rqui::ProgramFolder()) / "TOLVANE.exe");
        ASSERT_FALSE(m_strGame.empty());
    }
    // Publishes the entries (and the patch script listing them) on the server.
    void Publish(const std::vector<rqtest::CPatchEntry>& entries) {
        for (const auto& e : entries) {
            ASSERT_TRUE(m_content.Put(m_strPrefix + fs::path(e.strPath + e.strName).wstring(), e.strBody));
        }
        ASSERT_TRUE(m_content.Put(m_strPrefix + L"PATCHER_CODE.LUA", rqtest::MakePatchScript(entries)));
    }
    std::wstring CommandLine() const { return LauncherCommandLine(L"_C " + BaseUrl()); }
    bool Start(rqui::CChildProcess& proc) { return StartLauncher(proc, L"_C " + BaseUrl()); }
    std::wstring BaseUrl() const { return m_content.BaseUrl() + m_strPrefix; }
    std::string GameCommandLines() const { return rqtest::ReadBytes(Install() / "TOLVANE_CMDLINE.txt"); }

    // The state lines of the launcher's .log file, read back through the log reader.
    std::vector<std::string> LogTexts() const {
        std::vector<std::string> vecTexts;
        for (const auto& entry : fs::directory_iterator(Install() / "Log")) {
            if (entry.path().extension() != ".log") {
                continue;
            }
            std::string strBytes = rqtest::ReadBytes(entry.path());
            RQBL_LOG_READ_RESULT result =
                RQBLReadLogRecords(reinterpret_cast<const uint8_t*>(strBytes.data()), strBytes.size());
            EXPECT_EQ(result.nStatus, LOG_READ_OK) << result.strReason;
            for (const RQBL_LOG_RECORD& record : result.vecRecords) {
                RQBL_LOG_LINE_PARTS parts;
                if (RQBLSplitLogLine(RQBLUtf16ToUtf8(record.strLine), parts)) {
                    vecTexts.push_back(parts.strLevel + " " + parts.strText);
                }
            }
        }
        return vecTexts;
    }

    rqtest::CTestContent m_content;
    std::wstring m_strPrefix;
    std::string m_strGame;
};

}  // namespace

TEST_F(LauncherGame, UpdateEndsInTheGameWithTheLaunchersCommandLine) {
    Publish({{"", "TOLVANE.EXE", m_strGame},
             {"data/", "world.pak", rqtest::MakeBody(250000, 7)},
             {"data/", "ui.pak", rqtest::MakeBody(3000, 8)}});
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "data" / "world.pak", rqtest::MakeBody(250000, 9)));  // stale
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);

    EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / "world.pak"), rqtest::MakeBody(250000, 7));
    EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / "ui.pak"), rqtest::MakeBody(3000, 8));
    // Started once, with the launcher's command line exactly as received plus " _LC 1".
    EXPECT_EQ(GameCommandLines(), Utf8(CommandLine()) + " _LC 1\n");

    std::vector<std::string> vecExpected = {
        "NTS 130011 LAUNCHER US_START_UP : " + Utf8(BaseUrl()),
        "NTS 130011 LAUNCHER US_PATCHER_CRC_DOWNLOAD DOWNLOAD_SUCCEEDED",
        "NTS 130011 LAUNCHER US_PATCHER_FILE_DOWNLOAD",
        "NTS 130011 LAUNCHER US_UPDATE_END",
        "NTS 130011 LAUNCHER US_CLOSE",
    };
    std::vector<std::string> vecStates;
    for (const std::string& strText : LogTexts()) {
        if (strText.find(" LAUNCHER US_") != std::string::npos) {
            vecStates.push_back(strText);
        }
    }
    EXPECT_EQ(vecStates, vecExpected);
}

TEST_F(LauncherGame, NothingToFetchStartsTheGameAndTouchesNoFile) {
    std::vector<rqtest::CPatchEntry> entries = {{"", "TOLVANE.EXE", m_strGame},
                                                {"data/", "same.pak", rqtest::MakeBody(120000, 3)}};
    Publish(entries);
    for (const auto& e : entries) {
        ASSERT_TRUE(rqtest::WriteBytes(Install() / fs::path(e.strPath + e.strName), e.strBody));
    }
    std::map<fs::path, fs::file_time_type> mapBefore;
    for (const auto& e : entries) {
        fs::path p = Install() / fs::path(e.strPath + e.strName);
        mapBefore[p] = fs::last_write_time(p);
    }
    Sleep(1100);  // a rewrite would show in the time stamps

    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(GameCommandLines(), Utf8(CommandLine()) + " _LC 1\n");
    for (const auto& [p, tWritten] : mapBefore) {
        EXPECT_EQ(fs::last_write_time(p), tWritten) << p.string();
    }
    for (const std::string& strText : LogTexts()) {
        EXPECT_EQ(strText.find("US_PATCHER_FILE_DOWNLOAD"), std::string::npos);
    }
}

TEST_F(LauncherGame, NoGameShowsTheFailureBoxThenEnds) {
    Publish({{"", "readme.txt", "no game here"}});
    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    rqui::CMessageBoxInfo box;
    ASSERT_TRUE(rqui::WaitForMessageBox(proc.Id(), kUiTimeoutMs, box));
    EXPECT_EQ(box.strCaption, L"Launcher");
    EXPECT_EQ(box.strText, L"ゲームを実行できませんでした。再度お試しください。");
    ASSERT_TRUE(rqui::PressButton(box.hWnd));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_FALSE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
}

TEST_F(LauncherGame, BorderlessPictureWithABarThatMoves) {
    if (m_content.IsExternal()) {
        GTEST_SKIP() << "needs the in-process server's slow answers";
    }
    Publish({{"", "TOLVANE.EXE", m_strGame}, {"", "big.pak", rqtest::MakeBody(3000000, 5)}});
    rqtest::CServerBehaviour slow;
    slow.dwSlowDelayMs = 40;
    slow.nSlowChunk = 32768;
    m_content.Server()->SetBehaviour("/big.pak", slow);

    rqui::CChildProcess proc;
    ASSERT_TRUE(Start(proc));
    HWND hWnd = rqui::WaitForWindow(proc.Id(), L"LAUNCHER", kUiTimeoutMs);
    ASSERT_NE(hWnd, nullptr);

    RECT rcWindow{};
    GetWindowRect(hWnd, &rcWindow);
    EXPECT_EQ(rcWindow.right - rcWindow.left, 600);
    EXPECT_EQ(rcWindow.bottom - rcWindow.top, 310);
    LONG_PTR style = GetWindowLongPtrW(hWnd, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER | WS_SYSMENU), 0);
    EXPECT_NE(GetWindowLongPtrW(hWnd, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);

    auto ChildRect = [&](int nId) {
        RECT rc{};
        HWND hChild = GetDlgItem(hWnd, nId);
        GetWindowRect(hChild, &rc);
        MapWindowPoints(HWND_DESKTOP, hWnd, reinterpret_cast<POINT*>(&rc), 2);
        return rc;
    };
    RECT rcPicture = ChildRect(1000);
    RECT rcBar = ChildRect(1001);
    EXPECT_EQ(rcPicture.left, 0);
    EXPECT_EQ(rcPicture.top, 0);
    EXPECT_EQ(rcPicture.right, 600);
    EXPECT_EQ(rcPicture.bottom, 300);
    EXPECT_EQ(rcBar.left, 0);
    EXPECT_EQ(rcBar.top, 300);
    EXPECT_EQ(rcBar.right, 600);
    EXPECT_EQ(rcBar.bottom, 310);

    // The picture on screen is the launcher's bitmap 129, pixel for pixel at a few places.
    HMODULE hLauncher =
        LoadLibraryExW((m_strFolder + L"\\Launcher.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hLauncher, nullptr);
    HBITMAP hBitmap = static_cast<HBITMAP>(
        LoadImageW(hLauncher, MAKEINTRESOURCEW(129), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(hBitmap, nullptr);
    HDC hScreen = GetDC(nullptr);
    HDC hMem = CreateCompatibleDC(hScreen);
    HGDIOBJ hOld = SelectObject(hMem, hBitmap);
    int nMatching = 0;
    const POINT points[] = {{10, 10}, {300, 100}, {590, 290}, {150, 250}, {450, 30}};
    // A visible window is not yet a painted one: on a busy machine the first
    // paint can come seconds later.
    for (DWORD dwStart = GetTickCount(); nMatching < 5 && GetTickCount() - dwStart < 20000; Sleep(100)) {
        nMatching = 0;
        for (const POINT& pt : points) {
            COLORREF onScreen = GetPixel(hScreen, rcWindow.left + pt.x, rcWindow.top + pt.y);
            COLORREF inBitmap = GetPixel(hMem, pt.x, pt.y);
            nMatching += onScreen == inBitmap ? 1 : 0;
        }
    }
    SelectObject(hMem, hOld);
    DeleteDC(hMem);
    ReleaseDC(nullptr, hScreen);
    DeleteObject(hBitmap);
    FreeLibrary(hLauncher);
    EXPECT_EQ(nMatching, 5);

    HWND hBar = GetDlgItem(hWnd, 1001);
    LRESULT nFirst = SendMessageW(hBar, PBM_GETPOS, 0, 0);
    LRESULT nLater = nFirst;
    for (int i = 0; i < 100 && nLater == nFirst; ++i) {
        Sleep(100);
        nLater = SendMessageW(hBar, PBM_GETPOS, 0, 0);
    }
    EXPECT_NE(nLater, nFirst) << "the bar did not move during the download";

    PostMessageW(hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_FALSE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
}

TEST_F(LauncherGame, AddressFileWinsOverTheCommandLine) {
    Publish({{"", "TOLVANE.EXE", m_strGame}});
    std::string strLad =
        "[HTTP_SERVER_ADDRESS]\r\nLOGIN_IP=" + Utf8(BaseUrl()) + "\r\n[DEV_CODE]\r\nCOMMAND_LOG=1\r\n";
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "LOGIN_ADDRESS.LAD", strLad));
    // Nothing listens on port 1: the update can only work through the address file.
    std::wstring strCommandLine = LauncherCommandLine(L"_C http://127.0.0.1:1/");
    rqui::CChildProcess proc;
    ASSERT_TRUE(StartLauncher(proc, L"_C http://127.0.0.1:1/"));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(GameCommandLines(), Utf8(strCommandLine) + " _LC 1\n");
    std::vector<std::string> vecTexts = LogTexts();
    auto Has = [&](const std::string& strText) {
        return std::find(vecTexts.begin(), vecTexts.end(), strText) != vecTexts.end();
    };
    EXPECT_TRUE(Has("NTS 130011 FIND LOGIN_ADDRESS FILE"));
    EXPECT_TRUE(Has("NTS 130011 LOGIN_ADDRESS_CDN_ADDRESS LOGIN_IP : " + Utf8(BaseUrl())));
    EXPECT_TRUE(Has("NTS 130011 COMMAND_LOG : " + Utf8(strCommandLine)));
    EXPECT_TRUE(Has("NTS 130011 LAUNCHER US_START_UP : " + Utf8(BaseUrl())));
}

namespace {

// Sets the file's last-write time to a whole second in the past, which a
// later restore reproduces exactly.
bool SetOldWriteTime(const fs::path& p) {
    CRQBLHandle file(CreateFileW(p.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ULARGE_INTEGER t{};
    t.QuadPart = 132000000000000000ull;  // in 2019
    FILETIME ft{t.LowPart, t.HighPart};
    return file && SetFileTime(file.Get(), nullptr, nullptr, &ft);
}

bool HasLine(const std::vector<std::string>& vecTexts, const std::string& strText) {
    return std::find(vecTexts.begin(), vecTexts.end(), strText) != vecTexts.end();
}

std::string CheckLine(const std::vector<std::string>& vecTexts) {
    for (const std::string& strText : vecTexts) {
        if (strText.find("LAUNCHER CHECK : ") != std::string::npos) {
            return strText.substr(0, strText.find(" MiB)") + 5);
        }
    }
    return "";
}

}  // namespace

// The second start must not need the files' content at all: a game file held
// open without read sharing would fail any read and be fetched again.
TEST_F(LauncherGame, ASecondStartOfAnUnchangedInstallReadsNoGameFile) {
    const std::vector<rqtest::CPatchEntry> entries = {{"", "TOLVANE.EXE", m_strGame},
                                                      {"data/", "world.pak", rqtest::MakeBody(400000, 4)}};
    Publish(entries);
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "data" / "world.pak", entries[1].strBody));
    rqui::CChildProcess first;
    ASSERT_TRUE(Start(first));
    ASSERT_EQ(first.Wait(kUiTimeoutMs), 0);
    // TOLVANE.EXE is missing: fetched, then vouched for as verified.
    EXPECT_EQ(CheckLine(LogTexts()), "NTS 130011 LAUNCHER CHECK : 2 files, 0 by the record, 1 read (0 MiB)");
    fs::remove_all(Install() / "Log");
    fs::remove(Install() / "TOLVANE_CMDLINE.txt");

    CRQBLHandle held(CreateFileW((Install() / "data" / "world.pak").c_str(), GENERIC_READ, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    rqui::CChildProcess second;
    ASSERT_TRUE(Start(second));
    EXPECT_EQ(second.Wait(kUiTimeoutMs), 0);
    held.Close();
    EXPECT_EQ(GameCommandLines(), Utf8(CommandLine()) + " _LC 1\n");
    EXPECT_EQ(CheckLine(LogTexts()), "NTS 130011 LAUNCHER CHECK : 2 files, 2 by the record, 0 read (0 MiB)");
}

TEST_F(LauncherGame, RepairFindsASameSizeEditWithTheOldTimeAndTheGameNeverSeesTheSwitch) {
    const std::vector<rqtest::CPatchEntry> entries = {{"", "TOLVANE.EXE", m_strGame},
                                                      {"data/", "world.pak", rqtest::MakeBody(300000, 5)}};
    Publish(entries);
    const fs::path world = Install() / "data" / "world.pak";
    ASSERT_TRUE(rqtest::WriteBytes(world, entries[1].strBody));
    ASSERT_TRUE(SetOldWriteTime(world));
    rqui::CChildProcess first;
    ASSERT_TRUE(Start(first));
    ASSERT_EQ(first.Wait(kUiTimeoutMs), 0);
    fs::remove_all(Install() / "Log");
    fs::remove(Install() / "TOLVANE_CMDLINE.txt");

    ASSERT_TRUE(rqtest::WriteBytes(world, rqtest::MakeBody(300000, 6)));
    ASSERT_TRUE(SetOldWriteTime(world));
    const std::wstring strArgs = L"_REPAIR _C " + BaseUrl();
    rqui::CChildProcess repair;
    ASSERT_TRUE(StartLauncher(repair, strArgs));
    EXPECT_EQ(repair.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(rqtest::ReadBytes(world), entries[1].strBody);
    EXPECT_EQ(GameCommandLines(), Utf8(CommandLine()) + " _LC 1\n") << "the switch stays with the launcher";
    std::vector<std::string> vecTexts = LogTexts();
    EXPECT_TRUE(HasLine(vecTexts, "NTS 130011 REPAIR REQUESTED : _REPAIR"));
    EXPECT_TRUE(HasLine(vecTexts, "NTS 130011 LAUNCHER REPAIR : every listed file is read and checked"));
    EXPECT_EQ(CheckLine(vecTexts), "NTS 130011 LAUNCHER CHECK : 2 files, 0 by the record, 2 read (1 MiB)");
    EXPECT_TRUE(HasLine(vecTexts, "NTS 130011 LAUNCHER REPAIR FOUND : data/world.pak (content differs)"));
    EXPECT_TRUE(HasLine(vecTexts, "NTS 130011 LAUNCHER REPAIR : 1 of 2 files to be fetched again"));
}

// A user name and password in the server's address (the address file's
// LOGIN_IP, the command line) are used, and never reach the log.
TEST_F(LauncherGame, APasswordInTheAddressNeverReachesTheLog) {
    Publish({{"", "TOLVANE.EXE", m_strGame}, {"", "a.dat", rqtest::MakeBody(3000, 5)}});
    const std::wstring strBase = BaseUrl();
    const size_t nHost = strBase.find(L"://") + 3;
    const std::wstring strWithPassword =
        strBase.substr(0, nHost) + L"player:s3cretpw@" + strBase.substr(nHost);
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "LOGIN_ADDRESS.LAD",
                                   "[HTTP_SERVER_ADDRESS]\r\nLOGIN_IP=" + Utf8(strWithPassword) +
                                       "\r\n[DEV_CODE]\r\nCOMMAND_LOG=1\r\n"));
    rqui::CChildProcess proc;
    const std::wstring strCommandLine = strBase.substr(0, nHost) + L"cmd:hunter2@" + strBase.substr(nHost);
    ASSERT_TRUE(StartLauncher(proc, L"_C " + strCommandLine));
    EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "a.dat"), rqtest::MakeBody(3000, 5));  // the address was used
    const std::vector<std::string> vecTexts = LogTexts();
    std::string strAll;
    for (const std::string& strText : vecTexts) {
        strAll += strText + "\n";
    }
    EXPECT_EQ(strAll.find("s3cretpw"), std::string::npos) << strAll;
    EXPECT_EQ(strAll.find("hunter2"), std::string::npos) << strAll;
    EXPECT_EQ(strAll.find("player"), std::string::npos) << strAll;
    EXPECT_NE(strAll.find("LOGIN_IP : " + Utf8(strBase.substr(0, nHost)) + "***@"), std::string::npos)
        << strAll;
    EXPECT_NE(strAll.find("COMMAND_LOG : "), std::string::npos) << strAll;
}
