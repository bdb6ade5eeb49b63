#include "baselib/RQBLMappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "baselib/RQBLPlatform.h"

namespace {

class CRQBLFd {
public:
    explicit CRQBLFd(int fd) : m_fd(fd) {}
    ~CRQBLFd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CRQBLFd(const CRQBLFd&) = delete;
    CRQBLFd& operator=(const CRQBLFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

class CRQBLMappedView {
public:
    CRQBLMappedView(void* pView, size_t nBytes)
        : m_pView(pView == MAP_FAILED ? nullptr : pView), m_nBytes(nBytes) {}
    ~CRQBLMappedView() {
        if (m_pView != nullptr) {
            ::munmap(m_pView, m_nBytes);
        }
    }
    CRQBLMappedView(const CRQBLMappedView&) = delete;
    CRQBLMappedView& operator=(const CRQBLMappedView&) = delete;
    const uint8_t* Get() const { return static_cast<const uint8_t*>(m_pView); }

private:
    void* m_pView;
    size_t m_nBytes;
};

}  // namespace

namespace rqbl {

// Unlike Windows, nothing stops another process from shrinking the file while
// a window is mapped (reading past the new end raises SIGBUS); this build only
// serves tests and tools.
MappedWalk WalkMappedFile(const wchar_t* pszPath, size_t nWindowBytes, MappedWindowFn pfnWindow,
                          void* pContext) {
    std::string strName;
    if (!WideToFileName(pszPath, strName)) {
        return MappedWalk::CANNOT_OPEN;
    }
    CRQBLFd file(::open(strName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return MappedWalk::CANNOT_OPEN;
    }
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0) {
        return MappedWalk::NO_CONTENT;
    }
    if (!S_ISREG(st.st_mode)) {
        return MappedWalk::CANNOT_OPEN;  // as on Windows, where a folder does not open as a file
    }
    const auto nSize = static_cast<uint64_t>(st.st_size);
    for (uint64_t nOffset = 0; nOffset < nSize;) {
        const auto nBytes = static_cast<size_t>(std::min<uint64_t>(nWindowBytes, nSize - nOffset));
        CRQBLMappedView view(
            ::mmap(nullptr, nBytes, PROT_READ, MAP_PRIVATE, file.Get(), static_cast<off_t>(nOffset)), nBytes);
        if (view.Get() == nullptr) {
            return MappedWalk::WINDOW_FAILED;
        }
        pfnWindow(pContext, view.Get(), nBytes);
        nOffset += nBytes;
    }
    return nSize == 0 ? MappedWalk::NO_CONTENT : MappedWalk::COMPLETE;
}

}  // namespace rqbl
