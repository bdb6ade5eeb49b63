// Crash reporting: set-up of the crash reporter and its log, and the fatal
// error handlers that send a snapshot, name themselves to the player and end
// the process with exit code 1.
#pragma once

#include <cstdint>
#include <string>

void InitCrashReporter(std::wstring strVersion, std::wstring strAppName, std::wstring strServerUrl,
                       uint16_t nPort);
void InitCrashLog(int32_t nValue1, std::wstring strText1, int32_t nValue2, std::wstring strText2);
void InstallProcessCrashHandlers();
void InstallThreadCrashHandlers();
