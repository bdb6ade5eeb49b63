#include "baselib/RQBLCrashReport.h"

// No crash reporter here: the native build runs the platform-free code under
// the test runner and the sanitizers, which own the fatal signals.

void InitCrashReporter(std::wstring, std::wstring, std::wstring, uint16_t) {}
void InitCrashLog(int32_t, std::wstring, int32_t, std::wstring) {}
void InstallProcessCrashHandlers() {}
void InstallThreadCrashHandlers() {}

void SetCrashReportBuildTag(const std::wstring& strTag) {
    g_strBuildTag = strTag;
}

void AddCrashReportFile(const wchar_t*) {}
