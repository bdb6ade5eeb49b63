// The launcher's crash reporting: the crash reporter's settings and log, and
// the fatal-error handlers, installed once at the very start of the process.
#pragma once

// strServerUrl: where reports go (the build's RQ_CRASH_SERVER).
void RQStartCrashReporting(const wchar_t* pszServerUrl);
