// What the system says about a file without reading it: enough to tell, on a
// later run, whether it can still be the same file with the same content.
#pragma once

#include <cstdint>
#include <memory>
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

// Reads the facts of the files of the game folder (the working folder).
// Asking the system file by file is slow on Windows, where the volume's
// serial alone costs a round trip to a system service: the Windows reader
// lists each folder once, with the index of every file in it, and asks for
// the serial of the game folder's volume once. Implemented in baselib/win
// and baselib/posix. Safe to use from several threads at once.
class CRQBLFileFactsReader {
public:
    CRQBLFileFactsReader();
    ~CRQBLFileFactsReader();
    CRQBLFileFactsReader(const CRQBLFileFactsReader&) = delete;
    CRQBLFileFactsReader& operator=(const CRQBLFileFactsReader&) = delete;

    // False when there is no regular file at strPath (relative to the game
    // folder). Needs no right to read the content, so a file that another
    // program holds open is still seen. A folder's listing is taken at its
    // first use and kept: a file written later shows its new facts only
    // after Forget().
    bool Get(const std::wstring& strPath, RQBL_FILE_FACTS& facts);
    void Forget();

private:
    struct CState;
    std::unique_ptr<CState> m_pState;
};
