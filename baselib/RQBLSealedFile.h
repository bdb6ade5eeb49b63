// A finished download held open so that no one else can write, rename or
// delete it while its checksum is read and it is put in place: the bytes that
// were checked are the bytes that take the destination's name. On Windows the
// file is opened without write or delete sharing (an open by any other writer
// fails, and so does ours while one holds it) and renamed through that very
// handle. POSIX has no such sharing modes; there a change while the file is
// held (its change time moves) or another file under its name makes the
// rename fail. Implemented in baselib/win and baselib/posix.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "baselib/RQBLFileOps.h"

namespace rqbl {

class CRQBLSealedFile {
public:
    CRQBLSealedFile() = default;
    ~CRQBLSealedFile();
    CRQBLSealedFile(const CRQBLSealedFile&) = delete;
    CRQBLSealedFile& operator=(const CRQBLSealedFile&) = delete;

    // LINK for a link or junction, IS_DIRECTORY for a folder, IN_USE while
    // another program has the file open to write or delete it.
    FileError Open(const std::wstring& strPath);
    // Holds the file that file (opened bToSeal) has written at strPath, from
    // then on through its handle (file is closed): no moment passes in which
    // another program could open it to write.
    FileError TakeOver(CRQBLOutFile& file, const std::wstring& strPath);
    // The whole file from its first byte, in blocks, to fnBlock. False when a
    // read fails or *pStop is set.
    bool ReadAll(const std::function<void(const uint8_t*, size_t)>& fnBlock, const std::atomic<bool>* pStop);
    // Gives the held file the name strTo, replacing the file there (a
    // read-only one too). IS_DIRECTORY for a folder there, LINK for a link,
    // IN_USE while another program holds that file. The file stays held.
    FileError RenameOver(const std::wstring& strTo);
    void Close();
    bool IsOpen() const { return m_nHandle != kNone; }

private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_nHandle = kNone;
    std::wstring m_strPath;
    // POSIX: what the file was when it was opened.
    uint64_t m_ullDevice = 0;
    uint64_t m_ullInode = 0;
    int64_t m_llChangeNs = 0;
};

}  // namespace rqbl
