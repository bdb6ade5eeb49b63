#include "tools/crashreceiver/posix/RQReceiverServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "tools/crashreceiver/RQClientText.h"
#include "tools/crashreceiver/RQReportStore.h"
#include "tools/crashreceiver/posix/RQSocketIo.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxHeadBytes = 16 * 1024;
constexpr size_t kLoggedRequestBytes = 200;
constexpr size_t kLoggedAgentBytes = 100;
// Connections end within the upload limit, so a refused client may come back soon.
constexpr int kBusyRetrySeconds = 10;
// An answer that cannot be handed to the client this fast is dropped.
constexpr time_t kSendTimeLimitSeconds = 5;

std::string SecondsText(std::chrono::milliseconds time) {
    char sz[32];
    std::snprintf(sz, sizeof(sz), "%g s", static_cast<double>(time.count()) / 1000.0);
    return sz;
}

CRQResponse Refusal(int nStatus, const std::string& strBody, int nRetryAfterSeconds,
                    const std::string& strNote) {
    return CRQResponse{nStatus, strBody + "\n", nRetryAfterSeconds, strNote};
}

bool IsIpAddress(const std::string& strText) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, strText.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, strText.c_str(), buffer) == 1;
}

// Who sent the request: the peer, or the player a trusted proxy names.
std::string ClientOf(const std::string& strPeer, const CRQRequestHead& head, const std::string& strProxy) {
    if (strProxy.empty() || strPeer != strProxy) {
        return strPeer;
    }
    std::string strNamed = head.Header("x-real-ip");
    return IsIpAddress(strNamed) ? strNamed : strPeer;
}

}  // namespace

void WriteLogLineToStderr(const std::string& strLine) {
    std::string strWhole = strLine + "\n";
    std::fwrite(strWhole.data(), 1, strWhole.size(), stderr);
}

CRQReceiverServer::CRQReceiverServer(CRQReceiver& receiver, const CRQServerOptions& options, LogSink log)
    : m_receiver(receiver),
      m_options(options),
      m_log(std::move(log)),
      m_slots(options.nMaxConnections, options.nMaxPerAddress, options.strProxyAddress) {}

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
        Accepted(nSocket, szAddress);
    }
    m_slots.WaitUntilNoneTaken();
}

void CRQReceiverServer::Accepted(int nSocket, const std::string& strPeer) {
    timeval sendLimit{kSendTimeLimitSeconds, 0};
    setsockopt(nSocket, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof(sendLimit));
    CRQResponse refusal;
    switch (m_slots.Take(strPeer)) {
        case ERQSlot::ADDRESS_FULL:
            refusal =
                Refusal(429, "too many connections from this address; try again later", kBusyRetrySeconds,
                        "refused: " + std::to_string(m_options.nMaxPerAddress) +
                            " connections from this address already (--connections-per-address)");
            break;
        case ERQSlot::SERVER_FULL:
            refusal = Refusal(503, "busy; try again later", kBusyRetrySeconds,
                              "refused: all " + std::to_string(m_options.nMaxConnections) +
                                  " connections in use (--connections)");
            break;
        case ERQSlot::TAKEN:
            try {
                std::thread(&CRQReceiverServer::Serve, this, nSocket, strPeer).detach();
                return;
            } catch (const std::system_error&) {
                m_slots.Release(strPeer);
                refusal =
                    Refusal(503, "busy; try again later", kBusyRetrySeconds, "refused: no thread to be had");
            }
            break;
    }
    // Logged before answering, so that the line is there once the client has its answer.
    Log(strPeer, "-", refusal, std::string());
    RefuseAtOnce(nSocket, refusal);
}

