#include "launcher/transfer/RQDownloadSink.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "baselib/RQBLMappedFile.h"
#include "baselib/RQBLSha256.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "patch/RQReservedNames.h"

namespace {

const wchar_t* const kTag = L"CRQDownloadSink::Commit";
constexpr int kTraceNum = 130022;
constexpr size_t kPrimeWindowBytes = 16 * 1024 * 1024;

bool SamePath(const std::wstring& a, const std::wstring& b) {
#ifdef _WIN32
    // File names on Windows do not regard case.
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (towupper(a[i]) != towupper(b[i])) {
            return false;
        }
    }
    return true;
#else
    return a == b;
#endif
}

}  // namespace

CRQDownloadSink::CRQDownloadSink(const RQ_TRANSFER_JOB& job, const RQ_TRANSFER_OPTIONS& options,
                                 RQ_SINK_LINKS links, CRQBLLogSink& log)
    : m_log(log),
      m_job(job),
      m_options(options),
      m_links(std::move(links)),
      m_strPart(RQDownloadTempPath(job.strLocal)) {}

CRQDownloadSink::~CRQDownloadSink() {
    FinishWrites();  // the writer works on this object's members
    m_file.Close();
}

bool CRQDownloadSink::MayResume() const {
    // Only a listed file's part can be known to belong to it. The validator
    // of its response keeps a changed file from being spliced on; without
    // one, a strong hash still tells a spliced file from the listed one at
    // the end (and the file starts over then), where a CRC-32 could be
    // matched by chance or on purpose.
    return m_job.bHasCheck && (!m_strValidator.empty() || !m_job.strSha256.empty());
}

void CRQDownloadSink::PrepareTry(const std::string& strValidator, bool bRecorded,
                                 RQBL_FETCH_REQUEST& request) {
    FinishWrites();
    m_file.Close();
    m_bHeadSeen = false;
    m_ullWritten = 0;
    m_ullOnDisk = 0;
    m_writeError = rqbl::FileError::NONE;
    m_refusal = RQTransferFailure::NONE;
    m_strValidator = strValidator;
    uint64_t ullPart = 0;
    if ((bRecorded || m_bWrotePart) && MayResume() && rqbl::GetRegularFileSize(m_strPart, ullPart) &&
        ullPart > 0 && ullPart < m_job.ullSize) {
        m_ullOffset = ullPart;
        PrimeChecksums();
        request.ullRangeStart = m_ullOffset;
        request.strIfRange = m_strValidator;  // none: the server sends the rest as it is now
    } else {
        StartOver();
        request.ullRangeStart = 0;
        request.strIfRange.clear();
    }
    PublishFileBytes();
}

void CRQDownloadSink::StartOver() {
    m_ullOffset = 0;
    ResetChecksums();
}

void CRQDownloadSink::ResetChecksums() {
    m_crc.Restart();
}

void CRQDownloadSink::PrimeChecksums() {
    ResetChecksums();
    auto fnWindow = [this](const uint8_t* pData, size_t nBytes) { m_crc.Update(pData, nBytes); };
    rqbl::MappedWalk walk = rqbl::WalkMappedFile(m_strPart.c_str(), kPrimeWindowBytes, fnWindow);
    if (walk != rqbl::MappedWalk::COMPLETE) {
        StartOver();  // unreadable: it cannot be continued
    }
}

bool CRQDownloadSink::Refuse(RQTransferFailure failure) {
    m_refusal = failure;
    return false;
}

bool CRQDownloadSink::OverCap(uint64_t ullBytes) {
    if (m_job.ullMaxBytes == 0 || ullBytes <= m_job.ullMaxBytes) {
        return false;
    }
    RQ_LOG(m_log, L"CRQDownloadSink::OnData", RQ_LOG_ERR)
        .Trace(kTraceNum, L"Download larger than it may be: %ls, over %ls bytes", m_job.strShown.c_str(),
               std::to_wstring(m_job.ullMaxBytes).c_str());
    return true;
}

RQTransferFailure CRQDownloadSink::LinkInTheWay() {
    RQ_LOG(m_log, kTag, RQ_LOG_ERR)
        .Trace(kTraceNum, L"A link or junction is in the way, nothing written: %ls", m_job.strShown.c_str());
    return RQTransferFailure::WRITE_FAILED;
}

