#include "tools/crashreceiver/posix/RQReceiverServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "tools/crashreceiver/RQReportStore.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxConnections = 16;
constexpr size_t kMaxHeadBytes = 16 * 1024;
// A client that sends nothing for this long is dropped; no upload may take
// longer than the whole limit.
constexpr auto kIdleLimit = std::chrono::seconds(30);
constexpr auto kUploadLimit = std::chrono::minutes(5);

void LogLine(const std::string& strClient, const std::string& strWhat) {
    int64_t nNow =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::fprintf(stderr, "%s %s %s\n", FormatUtc(nNow).c_str(), strClient.c_str(), strWhat.c_str());
}

bool SendAll(int nSocket, const std::string& strData) {
    size_t nSent = 0;
    while (nSent < strData.size()) {
        ssize_t n = send(nSocket, strData.data() + nSent, strData.size() - nSent, MSG_NOSIGNAL);
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

void SendResponse(int nSocket, const CRQResponse& response) {
    std::string strText =
        "HTTP/1.1 " + std::to_string(response.nStatus) + " " + ReasonPhrase(response.nStatus) +
        "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
        std::to_string(response.strBody.size()) + "\r\nConnection: close\r\n\r\n" + response.strBody;
    SendAll(nSocket, strText);
}

// Reads what has arrived into strData; false when the peer closed, a read
// failed, or nothing came within the limits.
bool ReadMore(int nSocket, std::string& strData, Clock::time_point tDeadline) {
    auto tWait = std::min(tDeadline - Clock::now(), Clock::duration(kIdleLimit));
    if (tWait <= Clock::duration::zero()) {
        return false;
    }
    pollfd pfd{nSocket, POLLIN, 0};
    int nReady =
        poll(&pfd, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(tWait).count()));
    if (nReady <= 0) {
        return false;
    }
    char buffer[65536];
    ssize_t n = recv(nSocket, buffer, sizeof(buffer), 0);
    if (n <= 0) {
        return false;
    }
    strData.append(buffer, static_cast<size_t>(n));
    return true;
}

// After an early answer the client may still be sending: reading a little of
// it before closing keeps the answer from being lost to a connection reset.
void CloseGently(int nSocket) {
    shutdown(nSocket, SHUT_WR);
    std::string strDiscard;
    Clock::time_point tDeadline = Clock::now() + std::chrono::seconds(1);
    while (strDiscard.size() < (64u << 20) && ReadMore(nSocket, strDiscard, tDeadline)) {
        strDiscard.clear();
    }
    close(nSocket);
}

}  // namespace

CRQReceiverServer::CRQReceiverServer(CRQReceiver& receiver) : m_receiver(receiver) {}

CRQReceiverServer::~CRQReceiverServer() {
    if (m_nListen >= 0) {
        close(m_nListen);
    }
    for (int nFd : m_nWake) {
        if (nFd >= 0) {
            close(nFd);
        }
    }
}

bool CRQReceiverServer::Listen(const std::string& strAddress, uint16_t nPort, std::string& strError) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nPort);
    if (inet_pton(AF_INET, strAddress.c_str(), &address.sin_addr) != 1) {
        strError = "not an IPv4 address: " + strAddress;
        return false;
    }
    if (pipe(m_nWake) != 0) {
        strError = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    m_nListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int nOn = 1;
    if (m_nListen < 0 || setsockopt(m_nListen, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof(nOn)) != 0 ||
        bind(m_nListen, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(m_nListen, 64) != 0) {
        strError =
            "cannot listen on " + strAddress + ":" + std::to_string(nPort) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t nLength = sizeof(address);
    getsockname(m_nListen, reinterpret_cast<sockaddr*>(&address), &nLength);
    m_nPort = ntohs(address.sin_port);
    return true;
}

void CRQReceiverServer::Stop() {
    char ch = 's';
    ssize_t nIgnored = write(m_nWake[1], &ch, 1);
    (void)nIgnored;
}

void CRQReceiverServer::Run() {
    for (;;) {
        pollfd pfds[2] = {{m_nListen, POLLIN, 0}, {m_nWake[0], POLLIN, 0}};
        if (poll(pfds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (pfds[1].revents != 0) {
            break;
        }
        sockaddr_in peer{};
        socklen_t nLength = sizeof(peer);
        int nSocket = accept4(m_nListen, reinterpret_cast<sockaddr*>(&peer), &nLength, SOCK_CLOEXEC);
        if (nSocket < 0) {
            continue;
        }
        char szAddress[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, szAddress, sizeof(szAddress));
        std::string strClient = szAddress;
        {
            std::lock_guard<std::mutex> lock(m_cs);
            if (m_nActive >= kMaxConnections) {
                SendResponse(nSocket, CRQResponse{503, "busy; try again later\n"});
                close(nSocket);
                LogLine(strClient, "503 busy");
                continue;
            }
            ++m_nActive;
        }
        try {
            std::thread(&CRQReceiverServer::Serve, this, nSocket, strClient).detach();
        } catch (const std::system_error&) {
            // No thread to be had: the client is told to come back later.
            SendResponse(nSocket, CRQResponse{503, "busy; try again later\n"});
            close(nSocket);
            LogLine(strClient, "503 no thread");
            Finished();
        }
    }
    std::unique_lock<std::mutex> lock(m_cs);
    m_cvIdle.wait(lock, [this] { return m_nActive == 0; });
}

void CRQReceiverServer::Finished() {
    std::lock_guard<std::mutex> lock(m_cs);
    --m_nActive;
    m_cvIdle.notify_all();
}

void CRQReceiverServer::Serve(int nSocket, const std::string& strClient) {
    Clock::time_point tDeadline = Clock::now() + kUploadLimit;
    std::string strData;
    size_t nHeadEnd = std::string::npos;
    while ((nHeadEnd = strData.find("\r\n\r\n")) == std::string::npos && strData.size() <= kMaxHeadBytes) {
        if (!ReadMore(nSocket, strData, tDeadline)) {
            close(nSocket);
            Finished();
            return;
        }
    }
    CRQResponse response;
    CRQRequestHead head;
    size_t nBodyBytes = 0;
    if (nHeadEnd == std::string::npos || nHeadEnd > kMaxHeadBytes) {
        response = CRQResponse{431, "request head too large\n"};
    } else if (!ParseRequestHead(strData.substr(0, nHeadEnd), head)) {
        response = CRQResponse{400, "malformed request\n"};
    } else if (m_receiver.AcceptHead(head, strClient, response, nBodyBytes)) {
        std::string strBody = strData.substr(nHeadEnd + 4);
        std::string().swap(strData);
        if (strBody.size() < nBodyBytes && head.Header("expect") == "100-continue") {
            SendAll(nSocket, "HTTP/1.1 100 Continue\r\n\r\n");
        }
        while (strBody.size() < nBodyBytes && ReadMore(nSocket, strBody, tDeadline)) {
        }
        if (strBody.size() < nBodyBytes) {
            response = CRQResponse{408, "the upload did not arrive in time\n"};
        } else {
            strBody.resize(nBodyBytes);
            response = m_receiver.TakeBody(head, strBody, strClient);
        }
    }
    SendResponse(nSocket, response);
    LogLine(strClient, head.strMethod + " " + head.strTarget + " " + std::to_string(response.nStatus) + " " +
                           response.strBody.substr(0, response.strBody.find('\n')));
    CloseGently(nSocket);
    Finished();
}
