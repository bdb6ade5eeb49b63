// The real launcher built to trust the committed test key (LauncherKeyed.exe):
// it runs only scripts signed with that key, for a release no older than the
// one it accepted last, puts no file in place whose SHA-256 differs, and
// starts the game only once its programs match the signed SHA-256, whatever
// the record of verified files says. The signature's size is capped while it
// arrives, and nothing is written through a link in the game folder. The
// launcher without keys still refuses error pages for the script.
#include <windows.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "RQLauncherFixture.h"
#include "RQSignedContent.h"
#include "RQTestContent.h"
#include "RQUiProbe.h"
#include "baselib/win/RQBLWinHandle.h"
#include "patch/RQReleaseState.h"

namespace fs = std::filesystem;

namespace {

// Wine runs a Unix program given by its path on the Z: drive, in the Unix
// folder of the working folder. Its process handle cannot be waited for (the
// wait fails at once), so the link is waited for instead.
bool MakeUnixLink(const std::wstring& strTarget, const std::wstring& strLink, const std::wstring& strFolder) {
    std::wstring strCmd = L"Z:\\bin\\ln -s \"" + strTarget + L"\" \"" + strLink + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(L"Z:\\bin\\ln", strCmd.data(), nullptr, nullptr, FALSE, 0, nullptr, strFolder.c_str(),
                        &si, &pi)) {
        return false;
    }
    CRQBLHandle process(pi.hProcess);
    CRQBLHandle thread(pi.hThread);
    const std::wstring strPath = strFolder + L"\\" + strLink;
    for (int i = 0; i < 600; ++i) {
        if (GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        Sleep(100);
    }
    return false;
}

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
        // A launcher with keys starts only the TOLVANE.EXE its script lists.
        m_entries = {{"", "TOLVANE.EXE", rqtest::ReadBytes(fs::path(rqui::ProgramFolder()) / "TOLVANE.exe")},
                     {"", "a.dat", rqtest::MakeBody(70000, 1)},
                     {"data/", "b.dat", rqtest::MakeBody(3000, 2)}};
        ASSERT_FALSE(m_entries[0].strBody.empty());
    }
    void Setup(const wchar_t* pszBuilt) {
        MakeInstall(L"trust", pszBuilt);
        AddGame();
    }
    void PublishSigned(uint64_t ullRelease = 5) {
        const std::string strScript = rqtest::MakeHashedPatchScript(m_entries);
        Publish(m_entries, strScript, rqtest::SignScript(strScript, L"test-release", ullRelease));
    }
    void RunToTheGame() {
        rqui::CChildProcess proc;
        ASSERT_TRUE(Start(proc));
        EXPECT_EQ(proc.Wait(kUiTimeoutMs), 0);
        EXPECT_TRUE(fs::exists(Install() / "TOLVANE_CMDLINE.txt"));
    }
    int Requests(const std::string& strPath) {
        int n = 0;
        for (const rqtest::CServerRequest& request : m_content.Server()->Requests()) {
            n += request.strPath == strPath ? 1 : 0;
        }
        return n;
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
    // The game's program (the stand-in), and data.
    std::vector<rqtest::CPatchEntry> m_entries;
};

}  // namespace

TEST_F(LauncherTrust, ASignedUpdateRuns) {
    Setup(L"LauncherKeyed.exe");
    PublishSigned();
    RunToTheGame();
    EXPECT_EQ(rqtest::ReadBytes(Install() / "a.dat"), m_entries[1].strBody);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / "b.dat"), m_entries[2].strBody);
    EXPECT_TRUE(fs::exists(Install() / "PATCHER_CODE.LUA.sig"));
    EXPECT_FALSE(rqtest::ReadBytes(Install() / "LAUNCHER_RELEASE.DAT").empty());
}

TEST_F(LauncherTrust, UnverifiedScriptsWriteNothingAndStartNoGame) {
    const std::vector<rqtest::CPatchEntry> entries = m_entries;
    const std::string strScript = rqtest::MakeHashedPatchScript(entries);
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
        Publish(entries, c.strScript, c.strSignature);
        ExpectBoxAndNoGame(kNotVerified);
        ExpectNothingWritten();
        TearDown();
    }
}

