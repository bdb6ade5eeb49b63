// What the launcher runs with, settled once at start-up from its command
// line, the address file LOGIN_ADDRESS.LAD beside it and the build's default,
// then handed down by value: the window gets the whole, the update worker its
// part.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "baselib/RQBLEd25519.h"
#include "baselib/log/RQBLLogSink.h"

// The update worker's settings.
struct RQ_UPDATE_SETTINGS {
    // Base URL of the content server; every download is this followed
    // directly by a relative path, so it is expected to end with "/".
    std::wstring strCdnAddress;
    // Further servers with the same content, tried in turn when a file fails
    // on one.
    std::vector<std::wstring> vecMirrors;
    // Files downloaded at once. Measured with 20 ms to the server and 2000
    // small files: 8 takes two thirds of the time 4 takes; more connections
    // than that to one CDN gain little and look like abuse to some.
    unsigned nParallel = 8;
    // A cap on the bandwidth of all downloads together, in KiB/s; 0 for none.
    uint64_t ullRateLimitKiB = 0;
    // Tries per file; the first pause of a busy server and between tries (it
    // doubles from there); the window in which a transfer must deliver at
    // least 1 KiB.
    unsigned nTries = 10;
    uint32_t dwRetryPauseMs = 1000;
    uint32_t dwStallSeconds = 30;
    // How long a file waits for servers that answer 503 or 429 or refuse
    // the connection, while none of them delivers, before the update fails.
    uint32_t dwBusyPatienceMs = 20 * 60 * 1000;
    // The launcher's own file, relative to the game folder; a script may list
    // it, and it is then replaced in a way a running program allows.
    std::wstring strSelfPath;
    // The keys built into this launcher. With any, the patch script runs only
    // when one of them has signed it; without, unsigned scripts run.
    std::vector<RQ_PUBLIC_KEY> vecTrustedKeys;
    // Every listed file is read and checked by its content, whatever the
    // verification record of earlier runs says.
    bool bRepair = false;
};

struct RQ_LAUNCHER_SETTINGS {
    RQ_UPDATE_SETTINGS update;
    // False when no usable address remains ("NO CDN"): an address needs at
    // least two characters.
    bool HasContentServer() const { return update.strCdnAddress.size() >= 2; }
};

struct RQ_LAUNCHER_INPUTS {
    // The process's arguments as the system splits them, the program first.
    std::vector<std::wstring> vecArgs;
    // The whole command line, for the optional log line that repeats it.
    std::wstring strCommandLine;
    // The address file's text; ignored unless bHasAddressFile.
    bool bHasAddressFile = false;
    std::wstring strAddressFileText;
    // Used when the command line names no server (or too short a one).
    std::wstring strDefaultCdnAddress;
    std::wstring strSelfPath;
    std::vector<RQ_PUBLIC_KEY> vecTrustedKeys;
    // Shift was held down when the launcher started: the player asks for a
    // repair without a command line.
    bool bRepairKeyHeld = false;
};

// In rising order of precedence: the build's default, "_C <URL>" on the
// command line, LOGIN_IP in the address file. A repair is asked for by
// "_REPAIR" on the command line or by Shift held at the start. Logs into log
// what it takes from the address file, and a repair request.
RQ_LAUNCHER_SETTINGS RQResolveLauncherSettings(const RQ_LAUNCHER_INPUTS& inputs, CRQBLLogSink& log);
