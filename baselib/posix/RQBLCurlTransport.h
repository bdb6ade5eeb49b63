// The transport outside Windows, on libcurl: what the operator's tools fetch
// with (mkpatch --verify) on a Linux machine. The same rules as the WinINet
// transport: only 200 (or 206 to a range) is content, a few redirects at
// most and never from https to http, certificates checked by the system, a
// POST's answer any 2xx and never redirected.
#pragma once

#include <atomic>
#include <cstdint>

#include "baselib/RQBLTransport.h"

class CRQBLCurlTransport : public CRQBLTransport {
public:
    // dwTimeoutMs: for a connection, and for any stretch without a byte.
    explicit CRQBLCurlTransport(uint32_t dwTimeoutMs);
    ~CRQBLCurlTransport() override;
    CRQBLCurlTransport(const CRQBLCurlTransport&) = delete;
    CRQBLCurlTransport& operator=(const CRQBLCurlTransport&) = delete;

    RQBL_FETCH_RESULT Fetch(const RQBL_FETCH_REQUEST& request, CRQBLFetchSink& sink) override;
    void Abort() override { m_bAbort = true; }

private:
    void* m_pCurl;  // CURL*, kept for its connection cache
    const uint32_t m_dwTimeoutMs;
    std::atomic<bool> m_bAbort{false};
};
