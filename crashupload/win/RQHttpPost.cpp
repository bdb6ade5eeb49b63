#include "crashupload/win/RQHttpPost.h"

// winsock2.h before windows.h, as ws2tcpip.h needs.
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <memory>

#include "baselib/RQBLUtf8.h"
#include "baselib/win/RQBLWinHandle.h"

namespace rqcrash {

namespace {

struct RQSocketTraits {
    using handle_type = SOCKET;
    static SOCKET Empty() { return INVALID_SOCKET; }
    static bool IsValid(SOCKET s) { return s != INVALID_SOCKET; }
    static void Close(SOCKET s) { ::closesocket(s); }
};
using CRQSocket = CRQBLUniqueHandle<RQSocketTraits>;

struct RQSocketEventTraits {
    using handle_type = WSAEVENT;
    static WSAEVENT Empty() { return WSA_INVALID_EVENT; }
    static bool IsValid(WSAEVENT h) { return h != WSA_INVALID_EVENT; }
    static void Close(WSAEVENT h) { ::WSACloseEvent(h); }
};
using CRQSocketEvent = CRQBLUniqueHandle<RQSocketEventTraits>;

struct AddrInfoDeleter {
    void operator()(ADDRINFOW* p) const { FreeAddrInfoW(p); }
};

// The socket library for as long as the object lives.
class CRQWinsock {
public:
    CRQWinsock() {
        WSADATA data{};
        m_bStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~CRQWinsock() {
        if (m_bStarted) {
            WSACleanup();
        }
    }
    CRQWinsock(const CRQWinsock&) = delete;
    CRQWinsock& operator=(const CRQWinsock&) = delete;
    bool Started() const { return m_bStarted; }

private:
    bool m_bStarted = false;
};

// A non-blocking connection whose network events signal one event object.
class CRQConnection {
public:
    CRQConnection(HANDLE hCancel, DWORD dwIdleMs)
        : m_hCancel(hCancel), m_dwIdleMs(dwIdleMs), m_ullDeadline(GetTickCount64() + kUploadTotalMs) {}

    bool Connect(const ADDRINFOW& address) {
        m_socket.Reset(socket(address.ai_family, address.ai_socktype, address.ai_protocol));
        m_event.Reset(WSACreateEvent());
        if (!m_socket || !m_event ||
            WSAEventSelect(m_socket.Get(), m_event.Get(), FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
            return false;
        }
        if (connect(m_socket.Get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
            return true;
        }
        return WSAGetLastError() == WSAEWOULDBLOCK && WaitFor(FD_CONNECT);
    }

    // False when the connection broke or stalled; the peer may have answered early.
    bool SendAll(const char* pData, size_t nSize) {
        size_t nSent = 0;
        while (nSent < nSize) {
            int nChunk = static_cast<int>(std::min<size_t>(nSize - nSent, 1 << 20));
            int n = send(m_socket.Get(), pData + nSent, nChunk, 0);
            if (n > 0) {
                nSent += static_cast<size_t>(n);
            } else if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(FD_WRITE)) {
                return false;
            }
        }
        return true;
    }

    // Reads until the peer closes. False when it stalled or was cancelled.
    bool ReceiveAll(std::string& strData, size_t nMaxBytes) {
        char buffer[16384];
        for (;;) {
            int n = recv(m_socket.Get(), buffer, sizeof(buffer), 0);
            if (n > 0) {
                strData.append(buffer, static_cast<size_t>(n));
                if (strData.size() > nMaxBytes) {
                    return true;  // enough for any answer worth reading
                }
            } else if (n == 0) {
                return true;
            } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
                return !strData.empty();  // reset after the answer
            } else if (!WaitFor(FD_READ | FD_CLOSE)) {
                return false;
            }
        }
    }

private:
    // Waits for one of the network events; false on time-out, cancel or error.
    bool WaitFor(long lEvents) {
        HANDLE ahWait[2] = {m_event.Get(), m_hCancel};
        DWORD dwCount = m_hCancel != nullptr ? 2 : 1;
        for (;;) {
            ULONGLONG ullNow = GetTickCount64();
            DWORD dwLeft = ullNow < m_ullDeadline ? static_cast<DWORD>(m_ullDeadline - ullNow) : 0;
            DWORD dwWait = WaitForMultipleObjects(dwCount, ahWait, FALSE, std::min(m_dwIdleMs, dwLeft));
            if (dwWait != WAIT_OBJECT_0) {
                return false;
            }
            WSANETWORKEVENTS events{};
            if (WSAEnumNetworkEvents(m_socket.Get(), m_event.Get(), &events) != 0) {
                return false;
            }
            if ((events.lNetworkEvents & FD_CONNECT) != 0 && events.iErrorCode[FD_CONNECT_BIT] != 0) {
                return false;
            }
            // A close also ends a wait for writing: the next send reports it.
            if ((events.lNetworkEvents & (lEvents | FD_CLOSE)) != 0) {
                return true;
            }
        }
    }

    HANDLE m_hCancel;
    DWORD m_dwIdleMs;
    ULONGLONG m_ullDeadline;
    CRQSocket m_socket;
    CRQSocketEvent m_event;
};

std::string HostHeader(const CRQCrashServer& server) {
    std::string strHost =
        server.strHost.find(':') != std::string::npos ? "[" + server.strHost + "]" : server.strHost;
    return server.nPort == 80 ? strHost : strHost + ":" + std::to_string(server.nPort);
}

}  // namespace

bool HttpPost(const CRQCrashServer& server, const std::string& strContentType, const std::string& strBody,
              HANDLE hCancel, DWORD dwIdleMs, CRQHttpReply& reply) {
    CRQWinsock winsock;
    if (!winsock.Started()) {
        return false;
    }
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* pFound = nullptr;
    std::wstring strHost = RQBLUtf8ToWide(server.strHost);
    std::wstring strPort = std::to_wstring(server.nPort);
    if (GetAddrInfoW(strHost.c_str(), strPort.c_str(), &hints, &pFound) != 0) {
        return false;
    }
    std::unique_ptr<ADDRINFOW, AddrInfoDeleter> pAddresses(pFound);

    std::string strHead = "POST " + server.strPath + " HTTP/1.1\r\nHost: " + HostHeader(server) +
                          "\r\nUser-Agent: RQ_HTTP\r\nContent-Type: " + strContentType +
                          "\r\nContent-Length: " + std::to_string(strBody.size()) +
                          "\r\nConnection: close\r\n\r\n";
    for (const ADDRINFOW* pAddress = pAddresses.get(); pAddress != nullptr; pAddress = pAddress->ai_next) {
        CRQConnection connection(hCancel, dwIdleMs);
        if (!connection.Connect(*pAddress)) {
            continue;
        }
        // A server that refuses early (too large) answers and closes while the
        // body is still on its way: its answer is read all the same.
        if (connection.SendAll(strHead.data(), strHead.size())) {
            connection.SendAll(strBody.data(), strBody.size());
        }
        std::string strAnswer;
        return connection.ReceiveAll(strAnswer, 64 * 1024) && ParseHttpReply(strAnswer, reply);
    }
    return false;
}

}  // namespace rqcrash
