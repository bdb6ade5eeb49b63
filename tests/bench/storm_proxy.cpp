// A loopback HTTP proxy for the patch-day benchmark: a CDN that sheds load.
// From the first request for a listed file on, for STORM_MS, every file
// request is answered 503 with "Retry-After: RETRY_AFTER" (the patch script
// and its signature go through, so that a launcher that cannot wait still
// reaches its files); after that at most MOST_AT_ONCE requests are served at
// once and every other one is refused with a bare 503, as a server at its
// connection limit does. Counts go to STATS_FILE after every request:
//   storm_requests N   (file requests answered during the storm)
//   served N           (after it, handed to the server)
//   refused N          (after it, refused for the limit)
//   storm_end S.NNN    (when the storm ended, seconds since 1970)
// Linux only; started and stopped (SIGTERM) by scripts/bench-update.sh.
//   storm_proxy PORT_FILE UPSTREAM_PORT STORM_MS RETRY_AFTER MOST_AT_ONCE STATS_FILE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct CStorm {
    std::mutex mutex;
    int nStormMs = 0;
    std::string strRetryAfter;
    int nMostAtOnce = 1;
    std::string strStatsFile;
    bool bStarted = false;
    std::chrono::steady_clock::time_point end;
    double dEndUnix = 0;
    int nUnderWay = 0;
    long nStorm = 0;
    long nServed = 0;
    long nRefused = 0;

    // Under the mutex.
    void WriteStats() {
        const std::string strTemp = strStatsFile + ".new";
        if (FILE* pFile = std::fopen(strTemp.c_str(), "w")) {
            std::fprintf(pFile, "storm_requests %ld\nserved %ld\nrefused %ld\nstorm_end %.3f\n", nStorm,
                         nServed, nRefused, dEndUnix);
            std::fclose(pFile);
            std::rename(strTemp.c_str(), strStatsFile.c_str());
        }
    }
};

int Connect(int nPort) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(s);
        return -1;
    }
    int nOne = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof(nOne));
    return s;
}

