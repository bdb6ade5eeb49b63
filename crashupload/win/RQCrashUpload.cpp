#include "crashupload/win/RQCrashUpload.h"

#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "baselib/RQBLUtf8.h"
#include "baselib/win/RQBLWinHandle.h"
#include "baselib/win/RQBLWinInetTransport.h"
#include "crashupload/RQCrashServerUrl.h"
#include "crashupload/RQCrashUploadForm.h"
#include "crashupload/RQMultipartBody.h"
#include "crashupload/win/RQCrashReportFolder.h"
#include "crashupload/win/RQFileBytes.h"

namespace rqcrash {

namespace {

// Enough for any answer worth reading (a report id, a short refusal).
constexpr size_t kMaxAnswerBytes = 64 * 1024;

// The server's answer, kept up to kMaxAnswerBytes; a longer one ends the
// exchange there.
class CRQAnswerSink : public CRQBLFetchSink {
public:
    bool OnHead(const RQBL_RESPONSE_HEAD& /*head*/) override { return true; }
    bool OnData(const uint8_t* pData, size_t nBytes) override {
        const size_t nRoom = kMaxAnswerBytes - m_strBody.size();
        m_strBody.append(reinterpret_cast<const char*>(pData), std::min(nBytes, nRoom));
        m_bFull = nBytes >= nRoom;
        return !m_bFull;
    }
    const std::string& Body() const { return m_strBody; }
    bool Full() const { return m_bFull; }

private:
    std::string m_strBody;
    bool m_bFull = false;
};

// Aborts the upload when hCancel (an event; may be null) is set, or once it
// has taken kUploadTotalMs: a server that trickles is no better than none.
class CRQUploadWatch {
public:
    CRQUploadWatch(CRQBLTransport& transport, HANDLE hCancel)
        : m_hDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (!m_hDone) {
            return;
        }
        m_thread = std::thread([&transport, hCancel, hDone = m_hDone.Get()] {
            HANDLE ahWait[2] = {hDone, hCancel};
            if (WaitForMultipleObjects(hCancel != nullptr ? 2 : 1, ahWait, FALSE, kUploadTotalMs) !=
                WAIT_OBJECT_0) {
                transport.Abort();
            }
        });
    }
    ~CRQUploadWatch() {
        if (m_thread.joinable()) {
            SetEvent(m_hDone.Get());
            m_thread.join();
        }
    }
    CRQUploadWatch(const CRQUploadWatch&) = delete;
    CRQUploadWatch& operator=(const CRQUploadWatch&) = delete;

private:
    CRQBLHandle m_hDone;
    std::thread m_thread;
};

// The upload itself; the caller holds the folder's send lock.
CRQUploadResult Upload(const std::wstring& strFolder, const std::string& strServerUrl, uint16_t nDefaultPort,
                       HANDLE hCancel) {
    CRQUploadResult result;
    CRQCrashReportInfo info;
    std::string strUrl;
    if (!ReadReportInfo(strFolder, info) || !RQCrashUploadUrl(strServerUrl, nDefaultPort, strUrl)) {
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

    RQBL_FETCH_REQUEST request;
    request.strUrl = RQBLUtf8ToWide(strUrl);
    request.strContentType = body.ContentType();
    request.strBody = body.Body();
    // Its own session: an upload may run beside the update's transfers, and
    // gives up when nothing moves for kUploadIdleMs.
    CRQBLWinInetTransport transport(std::make_shared<CRQBLInternetSession>(kUploadIdleMs, 0));
    CRQAnswerSink answer;
    RQBL_FETCH_RESULT fetch;
    {
        CRQUploadWatch watch(transport, hCancel);
        fetch = transport.Fetch(request, answer);
    }
    const bool bAnswered = fetch.error == RQBLFetchError::NONE || fetch.error == RQBLFetchError::STATUS ||
                           (fetch.error == RQBLFetchError::SINK && answer.Full());
    if (!bAnswered) {
        return result;
    }
    result.eOutcome = ClassifyUploadStatus(fetch.nStatus);
    if (result.eOutcome == ERQUploadOutcome::SENT) {
        result.strReportId = ReportIdFromBody(answer.Body());
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
