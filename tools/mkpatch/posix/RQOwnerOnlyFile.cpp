#include "tools/mkpatch/RQOwnerOnlyFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

RQOwnerOnlyFile RQCreateOwnerOnlyFile(const std::filesystem::path& file, const std::string& strData) {
    // O_EXCL: never over an existing file, nor through a symbolic link.
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return errno == EEXIST ? RQOwnerOnlyFile::EXISTS : RQOwnerOnlyFile::FAILED;
    }
    size_t nDone = 0;
    while (nDone < strData.size()) {
        ssize_t n = write(fd, strData.data() + nDone, strData.size() - nDone);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        nDone += static_cast<size_t>(n);
    }
    const bool bOk = nDone == strData.size() && fsync(fd) == 0;
    if (close(fd) != 0 || !bOk) {
        unlink(file.c_str());
        return RQOwnerOnlyFile::FAILED;
    }
    return RQOwnerOnlyFile::CREATED;
}
