// A content server for tests: serves a folder on 127.0.0.1 (an ephemeral
// port) from a thread of the test program, takes uploads (any POST is
// answered 200 and kept with its body), and can be told, path by path, to
// misbehave the way real servers and networks do. Every wait inside it is
// bounded and Stop (or destruction) ends all of its threads.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rqtest {

struct CServerBehaviour {
    int nStatus = 200;
    // Body for a status other than 200; empty gives a small HTML error page.
    std::string strErrorBody;
    bool bNoContentLength = false;  // the body ends when the connection closes
    bool bChunked = false;          // Transfer-Encoding: chunked
    int64_t nCutAfter = -1;         // close cleanly after this many body bytes
    int64_t nResetAfter = -1;       // abort (RST) after this many body bytes
    uint32_t dwSlowDelayMs = 0;     // pause after every nSlowChunk body bytes
    size_t nSlowChunk = 1024;
    bool bStallAfterHeaders = false;  // send the headers, then nothing
    bool bNoResponse = false;         // read the request, answer nothing
    // With a 3xx status: where to go instead.
    std::string strLocation;
    // Sent as Retry-After when not empty.
    std::string strRetryAfter;
    // Answer "Range: bytes=N-" with the rest (206, Content-Range, an ETag).
    bool bRanges = false;
    // The cut or reset applies to the first this many answers only (-1: all).
    int nFaultyAnswers = -1;
    // An upload's body is read in pieces with this pause after each (a slow
    // server), so that the client's sending takes time.
    uint32_t dwSlowReadDelayMs = 0;
};

struct CServerRequest {
    std::string strMethod;
    std::string strPath;  // as sent, still percent-encoded
    std::string strUserAgent;
    std::string strPragma;
    std::string strCacheControl;
    std::string strRange;
    std::string strIfRange;
    std::string strContentType;
    std::string strBody;  // what came with an upload (Content-Length bytes)
    int nConnection = 0;  // number of the connection that carried it, from 1
    bool bStorm = false;  // answered by a storm (SetStorm)
};

class CRQTestHttpServer {
public:
    CRQTestHttpServer() = default;
    ~CRQTestHttpServer() { Stop(); }
    CRQTestHttpServer(const CRQTestHttpServer&) = delete;
    CRQTestHttpServer& operator=(const CRQTestHttpServer&) = delete;

    // Serves strRoot on 127.0.0.1; false when no socket could be set up.
    bool Start(const std::wstring& strRoot);
    void Stop();

    uint16_t Port() const { return m_nPort; }
    // "http://127.0.0.1:<port>/"
    std::wstring BaseUrl() const;

    // strPath is the decoded path after the host, e.g. "/data/a.dat" (UTF-8).
    void SetBehaviour(const std::string& strPath, const CServerBehaviour& behaviour);
    void ClearBehaviours();
    // A storm: from the next request on, for dwMs, every request is answered
    // nStatus with strRetryAfter (when not empty), whatever its path.
    void SetStorm(uint32_t dwMs, int nStatus, const std::string& strRetryAfter);

    std::vector<CServerRequest> Requests() const;
    // Body bytes sent so far in answers to that decoded path (all answers).
    uint64_t SentBodyBytes(const std::string& strDecodedPath) const;
    int Connections() const { return m_nConnections.load(); }
    // Bytes of upload bodies read so far, also of uploads still arriving.
    size_t BodyBytes() const { return m_nBodyBytes.load(); }

    // The longest a stalled answer waits before giving up by itself.
    enum : uint32_t { MAX_STALL_MS = 120000 };

private:
    void AcceptLoop();
    void Serve(SOCKET s, int nConnection);
    // Reads nBytes after what strBuffer holds; false when the peer stopped.
    bool ReadBody(SOCKET s, std::string& strBuffer, size_t nBytes, uint32_t dwDelayMs, std::string& strBody);
    bool Answer(SOCKET s, const CServerRequest& request, bool bKeepAlive);
    CServerBehaviour BehaviourFor(const std::string& strDecodedPath) const;
    bool PauseMs(uint32_t dwMs) const;  // false when the server stops meanwhile

    std::wstring m_strRoot;
    SOCKET m_listen = INVALID_SOCKET;
    uint16_t m_nPort = 0;
    bool m_bWsaStarted = false;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nConnections{0};
    std::atomic<size_t> m_nBodyBytes{0};
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    std::map<std::string, CServerBehaviour> m_mapBehaviours;
    std::map<std::string, int> m_mapAnswers;         // answers given, per path
    std::map<std::string, uint64_t> m_mapSentBytes;  // body bytes sent, per path
    uint32_t m_dwStormMs = 0;
    int m_nStormStatus = 0;
    std::string m_strStormRetryAfter;
    bool m_bStormStarted = false;
    std::chrono::steady_clock::time_point m_stormEnd;
    std::vector<CServerRequest> m_vecRequests;
    std::vector<std::thread> m_vecWorkers;
    std::vector<SOCKET> m_vecOpen;
};

// Percent-decoding of a URL path (bytes, not checked for UTF-8).
std::string UrlDecode(const std::string& strPath);

}  // namespace rqtest
