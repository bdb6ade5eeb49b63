#include "launcher/win/RQLauncherApp.h"

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include "RQBuildConfig.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/win/RQBLModulePath.h"
#include "launcher/startup/RQLauncherSettings.h"
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

    if (!EnterProgramFolder()) {
        MessageBoxW(nullptr,
                    L"ランチャーのフォルダを開けませんでした。フォルダのパスが長すぎないか確認してください。",
                    L"確認", MB_OK);
        return false;
    }
    m_log.Start(L"Log", L"LAUNCHER_", 0);
    RQ_LAUNCHER_INPUTS inputs = RQGatherLauncherInputs(RQ_DEFAULT_CDN);
    inputs.vecTrustedKeys = m_vecTrustedKeys;
    const RQ_LAUNCHER_SETTINGS settings = RQResolveLauncherSettings(inputs, m_log);

    CRQLauncherDlg dlg(settings, m_log);
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
