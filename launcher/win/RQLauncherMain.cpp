#include <windows.h>

#include "RQBuildConfig.h"
#include "baselib/RQBLMain.h"
#include "baselib/RQBLProcess.h"
#include "baselib/log/RQBLLog.h"
#include "baselib/log/RQBLLogKeys.h"
#include "baselib/win/RQBLModulePath.h"
#include "crashupload/win/RQCrashReportEntry.h"
#include "crashupload/win/RQCrashUploadQueue.h"
#include "launcher/keys/RQBuiltInKeys.h"
#include "launcher/win/RQCrashReporting.h"
#include "launcher/win/RQLauncherApp.h"

// What the launcher process needs, made here in the order it needs it and
// handed to whoever uses it; nothing is found through a global.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int nExitCode = 0;
    // Started again by a crashed launcher: ask the player and send its report.
    if (RQCrashReportEntry(GetCommandLineW(), nExitCode)) {
        return nExitCode;
    }
    {
        // First, so that everything after it is covered; once per process.
        RQStartCrashReporting(RQ_CRASH_SERVER);
        // Lines traced before the log is started (in the program's folder)
        // are dropped.
        CRQBLLog log(RQBLLogKey());
        // After crash reporting: its log's first entry names the build tag
        // as it was before the runtime object set it.
        CRQBLMain runtime(log);
        CRQBLGdiplus gdiplus(log);
        // Reports that earlier runs could not send go in the background
        // meanwhile; destroyed after the app, it waits for them a bounded time.
        CRQCrashUploadQueue waitingReports(RQBLModuleFolder(), RQ_CRASH_SERVER, 80);
        // The keys this very executable was built with.
        CRQLauncherApp app(log, RQBuiltInTrustedKeys());
        app.InitInstance();
        nExitCode = app.ExitInstance();
    }
    // A transfer caught in a network call that the system would not cut short
    // may still run on its own thread. Ending here, without the static
    // destructors of a normal return, keeps it from touching objects that are
    // gone; every log line is on disk already.
    ExitProcess(static_cast<UINT>(nExitCode));
}
