// The dialog that asks the player whether a crash report may go to support,
// sends it when they agree, and says how that went (with the report id the
// support server gave).
#pragma once

#include <windows.h>

#include <string>

#include "baselib/RQBLCrashReportInfo.h"

// Send is IDOK; Don't send (later Close) is IDCANCEL.
enum : WORD {
    IDC_CRASH_OPEN_FOLDER = 3001,
    IDC_CRASH_STATUS = 3002,
};

// Shows the dialog for the report in strFolder and returns when it closed.
// The report is sent only after the player pressed Send, which is recorded in
// the folder first. Closing the dialog while the report is on its way stops
// the upload; the report is then sent at a later start.
void RunCrashConsentDialog(const std::wstring& strFolder, const CRQCrashReportInfo& info);
