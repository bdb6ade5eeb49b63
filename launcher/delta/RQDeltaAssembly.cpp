#include "launcher/delta/RQDeltaAssembly.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <vector>

#include "baselib/RQBLFileBlocks.h"

namespace {

constexpr size_t kReadBlockBytes = 1024 * 1024;

// The answer to one range request: frames into the reader, skipping what a
// server that ignores ranges sends before the range, stopping after it.
class CRangeSink : public CRQBLFetchSink {
public:
    CRangeSink(uint64_t ullStart, uint64_t ullEnd, CRQDeltaFrameReader& reader,
               std::atomic<uint64_t>* pReceived)
        : m_ullStart(ullStart), m_ullEnd(ullEnd), m_reader(reader), m_pReceived(pReceived) {}

    bool OnHead(const RQBL_RESPONSE_HEAD& head) override {
        if (head.nStatus == 206) {
            // Only the range asked for: a range that starts elsewhere would
            // splice the wrong bytes in.
            m_ullPosition = m_ullStart;
            return head.ullRangeStart == m_ullStart &&
                   (!head.bHasLength || head.ullLength <= m_ullEnd - m_ullStart);
        }
        m_ullPosition = 0;  // the whole object: the range is in it somewhere
        return true;
    }

    bool OnData(const uint8_t* pData, size_t nBytes) override {
        if (m_pReceived != nullptr) {
            m_pReceived->fetch_add(nBytes);
        }
        const uint64_t ullFrom = m_ullPosition;
        m_ullPosition += nBytes;
        if (m_ullPosition <= m_ullStart) {
            return true;
        }
        const uint64_t ullSkip = ullFrom < m_ullStart ? m_ullStart - ullFrom : 0;
        const uint64_t ullTake =
            std::min<uint64_t>(nBytes - ullSkip, m_ullEnd - std::max(ullFrom, m_ullStart));
        const RQDeltaFrameResult result = m_reader.Feed(pData + ullSkip, static_cast<size_t>(ullTake));
        // Done: the rest of a whole object is not wanted.
        return result == RQDeltaFrameResult::MORE;
    }

private:
    const uint64_t m_ullStart;
    const uint64_t m_ullEnd;
    CRQDeltaFrameReader& m_reader;
    std::atomic<uint64_t>* m_pReceived;
    uint64_t m_ullPosition = 0;
};

}  // namespace

CRQDeltaAssembly::CRQDeltaAssembly(const RQ_DELTA_INDEX& index, const RQ_DELTA_LAYOUT& layout,
                                   const RQ_DELTA_PLAN& plan, const CRQDeltaSeeds& seeds,
                                   RQ_DELTA_TARGET target)
    : m_index(index), m_layout(layout), m_plan(plan), m_seeds(seeds), m_target(std::move(target)) {}

RQDeltaAssembled CRQDeltaAssembly::Run(const RQRangeFetchFn& fnFetch, unsigned nTries,
                                       const std::atomic<bool>& stop, std::atomic<uint64_t>* pReceived) {
    RQDeltaAssembled result = KeepPrefix();
    for (size_t i = 0; result == RQDeltaAssembled::DONE && i < m_plan.vecRuns.size(); ++i) {
        if (stop.load()) {
            result = RQDeltaAssembled::STOPPED;
            break;
        }
        const RQ_DELTA_RUN& run = m_plan.vecRuns[i];
        result = run.source == RQDeltaSource::COPY ? Copy(run) : Fetch(run, fnFetch, nTries, stop, pReceived);
    }
    if (!Flush() && result == RQDeltaAssembled::DONE) {
        result = m_writeError == rqbl::FileError::DISK_FULL ? RQDeltaAssembled::DISK_FULL
                                                            : RQDeltaAssembled::WRITE_FAILED;
    }
    const rqbl::FileError closed = m_file.Close();
    if (result != RQDeltaAssembled::DONE) {
        // What was written so far is a prefix of the new version: kept for
        // the next try or run (a part that cannot even be closed is not).
        if (closed != rqbl::FileError::NONE) {
            rqbl::RemoveFile(m_target.strPart);
        }
        return result;
    }
    RQ_SHA256 digest{};
    if (closed != rqbl::FileError::NONE || m_nNextChunk != m_index.vecChunks.size() || !m_sha.Final(digest) ||
        digest != m_target.sha256 || m_crc.Value() != m_target.dwCrc ||
        m_layout.vecFileOffsets.back() != m_target.ullBytes) {
        rqbl::RemoveFile(m_target.strPart);
        return closed != rqbl::FileError::NONE ? RQDeltaAssembled::WRITE_FAILED
                                               : RQDeltaAssembled::CHECK_FAILED;
    }
    return RQDeltaAssembled::DONE;
}

