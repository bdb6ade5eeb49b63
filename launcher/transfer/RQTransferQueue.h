// Downloads listed files, several at once: a fixed number of transfer slots,
// each with its own connection, take files from one queue until it is empty.
//
// Before each request a slot asks the server board which server may take it
// (the file's next server in turn, else another): a server that answered
// 503 or 429, or refused the connection, is left alone for its Retry-After
// or a back-off, by every slot at once, and the number of requests it gets at
// once adapts to what it takes. Such waits use up none of a file's tries
// (nTries); other failures do, each try going to the next server in turn,
// with a growing wait between them. A try is cut off only when it stops
// making progress, never for its length, and the next one resumes where it
// broke off. A watchdog keeps the progress rule; a stop ends everything at
// once, waits included.
//
// The slots are threads of their own, so that the owner is never blocked in
// the network: it starts the queue, then waits for its end in short steps,
// reading the progress and reporting it as it likes.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "baselib/RQBLTransport.h"
#include "baselib/log/RQBLLogSink.h"
#include "launcher/transfer/RQTransferJob.h"

class CRQTransferQueue {
public:
    using TransportFactory = std::function<std::unique_ptr<CRQBLTransport>()>;

    // log: where failed tries are reported; it outlives the queue and any
    // slot a stop leaves running.
    CRQTransferQueue(RQ_TRANSFER_OPTIONS options, TransportFactory fnMakeTransport, CRQBLLogSink& log);
    // Stops what still runs.
    ~CRQTransferQueue();
    CRQTransferQueue(const CRQTransferQueue&) = delete;
    CRQTransferQueue& operator=(const CRQTransferQueue&) = delete;

    // Once per queue.
    void Start(std::vector<RQ_TRANSFER_JOB> vecJobs);
    // Waits at most dwMilliseconds (of real time); true when every job has ended.
    bool WaitForEnd(uint32_t dwMilliseconds);
    RQ_TRANSFER_PROGRESS Progress() const;
    // One per job, in the order of the jobs; meaningful once they have ended.
    std::vector<RQ_TRANSFER_OUTCOME> Outcomes() const;
    // Until when each server asked to be left alone (by the queue's clock),
    // for the next queue of the update (RQ_TRANSFER_OPTIONS::vecPausedUntil).
    std::vector<CRQTransferClock::TimePoint> PausedUntil() const;
    // Ends every transfer; unfinished files stay as they were. Returns within
    // about two seconds: a slot caught in a network call that cannot be
    // interrupted is left to end on its own, on its own copy of the state.
    void Stop();

private:
    struct CState;
    std::shared_ptr<CState> m_pState;
};
