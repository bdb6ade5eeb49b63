#include "baselib/RQBLCrashReport.h"

void InitCrashReporter(std::wstring, std::wstring, std::wstring, uint16_t) {}
void InitCrashLog(int32_t, std::wstring, int32_t, std::wstring) {}
void InstallProcessCrashHandlers() {}
void InstallThreadCrashHandlers() {}
