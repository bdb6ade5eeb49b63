#include "crashupload/win/RQCrashUpload.h"

#include <utility>
#include <vector>

#include "baselib/RQBLUtf8.h"
#include "crashupload/RQCrashServerUrl.h"
#include "crashupload/RQCrashUploadForm.h"
#include "crashupload/RQMultipartBody.h"
#include "crashupload/win/RQCrashReportFolder.h"
#include "crashupload/win/RQFileBytes.h"
#include "crashupload/win/RQHttpPost.h"

namespace rqcrash {

namespace {

// The upload itself; the caller holds the folder's send lock.
CRQUploadResult Upload(const std::wstring& strFolder, const std::string& strServerUrl, uint16_t nDefaultPort,
                       HANDLE hCancel) {
    CRQUploadResult result;
    CRQCrashReportInfo info;
    CRQCrashServer server;
    if (!ReadReportInfo(strFolder, info) || !ParseCrashServerUrl(strServerUrl, nDefaultPort, server)) {
        return result;
    }
    std::vector<std::string> vecNames;
    for (const std::wstring& strName : ListFileNames(strFolder)) {
        vecNames.push_back(RQBLWideToUtf8(strName));
    }
    std::vector<CRQUploadFile> vecFiles;
    for (const CRQUploadPart& part : PlanUploadParts(vecNames)) {
        CRQUploadFile file{part, std::string()};
        if (ReadFileBytes(strFolder + L"\\" + RQBLUtf8ToWide(part.strFileName), file.strBytes)) {
            vecFiles.push_back(std::move(file));
        }
    }
    CRQMultipartBody body;
    ComposeCrashUpload(info, std::move(vecFiles), body);
    CRQHttpReply reply;
    if (!HttpPost(server, body.ContentType(), body.Body(), hCancel, kUploadIdleMs, reply)) {
        return result;
    }
    result.eOutcome = ClassifyUploadStatus(reply.nStatus);
    if (result.eOutcome == ERQUploadOutcome::SENT) {
        result.strReportId = ReportIdFromBody(reply.strBody);
    }
    return result;
}

}  // namespace

CRQUploadResult SendConsentedReport(const std::wstring& strFolder, const std::string& strServerUrl,
                                    uint16_t nDefaultPort, HANDLE hCancel) {
    CRQUploadResult result;
    {
        CRQSendLock lock;
        if (!lock.Take(strFolder) || !HasConsent(strFolder)) {
            return result;
        }
        result = Upload(strFolder, strServerUrl, nDefaultPort, hCancel);
        if (result.eOutcome != ERQUploadOutcome::RETRY) {
            WithdrawConsent(strFolder);  // sent, or never to be taken: not to be sent again
        }
    }
    // The lock's file is gone with the lock, so the folder can go too.
    if (result.eOutcome == ERQUploadOutcome::SENT) {
        RemoveReportFolder(strFolder);
    }
    return result;
}

}  // namespace rqcrash
