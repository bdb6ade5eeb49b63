// Which unfinished downloads may be resumed by a later run: for each part
// file, the version of the listed file it belongs to (size and CRC-32) and
// the validator (ETag or Last-Modified) of the response its bytes came from.
// A part without an entry, or whose entry names another version of the file,
// is started over. Kept in a small text file beside the launcher, written
// whole and then put in place, so a run killed meanwhile leaves the old one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct RQ_RESUME_ENTRY {
    uint64_t ullSize = 0;
    uint32_t dwCrc = 0;
    std::string strValidator;
};

class CRQResumeRecord {
public:
    // A missing, damaged or foreign file gives an empty record.
    void Load(const std::wstring& strPath);
    // An empty record removes the file.
    bool Save(const std::wstring& strPath) const;

    const RQ_RESUME_ENTRY* Find(const std::wstring& strLocal) const;
    // False when the entry cannot be kept (a validator with line breaks or tabs).
    bool Put(const std::wstring& strLocal, const RQ_RESUME_ENTRY& entry);
    void Erase(const std::wstring& strLocal) { m_mapEntries.erase(strLocal); }
    bool Empty() const { return m_mapEntries.empty(); }
    // The destinations whose parts the record knows.
    std::vector<std::wstring> Paths() const;

private:
    std::map<std::wstring, RQ_RESUME_ENTRY> m_mapEntries;
};
