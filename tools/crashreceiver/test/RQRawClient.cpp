#include "tools/crashreceiver/test/RQRawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

RQRawClient::RQRawClient(const std::string& strFrom, uint16_t nPort) {
    m_nSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(nPort);
    if (m_nSocket < 0 || inet_pton(AF_INET, strFrom.c_str(), &from.sin_addr) != 1 ||
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr) != 1 ||
        bind(m_nSocket, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0 ||
        connect(m_nSocket, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
        if (m_nSocket >= 0) {
            close(m_nSocket);
        }
        m_nSocket = -1;
    }
}

RQRawClient::~RQRawClient() {
    if (m_nSocket >= 0) {
        close(m_nSocket);
    }
}

bool RQRawClient::Send(const std::string& strData) {
    size_t nSent = 0;
    while (nSent < strData.size()) {
        ssize_t n = send(m_nSocket, strData.data() + nSent, strData.size() - nSent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        nSent += static_cast<size_t>(n);
    }
    return true;
}

bool RQRawClient::ReadSome(std::string& strAnswer, int nWaitMs) {
    pollfd pfd{m_nSocket, POLLIN, 0};
    if (poll(&pfd, 1, nWaitMs) <= 0) {
        return true;
    }
    char buffer[4096];
    ssize_t n = recv(m_nSocket, buffer, sizeof(buffer), 0);
    if (n <= 0) {
        return false;
    }
    strAnswer.append(buffer, static_cast<size_t>(n));
    return true;
}

std::string RQRawClient::ReadAnswer(std::chrono::milliseconds wait) {
    std::string strAnswer;
    Clock::time_point tEnd = Clock::now() + wait;
    while (Clock::now() < tEnd && ReadSome(strAnswer, 50)) {
    }
    return strAnswer;
}

std::string RQRawClient::Trickle(const std::string& strData, std::chrono::milliseconds pause,
                                 std::chrono::milliseconds giveUpAfter) {
    std::string strAnswer;
    Clock::time_point tEnd = Clock::now() + giveUpAfter;
    for (size_t i = 0; Clock::now() < tEnd; ++i) {
        if (i < strData.size()) {
            send(m_nSocket, &strData[i], 1, MSG_NOSIGNAL);  // fails once the receiver closed
        }
        if (!ReadSome(strAnswer, static_cast<int>(pause.count()))) {
            break;
        }
    }
    return strAnswer;
}

bool RQRawClient::Answered() {
    pollfd pfd{m_nSocket, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0;
}
