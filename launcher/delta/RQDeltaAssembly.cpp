#include "launcher/delta/RQDeltaAssembly.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Old chunks are read, and the part written and hashed, in batches of this
// size: small enough that a batch is still in the processor's cache when it
// is written and hashed (batches of 1 MiB made the writer of a 256 MiB part
// the slowest step of an update, twice as slow as the line), large enough
// that system calls cost little.
constexpr size_t kReadBlockBytes = 128 * 1024;

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
    RQDeltaAssembled result = KeepPrefix(stop);
    std::thread writer;
    if (result == RQDeltaAssembled::DONE) {
        // The writer copies and writes in file order; this thread fetches
        // the ranges meanwhile, as far ahead as AHEAD_BYTES lets it.
        try {
            writer = std::thread([this, &result, &stop] {
                const RQDeltaAssembled written = WriteRuns(stop);
                std::lock_guard<std::mutex> lock(m_mutex);
                result = written;
                m_bWriterEnded = true;
                m_cv.notify_all();
            });
        } catch (const std::system_error&) {
            // No thread to be had: this one does both, one run after the other.
            m_bInline = true;
            result = WriteRuns(stop, &fnFetch, nTries, pReceived);
        }
    }
    if (writer.joinable()) {
        RQDeltaAssembled fetched = RQDeltaAssembled::DONE;
        for (const RQ_DELTA_RUN& run : m_plan.vecRuns) {
            if (run.source == RQDeltaSource::COPY) {
                continue;
            }
            fetched = Fetch(run, fnFetch, nTries, stop, pReceived);
            if (fetched != RQDeltaAssembled::DONE) {
                break;
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bFetchEnded = true;
            m_fetchResult = fetched;
        }
        m_cv.notify_all();
        writer.join();
    }
    if (result == RQDeltaAssembled::DONE && m_nNextChunk == m_index.vecChunks.size() && WrittenIsListed() &&
        m_finished.TakeOver(m_file, m_target.strPart) == rqbl::FileError::NONE) {
        return RQDeltaAssembled::DONE;
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
    // Whole but not the listed file: an old file changed since it was cut, or
    // chunks that do not make the listed size.
    rqbl::RemoveFile(m_target.strPart);
    return closed != rqbl::FileError::NONE ? RQDeltaAssembled::WRITE_FAILED : RQDeltaAssembled::CHECK_FAILED;
}

bool CRQDeltaAssembly::WrittenIsListed() {
    RQ_SHA256 digest{};
    return m_ullWritten == m_target.ullBytes && m_crc.Value() == m_target.dwCrc && m_sha.Final(digest) &&
           digest == m_target.sha256;
}

RQDeltaAssembled CRQDeltaAssembly::WriteRuns(const std::atomic<bool>& stop, const RQRangeFetchFn* pFetch,
                                             unsigned nTries, std::atomic<uint64_t>* pReceived) {
    RQDeltaAssembled result = RQDeltaAssembled::DONE;
    for (const RQ_DELTA_RUN& run : m_plan.vecRuns) {
        if (stop.load()) {
            result = RQDeltaAssembled::STOPPED;
            break;
        }
        if (run.source == RQDeltaSource::COPY) {
            result = Copy(run, stop);
        } else {
            result =
                pFetch != nullptr ? Fetch(run, *pFetch, nTries, stop, pReceived) : TakeFetched(run, stop);
        }
        if (result != RQDeltaAssembled::DONE) {
            break;
        }
    }
    if (!Flush() && result == RQDeltaAssembled::DONE) {
        result = WriteFailure();
    }
    return result;
}

RQDeltaAssembled CRQDeltaAssembly::WriteFailure() const {
    return m_writeError == rqbl::FileError::DISK_FULL ? RQDeltaAssembled::DISK_FULL
                                                      : RQDeltaAssembled::WRITE_FAILED;
}

RQDeltaAssembled CRQDeltaAssembly::TakeFetched(const RQ_DELTA_RUN& run, const std::atomic<bool>& stop) {
    const uint32_t nEnd = run.nFirstChunk + run.nChunks;
    while (m_nNextChunk < nEnd) {
        RQ_FETCHED_CHUNK chunk;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            while (m_queue.empty()) {
                if (m_bFetchEnded) {
                    // The ranges ended without this run's chunks.
                    return m_fetchResult == RQDeltaAssembled::DONE ? RQDeltaAssembled::FETCH_FAILED
                                                                   : m_fetchResult;
                }
                if (stop.load()) {
                    return RQDeltaAssembled::STOPPED;
                }
                // The stop flag is set without a word to this condition.
                m_cv.wait_for(lock, std::chrono::milliseconds(50));
            }
            chunk = std::move(m_queue.front());
            m_queue.pop_front();
            m_nQueuedBytes -= chunk.vecBytes.size();
        }
        m_cv.notify_all();  // room ahead again
        if (!WriteChunk(chunk.nChunk, chunk.vecBytes.data(), chunk.vecBytes.size())) {
            return m_writeError != rqbl::FileError::NONE ? WriteFailure() : RQDeltaAssembled::CHECK_FAILED;
        }
    }
    return RQDeltaAssembled::DONE;
}

