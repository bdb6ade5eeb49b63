// crashreceiver: takes the launcher's crash reports for a support team. See
// README.md ("Crash reports") and --help.
#include <arpa/inet.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "tools/crashreceiver/RQReceiver.h"
#include "tools/crashreceiver/RQReportStore.h"
#include "tools/crashreceiver/RQServerOptions.h"
#include "tools/crashreceiver/RQStoreQuota.h"
#include "tools/crashreceiver/posix/RQReceiverServer.h"

namespace {

constexpr const char* kUsage =
    "usage: crashreceiver [--listen ADDRESS] [--port N] [--store DIR] [--port-file FILE] [limits]\n"
    "Takes crash reports (HTTP POST, multipart/form-data, the minidump in upload_file_minidump)\n"
    "and keeps each in a folder of its own under DIR, named by the report id that it answers.\n"
    "  --listen ADDRESS   IPv4 address to listen on (default 127.0.0.1; 0.0.0.0 for every one)\n"
    "  --port N           port (default 8080; 0 takes a free one)\n"
    "  --store DIR        where reports go (default ./crash-reports)\n"
    "  --port-file FILE   write the port there once listening\n"
    "  --proxy ADDRESS    a reverse proxy there (nginx for TLS) names the player in X-Real-IP\n"
    "Limits (what passes one is refused and nothing stored; 429, 503 and 507 carry Retry-After):\n"
    "  --max-size BYTES   largest upload taken (default 33554432)\n"
    "  --rate N           reports per minute taken from one address (default 6)\n"
    "  --max-store-mib N  the store never grows past N MiB (default 10240)\n"
    "  --min-free-mib N   keep N MiB free on the store's file system (default 1024)\n"
    "  --connections N    connections served at once (default 32)\n"
    "  --connections-per-address N   of those, from one address (default 4)\n"
    "  --head-seconds N   time for a request head to arrive, and for its body to get going (default 10)\n"
    "  --body-min-rate BYTES   slowest average body rate kept after that (default 4096 a second)\n"
    "  --upload-seconds N longest a connection lasts (default 300)\n";

struct Options {
    std::string strListen = "127.0.0.1";
    unsigned long nPort = 8080;
    std::string strStore = "crash-reports";
    CRQReceiverLimits limits;
    CRQStoreLimits storeLimits;
    CRQServerOptions server;
    std::string strPortFile;
};

// A petabyte: far past any disk, and shifting it into bytes cannot overflow.
constexpr unsigned long long kMaxMib = 1ull << 30;

bool ReadNumber(const char* pszText, unsigned long long nMax, unsigned long long& nValue) {
    char* pEnd = nullptr;
    nValue = std::strtoull(pszText, &pEnd, 10);
    return *pszText >= '0' && *pszText <= '9' && *pEnd == '\0' && nValue <= nMax;
}

bool ReadOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string strName = argv[i];
        if (strName == "--help" || i + 1 >= argc) {
            return false;
        }
        const char* pszValue = argv[++i];
        unsigned long long nValue = 0;
        if (strName == "--listen") {
            options.strListen = pszValue;
        } else if (strName == "--port" && ReadNumber(pszValue, 65535, nValue)) {
            options.nPort = static_cast<unsigned long>(nValue);
        } else if (strName == "--store") {
            options.strStore = pszValue;
        } else if (strName == "--max-size" && ReadNumber(pszValue, 1ull << 32, nValue) && nValue > 0) {
            options.limits.nMaxBodyBytes = static_cast<size_t>(nValue);
        } else if (strName == "--rate" && ReadNumber(pszValue, 1000000, nValue) && nValue > 0) {
            options.limits.nReportsPerMinute = static_cast<size_t>(nValue);
        } else if (strName == "--port-file") {
            options.strPortFile = pszValue;
        } else if (strName == "--proxy") {
            options.server.strProxyAddress = pszValue;
        } else if (strName == "--max-store-mib" && ReadNumber(pszValue, kMaxMib, nValue) && nValue > 0) {
            options.storeLimits.nMaxStoreBytes = nValue << 20;
        } else if (strName == "--min-free-mib" && ReadNumber(pszValue, kMaxMib, nValue)) {
            options.storeLimits.nMinFreeBytes = nValue << 20;
        } else if (strName == "--connections" && ReadNumber(pszValue, 1000, nValue) && nValue > 0) {
            options.server.nMaxConnections = static_cast<size_t>(nValue);
        } else if (strName == "--connections-per-address" && ReadNumber(pszValue, 1000, nValue) &&
                   nValue > 0) {
            options.server.nMaxPerAddress = static_cast<size_t>(nValue);
        } else if (strName == "--head-seconds" && ReadNumber(pszValue, 3600, nValue) && nValue > 0) {
            options.server.headLimit = std::chrono::seconds(nValue);
        } else if (strName == "--body-min-rate" && ReadNumber(pszValue, 1ull << 30, nValue) && nValue > 0) {
            options.server.nBodyMinBytesPerSecond = static_cast<size_t>(nValue);
        } else if (strName == "--upload-seconds" && ReadNumber(pszValue, 86400, nValue) && nValue > 0) {
            options.server.uploadLimit = std::chrono::seconds(nValue);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ReadOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!options.server.strProxyAddress.empty()) {
        // In the form the accepted peers are written in, which the server compares with.
        in_addr address{};
        char szAddress[INET_ADDRSTRLEN] = {};
        if (inet_pton(AF_INET, options.server.strProxyAddress.c_str(), &address) != 1 ||
            inet_ntop(AF_INET, &address, szAddress, sizeof(szAddress)) == nullptr) {
            std::fprintf(stderr, "crashreceiver: --proxy takes an IPv4 address\n");
            return 2;
        }
        options.server.strProxyAddress = szAddress;
    }
    CRQReportStore store(options.strStore, options.storeLimits);
    std::string strError;
    if (!store.Open(strError)) {
        std::fprintf(stderr, "crashreceiver: %s\n", strError.c_str());
        return 1;
    }
    // The stop signals are taken by this thread alone, with sigwait, so that
    // no handler has to reach the server.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CRQReceiver receiver(store, options.limits);
    CRQReceiverServer server(receiver, options.server, WriteLogLineToStderr);
    if (!server.Listen(options.strListen, static_cast<uint16_t>(options.nPort), strError)) {
        std::fprintf(stderr, "crashreceiver: %s\n", strError.c_str());
        return 1;
    }
    if (!options.strPortFile.empty()) {
        std::ofstream portFile(options.strPortFile + ".tmp");
        portFile << server.Port() << "\n";
        portFile.close();
        if (!portFile ||
            std::rename((options.strPortFile + ".tmp").c_str(), options.strPortFile.c_str()) != 0) {
            std::fprintf(stderr, "crashreceiver: cannot write %s\n", options.strPortFile.c_str());
            return 1;
        }
    }
    std::fprintf(
        stderr,
        "crashreceiver: listening on %s:%u, storing in %s (at most %llu MiB, keeping %llu MiB free)\n",
        options.strListen.c_str(), static_cast<unsigned>(server.Port()), store.Root().c_str(),
        static_cast<unsigned long long>(options.storeLimits.nMaxStoreBytes >> 20),
        static_cast<unsigned long long>(options.storeLimits.nMinFreeBytes >> 20));

    std::thread serving(&CRQReceiverServer::Run, &server);
    int nSignal = 0;
    sigwait(&stopSignals, &nSignal);
    server.Stop();
    serving.join();
    std::fprintf(stderr, "crashreceiver: stopped\n");
    return 0;
}
