#include "tools/crashreceiver/RQReportStore.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "tools/crashreceiver/RQUploadRules.h"

namespace fs = std::filesystem;

namespace {

// Client text in the index: printable as it is, anything else as \xNN.
std::string Escaped(const std::string& strText) {
    std::string strOut;
    for (char ch : strText) {
        unsigned char by = static_cast<unsigned char>(ch);
        if (by < 0x20 || by == 0x7F || ch == '"' || ch == '\\') {
            char sz[8];
            std::snprintf(sz, sizeof(sz), "\\x%02X", by);
            strOut += sz;
        } else {
            strOut += ch;
        }
    }
    return strOut;
}

int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool WriteFile(const fs::path& path, const std::string& strData) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(strData.data(), static_cast<std::streamsize>(strData.size()));
    out.close();
    return static_cast<bool>(out);
}

std::string IndexText(const std::string& strId, const std::string& strClient,
                      const std::vector<CRQFormPart>& vecParts) {
    std::string strText = "id: " + strId + "\n";
    strText += "received: " + FormatUtc(NowSeconds()) + " UTC\n";
    strText += "client: " + Escaped(strClient) + "\n";
    for (size_t i = 0; i < vecParts.size(); ++i) {
        const CRQFormPart& part = vecParts[i];
        if (part.bFile) {
            strText += "file " + StoredFileName(part, i + 1) + ": field \"" + Escaped(part.strName) +
                       "\", name \"" + Escaped(part.strFileName) + "\", " +
                       std::to_string(part.strData.size()) + " bytes\n";
        } else {
            strText += "field " + Escaped(part.strName) + ": " + Escaped(part.strData) + "\n";
        }
    }
    return strText;
}

}  // namespace

std::string FormatUtc(int64_t nSeconds) {
    // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
    int64_t nDays = nSeconds >= 0 ? nSeconds / 86400 : (nSeconds - 86399) / 86400;
    int64_t nSecondOfDay = nSeconds - nDays * 86400;
    nDays += 719468;
    int64_t nEra = (nDays >= 0 ? nDays : nDays - 146096) / 146097;
    int64_t nDayOfEra = nDays - nEra * 146097;
    int64_t nYearOfEra = (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
    int64_t nDayOfYear = nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
    int64_t nMonthIndex = (5 * nDayOfYear + 2) / 153;
    int64_t nDay = nDayOfYear - (153 * nMonthIndex + 2) / 5 + 1;
    int64_t nMonth = nMonthIndex < 10 ? nMonthIndex + 3 : nMonthIndex - 9;
    int64_t nYear = nYearOfEra + nEra * 400 + (nMonth <= 2 ? 1 : 0);
    char sz[96];
    std::snprintf(sz, sizeof(sz), "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(nYear),
                  static_cast<long long>(nMonth), static_cast<long long>(nDay),
                  static_cast<long long>(nSecondOfDay / 3600), static_cast<long long>(nSecondOfDay / 60 % 60),
                  static_cast<long long>(nSecondOfDay % 60));
    return sz;
}

std::string StoredFileName(const CRQFormPart& part, size_t nIndex) {
    if (part.strName == kMinidumpField) {
        return "upload_file_minidump.dmp";
    }
    std::string strExtension = "bin";
    size_t nDot = part.strFileName.rfind('.');
    if (nDot != std::string::npos) {
        std::string strClient = part.strFileName.substr(nDot + 1);
        for (char& ch : strClient) {
            ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
        }
        for (const char* pszKnown : {"log", "txt", "png", "bmp", "dmp"}) {
            if (strClient == pszKnown) {
                strExtension = pszKnown;
            }
        }
    }
    return "file-" + std::to_string(nIndex) + "." + strExtension;
}

CRQReportStore::CRQReportStore(fs::path pathRoot)
    : m_pathRoot(std::move(pathRoot)), m_random(std::random_device{}()) {}

bool CRQReportStore::Open(std::string& strError) {
    std::error_code ec;
    fs::create_directories(m_pathRoot, ec);
    if (ec || !fs::is_directory(m_pathRoot, ec)) {
        strError = "cannot make the store folder " + m_pathRoot.string() + ": " + ec.message();
        return false;
    }
    fs::permissions(m_pathRoot, fs::perms::owner_all, fs::perm_options::replace, ec);
    return true;
}

std::string CRQReportStore::NewReportId() {
    uint32_t nRandom = 0;
    {
        std::lock_guard<std::mutex> lock(m_csRandom);
        nRandom = static_cast<uint32_t>(m_random());
    }
    std::string strTime = FormatUtc(NowSeconds());  // "2026-01-31 23:59:58"
    std::string strId = strTime.substr(0, 4) + strTime.substr(5, 2) + strTime.substr(8, 2) + "-" +
                        strTime.substr(11, 2) + strTime.substr(14, 2) + strTime.substr(17, 2);
    char szRandom[16];
    std::snprintf(szRandom, sizeof(szRandom), "-%08x", nRandom);
    return strId + szRandom;  // "20260131-235958-1a2b3c4d"
}

bool CRQReportStore::Store(const std::vector<CRQFormPart>& vecParts, const std::string& strClient,
                           std::string& strId) {
    std::error_code ec;
    for (int nTry = 0; nTry < 8; ++nTry) {
        strId = NewReportId();
        fs::path pathFinal = m_pathRoot / strId;
        fs::path pathIncoming = m_pathRoot / (".incoming-" + strId);
        if (fs::exists(pathFinal, ec) || !fs::create_directory(pathIncoming, ec)) {
            continue;
        }
        fs::permissions(pathIncoming, fs::perms::owner_all, fs::perm_options::replace, ec);
        bool bWritten = WriteFile(pathIncoming / "index.txt", IndexText(strId, strClient, vecParts));
        for (size_t i = 0; bWritten && i < vecParts.size(); ++i) {
            if (vecParts[i].bFile) {
                bWritten = WriteFile(pathIncoming / StoredFileName(vecParts[i], i + 1), vecParts[i].strData);
            }
        }
        if (bWritten) {
            fs::rename(pathIncoming, pathFinal, ec);
            bWritten = !ec;
        }
        if (!bWritten) {
            fs::remove_all(pathIncoming, ec);
            return false;
        }
        return true;
    }
    return false;
}
