// crashreceiver: takes the launcher's crash reports for a support team. See
// README.md ("Crash reports") and --help.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "tools/crashreceiver/RQReceiver.h"
#include "tools/crashreceiver/RQReportStore.h"
#include "tools/crashreceiver/posix/RQReceiverServer.h"

namespace {

constexpr const char* kUsage =
    "usage: crashreceiver [--listen ADDRESS] [--port N] [--store DIR] [--max-size BYTES]\n"
    "                     [--rate N] [--port-file FILE]\n"
    "Takes crash reports (HTTP POST, multipart/form-data, the minidump in upload_file_minidump)\n"
    "and keeps each in a folder of its own under DIR, named by the report id that it answers.\n"
    "  --listen ADDRESS   IPv4 address to listen on (default 127.0.0.1; 0.0.0.0 for every one)\n"
    "  --port N           port (default 8080; 0 takes a free one)\n"
    "  --store DIR        where reports go (default ./crash-reports)\n"
    "  --max-size BYTES   largest upload taken (default 33554432)\n"
    "  --rate N           reports per minute taken from one address (default 6)\n"
    "  --port-file FILE   write the port there once listening\n";

struct Options {
    std::string strListen = "127.0.0.1";
    unsigned long nPort = 8080;
    std::string strStore = "crash-reports";
    CRQReceiverLimits limits;
    std::string strPortFile;
};

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
    CRQReportStore store(options.strStore);
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
    CRQReceiverServer server(receiver);
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
    std::fprintf(stderr, "crashreceiver: listening on %s:%u, storing in %s\n", options.strListen.c_str(),
                 static_cast<unsigned>(server.Port()), store.Root().c_str());

    std::thread serving(&CRQReceiverServer::Run, &server);
    int nSignal = 0;
    sigwait(&stopSignals, &nSignal);
    server.Stop();
    serving.join();
    std::fprintf(stderr, "crashreceiver: stopped\n");
    return 0;
}
