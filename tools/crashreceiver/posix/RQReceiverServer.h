// The receiver's network side: a listening socket, one thread per upload (up
// to a limit), time limits on every read, and the answer of CRQReceiver.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "tools/crashreceiver/RQReceiver.h"

class CRQReceiverServer {
public:
    explicit CRQReceiverServer(CRQReceiver& receiver);
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
    void Serve(int nSocket, const std::string& strClient);
    void Finished();

    CRQReceiver& m_receiver;
    int m_nListen = -1;
    int m_nWake[2] = {-1, -1};
    uint16_t m_nPort = 0;
    std::mutex m_cs;
    std::condition_variable m_cvIdle;
    int m_nActive = 0;
};