void CRQReceiverServer::Serve(int nSocket, const std::string& strPeer) {
    Clock::time_point tAccepted = Clock::now();
    Clock::time_point tLast = tAccepted + m_options.uploadLimit;
    std::string strClient = strPeer;
    std::string strRequest = "-";
    std::string strAgent;
    std::string strData;
    size_t nHeadEnd = 0;
    CRQResponse response;
    CRQRequestHead head;
    size_t nBodyBytes = 0;
    bool bHead =
        ReadHead(nSocket, std::min(tAccepted + m_options.headLimit, tLast), strData, nHeadEnd, response);
    if (bHead && !ParseRequestHead(strData.substr(0, nHeadEnd), head)) {
        response = Refusal(400, "malformed request", 0, std::string());
    } else if (bHead) {
        strClient = ClientOf(strPeer, head, m_options.strProxyAddress);
        strRequest = QuotedClientText(head.strMethod + " " + head.strTarget, kLoggedRequestBytes);
        if (head.HasHeader("user-agent")) {
            strAgent = QuotedClientText(head.Header("user-agent"), kLoggedAgentBytes);
        }
        if (m_receiver.AcceptHead(head, strClient, response, nBodyBytes)) {
            std::string strBody = strData.substr(nHeadEnd + 4);
            std::string().swap(strData);
            if (strBody.size() < nBodyBytes && head.Header("expect") == "100-continue") {
                SendContinue(nSocket);
            }
            if (ReadBody(nSocket, nBodyBytes, tLast, strBody, response)) {
                response = m_receiver.TakeBody(head, strBody, strClient);
            }
        }
    }
    // Logged before answering, so that the line is there once the client has its answer.
    Log(strClient, strRequest, response, strAgent);
    SendResponse(nSocket, response);
    CloseGently(nSocket);
    m_slots.Release(strPeer);
}

bool CRQReceiverServer::ReadHead(int nSocket, Clock::time_point tDeadline, std::string& strData,
                                 size_t& nHeadEnd, CRQResponse& refusal) const {
    ERQRead eRead = ERQRead::DATA;
    while ((nHeadEnd = strData.find("\r\n\r\n")) == std::string::npos && strData.size() <= kMaxHeadBytes) {
        if ((eRead = ReadSome(nSocket, strData, tDeadline)) != ERQRead::DATA) {
            refusal = Refusal(408, "the request head did not arrive in time", 0,
                              eRead == ERQRead::TIMED_OUT
                                  ? "request head not complete within " + SecondsText(m_options.headLimit) +
                                        " (--head-seconds)"
                                  : "closed before the request head ended");
            return false;
        }
    }
    if (nHeadEnd == std::string::npos || nHeadEnd > kMaxHeadBytes) {
        refusal = Refusal(431, "request head too large", 0, std::string());
        return false;
    }
    return true;
}

bool CRQReceiverServer::ReadBody(int nSocket, size_t nBodyBytes, Clock::time_point tLast,
                                 std::string& strBody, CRQResponse& refusal) const {
    Clock::time_point tBodyStart = Clock::now();
    ERQRead eRead = ERQRead::DATA;
    while (eRead == ERQRead::DATA && strBody.size() < nBodyBytes) {
        eRead =
            ReadSome(nSocket, strBody, std::min(BodyDeadline(m_options, tBodyStart, strBody.size()), tLast));
    }
    if (strBody.size() < nBodyBytes) {
        std::string strWhy = eRead == ERQRead::CLOSED ? "closed before the upload ended"
                             : Clock::now() >= tLast
                                 ? "longer than " + SecondsText(m_options.uploadLimit) + " (--upload-seconds)"
                                 : "slower than " + std::to_string(m_options.nBodyMinBytesPerSecond) +
                                       " bytes/s (--body-min-rate)";
        refusal = Refusal(408, "the upload did not arrive in time", 0,
                          "upload cut at " + std::to_string(strBody.size()) + " of " +
                              std::to_string(nBodyBytes) + " bytes: " + strWhy);
        return false;
    }
    strBody.resize(nBodyBytes);
    return true;
}

void CRQReceiverServer::Log(const std::string& strClient, const std::string& strRequest,
                            const CRQResponse& response, const std::string& strAgent) {
    int64_t nNow =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::string strNote = response.strLogNote.empty()
                              ? response.strBody.substr(0, response.strBody.find('\n'))
                              : response.strLogNote;
    std::string strLine = FormatUtc(nNow) + " " + EscapeClientText(strClient) + " " + strRequest + " " +
                          std::to_string(response.nStatus) + " " + strNote;
    if (!strAgent.empty()) {
        strLine += " (agent " + strAgent + ")";
    }
    m_log(strLine);
}
