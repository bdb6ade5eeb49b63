#include "baselib/RQBLMappedFile.h"

#include <windows.h>

#include <algorithm>

#include "baselib/win/RQBLWinHandle.h"

namespace {

struct RQBLMappedViewTraits {
    using handle_type = const void*;
    static const void* Empty() { return nullptr; }
    static bool IsValid(const void* p) { return p != nullptr; }
    static void Close(const void* p) { ::UnmapViewOfFile(p); }
};
using CRQBLMappedView = CRQBLUniqueHandle<RQBLMappedViewTraits>;

}  // namespace

namespace rqbl {

MappedWalk WalkMappedFile(const wchar_t* pszPath, size_t nWindowBytes, MappedWindowFn pfnWindow,
                          void* pContext) {
    // Read sharing only: a file that another program holds open for writing
    // cannot be opened, and nobody can change it while it is mapped here.
    CRQBLHandle file(::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return MappedWalk::CANNOT_OPEN;
    }
    // A low part of 0xFFFFFFFF is a valid size unless an error is reported.
    ::SetLastError(NO_ERROR);
    DWORD dwHigh = 0;
    DWORD dwLow = ::GetFileSize(file.Get(), &dwHigh);
    if (dwLow == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) {
        return MappedWalk::NO_CONTENT;
    }
    const uint64_t nSize = (static_cast<uint64_t>(dwHigh) << 32) | dwLow;
    if (nSize == 0) {
        return MappedWalk::NO_CONTENT;  // an empty file cannot be mapped at all
    }
    CRQBLHandle mapping(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) {
        return MappedWalk::NO_CONTENT;
    }
    for (uint64_t nOffset = 0; nOffset < nSize;) {
        const auto nBytes = static_cast<size_t>(std::min<uint64_t>(nWindowBytes, nSize - nOffset));
        CRQBLMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, static_cast<DWORD>(nOffset >> 32),
                                             static_cast<DWORD>(nOffset & 0xFFFFFFFFu), nBytes));
        if (view.Get() == nullptr) {
            return MappedWalk::WINDOW_FAILED;
        }
        pfnWindow(pContext, static_cast<const uint8_t*>(view.Get()), nBytes);
        nOffset += nBytes;
    }
    return MappedWalk::COMPLETE;
}

}  // namespace rqbl
