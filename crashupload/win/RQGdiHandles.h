// One owner per GDI handle that the screen capture uses.
#pragma once

#include <windows.h>

#include "baselib/win/RQBLWinHandle.h"

// The screen's device context, from GetDC(nullptr).
struct RQScreenDcTraits {
    using handle_type = HDC;
    static HDC Empty() { return nullptr; }
    static bool IsValid(HDC h) { return h != nullptr; }
    static void Close(HDC h) { ::ReleaseDC(nullptr, h); }
};
using CRQScreenDc = CRQBLUniqueHandle<RQScreenDcTraits>;

// A memory device context, from CreateCompatibleDC.
struct RQMemoryDcTraits {
    using handle_type = HDC;
    static HDC Empty() { return nullptr; }
    static bool IsValid(HDC h) { return h != nullptr; }
    static void Close(HDC h) { ::DeleteDC(h); }
};
using CRQMemoryDc = CRQBLUniqueHandle<RQMemoryDcTraits>;

struct RQBitmapTraits {
    using handle_type = HBITMAP;
    static HBITMAP Empty() { return nullptr; }
    static bool IsValid(HBITMAP h) { return h != nullptr; }
    static void Close(HBITMAP h) { ::DeleteObject(h); }
};
using CRQBitmap = CRQBLUniqueHandle<RQBitmapTraits>;