bool CRQDownloadSink::OnHead(const RQBL_RESPONSE_HEAD& head) {
    m_bHeadSeen = true;
    if (head.nStatus == 206) {
        if (m_ullOffset == 0 || head.ullRangeStart != m_ullOffset) {
            return Refuse(RQTransferFailure::INTERRUPTED);  // not the rest that was asked for
        }
    } else {
        // The whole file: a changed file, a server without ranges, or a new start.
        StartOver();
        m_strValidator = head.strValidator;
    }
    uint64_t ullEnd = m_ullOffset + head.ullLength;
    if (m_job.bHasCheck && head.bHasLength && ullEnd != m_job.ullSize) {
        return Refuse(RQTransferFailure::CHECK_FAILED);  // the server's file is not the listed one
    }
    // Refused before a byte of the body is read.
    if (head.bHasLength && OverCap(ullEnd)) {
        return Refuse(RQTransferFailure::CHECK_FAILED);
    }
    uint64_t ullTotal = m_job.bHasCheck ? m_job.ullSize : (head.bHasLength ? head.ullLength : 0);
    m_ullNeeded = ullTotal - m_ullOffset;
    if (m_links.fnReserveRoom && !m_links.fnReserveRoom(m_ullNeeded, m_ullFree)) {
        return Refuse(RQTransferFailure::DISK_FULL);
    }
    // The folders are made and the part opened only where no link leads elsewhere.
    if (rqbl::CheckNoLinkOnPath(m_strPart) != rqbl::FileError::NONE) {
        LinkInTheWay();
        return Refuse(RQTransferFailure::WRITE_FAILED);
    }
    const std::wstring strFolder = std::filesystem::path(m_job.strLocal).parent_path().wstring();
    if (!strFolder.empty()) {
        // A failure shows when the part is opened.
        if (m_links.fnEnsureFolder) {
            m_links.fnEnsureFolder(strFolder);
        } else {
            std::error_code ec;
            std::filesystem::create_directories(strFolder, ec);
        }
    }
    rqbl::FileError error = m_file.Open(m_strPart, m_ullOffset == 0);
    if (error == rqbl::FileError::LINK) {
        LinkInTheWay();
    }
    if (error != rqbl::FileError::NONE) {
        return Refuse(error == rqbl::FileError::DISK_FULL ? RQTransferFailure::DISK_FULL
                                                          : RQTransferFailure::WRITE_FAILED);
    }
    m_bWrotePart = true;
    m_bWriteBehind = m_links.pWriter != nullptr &&
                     (!head.bHasLength || head.ullLength >= WRITE_BEHIND_MIN_BYTES) &&
                     m_links.pWriter->Begin(
                         [this](const uint8_t* pData, size_t nBytes) { return WritePiece(pData, nBytes); });
    if (m_links.fnResponse) {
        m_links.fnResponse(head.bHasLength, head.ullLength);
    }
    if (MayResume() && m_links.fnValidator) {
        m_links.fnValidator(m_strValidator);
    }
    PublishFileBytes();
    return true;
}

bool CRQDownloadSink::OnData(const uint8_t* pData, size_t nBytes) {
    if (m_job.bHasCheck && m_ullOffset + m_ullWritten + nBytes > m_job.ullSize) {
        return Refuse(RQTransferFailure::CHECK_FAILED);  // longer than the listed file
    }
    // A body without a length (or longer than it said) is cut at the cap.
    if (OverCap(m_ullOffset + m_ullWritten + nBytes)) {
        return Refuse(RQTransferFailure::CHECK_FAILED);
    }
    if (m_links.pLimiter != nullptr && m_links.pLimiter->IsLimited() &&
        !m_links.pLimiter->WaitToPass(nBytes, m_links.pAbort)) {
        return Refuse(RQTransferFailure::INTERRUPTED);
    }
    const bool bTaken = m_bWriteBehind ? m_links.pWriter->Push(pData, nBytes) : WritePiece(pData, nBytes);
    if (!bTaken) {
        FinishWrites();
        return Refuse(WriteFailure());
    }
    m_ullWritten += nBytes;
    if (m_links.pReceivedBytes != nullptr) {
        m_links.pReceivedBytes->fetch_add(nBytes);
    }
    return true;
}

