#include "launcher/check/RQVerifyRecord.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/RQBLStreamCrc.h"

// Layout, all numbers little-endian:
//   "RQVERIFY", version (u32), entry count (u32),
//   per entry: path length in UTF-16 units (u16), the path in UTF-16,
//              size (u64), last-write time (i64), identity present (u8),
//              volume (u64), file index (u64), creation time (i64),
//              CRC-32 (u32), SHA-256 length (u8), the SHA-256 in hex,
//   CRC-32 of every byte before it (u32).
namespace {

const char kMagic[8] = {'R', 'Q', 'V', 'E', 'R', 'I', 'F', 'Y'};
constexpr uint32_t kVersion = 1;
// A game lists tens of thousands of files; a record far larger than theirs
// is not one.
constexpr size_t kMaxRecordBytes = 256u << 20;

class CWriter {
public:
    void Bytes(const void* p, size_t n) { m_str.append(static_cast<const char*>(p), n); }
    void U8(uint8_t v) { m_str.push_back(static_cast<char>(v)); }
    void U16(uint16_t v) { Little(v, 2); }
    void U32(uint32_t v) { Little(v, 4); }
    void U64(uint64_t v) { Little(v, 8); }
    std::string& Str() { return m_str; }

private:
    void Little(uint64_t v, int nBytes) {
        for (int i = 0; i < nBytes; ++i) {
            m_str.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    }
    std::string m_str;
};

class CReader {
public:
    CReader(const std::string& str, size_t nEnd) : m_str(str), m_nEnd(nEnd) {}
    bool Bytes(void* p, size_t n) {
        if (m_nEnd - m_nPos < n) {
            return false;
        }
        m_str.copy(static_cast<char*>(p), n, m_nPos);
        m_nPos += n;
        return true;
    }
    bool U8(uint8_t& v) { return Little(v); }
    bool U16(uint16_t& v) { return Little(v); }
    bool U32(uint32_t& v) { return Little(v); }
    bool U64(uint64_t& v) { return Little(v); }
    bool I64(int64_t& v) {
        uint64_t u = 0;
        bool bOk = Little(u);
        v = static_cast<int64_t>(u);
        return bOk;
    }
    bool AtEnd() const { return m_nPos == m_nEnd; }

private:
    template <typename T>
    bool Little(T& v) {
        if (m_nEnd - m_nPos < sizeof(T)) {
            return false;
        }
        uint64_t u = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            u |= static_cast<uint64_t>(static_cast<uint8_t>(m_str[m_nPos + i])) << (8 * i);
        }
        v = static_cast<T>(u);
        m_nPos += sizeof(T);
        return true;
    }
    const std::string& m_str;
    size_t m_nEnd;
    size_t m_nPos = 0;
};

bool ReadEntry(CReader& in, std::wstring& strLocal, RQ_VERIFY_ENTRY& entry) {
    uint16_t nUnits = 0;
    if (!in.U16(nUnits) || nUnits == 0) {
        return false;
    }
    std::u16string strUnits(nUnits, u'\0');
    for (char16_t& c : strUnits) {
        uint16_t u = 0;
        if (!in.U16(u)) {
            return false;
        }
        c = static_cast<char16_t>(u);
    }
    strLocal = rqbl::Utf16ToWide(strUnits);
    uint8_t byIdentity = 0;
    uint8_t nShaLen = 0;
    RQBL_FILE_FACTS& f = entry.facts;
    if (!in.U64(f.ullSize) || !in.I64(f.llWriteTime) || !in.U8(byIdentity) || byIdentity > 1 ||
        !in.U64(f.ullVolume) || !in.U64(f.ullFileIndex) || !in.I64(f.llCreateTime) || !in.U32(entry.dwCrc) ||
        !in.U8(nShaLen)) {
        return false;
    }
    f.bHasIdentity = byIdentity == 1;
    entry.strSha256.assign(nShaLen, '\0');
    return in.Bytes(entry.strSha256.data(), nShaLen);
}

}  // namespace

