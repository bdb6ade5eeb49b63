// The receiver's network side: a listening socket, one thread per upload
// (within the connection limits), deadlines on every read, the answer of
// CRQReceiver, and one log line per connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/crashreceiver/RQConnectionSlots.h"
#include "tools/crashreceiver/RQReceiver.h"
#include "tools/crashreceiver/RQServerOptions.h"

class CRQReceiverServer {
public:
    // Takes one finished line (no line break), from any thread.
    using LogSink = std::function<void(const std::string& strLine)>;

    CRQReceiverServer(CRQReceiver& receiver, const CRQServerOptions& options, LogSink log);
    ~CRQReceiverServer();
    CRQReceiverServer(const CRQReceiverServer&) = delete;
    CRQReceiverServer& operator=(const CRQReceiverServer&) = delete;

    // Binds and listens; port 0 takes a free one. False with the reason.
    bool Listen(const std::string& strAddress, uint16_t nPort, std::string& strError);
    uint16_t Port() const { return m_nPort; }

    // Serves until Stop, then waits for the uploads under way (each ends
    // within its time limit).
    void Run();
    // From any thread: Run returns soon after.
    void Stop();

private:
    void Accepted(int nSocket, const std::string& strPeer);
    void Serve(int nSocket, const std::string& strPeer);
    // The head, up to its blank line (at nHeadEnd), whole and before tDeadline;
    // else false, with the answer.
    bool ReadHead(int nSocket, std::chrono::steady_clock::time_point tDeadline, std::string& strData,
                  size_t& nHeadEnd, CRQResponse& refusal) const;
    // The rest of a body of nBodyBytes, at least as fast as the options ask and
    // before tLast; else false, with the answer.
    bool ReadBody(int nSocket, size_t nBodyBytes, std::chrono::steady_clock::time_point tLast,
                  std::string& strBody, CRQResponse& refusal) const;
    // strRequest: the request line's method and target, escaped and quoted,
    // or "-" when there is none.
    void Log(const std::string& strClient, const std::string& strRequest, const CRQResponse& response,
             const std::string& strAgent);

    CRQReceiver& m_receiver;
    const CRQServerOptions m_options;
    LogSink m_log;
    CRQConnectionSlots m_slots;
    int m_nListen = -1;
    int m_nWake[2] = {-1, -1};
    uint16_t m_nPort = 0;
};

// The log on standard error, each line written whole (threads do not mix).
void WriteLogLineToStderr(const std::string& strLine);
