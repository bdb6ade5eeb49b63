// A test client that speaks to the receiver byte by byte, from a loopback
// address of its choice (all of 127.0.0.0/8 is the machine itself), to play
// the slow, the greedy and the hostile.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class RQRawClient {
public:
    // Connects from strFrom (an address in 127.0.0.0/8) to 127.0.0.1:nPort.
    RQRawClient(const std::string& strFrom, uint16_t nPort);
    ~RQRawClient();
    RQRawClient(const RQRawClient&) = delete;
    RQRawClient& operator=(const RQRawClient&) = delete;

    bool Connected() const { return m_nSocket >= 0; }
    // False once the receiver has closed its side.
    bool Send(const std::string& strData);
    // Everything that arrives until the receiver closes or the time is up.
    std::string ReadAnswer(std::chrono::milliseconds wait);
    // Sends strData one byte every pause, until the receiver answers and closes
    // or the time is up; returns the answer.
    std::string Trickle(const std::string& strData, std::chrono::milliseconds pause,
                        std::chrono::milliseconds giveUpAfter);
    // True when something has arrived or the receiver has closed.
    bool Answered();

private:
    // Reads what is there within the wait; false when the receiver has closed.
    bool ReadSome(std::string& strAnswer, int nWaitMs);

    int m_nSocket = -1;
};
