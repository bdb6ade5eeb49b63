// Drives real windows of another process from a test: start a program, find
// its windows and message boxes, read their text and press their buttons.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "baselib/win/RQBLWinHandle.h"

namespace rqui {

// A started child process in a job of its own: whatever it starts belongs to
// the job too, and the job ends them all when it is closed, also when the test
// process itself is killed. Destruction ends the process if it still runs and
// waits until it is gone, so that the next test finds no launcher of this one
// (nor its named mutexes).
class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // strCommandLine is passed as is (quote the program path yourself).
    bool Start(const std::wstring& strProgram, const std::wstring& strCommandLine,
               const std::wstring& strWorkDir);
    // Exit code, or -1 when the process has not ended within dwTimeoutMs.
    long Wait(DWORD dwTimeoutMs);
    bool IsRunning() const;
    // Ends the process and everything it started; true once they are gone.
    bool Kill();
    DWORD Id() const { return m_dwProcessId; }

private:
    bool WaitUntilJobEmpty(DWORD dwTimeoutMs) const;

    CRQBLHandle m_hJob;
    CRQBLHandle m_hProcess;
    DWORD m_dwProcessId = 0;
};

struct CMessageBoxInfo {
    HWND hWnd = nullptr;
    std::wstring strCaption;
    std::wstring strText;
};

// Top-level visible windows of a process.
std::vector<HWND> ProcessWindows(DWORD dwProcessId);
// Waits for a visible top-level window of the process whose caption is strTitle.
HWND WaitForWindow(DWORD dwProcessId, const std::wstring& strTitle, DWORD dwTimeoutMs);
// Waits for a message box of the process (a dialog with a text label and buttons).
bool WaitForMessageBox(DWORD dwProcessId, DWORD dwTimeoutMs, CMessageBoxInfo& info);
// Presses a message box's button (IDOK by default).
bool PressButton(HWND hBox, int nId = IDOK);

std::wstring WindowText(HWND hWnd);

// The folder of the running test program (the build's bin folder).
std::wstring ProgramFolder();
// A new empty folder under the temporary folder; removed by the caller.
std::wstring MakeTempFolder(const wchar_t* pszTag);
bool RemoveFolderTree(const std::wstring& strFolder);
bool CopyInto(const std::wstring& strFile, const std::wstring& strFolder);
bool WriteTextFile(const std::wstring& strPath, const std::string& strText);

}  // namespace rqui
