#include "baselib/RQBLSealedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "baselib/RQBLPlatform.h"

namespace rqbl {

namespace {

constexpr size_t kBlockBytes = 1024 * 1024;

int64_t ChangeNs(const struct stat& st) {
    return static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

}  // namespace

CRQBLSealedFile::~CRQBLSealedFile() {
    Close();
}

FileError CRQBLSealedFile::Open(const std::wstring& strPath) {
    Close();
    std::string strNative;
    if (!WideToFileName(strPath, strNative)) {
        return FileError::OTHER;
    }
    int fd = ::open(strNative.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return errno == ELOOP ? FileError::LINK : (errno == ENOENT ? FileError::NOT_FOUND : FileError::OTHER);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? FileError::IS_DIRECTORY : FileError::OTHER;
    }
    m_nHandle = fd;
    m_strPath = strPath;
    m_ullDevice = static_cast<uint64_t>(st.st_dev);
    m_ullInode = static_cast<uint64_t>(st.st_ino);
    m_llChangeNs = ChangeNs(st);
    return FileError::NONE;
}

FileError CRQBLSealedFile::TakeOver(CRQBLOutFile& file, const std::wstring& strPath) {
    Close();
    // The writer's own writes moved the change time; from here on, another
    // one's would (the trap: without sharing modes nothing stopped one while
    // the file was written, which the Windows handle does).
    struct stat st {};
    if (file.m_nHandle == CRQBLOutFile::kNone || ::fstat(static_cast<int>(file.m_nHandle), &st) != 0) {
        return FileError::OTHER;
    }
    m_nHandle = file.m_nHandle;
    file.m_nHandle = CRQBLOutFile::kNone;
    m_strPath = strPath;
    m_ullDevice = static_cast<uint64_t>(st.st_dev);
    m_ullInode = static_cast<uint64_t>(st.st_ino);
    m_llChangeNs = ChangeNs(st);
    return FileError::NONE;
}

bool CRQBLSealedFile::ReadAll(const std::function<void(const uint8_t*, size_t)>& fnBlock,
                              const std::atomic<bool>* pStop) {
    auto pBuffer = std::make_unique<uint8_t[]>(kBlockBytes);
    off_t nOffset = 0;
    for (;;) {
        if (pStop != nullptr && pStop->load()) {
            return false;
        }
        ssize_t n = ::pread(static_cast<int>(m_nHandle), pBuffer.get(), kBlockBytes, nOffset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        fnBlock(pBuffer.get(), static_cast<size_t>(n));
        nOffset += n;
    }
}

FileError CRQBLSealedFile::RenameOver(const std::wstring& strTo) {
    std::string strFrom;
    std::string strNativeTo;
    if (!WideToFileName(m_strPath, strFrom) || !WideToFileName(strTo, strNativeTo)) {
        return FileError::OTHER;
    }
    // Nothing can keep other writers out here, but whatever wrote to the file
    // since it was opened moved its change time, and another file put under
    // its name has another inode: either way the checked bytes are not the
    // ones that would be renamed.
    struct stat held {};
    struct stat named {};
    if (::fstat(static_cast<int>(m_nHandle), &held) != 0 || ChangeNs(held) != m_llChangeNs ||
        ::lstat(strFrom.c_str(), &named) != 0 || static_cast<uint64_t>(named.st_ino) != m_ullInode ||
        static_cast<uint64_t>(named.st_dev) != m_ullDevice) {
        return FileError::OTHER;
    }
    struct stat target {};
    if (::lstat(strNativeTo.c_str(), &target) == 0) {
        if (S_ISLNK(target.st_mode)) {
            return FileError::LINK;
        }
        if (S_ISDIR(target.st_mode)) {
            return FileError::IS_DIRECTORY;
        }
    }
    if (std::rename(strFrom.c_str(), strNativeTo.c_str()) != 0) {
        return errno == EISDIR ? FileError::IS_DIRECTORY : FileError::OTHER;
    }
    m_strPath = strTo;
    return FileError::NONE;
}

void CRQBLSealedFile::Close() {
    if (m_nHandle != kNone) {
        ::close(static_cast<int>(m_nHandle));
        m_nHandle = kNone;
    }
}

}  // namespace rqbl
