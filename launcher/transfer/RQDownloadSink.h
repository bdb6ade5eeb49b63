// Where one listed file's bytes go: a part file beside the destination
// (its name plus ".rqpart"), checked while it is written and put in place of
// the destination only when whole and right. A part of a listed file that
// broke off is kept for the next try, which asks only for the rest. The
// SHA-256 the script names is taken of the finished part itself, held so
// that nobody can change it, and the part takes the destination's name
// through that same hold. Nothing is made, written, moved or deleted through
// a link or junction in the game folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLSealedFile.h"
#include "baselib/RQBLStreamCrc.h"
#include "baselib/RQBLTransport.h"
#include "baselib/log/RQBLLogSink.h"
#include "launcher/transfer/RQBlockWriter.h"
#include "launcher/transfer/RQRateLimiter.h"
#include "launcher/transfer/RQTransferJob.h"

// What a sink needs of the transfers around it.
struct RQ_SINK_LINKS {
    CRQRateLimiter* pLimiter = nullptr;
    // Set when the try is to end: a wait for the rate cap ends early.
    const std::atomic<bool>* pAbort = nullptr;
    // Room on the volume for ullNeeded more bytes; false (with the free
    // bytes) when there is not enough.
    std::function<bool(uint64_t ullNeeded, uint64_t& ullFree)> fnReserveRoom;
    // The bytes of the file now on disk (part included); received bytes.
    std::atomic<uint64_t>* pFileBytes = nullptr;
    std::atomic<uint64_t>* pReceivedBytes = nullptr;
    // A response began (its length, where it has one).
    std::function<void(bool bHasLength, uint64_t ullLength)> fnResponse;
    // A validator to keep for a resumable part (a new response began).
    std::function<void(const std::string& strValidator)> fnValidator;
    // The slot's writer, for bodies large enough to be worth its thread;
    // null: everything is written as it arrives.
    CRQBlockWriter* pWriter = nullptr;
    // Makes the folder that the file goes in (folders already made by the
    // transfers are not asked for again); null: the sink makes it itself.
    std::function<void(const std::wstring& strFolder)> fnEnsureFolder;
};

class CRQDownloadSink : public CRQBLFetchSink {
public:
    CRQDownloadSink(const RQ_TRANSFER_JOB& job, const RQ_TRANSFER_OPTIONS& options, RQ_SINK_LINKS links,
                    CRQBLLogSink& log);
    ~CRQDownloadSink() override;
    CRQDownloadSink(const CRQDownloadSink&) = delete;
    CRQDownloadSink& operator=(const CRQDownloadSink&) = delete;

    // Sets up the next try: resumes the part when it may be, and fills in the
    // request's range. strValidator is the one the part's bytes came from
    // (empty when unknown); bRecorded: the resume record says an earlier run
    // made the part for this version of the file. A part this sink wrote is
    // its own in any case; any other is started over.
    void PrepareTry(const std::string& strValidator, bool bRecorded, RQBL_FETCH_REQUEST& request);

    bool OnHead(const RQBL_RESPONSE_HEAD& head) override;
    bool OnData(const uint8_t* pData, size_t nBytes) override;

    // After a fetch that ended well: checks the file and puts it in place.
    // NONE when done; otherwise why not (CHECK_FAILED may be tried again).
    RQTransferFailure Commit(const std::atomic<bool>& stop);
    // A part that another writer made and checked (a file made from the parts
    // the player already had), held by it since its first byte: put in place,
    // closed, and removed when that fails.
    RQTransferFailure CommitPart(rqbl::CRQBLSealedFile& held, const std::atomic<bool>& stop);
    // After a failed fetch: keeps a part that a later try can resume.
    void Abandon();

    // Bodies from this size on (or of unknown length) are written and hashed
    // on the slot's writer thread; smaller ones at once, since handing them
    // over would cost more than it saves.
    static constexpr uint64_t WRITE_BEHIND_MIN_BYTES = 256 * 1024;

    // Why the sink refused a response or its data (NONE when it did not).
    RQTransferFailure Refusal() const { return m_refusal; }
    uint64_t Needed() const { return m_ullNeeded; }
    uint64_t Free() const { return m_ullFree; }
    // Meaningful once the writes have finished (Commit, Abandon).
    uint64_t PartBytes() const { return m_ullOffset + m_ullOnDisk; }
    const std::string& Validator() const { return m_strValidator; }

private:
    bool Refuse(RQTransferFailure failure);
    // More than the job's cap (with the bytes that would follow): logged once.
    bool OverCap(uint64_t ullBytes);
    // A link in the way of the part or the destination: logged, WRITE_FAILED.
    RQTransferFailure LinkInTheWay();
    // Writes and hashes a piece: on the writer's thread, or at once.
    bool WritePiece(const uint8_t* pData, size_t nBytes);
    // Waits for the writer; false when a write failed (m_writeError says how).
    bool FinishWrites();
    RQTransferFailure WriteFailure() const;
    bool MayResume() const;
    void RemovePart();
    void StartOver();
    void ResetChecksums();
    void PrimeChecksums();
    void PublishFileBytes();
    // Holds the finished part until it is in place.
    // fnTry until it succeeds or fails for another reason than a file held
    // open elsewhere (FILE_IN_USE after dwInUseWaitMs).
    RQTransferFailure WhileHeld(const std::function<rqbl::FileError()>& fnTry, const std::atomic<bool>& stop);
    RQTransferFailure Seal(rqbl::CRQBLSealedFile& sealed, const std::atomic<bool>& stop);
    RQTransferFailure PutInPlace(rqbl::CRQBLSealedFile& sealed, const std::atomic<bool>& stop);
    bool IsSelf() const;
    bool StrongHashMatches(rqbl::CRQBLSealedFile& sealed, const std::atomic<bool>& stop);

    CRQBLLogSink& m_log;
    const RQ_TRANSFER_JOB m_job;
    const RQ_TRANSFER_OPTIONS& m_options;
    const RQ_SINK_LINKS m_links;
    const std::wstring m_strPart;

    rqbl::CRQBLOutFile m_file;
    uint64_t m_ullOffset = 0;   // bytes of the part kept from earlier tries
    uint64_t m_ullWritten = 0;  // bytes this try has taken (written, or handed to the writer)
    // Bytes of this try on disk, and how a write failed: the writer's own
    // while it runs, read here only after FinishWrites.
    uint64_t m_ullOnDisk = 0;
    rqbl::FileError m_writeError = rqbl::FileError::NONE;
    bool m_bWriteBehind = false;
    bool m_bHeadSeen = false;
    bool m_bWrotePart = false;  // the part on disk is this sink's own
    std::string m_strValidator;
    CRQBLStreamCrc m_crc;
    RQTransferFailure m_refusal = RQTransferFailure::NONE;
    uint64_t m_ullNeeded = 0;
    uint64_t m_ullFree = 0;
};