bool CRQDownloadSink::WritePiece(const uint8_t* pData, size_t nBytes) {
    rqbl::FileError error = m_file.Write(pData, nBytes);
    if (error != rqbl::FileError::NONE) {
        m_writeError = error;
        if (error == rqbl::FileError::DISK_FULL) {
            rqbl::GetFreeDiskBytes(L".", m_ullFree);
            const uint64_t ullHave = m_ullOffset + m_ullOnDisk;
            m_ullNeeded = (m_job.bHasCheck ? m_job.ullSize : ullHave + nBytes) - ullHave;
        }
        return false;
    }
    m_crc.Update(pData, nBytes);
    m_ullOnDisk += nBytes;
    PublishFileBytes();
    return true;
}

bool CRQDownloadSink::FinishWrites() {
    if (m_bWriteBehind) {
        m_bWriteBehind = false;
        m_links.pWriter->Drain();
    }
    return m_writeError == rqbl::FileError::NONE;
}

RQTransferFailure CRQDownloadSink::WriteFailure() const {
    return m_writeError == rqbl::FileError::DISK_FULL ? RQTransferFailure::DISK_FULL
                                                      : RQTransferFailure::WRITE_FAILED;
}

void CRQDownloadSink::PublishFileBytes() {
    if (m_links.pFileBytes != nullptr) {
        m_links.pFileBytes->store(m_ullOffset + m_ullOnDisk);
    }
}

void CRQDownloadSink::RemovePart() {
    // A folder on the way that became a junction would lead the delete elsewhere.
    if (rqbl::CheckNoLinkOnPath(m_strPart) == rqbl::FileError::NONE) {
        rqbl::RemoveFile(m_strPart);
    }
}

void CRQDownloadSink::Abandon() {
    FinishWrites();
    m_file.Close();
    if (!MayResume() || m_refusal == RQTransferFailure::CHECK_FAILED || PartBytes() == 0) {
        RemovePart();
        StartOver();
        m_strValidator.clear();
    }
}

RQTransferFailure CRQDownloadSink::Commit(const std::atomic<bool>& stop) {
    if (!FinishWrites()) {
        m_file.Close();
        RemovePart();
        StartOver();
        return WriteFailure();
    }
    if (!m_bHeadSeen) {
        // An answer without a body still makes an (empty) file; never through a link.
        if (rqbl::CheckNoLinkOnPath(m_strPart) != rqbl::FileError::NONE ||
            m_file.Open(m_strPart, true) == rqbl::FileError::LINK) {
            return LinkInTheWay();
        }
    }
    if (m_file.Close() != rqbl::FileError::NONE) {
        RemovePart();
        return RQTransferFailure::WRITE_FAILED;
    }
    const uint64_t ullBytes = PartBytes();
    rqbl::CRQBLSealedFile sealed;
    RQTransferFailure failure = RQTransferFailure::NONE;
    if (m_job.bHasCheck && ullBytes == m_job.ullSize && m_crc.Value() == m_job.dwCrc) {
        failure = Seal(sealed, stop);
        if (failure == RQTransferFailure::NONE && !StrongHashMatches(sealed, stop)) {
            failure = stop.load() ? RQTransferFailure::STOPPED : RQTransferFailure::CHECK_FAILED;
        }
    } else if (m_job.bHasCheck) {
        failure = RQTransferFailure::CHECK_FAILED;
    } else {
        failure = Seal(sealed, stop);
    }
    if (failure == RQTransferFailure::CHECK_FAILED) {
        RQ_LOG(m_log, kTag, RQ_LOG_ERR)
            .Trace(kTraceNum, L"Downloaded file differs from its entry: %ls, %ls bytes, CRC %08X",
                   m_job.strShown.c_str(), std::to_wstring(ullBytes).c_str(), m_crc.Value());
    }
    if (failure == RQTransferFailure::NONE) {
        failure = PutInPlace(sealed, stop);
    }
    sealed.Close();
    if (failure != RQTransferFailure::NONE) {
        // Nothing half done stays behind: the old file as it was, no part.
        RemovePart();
        StartOver();
        m_strValidator.clear();
    }
    return failure;
}

