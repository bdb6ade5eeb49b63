// The log files reach the crash reporter only through this call, so that the
// platform-free log code does not depend on the crash-reporting library.
#pragma once

#include <string>
#include <vector>

// Adds a file to every later crash report.
void RQBLAddCrashLogFile(const wchar_t* pszPath);

// The files registered so far, in order (for tests and the report writer).
std::vector<std::wstring> RQBLCrashLogFiles();
