// Every fatal error in a real process: rq_crash_probe.exe sets up crash
// reporting like the launcher and commits the error named on its command
// line. All cases start at once (each in its own folder) and are checked one
// by one: the handler's message box, exit code 1 and the report folder.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RQUiProbe.h"

namespace {

constexpr DWORD kTimeoutMs = 60000;
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

struct RunningCase {
    std::wstring strFolder;
    rqui::CChildProcess process;
    bool bStarted = false;
    // What the first message box of the process showed; nBoxes counts the
    // message boxes open at that moment.
    bool bBoxSeen = false;
    rqui::CMessageBoxInfo box;
    int nBoxes = 0;
    long nExitCode = -1;
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

class CrashReport : public ::testing::TestWithParam<CrashCase> {
public:
    // Starts every case at once, then answers the message boxes in the order
    // in which they appear, so that the slow parts (the minidump, a GUI
    // process's start and end under Wine) overlap.
    static void SetUpTestSuite() {
        std::wstring strProbe = rqui::ProgramFolder() + L"\\rq_crash_probe.exe";
        std::vector<RunningCase*> vecWaiting;
        for (const CrashCase& crash : kCases) {
            auto pRun = std::make_unique<RunningCase>();
            pRun->strFolder = rqui::MakeTempFolder(L"crash");
            if (!pRun->strFolder.empty() && rqui::CopyInto(strProbe, pRun->strFolder)) {
                std::wstring strExe = pRun->strFolder + L"\\rq_crash_probe.exe";
                pRun->bStarted =
                    pRun->process.Start(strExe, L"\"" + strExe + L"\" " + crash.pszCase, pRun->strFolder);
            }
            if (pRun->bStarted) {
                vecWaiting.push_back(pRun.get());
            }
            s_runs[crash.pszCase] = std::move(pRun);
        }
        DWORD dwStart = GetTickCount();
        while (!vecWaiting.empty() && GetTickCount() - dwStart < kTimeoutMs) {
            for (auto it = vecWaiting.begin(); it != vecWaiting.end();) {
                RunningCase& run = **it;
                if (rqui::WaitForMessageBox(run.process.Id(), 0, run.box)) {
                    run.bBoxSeen = true;
                    run.nBoxes = CountMessageBoxes(run.process.Id());
                    rqui::PressButton(run.box.hWnd);
                    it = vecWaiting.erase(it);
                } else if (!run.process.IsRunning()) {
                    it = vecWaiting.erase(it);  // ended without a box
                } else {
                    ++it;
                }
            }
        }
        for (auto& entry : s_runs) {
            entry.second->nExitCode = entry.second->process.Wait(kTimeoutMs);
        }
    }
    static void TearDownTestSuite() {
        for (auto& entry : s_runs) {
            entry.second->process.Kill();
            rqui::RemoveFolderTree(entry.second->strFolder);
        }
        s_runs.clear();
    }

protected:
    static std::map<std::wstring, std::unique_ptr<RunningCase>> s_runs;
};

std::map<std::wstring, std::unique_ptr<RunningCase>> CrashReport::s_runs;

std::string CaseName(const ::testing::TestParamInfo<CrashCase>& info) {
    std::wstring strCase = info.param.pszCase;
    return std::string(strCase.begin(), strCase.end());
}

}  // namespace

TEST_P(CrashReport, HandlerNamesItselfReportsAndEndsWithItsExitCode) {
    const CrashCase& crash = GetParam();
    RunningCase& run = *s_runs[crash.pszCase];
    ASSERT_TRUE(run.bStarted);

    if (crash.pszHandler != nullptr) {
        ASSERT_TRUE(run.bBoxSeen) << "no message box";
        EXPECT_EQ(run.box.strCaption, crash.pszHandler);
        EXPECT_EQ(run.box.strText, crash.pszHandler);
        EXPECT_EQ(run.nBoxes, 1);
    } else {
        EXPECT_FALSE(run.bBoxSeen) << "unexpected box: "
                                   << std::string(run.box.strCaption.begin(), run.box.strCaption.end());
    }
    EXPECT_EQ(run.nExitCode, crash.nExitCode);

    // The report folder beside the program.
    std::vector<std::wstring> vecReports = FindFiles(run.strFolder + L"\\CrashReport_*");
    ASSERT_EQ(vecReports.size(), 1u);
    std::wstring strReport = run.strFolder + L"\\" + vecReports[0];
    EXPECT_EQ(ReadFile(strReport + L"\\crash.dmp").substr(0, 4), "MDMP");

    std::string strText = ReadFile(strReport + L"\\report.txt");
    EXPECT_NE(strText.find("Application: PXPatcher\r\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("Version: ver 0.9a\r\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("Build: RELEASE_JPN_555\r\n"), std::string::npos) << strText;

    // The crash log, set up before the runtime object named the build.
    std::string strStack = ReadFile(strReport + L"\\stack.log");
    EXPECT_EQ(strStack.substr(0, strStack.find("\r\n")), "0,__PATCHER__,0,__PATCHER__,Not Initialized");
    EXPECT_EQ(strStack, ReadFile(run.strFolder + L"\\stack.log"));

    // The log object registered its .log file; the report holds a copy.
    std::vector<std::wstring> vecLogs = FindFiles(run.strFolder + L"\\Log\\LAUNCHER_*.log");
    ASSERT_EQ(vecLogs.size(), 1u);
    std::string strLog = ReadFile(run.strFolder + L"\\Log\\" + vecLogs[0]);
    EXPECT_FALSE(strLog.empty());
    EXPECT_EQ(ReadFile(strReport + L"\\" + vecLogs[0]), strLog);
}

INSTANTIATE_TEST_SUITE_P(AllCases, CrashReport, ::testing::ValuesIn(kCases), CaseName);
