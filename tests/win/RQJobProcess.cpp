#include "RQJobProcess.h"

#include <tlhelp32.h>

namespace rqui {

bool CJobProcess::Start(const std::wstring& strProgram, const std::wstring& strCommandLine,
                        const std::wstring& strWorkDir) {
    m_hJob.Reset(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!m_hJob ||
        !SetInformationJobObject(m_hJob.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        return false;
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring strCmd = strCommandLine;
    if (!CreateProcessW(strProgram.c_str(), strCmd.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        strWorkDir.empty() ? nullptr : strWorkDir.c_str(), &si, &pi)) {
        return false;
    }
    CRQBLHandle hThread(pi.hThread);
    m_hProcess.Reset(pi.hProcess);
    m_dwProcessId = pi.dwProcessId;
    // In the job before it runs, so that whatever it starts is in it too.
    if (!AssignProcessToJobObject(m_hJob.Get(), m_hProcess.Get())) {
        TerminateProcess(m_hProcess.Get(), 99);
        return false;
    }
    ResumeThread(hThread.Get());
    return true;
}

long CJobProcess::Wait(DWORD dwTimeoutMs) {
    if (!m_hProcess || WaitForSingleObject(m_hProcess.Get(), dwTimeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD dwCode = 0;
    GetExitCodeProcess(m_hProcess.Get(), &dwCode);
    return static_cast<long>(dwCode);
}

void CJobProcess::KillAll() {
    if (m_hJob) {
        TerminateJobObject(m_hJob.Get(), 99);
    }
    if (m_hProcess) {
        WaitForSingleObject(m_hProcess.Get(), 5000);
    }
}

std::vector<DWORD> ChildProcessIds(DWORD dwParentId) {
    std::vector<DWORD> vecIds;
    CRQBLHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!hSnapshot || !Process32FirstW(hSnapshot.Get(), &entry)) {
        return vecIds;
    }
    do {
        if (entry.th32ParentProcessID == dwParentId) {
            vecIds.push_back(entry.th32ProcessID);
        }
    } while (Process32NextW(hSnapshot.Get(), &entry));
    return vecIds;
}

}  // namespace rqui
