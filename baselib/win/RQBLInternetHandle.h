// One owner per WinINet handle (session or request), closed exactly once.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "baselib/win/RQBLWinHandle.h"

struct RQBLInternetHandleTraits {
    using handle_type = HINTERNET;
    static HINTERNET Empty() { return nullptr; }
    static bool IsValid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h) { ::InternetCloseHandle(h); }
};
using CRQBLInternetHandle = CRQBLUniqueHandle<RQBLInternetHandleTraits>;
