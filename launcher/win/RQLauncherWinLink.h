// The update worker's link to the launcher window on Windows.
#pragma once

#include "launcher/RQLauncherLink.h"

class CRQLauncherWinLink : public CRQLauncherLink {
public:
    void SendToMainWindow(uint32_t nMessage, uint64_t wParam, int64_t lParam) override;
    void ShowMessageBox(const std::wstring& strText) override;
    void WaitMs(uint32_t dwMilliseconds) override;
};
