// The receiver's decisions on one upload, apart from the network: what to
// refuse from the request head alone, and what to answer for a body.
#pragma once

#include <cstddef>
#include <string>

#include "tools/crashreceiver/RQRateLimiter.h"
#include "tools/crashreceiver/RQReportStore.h"
#include "tools/crashreceiver/RQRequestHead.h"

struct CRQReceiverLimits {
    size_t nMaxBodyBytes = 32 * 1024 * 1024;
    size_t nReportsPerMinute = 6;  // per client address
    size_t nMaxParts = 64;
};

struct CRQResponse {
    int nStatus = 200;
    std::string strBody;         // text/plain
    int nRetryAfterSeconds = 0;  // sent as Retry-After when not 0
    std::string strLogNote;      // for the operator's log line instead of the body's first line;
                                 // any client text in it already escaped
};

class CRQReceiver {
public:
    CRQReceiver(CRQReportStore& store, const CRQReceiverLimits& limits);

    // False, with the answer to give, when the head alone settles the request
    // (wrong method, no or too large Content-Length, not form data, too many
    // requests from the address, no room for the announced size); else the
    // body's length to read.
    bool AcceptHead(const CRQRequestHead& head, const std::string& strClient, CRQResponse& refusal,
                    size_t& nBodyBytes);

    // Parses, checks and stores the report; the answer names its id.
    CRQResponse TakeBody(const CRQRequestHead& head, const std::string& strBody,
                         const std::string& strClient);

private:
    CRQReportStore& m_store;
    CRQReceiverLimits m_limits;
    CRQRateLimiter m_rate;
};

// The status line's reason phrase for the codes this receiver answers with.
const char* ReasonPhrase(int nStatus);
