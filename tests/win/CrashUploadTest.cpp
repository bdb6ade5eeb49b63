// Crash reports that reach support, end to end: rq_crash_probe.exe crashes as
// the launcher would, starts itself again for the player's consent, and sends
// its report to the native crashreceiver on loopback (started by a CTest
// fixture, which passes RQ_TEST_CRASH_URL and RQ_TEST_CRASH_STORE). The test
// answers the consent dialog and the handler's box as a player would.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "RQTrustedAuthority.h"
#include "RQUiProbe.h"
#include "crashupload/win/RQCrashConsentDlg.h"

namespace {

// Each step waits on its own: a Wine start, a minidump, an upload.
constexpr DWORD kStepTimeoutMs = 60000;
constexpr const wchar_t* kSendingText = L"送信しています…";
constexpr const wchar_t* kSentPrefix = L"送信しました。受付番号: ";
constexpr const wchar_t* kRetryText = L"送信できませんでした。次回の起動時にもう一度送信します。";

std::wstring Env(const wchar_t* pszName) {
    const wchar_t* pszValue = _wgetenv(pszName);
    return pszValue != nullptr ? pszValue : L"";
}

std::string ReadFile(const std::wstring& strPath) {
    std::ifstream in(strPath.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::wstring> FindNames(const std::wstring& strPattern) {
    std::vector<std::wstring> vecNames;
    WIN32_FIND_DATAW fd{};
    HANDLE hFind = FindFirstFileW(strPattern.c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (fd.cFileName[0] != L'.') {
                vecNames.emplace_back(fd.cFileName);
            }
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    return vecNames;
}

// A loopback address where nothing listens: a port just given back.
std::wstring DeadServerUrl() {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int nLength = sizeof(address);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &nLength);
    closesocket(s);
    WSACleanup();
    return L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)) + L"/reception_jpn/Default.aspx";
}

// The processes whose parent is dwParentId.
std::vector<DWORD> ChildProcessIds(DWORD dwParentId) {
    std::vector<DWORD> vecIds;
    CRQBLHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!hSnapshot || !Process32FirstW(hSnapshot.Get(), &entry)) {
        return vecIds;
    }
    do {
        if (entry.th32ParentProcessID == dwParentId) {
            vecIds.push_back(entry.th32ProcessID);
        }
    } while (Process32NextW(hSnapshot.Get(), &entry));
    return vecIds;
}

// The consent dialog: a dialog of a child process of the crashed probe.
HWND WaitForConsentDialog(DWORD dwCrashedId) {
    DWORD dwStart = GetTickCount();
    do {
        for (DWORD dwChild : ChildProcessIds(dwCrashedId)) {
            for (HWND hWnd : rqui::ProcessWindows(dwChild)) {
                if (GetDlgItem(hWnd, IDC_CRASH_STATUS) != nullptr) {
                    return hWnd;
                }
            }
        }
        Sleep(100);
    } while (GetTickCount() - dwStart < kStepTimeoutMs);
    return nullptr;
}

std::wstring DialogText(HWND hDlg) {
    std::wstring strText;
    for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild != nullptr;
         hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        strText += rqui::WindowText(hChild) + L"\n";
    }
    return strText;
}

// The status line once the upload has ended.
std::wstring WaitForUploadEnd(HWND hDlg) {
    DWORD dwStart = GetTickCount();
    std::wstring strStatus;
    do {
        Sleep(100);
        strStatus = rqui::WindowText(GetDlgItem(hDlg, IDC_CRASH_STATUS));
    } while ((strStatus.empty() || strStatus == kSendingText) && GetTickCount() - dwStart < kStepTimeoutMs);
    return strStatus;
}

std::string Narrow(const std::wstring& str) {
    return std::string(str.begin(), str.end());
}

class CrashUpload : public ::testing::Test {
protected:
    void SetUp() override {
        m_strUrl = Env(L"RQ_TEST_CRASH_URL");
        m_strStore = Env(L"RQ_TEST_CRASH_STORE");
        ASSERT_FALSE(m_strUrl.empty()) << "run through the crash receiver fixture";
        m_strFolder = rqui::MakeTempFolder(L"upload");
        ASSERT_FALSE(m_strFolder.empty());
        ASSERT_TRUE(rqui::CopyInto(rqui::ProgramFolder() + L"\\rq_crash_probe.exe", m_strFolder));
    }
    void TearDown() override { rqui::RemoveFolderTree(m_strFolder); }

    bool StartProbe(rqui::CChildProcess& probe, const std::wstring& strArgs) {
        std::wstring strExe = m_strFolder + L"\\rq_crash_probe.exe";
        return probe.Start(strExe, L"\"" + strExe + L"\" " + strArgs, m_strFolder);
    }