TEST_F(LauncherTrust, AFileForgedToItsSizeAndCrcIsRefused) {
    Setup(L"LauncherKeyed.exe");
    PublishSigned();
    ASSERT_TRUE(m_content.Put(L"a.dat", rqtest::ForgeSameCrc(m_entries[1].strBody)));
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "a.dat", "the old a"));
    ASSERT_TRUE(rqtest::WriteBytes(Install() / "LOGIN_ADDRESS.LAD", "[DOWNLOAD]\r\nTRIES=2\r\n"));
    ExpectBoxAndNoGame(L"アップデート失敗。再度お試しください。 a.dat");
    EXPECT_EQ(rqtest::ReadBytes(Install() / "a.dat"), "the old a");
    EXPECT_FALSE(fs::exists(Install() / "a.dat.rqpart"));
}

// (A 503 is a busy server, waited for: see the patch-day tests.)
TEST_F(LauncherTrust, AnErrorPageIsNeverTakenForTheScript) {
    for (int nStatus : {403, 500}) {
        SCOPED_TRACE(nStatus);
        Setup(L"Launcher.exe");
        Publish(m_entries, rqtest::MakeHashedPatchScript(m_entries), "");
        rqtest::CServerBehaviour page;
        page.nStatus = nStatus;
        m_content.Server()->SetBehaviour("/PATCHER_CODE.LUA", page);
        ExpectBoxAndNoGame(kNotFound);
        EXPECT_FALSE(fs::exists(Install() / "PATCHER_CODE.LUA"));
        m_content.Server()->ClearBehaviours();
        TearDown();
    }
}

// The launcher's test key as a root: it signs a key list naming another key
// for releases, and that key's update with a current timestamp runs. A
// timestamp whose day has come is refused, and so is the root signing the
// script itself once the install has a key list.
TEST_F(LauncherTrust, AnUpdateUnderARootsKeyListRunsWhileItsTimestampIsCurrent) {
    Setup(L"LauncherKeyed.exe");
    const std::string strScript = rqtest::MakeHashedPatchScript(m_entries);
    const int64_t nNow = static_cast<int64_t>(std::time(nullptr));
    rqtest::CKeyListUpdate update =
        rqtest::MakeKeyListUpdate(strScript, L"test-release", L"test-other", 7, nNow);
    ASSERT_FALSE(update.strTimestamp.empty());
    Publish(m_entries, strScript, update.strSignature);
    ASSERT_TRUE(m_content.Put(L"PATCHER_KEYS.txt", update.strKeyList));
    ASSERT_TRUE(m_content.Put(L"PATCHER_TIMESTAMP.txt", update.strTimestamp));
    RunToTheGame();
    EXPECT_EQ(rqtest::ReadBytes(Install() / "data" / "b.dat"), m_entries[2].strBody);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "LAUNCHER_KEYS.DAT").substr(0, 15), "TOLVANE-KEYS 1\n");

    // Made three days ago: its day has come.
    fs::remove(Install() / "TOLVANE_CMDLINE.txt");
    update = rqtest::MakeKeyListUpdate(strScript, L"test-release", L"test-other", 7, nNow - 3 * 86400);
    ASSERT_TRUE(m_content.Put(L"PATCHER_TIMESTAMP.txt", update.strTimestamp));
    ExpectBoxAndNoGame(kNotVerified);

    // Without the key list, the root's own signature no longer does.
    fs::remove(m_content.Root() / "PATCHER_KEYS.txt");
    fs::remove(m_content.Root() / "PATCHER_TIMESTAMP.txt");
    ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA.sig", rqtest::SignScript(strScript, L"test-release", 8)));
    ExpectBoxAndNoGame(kNotVerified);
}

