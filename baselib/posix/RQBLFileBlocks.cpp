#include "baselib/RQBLFileBlocks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
    for (;;) {
        if (pStop != nullptr && pStop->load(std::memory_order_relaxed) != 0) {
            return BlockRead::STOPPED;
        }
        ssize_t n = ::read(file.Get(), pBuffer, nBufferBytes);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return BlockRead::FAILED;
        }
        if (n == 0) {
            return BlockRead::COMPLETE;
        }
        pfnBlock(pContext, pBuffer, static_cast<size_t>(n));
    }
}

}  // namespace rqbl
