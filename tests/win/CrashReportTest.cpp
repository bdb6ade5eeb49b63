// Every fatal error in a real process: rq_crash_probe.exe sets up crash
// reporting like the launcher and commits the error named on its command
// line. The cases run a few at a time, each in its own folder and with
// deadlines of its own, so that a loaded machine slows them down without
// failing them; a case that fails says how far its probe got.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RQUiProbe.h"

namespace {

// A probe alone on a quiet 2-core machine shows its box within a few seconds
// (about 3 s of processor time, most of it Wine's); on a machine busy with
// builds and other Wine work it has taken more than a minute. The deadlines
// are each probe's own.
constexpr DWORD kBoxTimeoutMs = 150000;  // from the start to the box (or the end)
constexpr DWORD kExitTimeoutMs = 60000;  // from the pressed button to the end
constexpr size_t kProbesAtOnce = 3;
constexpr long kAccessViolation = static_cast<long>(0xC0000005);

struct CrashCase {
    const wchar_t* pszCase;
    const wchar_t* pszHandler;  // null: no handler of ours runs
    long nExitCode;
};

const CrashCase kCases[] = {
    {L"pure_call", L"PureCallHandler", 1},
    {L"new", L"NewHandler", 1},
    {L"invalid_parameter", L"InvalidParameterHandler", 1},
    {L"abort", L"SigabrtHandler", 1},
    {L"sigint", L"SigintHandler", 1},
    {L"sigterm", L"SigtermHandler", 1},
    {L"terminate", L"TerminateHandler", 1},
    {L"unexpected", L"UnexpectedHandler", 1},
    {L"sigfpe", L"SigfpeHandler", 1},
    {L"sigill", L"SigillHandler", 1},
    {L"sigsegv", L"SigsegvHandler", 1},
    // The process-wide handlers work on any thread.
    {L"abort_on_worker", L"SigabrtHandler", 1},
    // A thread without the per-thread handlers gets the runtime's defaults:
    // terminate aborts, and a fault goes to the crash reporter's own filter.
    {L"terminate_on_worker", L"SigabrtHandler", 1},
    {L"sigsegv_on_worker", nullptr, kAccessViolation},
};

std::string ReadFile(const std::wstring& strPath) {
    std::ifstream in(strPath.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::wstring> FindFiles(const std::wstring& strPattern) {
    std::vector<std::wstring> vecNames;
    WIN32_FIND_DATAW fd{};
    HANDLE hFind = FindFirstFileW(strPattern.c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            vecNames.emplace_back(fd.cFileName);
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    return vecNames;
}

int CountMessageBoxes(DWORD dwProcessId) {
    int nBoxes = 0;
    for (HWND hWnd : rqui::ProcessWindows(dwProcessId)) {
        wchar_t szClass[16] = {};
        GetClassNameW(hWnd, szClass, 16);
        nBoxes += std::wstring(szClass) == L"#32770" ? 1 : 0;
    }
    return nBoxes;
}

// How far one probe got, for the failure message.
struct ProbeProgress {
    bool bStarted = false;
    bool bBoxSeen = false;
    DWORD dwBoxMs = 0;  // from the start to the box
    long nExitCode = -1;

    std::string Describe(const std::wstring& strFolder) const {
        bool bReport = !FindFiles(strFolder + L"\\CrashReport_*").empty();
        return std::string("started: ") + (bStarted ? "yes" : "no") +
               ", report folder made: " + (bReport ? "yes" : "no") +
               ", box seen: " + (bBoxSeen ? "yes, after " + std::to_string(dwBoxMs) + " ms" : "no") +
               ", exit code: " + (nExitCode == -1 ? "none (did not end)" : std::to_string(nExitCode));
    }
};

// One probe, from its start to its end, with deadlines of its own.
class CProbeRun {
public:
    explicit CProbeRun(const CrashCase& crash) : m_crash(crash) {}
    ~CProbeRun() {
        if (!m_strFolder.empty()) {
            rqui::RemoveFolderTree(m_strFolder);
        }
    }
    CProbeRun(const CProbeRun&) = delete;
    CProbeRun& operator=(const CProbeRun&) = delete;

    void Start() {
        m_strFolder = rqui::MakeTempFolder(L"crash");
        std::wstring strExe = m_strFolder + L"\\rq_crash_probe.exe";
        m_progress.bStarted = !m_strFolder.empty() &&
                              rqui::CopyInto(rqui::ProgramFolder() + L"\\rq_crash_probe.exe", m_strFolder) &&
                              m_process.Start(strExe, L"\"" + strExe + L"\" " + m_crash.pszCase, m_strFolder);
        m_dwSince = GetTickCount();
        m_stage = m_progress.bStarted ? Stage::kAwaitingBox : Stage::kDone;
    }
    // Looks once at the probe and moves it on; false once it is done.
    bool Step() {
        DWORD dwElapsed = GetTickCount() - m_dwSince;
        if (m_stage == Stage::kAwaitingBox) {
            if (rqui::WaitForMessageBox(m_process.Id(), 0, m_box)) {
                m_progress.bBoxSeen = true;
                m_progress.dwBoxMs = dwElapsed;
                m_nBoxes = CountMessageBoxes(m_process.Id());
                rqui::PressButton(m_box.hWnd);
                m_stage = Stage::kAwaitingEnd;
                m_dwSince = GetTickCount();
            } else if (!m_process.IsRunning() || dwElapsed >= kBoxTimeoutMs) {
                m_stage = Stage::kAwaitingEnd;  // ended without a box, or never showed one
            }
        }
        if (m_stage == Stage::kAwaitingEnd &&
            (!m_process.IsRunning() || GetTickCount() - m_dwSince >= kExitTimeoutMs)) {
            m_progress.nExitCode = m_process.Wait(0);
            m_process.Kill();
            m_stage = Stage::kDone;
        }
        return m_stage != Stage::kDone;
    }

    const std::wstring& Folder() const { return m_strFolder; }
    const ProbeProgress& Progress() const { return m_progress; }
    const rqui::CMessageBoxInfo& Box() const { return m_box; }
    int Boxes() const { return m_nBoxes; }

private:
    enum class Stage { kAwaitingBox, kAwaitingEnd, kDone };

    const CrashCase& m_crash;
    std::wstring m_strFolder;
    rqui::CChildProcess m_process;
    ProbeProgress m_progress;
    rqui::CMessageBoxInfo m_box;
    int m_nBoxes = 0;
    Stage m_stage = Stage::kDone;
    DWORD m_dwSince = 0;  // start of the current stage
};

class CrashReport : public ::testing::TestWithParam<CrashCase> {
public:
    // A few probes at a time, each with its own deadlines: all fourteen at
    // once starve each other on two cores.
    static void SetUpTestSuite() {
        std::vector<CProbeRun*> vecActive;
        size_t nNext = 0;
        while (nNext < std::size(kCases) || !vecActive.empty()) {
            while (vecActive.size() < kProbesAtOnce && nNext < std::size(kCases)) {
                auto pRun = std::make_unique<CProbeRun>(kCases[nNext]);
                pRun->Start();
                vecActive.push_back(pRun.get());
                s_runs[kCases[nNext].pszCase] = std::move(pRun);
                ++nNext;
            }
            for (auto it = vecActive.begin(); it != vecActive.end();) {
                it = (*it)->Step() ? it + 1 : vecActive.erase(it);
            }
            Sleep(50);
        }
    }
    static void TearDownTestSuite() { s_runs.clear(); }

protected:
    static std::map<std::wstring, std::unique_ptr<CProbeRun>> s_runs;
};

std::map<std::wstring, std::unique_ptr<CProbeRun>> CrashReport::s_runs;

std::string CaseName(const ::testing::TestParamInfo<CrashCase>& info) {
    std::wstring strCase = info.param.pszCase;
    return std::string(strCase.begin(), strCase.end());
}

}  // namespace

TEST_P(CrashReport, HandlerNamesItselfReportsAndEndsWithItsExitCode) {
    const CrashCase& crash = GetParam();
    const CProbeRun& run = *s_runs[crash.pszCase];
    const ProbeProgress& progress = run.Progress();
    const std::wstring& strFolder = run.Folder();
    SCOPED_TRACE(progress.Describe(strFolder));
    ASSERT_TRUE(progress.bStarted);

    if (crash.pszHandler != nullptr) {
        ASSERT_TRUE(progress.bBoxSeen) << "no message box";
        EXPECT_EQ(run.Box().strCaption, crash.pszHandler);
        EXPECT_EQ(run.Box().strText, crash.pszHandler);
        EXPECT_EQ(run.Boxes(), 1);
    } else {
        EXPECT_FALSE(progress.bBoxSeen)
            << "unexpected box: " << std::string(run.Box().strCaption.begin(), run.Box().strCaption.end());
    }
    EXPECT_EQ(progress.nExitCode, crash.nExitCode);

    // The report folder beside the program.
    std::vector<std::wstring> vecReports = FindFiles(strFolder + L"\\CrashReport_*");
    ASSERT_EQ(vecReports.size(), 1u);
    std::wstring strReport = strFolder + L"\\" + vecReports[0];
    EXPECT_EQ(ReadFile(strReport + L"\\crash.dmp").substr(0, 4), "MDMP");

    std::string strText = ReadFile(strReport + L"\\report.txt");
    EXPECT_NE(strText.find("Application: PXPatcher\r\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("Version: ver 0.9a\r\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("Build: RELEASE_JPN_555\r\n"), std::string::npos) << strText;

    // The crash log, set up before the runtime object named the build.
    std::string strStack = ReadFile(strReport + L"\\stack.log");
    EXPECT_EQ(strStack.substr(0, strStack.find("\r\n")), "0,__PATCHER__,0,__PATCHER__,Not Initialized");
    EXPECT_EQ(strStack, ReadFile(strFolder + L"\\stack.log"));

    // The log object registered its .log file; the report holds a copy.
    std::vector<std::wstring> vecLogs = FindFiles(strFolder + L"\\Log\\LAUNCHER_*.log");
    ASSERT_EQ(vecLogs.size(), 1u);
    std::string strLog = ReadFile(strFolder + L"\\Log\\" + vecLogs[0]);
    EXPECT_FALSE(strLog.empty());
    EXPECT_EQ(ReadFile(strReport + L"\\" + vecLogs[0]), strLog);
}

INSTANTIATE_TEST_SUITE_P(AllCases, CrashReport, ::testing::ValuesIn(kCases), CaseName);
