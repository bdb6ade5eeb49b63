// The application object: prepares the process, settles the launcher's
// settings and runs the launcher window modally; the process ends when the
// window has closed.
#pragma once

class CRQLauncherApp {
public:
    CRQLauncherApp() = default;
    CRQLauncherApp(const CRQLauncherApp&) = delete;
    CRQLauncherApp& operator=(const CRQLauncherApp&) = delete;

    // Runs the whole launcher; false, so that the process ends afterwards.
    bool InitInstance();
    // Ends OLE; returns the process's exit code.
    int ExitInstance();

private:
    bool m_bOleStarted = false;
    int m_nExitCode = 0;
};
