// Reading and answering on a client's socket, each with a deadline.
#pragma once

#include <chrono>
#include <string>

#include "tools/crashreceiver/RQReceiver.h"

enum class ERQRead {
    DATA,       // more arrived
    CLOSED,     // the peer closed, or the connection failed
    TIMED_OUT,  // nothing came before the deadline
};

// Appends what arrives before tDeadline to strData.
ERQRead ReadSome(int nSocket, std::string& strData, std::chrono::steady_clock::time_point tDeadline);

// The whole answer, with Retry-After when the response names one and
// "Connection: close" (every connection serves one request).
std::string FormatResponse(const CRQResponse& response);
void SendResponse(int nSocket, const CRQResponse& response);
// The interim "100 Continue", bare: it is no answer, and must not close anything.
void SendContinue(int nSocket);

// After the answer: ends the connection, first reading for a moment what the
// client may still be sending, so that closing does not reset the connection
// and lose the answer.
void CloseGently(int nSocket);

// For the accept loop, which must wait on no client: reads only what has
// already arrived, answers without waiting (a fresh socket's send buffer
// holds a short answer) and closes.
void RefuseAtOnce(int nSocket, const CRQResponse& response);
