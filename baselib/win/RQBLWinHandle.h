// One owner per Windows handle: small move-only wrappers that close what they
// hold exactly once. Closing an empty wrapper does nothing.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class CRQBLUniqueHandle {
public:
    using handle_type = typename Traits::handle_type;

    CRQBLUniqueHandle() = default;
    explicit CRQBLUniqueHandle(handle_type h) : m_h(Traits::IsValid(h) ? h : Traits::Empty()) {}
    ~CRQBLUniqueHandle() { Close(); }
    CRQBLUniqueHandle(const CRQBLUniqueHandle&) = delete;
    CRQBLUniqueHandle& operator=(const CRQBLUniqueHandle&) = delete;
    CRQBLUniqueHandle(CRQBLUniqueHandle&& other) noexcept : m_h(other.Release()) {}
    CRQBLUniqueHandle& operator=(CRQBLUniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    handle_type Get() const { return m_h; }
    explicit operator bool() const { return Traits::IsValid(m_h); }
    handle_type Release() { return std::exchange(m_h, Traits::Empty()); }
    void Reset(handle_type h = Traits::Empty()) {
        Close();
        m_h = Traits::IsValid(h) ? h : Traits::Empty();
    }
    void Close() {
        if (Traits::IsValid(m_h)) {
            Traits::Close(m_h);
        }
        m_h = Traits::Empty();
    }

private:
    handle_type m_h = Traits::Empty();
};

struct RQBLKernelHandleTraits {
    using handle_type = HANDLE;
    static HANDLE Empty() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
using CRQBLHandle = CRQBLUniqueHandle<RQBLKernelHandleTraits>;

// Memory the system allocated for the caller with LocalAlloc (security
// descriptors, argument arrays).
struct RQBLLocalMemoryTraits {
    using handle_type = HLOCAL;
    static HLOCAL Empty() { return nullptr; }
    static bool IsValid(HLOCAL h) { return h != nullptr; }
    static void Close(HLOCAL h) { ::LocalFree(h); }
};
using CRQBLLocalMemory = CRQBLUniqueHandle<RQBLLocalMemoryTraits>;

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
