#include "launcher/transfer/RQResumeRecord.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLUtf8.h"

namespace {

const char kHeader[] = "RQRESUME 1";

bool IsPlainText(const std::string& s) {
    return s.find_first_of("\t\r\n") == std::string::npos;
}

// "<crc as 8 hex digits>\t<size>\t<validator>\t<path>"
bool ParseLine(const std::string& strLine, std::wstring& strLocal, RQ_RESUME_ENTRY& entry) {
    size_t t1 = strLine.find('\t');
    size_t t2 = t1 == std::string::npos ? t1 : strLine.find('\t', t1 + 1);
    size_t t3 = t2 == std::string::npos ? t2 : strLine.find('\t', t2 + 1);
    if (t3 == std::string::npos || t1 != 8 || t3 + 1 >= strLine.size()) {
        return false;
    }
    char* pEnd = nullptr;
    std::string strCrc = strLine.substr(0, t1);
    unsigned long ulCrc = std::strtoul(strCrc.c_str(), &pEnd, 16);
    if (*pEnd != '\0') {
        return false;
    }
    std::string strSize = strLine.substr(t1 + 1, t2 - t1 - 1);
    unsigned long long ullSize = std::strtoull(strSize.c_str(), &pEnd, 10);
    if (strSize.empty() || *pEnd != '\0') {
        return false;
    }
    entry.dwCrc = static_cast<uint32_t>(ulCrc);
    entry.ullSize = ullSize;
    entry.strValidator = strLine.substr(t2 + 1, t3 - t2 - 1);
    strLocal = RQBLUtf8ToWide(strLine.substr(t3 + 1));
    return true;
}

}  // namespace

void CRQResumeRecord::Load(const std::wstring& strPath) {
    m_mapEntries.clear();
    std::ifstream in(std::filesystem::path(strPath), std::ios::binary);
    std::string strLine;
    if (!in || !std::getline(in, strLine) || strLine != kHeader) {
        return;
    }
    std::map<std::wstring, RQ_RESUME_ENTRY> mapRead;
    while (std::getline(in, strLine)) {
        std::wstring strLocal;
        RQ_RESUME_ENTRY entry;
        if (!ParseLine(strLine, strLocal, entry)) {
            return;  // damaged: nothing of it is trusted
        }
        mapRead[strLocal] = entry;
    }
    m_mapEntries.swap(mapRead);
}

bool CRQResumeRecord::Save(const std::wstring& strPath) const {
    if (m_mapEntries.empty()) {
        rqbl::FileError error = rqbl::RemoveFile(strPath);
        return error == rqbl::FileError::NONE || error == rqbl::FileError::NOT_FOUND;
    }
    std::ostringstream out;
    out << kHeader << '\n';
    for (const auto& [strLocal, entry] : m_mapEntries) {
        char szCrc[9];
        std::snprintf(szCrc, sizeof(szCrc), "%08x", entry.dwCrc);
        out << szCrc << '\t' << entry.ullSize << '\t' << entry.strValidator << '\t'
            << RQBLWideToUtf8(strLocal) << '\n';
    }
    const std::string strText = out.str();
    return rqbl::WriteFileAtomically(strPath, strText);
}

const RQ_RESUME_ENTRY* CRQResumeRecord::Find(const std::wstring& strLocal) const {
    auto it = m_mapEntries.find(strLocal);
    return it == m_mapEntries.end() ? nullptr : &it->second;
}

bool CRQResumeRecord::Put(const std::wstring& strLocal, const RQ_RESUME_ENTRY& entry) {
    if (!IsPlainText(entry.strValidator) || strLocal.find_first_of(L"\t\r\n") != std::wstring::npos) {
        return false;
    }
    m_mapEntries[strLocal] = entry;
    return true;
}

std::vector<std::wstring> CRQResumeRecord::Paths() const {
    std::vector<std::wstring> vecPaths;
    for (const auto& entry : m_mapEntries) {
        vecPaths.push_back(entry.first);
    }
    return vecPaths;
}
