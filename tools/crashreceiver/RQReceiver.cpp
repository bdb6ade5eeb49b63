#include "tools/crashreceiver/RQReceiver.h"

#include <chrono>
#include <cstdlib>
#include <vector>

#include "tools/crashreceiver/RQFormData.h"
#include "tools/crashreceiver/RQUploadRules.h"

namespace {

CRQResponse Answer(int nStatus, const std::string& strText) {
    return CRQResponse{nStatus, strText + "\n"};
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
    std::string strId;
    if (!m_store.Store(vecParts, strClient, strId)) {
        return Answer(500, "the report could not be stored");
    }
    return Answer(200, strId);
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
        default:
            return "Internal Server Error";
    }
}
