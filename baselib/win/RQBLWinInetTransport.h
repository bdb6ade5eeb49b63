// The transport on WinINet: one synchronous request at a time per object (a
// GET, or a POST whose body goes in pieces), through a direct connection and
// past every cache, with redirects of a GET followed by hand (a few at most,
// never from https to http, each to the server its own URL names) and the
// certificate checked by the system.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "baselib/RQBLTransport.h"
#include "baselib/win/RQBLInternetHandle.h"

// The session that the transports of one update share (InternetOpen).
class CRQBLInternetSession {
public:
    // dwTimeoutMs: how long to wait for a connection, for a response to begin
    // and for each read. Under Wine the wait cannot be cut short from another
    // thread, so this also bounds how long an aborted fetch lingers.
    // nConnectionsPerServer: connections the process may open to one server
    // (a process-wide setting); 0 leaves it as it is.
    CRQBLInternetSession(uint32_t dwTimeoutMs, unsigned nConnectionsPerServer);
    bool IsOpen() const { return static_cast<bool>(m_hSession); }
    HINTERNET Get() const { return m_hSession.Get(); }
    uint32_t TimeoutMs() const { return m_dwTimeoutMs; }

private:
    CRQBLInternetHandle m_hSession;
    const uint32_t m_dwTimeoutMs;
};

class CRQBLWinInetTransport : public CRQBLTransport {
public:
    explicit CRQBLWinInetTransport(std::shared_ptr<CRQBLInternetSession> pSession);
    ~CRQBLWinInetTransport() override;
    CRQBLWinInetTransport(const CRQBLWinInetTransport&) = delete;
    CRQBLWinInetTransport& operator=(const CRQBLWinInetTransport&) = delete;

    RQBL_FETCH_RESULT Fetch(const RQBL_FETCH_REQUEST& request, CRQBLFetchSink& sink) override;
    void Abort() override;

    enum : size_t {
        READ_MAX = 4 * 1024 * 1024,
        // The rest of a body of known length is asked for in one read from
        // this size down: a small file then costs one call instead of three.
        READ_REST_MAX = 64 * 1024,
        READ_AHEAD_MS = 50,
        RATE_WINDOW_MS = 250,
        // An upload's body goes in pieces of this size.
        SEND_PIECE = 64 * 1024,
    };

private:
    // One hop: sends the request for strUrl; on success m_hRequest is open.
    RQBL_FETCH_RESULT Send(const std::wstring& strUrl, const RQBL_FETCH_REQUEST& request);
    // A POST's headers and body; false when sending failed or was aborted.
    bool SendBody(HINTERNET hRequest, const std::wstring& strHeaders, const RQBL_FETCH_REQUEST& request);
    RQBL_FETCH_RESULT Receive(const RQBL_FETCH_REQUEST& request, CRQBLFetchSink& sink);
    void CloseHandles();
    bool Aborted() const { return m_bAbort.load(); }

    std::shared_ptr<CRQBLInternetSession> m_pSession;
    std::unique_ptr<uint8_t[]> m_pBuffer;
    std::atomic<bool> m_bAbort{false};
    // Guards the handles against Abort closing them from another thread.
    std::mutex m_mutex;
    CRQBLInternetHandle m_hConnect;
    CRQBLInternetHandle m_hRequest;
};
