// The Windows handle kinds, each with its one owner type.
#pragma once

#include <windows.h>

#include "baselib/RQBLUniqueHandle.h"

struct RQBLKernelHandleTraits {
    using handle_type = HANDLE;
    static HANDLE Empty() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
using CRQBLHandle = CRQBLUniqueHandle<RQBLKernelHandleTraits>;

// A search started by FindFirstFileW.
struct RQBLFindHandleTraits {
    using handle_type = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::FindClose(h); }
};
using CRQBLFindHandle = CRQBLUniqueHandle<RQBLFindHandleTraits>;

// Memory that the system allocated for the caller (CommandLineToArgvW, ...).
template <typename T>
struct RQBLLocalMemoryTraits {
    using handle_type = T;
    static T Empty() { return nullptr; }
    static bool IsValid(T p) { return p != nullptr; }
    static void Close(T p) { ::LocalFree(reinterpret_cast<HLOCAL>(p)); }
};
using CRQBLArgv = CRQBLUniqueHandle<RQBLLocalMemoryTraits<LPWSTR*>>;
using CRQBLLocalString = CRQBLUniqueHandle<RQBLLocalMemoryTraits<LPWSTR>>;
using CRQBLSecurityDescriptor = CRQBLUniqueHandle<RQBLLocalMemoryTraits<PSECURITY_DESCRIPTOR>>;

struct RQBLIconTraits {
    using handle_type = HICON;
    static HICON Empty() { return nullptr; }
    static bool IsValid(HICON h) { return h != nullptr; }
    static void Close(HICON h) { ::DestroyIcon(h); }
};
using CRQBLIcon = CRQBLUniqueHandle<RQBLIconTraits>;

// Bitmaps, fonts, brushes: every GDI object is deleted the same way.
template <typename T>
struct RQBLGdiObjectTraits {
    using handle_type = T;
    static T Empty() { return nullptr; }
    static bool IsValid(T h) { return h != nullptr; }
    static void Close(T h) { ::DeleteObject(h); }
};
using CRQBLBitmap = CRQBLUniqueHandle<RQBLGdiObjectTraits<HBITMAP>>;
using CRQBLFont = CRQBLUniqueHandle<RQBLGdiObjectTraits<HFONT>>;

// A window's device context (GetDC; GetDC(nullptr) is the screen's).
struct RQBLScreenDcTraits {
    using handle_type = HDC;
    static HDC Empty() { return nullptr; }
    static bool IsValid(HDC h) { return h != nullptr; }
    static void Close(HDC h) { ::ReleaseDC(nullptr, h); }
};
using CRQBLScreenDc = CRQBLUniqueHandle<RQBLScreenDcTraits>;

// A memory device context (CreateCompatibleDC).
struct RQBLMemoryDcTraits {
    using handle_type = HDC;
    static HDC Empty() { return nullptr; }
    static bool IsValid(HDC h) { return h != nullptr; }
    static void Close(HDC h) { ::DeleteDC(h); }
};
using CRQBLMemoryDc = CRQBLUniqueHandle<RQBLMemoryDcTraits>;

// A COM interface pointer: released once.
template <typename T>
struct RQBLComTraits {
    using handle_type = T*;
    static T* Empty() { return nullptr; }
    static bool IsValid(T* p) { return p != nullptr; }
    static void Close(T* p) { p->Release(); }
};
template <typename T>
using CRQBLComPtr = CRQBLUniqueHandle<RQBLComTraits<T>>;

// A named mutex that this process may own: released before it is closed.
class CRQBLMutex {
public:
    CRQBLMutex() = default;
    ~CRQBLMutex() { Close(); }
    CRQBLMutex(const CRQBLMutex&) = delete;
    CRQBLMutex& operator=(const CRQBLMutex&) = delete;

    // Creates (owned initially) or opens the named mutex. False when it could
    // not be created or already existed.
    bool CreateOwned(const wchar_t* pszName) {
        Close();
        HANDLE h = ::CreateMutexW(nullptr, TRUE, pszName);
        DWORD dwError = ::GetLastError();
        m_h.Reset(h);
        m_bOwned = h != nullptr && dwError != ERROR_ALREADY_EXISTS;
        return m_bOwned;
    }
    void Close() {
        if (m_h && m_bOwned) {
            ::ReleaseMutex(m_h.Get());
        }
        m_bOwned = false;
        m_h.Close();
    }
    HANDLE Get() const { return m_h.Get(); }

private:
    CRQBLHandle m_h;
    bool m_bOwned = false;
};
