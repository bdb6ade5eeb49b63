// A loopback TCP proxy for benchmarks: every request waits a fixed time
// before it goes on to the server, as if the server were that far away, and
// one connection can be cut after a given number of answer bytes, as a
// dropped line would. Linux only; started and stopped by the bench scripts.
//   latency_proxy LISTEN_PORT_FILE UPSTREAM_PORT DELAY_MS [CUT_ONCE_AFTER_BYTES]
// Writes the port it listens on (127.0.0.1) into LISTEN_PORT_FILE.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

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

// Client bytes go on after the delay whenever they start a new burst (a new
// request); server bytes go back at once.
void Relay(int client, int nUpstreamPort, int nDelayMs, long long llCutAfter) {
    int server = Connect(nUpstreamPort);
    if (server < 0) {
        close(client);
        return;
    }
    std::vector<char> buf(1 << 20);
    long long llBack = 0;
    const bool bCutting = llCutAfter > 0;
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            break;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(nDelayMs));
            ssize_t n = read(client, buf.data(), buf.size());
            if (n <= 0 || write(server, buf.data(), static_cast<size_t>(n)) != n) {
                break;
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = read(server, buf.data(), buf.size());
            if (n <= 0) {
                break;
            }
            if (bCutting && llBack + n > llCutAfter) {
                n = static_cast<ssize_t>(llCutAfter - llBack);
                if (n > 0 && write(client, buf.data(), static_cast<size_t>(n)) < 0) {
                    break;
                }
                break;  // the line drops
            }
            if (write(client, buf.data(), static_cast<size_t>(n)) != n) {
                break;
            }
            llBack += n;
        }
    }
    close(server);
    close(client);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: latency_proxy PORT_FILE UPSTREAM_PORT DELAY_MS [CUT_ONCE_AFTER_BYTES]\n");
        return 2;
    }
    int nUpstream = std::atoi(argv[2]);
    int nDelayMs = std::atoi(argv[3]);
    long long llCut = argc > 4 ? std::atoll(argv[4]) : 0;
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLen = sizeof(addr);
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0) {
        std::perror("latency_proxy");
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
        // Only the first connection is cut (the launcher's script and its
        // files share it while it stays alive); the next try goes through.
        std::thread(Relay, client, nUpstream, nDelayMs, llCut).detach();
        llCut = 0;
    }
}