std::string CRQVerifyRecord::Serialize() const {
    CWriter out;
    out.Bytes(kMagic, sizeof(kMagic));
    out.U32(kVersion);
    out.U32(static_cast<uint32_t>(m_mapEntries.size()));
    for (const auto& [strLocal, entry] : m_mapEntries) {
        std::u16string strUnits = rqbl::WideToUtf16(strLocal).substr(0, 0xFFFF);
        out.U16(static_cast<uint16_t>(strUnits.size()));
        for (char16_t c : strUnits) {
            out.U16(static_cast<uint16_t>(c));
        }
        const RQBL_FILE_FACTS& f = entry.facts;
        out.U64(f.ullSize);
        out.U64(static_cast<uint64_t>(f.llWriteTime));
        out.U8(f.bHasIdentity ? 1 : 0);
        out.U64(f.ullVolume);
        out.U64(f.ullFileIndex);
        out.U64(static_cast<uint64_t>(f.llCreateTime));
        out.U32(entry.dwCrc);
        const std::string strSha = entry.strSha256.substr(0, 0xFF);
        out.U8(static_cast<uint8_t>(strSha.size()));
        out.Bytes(strSha.data(), strSha.size());
    }
    out.U32(CRQBLStreamCrc::Of(out.Str().data(), out.Str().size()));
    return std::move(out.Str());
}

RQVerifyLoad CRQVerifyRecord::Parse(const std::string& strBytes) {
    m_mapEntries.clear();
    if (strBytes.size() < sizeof(kMagic) ||
        strBytes.compare(0, sizeof(kMagic), kMagic, sizeof(kMagic)) != 0) {
        return RQVerifyLoad::FOREIGN;
    }
    constexpr size_t kFixedBytes = sizeof(kMagic) + 4 + 4 + 4;
    if (strBytes.size() < kFixedBytes) {
        return RQVerifyLoad::DAMAGED;
    }
    const size_t nBody = strBytes.size() - 4;
    CReader trailer(strBytes, strBytes.size());
    char skip[8];
    uint32_t dwVersion = 0;
    uint32_t nCount = 0;
    if (!trailer.Bytes(skip, sizeof(skip)) || !trailer.U32(dwVersion)) {
        return RQVerifyLoad::DAMAGED;
    }
    if (dwVersion != kVersion) {
        return RQVerifyLoad::FOREIGN;  // another version's layout: not read as this one
    }
    const std::string strTrailer = strBytes.substr(nBody);
    CReader sum(strTrailer, strTrailer.size());
    uint32_t dwStored = 0;
    if (!sum.U32(dwStored) || dwStored != CRQBLStreamCrc::Of(strBytes.data(), nBody)) {
        return RQVerifyLoad::DAMAGED;
    }
    CReader in(strBytes, nBody);
    if (!in.Bytes(skip, sizeof(skip)) || !in.U32(dwVersion) || !in.U32(nCount)) {
        return RQVerifyLoad::DAMAGED;
    }
    std::map<std::wstring, RQ_VERIFY_ENTRY> mapRead;
    for (uint32_t i = 0; i < nCount; ++i) {
        std::wstring strLocal;
        RQ_VERIFY_ENTRY entry;
        if (!ReadEntry(in, strLocal, entry)) {
            return RQVerifyLoad::DAMAGED;
        }
        mapRead[strLocal] = entry;
    }
    if (!in.AtEnd()) {
        return RQVerifyLoad::DAMAGED;
    }
    m_mapEntries.swap(mapRead);
    return RQVerifyLoad::LOADED;
}

RQVerifyLoad CRQVerifyRecord::Load(const std::wstring& strPath) {
    m_mapEntries.clear();
    uint64_t ullSize = 0;
    if (!rqbl::GetRegularFileSize(strPath, ullSize)) {
        return RQVerifyLoad::MISSING;
    }
    if (ullSize > kMaxRecordBytes) {
        return RQVerifyLoad::FOREIGN;
    }
    std::ifstream in(std::filesystem::path(strPath), std::ios::binary);
    std::string strBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        return RQVerifyLoad::DAMAGED;
    }
    return Parse(strBytes);
}

bool CRQVerifyRecord::Save(const std::wstring& strPath) const {
    return rqbl::WriteFileAtomically(strPath, Serialize());
}

const RQ_VERIFY_ENTRY* CRQVerifyRecord::Find(const std::wstring& strLocal) const {
    auto it = m_mapEntries.find(strLocal);
    return it == m_mapEntries.end() ? nullptr : &it->second;
}
