#include "launcher/win/RQCrashReporting.h"

#include "baselib/RQBLCrashReport.h"

void RQStartCrashReporting(const wchar_t* pszServerUrl) {
    InitCrashReporter(L"ver 0.9a", L"PXPatcher", pszServerUrl, 80);
    InitCrashLog(0, L"__PATCHER__", 0, L"__PATCHER__");
    InstallProcessCrashHandlers();
    InstallThreadCrashHandlers();
}
