// A child process started inside a job object, so that it and everything it
// starts end together when the test ends, or when the test is killed (the
// job ends its processes when its last handle closes).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "baselib/win/RQBLWinHandle.h"

namespace rqui {

class CJobProcess {
public:
    CJobProcess() = default;
    ~CJobProcess() { KillAll(); }
    CJobProcess(const CJobProcess&) = delete;
    CJobProcess& operator=(const CJobProcess&) = delete;

    // strCommandLine is passed as is (quote the program path yourself).
    bool Start(const std::wstring& strProgram, const std::wstring& strCommandLine,
               const std::wstring& strWorkDir);
    DWORD Id() const { return m_dwProcessId; }
    // Exit code, or -1 when the process has not ended within dwTimeoutMs.
    long Wait(DWORD dwTimeoutMs);
    // Ends the process and every process it started.
    void KillAll();

private:
    CRQBLHandle m_hJob;
    CRQBLHandle m_hProcess;
    DWORD m_dwProcessId = 0;
};

// The processes whose parent is dwParentId.
std::vector<DWORD> ChildProcessIds(DWORD dwParentId);

}  // namespace rqui
