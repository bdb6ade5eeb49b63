// Downloads listed files, several at once: a fixed number of transfer slots,
// each with its own connection, take files from one queue until it is empty.
// Every file gets up to nTries tries, each on the next server in turn, with a
// pause between them; a try that stalls or takes too long is cut off, and the
// next one resumes where it broke off. A watchdog keeps the time limits; a
// stop ends everything at once.
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
    // Waits at most dwMilliseconds; true when every job has ended.
    bool WaitForEnd(uint32_t dwMilliseconds);
    RQ_TRANSFER_PROGRESS Progress() const;
    // One per job, in the order of the jobs; meaningful once they have ended.
    std::vector<RQ_TRANSFER_OUTCOME> Outcomes() const;
    // Ends every transfer; unfinished files stay as they were. Returns within
    // about two seconds: a slot caught in a network call that cannot be
    // interrupted is left to end on its own, on its own copy of the state.
    void Stop();

private:
    struct CState;
    std::shared_ptr<CState> m_pState;
};