RQDeltaAssembled CRQDeltaAssembly::KeepPrefix() {
    // The kept chunks were checked when the plan was made; the part is cut
    // back to them (anything after them is not to be trusted) and their
    // bytes go into the whole file's sums.
    std::error_code ec;
    if (m_plan.ullKeptBytes > 0) {
        std::filesystem::resize_file(std::filesystem::path(m_target.strPart), m_plan.ullKeptBytes, ec);
        auto fnBlock = [this](const uint8_t* pData, size_t nBytes) {
            m_crc.Update(pData, nBytes);
            m_sha.Update(pData, nBytes);
        };
        std::vector<uint8_t> buffer(kReadBlockBytes);
        if (ec || rqbl::ReadFileBlocks(m_target.strPart, buffer.data(), buffer.size(), nullptr, fnBlock) !=
                      rqbl::BlockRead::COMPLETE) {
            return RQDeltaAssembled::WRITE_FAILED;
        }
    }
    m_nNextChunk = m_plan.nKeptChunks;
    const rqbl::FileError error = m_file.Open(m_target.strPart, m_plan.ullKeptBytes == 0);
    if (error != rqbl::FileError::NONE) {
        return error == rqbl::FileError::DISK_FULL ? RQDeltaAssembled::DISK_FULL
                                                   : RQDeltaAssembled::WRITE_FAILED;
    }
    return RQDeltaAssembled::DONE;
}

bool CRQDeltaAssembly::WriteChunk(uint32_t nChunk, const uint8_t* pData, size_t nBytes) {
    if (nChunk < m_nNextChunk) {
        return true;  // already in the part (the start of a block, or a try before)
    }
    if (nChunk != m_nNextChunk) {
        return false;
    }
    m_vecPending.insert(m_vecPending.end(), pData, pData + nBytes);
    m_crc.Update(pData, nBytes);
    m_sha.Update(pData, nBytes);
    ++m_nNextChunk;
    return m_vecPending.size() < kReadBlockBytes || Flush();
}

bool CRQDeltaAssembly::Flush() {
    // Chunks go to the disk in batches of about 1 MiB, in order: whatever
    // stops the run leaves a prefix of the new version all the same.
    if (!m_vecPending.empty() && m_writeError == rqbl::FileError::NONE) {
        m_writeError = m_file.Write(m_vecPending.data(), m_vecPending.size());
    }
    m_vecPending.clear();
    return m_writeError == rqbl::FileError::NONE;
}

