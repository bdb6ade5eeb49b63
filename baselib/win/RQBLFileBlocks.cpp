#include "baselib/RQBLFileBlocks.h"

#include <windows.h>

#include <algorithm>

#include "baselib/win/RQBLWinHandle.h"

namespace rqbl {

BlockRead ReadFileBlocks(const std::wstring& strPath, uint8_t* pBuffer, size_t nBufferBytes,
                         const std::atomic<int64_t>* pStop, BlockFn pfnBlock, void* pContext) {
    return ReadFileRange(strPath, 0, UINT64_MAX, pBuffer, nBufferBytes, pStop, pfnBlock, pContext);
}

BlockRead ReadFileRange(const std::wstring& strPath, uint64_t ullOffset, uint64_t ullBytes, uint8_t* pBuffer,
                        size_t nBufferBytes, const std::atomic<int64_t>* pStop, BlockFn pfnBlock,
                        void* pContext) {
    // Read sharing only: nobody can change the file while it is read here,
    // and a file that another program is writing is not taken half-written.
    CRQBLHandle file(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return BlockRead::CANNOT_OPEN;
    }
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(ullOffset);
    if (ullOffset > 0 && !::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN)) {
        return BlockRead::FAILED;
    }
    const size_t nBlock = std::min<size_t>(nBufferBytes, 0x40000000u);
    for (uint64_t ullLeft = ullBytes; ullLeft > 0;) {
        if (pStop != nullptr && pStop->load(std::memory_order_relaxed) != 0) {
            return BlockRead::STOPPED;
        }
        const auto dwAsk = static_cast<DWORD>(std::min<uint64_t>(nBlock, ullLeft));
        DWORD dwRead = 0;
        if (!::ReadFile(file.Get(), pBuffer, dwAsk, &dwRead, nullptr)) {
            return BlockRead::FAILED;
        }
        if (dwRead == 0) {
            return BlockRead::COMPLETE;
        }
        ullLeft -= dwRead;
        pfnBlock(pContext, pBuffer, dwRead);
    }
    return BlockRead::COMPLETE;
}

}  // namespace rqbl
