#include <windows.h>

#include "RQBuildConfig.h"
#include "crashupload/win/RQCrashReportEntry.h"
#include "crashupload/win/RQCrashUploadQueue.h"
#include "crashupload/win/RQWinText.h"
#include "launcher/win/RQLauncherApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Started again by a crashed launcher: ask the player and send its report.
    int nExitCode = 0;
    if (RQCrashReportEntry(GetCommandLineW(), nExitCode)) {
        return nExitCode;
    }
    // Reports that earlier runs could not send go in the background meanwhile.
    CRQCrashUploadQueue waitingReports(rqcrash::ProgramFolder(), RQ_CRASH_SERVER, 80);
    theApp.InitInstance();
    return theApp.ExitInstance();
}
