#include "launcher/win/RQLauncherApp.h"

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include "RQBuildConfig.h"
#include "baselib/RQBLCrashReport.h"
#include "baselib/RQBLMain.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/log/RQBLLog.h"
#include "baselib/win/RQBLModulePath.h"
#include "launcher/RQLauncherSettings.h"
#include "launcher/win/RQAppMessageBox.h"
#include "launcher/win/RQLauncherDlg.h"
#include "launcher/win/RQLauncherInputs.h"

namespace {

void RegisterCommonControls() {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);  // 8 bytes
    icc.dwICC = 0xFF;          // every classic control class, the progress bar among them
    InitCommonControlsEx(&icc);
}

void StartCrashReporting() {
    InitCrashReporter(L"ver 0.9a", L"PXPatcher", RQ_CRASH_SERVER, 80);
    InitCrashLog(0, L"__PATCHER__", 0, L"__PATCHER__");
    InstallProcessCrashHandlers();
    InstallThreadCrashHandlers();
}

// Every later relative path (the address file, the logs, the downloads, the
// game) rests on the program's folder; going on from any other folder would
// write the downloads somewhere else, so a failure here ends the launcher.
bool EnterProgramFolder() {
    std::wstring strFolder = RQBLModuleFolder();
    return !strFolder.empty() && rqbl::SetCurrentDir(strFolder);
}

}  // namespace

bool CRQLauncherApp::InitInstance() {
    RegisterCommonControls();
    if (FAILED(OleInitialize(nullptr))) {
        // The resources carry no text for this failure, so the box is empty.
        RQAppMessageBox(nullptr, L"");
        return false;
    }
    m_bOleStarted = true;

    StartCrashReporting();
    if (!EnterProgramFolder()) {
        MessageBoxW(nullptr,
                    L"ランチャーのフォルダを開けませんでした。フォルダのパスが長すぎないか確認してください。",
                    L"確認", MB_OK);
        return false;
    }
    CRQBLMain::CreateInstance(false);
    CRQBLLog::GetInstance().Start(L"Log", L"LAUNCHER_", 0);
    const RQ_LAUNCHER_SETTINGS settings = RQResolveLauncherSettings(RQGatherLauncherInputs(RQ_DEFAULT_CDN));

    CRQLauncherDlg dlg(settings);
    dlg.DoModal();

    // A refusal at start-up ends the modal loop through the quit message; its
    // code is the process's exit code.
    MSG msg;
    if (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        m_nExitCode = static_cast<int>(msg.wParam);
    }
    return false;
}

int CRQLauncherApp::ExitInstance() {
    if (m_bOleStarted) {
        OleUninitialize();
        m_bOleStarted = false;
    }
    return m_nExitCode;
}
