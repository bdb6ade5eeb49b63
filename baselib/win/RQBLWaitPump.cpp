#include "baselib/win/RQBLWaitPump.h"

#include <windows.h>

void RQBLPumpSentMessages() {
    // Any PeekMessage first delivers the pending sent messages to their window
    // procedures. Restricting it to sent messages and not removing anything
    // keeps WM_QUIT, timers and posted messages for the real message loop.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}