RQDeltaAssembled CRQDeltaAssembly::Copy(const RQ_DELTA_RUN& run) {
    std::map<uint32_t, std::unique_ptr<std::ifstream>> mapOpen;
    std::vector<uint8_t> vecRead;
    const uint32_t nEnd = run.nFirstChunk + run.nChunks;
    for (uint32_t i = run.nFirstChunk; i < nEnd;) {
        const RQ_SEED_CHUNK* pFirst = m_seeds.Find(m_index.vecChunks[i].hash);
        if (pFirst == nullptr) {
            return RQDeltaAssembled::CHECK_FAILED;
        }
        // The chunks that lie one after another in the same old file are read
        // at once (an old file copied in 8 KiB reads would cost a system call
        // per chunk).
        uint32_t j = i + 1;
        uint64_t ullBytes = m_index.vecChunks[i].nBytes;
        while (j < nEnd && ullBytes < kReadBlockBytes) {
            const RQ_SEED_CHUNK* pNext = m_seeds.Find(m_index.vecChunks[j].hash);
            if (pNext == nullptr || pNext->nFile != pFirst->nFile ||
                pNext->ullOffset != pFirst->ullOffset + ullBytes) {
                break;
            }
            ullBytes += m_index.vecChunks[j].nBytes;
            ++j;
        }
        std::unique_ptr<std::ifstream>& pIn = mapOpen[pFirst->nFile];
        if (!pIn) {
            pIn = std::make_unique<std::ifstream>(std::filesystem::path(m_seeds.FilePath(pFirst->nFile)),
                                                  std::ios::binary);
        }
        vecRead.resize(static_cast<size_t>(ullBytes));
        pIn->seekg(static_cast<std::streamoff>(pFirst->ullOffset));
        if (!pIn->read(reinterpret_cast<char*>(vecRead.data()), static_cast<std::streamsize>(ullBytes))) {
            return RQDeltaAssembled::CHECK_FAILED;
        }
        // The old file may have changed since it was cut: every chunk is
        // checked again.
        size_t nAt = 0;
        for (; i < j; ++i) {
            const RQ_DELTA_CHUNK& chunk = m_index.vecChunks[i];
            RQ_CHUNK_HASH hash{};
            if (!RQChunkHashOf(m_chunkSha, vecRead.data() + nAt, chunk.nBytes, hash) || hash != chunk.hash) {
                return RQDeltaAssembled::CHECK_FAILED;
            }
            if (!WriteChunk(i, vecRead.data() + nAt, chunk.nBytes)) {
                return m_writeError == rqbl::FileError::DISK_FULL ? RQDeltaAssembled::DISK_FULL
                                                                  : RQDeltaAssembled::WRITE_FAILED;
            }
            nAt += chunk.nBytes;
        }
    }
    return RQDeltaAssembled::DONE;
}

RQDeltaAssembled CRQDeltaAssembly::Fetch(const RQ_DELTA_RUN& run, const RQRangeFetchFn& fnFetch,
                                         unsigned nTries, const std::atomic<bool>& stop,
                                         std::atomic<uint64_t>* pReceived) {
    const std::wstring strObject = run.source == RQDeltaSource::PACK
                                       ? RQDeltaObjectPath(m_index.packHash, RQ_DELTA_PACK_SUFFIX)
                                       : RQDeltaObjectPath(m_index.zstHash, RQ_DELTA_ZST_SUFFIX);
    std::vector<RQ_DELTA_FRAME> vecLeft = run.vecFrames;
    unsigned nRequest = 0;
    // Tries in a row that brought no frame further.
    for (unsigned nFruitless = 0; !vecLeft.empty(); ++nRequest) {
        if (stop.load()) {
            return RQDeltaAssembled::STOPPED;
        }
        if (nFruitless == std::max(1u, nTries)) {
            return RQDeltaAssembled::FETCH_FAILED;
        }
        CRQDeltaFrameReader reader(m_index, vecLeft,
                                   [this](uint32_t nChunk, const uint8_t* pData, size_t nBytes) {
                                       return WriteChunk(nChunk, pData, nBytes);
                                   });
        const uint64_t ullStart = vecLeft.front().ullOffset;
        const uint64_t ullEnd = vecLeft.back().ullOffset + vecLeft.back().nStoredBytes;
        CRangeSink sink(ullStart, ullEnd, reader, pReceived);
        RQBL_FETCH_RESULT result;
        if (!fnFetch(RQ_RANGE_REQUEST{strObject, ullStart, ullEnd, nRequest}, sink, result)) {
            return RQDeltaAssembled::STOPPED;
        }
        if (reader.Result() == RQDeltaFrameResult::REFUSED) {
            return m_writeError == rqbl::FileError::DISK_FULL ? RQDeltaAssembled::DISK_FULL
                                                              : RQDeltaAssembled::WRITE_FAILED;
        }
        if (reader.Result() == RQDeltaFrameResult::DONE) {
            return RQDeltaAssembled::DONE;
        }
        // The frames that came whole and checked are written; the next try
        // asks for the rest. A damaged or forged frame is asked for again.
        size_t nDone = 0;
        while (nDone < vecLeft.size() &&
               vecLeft[nDone].nFirstChunk + vecLeft[nDone].nChunks <= m_nNextChunk) {
            ++nDone;
        }
        vecLeft.erase(vecLeft.begin(), vecLeft.begin() + static_cast<std::ptrdiff_t>(nDone));
        // A try that came further is a break in the line, not a broken range.
        nFruitless = nDone > 0 ? 0 : nFruitless + 1;
    }
    return RQDeltaAssembled::DONE;
}
