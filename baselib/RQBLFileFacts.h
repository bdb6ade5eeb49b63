// What the system says about a file without reading it: enough to tell, on a
// later run, whether it can still be the same file with the same content.
// Implemented in baselib/win and baselib/posix.
#pragma once

#include <cstdint>
#include <string>

struct RQBL_FILE_FACTS {
    uint64_t ullSize = 0;
    // In the system's own units (100 ns on Windows, 1 ns elsewhere): only
    // ever compared with a value read the same way.
    int64_t llWriteTime = 0;
    // The file's identity: the volume's serial and the file's index on it
    // (st_dev and st_ino natively). A file put in place of another, even with
    // the old time stamps copied, gets a new index.
    bool bHasIdentity = false;
    uint64_t ullVolume = 0;
    uint64_t ullFileIndex = 0;
    // Where the file system gives no index, the creation time stands in for it.
    int64_t llCreateTime = 0;

    bool operator==(const RQBL_FILE_FACTS& o) const {
        if (ullSize != o.ullSize || llWriteTime != o.llWriteTime || bHasIdentity != o.bHasIdentity) {
            return false;
        }
        return bHasIdentity ? ullVolume == o.ullVolume && ullFileIndex == o.ullFileIndex
                            : llCreateTime == o.llCreateTime;
    }
    bool operator!=(const RQBL_FILE_FACTS& o) const { return !(*this == o); }
};

namespace rqbl {

// False when there is no regular file at strPath. Needs no right to read the
// file's content, so a file that another program holds open is still seen.
bool GetFileFacts(const std::wstring& strPath, RQBL_FILE_FACTS& facts);

}  // namespace rqbl
