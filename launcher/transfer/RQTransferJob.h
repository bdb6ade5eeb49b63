// The download of listed files: what one transfer is asked to do, how it
// ended, and how far all transfers together have come.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "launcher/transfer/RQBackoff.h"
#include "launcher/transfer/RQProgressGuard.h"
#include "launcher/transfer/RQTransferClock.h"

struct RQ_TRANSFER_JOB {
    std::wstring strShown;    // the path as the script wrote it, for the player and the log
    std::wstring strUrlPath;  // appended to a server's base URL
    std::wstring strLocal;    // the destination, relative to the game folder
    // What the finished file must be. Without a check (the patch script
    // itself), any complete body is taken, and an unfinished one is never
    // resumed.
    bool bHasCheck = false;
    uint64_t ullSize = 0;
    uint32_t dwCrc = 0;
    // The SHA-256 in lower-case hex, or empty when the script names none.
    std::string strSha256;
    // The most bytes the file may have (0: no cap): announced or arriving,
    // more fails the try as CHECK_FAILED, cut off there. For the files
    // without a check (the script and the signed files beside it).
    uint64_t ullMaxBytes = 0;
    // Read and checked by its SHA-256 at every start, whatever the record of
    // verified files says: the programs and libraries of a launcher with keys,
    // which run with administrator rights.
    bool bCheckEveryStart = false;
    // A file the server may well not have (the compressed script, the signed
    // files beside the script): a 404 (or the 403 of a bucket that may not be
    // listed) ends the job at once, without the tries and their waits.
    bool bMayBeMissing = false;
    // The SHA-256 (lower-case hex) of the file's chunk index, or empty. With
    // it, the file is made from what the player already has and the changed
    // parts fetched compressed; a file whose index cannot be had or does not
    // pay is fetched whole.
    std::string strDeltaIndex;
};

enum class RQTransferFailure {
    NONE,
    // Tried, and given up after the last try (or after waiting for busy
    // servers for as long as the options allow); the last answer's kind is kept.
    UNREACHABLE,     // no server answered (or every one refused the connection)
    SERVER_REFUSED,  // a server answered with something other than the file (nStatus)
    INTERRUPTED,     // the transfer broke off or stopped making progress
    CHECK_FAILED,    // what arrived was not the listed file
    // Given up at once: trying again cannot help.
    DISK_FULL,      // not enough room for the file (ullNeeded, ullFree)
    FILE_IN_USE,    // another program holds the destination open
    FOLDER_IN_WAY,  // a folder stands where the file should be
    WRITE_FAILED,   // the file could not be written
    STOPPED,        // the launcher is closing
};

struct RQ_TRANSFER_OUTCOME {
    bool bDone = false;
    RQTransferFailure failure = RQTransferFailure::NONE;
    int nStatus = 0;  // SERVER_REFUSED: the last status
    uint32_t nTries = 0;
    // Answers of busy servers (503, 429, a refused connection): no tries.
    uint32_t nBusyAnswers = 0;
    uint64_t ullNeeded = 0;  // DISK_FULL: bytes the file still needed
    uint64_t ullFree = 0;    // DISK_FULL: bytes free on the volume
};

struct RQ_TRANSFER_OPTIONS {
    // The content server first, then its mirrors. Each try of a file goes to
    // the next one in turn; a server that asked to be left alone (503, 429,
    // a refused connection) is passed over while another can serve.
    std::vector<std::wstring> vecBaseUrls;
    // Requests under way at once, and the most one server is sent at once
    // (its limit adapts below that to what it takes).
    unsigned nParallel = 8;
    unsigned nTries = 10;
    // Pauses of busy servers and waits between tries.
    RQ_BACKOFF backoff;
    // Pauses that busy servers asked for before this queue (by the queue's
    // clock), one per server in vecBaseUrls or fewer; a later queue of the
    // same update does not send to a server that said "later" a moment ago.
    std::vector<CRQTransferClock::TimePoint> vecPausedUntil;
    // How long a file waits for busy servers, counted from the first busy
    // answer since its last try began to deliver: then it fails with that
    // answer. 0: at once (the next server is asked by whoever owns the queue).
    uint32_t dwBusyPatienceMs = 20 * 60 * 1000;
    // The same when every such answer was a refused or reset connection: a
    // server that never answers at all is more likely down than busy, and
    // the player learns so sooner. At most dwBusyPatienceMs.
    uint32_t dwRefusedPatienceMs = 2 * 60 * 1000;
    // When a try is given up for lack of progress; never for its length.
    RQ_PROGRESS_RULE progress;
    // Shared by all transfers; 0 for none.
    uint64_t ullRateLimitBytesPerSec = 0;
    // The running program's own file, relative to the game folder: replaced
    // by moving it aside, since a running program cannot be overwritten.
    std::wstring strSelfPath;
    // Where the validators of resumable unfinished downloads are kept; empty
    // for none (then nothing is resumed across runs).
    std::wstring strResumeRecordPath;
    // Waiting for an antivirus scanner or an indexer to let go of a file.
    uint32_t dwInUseWaitMs = 5000;
    // The time the queue goes by; null for the steady clock. A test hands in
    // one it moves on, and a fixed seed for the jitter's draws.
    std::shared_ptr<CRQTransferClock> pClock;
    uint32_t nJitterSeed = 0;  // 0: a fresh one per queue
};

struct RQ_TRANSFER_PROGRESS {
    uint64_t ullDoneBytes = 0;  // of the listed sizes, the files done and the parts received
    // The listed sizes of all jobs; for a file made from the player's old
    // one, what its plan fetches instead (known once the queue has prepared
    // such files: bPrepared).
    uint64_t ullTotalBytes = 0;
    uint64_t ullReceivedBytes = 0;  // from the network since the start (for the speed)
    uint32_t nFilesDone = 0;
    uint32_t nFilesTotal = 0;
    uint32_t nActive = 0;
    uint32_t nStarted = 0;  // responses that began
    uint32_t nRetries = 0;  // failed tries so far
    uint32_t nBusyAnswers = 0;
    // Nothing is under way because the servers asked to be left alone: the
    // next request goes out in ullRetryInMs.
    bool bWaitingForServer = false;
    uint64_t ullRetryInMs = 0;
    bool bPrepared = true;
    bool bEnded = false;
};
