// What the last run found current, kept beside the launcher as
// LAUNCHER_VERIFIED.DAT: for each listed file, its size, last-write time and
// identity as the system reported them, and the checksums its content
// matched. A file whose facts are unchanged since then has not been written
// since, so its content need not be read again to be trusted.
//
// The file has a header and a checksum of its own, and is written whole under
// another name and then put in place: a run killed while saving leaves the
// previous record, and a damaged, truncated or foreign file is ignored as a
// whole (every file is then read, as without a record).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "baselib/RQBLFileFacts.h"

struct RQ_VERIFY_ENTRY {
    RQBL_FILE_FACTS facts;
    uint32_t dwCrc = 0;
    // The SHA-256 in lower-case hex that the content matched; empty when none
    // was checked.
    std::string strSha256;
};

enum class RQVerifyLoad {
    LOADED,
    MISSING,  // no record yet
    FOREIGN,  // not a record of this launcher, or of another version of it
    DAMAGED,  // truncated, or its checksum does not match its content
};

class CRQVerifyRecord {
public:
    // Anything but LOADED leaves the record empty.
    RQVerifyLoad Load(const std::wstring& strPath);
    bool Save(const std::wstring& strPath) const;

    // The file's bytes, and back.
    std::string Serialize() const;
    RQVerifyLoad Parse(const std::string& strBytes);

    const RQ_VERIFY_ENTRY* Find(const std::wstring& strLocal) const;
    void Put(const std::wstring& strLocal, const RQ_VERIFY_ENTRY& entry) { m_mapEntries[strLocal] = entry; }
    size_t Size() const { return m_mapEntries.size(); }

private:
    std::map<std::wstring, RQ_VERIFY_ENTRY> m_mapEntries;
};
