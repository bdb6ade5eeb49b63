// The application object: registers the window classes, starts OLE, enters
// the program's folder and starts the log there, settles the launcher's
// settings and runs the launcher window modally; the process ends when the
// window has closed.
#pragma once

#include <utility>
#include <vector>

#include "baselib/RQBLEd25519.h"
#include "baselib/log/RQBLLog.h"

class CRQLauncherApp {
public:
    // vecTrustedKeys: whose signatures on the patch script are accepted
    // (none: unsigned scripts run).
    // log: the process's log, started here once the program's folder is the
    // working folder.
    CRQLauncherApp(CRQBLLog& log, std::vector<RQ_PUBLIC_KEY> vecTrustedKeys)
        : m_log(log), m_vecTrustedKeys(std::move(vecTrustedKeys)) {}
    CRQLauncherApp(const CRQLauncherApp&) = delete;
    CRQLauncherApp& operator=(const CRQLauncherApp&) = delete;

    // Runs the whole launcher; false, so that the process ends afterwards.
    bool InitInstance();
    // Ends OLE; returns the process's exit code.
    int ExitInstance();

private:
    CRQBLLog& m_log;
    const std::vector<RQ_PUBLIC_KEY> m_vecTrustedKeys;
    bool m_bOleStarted = false;
    int m_nExitCode = 0;
};
