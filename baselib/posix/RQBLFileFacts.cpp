#include "baselib/RQBLFileFacts.h"

#include <sys/stat.h>

#include "baselib/RQBLPlatform.h"

// A stat() is cheap here: nothing is kept.
struct CRQBLFileFactsReader::CState {};

CRQBLFileFactsReader::CRQBLFileFactsReader() = default;
CRQBLFileFactsReader::~CRQBLFileFactsReader() = default;

void CRQBLFileFactsReader::Forget() {}

bool CRQBLFileFactsReader::Get(const std::wstring& strPath, RQBL_FILE_FACTS& facts) {
    std::string strNative;
    struct stat st {};
    if (!rqbl::WideToFileName(strPath, strNative) || ::stat(strNative.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return false;
    }
    constexpr int64_t kNsPerSecond = 1000000000;
    facts = RQBL_FILE_FACTS();
    facts.ullSize = static_cast<uint64_t>(st.st_size);
    facts.llWriteTime = static_cast<int64_t>(st.st_mtim.tv_sec) * kNsPerSecond + st.st_mtim.tv_nsec;
    // Every POSIX file system gives an inode number.
    facts.bHasIdentity = true;
    facts.ullVolume = static_cast<uint64_t>(st.st_dev);
    facts.ullFileIndex = static_cast<uint64_t>(st.st_ino);
    return true;
}
