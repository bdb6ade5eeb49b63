#include "baselib/RQBLFileBlocks.h"

#include <windows.h>

#include <algorithm>

#include "baselib/win/RQBLWinHandle.h"

namespace rqbl {

BlockRead ReadFileBlocks(const std::wstring& strPath, uint8_t* pBuffer, size_t nBufferBytes,
                         const std::atomic<int64_t>* pStop, BlockFn pfnBlock, void* pContext) {
    // Read sharing only: nobody can change the file while it is read here,
    // and a file that another program is writing is not taken half-written.
    CRQBLHandle file(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return BlockRead::CANNOT_OPEN;
    }
    const auto dwAsk = static_cast<DWORD>(std::min<size_t>(nBufferBytes, 0x40000000u));
    for (;;) {
        if (pStop != nullptr && pStop->load(std::memory_order_relaxed) != 0) {
            return BlockRead::STOPPED;
        }
        DWORD dwRead = 0;
        if (!::ReadFile(file.Get(), pBuffer, dwAsk, &dwRead, nullptr)) {
            return BlockRead::FAILED;
        }
        if (dwRead == 0) {
            return BlockRead::COMPLETE;
        }
        pfnBlock(pContext, pBuffer, dwRead);
    }
}

}  // namespace rqbl