bool SendAll(int s, const char* p, size_t n) {
    while (n > 0) {
        ssize_t k = send(s, p, n, MSG_NOSIGNAL);
        if (k <= 0) {
            return false;
        }
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

// Reads until buffer holds a whole head ("\r\n\r\n"); its length, 0 when the
// peer went away first.
size_t ReadHead(int s, std::string& strBuffer) {
    char chunk[65536];
    for (;;) {
        size_t nEnd = strBuffer.find("\r\n\r\n");
        if (nEnd != std::string::npos) {
            return nEnd + 4;
        }
        if (strBuffer.size() > 65536) {
            return 0;
        }
        ssize_t n = recv(s, chunk, sizeof(chunk), 0);
        if (n <= 0) {
            return 0;
        }
        strBuffer.append(chunk, static_cast<size_t>(n));
    }
}

long long ContentLength(const std::string& strHead) {
    for (size_t at = 0; (at = strHead.find("\r\n", at)) != std::string::npos;) {
        at += 2;
        if (strncasecmp(strHead.c_str() + at, "Content-Length:", 15) == 0) {
            return std::atoll(strHead.c_str() + at + 15);
        }
    }
    return 0;
}

// Relays the upstream's answer (head and Content-Length body) to the client.
bool RelayAnswer(int upstream, int client) {
    std::string strBuffer;
    size_t nHead = ReadHead(upstream, strBuffer);
    if (nHead == 0) {
        return false;
    }
    long long llLeft = ContentLength(strBuffer.substr(0, nHead)) + static_cast<long long>(nHead);
    const size_t nFirst = std::min<size_t>(strBuffer.size(), static_cast<size_t>(llLeft));
    if (!SendAll(client, strBuffer.data(), nFirst)) {
        return false;
    }
    llLeft -= static_cast<long long>(nFirst);
    char chunk[1 << 16];
    while (llLeft > 0) {
        ssize_t n = recv(upstream, chunk, static_cast<size_t>(std::min<long long>(llLeft, sizeof(chunk))), 0);
        if (n <= 0 || !SendAll(client, chunk, static_cast<size_t>(n))) {
            return false;
        }
        llLeft -= n;
    }
    return true;
}

bool IsScript(const std::string& strHead) {
    const size_t nSp = strHead.find(' ');
    const std::string strPath = strHead.substr(nSp + 1, strHead.find(' ', nSp + 1) - nSp - 1);
    return strPath.find("PATCHER_CODE.LUA") != std::string::npos;
}

void Serve(CStorm& storm, int client, int nUpstreamPort) {
    int upstream = -1;
    std::string strBuffer;
    for (;;) {
        const size_t nHead = ReadHead(client, strBuffer);
        if (nHead == 0) {
            break;
        }
        const std::string strHead = strBuffer.substr(0, nHead);
        strBuffer.erase(0, nHead);
        enum { PASS, STORM, REFUSE } what = PASS;
        if (!IsScript(strHead)) {
            std::lock_guard<std::mutex> lock(storm.mutex);
            const auto now = std::chrono::steady_clock::now();
            if (!storm.bStarted) {
                storm.bStarted = true;
                storm.end = now + std::chrono::milliseconds(storm.nStormMs);
                storm.dEndUnix =
                    std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                        .count() +
                    storm.nStormMs / 1000.0;
            }
            if (now < storm.end) {
                what = STORM;
                ++storm.nStorm;
            } else if (storm.nUnderWay >= storm.nMostAtOnce) {
                what = REFUSE;
                ++storm.nRefused;
            } else {
                ++storm.nUnderWay;
                ++storm.nServed;
            }
            storm.WriteStats();
        }
        if (what == STORM || what == REFUSE) {
            std::string strAnswer = "HTTP/1.1 503 Service Unavailable\r\n";
            if (what == STORM) {
                strAnswer += "Retry-After: " + storm.strRetryAfter + "\r\n";
            }
            strAnswer += "Content-Length: 0\r\nConnection: keep-alive\r\n\r\n";
            if (!SendAll(client, strAnswer.data(), strAnswer.size())) {
                break;
            }
            continue;
        }
        if (upstream < 0) {
            upstream = Connect(nUpstreamPort);
        }
        const bool bOk = upstream >= 0 && SendAll(upstream, strHead.data(), strHead.size()) &&
                         RelayAnswer(upstream, client);
        if (!IsScript(strHead)) {
            std::lock_guard<std::mutex> lock(storm.mutex);
            --storm.nUnderWay;
        }
        if (!bOk) {
            break;
        }
    }
    if (upstream >= 0) {
        close(upstream);
    }
    close(client);
}

}  // namespace

int main(int argc, char** argv) {
    // Lives as long as the program: the connection threads are never joined.
    static CStorm storm;
    if (argc < 7) {
        std::fprintf(
            stderr,
            "usage: storm_proxy PORT_FILE UPSTREAM_PORT STORM_MS RETRY_AFTER MOST_AT_ONCE STATS_FILE\n");
        return 2;
    }
    const int nUpstream = std::atoi(argv[2]);
    storm.nStormMs = std::atoi(argv[3]);
    storm.strRetryAfter = argv[4];
    storm.nMostAtOnce = std::max(1, std::atoi(argv[5]));
    storm.strStatsFile = argv[6];
    {
        std::lock_guard<std::mutex> lock(storm.mutex);
        storm.WriteStats();
    }
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLen = sizeof(addr);
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0) {
        std::perror("storm_proxy");
        return 1;
    }
    if (FILE* pFile = std::fopen(argv[1], "w")) {
        std::fprintf(pFile, "%d\n", ntohs(addr.sin_port));
        std::fclose(pFile);
    }
    for (;;) {
        int client = accept(listener, nullptr, nullptr);
        if (client < 0) {
            continue;
        }
        int nOne = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof(nOne));
        std::thread(Serve, std::ref(storm), client, nUpstream).detach();
    }
}
