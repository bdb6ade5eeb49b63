#include "baselib/RQBLFileOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "baselib/RQBLPlatform.h"

namespace rqbl {

namespace {

FileError FromErrno(int nError) {
    switch (nError) {
        case 0:
            return FileError::NONE;
        case ENOENT:
        case ENOTDIR:
            return FileError::NOT_FOUND;
        case EBUSY:
        case ETXTBSY:
            return FileError::IN_USE;
        case EISDIR:
            return FileError::IS_DIRECTORY;
        case EACCES:
        case EPERM:
        case EROFS:
            return FileError::ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
            return FileError::DISK_FULL;
        case ELOOP:  // O_NOFOLLOW met a symbolic link
            return FileError::LINK;
        default:
            return FileError::OTHER;
    }
}

bool NativePath(const std::wstring& strPath, std::string& strOut) {
    return WideToFileName(strPath, strOut);
}

}  // namespace

CRQBLOutFile::~CRQBLOutFile() {
    Close();
}

FileError CRQBLOutFile::Open(const std::wstring& strPath, bool bTruncate, bool bToSeal) {
    Close();
    std::string strNative;
    if (!NativePath(strPath, strNative)) {
        return FileError::OTHER;
    }
    int fd = ::open(
        strNative.c_str(),
        (bToSeal ? O_RDWR : O_WRONLY) | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (bTruncate ? O_TRUNC : O_APPEND),
        0644);
    if (fd < 0) {
        return FromErrno(errno);
    }
    m_nHandle = fd;
    return FileError::NONE;
}

FileError CRQBLOutFile::Write(const void* pData, size_t nBytes) {
    const auto* p = static_cast<const uint8_t*>(pData);
    while (nBytes > 0) {
        ssize_t n = ::write(static_cast<int>(m_nHandle), p, nBytes);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0 ? FileError::OTHER : FromErrno(errno);
        }
        p += n;
        nBytes -= static_cast<size_t>(n);
    }
    return FileError::NONE;
}

FileError CRQBLOutFile::KeepFirst(uint64_t ullBytes,
                                  const std::function<void(const uint8_t*, size_t)>& fnBlock,
                                  const std::atomic<bool>* pStop) {
    constexpr size_t kBlockBytes = 1024 * 1024;
    const int fd = static_cast<int>(m_nHandle);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return FromErrno(errno);
    }
    if (static_cast<uint64_t>(st.st_size) < ullBytes) {
        return FileError::SHORT;
    }
    if (::ftruncate(fd, static_cast<off_t>(ullBytes)) != 0) {
        return FromErrno(errno);
    }
    auto pBuffer = std::make_unique<uint8_t[]>(kBlockBytes);
    for (uint64_t ullAt = 0; ullAt < ullBytes;) {
        if (pStop != nullptr && pStop->load()) {
            return FileError::OTHER;
        }
        const size_t nWant =
            ullBytes - ullAt < kBlockBytes ? static_cast<size_t>(ullBytes - ullAt) : kBlockBytes;
        const ssize_t n = ::pread(fd, pBuffer.get(), nWant, static_cast<off_t>(ullAt));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0 ? FileError::OTHER : FromErrno(errno);
        }
        fnBlock(pBuffer.get(), static_cast<size_t>(n));
        ullAt += static_cast<uint64_t>(n);
    }
    // Opened to append: writing goes on at the (new) end.
    return FileError::NONE;
}

FileError CRQBLOutFile::Close() {
    if (m_nHandle == kNone) {
        return FileError::NONE;
    }
    int nResult = ::close(static_cast<int>(m_nHandle));
    m_nHandle = kNone;
    return nResult == 0 ? FileError::NONE : FromErrno(errno);
}

FileError ReplaceAtomically(const std::wstring& strFrom, const std::wstring& strTo) {
    std::string strNativeFrom;
    std::string strNativeTo;
    if (!NativePath(strFrom, strNativeFrom) || !NativePath(strTo, strNativeTo)) {
        return FileError::OTHER;
    }
    // rename() replaces a file atomically; onto a folder it fails.
    return std::rename(strNativeFrom.c_str(), strNativeTo.c_str()) == 0 ? FileError::NONE : FromErrno(errno);
}

FileError RenameFile(const std::wstring& strFrom, const std::wstring& strTo) {
    std::string strNativeFrom;
    std::string strNativeTo;
    if (!NativePath(strFrom, strNativeFrom) || !NativePath(strTo, strNativeTo)) {
        return FileError::OTHER;
    }
    // Refuses to replace, like its Windows counterpart.
    struct stat st {};
    if (::lstat(strNativeTo.c_str(), &st) == 0) {
        return FileError::ACCESS_DENIED;
    }
    return std::rename(strNativeFrom.c_str(), strNativeTo.c_str()) == 0 ? FileError::NONE : FromErrno(errno);
}

FileError RemoveFile(const std::wstring& strPath) {
    std::string strNative;
    if (!NativePath(strPath, strNative)) {
        return FileError::OTHER;
    }
    return ::unlink(strNative.c_str()) == 0 ? FileError::NONE : FromErrno(errno);
}

FileError CheckNoLinkOnPath(const std::wstring& strPath) {
    std::string strNative;
    if (!NativePath(strPath, strNative)) {
        return FileError::OTHER;
    }
    for (size_t nEnd = strNative.find('/', 1);; nEnd = strNative.find('/', nEnd + 1)) {
        struct stat st {};
        const std::string strPart = strNative.substr(0, nEnd);
        if (::lstat(strPart.c_str(), &st) != 0) {
            return FileError::NONE;  // not there yet: nor is anything below it
        }
        if (S_ISLNK(st.st_mode)) {
            return FileError::LINK;
        }
        if (nEnd == std::string::npos) {
            return FileError::NONE;
        }
    }
}

bool GetRegularFileSize(const std::wstring& strPath, uint64_t& ullSize) {
    std::string strNative;
    struct stat st {};
    if (!NativePath(strPath, strNative) || ::stat(strNative.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    ullSize = static_cast<uint64_t>(st.st_size);
    return true;
}

bool GetFreeDiskBytes(const std::wstring& strPath, uint64_t& ullFree) {
    std::string strNative;
    struct statvfs sv {};
    if (!NativePath(strPath, strNative) || ::statvfs(strNative.c_str(), &sv) != 0) {
        return false;
    }
    ullFree = static_cast<uint64_t>(sv.f_bfree) * sv.f_frsize;
    return true;
}

std::wstring GetVolumeName(const std::wstring& /*strPath*/) {
    return std::wstring();  // a Linux file system has no name players would know it by
}

}  // namespace rqbl
