// The program entry's part in crash reporting. A crashed process only writes
// its report folder, then starts its own program again with the switch
// "_CRASH_REPORT <report folder> <crashed process id>" and waits for it: the
// fresh process, with a sound heap, takes the screen capture, asks the player
// and sends the report.
#pragma once

// Call first thing in the program's entry. With the switch on the command
// line, runs the capture, the consent dialog and the upload, and returns true
// with the exit code to end with. Otherwise makes this program the one that
// the crash reporter starts after a crash, and returns false.
bool RQCrashReportEntry(const wchar_t* pszCommandLine, int& nExitCode);