bool CRQDeltaAssembly::HandOver(uint32_t nChunk, const uint8_t* pData, size_t nBytes,
                                const std::atomic<bool>& stop) {
    if (nChunk < m_nNextHanded) {
        return true;  // handed over by a try before
    }
    if (nChunk != m_nNextHanded) {
        return false;
    }
    if (m_bInline) {
        ++m_nNextHanded;
        return WriteChunk(nChunk, pData, nBytes);
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_nQueuedBytes >= AHEAD_BYTES && !m_bWriterEnded && !stop.load()) {
        m_cv.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (m_bWriterEnded || stop.load()) {
        return false;
    }
    m_queue.push_back(RQ_FETCHED_CHUNK{nChunk, std::vector<uint8_t>(pData, pData + nBytes)});
    m_nQueuedBytes += nBytes;
    ++m_nNextHanded;
    lock.unlock();
    m_cv.notify_all();
    return true;
}

RQDeltaAssembled CRQDeltaAssembly::KeepPrefix(const std::atomic<bool>& stop) {
    // The kept chunks were checked when the plan was made; the part is cut
    // back to them (anything after them is not to be trusted), and they are
    // hashed again as they lie on the disk now that the part is held.
    m_nNextChunk = m_plan.nKeptChunks;
    rqbl::FileError error = m_file.Open(m_target.strPart, m_plan.ullKeptBytes == 0, true);
    if (error == rqbl::FileError::NONE && m_plan.ullKeptBytes > 0) {
        error = m_file.KeepFirst(
            m_plan.ullKeptBytes,
            [this](const uint8_t* pData, size_t nBytes) {
                m_sha.Update(pData, nBytes);
                m_crc.Update(pData, nBytes);
                m_ullWritten += nBytes;
            },
            &stop);
    }
    if (error != rqbl::FileError::NONE) {
        m_file.Close();
    }
    if (error != rqbl::FileError::NONE && stop.load()) {
        return RQDeltaAssembled::STOPPED;  // the prefix stays for the next run
    }
    switch (error) {
        case rqbl::FileError::NONE:
            return RQDeltaAssembled::DONE;
        case rqbl::FileError::SHORT:
            // Cut short since the plan: none of it is to be trusted, and the
            // plan's sums no longer hold (the file is fetched whole).
            rqbl::RemoveFile(m_target.strPart);
            return RQDeltaAssembled::CHECK_FAILED;
        case rqbl::FileError::DISK_FULL:
            return RQDeltaAssembled::DISK_FULL;
        default:
            return RQDeltaAssembled::WRITE_FAILED;
    }
}

bool CRQDeltaAssembly::WriteChunk(uint32_t nChunk, const uint8_t* pData, size_t nBytes) {
    if (nChunk < m_nNextChunk) {
        return true;  // already in the part (the start of a block, or a try before)
    }
    if (nChunk != m_nNextChunk) {
        return false;
    }
    m_vecPending.insert(m_vecPending.end(), pData, pData + nBytes);
    ++m_nNextChunk;
    return m_vecPending.size() < kReadBlockBytes || Flush();
}

bool CRQDeltaAssembly::Flush() {
    // Chunks go to the disk in batches of about 128 KiB, in order: whatever
    // stops the run leaves a prefix of the new version all the same.
    if (!m_vecPending.empty() && m_writeError == rqbl::FileError::NONE) {
        m_sha.Update(m_vecPending.data(), m_vecPending.size());
        m_crc.Update(m_vecPending.data(), m_vecPending.size());
        m_ullWritten += m_vecPending.size();
        m_writeError = m_file.Write(m_vecPending.data(), m_vecPending.size());
    }
    m_vecPending.clear();
    return m_writeError == rqbl::FileError::NONE;
}

RQDeltaAssembled CRQDeltaAssembly::Copy(const RQ_DELTA_RUN& run, const std::atomic<bool>& stop) {
    std::map<uint32_t, std::unique_ptr<std::ifstream>> mapOpen;
    std::vector<uint8_t> vecRead;
    const uint32_t nEnd = run.nFirstChunk + run.nChunks;
    for (uint32_t i = run.nFirstChunk; i < nEnd;) {
        if (stop.load()) {
            return RQDeltaAssembled::STOPPED;
        }
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
        // Not hashed chunk by chunk: the whole file's hash, taken as it is
        // written, finds an old file that changed since it was cut.
        size_t nAt = 0;
        for (; i < j; ++i) {
            const RQ_DELTA_CHUNK& chunk = m_index.vecChunks[i];
            if (!WriteChunk(i, vecRead.data() + nAt, chunk.nBytes)) {
                return WriteFailure();
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
    m_nNextHanded = run.nFirstChunk;
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
                                   [this, &stop](uint32_t nChunk, const uint8_t* pData, size_t nBytes) {
                                       return HandOver(nChunk, pData, nBytes, stop);
                                   });
        const uint64_t ullStart = vecLeft.front().ullOffset;
        const uint64_t ullEnd = vecLeft.back().ullOffset + vecLeft.back().nStoredBytes;
        CRangeSink sink(ullStart, ullEnd, reader, pReceived);
        RQBL_FETCH_RESULT result;
        if (!fnFetch(RQ_RANGE_REQUEST{strObject, ullStart, ullEnd, nRequest}, sink, result)) {
            return RQDeltaAssembled::STOPPED;
        }
        if (reader.Result() == RQDeltaFrameResult::REFUSED) {
            // The writer gave up (its own result is the run's; its error is
            // this thread's to read only when it writes here), or a stop.
            return m_bInline && m_writeError != rqbl::FileError::NONE ? WriteFailure()
                                                                      : RQDeltaAssembled::STOPPED;
        }
        if (reader.Result() == RQDeltaFrameResult::DONE) {
            return RQDeltaAssembled::DONE;
        }
        // The frames that came whole and checked are handed over; the next try
        // asks for the rest. A damaged or forged frame is asked for again.
        size_t nDone = 0;
        while (nDone < vecLeft.size() &&
               vecLeft[nDone].nFirstChunk + vecLeft[nDone].nChunks <= m_nNextHanded) {
            ++nDone;
        }
        vecLeft.erase(vecLeft.begin(), vecLeft.begin() + static_cast<std::ptrdiff_t>(nDone));
        // A try that came further is a break in the line, not a broken range.
        nFruitless = nDone > 0 ? 0 : nFruitless + 1;
    }
    return RQDeltaAssembled::DONE;
}