    // Crashes the probe (abort), answers the consent dialog with nButton and
    // returns the status line the dialog ended with; then answers the
    // handler's box and checks that the process ends as before.
    std::wstring CrashAndAnswer(const std::wstring& strServerUrl, int nButton) {
        rqui::CChildProcess probe;
        EXPECT_TRUE(StartProbe(probe, L"abort " + strServerUrl));
        HWND hDlg = WaitForConsentDialog(probe.Id());
        EXPECT_NE(hDlg, nullptr) << "no consent dialog";
        if (hDlg == nullptr) {
            return L"";
        }
        std::wstring strText = DialogText(hDlg);
        EXPECT_NE(strText.find(L"An Error has been detected\n"), std::wstring::npos) << Narrow(strText);
        EXPECT_NE(strText.find(L"Please Send Dump Files\n"), std::wstring::npos) << Narrow(strText);
        EXPECT_NE(strText.find(L"ランチャーでエラーが発生しました。"), std::wstring::npos);

        std::wstring strStatus;
        rqui::PressButton(hDlg, nButton);
        if (nButton == IDOK) {
            strStatus = WaitForUploadEnd(hDlg);
            rqui::PressButton(hDlg, IDCANCEL);  // now "閉じる"
        }
        // The handler's own box comes once the dialog has closed.
        rqui::CMessageBoxInfo box;
        EXPECT_TRUE(rqui::WaitForMessageBox(probe.Id(), kStepTimeoutMs, box)) << "no handler box";
        EXPECT_EQ(box.strCaption, L"SigabrtHandler");
        rqui::PressButton(box.hWnd);
        EXPECT_EQ(probe.Wait(kStepTimeoutMs), 1);
        return strStatus;
    }

    // A later start of the program, which sends what waits.
    void StartAgain() {
        rqui::CChildProcess probe;
        ASSERT_TRUE(StartProbe(probe, L"pending " + m_strUrl));
        EXPECT_EQ(probe.Wait(2 * kStepTimeoutMs), 0);
    }

    std::vector<std::wstring> LocalReports() const { return FindNames(m_strFolder + L"\\CrashReport_*"); }
    std::vector<std::wstring> StoredReports() const { return FindNames(m_strStore + L"\\*"); }

    // The stored file that the client sent under strClientName, per the index.
    std::string StoredFile(const std::wstring& strId, const std::string& strClientName) const {
        std::string strIndex = ReadFile(m_strStore + L"\\" + strId + L"\\index.txt");
        size_t nName = strIndex.find("name \"" + strClientName + "\"");
        size_t nLine = strIndex.rfind("\nfile ", nName);
        if (nName == std::string::npos || nLine == std::string::npos) {
            return std::string();
        }
        std::string strStored = strIndex.substr(nLine + 6, strIndex.find(':', nLine) - nLine - 6);
        return ReadFile(m_strStore + L"\\" + strId + L"\\" +
                        std::wstring(strStored.begin(), strStored.end()));
    }

    std::wstring m_strUrl;
    std::wstring m_strStore;
    std::wstring m_strFolder;
};

}  // namespace

