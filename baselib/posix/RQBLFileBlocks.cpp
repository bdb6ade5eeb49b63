#include "baselib/RQBLFileBlocks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "baselib/RQBLPlatform.h"

namespace rqbl {

namespace {

class CRQBLReadFd {
public:
    explicit CRQBLReadFd(int fd) : m_fd(fd) {}
    ~CRQBLReadFd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CRQBLReadFd(const CRQBLReadFd&) = delete;
    CRQBLReadFd& operator=(const CRQBLReadFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

BlockRead ReadFileBlocks(const std::wstring& strPath, uint8_t* pBuffer, size_t nBufferBytes,
                         const std::atomic<int64_t>* pStop, BlockFn pfnBlock, void* pContext) {
    return ReadFileRange(strPath, 0, UINT64_MAX, pBuffer, nBufferBytes, pStop, pfnBlock, pContext);
}

BlockRead ReadFileRange(const std::wstring& strPath, uint64_t ullOffset, uint64_t ullBytes, uint8_t* pBuffer,
                        size_t nBufferBytes, const std::atomic<int64_t>* pStop, BlockFn pfnBlock,
                        void* pContext) {
    std::string strNative;
    if (!WideToFileName(strPath, strNative)) {
        return BlockRead::CANNOT_OPEN;
    }
    CRQBLReadFd file(::open(strNative.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    // A folder opens for reading here, unlike on Windows.
    if (file.Get() < 0 || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return BlockRead::CANNOT_OPEN;
    }
    ::posix_fadvise(file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    if (ullOffset > 0 && ::lseek(file.Get(), static_cast<off_t>(ullOffset), SEEK_SET) < 0) {
        return BlockRead::FAILED;
    }
    for (uint64_t ullLeft = ullBytes; ullLeft > 0;) {
        if (pStop != nullptr && pStop->load(std::memory_order_relaxed) != 0) {
            return BlockRead::STOPPED;
        }
        const size_t nAsk = static_cast<size_t>(std::min<uint64_t>(nBufferBytes, ullLeft));
        ssize_t n = ::read(file.Get(), pBuffer, nAsk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return BlockRead::FAILED;
        }
        if (n == 0) {
            return BlockRead::COMPLETE;
        }
        ullLeft -= static_cast<uint64_t>(n);
        pfnBlock(pContext, pBuffer, static_cast<size_t>(n));
    }
    return BlockRead::COMPLETE;
}

}  // namespace rqbl
