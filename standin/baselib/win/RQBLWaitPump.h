// TEMPORARY stand-in (see standin/README).
#pragma once

#include <windows.h>

inline void RQBLPumpSentMessages() {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}