// The record of verified files vouches by size, time and identity, protected
// by a checksum only: someone who can write the game folder edits a program
// in place, keeps its size and CRC-32 and sets its time back. The launcher
// with keys reads every program at every start and fetches the forged one
// again before the game starts.
TEST_F(LauncherTrust, AProgramForgedInPlaceUnderAVouchingRecordIsFetchedAgainBeforeTheGameStarts) {
    Setup(L"LauncherKeyed.exe");
    m_entries.push_back({"bin/", "render.dll", rqtest::MakeBody(90000, 3)});
    PublishSigned();
    RunToTheGame();
    ASSERT_TRUE(fs::exists(Install() / "LAUNCHER_VERIFIED.DAT"));
    fs::remove(Install() / "TOLVANE_CMDLINE.txt");
    for (const char* pszFile : {"TOLVANE.EXE", "bin/render.dll", "a.dat"}) {
        const fs::path file = Install() / pszFile;
        const std::string strReal = rqtest::ReadBytes(file);
        CRQBLHandle h(
            CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(h) << pszFile;
        FILETIME created{};
        FILETIME accessed{};
        FILETIME written{};
        ASSERT_TRUE(GetFileTime(h.Get(), &created, &accessed, &written));
        const std::string strForged = rqtest::ForgeSameCrc(strReal);
        DWORD dwDone = 0;
        ASSERT_TRUE(
            WriteFile(h.Get(), strForged.data(), static_cast<DWORD>(strForged.size()), &dwDone, nullptr));
        ASSERT_TRUE(SetFileTime(h.Get(), &created, &accessed, &written));
    }
    const int nExeBefore = Requests("/TOLVANE.EXE");
    const int nDllBefore = Requests("/bin/render.dll");
    const int nDataBefore = Requests("/a.dat");
    RunToTheGame();
    EXPECT_EQ(rqtest::ReadBytes(Install() / "TOLVANE.EXE"), m_entries[0].strBody);
    EXPECT_EQ(rqtest::ReadBytes(Install() / "bin" / "render.dll"), m_entries[3].strBody);
    EXPECT_EQ(Requests("/TOLVANE.EXE"), nExeBefore + 1);
    EXPECT_EQ(Requests("/bin/render.dll"), nDllBefore + 1);
    // Data are still taken on the record's word (a repair reads them).
    EXPECT_EQ(Requests("/a.dat"), nDataBefore);
    EXPECT_NE(rqtest::ReadBytes(Install() / "a.dat"), m_entries[1].strBody);
}

// A signature file is a few hundred bytes: one of many MiB is cut early,
// announced or not, and the script is not run.
TEST_F(LauncherTrust, ASignatureOfManyMiBIsCutEarly) {
    for (bool bAnnounced : {true, false}) {
        SCOPED_TRACE(bAnnounced ? "with Content-Length" : "without Content-Length");
        Setup(L"LauncherKeyed.exe");
        PublishSigned();
        ASSERT_TRUE(m_content.Put(L"PATCHER_CODE.LUA.sig", std::string(64u << 20, 'x')));
        rqtest::CServerBehaviour huge;
        huge.bNoContentLength = !bAnnounced;
        // Sent slowly enough that what was sent is what was asked for: the
        // whole would take twenty seconds.
        huge.dwSlowDelayMs = 20;
        huge.nSlowChunk = 64 * 1024;
        m_content.Server()->SetBehaviour("/PATCHER_CODE.LUA.sig", huge);
        const uint64_t ullBefore = m_content.Server()->SentBodyBytes("/PATCHER_CODE.LUA.sig");
        ExpectBoxAndNoGame(kNotFound);
        EXPECT_LT(m_content.Server()->SentBodyBytes("/PATCHER_CODE.LUA.sig") - ullBefore, 4u << 20);
        EXPECT_FALSE(fs::exists(Install() / "a.dat"));
        m_content.Server()->ClearBehaviours();
        TearDown();
    }
}

// A folder of the game that is a link elsewhere (Wine shows a folder's Unix
// symbolic link as a reparse point; it makes no Windows links itself) is
// never written through: the update fails, naming the file.
TEST_F(LauncherTrust, NothingIsWrittenThroughALinkedFolder) {
    Setup(L"LauncherKeyed.exe");
    const fs::path outside = Install().parent_path() / (Install().filename().wstring() + L"_outside");
    ASSERT_TRUE(rqtest::WriteBytes(outside / "b.dat", "not the game's"));
    ASSERT_TRUE(MakeUnixLink(L"../" + outside.filename().wstring(), L"data", m_strFolder));
    if ((GetFileAttributesW((Install() / "data").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "no link the system shows as one";
    }
    PublishSigned();
    ExpectBoxAndNoGame(L"アップデート失敗。再度お試しください。 data/b.dat");
    EXPECT_EQ(rqtest::ReadBytes(outside / "b.dat"), "not the game's");
    EXPECT_FALSE(fs::exists(outside / "b.dat.rqpart"));
    RemoveDirectoryW((Install() / "data").c_str());
    fs::remove_all(outside);
}
