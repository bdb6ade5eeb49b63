// The screen capture that goes with a crash report.
#pragma once

#include <windows.h>

#include <string>

namespace rqcrash {

// Captures what the screen shows of the crashed program's largest visible
// window, or the whole screen when it shows none, into the report folder as
// screen.png (screen.bmp when no PNG can be written). The crashed program is
// only looked at, never sent a message: it may not answer any more. False
// when nothing could be captured.
bool CaptureCrashScreen(DWORD dwCrashedProcessId, const std::wstring& strFolder);

}  // namespace rqcrash
