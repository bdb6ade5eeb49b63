// A content server in memory and a transport that fetches from it, with the
// faults of real networks on request: refusals, cuts, stalls, changed files,
// servers that ignore If-Range. Platform-free, for the transfer tests.
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

namespace rqtest {

struct CFakeFile {
    std::string strBody;
    std::string strETag = "\"v1\"";
    // Per try, in order (the last one repeats): 0 serves the file, any other
    // status is answered instead, -1 refuses the connection.
    std::vector<int> vecStatuses;
    // Per try, in order (then none): the body breaks off after this many bytes.
    std::vector<size_t> vecCutAt;
    // Per try, in order (then none): after this many bytes nothing more comes
    // until the fetch is aborted.
    std::vector<size_t> vecStallAt;
    bool bIgnoresIfRange = false;
    // The answer announces no length: its end is the connection's.
    bool bNoLength = false;
    std::chrono::milliseconds delayPerChunk{0};
};

struct CFetchCall {
    std::wstring strUrl;
    uint64_t ullRangeStart = 0;
    std::string strIfRange;
};

class CFakeServer {
public:
    std::mutex mutex;
    std::map<std::wstring, CFakeFile> mapFiles;  // by whole URL
    std::vector<CFetchCall> vecCalls;
    uint64_t ullBytesSent = 0;
    int nActive = 0;
    int nMostActive = 0;

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

class CFakeTransport : public CRQBLTransport {
public:
    static constexpr size_t kChunk = 64 * 1024;

    explicit CFakeTransport(std::shared_ptr<CFakeServer> pServer) : m_pServer(std::move(pServer)) {}

    RQBL_FETCH_RESULT Fetch(const RQBL_FETCH_REQUEST& request, CRQBLFetchSink& sink) override {
        m_bAbort = false;
        CFakeFile file;
        int nStatus = 0;
        size_t nCut = SIZE_MAX;
        size_t nStall = SIZE_MAX;
        {
            std::lock_guard<std::mutex> lock(m_pServer->mutex);
            m_pServer->vecCalls.push_back({request.strUrl, request.ullRangeStart, request.strIfRange});
            auto it = m_pServer->mapFiles.find(request.strUrl);
            if (it == m_pServer->mapFiles.end()) {
                return {RQBLFetchError::STATUS, 404, 0};
            }
            CFakeFile& served = it->second;
            if (!served.vecStatuses.empty()) {
                nStatus = served.vecStatuses.front();
                if (served.vecStatuses.size() > 1) {
                    served.vecStatuses.erase(served.vecStatuses.begin());
                }
            }
            nCut = TakeFront(served.vecCutAt);
            nStall = TakeFront(served.vecStallAt);
            file = served;
            m_pServer->nMostActive = std::max(m_pServer->nMostActive, ++m_pServer->nActive);
        }
        RQBL_FETCH_RESULT result = Serve(request, file, nStatus, nCut, nStall, sink);
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

    RQBL_FETCH_RESULT Serve(const RQBL_FETCH_REQUEST& request, const CFakeFile& file, int nStatus,
                            size_t nCut, size_t nStall, CRQBLFetchSink& sink) {
        if (nStatus == -1) {
            return {RQBLFetchError::CONNECT, 0, 10061};
        }
        if (nStatus != 0) {
            return {RQBLFetchError::STATUS, nStatus, 0};
        }
        RQBL_RESPONSE_HEAD head;
        size_t nStart = 0;
        bool bPartial =
            request.ullRangeStart > 0 && request.ullRangeStart < file.strBody.size() &&
            (request.strIfRange.empty() || request.strIfRange == file.strETag || file.bIgnoresIfRange);
        if (bPartial) {
            nStart = static_cast<size_t>(request.ullRangeStart);
            head.nStatus = 206;
            head.ullRangeStart = nStart;
        } else {
            head.nStatus = 200;
        }
        head.bHasLength = !file.bNoLength;
        head.ullLength = file.bNoLength ? 0 : file.strBody.size() - nStart;
        head.strValidator = file.strETag;
        if (!sink.OnHead(head)) {
            return {RQBLFetchError::SINK, head.nStatus, 0};
        }
        size_t nSent = 0;
        for (size_t nPos = nStart; nPos < file.strBody.size();) {
            if (m_bAbort) {
                return {RQBLFetchError::ABORTED, head.nStatus, 0};
            }
            if (nSent >= nStall) {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cv.wait(lock, [this] { return m_bAbort.load(); });
                return {RQBLFetchError::ABORTED, head.nStatus, 0};
            }
            if (nSent >= nCut) {
                return {RQBLFetchError::CUT, head.nStatus, 0};
            }
            size_t n = std::min({kChunk, file.strBody.size() - nPos, nCut - nSent, nStall - nSent});
            if (file.delayPerChunk.count() > 0) {
                std::this_thread::sleep_for(file.delayPerChunk);
            }
            if (!sink.OnData(reinterpret_cast<const uint8_t*>(file.strBody.data()) + nPos, n)) {
                return {RQBLFetchError::SINK, head.nStatus, 0};
            }
            {
                std::lock_guard<std::mutex> lock(m_pServer->mutex);
                m_pServer->ullBytesSent += n;
            }
            nPos += n;
            nSent += n;
        }
        return {RQBLFetchError::NONE, head.nStatus, 0};
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
