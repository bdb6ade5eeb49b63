// Starting the game once the update is over.
#pragma once

#include <windows.h>

#include <string>

#include "baselib/win/RQBLWinHandle.h"

// The game's command line: the launcher's own, exactly as received but for
// its "_REPAIR" switch, then " _LC 1".
std::wstring RQBuildGameCommandLine(const wchar_t* pszLauncherCommandLine);

// Releases the "LAUNCHER" mutex, so that another launcher may start, and
// starts TOLVANE.EXE from the current folder (the program's folder): directly
// for an administrator, otherwise elevated through "runas". On failure shows
// the player the failure message, owned by hOwner, and returns false after the
// player closed it.
bool RQStartGame(HWND hOwner, CRQBLMutex& launcherMutex);
