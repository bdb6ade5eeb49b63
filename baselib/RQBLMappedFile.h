// Reads a whole file in order through memory-mapped windows, so a file larger
// than the address space free for one view can be read, with one view mapped
// at a time. Implemented in baselib/win and baselib/posix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace rqbl {

enum class MappedWalk {
    CANNOT_OPEN,    // missing, a folder, or held without read sharing
    NO_CONTENT,     // empty, or its size or mapping could not be had: nothing read
    WINDOW_FAILED,  // a window could not be mapped; the walk stopped there
    COMPLETE,
};

using MappedWindowFn = void (*)(void* pContext, const uint8_t* pData, size_t nBytes);

// Hands each window (at most nWindowBytes, a multiple of 64 KiB) to pfnWindow,
// from offset 0 to the end.
MappedWalk WalkMappedFile(const wchar_t* pszPath, size_t nWindowBytes, MappedWindowFn pfnWindow,
                          void* pContext);

template <typename F>
MappedWalk WalkMappedFile(const wchar_t* pszPath, size_t nWindowBytes, F& fnWindow) {
    return WalkMappedFile(
        pszPath, nWindowBytes,
        [](void* pContext, const uint8_t* pData, size_t nBytes) {
            (*static_cast<F*>(pContext))(pData, nBytes);
        },
        &fnWindow);
}

}  // namespace rqbl
