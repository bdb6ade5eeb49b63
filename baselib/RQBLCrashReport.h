// Crash reporting: set-up of the crash reporter and its log, and the fatal
// error handlers that send a snapshot, name themselves to the player and end
// the process with exit code 1. Windows only; the POSIX build keeps the calls
// (they do nothing there: the test runner and sanitizers own fatal signals).
#pragma once

#include <cstdint>
#include <string>

// The build tag: "Not Initialized" until the runtime object sets it.
extern std::wstring g_strBuildTag;

void InitCrashReporter(std::wstring strVersion, std::wstring strAppName, std::wstring strServerUrl,
                       uint16_t nPort);
void InitCrashLog(int32_t nValue1, std::wstring strText1, int32_t nValue2, std::wstring strText2);
void InstallProcessCrashHandlers();
void InstallThreadCrashHandlers();

// Sets g_strBuildTag and hands the tag to the crash reporter, whose reports
// name it.
void SetCrashReportBuildTag(const std::wstring& strTag);

// Adds a file to every later crash report.
void AddCrashReportFile(const wchar_t* pszPath);

// The crash log's first entry: "<n1>,<text1>,<n2>,<text2>,<build tag>".
std::wstring BuildCrashLogEntry(int32_t nValue1, const std::wstring& strText1, int32_t nValue2,
                                const std::wstring& strText2, const std::wstring& strBuildTag);
