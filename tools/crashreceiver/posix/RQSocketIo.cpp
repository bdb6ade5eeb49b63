#include "tools/crashreceiver/posix/RQSocketIo.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

using Clock = std::chrono::steady_clock;

bool SendAll(int nSocket, const std::string& strData, int nFlags) {
    size_t nSent = 0;
    while (nSent < strData.size()) {
        ssize_t n = send(nSocket, strData.data() + nSent, strData.size() - nSent, MSG_NOSIGNAL | nFlags);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        nSent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

ERQRead ReadSome(int nSocket, std::string& strData, Clock::time_point tDeadline) {
    for (;;) {
        auto tWait = std::chrono::ceil<std::chrono::milliseconds>(tDeadline - Clock::now());
        if (tWait.count() <= 0) {
            return ERQRead::TIMED_OUT;
        }
        pollfd pfd{nSocket, POLLIN, 0};
        int nReady = poll(&pfd, 1, static_cast<int>(std::min<int64_t>(tWait.count(), 60000)));
        if (nReady < 0 && errno != EINTR) {
            return ERQRead::CLOSED;
        }
        if (nReady <= 0) {
            continue;  // the deadline is checked again above
        }
        char buffer[65536];
        ssize_t n = recv(nSocket, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return ERQRead::CLOSED;
        }
        strData.append(buffer, static_cast<size_t>(n));
        return ERQRead::DATA;
    }
}

std::string FormatResponse(const CRQResponse& response) {
    std::string strText = "HTTP/1.1 " + std::to_string(response.nStatus) + " " +
                          ReasonPhrase(response.nStatus) +
                          "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                          std::to_string(response.strBody.size()) + "\r\n";
    if (response.nRetryAfterSeconds > 0) {
        strText += "Retry-After: " + std::to_string(response.nRetryAfterSeconds) + "\r\n";
    }
    return strText + "Connection: close\r\n\r\n" + response.strBody;
}

void SendResponse(int nSocket, const CRQResponse& response) {
    // A client that reads nothing cannot hold the thread: the socket's send
    // time-out (set on accepting) ends the wait.
    SendAll(nSocket, FormatResponse(response), 0);
}

void SendContinue(int nSocket) {
    SendAll(nSocket, "HTTP/1.1 100 Continue\r\n\r\n", 0);
}

void CloseGently(int nSocket) {
    shutdown(nSocket, SHUT_WR);
    std::string strDiscard;
    Clock::time_point tDeadline = Clock::now() + std::chrono::seconds(1);
    while (ReadSome(nSocket, strDiscard, tDeadline) == ERQRead::DATA) {
        strDiscard.clear();
    }
    close(nSocket);
}

void RefuseAtOnce(int nSocket, const CRQResponse& response) {
    char buffer[4096];
    for (int nRead = 0; nRead < 16 && recv(nSocket, buffer, sizeof(buffer), MSG_DONTWAIT) > 0; ++nRead) {
    }
    SendAll(nSocket, FormatResponse(response), MSG_DONTWAIT);
    shutdown(nSocket, SHUT_WR);
    close(nSocket);
}
