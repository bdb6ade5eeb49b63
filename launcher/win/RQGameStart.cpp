#include "launcher/win/RQGameStart.h"

#include <shellapi.h>
#include <shlobj.h>

#include "baselib/RQBLPlatform.h"
#include "launcher/startup/RQCommandLine.h"
#include "launcher/win/RQAppMessageBox.h"

namespace {

constexpr const wchar_t* kGameStartFailed = L"ゲームを実行できませんでした。再度お試しください。";

// Paths and command lines are built without fixed buffers; one that the
// system cannot take (a folder deeper than the path limit, a command line
// over 32767 characters) makes the start fail, and the player is told.
bool StartDirectly(const std::wstring& strApp, std::wstring strCommandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(strApp.c_str(), strCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        return false;
    }
    CRQBLHandle process(pi.hProcess);
    CRQBLHandle thread(pi.hThread);
    return true;
}

bool StartElevated(const std::wstring& strApp, const std::wstring& strCommandLine) {
    HINSTANCE hResult =
        ShellExecuteW(nullptr, L"runas", strApp.c_str(), strCommandLine.c_str(), nullptr, SW_SHOW);
    return reinterpret_cast<INT_PTR>(hResult) > 32;
}

}  // namespace

std::wstring RQBuildGameCommandLine(const wchar_t* pszLauncherCommandLine) {
    // A repair is the launcher's business: the game never sees the switch.
    return RQRemoveRepairSwitch(pszLauncherCommandLine != nullptr ? pszLauncherCommandLine : L"") + L" _LC 1";
}

bool RQStartGame(HWND hOwner, CRQBLMutex& launcherMutex) {
    launcherMutex.Close();

    std::wstring strApp = rqbl::GetCurrentDir() + L"\\TOLVANE.EXE";
    std::wstring strCommandLine = RQBuildGameCommandLine(GetCommandLineW());
    bool bStarted =
        IsUserAnAdmin() ? StartDirectly(strApp, strCommandLine) : StartElevated(strApp, strCommandLine);
    if (!bStarted) {
        RQAppMessageBox(hOwner, kGameStartFailed);
    }
    return bStarted;
}
