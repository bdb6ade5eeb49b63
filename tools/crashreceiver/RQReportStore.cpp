#include "tools/crashreceiver/RQReportStore.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "tools/crashreceiver/RQClientText.h"
#include "tools/crashreceiver/RQUploadRules.h"

namespace fs = std::filesystem;

namespace {

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
    strText += "client: " + EscapeClientText(strClient) + "\n";
    for (size_t i = 0; i < vecParts.size(); ++i) {
        const CRQFormPart& part = vecParts[i];
        if (part.bFile) {
            strText += "file " + StoredFileName(part, i + 1) + ": field \"" + EscapeClientText(part.strName) +
                       "\", name \"" + EscapeClientText(part.strFileName) + "\", " +
                       std::to_string(part.strData.size()) + " bytes\n";
        } else {
            strText +=
                "field " + EscapeClientText(part.strName) + ": " + EscapeClientText(part.strData) + "\n";
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

CRQReportStore::CRQReportStore(fs::path pathRoot, const CRQStoreLimits& limits)
    : m_pathRoot(std::move(pathRoot)), m_quota(m_pathRoot, limits), m_random(std::random_device{}()) {}

bool CRQReportStore::Open(std::string& strError) {
    std::error_code ec;
    fs::create_directories(m_pathRoot, ec);
    if (ec || !fs::is_directory(m_pathRoot, ec)) {
        strError = "cannot make the store folder " + m_pathRoot.string() + ": " + ec.message();
        return false;
    }
    fs::permissions(m_pathRoot, fs::perms::owner_all, fs::perm_options::replace, ec);
    m_quota.Measure();
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

bool CRQReportStore::WriteReport(const fs::path& pathIncoming, const std::string& strIndex,
                                 const std::vector<CRQFormPart>& vecParts) {
    std::error_code ec;
    fs::permissions(pathIncoming, fs::perms::owner_all, fs::perm_options::replace, ec);
    bool bWritten = WriteFile(pathIncoming / "index.txt", strIndex);
    for (size_t i = 0; bWritten && i < vecParts.size(); ++i) {
        if (vecParts[i].bFile) {
            bWritten = WriteFile(pathIncoming / StoredFileName(vecParts[i], i + 1), vecParts[i].strData);
        }
    }
    return bWritten;
}

CRQStoreResult CRQReportStore::Store(const std::vector<CRQFormPart>& vecParts, const std::string& strClient) {
    CRQStoreResult result;
    std::error_code ec;
    for (int nTry = 0; nTry < 8; ++nTry) {
        std::string strId = NewReportId();
        fs::path pathFinal = m_pathRoot / strId;
        fs::path pathIncoming = m_pathRoot / (".incoming-" + strId);
        if (fs::exists(pathFinal, ec)) {
            continue;
        }
        // Exactly what is about to be written, so the quota can refuse it
        // before anything reaches the disk.
        std::string strIndex = IndexText(strId, strClient, vecParts);
        uint64_t nDiskBytes = DiskBytesOf(0) + DiskBytesOf(strIndex.size());
        for (const CRQFormPart& part : vecParts) {
            nDiskBytes += part.bFile ? DiskBytesOf(part.strData.size()) : 0;
        }
        result.strNoRoomWhy = m_quota.Reserve(nDiskBytes);
        if (!result.strNoRoomWhy.empty()) {
            result.eStored = ERQStored::NO_ROOM;
            return result;
        }
        if (!fs::create_directory(pathIncoming, ec)) {
            m_quota.Release(nDiskBytes, false);
            continue;
        }
        bool bWritten = WriteReport(pathIncoming, strIndex, vecParts);
        if (bWritten) {
            fs::rename(pathIncoming, pathFinal, ec);
            bWritten = !ec;
        }
        m_quota.Release(nDiskBytes, bWritten);
        if (!bWritten) {
            fs::remove_all(pathIncoming, ec);
            return result;
        }
        result.eStored = ERQStored::STORED;
        result.strId = strId;
        return result;
    }
    return result;
}
