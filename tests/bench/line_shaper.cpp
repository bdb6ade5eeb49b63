// A loopback TCP proxy for benchmarks that makes every answer share one line
// of a given rate, as a player's connection would: all connections together
// get at most RATE bytes a second back from the server (a token bucket with
// a small burst). Linux only; started and stopped by the bench scripts.
//   line_shaper LISTEN_PORT_FILE UPSTREAM_PORT BYTES_PER_SECOND
// Writes the port it listens on (127.0.0.1) into LISTEN_PORT_FILE.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The line: bytes may go when the bucket holds them.
class CLine {
public:
    explicit CLine(double dRate)
        : m_dRate(dRate), m_dBurst(std::max(16384.0, dRate / 50)), m_last(Clock::now()) {}
    // Waits until nBytes may go.
    void Take(size_t nBytes) {
        for (;;) {
            double dWait = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                const Clock::time_point now = Clock::now();
                m_dTokens = std::min(
                    m_dBurst, m_dTokens + m_dRate * std::chrono::duration<double>(now - m_last).count());
                m_last = now;
                if (m_dTokens >= static_cast<double>(nBytes)) {
                    m_dTokens -= static_cast<double>(nBytes);
                    return;
                }
                dWait = (static_cast<double>(nBytes) - m_dTokens) / m_dRate;
            }
            std::this_thread::sleep_for(std::chrono::duration<double>(std::min(dWait, 0.01)));
        }
    }
    size_t Piece() const { return static_cast<size_t>(std::min(m_dBurst, 65536.0)); }

private:
    std::mutex m_mutex;
    const double m_dRate;
    const double m_dBurst;
    double m_dTokens = 0;
    Clock::time_point m_last;
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

bool WriteAll(int s, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(s, p, n);
        if (w <= 0) {
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

void Relay(int client, int nUpstreamPort, CLine* pLine) {
    int server = Connect(nUpstreamPort);
    if (server < 0) {
        close(client);
        return;
    }
    std::vector<char> buf(pLine->Piece());
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            break;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = read(client, buf.data(), buf.size());
            if (n <= 0 || !WriteAll(server, buf.data(), static_cast<size_t>(n))) {
                break;
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = read(server, buf.data(), buf.size());
            if (n <= 0) {
                break;
            }
            pLine->Take(static_cast<size_t>(n));
            if (!WriteAll(client, buf.data(), static_cast<size_t>(n))) {
                break;
            }
        }
    }
    close(server);
    close(client);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: line_shaper PORT_FILE UPSTREAM_PORT BYTES_PER_SECOND\n");
        return 2;
    }
    const int nUpstream = std::atoi(argv[2]);
    const double dRate = std::atof(argv[3]);
    if (dRate <= 0) {
        std::fprintf(stderr, "line_shaper: a rate above 0, please\n");
        return 2;
    }
    static CLine line(dRate);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLen = sizeof(addr);
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0) {
        std::perror("line_shaper");
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
        std::thread(Relay, client, nUpstream, &line).detach();
    }
}
