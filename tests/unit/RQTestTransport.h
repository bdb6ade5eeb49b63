// A content server in memory and a transport that fetches from it, with the
// faults of real networks on request: refusals, busy answers with
// Retry-After, a connection limit, cuts, stalls, drips, changed files, ranges
// answered from the wrong place, servers that ignore If-Range or send no
// validator. Platform-free, for the transfer tests. Given a clock, it stamps
// every request with that clock's time and spends its delays on it, so that a
// test's clock can run an hour of a slow line in no real time.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "baselib/RQBLTransport.h"
#include "launcher/transfer/RQTransferClock.h"

namespace rqtest {

struct CFakeFile {
    std::string strBody;
    // Empty: the server sends no validator at all.
    std::string strETag = "\"v1\"";
    // Per try, in order (the last one repeats): 0 serves the file, any other
    // status is answered instead, -1 is no connection (a name that does not
    // resolve, a time-out), -2 a connection the server refuses or resets.
    std::vector<int> vecStatuses;
    // Sent with every answer that is not the file (empty: none).
    std::string strRetryAfter;
    std::string strDate;
    // Per try, in order (then none): the body breaks off after this many bytes.
    std::vector<size_t> vecCutAt;
    // Per try, in order (then none): after this many bytes nothing more comes
    // until the fetch is aborted.
    std::vector<size_t> vecStallAt;
    bool bIgnoresIfRange = false;
    // The answer announces no length: its end is the connection's.
    bool bNoLength = false;
    // Every request is answered 200 with the whole body, ranges or not.
    bool bIgnoresRanges = false;
    // A range is answered 206 from this many bytes before the asked start.
    size_t nRangeStartsEarlier = 0;
    // The body goes in pieces of this size, each after this delay.
    size_t nChunkBytes = 64 * 1024;
    std::chrono::milliseconds delayPerChunk{0};
};

struct CFetchCall {
    std::wstring strUrl;
    uint64_t ullRangeStart = 0;
    std::string strIfRange;
    uint64_t ullRangeEnd = 0;
    CRQTransferClock::TimePoint at{};  // by the test's clock, when there is one
    int nAnswer = 0;                   // the status answered (0: no connection)
};

class CFakeServer {
public:
    std::mutex mutex;
    std::map<std::wstring, CFakeFile> mapFiles;  // by whole URL
    std::vector<CFetchCall> vecCalls;
    uint64_t ullBytesSent = 0;
    int nActive = 0;
    int nMostActive = 0;
    // More requests than this at once are answered 503 (0: no limit).
    int nMostAtOnce = 0;
    std::string strLimitRetryAfter;
    // A storm: until this time (by pClock) every request whose URL starts
    // with strStormPrefix is answered nStormStatus, with this Retry-After and
    // Date.
    CRQTransferClock::TimePoint stormUntil{};
    std::wstring strStormPrefix;
    int nStormStatus = 503;
    std::string strStormRetryAfter;
    std::string strStormDate;
    // Given: request times and delays go by this clock.
    std::shared_ptr<CRQTransferClock> pClock;

    CFakeFile& Put(const std::wstring& strUrl, std::string strBody) {
        std::lock_guard<std::mutex> lock(mutex);
        CFakeFile& file = mapFiles[strUrl];
        file.strBody = std::move(strBody);
        return file;
    }
    std::vector<CFetchCall> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return vecCalls;
    }
    std::vector<std::wstring> Urls() {
        std::vector<std::wstring> v;
        for (const CFetchCall& c : Calls()) {
            v.push_back(c.strUrl);
        }
        return v;
    }
};

inline RQBL_FETCH_RESULT FetchResult(RQBLFetchError error, int nStatus, uint32_t dwSystemError = 0) {
    RQBL_FETCH_RESULT result;
    result.error = error;
    result.nStatus = nStatus;
    result.dwSystemError = dwSystemError;
    return result;
}

class CFakeTransport : public CRQBLTransport {
public:
    explicit CFakeTransport(std::shared_ptr<CFakeServer> pServer) : m_pServer(std::move(pServer)) {}

    RQBL_FETCH_RESULT Fetch(const RQBL_FETCH_REQUEST& request, CRQBLFetchSink& sink) override {
        m_bAbort = false;
        CFakeFile file;
        int nStatus = 0;
        size_t nCut = SIZE_MAX;
        size_t nStall = SIZE_MAX;
        {
            std::lock_guard<std::mutex> lock(m_pServer->mutex);
            CFetchCall call{request.strUrl, request.ullRangeStart, request.strIfRange, request.ullRangeEnd};
            call.at = m_pServer->pClock ? m_pServer->pClock->Now() : CRQTransferClock::TimePoint();
            auto it = m_pServer->mapFiles.find(request.strUrl);
            if (it == m_pServer->mapFiles.end()) {
                call.nAnswer = 404;
                m_pServer->vecCalls.push_back(call);
                return FetchResult(RQBLFetchError::STATUS, 404);
            }
            CFakeFile& served = it->second;
            if (!served.vecStatuses.empty()) {
                nStatus = served.vecStatuses.front();
                if (served.vecStatuses.size() > 1) {
                    served.vecStatuses.erase(served.vecStatuses.begin());
                }
            }
            file = served;
            if (call.at < m_pServer->stormUntil &&
                request.strUrl.compare(0, m_pServer->strStormPrefix.size(), m_pServer->strStormPrefix) == 0) {
                nStatus = m_pServer->nStormStatus;
                file.strRetryAfter = m_pServer->strStormRetryAfter;
                file.strDate = m_pServer->strStormDate;
            } else if (nStatus == 0 && m_pServer->nMostAtOnce > 0 &&
                       m_pServer->nActive >= m_pServer->nMostAtOnce) {
                nStatus = 503;
                file.strRetryAfter = m_pServer->strLimitRetryAfter;
            }
            call.nAnswer = nStatus == 0 ? 200 : std::max(nStatus, 0);
            m_pServer->vecCalls.push_back(call);
            if (nStatus != 0) {
                return Refusal(nStatus, file);
            }
            nCut = TakeFront(served.vecCutAt);
            nStall = TakeFront(served.vecStallAt);
            m_pServer->nMostActive = std::max(m_pServer->nMostActive, ++m_pServer->nActive);
        }
        RQBL_FETCH_RESULT result = Serve(request, file, nCut, nStall, sink);
        std::lock_guard<std::mutex> lock(m_pServer->mutex);
        --m_pServer->nActive;
        return result;
    }

