#include "launcher/delta/RQDeltaJob.h"

#include "baselib/RQBLSha256.h"
#include "patch/RQReservedNames.h"

bool CRQMemorySink::OnHead(const RQBL_RESPONSE_HEAD& head) {
    m_strBytes.clear();
    if (head.bHasLength && head.ullLength > m_ullMaxBytes) {
        m_bOverCap = true;
        return false;
    }
    if (head.bHasLength) {
        m_strBytes.reserve(static_cast<size_t>(head.ullLength));
    }
    return true;
}

bool CRQMemorySink::OnData(const uint8_t* pData, size_t nBytes) {
    if (m_strBytes.size() + nBytes > m_ullMaxBytes) {
        m_bOverCap = true;
        return false;
    }
    m_strBytes.append(reinterpret_cast<const char*>(pData), nBytes);
    return true;
}

bool RQAcceptDeltaIndex(const std::string& strBytes, const RQ_DELTA_FILE& file, RQ_DELTA_INDEX& index,
                        std::string& strWhy) {
    RQ_SHA256 expected{};
    RQ_SHA256 listed{};
    RQ_SHA256 digest{};
    CRQBLSha256 sha;
    sha.Update(reinterpret_cast<const uint8_t*>(strBytes.data()), strBytes.size());
    if (!RQBLParseSha256Hex(file.strIndexSha256, expected) || !sha.Final(digest) || digest != expected) {
        strWhy = "not the index the script names";
        return false;
    }
    if (!RQParseDeltaIndex(strBytes, file.ullBytes, index, strWhy)) {
        return false;
    }
    // Signed through slot 14, but for another file: the assembled file would
    // fail its own check at the end, after everything was fetched.
    if (!RQBLParseSha256Hex(file.strSha256, listed) || index.fileHash != listed) {
        strWhy = "an index of another file";
        return false;
    }
    return true;
}

bool RQFetchDeltaIndex(const RQ_DELTA_FILE& file, const RQRangeFetchFn& fnFetch, unsigned nTries,
                       RQ_DELTA_WORK& work, std::string& strWhy) {
    RQ_SHA256 hash{};
    if (!RQBLParseSha256Hex(file.strIndexSha256, hash)) {
        strWhy = "no index";
        return false;
    }
    RQ_RANGE_REQUEST request;
    request.strObject = RQDeltaObjectPath(hash, RQ_DELTA_INDEX_SUFFIX);
    strWhy = "no answer";
    for (request.nTry = 0; request.nTry < std::max(1u, nTries); ++request.nTry) {
        CRQMemorySink sink(RQDeltaIndexMaxBytes(file.ullBytes));
        RQBL_FETCH_RESULT result;
        if (!fnFetch(request, sink, result)) {
            strWhy = "stopped";
            return false;
        }
        if (sink.OverCap()) {
            strWhy = "larger than an index of the file can be";
            return false;
        }
        if (result.error == RQBLFetchError::NONE) {
            work.bIndexed = RQAcceptDeltaIndex(sink.Bytes(), file, work.index, strWhy);
            return work.bIndexed;
        }
        if (result.error == RQBLFetchError::STATUS) {
            strWhy = "status " + std::to_string(result.nStatus);
        }
    }
    return false;
}

void RQPlanDeltaWork(const RQ_DELTA_FILE& file, const CRQDeltaSeeds& seeds, const std::atomic<int64_t>* pStop,
                     RQ_DELTA_WORK& work) {
    if (!work.bIndexed) {
        return;
    }
    work.layout = RQDeltaLayout(work.index);
    const uint32_t nKept = RQValidPrefixChunks(RQDownloadTempPath(file.strLocal), work.index, pStop);
    work.plan = RQPlanDelta(work.index, work.layout, seeds, nKept);
    // A file with nothing of use on the disk and little to gain from
    // compression is cheaper whole: one request, no frames.
    work.bUsable = work.plan.ullFetchBytes + RQ_DELTA_REQUEST_BYTES * work.plan.nRequests <
                   file.ullBytes - work.plan.ullKeptBytes;
}
