#include "crashupload/win/RQCrashReportEntry.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "baselib/win/RQBLModulePath.h"
#include "baselib/win/RQBLWinHandle.h"
#include "baselib/win/bugtrap/RQBTExtras.h"
#include "crashupload/win/RQCrashConsentDlg.h"
#include "crashupload/win/RQCrashReportFolder.h"
#include "crashupload/win/RQScreenCapture.h"

namespace {

constexpr const wchar_t* kSwitch = L"_CRASH_REPORT";

enum : int {
    EXIT_DONE = 0,
    EXIT_BAD_SWITCH = 2,  // no report folder of the crash reporter's named
};

std::vector<std::wstring> SplitCommandLine(const wchar_t* pszCommandLine) {
    int nArgs = 0;
    CRQBLArgv args(CommandLineToArgvW(pszCommandLine, &nArgs));
    std::vector<std::wstring> vecArgs;
    for (int i = 0; args && i < nArgs; ++i) {
        vecArgs.emplace_back(args.Get()[i]);
    }
    return vecArgs;
}

int RunReportStep(const std::vector<std::wstring>& vecArgs) {
    // A folder that the crash reporter did not make is not sent anywhere.
    if (vecArgs.size() < 4 || !rqcrash::IsReportFolder(vecArgs[2])) {
        return EXIT_BAD_SWITCH;
    }
    const std::wstring& strFolder = vecArgs[2];
    DWORD dwCrashedProcessId = static_cast<DWORD>(std::wcstoul(vecArgs[3].c_str(), nullptr, 10));
    CRQCrashReportInfo info;
    rqcrash::ReadReportInfo(strFolder, info);
    // Before the dialog, which would otherwise be in the picture.
    if (info.bScreenCapture && dwCrashedProcessId != 0) {
        rqcrash::CaptureCrashScreen(dwCrashedProcessId, strFolder);
    }
    RunCrashConsentDialog(strFolder, info);
    return EXIT_DONE;
}

}  // namespace

bool RQCrashReportEntry(const wchar_t* pszCommandLine, int& nExitCode) {
    std::vector<std::wstring> vecArgs = SplitCommandLine(pszCommandLine);
    if (vecArgs.size() >= 2 && _wcsicmp(vecArgs[1].c_str(), kSwitch) == 0) {
        nExitCode = RunReportStep(vecArgs);
        return true;
    }
    std::wstring strProgram = RQBLModulePath();
    if (!strProgram.empty()) {
        RQBT_SetReportSender(strProgram.c_str(), kSwitch);
    }
    return false;
}
