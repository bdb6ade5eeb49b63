// The named mutex "LAUNCHER", held from start-up until the game is started.
#pragma once

#include "baselib/win/RQBLWinHandle.h"

extern CRQBLMutex g_hLauncherMutex;
