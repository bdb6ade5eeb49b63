// The application object: prepares the process, settles the launcher's
// settings and runs the launcher window modally; the process ends when the
// window has closed.
#pragma once

#include <utility>
#include <vector>

#include "baselib/RQBLEd25519.h"

class CRQLauncherApp {
public:
    // vecTrustedKeys: whose signatures on the patch script are accepted
    // (none: unsigned scripts run).
    explicit CRQLauncherApp(std::vector<RQ_PUBLIC_KEY> vecTrustedKeys)
        : m_vecTrustedKeys(std::move(vecTrustedKeys)) {}
    CRQLauncherApp(const CRQLauncherApp&) = delete;
    CRQLauncherApp& operator=(const CRQLauncherApp&) = delete;

    // Runs the whole launcher; false, so that the process ends afterwards.
    bool InitInstance();
    // Ends OLE; returns the process's exit code.
    int ExitInstance();

private:
    const std::vector<RQ_PUBLIC_KEY> m_vecTrustedKeys;
    bool m_bOleStarted = false;
    int m_nExitCode = 0;
};