    void Abort() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bAbort = true;
        m_cv.notify_all();
    }

private:
    static size_t TakeFront(std::vector<size_t>& v) {
        if (v.empty()) {
            return SIZE_MAX;
        }
        size_t n = v.front();
        v.erase(v.begin());
        return n;
    }

    static RQBL_FETCH_RESULT Refusal(int nStatus, const CFakeFile& file) {
        if (nStatus == -1) {
            return FetchResult(RQBLFetchError::CONNECT, 0, 11001);  // WSAHOST_NOT_FOUND
        }
        if (nStatus == -2) {
            RQBL_FETCH_RESULT result = FetchResult(RQBLFetchError::CONNECT, 0, 10061);  // WSAECONNREFUSED
            result.bRefused = true;
            return result;
        }
        RQBL_FETCH_RESULT result = FetchResult(RQBLFetchError::STATUS, nStatus);
        result.strRetryAfter = file.strRetryAfter;
        result.strDate = file.strDate;
        return result;
    }

    // Waits for the delay (on the test's clock when there is one); false
    // when the fetch was aborted meanwhile.
    bool Delay(std::chrono::milliseconds delay) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_pServer->pClock) {
            CRQTransferClock& clock = *m_pServer->pClock;
            const auto deadline = delay == delay.max() ? CRQTransferClock::kNever : clock.Now() + delay;
            return !clock.WaitUntil(lock, m_cv, deadline, [this] { return m_bAbort.load(); });
        }
        if (delay == delay.max()) {
            m_cv.wait(lock, [this] { return m_bAbort.load(); });
            return false;
        }
        return !m_cv.wait_for(lock, delay, [this] { return m_bAbort.load(); });
    }

    RQBL_FETCH_RESULT Serve(const RQBL_FETCH_REQUEST& request, const CFakeFile& file, size_t nCut,
                            size_t nStall, CRQBLFetchSink& sink) {
        RQBL_RESPONSE_HEAD head;
        size_t nStart = 0;
        size_t nEnd = file.strBody.size();
        bool bPartial =
            RQBLAsksRange(request) && !file.bIgnoresRanges && request.ullRangeStart < file.strBody.size() &&
            (request.strIfRange.empty() || request.strIfRange == file.strETag || file.bIgnoresIfRange);
        if (bPartial) {
            nStart = static_cast<size_t>(request.ullRangeStart);
            nStart -= std::min(nStart, file.nRangeStartsEarlier);
            if (request.ullRangeEnd > 0) {
                nEnd = static_cast<size_t>(std::min<uint64_t>(request.ullRangeEnd, nEnd));
            }
            head.nStatus = 206;
            head.ullRangeStart = nStart;
        } else {
            head.nStatus = 200;
        }
        head.bHasLength = !file.bNoLength;
        head.ullLength = file.bNoLength ? 0 : nEnd - nStart;
        head.strValidator = file.strETag;
        if (!sink.OnHead(head)) {
            return FetchResult(RQBLFetchError::SINK, head.nStatus);
        }
        size_t nSent = 0;
        for (size_t nPos = nStart; nPos < nEnd;) {
            if (m_bAbort) {
                return FetchResult(RQBLFetchError::ABORTED, head.nStatus);
            }
            if (nSent >= nStall) {
                Delay(std::chrono::milliseconds::max());
                return FetchResult(RQBLFetchError::ABORTED, head.nStatus);
            }
            if (nSent >= nCut) {
                return FetchResult(RQBLFetchError::CUT, head.nStatus);
            }
            size_t n = std::min({file.nChunkBytes, nEnd - nPos, nCut - nSent, nStall - nSent});
            if (file.delayPerChunk.count() > 0 && !Delay(file.delayPerChunk)) {
                return FetchResult(RQBLFetchError::ABORTED, head.nStatus);
            }
            if (!sink.OnData(reinterpret_cast<const uint8_t*>(file.strBody.data()) + nPos, n)) {
                return FetchResult(RQBLFetchError::SINK, head.nStatus);
            }
            {
                std::lock_guard<std::mutex> lock(m_pServer->mutex);
                m_pServer->ullBytesSent += n;
            }
            nPos += n;
            nSent += n;
        }
        return FetchResult(RQBLFetchError::NONE, head.nStatus);
    }

    std::shared_ptr<CFakeServer> m_pServer;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::atomic<bool> m_bAbort{false};
};

inline std::function<std::unique_ptr<CRQBLTransport>()> FakeTransports(std::shared_ptr<CFakeServer> pServer) {
    return [pServer] { return std::make_unique<CFakeTransport>(pServer); };
}

}  // namespace rqtest
