#include "tools/crashreceiver/RQReceiver.h"

#include <chrono>
#include <cstdlib>
#include <vector>

#include "tools/crashreceiver/RQClientText.h"
#include "tools/crashreceiver/RQFormData.h"
#include "tools/crashreceiver/RQUploadRules.h"

namespace {

// The store stays full until the operator makes room: an hour is a fair
// guess at how long that takes.
constexpr int kNoRoomRetrySeconds = 3600;
constexpr size_t kLoggedValueBytes = 64;
constexpr size_t kLoggedFileNames = 8;

CRQResponse Answer(int nStatus, const std::string& strText) {
    return CRQResponse{nStatus, strText + "\n", 0, std::string()};
}

CRQResponse NoRoom(const std::string& strWhy) {
    return CRQResponse{507, "no room for crash reports now; try again later\n", kNoRoomRetrySeconds,
                       strWhy + "; nothing stored"};
}

// What the log says of a stored report: its id, its size, what the client
// says it is and the names it gave its files (all of it escaped).
std::string DescribeReport(const std::string& strId, const std::string& strBody,
                           const std::vector<CRQFormPart>& vecParts) {
    std::string strText = "report " + strId + ", " + std::to_string(strBody.size()) + " bytes";
    std::string strFiles;
    size_t nFiles = 0;
    for (const CRQFormPart& part : vecParts) {
        if (!part.bFile && (part.strName == "prod" || part.strName == "ver")) {
            strText += ", " + part.strName + " " + QuotedClientText(part.strData, kLoggedValueBytes);
        } else if (part.bFile && ++nFiles <= kLoggedFileNames) {
            strFiles += " " + QuotedClientText(part.strFileName, kLoggedValueBytes);
        }
    }
    if (nFiles > kLoggedFileNames) {
        strFiles += " and " + std::to_string(nFiles - kLoggedFileNames) + " more";
    }
    return strText + ", files" + strFiles;
}

}  // namespace

CRQReceiver::CRQReceiver(CRQReportStore& store, const CRQReceiverLimits& limits)
    : m_store(store), m_limits(limits), m_rate(limits.nReportsPerMinute, std::chrono::minutes(1)) {}

bool CRQReceiver::AcceptHead(const CRQRequestHead& head, const std::string& strClient, CRQResponse& refusal,
                             size_t& nBodyBytes) {
    if (head.strMethod != "POST") {
        refusal = Answer(405, "crash reports are sent with POST");
        return false;
    }
    if (!m_rate.Allow(strClient, std::chrono::steady_clock::now())) {
        refusal = Answer(429, "too many reports from this address; try again later");
        refusal.nRetryAfterSeconds = 60;
        return false;
    }
    std::string strLength = head.Header("content-length");
    if (head.HasHeader("transfer-encoding") || strLength.empty() ||
        strLength.find_first_not_of("0123456789") != std::string::npos) {
        refusal = Answer(411, "Content-Length required");
        return false;
    }
    if (strLength.size() > 12 || std::strtoull(strLength.c_str(), nullptr, 10) > m_limits.nMaxBodyBytes) {
        refusal = Answer(413, "report larger than " + std::to_string(m_limits.nMaxBodyBytes) + " bytes");
        return false;
    }
    std::string strBoundary;
    if (!BoundaryFromContentType(head.Header("content-type"), strBoundary)) {
        refusal = Answer(415, "multipart/form-data required");
        return false;
    }
    nBodyBytes = static_cast<size_t>(std::strtoull(strLength.c_str(), nullptr, 10));
    // The body's length stands for the report's size here: the form's own
    // lines are not stored, its index is. Close enough to refuse before the
    // body is read; the write itself is checked exactly.
    std::string strNoRoom = m_store.WhyNoRoomFor(nBodyBytes);
    if (!strNoRoom.empty()) {
        refusal = NoRoom(strNoRoom);
        return false;
    }
    return true;
}

CRQResponse CRQReceiver::TakeBody(const CRQRequestHead& head, const std::string& strBody,
                                  const std::string& strClient) {
    std::string strBoundary;
    BoundaryFromContentType(head.Header("content-type"), strBoundary);
    std::vector<CRQFormPart> vecParts;
    std::string strError;
    if (!ParseFormData(strBody, strBoundary, m_limits.nMaxParts, vecParts, strError)) {
        return Answer(400, strError);
    }
    strError = CheckUpload(vecParts);
    if (!strError.empty()) {
        return Answer(400, strError);
    }
    CRQStoreResult stored = m_store.Store(vecParts, strClient);
    if (stored.eStored == ERQStored::NO_ROOM) {
        return NoRoom(stored.strNoRoomWhy);
    }
    if (stored.eStored != ERQStored::STORED) {
        return Answer(500, "the report could not be stored");
    }
    CRQResponse accepted = Answer(200, stored.strId);
    accepted.strLogNote = DescribeReport(stored.strId, strBody, vecParts);
    return accepted;
}

const char* ReasonPhrase(int nStatus) {
    switch (nStatus) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 411:
            return "Length Required";
        case 413:
            return "Content Too Large";
        case 415:
            return "Unsupported Media Type";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        case 507:
            return "Insufficient Storage";
        default:
            return "Internal Server Error";
    }
}
