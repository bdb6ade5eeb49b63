#include "crashupload/RQHttpReply.h"

#include "baselib/RQBLAsciiText.h"

std::string ReportIdFromBody(const std::string& strBody) {
    std::string strId = RQBLTrimAscii(strBody.substr(0, strBody.find('\n')));
    const std::string strPrefix = "CrashID=";
    if (strId.compare(0, strPrefix.size(), strPrefix) == 0) {
        strId = strId.substr(strPrefix.size());
    }
    if (strId.empty() || strId.size() > 64) {
        return std::string();
    }
    for (char ch : strId) {
        if (ch <= ' ' || ch > '~') {
            return std::string();
        }
    }
    return strId;
}

ERQUploadOutcome ClassifyUploadStatus(int nStatus) {
    if (nStatus >= 200 && nStatus < 300) {
        return ERQUploadOutcome::SENT;
    }
    // Only the refusals that are about the report itself are final; a wrong
    // address or a missing permission is the server's to fix.
    if (nStatus == 400 || nStatus == 413 || nStatus == 415 || nStatus == 422) {
        return ERQUploadOutcome::REFUSED;
    }
    return ERQUploadOutcome::RETRY;
}