TEST_F(CrashUpload, SendDeliversTheDumpTheLogsAndTheCaptureAndShowsTheReportId) {
    std::wstring strStatus = CrashAndAnswer(m_strUrl, IDOK);
    ASSERT_EQ(strStatus.compare(0, wcslen(kSentPrefix), kSentPrefix), 0) << Narrow(strStatus);
    std::wstring strId = strStatus.substr(wcslen(kSentPrefix));
    ASSERT_FALSE(strId.empty());

    std::wstring strReport = m_strStore + L"\\" + strId;
    EXPECT_EQ(ReadFile(strReport + L"\\upload_file_minidump.dmp").substr(0, 4), "MDMP");
    EXPECT_EQ(StoredFile(strId, "stack.log"), ReadFile(m_strFolder + L"\\stack.log"));
    std::vector<std::wstring> vecLogs = FindNames(m_strFolder + L"\\Log\\LAUNCHER_*.log");
    ASSERT_EQ(vecLogs.size(), 1u);
    std::string strLog = ReadFile(m_strFolder + L"\\Log\\" + vecLogs[0]);
    EXPECT_FALSE(strLog.empty());
    EXPECT_EQ(StoredFile(strId, Narrow(vecLogs[0])), strLog);
    EXPECT_EQ(StoredFile(strId, "screen.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
    std::string strIndex = ReadFile(strReport + L"\\index.txt");
    EXPECT_NE(strIndex.find("field prod: PXPatcher\n"), std::string::npos) << strIndex;
    EXPECT_NE(strIndex.find("field ver: ver 0.9a\n"), std::string::npos) << strIndex;
    EXPECT_TRUE(LocalReports().empty()) << "a sent report is not kept";
}

// The launcher's own entry hands the switch to the report step before
// anything else (no window of its own, no mutex): here on a report folder as
// the crash reporter lays it out.
// The same report to the receiver behind nginx over TLS, with the certificate
// checked against a test authority that only this test's prefix trusts.
TEST_F(CrashUpload, SendOverHttpsDeliversTheReport) {
    const std::wstring strHttpsUrl = Env(L"RQ_TEST_CRASH_HTTPS_URL");
    ASSERT_FALSE(strHttpsUrl.empty()) << "run through the TLS fixture";
    rqtest::CTrustedAuthority authority;
    ASSERT_TRUE(authority.Add(ReadFile(Env(L"RQ_TEST_CRASH_CA_PEM"))));
    std::wstring strStatus = CrashAndAnswer(strHttpsUrl, IDOK);
    ASSERT_EQ(strStatus.compare(0, wcslen(kSentPrefix), kSentPrefix), 0) << Narrow(strStatus);
    const std::wstring strId = strStatus.substr(wcslen(kSentPrefix));
    EXPECT_EQ(ReadFile(m_strStore + L"\\" + strId + L"\\upload_file_minidump.dmp").substr(0, 4), "MDMP");
    EXPECT_TRUE(LocalReports().empty()) << "a sent report is not kept";
}

TEST_F(CrashUpload, LauncherStartedWithTheSwitchAsksAndSends) {
    std::wstring strReport = m_strFolder + L"\\CrashReport_20260101_120000_1";
    ASSERT_TRUE(CreateDirectoryW(strReport.c_str(), nullptr));
    const std::string strDump = std::string("MDMP\x93\xa7\0\0", 8) + "launcher";
    ASSERT_TRUE(rqui::WriteTextFile(strReport + L"\\crash.dmp", strDump));
    ASSERT_TRUE(rqui::WriteTextFile(strReport + L"\\report.ini",
                                    "product=PXPatcher\r\nversion=ver 0.9a\r\nserver=" + Narrow(m_strUrl) +
                                        "\r\nport=80\r\nmessage1=An Error has been detected\r\n"
                                        "message2=Please Send Dump Files\r\ncapture=0\r\n"));
    ASSERT_TRUE(rqui::CopyInto(rqui::ProgramFolder() + L"\\Launcher.exe", m_strFolder));
    std::wstring strExe = m_strFolder + L"\\Launcher.exe";
    rqui::CChildProcess launcher;
    ASSERT_TRUE(
        launcher.Start(strExe, L"\"" + strExe + L"\" _CRASH_REPORT \"" + strReport + L"\" 0", m_strFolder));

    HWND hDlg = nullptr;
    DWORD dwStart = GetTickCount();
    while (hDlg == nullptr && GetTickCount() - dwStart < kStepTimeoutMs) {
        for (HWND hWnd : rqui::ProcessWindows(launcher.Id())) {
            hDlg = GetDlgItem(hWnd, IDC_CRASH_STATUS) != nullptr ? hWnd : hDlg;
        }
        Sleep(100);
    }
    ASSERT_NE(hDlg, nullptr) << "no consent dialog";
    rqui::PressButton(hDlg, IDOK);
    std::wstring strStatus = WaitForUploadEnd(hDlg);
    rqui::PressButton(hDlg, IDCANCEL);
    EXPECT_EQ(launcher.Wait(kStepTimeoutMs), 0);
    ASSERT_EQ(strStatus.compare(0, wcslen(kSentPrefix), kSentPrefix), 0) << Narrow(strStatus);
    std::wstring strId = strStatus.substr(wcslen(kSentPrefix));
    EXPECT_EQ(ReadFile(m_strStore + L"\\" + strId + L"\\upload_file_minidump.dmp"), strDump);
    EXPECT_TRUE(LocalReports().empty());
    EXPECT_TRUE(FindNames(m_strFolder + L"\\Log").empty()) << "the launcher itself did not start";
}

TEST_F(CrashUpload, DontSendSendsNothingNowNorAtTheNextStart) {
    size_t nStored = StoredReports().size();
    CrashAndAnswer(m_strUrl, IDCANCEL);
    StartAgain();
    EXPECT_EQ(StoredReports().size(), nStored);
    std::vector<std::wstring> vecLocal = LocalReports();
    ASSERT_EQ(vecLocal.size(), 1u) << "the report stays for the player";
    EXPECT_EQ(GetFileAttributesW((m_strFolder + L"\\" + vecLocal[0] + L"\\consent.txt").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

TEST_F(CrashUpload, ServerDownKeepsTheReportAndTheNextStartSendsIt) {
    std::wstring strStatus = CrashAndAnswer(DeadServerUrl(), IDOK);
    EXPECT_EQ(strStatus, kRetryText);
    ASSERT_EQ(LocalReports().size(), 1u);

    std::vector<std::wstring> vecBefore = StoredReports();
    StartAgain();
    std::vector<std::wstring> vecAfter = StoredReports();
    ASSERT_EQ(vecAfter.size(), vecBefore.size() + 1);
    EXPECT_TRUE(LocalReports().empty());
    for (const std::wstring& strId : vecAfter) {
        if (std::find(vecBefore.begin(), vecBefore.end(), strId) == vecBefore.end()) {
            EXPECT_EQ(ReadFile(m_strStore + L"\\" + strId + L"\\upload_file_minidump.dmp").substr(0, 4),
                      "MDMP");
        }
    }
}