RQTransferFailure CRQDownloadSink::CommitPart(rqbl::CRQBLSealedFile& held, const std::atomic<bool>& stop) {
    const RQTransferFailure failure =
        held.IsOpen() ? PutInPlace(held, stop) : RQTransferFailure::WRITE_FAILED;
    held.Close();
    if (failure != RQTransferFailure::NONE) {
        RemovePart();
    }
    return failure;
}

RQTransferFailure CRQDownloadSink::WhileHeld(const std::function<rqbl::FileError()>& fnTry,
                                             const std::atomic<bool>& stop) {
    // A virus scanner or an indexer often holds a new file, or the file it
    // replaces, for a moment: fnTry is tried again until it lets go.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.dwInUseWaitMs);
    for (;;) {
        switch (fnTry()) {
            case rqbl::FileError::NONE:
                return RQTransferFailure::NONE;
            case rqbl::FileError::IS_DIRECTORY:
                return RQTransferFailure::FOLDER_IN_WAY;
            case rqbl::FileError::LINK:
                return LinkInTheWay();
            case rqbl::FileError::IN_USE:
                break;
            default:
                return RQTransferFailure::WRITE_FAILED;
        }
        if (stop.load() || std::chrono::steady_clock::now() >= deadline) {
            return RQTransferFailure::FILE_IN_USE;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

RQTransferFailure CRQDownloadSink::Seal(rqbl::CRQBLSealedFile& sealed, const std::atomic<bool>& stop) {
    return WhileHeld(
        [&] {
            // A folder in place of the part is no folder in the way of the file:
            // the part could not be written.
            const rqbl::FileError error = sealed.Open(m_strPart);
            return error == rqbl::FileError::IS_DIRECTORY ? rqbl::FileError::OTHER : error;
        },
        stop);
}

bool CRQDownloadSink::StrongHashMatches(rqbl::CRQBLSealedFile& sealed, const std::atomic<bool>& stop) {
    if (m_job.strSha256.empty()) {
        return true;
    }
    // Size and CRC-32 find accidents; only the hash a signed script names
    // finds a file made to look like the listed one. It is taken of the part
    // as it lies on the disk, held: the bytes that arrived are not enough,
    // since the file could be changed after they were written.
    CRQBLSha256 sha;
    RQ_SHA256 expected{};
    RQ_SHA256 digest{};
    return RQBLParseSha256Hex(m_job.strSha256, expected) &&
           sealed.ReadAll([&](const uint8_t* pData, size_t nBytes) { sha.Update(pData, nBytes); }, &stop) &&
           sha.Final(digest) && digest == expected;
}

bool CRQDownloadSink::IsSelf() const {
    return !m_options.strSelfPath.empty() && SamePath(m_job.strLocal, m_options.strSelfPath);
}

RQTransferFailure CRQDownloadSink::PutInPlace(rqbl::CRQBLSealedFile& sealed, const std::atomic<bool>& stop) {
    if (rqbl::CheckNoLinkOnPath(m_job.strLocal) != rqbl::FileError::NONE) {
        return LinkInTheWay();
    }
    if (IsSelf()) {
        // A running program cannot be replaced, but it can be renamed: the old
        // one moves aside (and is removed at the next start), the new one
        // takes its name and runs from the next start on.
        const std::wstring strAside = RQReplacedPath(m_job.strLocal);
        rqbl::RemoveFile(strAside);
        if (rqbl::RenameFile(m_job.strLocal, strAside) != rqbl::FileError::NONE) {
            return RQTransferFailure::FILE_IN_USE;
        }
        if (sealed.RenameOver(m_job.strLocal) != rqbl::FileError::NONE) {
            rqbl::RenameFile(strAside, m_job.strLocal);
            return RQTransferFailure::WRITE_FAILED;
        }
        return RQTransferFailure::NONE;
    }
    return WhileHeld([&] { return sealed.RenameOver(m_job.strLocal); }, stop);
}
